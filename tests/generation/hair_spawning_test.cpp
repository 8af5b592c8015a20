#include "generation/hair_spawning.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <tuple>
#include <vector>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "generation/curve_export.h"
#include "generation/hair_shaping.h"
#include "generation/motion_spawning.h"
#include "generation/spawn_support.h"
#include "geometry/model_database.h"
#include "host/random48.h"
#include "render/camera.h"
#include "test_support.h"

namespace {

// Every hair handed to the sink (or, for the motion walk, both hairs of a pair).
struct Hair {
    std::vector<kivPoint> points;
    hair_state state;
};
std::vector<Hair> g_hairs;
void Record(hair_camera*, control_hair* h, hair_state* s) {
    g_hairs.push_back({std::vector<kivPoint>(h->points, h->points + h->count), *s});
}
hair_camera* g_close_camera = nullptr;
void RecordPair(hair_camera* cam, hair_camera* cam1, control_hair* h0, control_hair* h1,
                hair_state* s) {
    g_close_camera = cam1;
    Record(cam, h0, s), Record(cam, h1, s);
}

// How many numbers the generator has given since it was last seeded with 0.
long DrawsSinceSeed0() {
    const double next = korvo_host::drand48();
    korvo_host::srand48(0);
    for (long i = 0; i < 20000000; ++i)
        if (korvo_host::drand48() == next) return i;
    return -1;
}

// The lines of a file; Lines(Data(name)) those of an expected file.
std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}
std::string Data(const char* name) {
    return std::string(KORVO_TEST_DATA "/generation/") + name;
}

using Rect = std::array<float, 4>;  // u0, v0, u1, v1

// Eight models in each list, description "fur" (upright) and hairs to Record.
class Spawning : public testing::Test {
  protected:
    void SetUp() override {
        opt_flags = 0;
        ASSERT_TRUE(names_init(64) == 1 && assdb_init(16) == 1 && mdldb_init(8, 0) == 1 &&
                    mdldb_init(8, 1) == 1 && hair_shape_prepare(8));
        previous_ = mdldb_set_hair_sink(Record);
        g_hairs.clear();
        hp_ = hair_params_list_add(names_add("fur"));
        hp_->erectness = hp_scalar(0.0f);
    }
    void TearDown() override {
        mdldb_set_hair_sink(previous_);
        hair_params_set_wunits(1.0f);
        assdb_done();
        hair_params_list_clear();
        mdldb_cleanup();
        hair_shape_release();
        names_done();
    }
    static hair_model* Model(int type, const char* name, int which = 0) {
        hair_model* m = mdldb_get_new(which);
        mdldb_set_type(m, type, name);
        if (which == 0) assdb_assign_hair("fur", m->name);
        return m;
    }
    // Quads (or their lower-left triangles) in z = 0 facing +z; corner c of
    // a rectangle lies at c + offset and has the texture coordinates c x uv_scale + uv_offset.
    static hair_model* Mesh(const char* name, std::vector<Rect> rects, int corners = 4,
                            int which = 0, kivPoint offset = {}, float uv_scale = 1,
                            kivPoint uv_offset = {}) {
        hair_model* m = Model(MODEL_POLY, name, which);
        kivPolygons* p = m->polygons();
        const int n = int(rects.size());
        p->set_nb_verts(4 * n), p->set_nb_texs(4 * n), p->set_nb_polys(n);
        p->set_nb_norms(1), p->set_norm(0, {0, 0, 1});
        for (int k = 0, b = 0; k < n; ++k, b += 4) {
            for (int i = 0; i < 4; ++i) {
                const kivPoint c(rects[k][i == 1 || i == 2 ? 2 : 0], rects[k][i < 2 ? 1 : 3], 0);
                p->set_vert(b + i, c + offset), p->set_tex(b + i, c * uv_scale + uv_offset);
            }
            const int last = corners == 3 ? 0 : b + 3, third = corners == 3 ? b + 3 : b + 2;
            p->set_poly(k,
                        {corners, {b, b + 1, third, last}, {0, 0, 0, 0}, {b, b + 1, third, last}});
        }
        return m;
    }
    // The unit square of z = 0 as a bilinear surface over the knot domain [lo, lo + 3].
    static hair_model* Plane(const char* name, float lo = 0) {
        hair_model* m = Model(MODEL_NURB, name);
        kivNurbSurface* s = m->nurbs();
        s->set_nb_verts(4, 4), s->set_order(2, 2), s->alloc_lists();
        const float k[6] = {lo, lo, lo + 1, lo + 2, lo + 3, lo + 3};
        s->set_uknots(6, k), s->set_vknots(6, k);
        for (int i = 0; i < 16; ++i)
            s->set_vert(i, kivPoint4((i % 4) / 3.0f, (i / 4) / 3.0f, 0, 1));
        return m;
    }
    static hair_model* Points(const char* name, int n) {
        hair_model* m = Model(MODEL_DPNT, name);
        m->datapoints()->alloc(n);
        for (int i = 0; i < n; ++i)
            m->datapoints()->set_point(i, {float(i), 0, 0}, {0, 0, 1}, {0, 1, 0});
        return m;
    }
    // Curly, clumped hair with noisy lengths (some negative: their normals
    // flip) on a mesh, a plane and points, in tiles (models keep their
    // geometry after their hair). False when the noise cannot be set.
    bool CurlyScene() {
        hp_->scraggle = hp_scalar(0.5f), hp_->curl_tip = hp_scalar(0.8f);
        hp_->clump = hp_scalar(0.3f), hp_->clumpfrequency = hp_scalar(50.0f);
        hp_->usamples = hp_->vsamples = hp_scalar(6.0f);
        hp_->density = hp_scalar(200.0f), hp_->segments = hp_scalar(4.0f);
        if (!hp_->length.set_noise(7.0f, -0.5f, 1.0f)) return false;
        Mesh("p", {{0, 0, 0.5f, 1}, {0.5f, 0, 1, 1}}), Plane("n"), Points("d", 2);
        defs.tiles[0] = 2;
        return true;
    }
    // Runs the rendering worker on m; the printed text goes to out.
    static int Run(hair_model* m, std::string* out = nullptr) {
        int n = 0, r = 0;
        hair_params** list = nullptr;
        assdb_get_model_hair(m->name, &n, &list);
        const std::string text = captured([&] { r = mdldb_hair_model(m, nullptr, n, list); });
        if (out) *out = text;
        return r;
    }
    // The root export of m (and m2) as lines of text, the count in roots.
    std::vector<std::string> Export(hair_model* m, hair_model* m2, int* roots = nullptr) {
        const std::string path = temp_path(".txt");
        int r = 0;
        const std::string text = captured([&] {
            r = m ? mdldb_kestrel_model(path.c_str(), m, m2, 1, &hp_)
                  : mdldb_kestrel(path.c_str(), 1);
        });
        EXPECT_EQ(text.find("1 assignments created " + std::to_string(r) + " hairs for "), 0u);
        const std::vector<std::string> lines = Lines(path);
        std::remove(path.c_str());
        if (roots) *roots = r;
        return lines;
    }

    hair_params* hp_ = nullptr;
    SettingsGuard settings_;

  private:
    mdldb_hair_sink previous_ = nullptr;
};

// Density 0 prints the model's line and grows nothing; an equalizer of 0
// gives up on a polygon face after count rejections (one number for its
// count, six per draw), on a NURBS or data-point face after 2 count + 1
// zero draws. Density 60 grows upright hairs, v along y; every point of a
// data-point model draws the same numbers.
TEST_F(Spawning, EveryKindGrowsItsHairsFromItsSurface) {
    const std::tuple<hair_model*, const char*, long> cases[] = {
        {Mesh("p", {{0, 0, 1, 1}}), "1 assignments created 0 hairs from polygons p (0, 0)\n", 31},
        {Plane("n"), "1 assignments created 0 hairs from nurb n\n", 66},
        {Points("d", 2),
         "model (d) type not implemented!, skipping...\n"
         "1 assignments created 0 hairs from datapoints d\n",
         66},
    };
    for (const auto& [model, text, draws] : cases) {
        hp_->density = hp_scalar(0.0f);
        std::string out;
        EXPECT_EQ(Run(model, &out), 0);
        EXPECT_EQ(out, text);
        hp_->density = hp_scalar(5.0f), hp_->equalizer = hp_scalar(0.0f);
        EXPECT_EQ(Run(model), 0);
        EXPECT_EQ(DrawsSinceSeed0(), draws);
        hp_->equalizer.reset(), hp_->density = hp_scalar(60.0f), g_hairs.clear();
        const int n = Run(model, &out);
        ASSERT_EQ(g_hairs.size(), std::size_t(n));
        for (const Hair& h : g_hairs) {
            const kivPoint& p = h.points[0];
            EXPECT_TRUE(p.z == 0 && p.x >= 0 && p.x <= 1 && p.y >= 0 && p.y <= 1 &&
                        std::fabs(h.points[1].z - 1) < 1e-5f &&
                        std::fabs(h.state.dir.y - 1) < 1e-5f);
        }
    }
    ASSERT_EQ(g_hairs.size(), 120u);
    for (int j = 0; j < 60; ++j)  // the second point of d draws what the first did
        EXPECT_TRUE(g_hairs[60 + j].points[0].x == 1 &&
                    g_hairs[j].state.rand[3] == g_hairs[60 + j].state.rand[3]);
}

// The density is per model: divided by the mesh's texture area however
// its coordinates are scaled or moved, and truncated on a NURBS surface
// whatever its size. The root export asks for density hairs per unit of
// texture area instead.
TEST_F(Spawning, HairCountsFollowDensityAndSpreadEvenly) {
    std::mt19937 rng(5);
    std::vector<float> edges{0.0f};
    std::vector<Rect> strips;
    for (int i = 0; i < 30; ++i)
        edges.push_back(edges.back() + 0.2f + std::uniform_real_distribution<float>()(rng));
    for (int i = 0; i < 30; ++i)
        strips.push_back({edges[i] / edges[30], 0, edges[i + 1] / edges[30], 1});
    const std::pair<float, kivPoint> uvs[] = {{1, {}}, {2, {-0.5f, 3, 0}}, {3, {4, -1, 0}}};
    for (const auto& [scale, offset] : uvs) {
        hp_->density = hp_scalar(1500.0f), g_hairs.clear();
        std::string out;
        const std::string name = "p" + std::to_string(int(scale));
        const int total = Run(Mesh(name.c_str(), strips, 4, 0, {}, scale, offset), &out);
        EXPECT_NEAR(total, 1500, 20) << scale;
        EXPECT_NE(out.find("from polygons " + name + " (0, 30)"), std::string::npos);
        std::vector<int> per(30, 0);
        for (const Hair& h : g_hairs)
            ++per[std::upper_bound(edges.begin(), edges.end(), h.points[0].x * edges[30]) -
                  edges.begin() - 1];
        for (int i = 0; i < 30; ++i)
            EXPECT_NEAR(per[i], total * (edges[i + 1] - edges[i]) / edges[30], 3) << i;
        int roots = 0;
        hp_->density = hp_scalar(100.0f);
        Export(mdldb_get_model(names_find(name.c_str()), 0), nullptr, &roots);
        EXPECT_NEAR(roots, 100 * scale * scale, 5 + 5 * scale) << scale;
    }
    hp_->density = hp_scalar(700.7f);
    hair_model* big = Plane("n");
    big->nurbs()->xform(kivMatrix(5, 0, 0, 0, 0, 5, 0, 0, 0, 0, 5, 0, 0, 0, 0, 1));
    EXPECT_EQ(Run(big), 700);
    hp_->baldness = hp_scalar(0.3f);  // a hair stays when its draw is below the baldness
    EXPECT_NEAR(Run(big), 210, 40);
}

// Two tilings of the same frame give the same hairs; one tile releases the
// geometry. The motion walk grows each hair twice from the same draws: with
// the close model moved by T each close hair is its open hair moved by T
// (clumps included), one hair number per pair, no "totals:" line; the walk
// pairs models by name. Every hair handed on takes one hair number.
TEST_F(Spawning, FrameAndMotionWalksAreReproducible) {
    hp_->scraggle = hp_scalar(0.5f), hp_->curl_tip = hp_scalar(0.8f), hp_->clump = hp_scalar(0.3f);
    hp_->clumpfrequency = hp_scalar(50.0f), hp_->usamples = hp_->vsamples = hp_scalar(6.0f);
    hp_->density = hp_scalar(300.0f), hp_->segments = hp_scalar(4.0f);
    const std::vector<Rect> rects = {{0, 0, 0.5f, 1}, {0.5f, 0, 1, 1}};
    const kivPoint T(2.0f, -1.0f, 0.5f);
    Mesh("p", rects), Mesh("p", rects, 4, 1, T);
    hair_camera cam0, cam1;
    const mdldb_motion_hair_sink previous = mdldb_set_motion_hair_sink(RecordPair);
    int count = 0, id = defs.hair_id;
    defs.tiles[0] = 2;  // the geometry stays for the frame walk
    const std::string out = captured([&] { count = mdldb_motion_blur_hair(&cam0, &cam1); });
    const std::string n = std::to_string(count);
    EXPECT_EQ(out, "1 assignments created " + n + " hairs from polygons p (0, 2)\n--- rendered " +
                       n + " total hairs\n");
    EXPECT_TRUE(g_close_camera == &cam1 && defs.hair_id - id == count && count > 50);
    ASSERT_EQ(g_hairs.size(), 2u * count);
    for (int i = 0; i < count; ++i) {
        const Hair &h0 = g_hairs[2 * i], &h1 = g_hairs[2 * i + 1];
        for (int k = 0; k < 5; ++k)
            expect_near(h1.points[k], h0.points[k] + T, 2e-5f, std::to_string(i));
        expect_near(h1.state.pos_mb, h0.state.pos + T, 2e-5f);
    }
    mdldb_set_motion_hair_sink(previous);
    // The frame walk, with a surface, an empty model and a sparser mesh.
    hp_->equalizer = hp_scalar(0.8f), hp_->baldness = hp_scalar(0.9f);
    Plane("n"), mdldb_set_type(mdldb_get_new(0), MODEL_NULL, "bare");
    opt_flags = 3;
    std::vector<kivPoint> runs[2];
    for (int tiles : {2, 1}) {
        defs.tiles[0] = tiles, g_hairs.clear(), id = defs.hair_id;
        const std::string text = captured([&] { count = mdldb_hair(cam0); });
        EXPECT_NE(text.find("INFO: model bare has no hair.\n--- rendered " + std::to_string(count) +
                            " total hairs\n"),
                  std::string::npos);
        EXPECT_EQ(defs.hair_id - id, count);
        for (const Hair& h : g_hairs)
            runs[tiles - 1].insert(runs[tiles - 1].end(), h.points.begin(), h.points.end());
    }
    EXPECT_EQ(mdldb_get_index(0, 0)->type, MODEL_NULL);
    ASSERT_TRUE(runs[0].size() == runs[1].size() && !runs[0].empty());
    for (std::size_t i = 0; i < runs[0].size(); ++i)
        ASSERT_EQ(kivVector(runs[0][i]), kivVector(runs[1][i])) << i;
}

// One line per root, "%f %f %f " position, "%f %f %f " normal and
// "%f %f %f\n" motion; a spawned root writes its point k, the step into it
// and its motion. A face's lines depend on nothing but that face.
TEST_F(Spawning, ExportWritesEachRootAsOneFormattedLine) {
    hp_->density = hp_scalar(8.0f);
    const std::vector<Rect> faces{{0, 0, 0.5f, 1}, {0.5f, 0, 1, 1}};
    hair_model* a = Mesh("a", faces);
    Mesh("a", faces, 4, 1, {1, 2, 3});
    int roots = 0;
    const std::vector<std::string> moving = Export(nullptr, nullptr, &roots);
    EXPECT_TRUE(int(moving.size()) == roots && roots >= 6);
    EXPECT_EQ(moving, Lines(Data("roots_moving.txt")));
    // The second face's lines beside a short and a tall first face are the same.
    const std::vector<std::string> runs[2] = {
        Export(a, nullptr), Export(Mesh("b", {{0, 0, 0.5f, 3}, faces[1]}), nullptr)};
    std::vector<std::string> second[2];
    for (int k = 0; k < 2; ++k)
        for (const std::string& l : runs[k])
            if (std::stof(l) > 0.5f) second[k].push_back(l);
    EXPECT_TRUE(runs[1].size() > runs[0].size() && second[0] == second[1]);
    // Spawned hairs: a child sprouts at point k = spawn segment of its parent
    // (at least 1, at most segments), the step into it as its normal; the
    // export writes point 2 of the parent hair (upright, length 1).
    hair_params* kid = hair_params_list_add(names_add("kid"));
    hp_->spawn_params = names_add("kid");
    hp_->spawn_factor = hp_scalar(1.0f), hp_->segments = hp_scalar(4.0f);
    for (const auto& c : {std::pair<float, int>{0.0f, 1}, {2.5f, 2}, {50.0f, 4}, {2.0f, 2}}) {
        hp_->spawn_segment = hp_scalar(c.first), g_hairs.clear();
        std::string out;
        const int n = Run(a, &out);
        EXPECT_NE(out.find(std::to_string(n) + " number of hairs spawned\n"), std::string::npos);
        ASSERT_TRUE(g_hairs.size() == 2u * n && n > 0);
        for (int i = 0; i < 2 * n; i += 2) {
            const kivPoint* parent = g_hairs[i].points.data();
            const hair_state& child = g_hairs[i + 1].state;
            EXPECT_EQ(child.params, kid);
            EXPECT_EQ(child.pos.z, parent[c.second].z) << c.first;
            EXPECT_EQ(child.normal, kivVector(parent[c.second - 1], parent[c.second]));
        }
    }
    const std::vector<std::string> spawned = Export(a, mdldb_get_model(a->name, 1), &roots);
    EXPECT_EQ(int(spawned.size()), 2 * roots);
    EXPECT_EQ(spawned, Lines(Data("roots_spawned.txt")));
}

// Independent frames on random corners: a triangle whose texture is an affine
// map of its surface grows along the surface's derivative in v (the second
// direction along u); a quad along its edges weighted by how far their unit
// texture vectors run along v, modelled here in double precision.
TEST(HairPoly, TriangleAndQuadFramesMatchTheirModels) {
    std::mt19937 rng(21);
    std::uniform_real_distribution<double> c(-2, 2), r(0, 1);
    const auto vec = [&](float z) {
        return kivVector(float(c(rng)), float(c(rng)), z * float(c(rng)));
    };
    for (int trial = 0; trial < 40; ++trial) {
        hair_poly p;
        const bool tri = trial % 2 == 0;
        p.nb_points = tri ? 3 : 4;
        const kivVector O = vec(1), A = vec(1), B = vec(1), uv0 = vec(0), ua = vec(0), ub = vec(0);
        if (std::fabs(ua.x * ub.y - ua.y * ub.x) < 0.3) continue;  // keep the texture well shaped
        const kivVector uvs[4] = {uv0, uv0 + ua, uv0 + ua + ub + kivVector(0.2f, 0, 0), uv0 + ub};
        for (int i = 0; i < p.nb_points; ++i) {  // P(u, v) = O + u A + v B
            p.uvs[i] = kivPoint(uvs[i == 2 && tri ? 3 : i]);
            p.points[i] = kivPoint(O + A * p.uvs[i].x + B * p.uvs[i].y), p.normals[i] = vec(1);
        }
        quad_vdir(&p);
        const double s = r(rng), t = r(rng);
        kivVector f[4];
        ASSERT_EQ(1, p.calc_posnrmdir(s, t, f));
        // Corner weights: folded barycentric or bilinear.
        const double b1 = s + t > 1 ? 1 - s : s, b2 = s + t > 1 ? 1 - t : t;
        const double w[4] = {tri ? 1 - b1 - b2 : (1 - s) * (1 - t), tri ? b1 : s * (1 - t),
                             tri ? b2 : s * t, tri ? 0 : (1 - s) * t};
        kivVector pos, n, dir = B, dir2 = A;
        for (int i = 0; i < p.nb_points; ++i)
            pos = pos + kivVector(p.points[i]) * float(w[i]), n = n + p.normals[i] * float(w[i]);
        if (!tri) {  // edges (0 1), (3 2), (1 2), (0 3) by |v| of their unit texture vectors
            const int from[4] = {0, 3, 1, 0}, to[4] = {1, 2, 2, 3};
            const double along[4] = {1 - t, t, s, 1 - s};
            dir = kivVector();
            for (int e = 0; e < 4; ++e) {
                const kivPoint &a = p.uvs[from[e]], &b = p.uvs[to[e]];
                const double v = std::fabs(b.y - a.y) / std::hypot(b.x - a.x, b.y - a.y);
                dir = dir + kivVector(p.points[from[e]], p.points[to[e]]) * float(along[e] * v);
            }
            dir2 = dir;
        }
        n.norm(), dir.norm(), dir2.norm();
        const kivVector want[4] = {pos, n, dir, dir2};
        for (int k = 0; k < 4; ++k) expect_near(f[k], want[k], 1e-4f, std::to_string(trial));
    }
    hair_poly d;  // a diamond's texture edges cancel along v: hairs point to its centre
    d.nb_points = 4;
    const kivPoint diamond[4] = {{0, 0, 0}, {1, 1, 0}, {2, 0, 0}, {1, -1, 0}};
    std::copy(diamond, diamond + 4, d.points), std::copy(diamond, diamond + 4, d.uvs);
    std::fill(d.normals, d.normals + 4, kivVector(0, 0, 1));
    kivVector f[4];
    EXPECT_EQ("In special case\n", captured([&] { quad_vdir(&d), d.calc_posnrmdir(0.0, 0.0, f); }));
    EXPECT_EQ(f[2], kivVector(1, 0, 0));
}

}  // namespace

// With clumpfrequency 100 every draw (r1, r2, r3, the grid's one number per
// polygon on the first, then r4, r5, r6) grows a centre from grid node
// i = floor((span u + lo) / span (nu - 1)), j likewise, when that node lies in
// a face: on a triangle moved off its texture (range 0 ... 3), and on a surface
// whose knots start at 1 (nodes past the grid give nothing). A grid above
// 2^20 nodes is refused.
TEST_F(Spawning, ClumpCentresLandOnTheirGridNodes) {
    hp_->clump = hp_scalar(0.5f), hp_->clumpfrequency = hp_scalar(100.0f);
    hp_->usamples = hp_->vsamples = hp_scalar(5.0f), hp_->offset = hp_scalar(0.25f);
    const kivPoint shift(3, -2, 1);
    hair_model* mesh = Mesh("p", {{0, 0, 1, 1}}, 3, 0, shift);
    hair_state hs;
    hair_poly poly;
    for (hair_model* m : {mesh, Plane("n", 1.0f)}) {
        std::vector<clump_centre> centres;
        spawn_detail::build_clump_centres(m, hp_, hs, poly, centres);
        korvo_host::srand48(0);
        std::size_t k = 0;
        for (int draw = 0; draw < 25; ++draw) {
            const double r1 = korvo_host::drand48(), r2 = korvo_host::drand48();
            for (int i = 0; i < (draw == 0 && m == mesh ? 5 : 4); ++i) korvo_host::drand48();
            const double lo = m == mesh ? 0 : 1;
            const int i = int(std::floor((3 * r1 + lo) / 3 * 4)),
                      j = int(std::floor((3 * r2 + lo) / 3 * 4));
            if (i > 4 || j > 4 || (m == mesh && i + j > 4)) continue;
            ASSERT_LT(k, centres.size()) << draw;
            const kivPoint node(i / 4.0f, j / 4.0f, 0.25f);
            expect_near(centres[k].root, m == mesh ? node + shift : node, 1e-5f,
                        std::to_string(draw));
            expect_near(centres[k++].direction, kivVector(0, 0, 1), 1e-6f);
        }
        EXPECT_EQ(k, centres.size());
    }
    hp_->usamples = hp_scalar(2048.0f), hp_->vsamples = hp_scalar(1024.0f);
    std::vector<clump_centre> none;
    EXPECT_EQ("ERROR: clump sample grid 2048 x 1024 too large for p\n",
              captured([&] { spawn_detail::build_clump_centres(mesh, hp_, hs, poly, none); }));
    EXPECT_TRUE(none.empty());
}

// The polygon message counts quads and other faces in the first pass of the
// first assignment only: a first assignment that places nothing leaves them 0.
TEST_F(Spawning, FaceCountsComeFromTheFirstAssignmentOnly) {
    hair_model* m = Mesh("p", {{0, 0, 0.5f, 1}, {0.5f, 0, 1, 1}});
    hair_params* second = hair_params_list_add(names_add("second"));
    second->density = hp_->density = hp_scalar(10.0f), second->erectness = hp_scalar(0.0f);
    assdb_assign_hair("second", m->name);
    int counts[2], n = 0;
    hair_params** list = nullptr;
    assdb_get_model_hair(m->name, &n, &list);
    for (int k = 0; k < 2; ++k) {  // the first assignment placing hairs, then none
        std::string out;
        counts[k] = Run(m, &out);
        EXPECT_EQ(0u, out.find("2 assignments created " + std::to_string(counts[k]) +
                               " hairs from polygons p (0, " + (k ? "0" : "2") + ")\n"))
            << out;
        list[0]->set_visibility(false);
    }
    EXPECT_TRUE(counts[1] > 0 && counts[1] < counts[0]);
}

// Curve files recorded while rendering hold the drawn hairs placed by the
// description's matrix, widths in world units, one "l" line per hair (kept
// exactly in tests/data/generation). The standalone export draws nothing and
// writes the same file. Other names are refused.
TEST_F(Spawning, CurveFilesHoldTheDrawnHairsInWorldSpace) {
    hp_->density = hp_scalar(12.0f), hp_->segments = hp_scalar(3.0f);
    hp_->width_base = hp_scalar(0.02f), hp_->diffuse_tip = hp_color(kivColor(0.1f, 0.2f, 0.8f, 1));
    hp_->matrix = kivMatrix(0, 2, 0, 0, -1, 0, 0.5f, 0, 0, 0, 3, 0, 3, -2, 5, 1);
    Mesh("skin", {{0, 0, 1, 1}});
    defs.tiles[0] = 2;  // the geometry stays for the next walk
    hair_params_set_wunits(2.5f);
    hair_camera cam;
    const char* names[2] = {"hairs.usda", "hairs.obj"};
    for (int k = 0; k < 3; ++k) {  // recording .usda and .obj, then the standalone .usda
        const std::string path = temp_path(names[k % 2] + 5);
        curve_writer w;
        g_hairs.clear();
        captured([&] {
            if (k == 2) return void(mdldb_export_curves(path.c_str(), cam));
            ASSERT_EQ(w.open(path.c_str()), 1);
            curve_recording recording(w);
            mdldb_hair(cam);
        });
        EXPECT_TRUE(k == 2
                        ? g_hairs.empty()
                        : w.close() == 1 && w.curves() == long(g_hairs.size()) && w.curves() > 5);
        EXPECT_EQ(Lines(path), Lines(Data(names[k % 2])));
        std::remove(path.c_str());
    }
    EXPECT_EQ(curve_format_of("dir.obj/hair.usd"), curve_format::none);
    curve_writer w;
    EXPECT_EQ(captured([&] { EXPECT_EQ(w.open("hair.abc"), 0); }),
              "ERROR: curve file hair.abc: the name must end in .usda or .obj\n");
    EXPECT_EQ(captured([&] { EXPECT_EQ(w.open("/nonexistent/dir/hair.obj"), 0); }),
              "ERROR: cannot create curve file /nonexistent/dir/hair.obj\n");
}

namespace {

// The hair numbers (counted from g_start) the filter was asked about and the
// sink got; the filter keeps the even ones.
std::vector<int> g_asked, g_ids;
int g_start = 0;
bool EvenHairs(const hair_state&, int id) {
    g_asked.push_back(id - g_start);
    return (id - g_start) % 2 == 0;
}
void RecordWithId(hair_camera*, control_hair* h, hair_state* s) {
    g_ids.push_back(defs.hair_id - g_start);
    Record(nullptr, h, s);
}

}  // namespace

// A filtered walk shapes only the hairs the filter keeps, and those come out
// as in the whole walk, with their numbers: the filter is asked about every
// hair (by the number it gets) and the others keep their draws; a walk
// sampled by numbers gives the same hairs. Hairs that spawn children are
// never filtered.
namespace {

// Whether two hairs have the same points, bit for bit, and normal.
bool SameHair(const Hair& a, const Hair& b) {
    return a.points.size() == b.points.size() && a.state.normal == b.state.normal &&
           !std::memcmp(a.points.data(), b.points.data(), a.points.size() * sizeof(kivPoint));
}

}  // namespace

TEST_F(Spawning, FilteredHairsKeepTheOthersShapesAndNumbers) {
    hp_->scraggle = hp_scalar(0.5f), hp_->curl_tip = hp_scalar(0.8f), hp_->clump = hp_scalar(0.3f);
    hp_->clumpfrequency = hp_scalar(50.0f), hp_->usamples = hp_->vsamples = hp_scalar(6.0f);
    hp_->density = hp_scalar(200.0f), hp_->segments = hp_scalar(4.0f),
    hp_->baldness = hp_scalar(0.7f);
    Mesh("p", {{0, 0, 0.5f, 1}, {0.5f, 0, 1, 1}}), Plane("n");
    defs.tiles[0] = 2;  // the geometry stays for the next walk
    hair_camera cam;
    mdldb_set_hair_sink(RecordWithId);
    std::vector<Hair> runs[2];
    std::vector<int> ids[2];
    int counts[2] = {0, 0}, parents = 0;
    for (int k = 0; k < 2; ++k) {
        g_hairs.clear(), g_ids.clear(), g_asked.clear(), g_start = defs.hair_id;
        const mdldb_hair_filter before = mdldb_set_hair_filter(k == 1 ? EvenHairs : nullptr);
        captured([&] { counts[k] = mdldb_hair(cam); });
        EXPECT_EQ(mdldb_set_hair_filter(before), k == 1 ? EvenHairs : nullptr);
        EXPECT_EQ(defs.hair_id - g_start, counts[k]);
        runs[k] = g_hairs, ids[k] = g_ids;
    }
    // Every hair was asked about, one number each, and was numbered as asked.
    ASSERT_TRUE(counts[0] == counts[1] && counts[0] > 40);
    ASSERT_EQ(int(g_asked.size()), counts[1]);
    for (int i = 0; i < counts[1]; ++i) ASSERT_EQ(g_asked[i], i + 1);
    // The kept hairs are the whole walk's hairs of even numbers, point for point.
    std::size_t j = 0;
    for (std::size_t i = 0; i < ids[0].size(); ++i) {
        if (ids[0][i] % 2 != 0) continue;
        ASSERT_TRUE(j < ids[1].size() && ids[1][j] == ids[0][i] && SameHair(runs[1][j], runs[0][i]))
            << i;
        ++j;
    }
    EXPECT_EQ(j, ids[1].size());
    // A walk sampled by numbers hands on the whole walk's hairs of even
    // numbers (counted from the start of the run), with their numbers.
    g_hairs.clear(), g_ids.clear(), g_start = defs.hair_id;
    EXPECT_EQ(mdldb_set_hair_sampling(2), 1);
    captured([&] { EXPECT_EQ(mdldb_hair(cam), counts[0]); });
    EXPECT_EQ(mdldb_set_hair_sampling(1), 2);
    std::size_t n = 0;
    for (std::size_t i = 0; i < ids[0].size(); ++i) {
        if ((g_start + ids[0][i]) % 2 != 0) continue;
        ASSERT_TRUE(n < g_ids.size() && g_ids[n] == ids[0][i] &&
                    kivVector(g_hairs[n].points.back()) == kivVector(runs[0][i].points.back()))
            << i;
        ++n;
    }
    EXPECT_TRUE(n == g_ids.size() && n > 20) << n;
    // With children to spawn, every hair grows and the filter is not asked.
    hair_params_list_add(names_add("kid"));
    hp_->spawn_params = names_add("kid"), hp_->spawn_factor = hp_scalar(1.0f);
    g_hairs.clear(), g_asked.clear();
    const mdldb_hair_filter before = mdldb_set_hair_filter(EvenHairs);
    captured([&] { parents = mdldb_hair(cam); });
    mdldb_set_hair_filter(before);
    EXPECT_TRUE(g_asked.empty());
    EXPECT_EQ(g_hairs.size(), 2u * parents);
}

namespace {

// A reach filter that keeps the hairs whose reach is centred left of
// x = 0.55 and counts the others.
int g_refused = 0;
bool LeftOf(const hair_params&, const kivPoint& centre, float, float) {
    g_refused += centre.x < 0.55f ? 0 : 1;
    return centre.x < 0.55f;
}

bool OddHairs(const hair_state& s, int id) {
    return !EvenHairs(s, id);
}

// A stream of kept hairs as a worker writes one: the header (points_said
// points, else count), then one hair at place with count points of which
// written_points are written, its key and flag.
std::FILE* KeptStream(std::uint32_t magic, std::uint32_t hairs, std::uint32_t place,
                      std::uint32_t count, std::uint32_t written_points,
                      std::uint64_t points_said = ~0ull) {
    std::FILE* f = std::tmpfile();
    const struct {
        std::uint32_t magic, hairs;
        std::uint64_t points, key;
        std::uint32_t place, count, flipped, unused;
    } head{magic, hairs, points_said == ~0ull ? count : points_said, 1, place, count, 0, 0};
    std::fwrite(&head, sizeof head, 1, f);
    const kivPoint p(0.25f, 0.5f, 0.0f);
    for (std::uint32_t i = 0; i < written_points; ++i) std::fwrite(&p, sizeof p, 1, f);
    std::rewind(f);
    return f;
}

}  // namespace

// Kept hairs replay as shaped: a walk after a filtered one takes the kept
// hairs (the even ones) and shapes the rest, every hair, its points and its
// state (the normal a negative length negates) coming out as without
// keeping. Kept reaches skip, before their root frame, exactly the hairs
// the reach filter refuses once grown: walks with it hand on the hairs of
// the whole walk whose reach (their root: no offset) lies left of the line,
// with their numbers, a later one skipping every refused hair on its kept
// reach. Hairs on moved geometry, or shifted to other places, are shaped
// and bounded again; turning keeping off lets hairs and reaches go.
TEST_F(Spawning, KeptHairsAndReachesReplayAsGrown) {
    ASSERT_TRUE(CurlyScene());
    hair_camera cam;
    mdldb_set_hair_sink(RecordWithId);
    struct Walk {
        std::vector<Hair> hairs;
        std::vector<int> ids;
        int refused;
        long long skipped;
    };
    const auto walk = [&](mdldb_hair_filter filter, mdldb_hair_reach_filter reach) {
        g_hairs.clear(), g_ids.clear(), g_refused = 0, g_start = defs.hair_id;
        const long long skipped = mdldb_kept_reaches_skipped();
        const mdldb_hair_filter before = mdldb_set_hair_filter(filter);
        const mdldb_hair_reach_filter reach_before = mdldb_set_hair_reach_filter(reach);
        captured([&] { mdldb_hair(cam); });
        mdldb_set_hair_filter(before), mdldb_set_hair_reach_filter(reach_before);
        return Walk{g_hairs, g_ids, g_refused, mdldb_kept_reaches_skipped() - skipped};
    };
    // The hairs of walk a are those of walk all whose root lies left of
    // line, with their numbers; a refused the others.
    const auto expect_left = [&](const Walk& a, const Walk& all, float line = 0.55f) {
        std::size_t j = 0;
        for (std::size_t i = 0; i < all.ids.size(); ++i) {
            if (!(all.hairs[i].points[0].x < line)) continue;
            ASSERT_TRUE(j < a.ids.size() && a.ids[j] == all.ids[i]) << i;
            ASSERT_TRUE(SameHair(a.hairs[j++], all.hairs[i])) << i;
        }
        EXPECT_TRUE(j == a.ids.size() && a.ids.size() + a.refused == all.ids.size());
    };
    const Walk plain = walk(nullptr, nullptr);
    mdldb_keep_shaped_hairs(true);
    const std::size_t even = walk(EvenHairs, nullptr).ids.size();
    expect_left(walk(nullptr, nullptr), plain, INFINITY);
    EXPECT_TRUE(even > 40 && mdldb_kept_hairs_reused() == (long long)even) << even;
    const auto flipped = std::count_if(plain.hairs.begin(), plain.hairs.end(),
                                       [](const Hair& h) { return h.state.normal.z < 0.0f; });
    EXPECT_TRUE(flipped > 0 && flipped < long(plain.ids.size())) << flipped;
    const Walk first = walk(nullptr, LeftOf), second = walk(nullptr, LeftOf);
    EXPECT_TRUE(first.refused > 100 && first.ids.size() > 100 && first.skipped == 0 &&
                mdldb_kept_reaches() == (long long)plain.ids.size() &&
                second.skipped == first.refused);
    expect_left(first, plain), expect_left(second, plain);

    // The first polygon and the surface move right, across the line: their
    // hairs are shaped and bounded again, the others replayed.
    for (int i = 0; i < 4; ++i)
        mdldb_get_index(0, 0)->polygons()->set_vert(
            i, kivPoint(0.3f + 0.5f * (i == 1 || i == 2), 1.0f * (i > 1), 0.0f));
    for (int i = 0; i < 16; ++i)
        mdldb_get_index(1, 0)->nurbs()->set_vert(
            i, kivPoint4(0.3f + (i % 4) / 3.0f, (i / 4) / 3.0f, 0, 1));
    const long long before = mdldb_kept_hairs_reused();
    const Walk moved = walk(nullptr, nullptr);
    EXPECT_TRUE(mdldb_kept_hairs_reused() > before &&
                mdldb_kept_hairs_reused() - before < (long long)moved.ids.size());
    const Walk left = walk(nullptr, LeftOf);
    expect_left(left, moved);
    EXPECT_TRUE(left.skipped > 0 && left.skipped < left.refused) << left.skipped;
    // Fewer hairs on the mesh: the later ones come at other places.
    hp_->density = hp_scalar(150.0f);
    const Walk fewer = walk(nullptr, nullptr);
    expect_left(walk(nullptr, LeftOf), fewer);
    hp_->density = hp_scalar(200.0f);
    mdldb_keep_shaped_hairs(false);
    EXPECT_EQ(mdldb_kept_reaches(), 0);
    expect_left(walk(nullptr, nullptr), moved, INFINITY);
    // Kept until a walk ends: the reaches are there when a walk ends, and
    // gone when that walk ends, which still draws its hairs right.
    static long long at_end = -1;
    const mdldb_walk_end_fn end_before = mdldb_set_walk_end([] { at_end = mdldb_kept_reaches(); });
    mdldb_keep_shaped_hairs(true);
    walk(nullptr, LeftOf);
    EXPECT_GT(at_end, 0);
    mdldb_keep_until_walk_end();
    expect_left(walk(nullptr, LeftOf), moved);
    EXPECT_EQ(at_end, 0);
    EXPECT_EQ(walk(nullptr, LeftOf).skipped, 0);
    mdldb_set_walk_end(end_before);

    // Handed to another process: a walk keeping the even hairs (and no
    // reaches) writes them, one keeping the odd takes them in, and its next
    // walk replays every hair. Then every hair, taken in by a walk that
    // kept the odd ones: the even ones land between the odd ones' points.
    mdldb_keep_shaped_hairs(true);
    mdldb_keep_no_more_reaches();
    walk(EvenHairs, nullptr);
    EXPECT_EQ(mdldb_kept_reaches(), 0);
    for (int round = 0; round < 2; ++round) {
        std::FILE* kept = std::tmpfile();
        ASSERT_TRUE(mdldb_save_kept_hairs(kept, 0));
        std::rewind(kept);
        mdldb_keep_shaped_hairs(true);
        walk(OddHairs, nullptr);
        ASSERT_TRUE(mdldb_load_kept_hairs(kept));
        std::fclose(kept);
        expect_left(walk(nullptr, nullptr), moved, INFINITY);
        EXPECT_EQ(mdldb_kept_hairs_reused(), (long long)moved.ids.size()) << round;
    }
    // Refused: cut short, another stream, no points, past the walk (which
    // would otherwise make room for four billion places), points that do
    // not add up or pass the cap.
    const std::uint32_t magic = 0x4B48524Bu, places = static_cast<std::uint32_t>(moved.ids.size());
    for (std::FILE* bad : {KeptStream(magic, 2, 0, 3, 3), KeptStream(magic, 1, 0, 3, 2),
                           KeptStream(magic + 1, 1, 0, 3, 3), KeptStream(magic, 1, 0, 0, 0),
                           KeptStream(magic, 1, places, 3, 3), KeptStream(magic, 1, ~0u, 3, 3),
                           KeptStream(magic, 1, 0, 3, 3, 4), KeptStream(magic, 1, 0, 3, 3, 2),
                           KeptStream(magic, 1, 0, 3, 3, kMaxKeptHairPoints + 1)}) {
        EXPECT_FALSE(mdldb_load_kept_hairs(bad));
        std::fclose(bad);
    }
    // Taken but changing nothing: a good stream for a place kept already,
    // and one with no hair kept since the mark.
    std::FILE* one = KeptStream(magic, 1, places - 1, 3, 3);
    const std::size_t kept = mdldb_kept_hair_points();
    EXPECT_TRUE(mdldb_load_kept_hairs(one));
    EXPECT_EQ(mdldb_kept_hair_points(), kept);
    std::fclose(one);
    std::FILE* none = std::tmpfile();
    ASSERT_TRUE(mdldb_save_kept_hairs(none, mdldb_kept_hair_points()));
    EXPECT_EQ(std::ftell(none), 16);
    std::rewind(none);
    EXPECT_TRUE(mdldb_load_kept_hairs(none));
    std::fclose(none);
    expect_left(walk(nullptr, nullptr), moved, INFINITY);
    mdldb_keep_shaped_hairs(false);
}
