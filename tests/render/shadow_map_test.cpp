// Shadow multipliers: filter kernels, lookups in hand-made maps, auto-shading,
// and a map rendered from a light through the whole library.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "korvofur/korvofur.h"
#include "render_support.h"
#include "test_support.h"

using render_test::SettingsTest;

namespace {

// An entry over a 9 x 9 map seen by a light with a 90 degree view: the
// point (0, 0, -10) of light space falls on the centre pixel (4, 4).
struct hand_made_entry {
    ShadowMapInfo e;
    std::vector<float> maps[SMAP_CHANNELS];

    explicit hand_made_entry(int lgt_filter = 3, int obj_filter = 3) {
        init_mapparams(&e.params);
        e.kind = SHADOW_MAP;
        e.params.lgt_filter_size = lgt_filter;
        e.params.obj_filter_size = obj_filter;
        e.params.map.lines = e.params.map.cols = 9;
        e.params.map.encoding = 1;
        for (int c = 0; c < SMAP_CHANNELS; ++c) {
            maps[c].assign(81, 0.0f);
            e.params.map.maps[c] = maps[c].data();
        }
        e.proj_scale = 0.5f;
        e.xscale = e.yscale = kivFscale(0.0f, 9.0f, -0.5f, 0.5f);
        e.kernel_count = std::abs(obj_filter - lgt_filter) / 2 + 1;
        e.kernels = new ShadowMapKernel[e.kernel_count];
        for (int j = 0; j < e.kernel_count; ++j)
            smMakeKernel(e.kernels[j], lgt_filter + (obj_filter >= lgt_filter ? 2 : -2) * j);
    }
    ~hand_made_entry() {
        for (int j = 0; j < e.kernel_count; ++j) delete[] e.kernels[j].weights;
        delete[] e.kernels;
    }
    // Every pixel, or only (x, y), gets these four values.
    void fill(float g, float gc, float h, float ho, int x = -1, int y = -1) {
        for (int i = 0; i < 81; ++i) {
            if (x >= 0 && i != y * 9 + x) continue;
            maps[SMAP_GEO_DEPTH][i] = g;
            maps[SMAP_GEO_COVERAGE][i] = gc;
            maps[SMAP_HAIR_DEPTH][i] = h;
            maps[SMAP_HAIR_OPACITY][i] = ho;
        }
    }
    float at(float root_scale = 1.0f) {
        return smCalcShadowMultForPoint(&e, kivPoint(0.0f, 0.0f, -10.0f), root_scale);
    }
};

}  // namespace

TEST(ShadowKernel, WeightsSumToOnePeakNearTheCentreAndVanishOutside) {
    for (int size = 1; size <= 11; size += 2) {
        ShadowMapKernel k;
        ASSERT_TRUE(smMakeKernel(k, size));
        const int h = size / 2;
        double sum = 0.0;
        for (int dy = -h; dy <= h; ++dy) {
            for (int dx = -h; dx <= h; ++dx) {
                const float w = smKernelWeight(k, dy, dx);
                EXPECT_GT(w, 0.0f);
                EXPECT_LE(w, smKernelWeight(k, 0, 0)) << size << " " << dy << " " << dx;
                sum += w;
            }
        }
        EXPECT_NEAR(sum, 1.0, 1e-5) << size;
        EXPECT_EQ(smKernelWeight(k, h + 1, 0), 0.0f);
        EXPECT_EQ(smKernelWeight(k, 0, -h - 1), 0.0f);
        delete[] k.weights;
    }
}

TEST(ShadowLookup, OccludersDarkenAsTheBiasesAndDarknessSay) {
    hand_made_entry m;
    const MapParams& p = m.e.params;
    EXPECT_EQ(m.at(), 1.0f) << "no depths";

    // Hair halfway along the self-shadow ramp blocks half its opacity; the
    // ramp scales with the root scale.
    m.fill(0, 0, 10.0f - (p.low_hair_epsilon + p.high_hair_epsilon) / 2, 1.0f);
    EXPECT_NEAR(m.at(), 0.5f, 1e-5f);
    m.fill(0, 0, 10.0f - 2.0f * (p.low_hair_epsilon + p.high_hair_epsilon) / 2, 0.8f);
    EXPECT_NEAR(m.at(2.0f), 1.0f - 0.4f, 1e-5f);
    m.fill(0, 0, 10.0f - 1.15f, 1.0f);
    EXPECT_NEAR(m.at(2.0f), 1.0f - (1.15f - 0.6f) / (4.0f - 0.6f), 1e-5f);
    m.fill(0, 0, 10.0f - 0.2f, 1.0f);
    EXPECT_EQ(m.at(), 1.0f) << "hair closer than low_hair_epsilon";

    // Geometry blocks its coverage unless it lies within geo_epsilon.
    m.fill(5.0f, 0.25f, 0, 0);
    EXPECT_NEAR(m.at(), 0.75f, 1e-5f);
    m.fill(10.0f - 0.4f, 1.0f, 0, 0);
    EXPECT_EQ(m.at(), 1.0f);
    m.fill(5.0f, 1.0f, 4.0f, 1.0f);
    EXPECT_NEAR(m.at(), 0.0f, 1e-5f) << "occlusion is at most 1";

    // Fully blocked, the darkness blends from the light's to the object's
    // by where the occluder lies: here a tenth of the way.
    m.e.params.lgt_darkness = 0.6f;
    m.e.params.obj_darkness = 0.2f;
    m.fill(0, 0, 1.0f, 1.0f);
    EXPECT_NEAR(m.at(), 1.0f - (0.9f * 0.6f + 0.1f * 0.2f), 1e-5f);
}

TEST(AutoShade, RootTipAndLightAngleFollowTheirCurves) {
    ShadowMapInfo e;
    init_autoparams(&e.auto_params);  // self_shade 0.5, darkness 1, factor 2, back darkness 1
    hair_light light;
    light.direction = kivVector(0.0f, -1.0f, 0.0f);
    e.light = &light;
    const kivVector facing(0.0f, 1.0f, 0.0f), away(0.0f, -1.0f, 0.0f), side(1.0f, 0.0f, 0.0f);

    // Along the hair, lit from the front: dark to self_shade, then a ramp.
    const float t[] = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f}, f[] = {0.0f, 0.0f, 0.0f, 0.5f, 1.0f};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(smCalcAutoShadeMult(&e, facing, t[i]), f[i], 1e-6f);
    e.auto_params.self_shade = 0.0f;
    EXPECT_EQ(smCalcAutoShadeMult(&e, facing, 0.0f), 1.0f);
    e.auto_params.self_shade = 1.0f;
    e.auto_params.self_shade_darkness = 0.3f;
    EXPECT_NEAR(smCalcAutoShadeMult(&e, facing, 1.0f), 0.7f, 1e-6f);

    // Across the angle: full from the front, 1 - back darkness from behind,
    // and a smooth step between (p = 1/2 at a right angle gives g = 1/2).
    e.auto_params.self_shade = 0.0f;
    e.auto_params.back_shadow_darkness = 0.8f;
    EXPECT_NEAR(smCalcAutoShadeMult(&e, away, 1.0f), 0.2f, 1e-6f);
    EXPECT_NEAR(smCalcAutoShadeMult(&e, side, 1.0f), 0.2f * 0.5f + 0.5f, 1e-6f);
}

// ---------------------------------------------------------------------------
// A map rendered from a spot light through the library's own passes: the
// curtain scene of tests/data/render (frame 1 in the light's view, frame 2
// out of its cone).

namespace {

const std::string kCurtain = std::string(KORVO_TEST_DATA) + "/render/curtain";

class ShadowScene : public SettingsTest {
  protected:
    void SetUp() override {
        SettingsTest::SetUp();
        base_ = temp_path("");
        ASSERT_TRUE(names_init(1009));
        tmap_init(8);
        crvdata_init(8);
        attractdb_init();
        curveAttractdb_init();
        ASSERT_TRUE(assdb_init(1009));
        captured([&] {
            ASSERT_TRUE(hair_params_init((kCurtain + ".hair").c_str()));
            ASSERT_TRUE(assdb_readfile((kCurtain + ".assign").c_str()));
        });
    }
    void TearDown() override {
        smFreeAfterUse(&defs.shadows);
        korvo_tables_done();
        for (const char* ext : {"_sun.0001.smap", "_sun.0002.smap"})
            std::remove((base_ + ext).c_str());
        SettingsTest::TearDown();
    }

    // Renders the map of a frame and sets it up for lookups.
    void render(int frame) {
        defs.frame = frame;
        captured([&] {
            hair_params_init_visibility();
            ASSERT_TRUE(scndb_init(kCurtain.c_str(), frame, 0));
            hair_camera* view = camdb_get(0);
            mdldb_xform(0);
            lgtdb_xform(view->get_matrix(), 0);

            defs.shadows.shadow_pass = 1;
            defs.tiles[1] = 2;  // the geometry serves both passes
            ASSERT_EQ(smSetUpToCreate(&defs.shadows), 0);
            ASSERT_EQ(defs.shadows.count, 1);
            defs.shadows.current = 0;
            ShadowMapInfo& e = defs.shadows.entries[0];
            hair_camera cam;
            cam.set_matrix(lgtdb_get_new_shadow_matrix(e.name, 0, 0, view->get_matrix()));
            cam.set_shadow_params(e.params.angle);
            cam.set_image_params(128, 128, cam_window(), zcalc());
            ASSERT_TRUE(cam.init_zbuffer());
            mdldb_zbuffer(&cam, 0);
            mdldb_hair(cam);
            cam.render_shadow_map(smSmapFileName(base_.c_str(), "sun", frame).c_str(), 0);
            smFreeAfterCreate(&defs.shadows);
            defs.shadows.shadow_pass = 0;

            defs.shadows.use_shadows = 1;
            ASSERT_TRUE(smSetUpToUse(&defs.shadows, base_.c_str(), frame, *view));
        });
    }
    float mult(float x, float y, float z) const {
        return smCalcShadowMultForPoint(&defs.shadows.entries[0], kivPoint(x, y, z), 1.0f);
    }

    std::string base_;
};

}  // namespace

TEST_F(ShadowScene, CurtainOfHairShadowsThePointsBehindItOnly) {
    render(1);
    if (HasFatalFailure()) return;

    const ShadowMapInfo& e = defs.shadows.entries[0];
    ASSERT_TRUE(e.kind == SHADOW_MAP && e.kernel_count == 2 && e.light && e.light->smap_index == 0);
    EXPECT_LT(mult(1.0f, 2.6f, 0.0f), 0.2f) << "behind the curtain";
    EXPECT_LT(mult(3.0f, 2.5f, 0.5f), 0.2f) << "further behind";
    EXPECT_EQ(mult(-1.0f, 2.6f, 0.0f), 1.0f) << "in front of it";
    EXPECT_EQ(mult(1.0f, 1.5f, 0.0f), 1.0f) << "below it";
    EXPECT_EQ(mult(1.0f, 2.6f, 2.0f), 1.0f) << "beside it";
    // Light space onto the map: the axis at its centre, a point off the
    // axis by half its view (tan of the angle) three quarters across.
    ShadowMapInfo* entry = &defs.shadows.entries[0];
    const float t = std::tan(entry->params.angle * 0.017453292f);
    const float points[][5] = {{0, 0, -4, 0.5f, 0.5f},
                               {2 * t, 0, -4, 0.75f, 0.5f},
                               {0, -3 * t, -6, 0.5f, 0.25f},
                               {-9 * t, 0, -3, 0, 0.5f}};
    for (const auto& p : points) {
        float sx, sy, u, v;
        smCalcShadowScreenPoint(entry, kivPoint(p[0], p[1], p[2]), sx, sy, u, v);
        EXPECT_NEAR(u, p[3], 1e-5) << p[0] << "," << p[1];
        EXPECT_NEAR(v, p[4], 1e-5) << p[0] << "," << p[1];
        if (p[3] > 0) EXPECT_NEAR(sx + sy, (p[3] + p[4]) * 128, 2e-3);
    }
}

TEST_F(ShadowScene, CurtainOutsideTheConeCastsNothing) {
    render(2);
    if (HasFatalFailure()) return;
    for (float z : {-0.5f, 0.0f, 0.5f}) EXPECT_EQ(mult(1.0f, 2.6f, z), 1.0f) << z;
}
