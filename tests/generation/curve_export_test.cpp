// Shaped hairs written as curves: their points are the hairs the renderer is
// handed, placed by the description's matrix (object to world).
#include "generation/curve_export.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "generation/hair_shaping.h"
#include "generation/hair_spawning.h"
#include "geometry/model_database.h"
#include "render/camera.h"
#include "test_support.h"

namespace {

// Points per curve, then x y z, width and r g b of every point.
struct curves {
    std::vector<double> counts, points, widths, colors;
};
curves g_drawn;  // what the stand-in renderer got, placed in double precision

void draw(hair_camera*, control_hair* h, hair_state* s) {
    const float* m = s->params->matrix.m;
    g_drawn.counts.push_back(h->count);
    for (int k = 0; k < h->count; ++k) {
        const kivPoint& p = h->points[k];
        for (int j = 0; j < 3; ++j)
            g_drawn.points.push_back(double(p.x) * m[j] + double(p.y) * m[4 + j] +
                                     double(p.z) * m[8 + j] + m[12 + j]);
        const kivColor& c = h->vertices[k].diffuse;
        g_drawn.widths.push_back(h->vertices[k].width);
        g_drawn.colors.insert(g_drawn.colors.end(), {c.r, c.g, c.b});
    }
}

// The numbers after "NAME = [" (a .usda array, tuples flattened) or on the
// lines starting with NAME (an .obj file), up to n per line.
std::vector<double> numbers(const std::string& path, const std::string& name, int n = 1 << 30) {
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<double> out;
    for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        std::string body =
            text.substr(at + name.size(), text.find_first_of("]\n", at) - at - name.size());
        for (char& c : body)
            if (c == ',' || c == '(' || c == ')' || c == '[' || c == '=') c = ' ';
        std::istringstream s(body);
        int k = 0;
        for (double v; k < n && s >> v; ++k) out.push_back(v);
    }
    return out;
}

void same(const std::vector<double>& a, const std::vector<double>& b, double scale) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) ASSERT_NEAR(a[i], b[i] * scale, 1e-5) << i;
}

// One unit quad in z = 0 with "fur": placed by a rotation, a scale and a move.
class CurveExport : public testing::Test {
  protected:
    void SetUp() override {
        opt_flags = 0;
        ASSERT_TRUE(names_init(64) == 1 && assdb_init(16) == 1 && mdldb_init(4, 0) == 1 &&
                    hair_shape_prepare(8));
        previous_ = mdldb_set_hair_sink(draw);
        g_drawn = curves();
        defs.tiles[0] = 2;  // the geometry stays for a second walk
        hair_params_set_wunits(2.5f);
        hair_params* hp = hair_params_list_add(names_add("fur"));
        hp->density = hp_scalar(40.0f), hp->segments = hp_scalar(5.0f);
        hp->scraggle = hp_scalar(0.4f), hp->width_base = hp_scalar(0.02f);
        hp->diffuse_base = hp_color(kivColor(0.9f, 0.5f, 0.1f, 1.0f));
        hp->diffuse_tip = hp_color(kivColor(0.1f, 0.2f, 0.8f, 1.0f));
        hp->matrix = kivMatrix(0, 2, 0, 0, -1, 0, 0.5f, 0, 0, 0, 3, 0, 3, -2, 5, 1);
        hair_model* m = mdldb_get_new(0);
        mdldb_set_type(m, MODEL_POLY, "skin");
        assdb_assign_hair("fur", m->name);
        kivPolygons* p = m->polygons();
        p->set_nb_verts(4), p->set_nb_texs(4), p->set_nb_polys(1), p->set_nb_norms(1);
        p->set_norm(0, {0, 0, 1});
        for (int i = 0; i < 4; ++i) {
            const kivPoint c(i == 1 || i == 2 ? 1.0f : 0.0f, i < 2 ? 0.0f : 1.0f, 0.0f);
            p->set_vert(i, c), p->set_tex(i, c);
        }
        p->set_poly(0, {4, {0, 1, 2, 3}, {0, 0, 0, 0}, {0, 1, 2, 3}});
    }
    void TearDown() override {
        mdldb_set_hair_sink(previous_);
        for (const std::string& f : files_) std::remove(f.c_str());
        assdb_done();
        hair_params_list_clear();
        hair_params_set_wunits(1.0f);
        mdldb_cleanup();
        hair_shape_release();
        names_done();
    }
    std::string file(const std::string& suffix) {
        files_.push_back(temp_path(suffix));
        return files_.back();
    }
    hair_camera cam_;
    SettingsGuard settings_;

  private:
    std::vector<std::string> files_;
    mdldb_hair_sink previous_ = nullptr;
};

// Recorded while rendering, .usda and .obj carry the drawn hairs point for
// point, colours root to tip and widths in world units; the standalone
// export writes the same hairs and draws nothing.
TEST_F(CurveExport, FilesHoldTheDrawnHairsInWorldSpace) {
    for (const char* suffix : {".usda", ".obj"}) {
        const std::string path = file(suffix);
        curve_writer w;
        ASSERT_EQ(w.open(path.c_str()), 1);
        g_drawn = curves();
        {
            curve_recording recording(w);
            captured([&] { mdldb_hair(cam_); });
        }
        ASSERT_EQ(w.close(), 1);
        ASSERT_GT(g_drawn.counts.size(), 10u);
        EXPECT_EQ(w.curves(), long(g_drawn.counts.size()));
        if (suffix[1] == 'u') {
            EXPECT_EQ(numbers(path, "int[] curveVertexCounts"), g_drawn.counts);
            same(numbers(path, "point3f[] points"), g_drawn.points, 1.0);
            same(numbers(path, "float[] widths"), g_drawn.widths, 2.5);
            same(numbers(path, "color3f[] primvars:displayColor"), g_drawn.colors, 1.0);
        } else {
            const std::vector<double> joined = numbers(path, "\nl ");  // every point once, in order
            for (std::size_t i = 0; i < joined.size(); ++i) ASSERT_EQ(joined[i], i + 1.0);
            EXPECT_EQ(joined.size(), g_drawn.points.size() / 3);
            same(numbers(path, "\nv ", 3), g_drawn.points, 1.0);
        }
    }
    const curves drawn = g_drawn;
    g_drawn = curves();
    const std::string usda = file(".USDA");
    EXPECT_EQ(
        captured([&] { EXPECT_EQ(mdldb_export_curves(usda.c_str(), cam_), 1); }).find("ERROR"),
        std::string::npos);
    EXPECT_TRUE(g_drawn.counts.empty());
    EXPECT_EQ(numbers(usda, "int[] curveVertexCounts"), drawn.counts);
    same(numbers(usda, "point3f[] points"), drawn.points, 1.0);
}

TEST_F(CurveExport, OtherNamesAreRefused) {
    EXPECT_EQ(curve_format_of("dir.obj/hair.usd"), curve_format::none);
    curve_writer w;
    EXPECT_EQ(captured([&] { EXPECT_EQ(w.open("hair.abc"), 0); }),
              "ERROR: curve file hair.abc: the name must end in .usda or .obj\n");
    EXPECT_EQ(captured([&] { EXPECT_EQ(w.open("/nonexistent/dir/hair.obj"), 0); }),
              "ERROR: cannot create curve file /nonexistent/dir/hair.obj\n");
}

}  // namespace
