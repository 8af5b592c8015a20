#include "geometry/polygon_mesh.h"

#include <cmath>
#include <random>
#include <vector>

#include "geometry_support.h"
#include "host/korvo_quaternion.h"
#include "test_support.h"

namespace {

using Points = std::vector<kivPoint>;

kivPoly poly(const std::vector<int>& v, const std::vector<int>& n, const std::vector<int>& t) {
    kivPoly p{};
    p.nb_verts = int(v.size());
    for (int c = 0; c < p.nb_verts; ++c) p.verts[c] = v[c], p.norms[c] = n[c], p.texs[c] = t[c];
    return p;
}

// Polygons using the same indices for vertices, normals (all +z) and texture coordinates.
void fill(kivPolygons& mesh, const Points& verts, const Points& texs,
          const std::vector<std::vector<int>>& polys) {
    const int n = int(verts.size());
    ASSERT_EQ(1, mesh.set_nb_verts(n) & mesh.set_nb_norms(n) & mesh.set_nb_texs(n) &
                     mesh.set_nb_polys(int(polys.size())));
    for (int i = 0; i < n; ++i)
        mesh.set_vert(i, verts[i]), mesh.set_norm(i, {0, 0, 1}), mesh.set_tex(i, texs[i]);
    for (std::size_t i = 0; i < polys.size(); ++i)
        mesh.set_poly(int(i), poly(polys[i], polys[i], polys[i]));
}

// nx x ny quads over texture [u0, u1] x [v0, v1]; vertex x positions xs, y = v.
void grid(kivPolygons& mesh, int nx, int ny, float u0, float u1, float v0, float v1,
          const std::vector<float>& xs) {
    Points verts, texs;
    std::vector<std::vector<int>> polys;
    for (int j = 0; j <= ny; ++j)
        for (int i = 0; i <= nx; ++i) {
            const float u = u0 + (u1 - u0) * i / nx, v = v0 + (v1 - v0) * j / ny;
            verts.emplace_back(xs[i], v, 0.0f), texs.emplace_back(u, v, 0.0f);
            const int b = j * (nx + 1) + i;
            if (i < nx && j < ny) polys.push_back({b, b + 1, b + nx + 2, b + nx + 1});
        }
    fill(mesh, verts, texs, polys);
}

const Points kSquare = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};

}  // namespace

// Polygons that index missing entries or have too few corners count for
// nothing; triangle areas against a double-precision cross product.
TEST(PolygonArea, MeshAndTriangleAreas) {
    const std::vector<std::vector<int>> meshes[3] = {
        {{0, 1, 2, 3}}, {{0, 1, 2}, {0, 2, 3}}, {{0, 1, 2}, {0, 1, 7}, {0, 1}}};
    for (int k = 0; k < 3; ++k) {
        kivPolygons mesh;
        fill(mesh, kSquare, kSquare, meshes[k]);
        float area = 0;
        EXPECT_EQ(1, mesh.get_area(area));
        EXPECT_TRUE(area == (k == 2 ? 0.5f : 1) && mesh.get_uv_area() == area) << k;
    }
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> c(-5, 5);
    for (int i = 0; i < 50; ++i) {
        const kivPoint p(c(rng), c(rng), c(rng)), q(c(rng), c(rng), c(rng)),
            r(c(rng), c(rng), c(rng)), s(c(rng), c(rng), c(rng));
        const KorvoPoint P(p.x, p.y, p.z);  // the cross product in double precision
        const KorvoVector cross = (KorvoPoint(q.x, q.y, q.z) - P) ^ (KorvoPoint(r.x, r.y, r.z) - P);
        const double area = cross.length() / 2;
        EXPECT_NEAR(area, kivPolygons::getTriArea(p, q, r), 1e-4 * (1 + area)) << i;
        EXPECT_NEAR(std::fabs(cross.z) / 2, kivPolygons::get2DTriArea(r, q, p), 1e-4) << i;
        EXPECT_FLOAT_EQ(kivPolygons::getTriArea(p, q, r) + kivPolygons::getTriArea(p, r, s),
                        kivPolygons::getQuadArea(p, q, r, s));
    }
}

// Corners in polygon order; null pointers skip normals and coordinates; a
// polygon indexing past an array (by one), or with five corners, is refused.
TEST(PolygonMesh, GetPolyReturnsCornersOrRefuses) {
    kivPolygons mesh;
    fill(mesh, kSquare, {{0, 0, 0}, {0.5f, 0, 0}, {0.5f, 0.5f, 0}, {0, 0.5f, 0}},
         {{3, 2, 1, 0}, {0, 1, 2}});
    mesh.set_norm(2, {0, 1, 0});
    EXPECT_EQ(0, mesh.set_vert(4, kivPoint()) + mesh.set_vert(-1, kivPoint()) +
                     mesh.set_norm(4, kivVector()) + mesh.set_tex(4, kivPoint()) +
                     mesh.set_poly(2, kivPoly{}));
    kivPoint v[4], t[4];
    kivVector n[4];
    int nb = 0;
    ASSERT_EQ(1, mesh.get_poly(0, nb, v, n, t));
    EXPECT_TRUE(nb == 4 && v[0].y == 1 && v[0].x == 0 && v[3].x == 0 &&
                n[1] == kivVector(0, 1, 0) && t[2].x == 0.5f);
    EXPECT_EQ(0, mesh.get_poly(2, nb, v, n, t) + mesh.get_poly(-1, nb, v, n, t));
    mesh.set_poly(1, poly({0, 1, 2}, {0, 0, 4}, {0, 1, 2}));
    EXPECT_EQ(1, mesh.get_poly(1, nb, v, nullptr, t) - mesh.get_poly(1, nb, v, n, t));
    mesh.polys[1].nb_verts = 5;
    EXPECT_EQ(0, mesh.get_poly(1, nb, v, nullptr, nullptr));
}

// Uniform meshes cover their pixels with 255: texture [0.25, 0.75]^2 in an
// 8 x 8 map covers pixels 2 ... 5; ending at 0.8125 puts pixel 6's centre on
// the edge (left out at a span's right end, drawn on the bottom scanline);
// texture outside the map is clipped. Four columns of equal texture width
// whose surfaces double (ratios 4 ... 32) average per vertex column to 1/8,
// 3/16, 3/8, 3/4 and 1 of the largest, interpolated between.
TEST(PolygonAreaMap, LevelsFollowTheAreaPerTexturePixel) {
    const double column[5] = {0.125, 0.1875, 0.375, 0.75, 1.0};
    const struct {
        int nx, ny;
        float u0, u1, v0, v1;
        std::vector<float> xs;
        int w, h, x0, x1, y0, y1;
    } cases[] = {{3, 2, 0.25f, 0.75f, 0.25f, 0.75f, {0, 2, 4, 6}, 8, 8, 2, 5, 2, 5},
                 {3, 2, 0, 0.8125f, 0, 0.8125f, {0, 2, 4, 6}, 8, 8, 0, 5, 0, 6},
                 {3, 2, -0.5f, 1.5f, 0.5f, 2.0f, {0, 2, 4, 6}, 6, 4, 0, 5, 2, 3},
                 {4, 1, 0, 1, 0, 1, {0, 1, 3, 7, 15}, 16, 4, 0, 15, 0, 3}};
    for (const auto& c : cases) {
        kivPolygons mesh;
        grid(mesh, c.nx, c.ny, c.u0, c.u1, c.v0, c.v1, c.xs);
        std::vector<int> map(c.w * c.h, -1);
        ASSERT_EQ(1, mesh.fill_area_map(c.w, c.h, c.h, map.data()));
        for (int p = 0; p < c.w * c.h; ++p) {
            const int px = p % c.w, py = p / c.w, q = px * 4 / c.w;
            const double u = (px + 0.5) / c.w * 4;
            const int in = px >= c.x0 && px <= c.x1 && py >= c.y0 && py <= c.y1 ? 255 : 0;
            const double ramp = column[q] + (column[q + 1] - column[q]) * (u - q);
            EXPECT_NEAR(c.nx == 3 ? in : area_map_level(ramp), map[p], c.nx == 3 ? 0 : 1)
                << c.u1 << ": " << px << "," << py;
        }
        EXPECT_TRUE(c.nx != 4 || (map[0] == 44 && map[c.w - 1] == 247));
    }
    const double x[6] = {0.0, 1.0, 0.5, 2.0, -1.0, std::nan("")};
    const int level[6] = {12, 255, 134, 255, 12, 12};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(level[i], area_map_level(x[i])) << x[i];
}

TEST(PolygonOutput, WriteObjAndDumpGroupsAndFaceTriples) {
    kivPolygons mesh;
    const Points corners = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0.5f}};
    fill(mesh, corners, corners, {{0, 1, 2}});
    mesh.set_nb_norms(1), mesh.set_norm(0, {0, 0, 1});
    mesh.set_poly(0, poly({0, 1, 2}, {0, 0, 0}, {2, 1, 0}));
    // The exact groups of a written mesh, texture indices in the face's own order.
    const std::string groups = Expected("triangle.obj");
    EXPECT_EQ(groups + "|\n" + groups + "}\n", file_text([&](FILE* f) { mesh.write_obj(f); }) +
                                                   "|" + captured([&] { mesh.dump(); }));
    const kivPolygons empty;
    EXPECT_EQ("\n\n\n|\n\n\n\n}\n", file_text([&](FILE* f) { empty.write_obj(f); }) + "|" +
                                        captured([&] { empty.dump(); }));
}
