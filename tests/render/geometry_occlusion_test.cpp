#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "render/geometry_occlusion.h"
#include "render/model_output.h"
#include "render_support.h"

namespace {

class Occlusion : public render_test::RasterTest {
  protected:
    // A double-sided model of one polygon (world space is camera space).
    static hair_model* face(const char* name, const std::vector<kivPoint>& pts) {
        hair_model* m = poly_model(name, pts, {{static_cast<int>(pts.size()), {0, 1, 2, 3}}});
        m->zbuffer_flag1 = true;
        return m;
    }
};

}  // namespace

TEST_F(Occlusion, FacingTestCullsReversesOrKeeps) {
    // Front-facing polygons run clockwise on the screen.
    // Rows: front-facing, flag1 (double-sided), flag2 (reversed), drawn.
    const bool cases[][4] = {{1, 0, 0, 1}, {0, 0, 0, 0}, {0, 1, 0, 1}, {1, 0, 1, 0}, {0, 0, 1, 1}};
    for (const auto& c : cases) {
        cam_.clear_arr();
        kivPoint p[3] = {at(10, 10), at(10, 15), at(15, 10)};
        if (!c[0]) std::swap(p[1], p[2]);
        cam_.zbuff_poly(3, p, c[1], c[2]);
        EXPECT_NEAR(coverage_sum(), c[3] ? 12.5f : 0.0f, 1e-3) << c[0] << c[1] << c[2];
    }
    // The depth is the distance of the pixel's average camera-space point.
    EXPECT_NEAR(geometry(10, 10, true), kivVector(at(10.5f, 10.5f)).length(), 1e-3);
}

TEST_F(Occlusion, PolygonsBehindTheNearPlane) {
    // A floor 2 units below the eye reaching behind the camera with one
    // corner (a pentagon once clipped) or two; then a triangle wholly
    // behind. The rows below the horizon (23.98) are covered completely.
    std::vector<kivPoint> floors[] = {
        {{-1000, -2, -1000}, {1000, -2, -1000}, {1000, -2, 5}, {-1000, -2, -0.001f}},
        {{-1000, -2, -1000}, {1000, -2, -1000}, {1000, -2, 5}, {-1000, -2, 5}},
        {{-1000, -2, 5}, {1000, -2, 5}, {0, 5, 5}}};
    for (int i = 0; i < 3; ++i) {
        cam_.clear_arr();
        cam_.zbuff_poly(static_cast<int>(floors[i].size()), floors[i].data(), true, false);
        for (int r = 0; r < 48; ++r)
            for (int c = 0; c < 64; c += 7)
                if (i == 2 || r >= 25 || r <= 20) {
                    EXPECT_NEAR(geometry(r, c), i < 2 && r <= 20, 1e-4)
                        << i << " " << c << "," << r;
                }
    }
}

TEST_F(Occlusion, ModelWalkHonoursExclusionsPassFlagsAndConcaveQuads) {
    opt_flags = 3;
    for (int run = 0; run < 4; ++run) {
        const bool shadow = run & 1, old = run & 2;
        defs.shadows.shadow_pass = shadow;
        old ? setenv("KORVO_FUR_OLD_BEHAVIOR", "1", 1) : unsetenv("KORVO_FUR_OLD_BEHAVIOR");
        cam_.clear_arr();
        mdldb_cleanup();
        ASSERT_EQ(mdldb_init(3, 0), 1);
        // Excluded from both renders; casting no shadow but carrying hair,
        // and unseen by the camera (which no hair makes up for); a quad
        // given in concave order (its lowest and second-lowest corners
        // opposite each other).
        hair_model* excluded = face("excluded", {at(2, 2), at(2, 40), at(12, 40), at(12, 2)});
        hair_model* furry = face("furry", {at(50, 2), at(50, 40), at(60, 40), at(60, 2)});
        face("dart", {at(10, 10), at(20, 25), at(12, 12), at(5, 25)});
        furry->polygons()->set_casts_shadows(false);
        furry->polygons()->set_prim_visibility(shadow);
        assdb_exclude_hair_render(excluded->name), assdb_exclude_smap_render(excluded->name);
        assdb_assign_hair("fur", furry->name);
        EXPECT_EQ(captured([&] { mdldb_zbuffer(&cam_, 0); }),
                  "INFO: model excluded excluded from computation.\n"
                  "BUG: model dart has an invalid (concave) polygon, ignoring...\n");
        EXPECT_EQ(coverage_sum(), shadow && !old ? 380.0f : 0.0f) << run;
        // The geometry of models without hair is released.
        EXPECT_TRUE(excluded->type == MODEL_NULL && furry->type == MODEL_POLY) << run;
    }
}

// Models are written as OBJ files in camera space; other kinds write nothing.
TEST_F(Occlusion, ModelsAreWrittenInCameraSpace) {
    const std::string dir = temp_path("_objs"), tri = dir + "/tri.3.obj",
                      dots = dir + "/dots.3.obj";
    ::mkdir(dir.c_str(), 0755);
    defs.output_dir = dir.c_str(), defs.frame = 3;
    ASSERT_EQ(mdldb_init(2, 0), 1);
    face("tri", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    ASSERT_EQ(mdldb_set_type(mdldb_get_new(0), MODEL_DPNT, "dots"), 1);
    cam_.set_matrix(kivMatrix(0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, -5, 1));  // (z, y, −x − 5)
    EXPECT_EQ(captured([&] { mdldb_output_obj(&cam_, 0); }), "");
    std::stringstream text;
    text << std::ifstream(tri).rdbuf() << std::ifstream(dots).rdbuf();
    EXPECT_EQ(text.str(),
              "v 0.000000 0.000000 -5.000000\nv 0.000000 0.000000 -6.000000\n"
              "v 0.000000 1.000000 -5.000000\n\n\n\nf 1/1/1 2/1/1 3/1/1 \n");
    for (const std::string& f : {tri, dots, dir}) std::remove(f.c_str());
}
