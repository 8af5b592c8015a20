#include "render/camera.h"

#include "render_support.h"

namespace {

using Ints = std::vector<int>;
class Camera : public render_test::SettingsTest {};

// Gives cam an image of lines × cols and makes its z-buffer.
int init(hair_camera& cam, int lines, int cols, const cam_window& crop = cam_window()) {
    cam.set_image_params(lines, cols, crop, zcalc());
    return cam.init_zbuffer();
}

Ints corners(const cam_window& w) {
    return {w.lowx, w.lowy, w.highx, w.highy};
}

}  // namespace

TEST_F(Camera, WindowsClipAndCropTheImage) {
    const cam_window w(2, 3, 10, 20);
    EXPECT_EQ(w.Cols() * 100 + w.Lines(), 918);
    EXPECT_FLOAT_EQ(w.diagonal_length(), std::sqrt(9.0f * 9 + 18 * 18));
    EXPECT_EQ((Ints{w.is_clipped(0, 0, 1, 5), w.is_clipped(0, 0, 2, 5), w.is_clipped(4, 21, 5, 30),
                    w.is_clipped(5, 5, 5, 5)}),
              (Ints{1, 0, 1, 0}));
    // Moving quads: window-relative bounds 0 … 8 and 0 … 17, or the region.
    EXPECT_EQ((Ints{w.is_mb_clipped(-1, 5, -2, 5, -0.5f, 6, -3, 7),
                    w.is_mb_clipped(-1, 5, -2, 5, 0.5f, 6, -3, 7),
                    w.is_mb_clipped(1, 18, 2, 19, 3, 17.5f, 4, 20)}),
              (Ints{1, 0, 1}));
    defs.region_on = 1;
    defs.region[0] = 5, defs.region[1] = 6, defs.region[2] = 7, defs.region[3] = 8;
    EXPECT_EQ(
        (Ints{w.is_mb_clipped(1, 7, 2, 7, 4, 7, 4.5f, 7), w.is_mb_clipped(1, 7, 2, 7, 4, 7, 5, 7),
              w.is_mb_clipped(6, 9, 6, 10, 6, 8.5f, 6, 9)}),
        (Ints{1, 0, 1}));

    hair_camera cam;
    // All zero, or one pixel wide: the whole image.
    for (const cam_window& crop : {cam_window(), cam_window(5, 0, 5, 300)}) {
        cam.set_image_params(486, 720, crop, zcalc(1, 100));
        EXPECT_EQ(corners(cam.get_window()), (Ints{0, 0, 719, 485}));
    }
    EXPECT_EQ(cam.hasdepth(), 1);
    // Outside the image: rejected, the window keeps what was asked.
    EXPECT_EQ(captured([&] {
                  EXPECT_THROW(cam.set_image_params(486, 720, cam_window(0, 0, 720, 485), zcalc()),
                               FurEBadParameter);
              }),
              "illegal crop window\n");
    EXPECT_EQ(cam.get_window().highx, 720);
    // Scaled by the sub-pixel factor; the z-buffer is the window.
    defs.subpixel_factor = 2;
    cam.set_aperture(2.0f), cam.set_focal(1.0f);
    ASSERT_EQ(init(cam, 486, 720, cam_window(10, 10, 99, 99)), 1);
    EXPECT_EQ(corners(cam.get_window()), (Ints{20, 20, 198, 198}));
    EXPECT_EQ((Ints{cam.get_lines(), cam.zbuffer()->lines(), cam.zbuffer()->cols()}),
              (Ints{972, 179, 179}));
}

TEST_F(Camera, ParameterCompletionFromEachPair) {
    // {focal, fov (degrees), aperture, lines, cols, expected focal, aperture}:
    // focal and fov give the aperture, aperture and fov the focal length,
    // aperture and focal win over fov.
    const float r = 720.0f / 486.0f,
                cases[][7] = {{35, 28.647890f, 0, 486, 720, 35, r * 2 * 35 * std::tan(0.25f)},
                              {0, 28.647890f, 2, 100, 200, 0.5f / std::tan(0.25f), 2},
                              {3, 90, 2, 100, 200, 3, 2}};
    for (const auto& c : cases) {
        hair_camera cam;
        if (c[0] > 0) cam.set_focal(c[0]);
        if (c[2] > 0) cam.set_aperture(c[2]);
        cam.set_fov(c[1], 1);
        ASSERT_EQ(init(cam, int(c[3]), int(c[4])), 1);
        EXPECT_NEAR(cam.get_focal(), c[5], 1e-4f);
        EXPECT_NEAR(cam.get_aperture(), c[6], 1e-4f);
    }
    hair_camera s;  // a shadow camera: aperture 1, twice the cone angle
    s.set_focal(9.0f), s.set_shadow_params(45.0f);
    ASSERT_EQ(init(s, 64, 64), 1);
    EXPECT_NEAR(s.get_focal(), 0.5f, 1e-6f);

    // Fewer than two of them, or no image size, refuse the z-buffer.
    hair_camera one, frustum, sizeless;
    one.set_focal(35.0f);
    frustum.set_fov(0.5f, 0);
    frustum.set_frustum(-1, 1, -1, 1);  // a frustum needs the focal length
    sizeless.set_focal(1.0f);
    sizeless.set_aperture(1.0f);
    const std::string message = "ERROR: camera params need at least 2 of (focal, fov, aperture)\n";
    EXPECT_EQ(captured([&] { EXPECT_EQ(init(one, 10, 10) + init(frustum, 10, 10), 0); }),
              message + message);
    EXPECT_EQ(captured([&] { EXPECT_EQ(sizeless.init_zbuffer(), 0); }).rfind("ERROR: ", 0), 0u);
    EXPECT_EQ(one.zbuffer(), nullptr);
}

// Camera space to pixels against a double-precision model: the film
// point p × (−focal ÷ p.z), then (film − left) × cols ÷ (right − left) and
// (film − bottom) × lines ÷ (top − bottom); without a frustum the film is
// the aperture wide and aperture × lines ÷ cols high, centred.
TEST_F(Camera, ProjectionMatchesTheFilmPlaneModel) {
    std::mt19937 rng(8);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int i = 0; i < 40; ++i) {
        const int lines = 20 + int(rng() % 50), cols = 30 + int(rng() % 70);
        const double focal = 0.5 + u(rng) * 0.4 + 0.4, ap = 1.5 + u(rng);
        double l = -ap / 2, r = ap / 2, b = -ap * lines / cols / 2, t = -b;
        hair_camera cam;
        cam.set_focal(float(focal));
        if (i % 2) {
            l = u(rng) - 1, r = l + 1 + u(rng) + 1.2, b = u(rng) - 1.5, t = b + 2 + u(rng);
            cam.set_frustum(float(l), float(r), float(b), float(t));
        } else {
            cam.set_aperture(float(ap));
        }
        ASSERT_EQ(init(cam, lines, cols), 1);
        for (int k = 0; k < 10; ++k) {
            const double x = 3 * u(rng), y = 3 * u(rng), z = -1 - 4 * (u(rng) + 1);
            float px = 0, py = 0;
            ASSERT_TRUE(cam.project(kivPoint(float(x), float(y), float(z)), px, py));
            EXPECT_NEAR(px, (x * -focal / z - l) * cols / (r - l), 2e-3) << i;
            EXPECT_NEAR(py, (y * -focal / z - b) * lines / (t - b), 2e-3) << i;
        }
        float px = 7, py = 7;
        EXPECT_FALSE(cam.project(kivPoint(0.5f, 0.5f, 0), px, py));
        EXPECT_EQ(px + py, 14.0f);
    }
    // pixel_scale = world units × focal × cols ÷ aperture (right − left).
    const float saved_units = hair_params_get_wunits();
    hair_params_set_wunits(2.0f);
    hair_camera f;
    f.set_focal(1.0f), f.set_frustum(-1, 3, -2, 2);
    ASSERT_EQ(init(f, 100, 200), 1);
    hair_params_set_wunits(saved_units);
    EXPECT_EQ(f.get_aperture(), 4.0f);
    EXPECT_FLOAT_EQ(f.get_pixel_scale(), 100.0f);
}
