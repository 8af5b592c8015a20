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
#include "generation/hair_records.h"
#include "generation/hair_shaping.h"
#include "generation/hair_spawning.h"
#include "geometry/model_database.h"
#include "render/camera.h"
#include "test_support.h"

namespace {

// A hair as the renderer would place it: world-space points, widths and
// diffuse colours of its vertices.
struct drawn_hair {
    std::vector<kivPoint> points;
    std::vector<float> widths;
    std::vector<kivColor> colors;
};
std::vector<drawn_hair> g_drawn;

// The stand-in renderer: applies the description's placement as the
// rasteriser does and keeps the result.
void draw(hair_camera*, control_hair* h, hair_state* s) {
    drawn_hair d;
    for (int k = 0; k < h->count; ++k) {
        d.points.push_back(h->points[k] * s->params->matrix);
        d.widths.push_back(h->vertices[k].width);
        d.colors.push_back(h->vertices[k].diffuse);
    }
    g_drawn.push_back(d);
}

// A curve file read back: per curve its points, widths and colours.
struct curves {
    std::vector<int> counts;
    std::vector<kivPoint> points;
    std::vector<float> widths;
    std::vector<kivColor> colors;
    bool ok = false;
};

// The numbers inside the brackets of "NAME = [ … ]" in a .usda text,
// parentheses and commas skipped.
std::vector<double> usda_array(const std::string& text, const std::string& name) {
    std::vector<double> out;
    const std::size_t at = text.find(name + " = [");
    if (at == std::string::npos) return out;
    const std::size_t open = at + name.size() + 3, close = text.find(']', open);
    std::string body = text.substr(open + 1, close - open - 1);
    for (char& c : body)
        if (c == ',' || c == '(' || c == ')') c = ' ';
    std::istringstream in(body);
    double v;
    while (in >> v) out.push_back(v);
    return out;
}

curves read_usda(const std::string& path) {
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    curves c;
    if (text.compare(0, 10, "#usda 1.0\n") != 0 ||
        text.find("def BasisCurves \"hair\"") == std::string::npos ||
        text.find("uniform token type = \"linear\"") == std::string::npos)
        return c;
    for (double v : usda_array(text, "int[] curveVertexCounts")) c.counts.push_back(int(v));
    const std::vector<double> p = usda_array(text, "point3f[] points");
    for (std::size_t i = 0; i + 2 < p.size(); i += 3)
        c.points.emplace_back(p[i], p[i + 1], p[i + 2]);
    for (double v : usda_array(text, "float[] widths")) c.widths.push_back(float(v));
    const std::vector<double> k = usda_array(text, "color3f[] primvars:displayColor");
    for (std::size_t i = 0; i + 2 < k.size(); i += 3)
        c.colors.emplace_back(k[i], k[i + 1], k[i + 2], 1);
    // Widths and colours are per vertex.
    const std::size_t vertex = text.find("interpolation = \"vertex\"");
    c.ok = vertex != std::string::npos &&
           text.find("interpolation = \"vertex\"", vertex + 1) != std::string::npos &&
           p.size() % 3 == 0 && k.size() % 3 == 0;
    return c;
}

// "v x y z r g b" lines and "l" lines of consecutive indices.
curves read_obj(const std::string& path) {
    std::ifstream in(path);
    curves c;
    c.ok = true;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        std::string tag;
        s >> tag;
        if (tag == "v") {
            kivPoint p;
            kivColor k(0, 0, 0, 1);
            s >> p.x >> p.y >> p.z >> k.r >> k.g >> k.b;
            c.ok = c.ok && !s.fail();
            c.points.push_back(p), c.colors.push_back(k);
        } else if (tag == "l") {
            long i, first = -1, n = 0, previous = 0;
            while (s >> i) {
                c.ok = c.ok && i >= 1 && i <= static_cast<long>(c.points.size()) &&
                       (first < 0 || i == previous + 1);
                if (first < 0) first = i;
                previous = i, ++n;
            }
            c.counts.push_back(static_cast<int>(n));
        } else if (!tag.empty() && tag[0] != '#') {
            c.ok = false;
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
        g_drawn.clear();
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
        EXPECT_EQ(w.curves(), static_cast<long>(g_drawn.size()));
    }
    // The curves equal the drawn hairs, point for point.
    static void expect_drawn(const curves& c, bool with_widths) {
        ASSERT_TRUE(c.ok);
        ASSERT_EQ(c.counts.size(), g_drawn.size());
        std::size_t total = 0;
        for (int n : c.counts) total += n;
        ASSERT_EQ(total, c.points.size());
        ASSERT_EQ(c.colors.size(), c.points.size());
        if (with_widths) ASSERT_EQ(c.widths.size(), c.points.size());
        std::size_t k = 0;
        for (std::size_t h = 0; h < g_drawn.size(); ++h) {
            ASSERT_EQ(static_cast<std::size_t>(c.counts[h]), g_drawn[h].points.size());
            for (std::size_t i = 0; i < g_drawn[h].points.size(); ++i, ++k) {
                expect_near(c.points[k], g_drawn[h].points[i], 1e-6f, "point");
                EXPECT_NEAR(c.colors[k].r, g_drawn[h].colors[i].r, 1e-5f);
                EXPECT_NEAR(c.colors[k].b, g_drawn[h].colors[i].b, 1e-5f);
                if (with_widths) EXPECT_FLOAT_EQ(c.widths[k], g_drawn[h].widths[i] * 2.5f);
            }
        }
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
    ASSERT_GT(g_drawn.size(), 10u);
    const curves c = read_usda(path);
    expect_drawn(c, true);
    if (HasFatalFailure()) return;
    // Root to tip: the root takes the base colour, the tip the tip colour;
    // the roots lie on the quad moved by the description's placement.
    EXPECT_NEAR(c.colors[0].r, 0.9f, 1e-5f);
    EXPECT_NEAR(c.colors[c.counts[0] - 1].b, 0.8f, 1e-5f);
    EXPECT_NEAR(c.points[0].z, 5.0f, 1e-5f);
    EXPECT_TRUE(c.points[0].x >= 3.0f && c.points[0].x <= 4.0f);
}

TEST_F(CurveExport, ObjPolylinesAndTheStandaloneExportAgree) {
    const std::string obj = file(".obj");
    render_recording(obj);
    expect_drawn(read_obj(obj), false);
    // Without rendering: the same hairs, and nothing reaches the renderer.
    const std::vector<drawn_hair> drawn = g_drawn;
    g_drawn.clear();
    const std::string usda = file(".USDA");
    EXPECT_EQ(
        captured([&] { EXPECT_EQ(mdldb_export_curves(usda.c_str(), cam_), 1); }).find("ERROR"),
        std::string::npos);
    EXPECT_TRUE(g_drawn.empty());
    g_drawn = drawn;
    expect_drawn(read_usda(usda), true);
}

TEST_F(CurveExport, UnknownExtensionsAndUnwritableFilesAreRefused) {
    EXPECT_EQ(curve_format_of("a/b.obj"), curve_format::obj);
    EXPECT_EQ(curve_format_of("hair.UsdA"), curve_format::usda);
    EXPECT_EQ(curve_format_of("hair.usd"), curve_format::none);
    EXPECT_EQ(curve_format_of("dir.obj/hair"), curve_format::none);
    curve_writer w;
    EXPECT_EQ(captured([&] { EXPECT_EQ(w.open("hair.abc"), 0); }),
              "ERROR: curve file hair.abc: the name must end in .usda or .obj\n");
    EXPECT_EQ(captured([&] { EXPECT_EQ(w.open("/nonexistent/dir/hair.obj"), 0); }),
              "ERROR: cannot create curve file /nonexistent/dir/hair.obj\n");
    EXPECT_EQ(w.close(), 0);
}

}  // namespace
