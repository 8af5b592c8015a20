// Helpers shared by the rasteriser tests: a small camera and an
// independent reference for the area of a polygon inside a pixel.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "foundation/names.h"
#include "foundation/polygon_clip.h"
#include "descriptions/hair_records.h"
#include "geometry/model_database.h"
#include "render/camera.h"
#include "render/lighting.h"
#include "render_support.h"

namespace raster_test {

struct pt {
    double x, y;
};

// Area of the convex polygon p inside the box [x0, x1] × [y0, y1], clipped
// by the foundation's box clipper in double precision.
inline double box_area(const std::vector<pt>& p, double x0, double y0, double x1, double y1) {
    clip_poly c{static_cast<int>(p.size()), CLIP_SX | CLIP_SY | CLIP_SW, {}};
    for (size_t i = 0; i < p.size(); ++i) c.v[i].sx = p[i].x, c.v[i].sy = p[i].y, c.v[i].sw = 1;
    clip_polygon(c, clip_box{x0, x1, y0, y1, -1, 1});
    double s = 0;
    for (int i = 0; i < c.n; ++i)
        s += c.v[i].sx * c.v[(i + 1) % c.n].sy - c.v[(i + 1) % c.n].sx * c.v[i].sy;
    return 0.5 * std::fabs(s);
}
inline double area(const std::vector<pt>& p) {
    return box_area(p, -1e9, -1e9, 1e9, 1e9);
}
inline double pixel_area(const std::vector<pt>& p, int col, int row) {
    return box_area(p, col, row, col + 1.0, row + 1.0);
}

// A 64 × 48 camera at the origin looking down −z: the camera-space point
// (x, y, −10) lands on pixel (x + 32, y + 24); pixel_scale is 10. The name
// table, the assignment table and a description "fur" are ready; models
// and lights are cleaned up afterwards.
class RasterTest : public render_test::SettingsTest {
  protected:
    void SetUp() override {
        SettingsTest::SetUp();
        cam_.set_aperture(64.0f);
        cam_.set_focal(10.0f);
        cam_.set_image_params(48, 64, cam_window(), zcalc());
        ASSERT_EQ(cam_.init_zbuffer(), 1);
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
        SettingsTest::TearDown();
    }

    hair_zbuffer& zb() { return *cam_.zbuffer(); }
    // The camera-space point at depth −z that lands on pixel (x, y).
    static kivPoint at(float x, float y, float z = -10) {
        return kivPoint((x - 32) * -z / 10, (y - 24) * -z / 10, z);
    }
    kivColor color(int row, int col) { return zb().resolve_color(zb().record(row, col)); }
    // Alpha summed over the image.
    float alpha_sum() {
        float s = 0;
        for (int i = 0; i < 48 * 64; ++i) s += color(i / 64, i % 64).a;
        return s;
    }
    // Draws a hair of description hp (by default none: light model 2, the
    // ambient colour without lights).
    void draw(control_hair hair, hair_params* hp = nullptr) {
        hair_state state;
        state.params = hp;
        cam_.zbuff_hair(&hair, &state);
    }
    // A hair through camera-space points (the camera sits at the origin)
    // whose half-width on screen is half_widths[i] pixels at point i.
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

}  // namespace raster_test
