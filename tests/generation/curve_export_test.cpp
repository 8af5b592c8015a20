// Shaped hairs written as curves: the files parse, and their curves are the
// hairs the renderer is handed, in world space.
#include "generation/curve_export.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "foundation/render_settings.h"
#include "descriptions/hair_records.h"
#include "generation/hair_shaping.h"
#include "generation/hair_spawning.h"
#include "geometry/model_database.h"
#include "render/camera.h"
#include "test_support.h"

namespace {

// Curves as flat arrays: points per curve, then x y z, width and r g b of
// every point.
struct curves {
    std::vector<double> counts, points, widths, colors;
};
// What the stand-in renderer was handed, placed as the rasteriser places it.
curves g_drawn;

void draw(hair_camera*, control_hair* h, hair_state* s) {
    g_drawn.counts.push_back(h->count);
    for (int k = 0; k < h->count; ++k) {
        const kivPoint p = h->points[k] * s->params->matrix;
        const kivColor& c = h->vertices[k].diffuse;
        g_drawn.points.insert(g_drawn.points.end(), {p.x, p.y, p.z});
        g_drawn.widths.push_back(h->vertices[k].width);
        g_drawn.colors.insert(g_drawn.colors.end(), {c.r, c.g, c.b});
    }
}

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The numbers of "NAME = [ … ]" in a .usda text, tuples flattened.
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
    EXPECT_EQ(text.compare(0, 10, "#usda 1.0\n"), 0);
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
            c.points.insert(c.points.end(), v, v + 3);
            c.colors.insert(c.colors.end(), v + 3, v + 6);
        } else if (tag == "l") {
            std::vector<long> index;
            for (long i; s >> i;) index.push_back(i);
            const long n = static_cast<long>(index.size()), total = c.points.size() / 3;
            for (long k = 0; k < n; ++k) EXPECT_EQ(index[k], total - n + 1 + k);
            c.counts.push_back(static_cast<double>(n));
        }
    }
    return c;
}

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
        hp_ = hair_params_list_add(names_add("fur"));
        hp_->density = hp_scalar(40.0f), hp_->segments = hp_scalar(5.0f);
        hp_->scraggle = hp_scalar(0.4f), hp_->curl_tip = hp_scalar(0.5f);
        hp_->width_base = hp_scalar(0.02f), hp_->width_tip = hp_scalar(0.005f);
        hp_->diffuse_base = hp_color(kivColor(0.9f, 0.5f, 0.1f, 1.0f));
        hp_->diffuse_tip = hp_color(kivColor(0.1f, 0.2f, 0.8f, 1.0f));
        hp_->matrix = kivMatrix(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 3, -2, 5, 1);
        // A unit quad in z = 0.
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
        defs = saved_defs_;
        opt_flags = saved_flags_;
    }
    std::string file(const std::string& suffix) {
        files_.push_back(temp_path(suffix));
        return files_.back();
    }
    // Renders the frame (hairs to draw) while recording them into path.
    void render_recording(const std::string& path) {
        curve_writer w;
        ASSERT_EQ(w.open(path.c_str()), 1);
        {
            curve_recording recording(w);
            captured([&] { mdldb_hair(cam_); });
        }
        ASSERT_EQ(w.close(), 1);
        EXPECT_EQ(w.curves(), static_cast<long>(g_drawn.counts.size()));
    }
    // The curves are the drawn hairs, point for point; widths in world units.
    static void expect_drawn(const curves& c, bool with_widths) {
        EXPECT_EQ(c.counts, g_drawn.counts);
        double total = 0;
        for (double n : c.counts) total += n;
        EXPECT_EQ(total * 3, c.points.size());
        auto same = [](const std::vector<double>& a, const std::vector<double>& b, double scale) {
            ASSERT_EQ(a.size(), b.size());
            for (std::size_t i = 0; i < a.size(); ++i) ASSERT_NEAR(a[i], b[i] * scale, 1e-5) << i;
        };
        same(c.points, g_drawn.points, 1.0);
        same(c.colors, g_drawn.colors, 1.0);
        if (with_widths) same(c.widths, g_drawn.widths, 2.5);
    }

    hair_params* hp_ = nullptr;
    hair_camera cam_;

  private:
    std::vector<std::string> files_;
    defaults saved_defs_ = defs;
    int saved_flags_ = opt_flags;
    mdldb_hair_sink previous_ = nullptr;
};

TEST_F(CurveExport, UsdaCurvesAreTheDrawnHairsInWorldSpace) {
    const std::string path = file(".usda");
    render_recording(path);
    ASSERT_GT(g_drawn.counts.size(), 10u);
    const curves c = read_usda(path);
    expect_drawn(c, true);
    // Root to tip: base colour to tip colour; the roots lie on the quad
    // moved by the description's placement.
    ASSERT_EQ(c.colors.size(), c.points.size());
    EXPECT_NEAR(c.colors[0], 0.9, 1e-6);
    EXPECT_NEAR(c.colors[3 * c.counts[0] - 1], 0.8, 1e-6);
    EXPECT_TRUE(c.points[0] >= 3.0 && c.points[0] <= 4.0 && c.points[2] == 5.0);
}

TEST_F(CurveExport, ObjPolylinesAndTheStandaloneExportAgree) {
    const std::string obj = file(".obj");
    render_recording(obj);
    expect_drawn(read_obj(obj), false);
    // Without rendering: the same hairs, and nothing reaches the renderer.
    const curves drawn = g_drawn;
    g_drawn = curves();
    const std::string usda = file(".USDA");
    EXPECT_EQ(
        captured([&] { EXPECT_EQ(mdldb_export_curves(usda.c_str(), cam_), 1); }).find("ERROR"),
        std::string::npos);
    EXPECT_TRUE(g_drawn.counts.empty());
    g_drawn = drawn;
    expect_drawn(read_usda(usda), true);

    // Other names are refused.
    EXPECT_EQ(curve_format_of("dir.obj/hair.usd"), curve_format::none);
    curve_writer w;
    EXPECT_EQ(captured([&] { EXPECT_EQ(w.open("hair.abc"), 0); }),
              "ERROR: curve file hair.abc: the name must end in .usda or .obj\n");
    EXPECT_EQ(captured([&] { EXPECT_EQ(w.open("/nonexistent/dir/hair.obj"), 0); }),
              "ERROR: cannot create curve file /nonexistent/dir/hair.obj\n");
}

}  // namespace
