#include "geometry/polygon_mesh.h"

#include <cmath>
#include <random>
#include <vector>

#include "test_support.h"

namespace {

using Points = std::vector<kivPoint>;

kivPoly poly(const std::vector<int>& verts, const std::vector<int>& norms,
             const std::vector<int>& texs) {
    kivPoly p{};
    p.nb_verts = static_cast<int>(verts.size());
    for (int c = 0; c < p.nb_verts; ++c)
        p.verts[c] = verts[c], p.norms[c] = norms[c], p.texs[c] = texs[c];
    return p;
}

// A mesh whose polygons use the same indices for vertices, normals (all +z)
// and texture coordinates.
void fill(kivPolygons& mesh, const Points& verts, const Points& texs,
          const std::vector<std::vector<int>>& polys) {
    const int n = static_cast<int>(verts.size());
    ASSERT_EQ(1, mesh.set_nb_verts(n) & mesh.set_nb_norms(n) & mesh.set_nb_texs(n) &
                     mesh.set_nb_polys(static_cast<int>(polys.size())));
    for (int i = 0; i < n; ++i)
        ASSERT_EQ(1, mesh.set_vert(i, verts[i]) & mesh.set_norm(i, kivVector(0, 0, 1)) &
                         mesh.set_tex(i, texs[i]));
    for (std::size_t i = 0; i < polys.size(); ++i)
        ASSERT_EQ(1, mesh.set_poly(static_cast<int>(i), poly(polys[i], polys[i], polys[i])));
}

// A grid of nx x ny quads over texture space [u0, u1] x [v0, v1], with
// vertex x positions xs (nx + 1 of them) and y = the texture v.
void grid(kivPolygons& mesh, int nx, int ny, float u0, float u1, float v0, float v1,
          const std::vector<float>& xs) {
    Points verts, texs;
    std::vector<std::vector<int>> polys;
    for (int j = 0; j <= ny; ++j) {
        for (int i = 0; i <= nx; ++i) {
            const float u = u0 + (u1 - u0) * i / nx, v = v0 + (v1 - v0) * j / ny;
            verts.emplace_back(xs[i], v, 0.0f);
            texs.emplace_back(u, v, 0.0f);
            const int b = j * (nx + 1) + i;
            if (i < nx && j < ny) polys.push_back({b, b + 1, b + nx + 2, b + nx + 1});
        }
    }
    fill(mesh, verts, texs, polys);
}

const Points kUnitSquare = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};

}  // namespace

// --- Areas ---------------------------------------------------------------------------------

TEST(PolygonArea, MeshAreasSkipPolygonsThatIndexMissingEntriesAndFormulas) {
    kivPolygons quad, tris, broken;
    fill(quad, kUnitSquare, kUnitSquare, {{0, 1, 2, 3}});
    fill(tris, kUnitSquare, kUnitSquare, {{0, 1, 2}, {0, 2, 3}});
    fill(broken, kUnitSquare, kUnitSquare, {{0, 1, 2}, {0, 1, 7}, {0, 1}});
    const std::pair<kivPolygons*, float> cases[] = {{&quad, 1}, {&tris, 1}, {&broken, 0.5f}};
    for (const auto& [mesh, expected] : cases) {
        float area = 0;
        EXPECT_EQ(1, mesh->get_area(area));
        EXPECT_FLOAT_EQ(expected, area);
        EXPECT_FLOAT_EQ(expected, mesh->get_uv_area());
    }
    // The triangle and quad formulas; only x and y count in the texture-space area.
    EXPECT_FLOAT_EQ(3.0f, kivPolygons::get2DTriArea({0, 0, 5}, {2, 0, -1}, {0, 3, 9}));
    EXPECT_FLOAT_EQ(6.0f, kivPolygons::getTriArea({1, 1, 1}, {4, 1, 1}, {1, 1, 5}));
    EXPECT_FLOAT_EQ(0.0f, kivPolygons::getTriArea({0, 0, 0}, {1, 1, 1}, {2, 2, 2}));
    // A non-planar quad is the sum of the triangles (a, b, c) and (a, c, d).
    const kivPoint a(0, 0, 0), b(2, 0, 0), c(2, 2, 1), d(0, 2, 0);
    EXPECT_FLOAT_EQ(kivPolygons::getTriArea(a, b, c) + kivPolygons::getTriArea(a, c, d),
                    kivPolygons::getQuadArea(a, b, c, d));
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> coord(-5, 5);
    for (int i = 0; i < 50; ++i) {
        const kivPoint p(coord(rng), coord(rng), 0), q(coord(rng), coord(rng), 0),
            r(coord(rng), coord(rng), 0);
        // In the plane z = 0 both formulas agree, and the winding never matters.
        const float area = kivPolygons::get2DTriArea(p, q, r);
        EXPECT_NEAR(area, kivPolygons::getTriArea(p, q, r), 1e-4) << i;
        EXPECT_FLOAT_EQ(area, kivPolygons::get2DTriArea(r, q, p)) << i;
    }
}

// --- Setters and polygons ------------------------------------------------------------------

TEST(PolygonMesh, CountSettersAllocateClearedArraysAndRefuseBadIndices) {
    kivPolygons mesh;
    EXPECT_TRUE(mesh.get_prim_visibility() && mesh.get_casts_shadows() && mesh.get_visibility());
    ASSERT_EQ(1, mesh.set_nb_verts(3) & mesh.set_nb_norms(2) & mesh.set_nb_texs(4) &
                     mesh.set_nb_polys(1));
    EXPECT_TRUE(mesh.verts[2].x == 0.0f && mesh.norms[1] == kivVector(0, 0, 0));
    EXPECT_EQ(2, mesh.set_vert(2, kivPoint(1, 2, 3)) + mesh.set_tex(3, kivPoint(1, 1, 0)));
    EXPECT_EQ(0, mesh.set_vert(3, kivPoint(1, 2, 3)) + mesh.set_vert(-1, kivPoint(1, 2, 3)) +
                     mesh.set_norm(2, kivVector(1, 0, 0)) + mesh.set_tex(4, kivPoint(1, 1, 0)) +
                     mesh.set_poly(1, poly({0, 1, 2}, {0, 0, 0}, {0, 1, 2})));
    // A refused size keeps the count and leaves no array.
    EXPECT_EQ(0, mesh.set_nb_verts(-2));
    EXPECT_EQ(0, mesh.set_vert(0, kivPoint()));
    EXPECT_TRUE(mesh.nb_verts == -2 && !mesh.verts);
}

TEST(PolygonMesh, GetPolyReturnsCornersInOrder) {
    kivPolygons mesh;
    fill(mesh, kUnitSquare, {{0, 0, 0}, {0.5f, 0, 0}, {0.5f, 0.5f, 0}, {0, 0.5f, 0}},
         {{3, 2, 1, 0}, {0, 1, 2}});
    mesh.set_norm(2, kivVector(0, 1, 0));
    kivPoint v[4], t[4];
    kivVector n[4];
    int nb = 0;
    ASSERT_EQ(1, mesh.get_poly(0, nb, v, n, t));
    EXPECT_TRUE(nb == 4 && kivVector(v[0]) == kivVector(0, 1, 0) &&
                kivVector(v[3]) == kivVector(0, 0, 0));
    EXPECT_TRUE(n[1] == kivVector(0, 1, 0) && t[2].x == 0.5f);
    // Without normal and texture pointers only the positions are filled.
    kivPoint only[4];
    ASSERT_EQ(1, mesh.get_poly(1, nb, only, nullptr, nullptr));
    EXPECT_TRUE(nb == 3 && kivVector(only[2]) == kivVector(1, 1, 0));
    EXPECT_EQ(0, mesh.get_poly(2, nb, v, n, t) + mesh.get_poly(-1, nb, v, n, t));
    // A polygon that points past the arrays is refused, not read.
    ASSERT_EQ(1, mesh.set_poly(1, poly({0, 1, 2}, {0, 0, 9}, {0, 1, 2})));
    EXPECT_EQ(0, mesh.get_poly(1, nb, v, n, t));
    EXPECT_EQ(1, mesh.get_poly(1, nb, v, nullptr, t));
    kivPoly five = poly({0, 1, 2}, {0, 0, 0}, {0, 0, 0});
    five.nb_verts = 5;
    ASSERT_EQ(1, mesh.set_poly(1, five));
    EXPECT_EQ(0, mesh.get_poly(1, nb, v, nullptr, nullptr));
}

// Assignment shares the arrays; a setter or the end of one mesh leaves the
// shared arrays alive for the other (the sanitizer build checks the reads).
TEST(PolygonMesh, AssignmentSharesArraysThatOutliveEitherMesh) {
    kivPolygons b;
    {
        kivPolygons a;
        a.set_nb_verts(2), a.set_nb_norms(1), a.set_nb_texs(2), a.set_nb_polys(1);
        a.set_vert(1, {1, 2, 3});
        a.set_poly(0, poly({0, 1, 1}, {0, 0, 0}, {0, 1, 1}));
        a.set_casts_shadows(false);
        a.set_ref_equal_map(std::string(300, 'x').c_str());
        b = a;
        EXPECT_TRUE(a.verts == b.verts && a.polys == b.polys && !b.get_casts_shadows());
        EXPECT_EQ(std::string(259, 'x'), b.get_ref_equal_map()) << "cut to fit";
        ASSERT_EQ(1, a.set_nb_verts(5) + a.set_nb_polys(0) - 1);
        EXPECT_NE(a.verts, b.verts);
        EXPECT_EQ(kivVector(1, 2, 3), kivVector(b.verts[1])) << "b keeps the array a replaced";
        EXPECT_EQ(kivVector(), kivVector(a.verts[1]));
    }
    int nb = 0;
    kivPoint v[4];
    EXPECT_EQ(1, b.get_poly(0, nb, v, nullptr, nullptr)) << "b outlives a";
    EXPECT_EQ(3, nb);
    EXPECT_EQ(kivVector(1, 2, 3), kivVector(v[1]));
}

// --- Transformation ------------------------------------------------------------------------

TEST(PolygonXform, NonUniformScaleKeepsNormalsPerpendicular) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> coord(-3, 3), scale(0.3f, 4);
    for (int i = 0; i < 20; ++i) {
        const kivPoint a(coord(rng), coord(rng), coord(rng)), b(coord(rng), coord(rng), coord(rng)),
            c(coord(rng), coord(rng), coord(rng));
        kivVector normal = kivVector(a, b) ^ kivVector(a, c);
        normal.norm();
        kivPolygons mesh;
        fill(mesh, {a, b, c}, {{0.1f, 0.2f, 0}, {0.3f, 0.4f, 0}, {0.5f, 0.6f, 0}}, {{0, 1, 2}});
        for (int k = 0; k < 3; ++k) mesh.set_norm(k, normal);
        // A non-uniform scale, a shear and a translation.
        const kivMatrix m(scale(rng), 0, 0, 0, 0.5f, scale(rng), 0, 0, 0, 0, scale(rng), 0,
                          coord(rng), coord(rng), coord(rng), 1);
        mesh.xform(m);
        const kivVector e1(mesh.verts[0], mesh.verts[1]), e2(mesh.verts[0], mesh.verts[2]),
            n = mesh.norms[0];
        const float tol = 1e-4f * std::sqrt(e1.sqrd_length() * n.sqrd_length()) + 1e-5f;
        EXPECT_NEAR(0.0f, n * e1, tol) << i;
        EXPECT_NEAR(0.0f, n * e2, tol) << i;
        EXPECT_GT(n * (e1 ^ e2), 0.0f) << i;                       // still on the same side
        EXPECT_GT(std::fabs(n.sqrd_length() - 1.0f), 1e-3f) << i;  // not renormalised
        expect_near(mesh.verts[0], a * m, 1e-5f * (1 + kivVector(a * m).length()));
        EXPECT_EQ(0.3f, mesh.texs[1].x) << i;
    }
    // A singular matrix leaves the normals alone.
    kivPolygons flat;
    fill(flat, kUnitSquare, kUnitSquare, {{0, 1, 2}});
    flat.xform(kivMatrix(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1));
    EXPECT_EQ(kivVector(0, 0, 1), flat.norms[0]);
}

// --- Area map ------------------------------------------------------------------------------

TEST(PolygonAreaMap, CoveredPixelsOfAUniformMeshAre255) {
    // {grid u0, u1, v0, v1, map width, height}, then the covered pixel ranges.
    struct Case {
        float u0, u1, v0, v1;
        int w, h, x0, x1, y0, y1;
    };
    const Case cases[] = {
        // Texture [0.25, 0.75]^2 in an 8 x 8 map covers pixels 2 ... 5 each way.
        {0.25f, 0.75f, 0.25f, 0.75f, 8, 8, 2, 5, 2, 5},
        // u and v end at 0.8125: pixel 6's centre (6.5) lies on the edge. A
        // span leaves out a centre on its right end; a scanline on the
        // bottom edge is still drawn.
        {0, 0.8125f, 0, 0.8125f, 8, 8, 0, 5, 0, 6},
        // Texture outside the map is clipped.
        {-0.5f, 1.5f, 0.5f, 2.0f, 6, 4, 0, 5, 2, 3},
    };
    for (const Case& c : cases) {
        kivPolygons mesh;
        grid(mesh, 3, 2, c.u0, c.u1, c.v0, c.v1, {0, 2, 4, 6});
        std::vector<int> map(c.w * c.h, -1);
        ASSERT_EQ(1, mesh.fill_area_map(c.w, c.h, c.h, map.data()));
        for (int p = 0; p < c.w * c.h; ++p) {
            const int px = p % c.w, py = p / c.w;
            const bool inside = px >= c.x0 && px <= c.x1 && py >= c.y0 && py <= c.y1;
            EXPECT_EQ(inside ? 255 : 0, map[p]) << c.u1 << ": " << px << "," << py;
        }
    }
}

TEST(PolygonAreaMap, LevelsFollowTheAreaPerTexturePixel) {
    // Four columns of equal texture width whose surfaces double each time:
    // area ratios 4, 8, 16, 32; vertex columns average their neighbours to
    // 4, 6, 12, 24, 32, i.e. 1/8, 3/16, 3/8, 3/4 and 1 of the largest.
    kivPolygons mesh;
    grid(mesh, 4, 1, 0, 1, 0, 1, {0, 1, 3, 7, 15});
    const int w = 16, h = 4;
    std::vector<int> map(w * h, -1);
    ASSERT_EQ(1, mesh.fill_area_map(w, h, h, map.data()));
    const double column[5] = {0.125, 0.1875, 0.375, 0.75, 1.0};
    for (int p = 0; p < w * h; ++p) {
        const double u = (p % w + 0.5) / w * 4;
        const int q = static_cast<int>(u);
        EXPECT_NEAR(area_map_level(column[q] + (column[q + 1] - column[q]) * (u - q)), map[p], 1)
            << p;
        EXPECT_GE(map[p], p % w ? map[p - 1] : 0) << p;
    }
    EXPECT_TRUE(map[0] == 44 && map[w - 1] == 247);
    // The level formula: trunc(243 x + 0.5) + 12, clamped to [12, 255].
    const std::pair<double, int> levels[] = {{0.0, 12},  {1.0, 255}, {0.5, 134},
                                             {2.0, 255}, {-1.0, 12}, {std::nan(""), 12}};
    for (const auto& [x, level] : levels) EXPECT_EQ(level, area_map_level(x)) << x;
}

// --- Output --------------------------------------------------------------------------------

TEST(PolygonOutput, WriteObjAndDumpGroupsAndFaceTriples) {
    kivPolygons mesh;
    const Points corners = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0.5f}};
    fill(mesh, corners, corners, {{0, 1, 2}});
    mesh.set_nb_norms(1), mesh.set_norm(0, kivVector(0, 0, 1));
    mesh.set_poly(0, poly({0, 1, 2}, {0, 0, 0}, {2, 1, 0}));
    const std::string groups =
        "v 0.000000 0.000000 0.000000\nv 1.000000 0.000000 0.000000\n"
        "v 0.000000 1.000000 0.500000\n\nvn 0.000000 0.000000 1.000000\n\n"
        "vt 0.000000 0.000000\nvt 1.000000 0.000000\nvt 0.000000 1.000000\n\n"
        "f 1/3/1 2/2/1 3/1/1 \n";
    EXPECT_EQ(groups, file_text([&](FILE* f) { mesh.write_obj(f); }));
    EXPECT_EQ("\n" + groups + "}\n", captured([&] { mesh.dump(); }));
    // An empty mesh writes only the separators.
    const kivPolygons empty;
    EXPECT_EQ("\n\n\n", file_text([&](FILE* f) { empty.write_obj(f); }));
    EXPECT_EQ("\n\n\n\n}\n", captured([&] { empty.dump(); }));
}
