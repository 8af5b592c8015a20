#include "generation/hair_spawning.h"

#include <array>
#include <cmath>
#include <fstream>
#include <random>
#include <vector>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "foundation/fur_exception.h"
#include "foundation/render_settings.h"
#include "generation/hair_shaping.h"
#include "generation/motion_spawning.h"
#include "generation/spawn_support.h"
#include "geometry/model_database.h"
#include "host/random48.h"
#include "render/camera.h"
#include "test_support.h"

namespace {

// Every hair handed to the sink: its points and state.
struct Hair {
    std::vector<kivPoint> points;
    hair_state state;
};
std::vector<Hair> g_hairs;
std::vector<mdldb_hair_progress> g_progress;

void Record(hair_camera*, control_hair* h, hair_state* s) {
    g_hairs.push_back({std::vector<kivPoint>(h->points, h->points + h->count), *s});
}

// Every pair handed to the motion sink: the hair at shutter open, then at
// shutter close, as two entries.
hair_camera* g_close_camera = nullptr;
void RecordPair(hair_camera* cam, hair_camera* cam1, control_hair* h0, control_hair* h1,
                hair_state* s) {
    g_close_camera = cam1;
    Record(cam, h0, s);
    Record(cam, h1, s);
}

// How many numbers the generator has given since it was last seeded with 0.
long DrawsSinceSeed0() {
    const double next = korvo_host::drand48();
    korvo_host::srand48(0);
    for (long i = 0; i < 20000000; ++i)
        if (korvo_host::drand48() == next) return i;
    return -1;
}

using Rect = std::array<float, 4>;  // u0, v0, u1, v1

// Tables for eight models in each list, description "fur" and the hairs
// going to Record.
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
        mdldb_set_hair_progress(nullptr);
        assdb_done();
        hair_params_list_clear();
        mdldb_cleanup();
        hair_shape_release();
        names_done();
        defs = saved_defs_;
        opt_flags = saved_flags_;
        g_hairs.clear();
    }

    // A model of the current list with "fur" assigned (or one of the second list).
    static hair_model* Model(int type, const char* name, int which = 0) {
        hair_model* m = mdldb_get_new(which);
        mdldb_set_type(m, type, name);
        if (which == 0) assdb_assign_hair("fur", m->name);
        return m;
    }
    // Quads (or their lower-left triangles) in the plane z = 0, facing +z,
    // whose texture coordinates are their positions, moved by offset.
    static hair_model* Mesh(const char* name, std::vector<Rect> rects, int corners = 4,
                            int which = 0, kivPoint offset = {}) {
        hair_model* m = Model(MODEL_POLY, name, which);
        kivPolygons* p = m->polygons();
        const int n = static_cast<int>(rects.size());
        p->set_nb_verts(4 * n), p->set_nb_texs(4 * n), p->set_nb_polys(n);
        p->set_nb_norms(1), p->set_norm(0, {0, 0, 1});
        for (int k = 0, b = 0; k < n; ++k, b += 4) {
            const Rect& r = rects[k];
            for (int i = 0; i < 4; ++i) {
                const kivPoint c(r[i == 1 || i == 2 ? 2 : 0], r[i < 2 ? 1 : 3], 0);
                p->set_vert(b + i, c + offset);
                p->set_tex(b + i, c);
            }
            const int last = corners == 3 ? 0 : b + 3, third = corners == 3 ? b + 3 : b + 2;
            p->set_poly(k,
                        {corners, {b, b + 1, third, last}, {0, 0, 0, 0}, {b, b + 1, third, last}});
        }
        return m;
    }
    // The unit square of z = 0 as a bilinear NURBS surface.
    static hair_model* Plane(const char* name) {
        hair_model* m = Model(MODEL_NURB, name);
        kivNurbSurface* s = m->nurbs();
        s->set_nb_verts(4, 4), s->set_order(2, 2), s->alloc_lists();
        const float k[6] = {0, 0, 1, 2, 3, 3};
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
    // Runs the rendering worker on m; the printed text goes to out.
    static int Run(hair_model* m, std::string* out = nullptr) {
        int n = 0;
        hair_params** list = nullptr;
        assdb_get_model_hair(m->name, &n, &list);
        int r = 0;
        const std::string text = captured([&] { r = mdldb_hair_model(m, nullptr, n, list); });
        if (out) *out = text;
        return r;
    }

    hair_params* hp_ = nullptr;

  private:
    defaults saved_defs_ = defs;
    int saved_flags_ = opt_flags;
    mdldb_hair_sink previous_ = nullptr;
};

// Density 0 prints the model's line and grows nothing; an equalizer of 0
// gives up on a polygon face after count rejections (one number for its
// count, six per draw), on a NURBS or data-point face after 2 count + 1
// zero draws. Density 60 grows upright hairs, v along y; every point of a
// data-point model draws the same numbers.
TEST_F(Spawning, EveryKindGrowsItsHairsFromItsSurface) {
    const struct {
        hair_model* model;
        const char* text;
        long draws;
    } cases[] = {
        {Mesh("p", {{0, 0, 1, 1}}), "1 assignments created 0 hairs from polygons p (0, 0)\n", 31},
        {Plane("n"), "1 assignments created 0 hairs from nurb n\n", 66},
        {Points("d", 2),
         "model (d) type not implemented!, skipping...\n"
         "1 assignments created 0 hairs from datapoints d\n",
         66},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        hp_->density = hp_scalar(0.0f);
        std::string out;
        EXPECT_EQ(Run(c.model, &out), 0);
        EXPECT_EQ(out, c.text);
        hp_->density = hp_scalar(5.0f);
        hp_->equalizer = hp_scalar(0.0f);
        EXPECT_EQ(Run(c.model), 0);
        EXPECT_EQ(DrawsSinceSeed0(), c.draws);
        hp_->equalizer.reset();
        hp_->density = hp_scalar(60.0f);
        g_hairs.clear();
        const int n = Run(c.model, &out);
        ASSERT_EQ(g_hairs.size(), std::size_t(n));
        if (c.model->type == MODEL_NURB) {
            EXPECT_EQ(out,
                      "1 assignments created 60 hairs from nurb n\n"
                      "totals: 60 hairs generated, 0 bald hairs, 0.000000 baldness\n\n");
        }
        for (const Hair& h : g_hairs) {
            const kivPoint& p = h.points[0];
            EXPECT_TRUE(p.z == 0 && p.x >= 0 && p.x <= 1 && p.y >= 0 && p.y <= 1);
            EXPECT_TRUE(std::fabs(h.points[1].z - 1) < 1e-5f &&
                        std::fabs(h.state.dir.y - 1) < 1e-5f);
        }
    }
    ASSERT_EQ(g_hairs.size(), 120u);
    for (int j = 0; j < 60; ++j) {
        EXPECT_EQ(g_hairs[60 + j].points[0].x, 1.0f);
        EXPECT_EQ(g_hairs[j].state.rand[3], g_hairs[60 + j].state.rand[3]);
    }
}

TEST_F(Spawning, EqualizerAcceptsAndBaldnessKeepsAtTheirValues) {
    hair_model* plane = Plane("n");
    const int n = 20000;
    hp_->density = hp_scalar(static_cast<float>(n));
    for (float e : {0.2f, 0.6f}) {
        hp_->equalizer = hp_scalar(e);
        EXPECT_EQ(Run(plane), n);
        EXPECT_NEAR(n / (DrawsSinceSeed0() / 6.0), e, 0.03) << e;
    }
    hp_->equalizer.reset();
    for (float b : {0.0f, 0.3f, 1.0f}) {
        hp_->baldness = hp_scalar(b);
        g_hairs.clear();
        std::string out;
        const int kept = Run(plane, &out);
        EXPECT_EQ(static_cast<int>(g_hairs.size()), kept);
        EXPECT_NEAR(kept, b * n, b == 0.3f ? 300 : 0) << b;  // exact at 0 and 1
        EXPECT_NE(out.find("totals: 20000 hairs generated, " + std::to_string(n - kept)),
                  std::string::npos);
    }
}

// Hairs per face follow texture area; roots are uniform in a triangle (four
// halved copies of it) and in a quad (a 4 x 4 grid): chi-square, p = 0.001.
TEST_F(Spawning, HairsSpreadEvenlyOverTextureSpace) {
    std::mt19937 rng(5);
    std::vector<float> edges{0.0f};
    for (int i = 0; i < 50; ++i)
        edges.push_back(edges.back() + 0.2f + std::uniform_real_distribution<float>()(rng));
    std::vector<Rect> strips;
    for (int i = 0; i < 50; ++i)
        strips.push_back({edges[i] / edges[50], 0, edges[i + 1] / edges[50], 1});
    hp_->density = hp_scalar(1000.0f);
    std::string out;
    const int total = Run(Mesh("p", strips), &out);
    EXPECT_NE(out.find("from polygons p (0, 50)"), std::string::npos);
    std::vector<int> per(50, 0);
    for (const Hair& h : g_hairs)
        ++per[std::upper_bound(edges.begin(), edges.end(), h.points[0].x * edges[50]) -
              edges.begin() - 1];
    for (int i = 0; i < 50; ++i)
        EXPECT_NEAR(per[i], total * (edges[i + 1] - edges[i]) / edges[50], 2.0) << i;

    const auto chi_square = [](int corners) {
        g_hairs.clear();
        Run(Mesh(corners == 3 ? "t" : "q", {{0, 0, 1, 1}}, corners));
        std::vector<double> count(corners == 3 ? 4 : 16, 0.0);
        for (const Hair& h : g_hairs) {
            const kivPoint& p = h.points[0];
            ++count[corners == 4       ? std::min(3, int(p.x * 4)) * 4 + std::min(3, int(p.y * 4))
                    : p.x > 0.5f       ? 1
                    : p.y > 0.5f       ? 2
                    : p.x + p.y < 0.5f ? 0
                                       : 3];
        }
        const double expected = static_cast<double>(g_hairs.size()) / count.size();
        double chi = 0.0;
        for (double c : count) chi += (c - expected) * (c - expected) / expected;
        return chi;
    };
    hp_->density = hp_scalar(40000.0f);
    EXPECT_LT(chi_square(3), 16.27);  // 3 degrees of freedom
    EXPECT_LT(chi_square(4), 37.7);   // 15 degrees of freedom
}

TEST_F(Spawning, ChildrenSproutAtTheirSpawnSegment) {
    hair_params* kid = hair_params_list_add(names_add("kid"));
    hp_->spawn_params = names_add("kid");
    hp_->spawn_factor = hp_scalar(1.0f), hp_->segments = hp_scalar(4.0f);
    hp_->density = hp_scalar(10.0f);
    hair_model* plane = Plane("n");
    for (const auto& c : {std::pair<float, int>{0.0f, 1}, {2.5f, 2}, {50.0f, 4}}) {
        hp_->spawn_segment = hp_scalar(c.first);
        g_hairs.clear();
        std::string out;
        EXPECT_EQ(Run(plane, &out), 10);
        EXPECT_NE(out.find("10 number of hairs spawned\n"), std::string::npos);
        ASSERT_EQ(g_hairs.size(), 20u);
        for (int i = 0; i < 20; i += 2) {
            const kivPoint* parent = g_hairs[i].points.data();
            const hair_state& child = g_hairs[i + 1].state;
            EXPECT_EQ(child.params, kid);
            EXPECT_EQ(child.pos.z, parent[c.second].z) << c.first;
            EXPECT_EQ(child.normal, kivVector(parent[c.second - 1], parent[c.second]));
        }
    }
}

TEST_F(Spawning, TheFrameWalkIsReproducibleAndReleasesGeometry) {
    hp_->scraggle = hp_scalar(0.5f), hp_->curl_tip = hp_scalar(0.8f), hp_->clump = hp_scalar(0.3f);
    hp_->clumpfrequency = hp_scalar(50.0f), hp_->usamples = hp_->vsamples = hp_scalar(6.0f);
    hp_->equalizer = hp_scalar(0.8f), hp_->baldness = hp_scalar(0.9f);
    hp_->density = hp_scalar(300.0f), hp_->segments = hp_scalar(4.0f);
    Mesh("p", {{0, 0, 0.5f, 1}, {0.5f, 0, 1, 1}});
    Plane("n");
    mdldb_set_type(mdldb_get_new(0), MODEL_NULL, "bare");
    opt_flags = 3;
    hair_camera cam;
    std::vector<Hair> runs[2];
    g_progress.clear();
    for (int tiles : {2, 1}) {  // one tile: the geometry is released
        defs.tiles[0] = tiles;
        g_hairs.clear();
        const int id = defs.hair_id;
        mdldb_set_hair_progress(
            tiles == 2 ? +[](const mdldb_hair_progress& p) { g_progress.push_back(p); } : nullptr);
        int total = 0;
        const std::string out = captured([&] { total = mdldb_hair(cam); });
        EXPECT_NE(out.find("INFO: model bare has no hair.\n--- rendered " + std::to_string(total) +
                           " total hairs\n"),
                  std::string::npos);
        EXPECT_EQ(defs.hair_id - id, total);
        if (tiles == 2) {  // one report per model and one at the end
            std::string seen;
            for (const mdldb_hair_progress& p : g_progress)
                seen += std::to_string(p.model) + "/" + std::to_string(p.models) + "/" +
                        std::to_string(p.wanted) + (p.model_name ? p.model_name : "") + " ";
            EXPECT_EQ(seen, "0/3/600p 1/3/600n 2/3/600bare 3/3/600 ");
            EXPECT_TRUE(g_progress[0].hairs == 0 && g_progress[1].hairs > 0);
            EXPECT_EQ(g_progress[3].hairs, total);
        }
        runs[tiles - 1] = g_hairs;
    }
    EXPECT_EQ(mdldb_get_index(0, 0)->type, MODEL_NULL);
    ASSERT_TRUE(runs[0].size() == runs[1].size() && runs[0][0].points.size() == 5u);
    for (std::size_t i = 0; i < runs[0].size(); ++i)
        for (int k = 0; k < 5; ++k)
            ASSERT_EQ(kivVector(runs[0][i].points[k]), kivVector(runs[1][i].points[k])) << i;
}

// The motion walk grows each hair twice from the same draws: with the
// same model at both times a polygon model gives the still walk's hairs
// twice; with the close model moved by T each close hair is its open
// hair moved by T (clumps included). The sink gets both cameras.
TEST_F(Spawning, TheMotionWalkGrowsEveryHairAtBothTimesFromTheSameDraws) {
    hp_->scraggle = hp_scalar(0.4f), hp_->curl_tip = hp_scalar(0.7f);
    hp_->density = hp_scalar(120.0f), hp_->segments = hp_scalar(4.0f);
    const std::vector<Rect> rects = {{0, 0, 0.5f, 1}, {0.5f, 0, 1, 1}};
    hair_model* open = Mesh("p", rects);
    const kivPoint T(2.0f, -1.0f, 0.5f);
    hair_model* moved = Mesh("p", rects, 4, 1, T);
    hair_camera cam0, cam1;
    const mdldb_motion_hair_sink previous = mdldb_set_motion_hair_sink(RecordPair);
    int n = 0;
    hair_params** list = nullptr;
    assdb_get_model_hair(open->name, &n, &list);

    const int still = Run(open);
    const std::vector<Hair> still_hairs = g_hairs;
    ASSERT_GT(still, 50);
    for (bool clumps : {false, true}) {
        if (clumps) {
            hp_->clump = hp_scalar(0.6f), hp_->clumpfrequency = hp_scalar(40.0f);
            hp_->usamples = hp_->vsamples = hp_scalar(5.0f);
        }
        for (hair_model* close : {open, moved}) {
            SCOPED_TRACE(std::string(clumps ? "clumps, " : "") +
                         (close == open ? "still" : "moved"));
            g_hairs.clear();
            const int id = defs.hair_id;
            int count = 0;
            const std::string out = captured(
                [&] { count = mdldb_motion_blur_hair_model(open, close, &cam0, &cam1, n, list); });
            EXPECT_EQ(out.find("totals:"), std::string::npos);
            EXPECT_EQ(g_close_camera, &cam1);
            EXPECT_EQ(defs.hair_id - id, count) << "one hair id per pair";
            ASSERT_EQ(g_hairs.size(), 2u * count);
            if (!clumps) {
                ASSERT_EQ(count, still);
            }
            for (int i = 0; i < count; ++i) {
                const Hair &h0 = g_hairs[2 * i], &h1 = g_hairs[2 * i + 1];
                ASSERT_EQ(h0.points.size(), 5u);
                if (!clumps) {
                    for (int k = 0; k < 5; ++k)
                        ASSERT_EQ(kivVector(h0.points[k]), kivVector(still_hairs[i].points[k]));
                }
                const kivPoint shift = close == open ? kivPoint() : T;
                for (int k = 0; k < 5; ++k)
                    expect_near(h1.points[k], h0.points[k] + shift, 2e-5f,
                                "hair " + std::to_string(i) + " point " + std::to_string(k));
                expect_near(h1.state.normal_mb, h0.state.normal, 1e-6f);
                expect_near(h1.state.pos_mb, h0.state.pos + shift, 2e-5f);
            }
        }
    }
    mdldb_set_motion_hair_sink(previous);
    // The walk over the lists: the model of the same name closes the shutter.
    g_hairs.clear();
    mdldb_set_motion_hair_sink(RecordPair);
    const std::string out = captured([&] { EXPECT_GT(mdldb_motion_blur_hair(&cam0, &cam1), 0); });
    EXPECT_NE(out.find(" total hairs\n"), std::string::npos);
    ASSERT_FALSE(g_hairs.empty());
    expect_near(g_hairs[1].points[0], g_hairs[0].points[0] + T, 2e-5f);
    mdldb_set_motion_hair_sink(previous);
}

// The export lines of a face depend on nothing but that face.
TEST_F(Spawning, ExportWritesEachRootWithItsNormalAndMotion) {
    hp_->density = hp_scalar(8.0f);
    const std::string path = temp_path(".txt");
    using Line = std::array<float, 9>;
    const auto lines = [&](hair_model* m, hair_model* m2, std::vector<Line>* face1) {
        int roots = 0;
        const std::string text = captured([&] {
            roots = m ? mdldb_kestrel_model(path.c_str(), m, m2, 1, &hp_)
                      : mdldb_kestrel(path.c_str(), 1);  // the walk over both lists
        });
        EXPECT_EQ(text.find("1 assignments created " + std::to_string(roots) + " hairs for "), 0u);
        std::ifstream in(path);
        std::vector<Line> out;
        for (Line v; in >> v[0] >> v[1] >> v[2] >> v[3] >> v[4] >> v[5] >> v[6] >> v[7] >> v[8];) {
            out.push_back(v);
            if (v[0] > 0.5f && face1) face1->push_back(v);
        }
        EXPECT_EQ(static_cast<int>(out.size()), roots);
        return out;
    };
    const std::vector<Rect> faces{{0, 0, 0.5f, 1}, {0.5f, 0, 1, 1}};
    hair_model* a = Mesh("a", faces);
    Mesh("a", faces, 4, 1, {1, 2, 3});
    const auto moving = lines(nullptr, nullptr, nullptr);
    ASSERT_GE(moving.size(), 6u);
    for (const Line& v : moving) EXPECT_EQ(v, (Line{v[0], v[1], 0, 0, 0, 1, 1, 2, 3}));
    std::vector<Line> short_face1, tall_face1;
    const auto plain = lines(a, nullptr, &short_face1);
    EXPECT_GT(lines(Mesh("b", {{0, 0, 0.5f, 3}, faces[1]}), nullptr, &tall_face1).size(),
              plain.size());
    EXPECT_EQ(short_face1, tall_face1);
    std::remove(path.c_str());
}

// A diamond's texture edges cancel along v: hairs point to its centre. A
// texture edge of no length cannot be prepared.
TEST(HairPoly, QuadsWithoutAVDirectionOrWithDegenerateEdges) {
    hair_poly p;
    p.nb_points = 4;
    const kivPoint diamond[4] = {{0, 0, 0}, {1, 1, 0}, {2, 0, 0}, {1, -1, 0}};
    std::copy(diamond, diamond + 4, p.points);
    std::copy(diamond, diamond + 4, p.uvs);
    std::fill(p.normals, p.normals + 4, kivVector(0, 0, 1));
    quad_vdir(&p);
    EXPECT_TRUE(p.v_dir_ok == 0 && p.u_dir_ok == 1);
    kivVector frame[4];
    testing::internal::CaptureStdout();
    ASSERT_EQ(p.calc_posnrmdir(0.0, 0.0, frame), 1);
    EXPECT_EQ(frame[2], kivVector(1, 0, 0));
    p.uvs[1] = p.uvs[0];
    EXPECT_THROW(quad_vdir(&p), FurEFailed);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "In special case\nFATAL: quad_vdir check vector norm failure\n");
}

}  // namespace

// usamples x vsamples from the hair file size the clump grid: a grid above
// 2^20 nodes is refused with a message (the hairs still grow, without
// clumps); one at the cap is built.
TEST_F(Spawning, ClumpGridLargerThanItsCapIsRefused) {
    hp_->clump = hp_scalar(0.5f), hp_->clumpfrequency = hp_scalar(100.0f);
    hp_->density = hp_scalar(20.0f), hp_->segments = hp_scalar(2.0f);
    hair_model* m = Plane("n");
    hair_state hs;
    hair_poly poly;
    std::vector<clump_centre> centres;
    hp_->usamples = hp_scalar(2048.0f), hp_->vsamples = hp_scalar(1024.0f);
    const std::string out =
        captured([&] { spawn_detail::build_clump_centres(m, hp_, hs, poly, centres); });
    EXPECT_EQ("ERROR: clump sample grid 2048 x 1024 too large for n\n", out);
    EXPECT_TRUE(centres.empty());
    std::string text;
    EXPECT_GT(Run(m, &text), 0);
    EXPECT_NE(std::string::npos, text.find("too large")) << text;

    // At the cap the grid is built (over data points it stays empty).
    hp_->usamples = hp_scalar(1024.0f);
    EXPECT_EQ("", captured([&] {
                  spawn_detail::build_clump_centres(Points("d", 4), hp_, hs, poly, centres);
              }));
}

// The polygon message counts quads and other faces in the first pass of the
// first assignment only: a first assignment that places nothing leaves them 0.
TEST_F(Spawning, FaceCountsComeFromTheFirstAssignmentOnly) {
    hair_model* m = Mesh("p", {{0, 0, 0.5f, 1}, {0.5f, 0, 1, 1}});
    hair_params* second = hair_params_list_add(names_add("second"));
    second->density = hp_scalar(10.0f), second->erectness = hp_scalar(0.0f);
    assdb_assign_hair("second", m->name);
    hp_->density = hp_scalar(10.0f);
    std::string out;
    const int both = Run(m, &out);
    EXPECT_EQ(0u, out.find("2 assignments created " + std::to_string(both) +
                           " hairs from polygons p (0, 2)\n"))
        << out;
    int n = 0;
    hair_params** list = nullptr;
    assdb_get_model_hair(m->name, &n, &list);
    ASSERT_EQ(2, n);
    list[0]->set_visibility(false);
    const int one = Run(m, &out);
    EXPECT_EQ(0u, out.find("2 assignments created " + std::to_string(one) +
                           " hairs from polygons p (0, 0)\n"))
        << out;
    EXPECT_TRUE(one > 0 && one < both);
}
