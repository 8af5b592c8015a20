#include "geometry/polygon_mesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

kivPoly Poly(std::initializer_list<int> verts, std::initializer_list<int> norms,
             std::initializer_list<int> texs) {
    kivPoly p{};
    p.nb_verts = static_cast<int>(verts.size());
    int c = 0;
    for (int v : verts) p.verts[c++] = v;
    c = 0;
    for (int n : norms) p.norms[c++] = n;
    c = 0;
    for (int t : texs) p.texs[c++] = t;
    return p;
}

// A mesh whose polygons use the same indices for vertices, normals and
// texture coordinates.
void Fill(kivPolygons& mesh, const std::vector<kivPoint>& verts, const std::vector<kivPoint>& texs,
          const std::vector<std::vector<int>>& polys) {
    const int n = static_cast<int>(verts.size());
    ASSERT_EQ(mesh.set_nb_verts(n), 1);
    ASSERT_EQ(mesh.set_nb_norms(n), 1);
    ASSERT_EQ(mesh.set_nb_texs(n), 1);
    ASSERT_EQ(mesh.set_nb_polys(static_cast<int>(polys.size())), 1);
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(mesh.set_vert(i, verts[i]), 1);
        ASSERT_EQ(mesh.set_norm(i, kivVector(0, 0, 1)), 1);
        ASSERT_EQ(mesh.set_tex(i, texs[i]), 1);
    }
    for (std::size_t i = 0; i < polys.size(); ++i) {
        kivPoly p{};
        p.nb_verts = static_cast<int>(polys[i].size());
        for (int c = 0; c < p.nb_verts; ++c) p.verts[c] = p.norms[c] = p.texs[c] = polys[i][c];
        ASSERT_EQ(mesh.set_poly(static_cast<int>(i), p), 1);
    }
}

// A grid of nx x ny quads over texture space [u0, u1] x [v0, v1], with
// vertex x positions xs (nx + 1 of them) and y = the texture v.
void Grid(kivPolygons& mesh, int nx, int ny, float u0, float u1, float v0, float v1,
          const std::vector<float>& xs) {
    std::vector<kivPoint> verts, texs;
    for (int j = 0; j <= ny; ++j) {
        for (int i = 0; i <= nx; ++i) {
            const float u = u0 + (u1 - u0) * i / nx, v = v0 + (v1 - v0) * j / ny;
            verts.emplace_back(xs[i], v, 0.0f);
            texs.emplace_back(u, v, 0.0f);
        }
    }
    std::vector<std::vector<int>> polys;
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            const int b = j * (nx + 1) + i;
            polys.push_back({b, b + 1, b + nx + 2, b + nx + 1});
        }
    }
    Fill(mesh, verts, texs, polys);
}

std::string ReadFile(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return "";
    std::string text;
    char buffer[512];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    std::fclose(f);
    return text;
}

}  // namespace

// --- Areas ---------------------------------------------------------------------------------

TEST(PolygonArea, UnitSquareAsQuadOrTwoTriangles) {
    const std::vector<kivPoint> corners = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    kivPolygons quad, tris;
    Fill(quad, corners, corners, {{0, 1, 2, 3}});
    Fill(tris, corners, corners, {{0, 1, 2}, {0, 2, 3}});
    float a = 0, b = 0;
    EXPECT_EQ(quad.get_area(a), 1);
    EXPECT_EQ(tris.get_area(b), 1);
    EXPECT_FLOAT_EQ(a, 1.0f);
    EXPECT_FLOAT_EQ(b, 1.0f);
    EXPECT_FLOAT_EQ(quad.get_uv_area(), 1.0f);
    EXPECT_FLOAT_EQ(tris.get_uv_area(), 1.0f);
}

TEST(PolygonArea, TriangleAndQuadFormulas) {
    EXPECT_FLOAT_EQ(kivPolygons::get2DTriArea({0, 0, 0}, {1, 0, 0}, {0, 1, 0}), 0.5f);
    EXPECT_FLOAT_EQ(kivPolygons::get2DTriArea({0, 0, 0}, {0, 1, 0}, {1, 0, 0}), 0.5f);
    // Only x and y count in the texture-space area.
    EXPECT_FLOAT_EQ(kivPolygons::get2DTriArea({0, 0, 5}, {2, 0, -1}, {0, 3, 9}), 3.0f);
    EXPECT_FLOAT_EQ(kivPolygons::getTriArea({1, 1, 1}, {4, 1, 1}, {1, 1, 5}), 6.0f);
    EXPECT_FLOAT_EQ(kivPolygons::getTriArea({0, 0, 0}, {1, 1, 1}, {2, 2, 2}), 0.0f);
    // A non-planar quad is the sum of the triangles (a, b, c) and (a, c, d).
    const kivPoint a(0, 0, 0), b(2, 0, 0), c(2, 2, 1), d(0, 2, 0);
    EXPECT_FLOAT_EQ(kivPolygons::getQuadArea(a, b, c, d),
                    kivPolygons::getTriArea(a, b, c) + kivPolygons::getTriArea(a, c, d));
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> coord(-5, 5);
    for (int i = 0; i < 50; ++i) {
        const kivPoint p(coord(rng), coord(rng), 0), q(coord(rng), coord(rng), 0),
            r(coord(rng), coord(rng), 0);
        // In the plane z = 0 both formulas agree, and the winding never matters.
        EXPECT_NEAR(kivPolygons::getTriArea(p, q, r), kivPolygons::get2DTriArea(p, q, r), 1e-4)
            << i;
        EXPECT_FLOAT_EQ(kivPolygons::get2DTriArea(p, q, r), kivPolygons::get2DTriArea(r, q, p))
            << i;
    }
}

TEST(PolygonArea, SkipsPolygonsThatIndexMissingEntries) {
    kivPolygons mesh;
    Fill(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
         {{0, 1, 2}, {0, 1, 7}, {0, 1}});
    float area = 0;
    mesh.get_area(area);
    EXPECT_FLOAT_EQ(area, 0.5f);
    EXPECT_FLOAT_EQ(mesh.get_uv_area(), 0.5f);
}

// --- Setters and polygons ------------------------------------------------------------------

TEST(PolygonMesh, CountSettersAllocateClearedArrays) {
    kivPolygons mesh;
    EXPECT_EQ(mesh.nb_verts, 0);
    EXPECT_EQ(mesh.verts, nullptr);
    EXPECT_TRUE(mesh.get_prim_visibility());
    EXPECT_TRUE(mesh.get_casts_shadows());
    EXPECT_TRUE(mesh.get_visibility());
    ASSERT_EQ(mesh.set_nb_verts(3), 1);
    ASSERT_EQ(mesh.set_nb_norms(2), 1);
    ASSERT_EQ(mesh.set_nb_texs(4), 1);
    ASSERT_EQ(mesh.set_nb_polys(1), 1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(mesh.verts[i].x, 0.0f);
    for (int i = 0; i < 2; ++i) EXPECT_EQ(mesh.norms[i], kivVector(0, 0, 0));
    EXPECT_EQ(mesh.set_vert(2, kivPoint(1, 2, 3)), 1);
    EXPECT_EQ(mesh.set_vert(3, kivPoint(1, 2, 3)), 0);
    EXPECT_EQ(mesh.set_vert(-1, kivPoint(1, 2, 3)), 0);
    EXPECT_EQ(mesh.set_norm(2, kivVector(1, 0, 0)), 0);
    EXPECT_EQ(mesh.set_tex(3, kivPoint(1, 1, 0)), 1);
    EXPECT_EQ(mesh.set_tex(4, kivPoint(1, 1, 0)), 0);
    EXPECT_EQ(mesh.set_poly(1, Poly({0, 1, 2}, {0, 0, 0}, {0, 1, 2})), 0);
    // A refused size keeps the count and leaves no array.
    EXPECT_EQ(mesh.set_nb_verts(-2), 0);
    EXPECT_EQ(mesh.nb_verts, -2);
    EXPECT_EQ(mesh.verts, nullptr);
    EXPECT_EQ(mesh.set_vert(0, kivPoint()), 0);
}

TEST(PolygonMesh, GetPolyReturnsCornersInOrder) {
    kivPolygons mesh;
    Fill(mesh, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}},
         {{0, 0, 0}, {0.5f, 0, 0}, {0.5f, 0.5f, 0}, {0, 0.5f, 0}}, {{3, 2, 1, 0}, {0, 1, 2}});
    mesh.set_norm(2, kivVector(0, 1, 0));
    kivPoint v[4], t[4];
    kivVector n[4];
    int nb = 0;
    ASSERT_EQ(mesh.get_poly(0, nb, v, n, t), 1);
    EXPECT_EQ(nb, 4);
    EXPECT_EQ(v[0].y, 1.0f);
    EXPECT_EQ(v[0].x, 0.0f);
    EXPECT_EQ(v[3].x, 0.0f);
    EXPECT_EQ(v[3].y, 0.0f);
    EXPECT_EQ(n[1], kivVector(0, 1, 0));
    EXPECT_EQ(t[2].x, 0.5f);
    // Without normal and texture pointers only the positions are filled.
    kivPoint only[4];
    ASSERT_EQ(mesh.get_poly(1, nb, only, nullptr, nullptr), 1);
    EXPECT_EQ(nb, 3);
    EXPECT_EQ(only[2].x, 1.0f);
    EXPECT_EQ(only[2].y, 1.0f);
    EXPECT_EQ(mesh.get_poly(2, nb, v, n, t), 0);
    EXPECT_EQ(mesh.get_poly(-1, nb, v, n, t), 0);
    // A polygon that points past the arrays is refused, not read.
    ASSERT_EQ(mesh.set_poly(1, Poly({0, 1, 2}, {0, 0, 9}, {0, 1, 2})), 1);
    EXPECT_EQ(mesh.get_poly(1, nb, v, n, t), 0);
    EXPECT_EQ(mesh.get_poly(1, nb, v, nullptr, t), 1);
    kivPoly five = Poly({0, 1, 2}, {0, 0, 0}, {0, 0, 0});
    five.nb_verts = 5;
    ASSERT_EQ(mesh.set_poly(1, five), 1);
    EXPECT_EQ(mesh.get_poly(1, nb, v, nullptr, nullptr), 0);
}

TEST(PolygonMesh, AssignmentSharesArrays) {
    kivPolygons a;
    a.set_nb_verts(2);
    a.set_casts_shadows(false);
    a.set_ref_equal_map(std::string(300, 'x').c_str());
    kivPolygons b;
    b = a;
    EXPECT_EQ(b.verts, a.verts);
    EXPECT_FALSE(b.get_casts_shadows());
    EXPECT_EQ(std::string(b.get_ref_equal_map()), std::string(259, 'x'));  // cut to fit
    b.verts = nullptr;  // only one of the two may free the shared array
}

// --- Transformation ------------------------------------------------------------------------

TEST(PolygonXform, NonUniformScaleKeepsNormalsPerpendicular) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> coord(-3, 3);
    std::uniform_real_distribution<float> scale(0.3f, 4);
    for (int i = 0; i < 20; ++i) {
        const kivPoint a(coord(rng), coord(rng), coord(rng)), b(coord(rng), coord(rng), coord(rng)),
            c(coord(rng), coord(rng), coord(rng));
        kivVector normal = kivVector(a, b) ^ kivVector(a, c);
        normal.norm();
        kivPolygons mesh;
        Fill(mesh, {a, b, c}, {{0.1f, 0.2f, 0}, {0.3f, 0.4f, 0}, {0.5f, 0.6f, 0}}, {{0, 1, 2}});
        for (int k = 0; k < 3; ++k) mesh.set_norm(k, normal);
        // A non-uniform scale, a shear and a translation.
        kivMatrix m(scale(rng), 0, 0, 0, 0.5f, scale(rng), 0, 0, 0, 0, scale(rng), 0, coord(rng),
                    coord(rng), coord(rng), 1);
        mesh.xform(m);
        const kivVector e1(mesh.verts[0], mesh.verts[1]), e2(mesh.verts[0], mesh.verts[2]);
        const kivVector n = mesh.norms[0];
        const float tol = 1e-4f * std::sqrt(e1.sqrd_length() * n.sqrd_length()) + 1e-5f;
        EXPECT_NEAR(n * e1, 0.0f, tol) << i;
        EXPECT_NEAR(n * e2, 0.0f, tol) << i;
        EXPECT_GT(n * (e1 ^ e2), 0.0f) << i;                       // still on the same side
        EXPECT_GT(std::fabs(n.sqrd_length() - 1.0f), 1e-3f) << i;  // not renormalised
        const kivPoint moved = a * m;
        EXPECT_FLOAT_EQ(mesh.verts[0].x, moved.x) << i;
        EXPECT_FLOAT_EQ(mesh.verts[0].z, moved.z) << i;
        EXPECT_EQ(mesh.texs[1].x, 0.3f) << i;
    }
}

TEST(PolygonXform, SingularMatrixLeavesNormalsAlone) {
    kivPolygons mesh;
    Fill(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2}});
    kivMatrix flatten(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1);
    mesh.xform(flatten);
    EXPECT_EQ(mesh.norms[0], kivVector(0, 0, 1));
}

// --- Area map ------------------------------------------------------------------------------

TEST(PolygonAreaMap, UniformMeshFillsCoveredPixelsWith255) {
    // Texture [0.25, 0.75]^2 in an 8 x 8 map covers pixels 2 ... 5 each way.
    kivPolygons mesh;
    Grid(mesh, 3, 2, 0.25f, 0.75f, 0.25f, 0.75f, {0, 2, 4, 6});
    std::vector<int> map(64, -1);
    ASSERT_EQ(mesh.fill_area_map(8, 8, 8, map.data()), 1);
    for (int py = 0; py < 8; ++py) {
        for (int px = 0; px < 8; ++px) {
            const bool inside = px >= 2 && px <= 5 && py >= 2 && py <= 5;
            EXPECT_EQ(map[8 * py + px], inside ? 255 : 0) << px << "," << py;
        }
    }
}

TEST(PolygonAreaMap, PixelCentresOnTheRightEdgeAreLeftOut) {
    // u and v end at 0.8125: pixel 6's centre (6.5) lies on the edge. A
    // span leaves out a centre on its right end; a scanline on the bottom
    // edge is still drawn.
    kivPolygons mesh;
    Grid(mesh, 1, 1, 0.0f, 0.8125f, 0.0f, 0.8125f, {0, 1});
    std::vector<int> map(64, -1);
    mesh.fill_area_map(8, 8, 8, map.data());
    for (int px = 0; px < 8; ++px) EXPECT_EQ(map[px], px <= 5 ? 255 : 0) << px;
    for (int py = 0; py < 8; ++py) EXPECT_EQ(map[8 * py], py <= 6 ? 255 : 0) << py;
}

TEST(PolygonAreaMap, TextureOutsideTheMapIsClipped) {
    kivPolygons mesh;
    Grid(mesh, 1, 1, -0.5f, 1.5f, 0.5f, 2.0f, {0, 1});
    std::vector<int> map(6 * 4, -1);
    mesh.fill_area_map(6, 4, 4, map.data());
    for (int py = 0; py < 4; ++py) {
        for (int px = 0; px < 6; ++px) EXPECT_EQ(map[6 * py + px], py >= 2 ? 255 : 0);
    }
}

TEST(PolygonAreaMap, LevelsFollowTheAreaPerTexturePixel) {
    // Four columns of equal texture width whose surfaces double each time:
    // area ratios 4, 8, 16, 32; vertex columns average their neighbours to
    // 4, 6, 12, 24, 32, i.e. 1/8, 3/16, 3/8, 3/4 and 1 of the largest.
    kivPolygons mesh;
    Grid(mesh, 4, 1, 0, 1, 0, 1, {0, 1, 3, 7, 15});
    const int w = 16, h = 4;
    std::vector<int> map(w * h, -1);
    ASSERT_EQ(mesh.fill_area_map(w, h, h, map.data()), 1);
    const double column[5] = {0.125, 0.1875, 0.375, 0.75, 1.0};
    for (int py = 0; py < h; ++py) {
        for (int px = 0; px < w; ++px) {
            const double u = (px + 0.5) / w * 4;
            const int q = static_cast<int>(u);
            const double x = column[q] + (column[q + 1] - column[q]) * (u - q);
            EXPECT_NEAR(map[w * py + px], area_map_level(x), 1) << px << "," << py;
            if (px > 0) {
                EXPECT_GE(map[w * py + px], map[w * py + px - 1]);
            }
        }
    }
    EXPECT_EQ(map[0], 44);
    EXPECT_EQ(map[w - 1], 247);
}

TEST(PolygonAreaMap, LevelFormula) {
    EXPECT_EQ(area_map_level(0.0), 12);
    EXPECT_EQ(area_map_level(1.0), 255);
    EXPECT_EQ(area_map_level(0.5), 134);  // trunc(122) + 12
    EXPECT_EQ(area_map_level(2.0), 255);
    EXPECT_EQ(area_map_level(-1.0), 12);
    EXPECT_EQ(area_map_level(std::nan("")), 12);
}

// --- Output --------------------------------------------------------------------------------

TEST(PolygonOutput, WriteObjGroupsAndFaceTriples) {
    kivPolygons mesh;
    mesh.set_nb_verts(3);
    mesh.set_nb_norms(1);
    mesh.set_nb_texs(3);
    mesh.set_nb_polys(1);
    mesh.set_vert(0, kivPoint(0, 0, 0));
    mesh.set_vert(1, kivPoint(1, 0, 0));
    mesh.set_vert(2, kivPoint(0, 1, 0.5f));
    mesh.set_norm(0, kivVector(0, 0, 1));
    mesh.set_tex(0, kivPoint(0, 0, 0));
    mesh.set_tex(1, kivPoint(1, 0, 0));
    mesh.set_tex(2, kivPoint(0, 1, 0));
    mesh.set_poly(0, Poly({0, 1, 2}, {0, 0, 0}, {2, 1, 0}));
    const std::string path = testing::TempDir() + "PolygonOutput_WriteObj.obj";
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    mesh.write_obj(f);
    std::fclose(f);
    const std::string groups =
        "v 0.000000 0.000000 0.000000\nv 1.000000 0.000000 0.000000\n"
        "v 0.000000 1.000000 0.500000\n";
    EXPECT_EQ(ReadFile(path), groups +
                                  "\nvn 0.000000 0.000000 1.000000\n\n"
                                  "vt 0.000000 0.000000\nvt 1.000000 0.000000\n"
                                  "vt 0.000000 1.000000\n\n"
                                  "f 1/3/1 2/2/1 3/1/1 \n");
    std::remove(path.c_str());

    testing::internal::CaptureStdout();
    mesh.dump();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\n" + groups +
                  "\nvn 0.000000 0.000000 1.000000\n"
                  "\nvt 0.000000 0.000000\nvt 1.000000 0.000000\nvt 0.000000 1.000000\n"
                  "\nf 1/3/1 2/2/1 3/1/1 \n}\n");
}

TEST(PolygonOutput, EmptyMeshWritesOnlySeparators) {
    kivPolygons mesh;
    const std::string path = testing::TempDir() + "PolygonOutput_Empty.obj";
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    mesh.write_obj(f);
    std::fclose(f);
    EXPECT_EQ(ReadFile(path), "\n\n\n");
    std::remove(path.c_str());
    testing::internal::CaptureStdout();
    mesh.dump();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n\n\n\n}\n");
}
