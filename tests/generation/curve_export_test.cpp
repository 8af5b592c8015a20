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

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The numbers of "NAME = [ ... ]" in a .usda text, tuples flattened.
std::vector<double> usda_array(const std::string& text, const std::string& name) {
    const std::size_t open = text.find(name + " = [") + name.size() + 4;
    std::string body = text.substr(open, text.find(']', open) - open);
    for (char& c : body)
        if (c == ',' || c == '(' || c == ')') c = ' ';
    std::istringstream in(body);
    std::vector<double> out;
    for (double v; in >> v;) out.push_back(v);
    return out;
}

curves read_usda(const std::string& path) {
    const std::string text = slurp(path);
    EXPECT_EQ(text.rfind("#usda 1.0\n", 0), 0u);
    EXPECT_NE(text.find("def BasisCurves \"hair\"\n{\n    uniform token type = \"linear\""),
              std::string::npos);
    return {usda_array(text, "int[] curveVertexCounts"), usda_array(text, "point3f[] points"),
            usda_array(text, "float[] widths"),
            usda_array(text, "color3f[] primvars:displayColor")};
}

// "v x y z r g b" lines, and "l" lines joining the points just written.
curves read_obj(const std::string& path) {
    std::istringstream in(slurp(path));
    curves c;
    for (std::string line, tag; std::getline(in, line);) {
        std::istringstream s(line);
        s >> tag;
        double v[6];
        if (tag == "v" && s >> v[0] >> v[1] >> v[2] >> v[3] >> v[4] >> v[5]) {
            c.points.insert(c.points.end(), v, v + 3),
                c.colors.insert(c.colors.end(), v + 3, v + 6);
        } else if (tag == "l") {
            std::vector<long> index;
            for (long i; s >> i;) index.push_back(i);
            const long n = long(index.size()), total = long(c.points.size() / 3);
            for (long k = 0; k < n; ++k) EXPECT_EQ(index[k], total - n + 1 + k);
            c.counts.push_back(double(n));
        }
    }
    return c;
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
        const bool usda = suffix[1] == 'u';
        const curves c = usda ? read_usda(path) : read_obj(path);
        EXPECT_EQ(c.counts, g_drawn.counts);
        same(c.points, g_drawn.points, 1.0);
        same(c.colors, g_drawn.colors, 1.0);
        if (usda) same(c.widths, g_drawn.widths, 2.5);
    }
    const curves drawn = g_drawn;
    g_drawn = curves();
    const std::string usda = file(".USDA");
    EXPECT_EQ(
        captured([&] { EXPECT_EQ(mdldb_export_curves(usda.c_str(), cam_), 1); }).find("ERROR"),
        std::string::npos);
    EXPECT_TRUE(g_drawn.counts.empty());
    const curves c = read_usda(usda);
    EXPECT_EQ(c.counts, drawn.counts);
    same(c.points, drawn.points, 1.0);
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
