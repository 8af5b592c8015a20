// Helpers shared by the renderer tests: settings restored after each test,
// fragments written straight into a z-buffer, a small camera, and an
// independent reference for the area a polygon covers in a pixel.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "descriptions/hair_records.h"
#include "foundation/fur_exception.h"
#include "foundation/names.h"
#include "foundation/render_settings.h"
#include "geometry/model_database.h"
#include "render/camera.h"
#include "render/fragment_list.h"
#include "render/lighting.h"
#include "render/shadow_map.h"
#include "render/shadow_map_file.h"
#include "test_support.h"

namespace render_test {

// Restores defs and opt_flags after the test; hairs are drawn as id 1.
class SettingsTest : public testing::Test {
  protected:
    SettingsTest() { defs.hair_id = 1; }
    SettingsGuard guard_;
};

inline std::unique_ptr<hair_zbuffer> make_zbuffer(int lines, int cols, int list_size = 5) {
    return std::unique_ptr<hair_zbuffer>(hair_zbuffer::create(lines, cols, list_size));
}

// Adds a fragment of hair id with full coverage and colour c to (row, col).
inline void add_fragment(hair_zbuffer& zb, int row, int col, int id, float depth,
                         const kivColor& c) {
    defs.hair_id = id;
    zb.add_hair(*zb.cell(row, col), 1.0f, c, depth, 0xFFFFFFFFu);
}

// A light of type and colour c linked to the models named (the light list,
// of 4, is made on first use); it shines along +y until told otherwise.
inline hair_light* add_light(int type, const kivColor& c = kivColor(1, 1, 1),
                             std::vector<const char*> links = {"skin"}) {
    if (lgtdb_count() == 0) lgtdb_init(4, 0);
    hair_light* l = lgtdb_get_new(0);
    l->type = type, l->color = c, l->direction = kivVector(0, 1, 0);
    l->set_link_count(static_cast<int>(links.size()));
    for (const char* n : links) l->add_link(names_add(n));
    return l;
}

inline void add_geometry(hair_zbuffer& zb, int row, int col, float depth, float coverage,
                         unsigned slices = 0xFFFFFFFFu) {
    zb.add_geometry(*zb.cell(row, col), depth, coverage, slices);
}

// --- Exact coverage reference --------------------------------------------------------
// The area of a simple polygon (either orientation) inside pixel (col, row),
// in double precision: the length of every vertical line inside both the
// polygon and the row, integrated across the pixel. That length is linear
// between the x's of the vertices and of the edges' crossings with the
// row's bounds, so its value at the middle of each such piece is exact.

struct pt {
    double x, y;
};

inline double vertical_span(const std::vector<pt>& p, double x, double y0, double y1) {
    double ys[16];
    int n = 0;
    for (size_t i = 0; i < p.size() && n < 16; ++i) {
        const pt a = p[i], b = p[(i + 1) % p.size()];
        if ((a.x <= x) != (b.x <= x)) ys[n++] = a.y + (x - a.x) * (b.y - a.y) / (b.x - a.x);
    }
    std::sort(ys, ys + n);
    double s = 0;
    for (int i = 0; i + 1 < n; i += 2)
        s += std::max(0.0, std::min(ys[i + 1], y1) - std::max(ys[i], y0));
    return s;
}

inline double pixel_area(const std::vector<pt>& p, int col, int row) {
    std::vector<double> xs = {double(col), col + 1.0};
    for (size_t i = 0; i < p.size(); ++i) {
        const pt a = p[i], b = p[(i + 1) % p.size()];
        xs.push_back(a.x);
        for (double y : {double(row), row + 1.0})
            if ((a.y < y) != (b.y < y)) xs.push_back(a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y));
    }
    std::sort(xs.begin(), xs.end());
    double s = 0;
    for (size_t k = 0; k + 1 < xs.size(); ++k) {
        const double lo = std::max(xs[k], double(col)), hi = std::min(xs[k + 1], col + 1.0);
        if (hi > lo) s += (hi - lo) * vertical_span(p, 0.5 * (lo + hi), row, row + 1.0);
    }
    return s;
}

// Signed area (positive counter-clockwise with y up).
inline double signed_area(const std::vector<pt>& p) {
    double s = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        const pt a = p[i], b = p[(i + 1) % p.size()];
        s += a.x * b.y - b.x * a.y;
    }
    return 0.5 * s;
}

// --- A hand-made shadow map entry ---------------------------------------------------
// An entry over a cols × lines map, all channels 0, seen from a light at the
// origin looking down −z with a 90 degree view (proj_scale 0.5, identity
// matrix); its kernels run from the light's filter size to the object's.
struct map_entry {
    ShadowMapInfo e;
    std::vector<float> maps[SMAP_CHANNELS];

    map_entry(int cols, int lines, int lgt_filter, int obj_filter) {
        init_mapparams(&e.params);
        e.kind = SHADOW_MAP;
        e.params.lgt_filter_size = lgt_filter, e.params.obj_filter_size = obj_filter;
        e.params.map.cols = cols, e.params.map.lines = lines, e.params.map.encoding = 0;
        for (int c = 0; c < SMAP_CHANNELS; ++c) {
            maps[c].assign(static_cast<std::size_t>(cols) * lines, 0.0f);
            e.params.map.maps[c] = maps[c].data();
        }
        e.proj_scale = 0.5f;
        e.xscale = kivFscale(0.0f, static_cast<float>(cols), -0.5f, 0.5f);
        e.yscale = kivFscale(0.0f, static_cast<float>(lines), -0.5f, 0.5f);
        e.kernel_count = std::abs(obj_filter - lgt_filter) / 2 + 1;
        e.kernels = new ShadowMapKernel[e.kernel_count];
        for (int j = 0; j < e.kernel_count; ++j)
            smMakeKernel(e.kernels[j], lgt_filter + (obj_filter >= lgt_filter ? 2 : -2) * j);
    }
    ~map_entry() {
        for (int j = 0; j < e.kernel_count; ++j) delete[] e.kernels[j].weights;
        delete[] e.kernels;
        delete[] e.window_weights;
    }
    // Every pixel gets these four values.
    void fill(float g, float gc, float h, float ho) {
        const float v[SMAP_CHANNELS] = {g, gc, h, ho};
        for (int c = 0; c < SMAP_CHANNELS; ++c) maps[c].assign(maps[c].size(), v[c]);
    }
};

// --- A small camera ------------------------------------------------------------------
// 64 × 48 pixels at the origin looking down −z: the camera-space point
// (x, y, −10) lands on pixel (x + 32, y + 24); pixel_scale is 10. The name
// table, the assignment table and a description "fur" are ready; models and
// lights are cleaned up afterwards.
class RasterTest : public SettingsTest {
  protected:
    void SetUp() override {
        small_camera(cam_);
        ASSERT_EQ(names_init(64), 1);
        ASSERT_EQ(assdb_init(16), 1);
        fur_ = hair_params_list_add(names_add("fur"));
    }
    void TearDown() override {
        mdldb_cleanup();
        lgtdb_cleanup();
        assdb_done();
        hair_params_list_clear();
        names_done();
        unsetenv("KORVO_FUR_OLD_BEHAVIOR");
    }

    // Makes cam this camera, cropped to crop, seen through matrix.
    static void small_camera(hair_camera& cam, const cam_window& crop = cam_window(),
                             const kivMatrix& matrix = kivMatrix()) {
        cam.set_aperture(64.0f), cam.set_focal(10.0f), cam.set_matrix(matrix);
        cam.set_image_params(48, 64, crop, zcalc());
        ASSERT_EQ(cam.init_zbuffer(), 1);
    }
    // Every pixel's colour in cam's z-buffer, row by row.
    static std::vector<kivColor> picture(hair_camera& cam) {
        hair_zbuffer& z = *cam.zbuffer();
        std::vector<kivColor> p;
        for (int i = 0; i < z.lines() * z.cols(); ++i)
            p.push_back(z.resolve_color(z.record(i / z.cols(), i % z.cols())));
        return p;
    }
    // cam's picture against an expected one: alpha and green.
    static void expect_picture(hair_camera& cam, const std::vector<kivColor>& expected, float tol,
                               const std::string& what = "") {
        const std::vector<kivColor> got = picture(cam);
        ASSERT_EQ(got.size(), expected.size());
        for (size_t i = 0; i < got.size(); ++i) {
            ASSERT_NEAR(got[i].a, expected[i].a, tol)
                << what << " pixel " << i % 64 << "," << i / 64;
            ASSERT_NEAR(got[i].g, expected[i].g, tol)
                << what << " pixel " << i % 64 << "," << i / 64;
        }
    }

    // A polygon of a test model: its corner count and vertex indices.
    struct face {
        int n;
        int verts[4];
    };
    // A model of polygons through pts (world space is camera space).
    static hair_model* poly_model(const char* name, const std::vector<kivPoint>& pts,
                                  const std::vector<face>& faces) {
        hair_model* m = mdldb_get_new(0);
        mdldb_set_type(m, MODEL_POLY, name);
        kivPolygons* p = m->polygons();
        p->set_nb_verts(static_cast<int>(pts.size()));
        p->set_nb_polys(static_cast<int>(faces.size()));
        for (size_t i = 0; i < pts.size(); ++i) p->set_vert(static_cast<int>(i), pts[i]);
        for (size_t i = 0; i < faces.size(); ++i) {
            kivPoly q{};
            q.nb_verts = faces[i].n;
            for (int k = 0; k < 4; ++k) q.verts[k] = faces[i].verts[k];
            p->set_poly(static_cast<int>(i), q);
        }
        return m;
    }

    hair_zbuffer& zb() { return *cam_.zbuffer(); }
    // The camera-space point at depth −z that lands on pixel (x, y).
    static kivPoint at(float x, float y, float z = -10) {
        return kivPoint((x - 32) * -z / 10, (y - 24) * -z / 10, z);
    }
    kivColor color(int row, int col) { return zb().resolve_color(zb().record(row, col)); }
    // Coverage (or depth) of the geometry in a pixel; coverage over the image.
    float geometry(int row, int col, bool depth = false) {
        float z = 0, cov = 0;
        zb().geometry_depth(row, col, z, cov);
        return depth ? z : cov;
    }
    float coverage_sum() {
        float s = 0;
        for (int i = 0; i < 48 * 64; ++i) s += geometry(i / 64, i % 64);
        return s;
    }
    // Alpha over the image.
    float alpha_sum() {
        float s = 0;
        for (const kivColor& c : picture(cam_)) s += c.a;
        return s;
    }
    // Draws a hair of description hp (by default none: light model 2, the
    // ambient colour without lights) through cam (by default this camera).
    void draw(control_hair hair, hair_params* hp = nullptr,
              const kivVector& normal = kivVector(0, 0, 1), hair_camera* cam = nullptr) {
        hair_state state;
        state.params = hp;
        state.normal = normal;
        (cam ? cam : &cam_)->zbuff_hair(&hair, &state);
    }
    // A hair through camera-space points whose half-width on screen is
    // half_widths[i] pixels at point i.
    static control_hair make_hair(const std::vector<kivPoint>& pts,
                                  const std::vector<float>& half_widths) {
        control_hair h(static_cast<int>(pts.size()));
        for (size_t i = 0; i < pts.size(); ++i) {
            h.points[i] = pts[i];
            h.vertices[i].width = half_widths[i] * kivVector(pts[i]).length() / 5.0f;
        }
        return h;
    }

    hair_camera cam_;
    hair_params* fur_ = nullptr;
};

}  // namespace render_test
