#include "render/motion_blur.h"

#include "generation/motion_spawning.h"
#include "render_support.h"

// A 64 × 48 camera (render_support.h) with motion blur on: the
// camera-space point at depth 10 moves one pixel per unit.
class MotionBlur : public render_test::RasterTest {
  protected:
    void SetUp() override {
        RasterTest::SetUp();
        defs.motion_blur = 1;
        cam1_.set_matrix(cam_.get_matrix());
    }
    // A vertical hair of four points from pixel (x, 10) to (x, 34),
    // 1.5 pixels wide, opacity 0.4, shifted by dx pixels.
    static control_hair vertical(float x, float dx = 0) {
        std::vector<kivPoint> pts;
        for (int k = 0; k < 4; ++k) pts.push_back(at(x + dx, 10.0f + 8 * k));
        control_hair h = make_hair(pts, {0.75f, 0.75f, 0.75f, 0.75f});
        for (int k = 0; k < 4; ++k) {
            h.vertices[k].ambient = kivColor(0.9f, 0.6f, 0.3f, 1);
            h.vertices[k].opacity = 0.4f;
        }
        return h;
    }
    void draw_moving(control_hair h0, control_hair h1) {
        hair_state state;
        cam_.zbuff_motion_hair(&h0, &h1, &state);
    }
    // Columns holding alpha in row 20, first and last.
    std::pair<int, int> alpha_columns(int row) {
        int first = -1, last = -1;
        for (int c = 0; c < 64; ++c) {
            if (color(row, c).a <= 0) continue;
            if (first < 0) first = c;
            last = c;
        }
        return {first, last};
    }
    hair_camera cam1_;
};

TEST_F(MotionBlur, AMovingHairSpreadsTheSameAlphaOverItsPath) {
    draw(vertical(20.3f));
    const float still = alpha_sum();
    const std::pair<int, int> still_cols = alpha_columns(20);
    ASSERT_GT(still, 10.0f);
    for (const float m : {0.6f, 3.0f, 12.5f, 27.0f}) {
        for (const float q : {1.0f, 3.0f}) {
            if (m < 1.0f && q != 1.0f) continue;
            cam_.clear_arr();
            defs.motion_step = q;
            draw_moving(vertical(20.3f), vertical(20.3f, m));
            const std::string what = std::to_string(m) + " px, step " + std::to_string(q);
            // n copies for a move of m pixels, one in every q drawn, each
            // with q ÷ n of the alpha: with q = 1 the path adds up to one
            // hair.
            const float n = m < 1.0f ? 2.0f : std::floor(m) + 1.0f;
            const float drawn = m < 1.0f ? 2.0f : std::ceil(n / q);
            const float share = m < 1.0f ? 0.5f : q / n;
            EXPECT_NEAR(alpha_sum() / still, drawn * share, 0.005f) << what;
            const std::pair<int, int> cols = alpha_columns(20);
            EXPECT_EQ(cols.first, still_cols.first) << what;
            EXPECT_NEAR(cols.second - cols.first, still_cols.second - still_cols.first + m, 1.0f)
                << what;
        }
    }
}

TEST_F(MotionBlur, TheDefaultSinkSeesEachHairWithItsOwnCameraUpToTheShutter) {
    // The close hair lies 6 pixels to the right in world space and the
    // close camera looks 6 pixels further right: on screen it stands
    // still. The description's matrix moves both 3 pixels up.
    fur_->matrix = kivMatrix(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 3, 0, 1);
    hair_state state;
    state.params = fur_;
    control_hair h0 = vertical(20.3f), h1 = vertical(20.3f, 6);
    for (int k = 0; k < 4; ++k) h1.vertices[k] = h0.vertices[k];  // the same widths
    draw(vertical(20.3f), fur_);
    const std::vector<kivColor> still = picture(cam_);
    EXPECT_TRUE(color(36, 20).a > 0 && color(11, 20).a == 0) << "moved up by the matrix";
    cam_.clear_arr();
    cam1_.set_matrix(kivMatrix(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -6, 0, 0, 1));
    const mdldb_motion_hair_sink sink = mdldb_set_motion_hair_sink(nullptr);
    ASSERT_NE(sink, nullptr);
    control_hair a = h0, b = h1;  // the sink moves the points it is given
    sink(&cam_, &cam1_, &a, &b, &state);
    expect_picture(cam_, still, 2e-3, "moving camera");
    // With the shutter at 0 (at any motion step) the hair stays at its
    // open-time place.
    cam_.clear_arr();
    defs.shutter = 0, defs.motion_step = 4;
    sink(&cam_, &cam_, &h0, &h1, &state);
    expect_picture(cam_, still, 2e-3, "shutter at 0");
}

// Moving geometry covers its path up to the shutter's close time: a quad
// moving 20 pixels with the shutter at 0.5 blurs over 10, in part.
TEST_F(MotionBlur, GeometryCoversItsPathUpToTheShutter) {
    defs.shutter = 0.5f;
    auto quad = [](float x) {
        return std::vector<kivPoint>{at(x, 10, -5), at(x + 10, 10, -5), at(x + 10, 30, -5),
                                     at(x, 30, -5)};
    };
    std::vector<kivPoint> p0 = quad(10), p1 = quad(30);
    cam_.zbuff_motion_blur_poly(4, p0.data(), p1.data(), &cam1_, true, false, 0);
    cam_.post_mb_zbuffer();
    EXPECT_TRUE(geometry(20, 12) > 0.1f && geometry(20, 12) < 0.9f) << geometry(20, 12);
    EXPECT_GT(geometry(20, 17), geometry(20, 12));  // covered longer
    EXPECT_GT(geometry(20, 29), 0.0f);
    EXPECT_EQ(geometry(20, 31), 0.0f);
}
