#include "render/model_output.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "foundation/names.h"
#include "geometry/model_database.h"
#include "render/camera.h"
#include "render_support.h"

namespace {

// Models written into a directory of the test's own, frame 3, by a camera
// 5 units along +z (world z becomes z − 5).
class ModelOutput : public render_test::SettingsTest {
  protected:
    void SetUp() override {
        SettingsTest::SetUp();
        ASSERT_EQ(names_init(64), 1);
        ::mkdir(dir_.c_str(), 0755);
        defs.output_dir = dir_.c_str();
        defs.frame = 3;
        cam_.set_matrix(kivMatrix(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -5, 1));
    }
    void TearDown() override {
        mdldb_cleanup();
        names_done();
        for (const char* name : {"tri", "patch"}) std::remove(path(name).c_str());
        ::rmdir(dir_.c_str());
        SettingsTest::TearDown();
    }

    std::string path(const char* model) const { return dir_ + "/" + model + ".3.obj"; }
    std::string read(const char* model) const {
        std::stringstream s;
        s << std::ifstream(path(model)).rdbuf();
        return s.str();
    }
    // A triangle model in the xy plane.
    static void triangle(int which = 0) {
        hair_model* m = mdldb_get_new(which);
        EXPECT_EQ(mdldb_set_type(m, MODEL_POLY, "tri"), 1);
        kivPolygons* p = m->polygons();
        p->set_nb_verts(3);
        for (int i = 0; i < 3; ++i) p->set_vert(i, kivPoint(i == 1, i == 2, 0));
        p->set_nb_polys(1);
        p->set_poly(0, kivPoly{3, {0, 1, 2, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}});
    }

    const std::string dir_ = temp_path("_objs");
    hair_camera cam_;
};

}  // namespace

TEST_F(ModelOutput, PolygonAndNurbsModelsAreWrittenInCameraSpace) {
    ASSERT_EQ(mdldb_init(3, 0), 1);
    triangle();
    ASSERT_EQ(mdldb_set_type(mdldb_get_new(0), MODEL_DPNT, "points"), 1);
    mdldb_set_type(mdldb_get_new(0), MODEL_NULL, "nothing");
    const int before = defs.geometry_id;
    EXPECT_EQ(captured([&] { mdldb_output_obj(&cam_, 0); }), "");
    EXPECT_EQ(read("tri"),
              "v 0.000000 0.000000 -5.000000\nv 1.000000 0.000000 -5.000000\n"
              "v 0.000000 1.000000 -5.000000\n\n\n\nf 1/1/1 2/1/1 3/1/1 \n");
    EXPECT_EQ(read("points"), "");
}
