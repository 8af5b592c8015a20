#include "render/camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "descriptions/hair_params.h"
#include "foundation/fur_exception.h"
#include "generation/hair_records.h"
#include "render_support.h"

namespace {

class Camera : public render_test::SettingsTest {};

// A camera of lines × cols with aperture 2 and focal 1 and its z-buffer.
void make_camera(hair_camera& cam, int lines, int cols, const cam_window& crop = cam_window()) {
    cam.set_aperture(2.0f);
    cam.set_focal(1.0f);
    cam.set_image_params(lines, cols, crop, zcalc());
    ASSERT_EQ(cam.init_zbuffer(), 1);
}

// Opens the protected segment test.
class camera_probe : public hair_camera {
  public:
    using hair_camera::is_follicle_visible;
};

follicle segment(float x1, float y1, float d1, float x2, float y2, float d2) {
    follicle f;
    f.p1 = kivPoint(x1, y1, -d1);
    f.p2 = kivPoint(x2, y2, -d2);
    f.zdepth[0] = d1;
    f.zdepth[1] = d2;
    return f;
}

int g_releases = 0;
void count_release() {
    ++g_releases;
}

}  // namespace

// --- cam_window ----------------------------------------------------------------------------

TEST(CamWindow, SizesDiagonalAndContainment) {
    const cam_window none;
    EXPECT_EQ(none.Cols(), 1);
    EXPECT_EQ(none.Lines(), 1);
    EXPECT_FLOAT_EQ(none.diagonal_length(), std::sqrt(2.0f));
    const cam_window w(10, 20, 49, 49);
    EXPECT_EQ(w.Cols(), 40);
    EXPECT_EQ(w.Lines(), 30);
    EXPECT_FLOAT_EQ(w.diagonal_length(), 50.0f);
    EXPECT_EQ(w.get_lowx(), 10);
    EXPECT_EQ(w.get_highy(), 49);

    EXPECT_TRUE(cam_window(0, 0, 719, 485).contained(486, 720));
    EXPECT_FALSE(cam_window(0, 0, 720, 485).contained(486, 720));
    EXPECT_FALSE(cam_window(0, 0, 719, 486).contained(486, 720));
    EXPECT_FALSE(cam_window(-1, 0, 10, 10).contained(486, 720));
    // One pixel wide or high is not contained.
    EXPECT_FALSE(cam_window(5, 0, 5, 10).contained(486, 720));
    EXPECT_FALSE(cam_window(0, 7, 10, 7).contained(486, 720));
}

TEST(CamWindow, ClippingOfBoxesAndMovingQuads) {
    const cam_window w(2, 3, 10, 20);
    EXPECT_EQ(w.is_clipped(0, 0, 1, 5), 1);
    EXPECT_EQ(w.is_clipped(0, 0, 2, 5), 0);
    EXPECT_EQ(w.is_clipped(11, 5, 12, 6), 1);
    EXPECT_EQ(w.is_clipped(4, 0, 5, 2.5f), 1);
    EXPECT_EQ(w.is_clipped(4, 21, 5, 30), 1);
    EXPECT_EQ(w.is_clipped(5, 5, 5, 5), 0);
    EXPECT_EQ(w.is_clipped(0, 0, 30, 30), 0);

    // Window-relative bounds 0 … 8 and 0 … 17.
    defaults saved = defs;
    EXPECT_EQ(w.is_mb_clipped(-1, 5, -2, 5, -0.5f, 6, -3, 7), 1);
    EXPECT_EQ(w.is_mb_clipped(-1, 5, -2, 5, 0.5f, 6, -3, 7), 0);
    EXPECT_EQ(w.is_mb_clipped(9, 5, 10, 5, 8.5f, 6, 30, 7), 1);
    EXPECT_EQ(w.is_mb_clipped(1, -1, 2, -2, 3, -1, 4, -5), 1);
    EXPECT_EQ(w.is_mb_clipped(1, 18, 2, 19, 3, 17.5f, 4, 20), 1);
    EXPECT_EQ(w.is_mb_clipped(1, 18, 2, 19, 3, 17, 4, 20), 0);
    // The render region replaces the bounds.
    defs.region_on = 1;
    defs.region[0] = 5;
    defs.region[1] = 6;
    defs.region[2] = 7;
    defs.region[3] = 8;
    EXPECT_EQ(w.is_mb_clipped(1, 7, 2, 7, 4, 7, 4.5f, 7), 1);
    EXPECT_EQ(w.is_mb_clipped(1, 7, 2, 7, 4, 7, 5, 7), 0);
    EXPECT_EQ(w.is_mb_clipped(8, 7, 9, 7, 7.5f, 7, 20, 7), 1);
    EXPECT_EQ(w.is_mb_clipped(6, 9, 6, 10, 6, 8.5f, 6, 9), 1);
    defs = saved;
}

// --- Parameters ------------------------------------------------------------------------------

TEST_F(Camera, SettersRecordWhichParametersWereGiven) {
    hair_camera cam;
    EXPECT_EQ(cam.get_flags(), 0);
    cam.set_aperture(1.5f);
    cam.set_focal(35.0f);
    cam.set_fov(90.0f, 1);
    cam.set_aspect(1.33f);
    cam.set_clip(0.1f, 100.0f);
    cam.set_frustum(-1, 1, -0.5f, 0.5f);
    EXPECT_EQ(cam.get_flags(), 63);
    EXPECT_EQ(cam.get_focal(), 35.0f);
    EXPECT_FLOAT_EQ(cam.get_fov(), 90.0f * 0.01745329f);
    cam.set_fov(0.25f, 0);
    EXPECT_EQ(cam.get_fov(), 0.25f);
    EXPECT_EQ(cam.get_clip()[1], 100.0f);
    EXPECT_EQ(cam.get_frustum()[2], -0.5f);
    const kivMatrix m(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 4, 5, 6, 1);
    cam.set_matrix(m);
    EXPECT_EQ(cam.get_matrix().m[13], 5.0f);
}

TEST_F(Camera, FocalAndFovGiveTheAperture) {
    hair_camera cam;
    cam.set_focal(35.0f);
    cam.set_fov(0.5f, 0);
    cam.set_image_params(486, 720, cam_window(), zcalc());
    ASSERT_EQ(cam.init_zbuffer(), 1);
    EXPECT_NEAR(cam.get_aperture(), (720.0f / 486.0f) * 2.0f * 35.0f * std::tan(0.25f), 1e-4f);
    EXPECT_EQ(cam.get_flags(), hair_camera::kFocal | hair_camera::kFov);
    EXPECT_EQ(cam.zbuffer()->lines(), 486);
    EXPECT_EQ(cam.zbuffer()->cols(), 720);
}

TEST_F(Camera, ApertureAndFovGiveTheFocalLength) {
    hair_camera cam;
    cam.set_aperture(2.0f);
    cam.set_fov(0.5f, 0);
    cam.set_image_params(100, 200, cam_window(), zcalc());
    ASSERT_EQ(cam.init_zbuffer(), 1);
    EXPECT_NEAR(cam.get_focal(), 2.0f * 0.5f / (std::tan(0.25f) * 2.0f), 1e-5f);
}

TEST_F(Camera, ApertureAndFocalTakePrecedenceOverFov) {
    hair_camera cam;
    cam.set_aperture(2.0f);
    cam.set_focal(3.0f);
    cam.set_fov(1.0f, 0);
    cam.set_image_params(100, 200, cam_window(), zcalc());
    ASSERT_EQ(cam.init_zbuffer(), 1);
    EXPECT_EQ(cam.get_aperture(), 2.0f);
    EXPECT_EQ(cam.get_focal(), 3.0f);
}

TEST_F(Camera, AShadowCameraSeesTwiceTheConeAngle) {
    hair_camera cam;
    cam.set_focal(9.0f);
    cam.set_frustum(0, 1, 0, 1);
    cam.set_shadow_params(45.0f);
    EXPECT_EQ(cam.get_flags(), 5);
    EXPECT_EQ(cam.get_aperture(), 1.0f);
    EXPECT_NEAR(cam.get_fov(), 1.5707963f, 1e-6f);
    cam.set_image_params(64, 64, cam_window(), zcalc());
    ASSERT_EQ(cam.init_zbuffer(), 1);
    EXPECT_NEAR(cam.get_focal(), 0.5f, 1e-6f);
}

TEST_F(Camera, FewerThanTwoParametersRefuseTheZbuffer) {
    const char* kError = "ERROR: camera params need at least 2 of (focal, fov, aperture)\n";
    hair_camera a;
    a.set_focal(35.0f);
    a.set_image_params(10, 10, cam_window(), zcalc());
    testing::internal::CaptureStdout();
    EXPECT_EQ(a.init_zbuffer(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kError);
    EXPECT_EQ(a.zbuffer(), nullptr);

    // A frustum needs the focal length.
    hair_camera b;
    b.set_fov(0.5f, 0);
    b.set_frustum(-1, 1, -1, 1);
    b.set_image_params(10, 10, cam_window(), zcalc());
    testing::internal::CaptureStdout();
    EXPECT_EQ(b.init_zbuffer(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kError);

    hair_camera c;
    c.set_focal(1.0f);
    c.set_aperture(1.0f);
    testing::internal::CaptureStdout();
    EXPECT_EQ(c.init_zbuffer(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout().rfind("ERROR: ", 0), 0u);
}

// --- Projection --------------------------------------------------------------------------------

TEST_F(Camera, ProjectionOfKnownPointsWithoutFrustum) {
    hair_camera cam;
    make_camera(cam, 100, 200);
    // Film 2 wide and 1 high.
    float x = -1, y = -1;
    ASSERT_TRUE(cam.project(kivPoint(0.5f, 0.25f, -1.0f), x, y));
    EXPECT_FLOAT_EQ(x, 150.0f);
    EXPECT_FLOAT_EQ(y, 75.0f);
    ASSERT_TRUE(cam.project(kivPoint(1.0f, 0.5f, -2.0f), x, y));
    EXPECT_FLOAT_EQ(x, 150.0f);
    EXPECT_FLOAT_EQ(y, 75.0f);
    ASSERT_TRUE(cam.project(kivPoint(0, 0, -5.0f), x, y));
    EXPECT_FLOAT_EQ(x, 100.0f);
    EXPECT_FLOAT_EQ(y, 50.0f);
    ASSERT_TRUE(cam.project(kivPoint(-1.0f, -0.5f, -1.0f), x, y));
    EXPECT_FLOAT_EQ(x, 0.0f);
    EXPECT_FLOAT_EQ(y, 0.0f);
    // Behind the camera nothing is projected.
    EXPECT_FALSE(cam.project(kivPoint(0, 0, 1.0f), x, y));
    EXPECT_FALSE(cam.project(kivPoint(0, 0, 0.0f), x, y));
    EXPECT_FLOAT_EQ(x, 0.0f);
    EXPECT_FLOAT_EQ(cam.get_pixel_scale(), 100.0f);
}

TEST_F(Camera, AFrustumMapsAnOffCentreFilmWindow) {
    const float saved_units = hair_params_get_wunits();
    hair_params_set_wunits(2.0f);
    hair_camera cam;
    cam.set_focal(1.0f);
    cam.set_frustum(-1, 3, -2, 2);
    cam.set_image_params(100, 200, cam_window(), zcalc());
    ASSERT_EQ(cam.init_zbuffer(), 1);
    hair_params_set_wunits(saved_units);
    EXPECT_EQ(cam.get_aperture(), 4.0f);
    // World units × focal × cols ÷ aperture.
    EXPECT_FLOAT_EQ(cam.get_pixel_scale(), 100.0f);
    float x, y;
    ASSERT_TRUE(cam.project(kivPoint(0, 0, -1), x, y));
    EXPECT_FLOAT_EQ(x, 50.0f);
    EXPECT_FLOAT_EQ(y, 50.0f);
    ASSERT_TRUE(cam.project(kivPoint(3, 3, -3), x, y));
    EXPECT_FLOAT_EQ(x, 100.0f);
    EXPECT_FLOAT_EQ(y, 75.0f);

    // A given aperture is kept; the frustum still maps the film.
    hair_camera wide;
    wide.set_focal(1.0f);
    wide.set_aperture(8.0f);
    wide.set_frustum(-1, 3, -2, 2);
    wide.set_image_params(100, 200, cam_window(), zcalc());
    ASSERT_EQ(wide.init_zbuffer(), 1);
    EXPECT_EQ(wide.get_aperture(), 8.0f);
    ASSERT_TRUE(wide.project(kivPoint(0, 0, -1), x, y));
    EXPECT_FLOAT_EQ(x, 50.0f);
}

// --- Image parameters and crop windows ---------------------------------------------------------

TEST_F(Camera, AnEmptyOrOnePixelCropMeansTheWholeImage) {
    hair_camera cam;
    cam.set_image_params(486, 720, cam_window(0, 0, 0, 0), zcalc(1, 100));
    EXPECT_EQ(cam.get_window().highx, 719);
    EXPECT_EQ(cam.get_window().highy, 485);
    EXPECT_EQ(cam.hasdepth(), 1);
    EXPECT_EQ(cam.get_depth_range().far, 100.0f);
    cam.set_image_params(486, 720, cam_window(5, 0, 5, 300), zcalc());
    EXPECT_EQ(cam.get_window().lowx, 0);
    EXPECT_EQ(cam.get_window().highx, 719);
    EXPECT_EQ(cam.hasdepth(), 0);
}

TEST_F(Camera, ACropWindowSetsTheZbufferSize) {
    defs.subpixel_factor = 2;
    hair_camera cam;
    make_camera(cam, 486, 720, cam_window(10, 10, 99, 99));
    const cam_window& w = cam.get_window();
    EXPECT_EQ(w.lowx, 20);
    EXPECT_EQ(w.lowy, 20);
    EXPECT_EQ(w.highx, 198);
    EXPECT_EQ(w.highy, 198);
    EXPECT_FLOAT_EQ(w.diagonal_length(), std::sqrt(2.0f * 179 * 179));
    EXPECT_EQ(cam.get_lines(), 972);
    EXPECT_EQ(cam.get_cols(), 1440);
    EXPECT_EQ(cam.zbuffer()->lines(), 179);
    EXPECT_EQ(cam.zbuffer()->cols(), 179);
}

TEST_F(Camera, ACropWindowOutsideTheImageIsRejected) {
    hair_camera cam;
    testing::internal::CaptureStdout();
    EXPECT_THROW(cam.set_image_params(486, 720, cam_window(0, 0, 720, 485), zcalc()),
                 FurEBadParameter);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "illegal crop window\n");
    EXPECT_EQ(cam.get_window().highx, 720);
    try {
        cam.set_image_params(486, 720, cam_window(30, 10, 20, 40), zcalc());
        ADD_FAILURE() << "a reversed window was accepted";
    } catch (const FurEBadParameter& e) {
        EXPECT_EQ(std::string(e.message().asChar()), "Illegal crop window");
    }
}

// --- Segment visibility -------------------------------------------------------------------------

TEST_F(Camera, SegmentVisibilityFollowsEndsAndTheirState) {
    camera_probe cam;
    make_camera(cam, 10, 10);
    // Geometry covering pixel (column 3, row 3) at distance 5.
    pixel_slot** cell = cam.zbuffer()->cell(3, 3);
    cam.zbuffer()->add_geometry(*cell, 5.0f, 1.0f, 0xFFFFFFFFu);
    int state = -1;

    // The end behind the camera: never drawn.
    follicle f = segment(1, 1, 2, 2, 2, -1);
    EXPECT_EQ(cam.is_follicle_visible(0, &f, state), 0);
    EXPECT_EQ(state, 2);
    EXPECT_EQ(cam.is_follicle_visible(4, &f, state), 0);
    EXPECT_EQ(state, 2);

    // First segment: the root decides, the end when the root cannot.
    f = segment(1, 1, 2, 20, 1, 2);  // root visible, end outside
    EXPECT_EQ(cam.is_follicle_visible(0, &f, state), 1);
    EXPECT_EQ(state, 1);
    f = segment(-5, 1, 2, 1, 1, 2);  // root outside, end visible
    EXPECT_EQ(cam.is_follicle_visible(0, &f, state), 1);
    EXPECT_EQ(state, 0);
    f = segment(-5, 1, 2, 3.5f, 3.5f, 8);  // root outside, end hidden
    EXPECT_EQ(cam.is_follicle_visible(0, &f, state), 0);
    EXPECT_EQ(state, 3);
    f = segment(3.2f, 3.7f, 8, 1, 1, 2);  // root hidden, end visible
    EXPECT_EQ(cam.is_follicle_visible(0, &f, state), 1);
    EXPECT_EQ(state, 0);
    f = segment(3.2f, 3.7f, 8, 3.5f, 3.5f, 9);  // both hidden
    EXPECT_EQ(cam.is_follicle_visible(0, &f, state), 0);
    EXPECT_EQ(state, 3);
    f = segment(3.2f, 3.7f, 4, 3.5f, 3.5f, 9);  // root in front of the geometry
    EXPECT_EQ(cam.is_follicle_visible(0, &f, state), 1);
    f = segment(1, 1, -1, 2, 2, 3);  // root behind the camera
    EXPECT_EQ(cam.is_follicle_visible(0, &f, state), 0);
    EXPECT_EQ(state, 0);

    // Later segments: drawn unless the previous end and this one are both
    // not visible.
    f = segment(0, 0, 2, 3.5f, 3.5f, 9);
    state = 0;
    EXPECT_EQ(cam.is_follicle_visible(1, &f, state), 1);
    EXPECT_EQ(state, 3);
    EXPECT_EQ(cam.is_follicle_visible(2, &f, state), 0);
    f = segment(0, 0, 2, 12, 3, 2);
    EXPECT_EQ(cam.is_follicle_visible(3, &f, state), 0);
    EXPECT_EQ(state, 1);
    f = segment(0, 0, 2, 4, 4, 2);
    EXPECT_EQ(cam.is_follicle_visible(4, &f, state), 1);
    EXPECT_EQ(state, 0);
    state = 2;
    EXPECT_EQ(cam.is_follicle_visible(5, &f, state), 1);
}

TEST_F(Camera, SegmentPixelsAreRelativeToTheCropAndTruncatedTowardZero) {
    camera_probe cam;
    make_camera(cam, 10, 10, cam_window(2, 2, 7, 7));
    // Window pixel (1, 1) is image pixel (3, 3).
    pixel_slot** cell = cam.zbuffer()->cell(1, 1);
    cam.zbuffer()->add_geometry(*cell, 5.0f, 1.0f, 0xFFFFFFFFu);
    int state = 0;
    follicle f = segment(0, 0, 1, 3.9f, 3.1f, 6);
    EXPECT_EQ(cam.is_follicle_visible(1, &f, state), 1);
    EXPECT_EQ(state, 3);
    // −0.5 relative to the window truncates to column 0: inside.
    f = segment(0, 0, 1, 1.5f, 4, 6);
    EXPECT_EQ(cam.is_follicle_visible(1, &f, state), 1);
    EXPECT_EQ(state, 0);
    f = segment(0, 0, 1, 0.9f, 4, 6);
    EXPECT_EQ(cam.is_follicle_visible(1, &f, state), 1);
    EXPECT_EQ(state, 1);
    f = segment(0, 0, 1, 8.0f, 4, 6);
    EXPECT_EQ(cam.is_follicle_visible(1, &f, state), 0);
    EXPECT_EQ(state, 1);
}

// --- Life cycle --------------------------------------------------------------------------------

TEST_F(Camera, ClearResetsTheParametersButKeepsTheWindow) {
    hair_camera cam;
    cam.set_matrix(kivMatrix(2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 1, 1, 1));
    cam.set_aspect(1.5f);
    make_camera(cam, 20, 30, cam_window(1, 2, 10, 12));
    cam.clear();
    EXPECT_EQ(cam.zbuffer(), nullptr);
    EXPECT_EQ(cam.get_flags(), 0);
    EXPECT_EQ(cam.get_focal(), 0.0f);
    EXPECT_EQ(cam.get_aperture(), 0.0f);
    EXPECT_EQ(cam.get_lines(), 0);
    EXPECT_EQ(cam.get_cols(), 0);
    EXPECT_EQ(cam.get_matrix().m[0], 1.0f);
    EXPECT_EQ(cam.get_matrix().m[12], 0.0f);
    EXPECT_EQ(cam.get_window().highx, 10);
    EXPECT_EQ(cam.get_aspect(), 1.5f);
}

TEST_F(Camera, ClearArrEmptiesThePixelsAndKeepsTheZbuffer) {
    hair_camera cam;
    make_camera(cam, 4, 4);
    hair_zbuffer* zb = cam.zbuffer();
    zb->add_geometry(*zb->cell(1, 1), 3.0f, 1.0f, 0xFFFFFFFFu);
    cam.clear_arr();
    EXPECT_EQ(cam.zbuffer(), zb);
    EXPECT_EQ(zb->record(1, 1), nullptr);
    EXPECT_EQ(zb->chunk_count(), 0);
    // A second init_zbuffer replaces the z-buffer (the old one is freed).
    ASSERT_EQ(cam.init_zbuffer(), 1);
    EXPECT_NE(cam.zbuffer(), nullptr);
}

TEST_F(Camera, CopiesShareTheZbufferOfTheirOriginal) {
    hair_camera a;
    make_camera(a, 4, 4);
    hair_zbuffer* zb = a.zbuffer();
    {
        hair_camera b(a);
        EXPECT_EQ(b.zbuffer(), zb);
        b.clear();
        EXPECT_EQ(b.zbuffer(), nullptr);
    }
    // Still usable after the copies are gone.
    zb->add_geometry(*zb->cell(0, 0), 3.0f, 1.0f, 0xFFFFFFFFu);
    hair_camera c;
    make_camera(c, 2, 2);
    c = a;  // c's own z-buffer is released
    EXPECT_EQ(c.zbuffer(), zb);
    a = c;  // a keeps the z-buffer it created
    EXPECT_EQ(a.zbuffer(), zb);
    c.clear_arr();
    EXPECT_EQ(zb->record(0, 0), nullptr);
}

TEST_F(Camera, PostMotionBlurPassRunsOverEveryPixel) {
    defs.motion_blur = 1;
    hair_camera cam;
    make_camera(cam, 3, 3);
    hair_zbuffer* zb = cam.zbuffer();
    for (int id = 1; id <= 2; ++id) {
        defs.geometry_id = id;
        zb->add_geometry(*zb->cell(0, 0), 4.0f * id, 0.5f, 0xFFu << (8 * id));
        zb->add_geometry(*zb->cell(2, 1), 4.0f * id, 0.5f, 0xFFu);
    }
    EXPECT_EQ(zb->record(0, 0)[0].zb.list_nb(), 2);
    cam.post_mb_zbuffer();
    EXPECT_EQ(zb->record(0, 0)[0].zb.list_nb(), 0);
    EXPECT_EQ(zb->record(0, 0)[0].zb.nb_zbuff(), 2);
    // The second model's slices lay inside the first one's.
    EXPECT_EQ(zb->record(2, 1)[0].zb.nb_zbuff(), 1);
}

TEST_F(Camera, WithoutImageSizeThereIsNoZbuffer) {
    hair_camera cam;
    cam.set_aperture(1.0f);
    cam.set_focal(1.0f);
    testing::internal::CaptureStdout();
    EXPECT_EQ(cam.init_zbuffer(), 0);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("ERROR:"), std::string::npos);
    EXPECT_EQ(cam.zbuffer(), nullptr);
}

TEST_F(Camera, TheDestructorReleasesTheRasteriserWorkArrays) {
    g_releases = 0;
    hair_camera_set_work_release(count_release);
    { hair_camera cam; }
    EXPECT_EQ(g_releases, 1);
    hair_camera_set_work_release(nullptr);
    { hair_camera cam; }
    EXPECT_EQ(g_releases, 1);
}

TEST_F(Camera, DumpPrintsTheParametersInImagePixels) {
    hair_camera cam;
    cam.set_aperture(2.0f);
    cam.set_focal(1.0f);
    cam.set_frustum(-1, 1, -0.5f, 0.5f);
    cam.set_aspect(1.5f);
    cam.set_clip(0.1f, 1000.0f);
    cam.set_matrix(kivMatrix(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1));
    cam.set_image_params(100, 200, cam_window(), zcalc());
    testing::internal::CaptureStdout();
    cam.dump();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "camera {\n"
              "    flags = 59\n"
              "    aperture = 2.000000 (-1.000000,1.000000,-0.500000,0.500000)\n"
              "    focal = 1.000000\n"
              "    fov = 0.000000\n"
              "    aspect = 1.500000\n"
              "    clip = 0.100000 1000.000000\n"
              "    lines = 100\n"
              "    cols = 200\n"
              "    window (ll, ur) = 0 0 199 99\n"
              "    matrix = 1.000000 0.000000 0.000000 1.000000\n"
              "             0.000000 1.000000 0.000000 2.000000\n"
              "             0.000000 0.000000 1.000000 3.000000\n"
              "             0.000000 0.000000 0.000000 1.000000\n"
              "}\n");

    defs.subpixel_factor = 3;
    cam.set_image_params(486, 720, cam_window(), zcalc());
    ASSERT_EQ(cam.init_zbuffer(), 1);
    EXPECT_EQ(cam.get_lines(), 1458);
    testing::internal::CaptureStdout();
    cam.dump();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("    lines = 486\n    cols = 720\n"), std::string::npos) << out;
    EXPECT_NE(out.find("    window (ll, ur) = 0 0 719 485\n"), std::string::npos) << out;
    EXPECT_NE(out.find("    arr is allocated\n}\n"), std::string::npos) << out;
}

TEST_F(Camera, TheDatabaseHoldsTwoCameras) {
    EXPECT_EQ(camdb_init(12), 1);
    EXPECT_EQ(camdb_get(7), camdb_get(1));
    EXPECT_EQ(camdb_get(-3), camdb_get(1));
    EXPECT_NE(camdb_get(0), camdb_get(1));
    camdb_get(0)->set_focal(2.0f);
    camdb_get(1)->set_aperture(2.0f);
    camdb_get(1)->set_focal(2.0f);
    camdb_get(1)->set_image_params(4, 4, cam_window(), zcalc());
    ASSERT_EQ(camdb_get(1)->init_zbuffer(), 1);
    camdb_cleanup();
    EXPECT_EQ(camdb_get(0)->get_flags(), 0);
    EXPECT_EQ(camdb_get(1)->get_focal(), 0.0f);
    EXPECT_EQ(camdb_get(1)->zbuffer(), nullptr);
}
