// Hairs through hair_camera::zbuff_hair: ribbon shape against a
// double-precision model, spaces, the near plane and the segment test.
#include "render/hair_rasteriser.h"

#include "render_support.h"

using render_test::pt;

namespace {

class HairRaster : public render_test::RasterTest {
  protected:
    // The ribbon outline of a hair whose points lie on pixels (x, y) with
    // half-widths h: left side root to tip, then right side back. A joint's
    // corners lie across the segment's direction plus the next segment's
    // (unnormalised) difference; the root and tip across their segments.
    static std::vector<pt> outline(const std::vector<pt>& p, const std::vector<double>& h) {
        const size_t n = p.size();
        std::vector<pt> left, right;
        for (size_t i = 0; i < n; ++i) {
            const size_t s = i == n - 1 ? i - 1 : i == 0 ? 0 : i - 1;
            double dx = p[s + 1].x - p[s].x, dy = p[s + 1].y - p[s].y, l = std::hypot(dx, dy);
            dx /= l, dy /= l;
            if (i > 0 && i < n - 1) {
                dx += p[i + 1].x - p[i].x, dy += p[i + 1].y - p[i].y, l = std::hypot(dx, dy);
                dx /= l, dy /= l;
            }
            left.push_back({p[i].x - dy * h[i], p[i].y + dx * h[i]});
            right.push_back({p[i].x + dy * h[i], p[i].y - dx * h[i]});
        }
        std::vector<pt> out(right.begin(), right.end());
        out.insert(out.end(), left.rbegin(), left.rend());
        return out;
    }
};

}  // namespace

TEST_F(HairRaster, RibbonCoversItsOutlineExactlyAcrossBentJoints) {
    std::mt19937 rng(77);
    auto u = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
    for (int i = 0; i < 60; ++i) {
        // Two to five points, each segment 5 … 12 pixels, turning up to 50
        // degrees (none at all in every fourth hair).
        const int n = 2 + i % 4;
        std::vector<pt> p = {{u(15, 45), u(12, 36)}};
        std::vector<double> h;
        double a = u(0, 6.2832);
        for (int k = 1; k < n; ++k) {
            a += i % 4 == 3 ? 0.0 : u(-0.6, 0.6);
            const double l = u(5, 12);
            p.push_back({p.back().x + l * std::cos(a), p.back().y + l * std::sin(a)});
        }
        std::vector<kivPoint> pts;
        std::vector<float> hw;
        for (pt& q : p) {
            q = {double(float(q.x)), double(float(q.y))};
            pts.push_back(at(float(q.x), float(q.y)));
            hw.push_back(float(u(0.3, 2.0)));
            h.push_back(hw.back());
        }
        cam_.clear_arr();
        draw(make_hair(pts, hw));
        const std::vector<pt> o = outline(p, h);
        for (int r = 0; r < 48; ++r)
            for (int c = 0; c < 64; ++c)
                ASSERT_NEAR(color(r, c).a, std::min(1.0, render_test::pixel_area(o, c, r)), 2e-4)
                    << "hair " << i << " at " << c << "," << r;
    }
}

TEST_F(HairRaster, ShortSegmentsGrowAndTakeThePassesColour) {
    // A one-segment hair along +x from pixel (21.5, 10): screen length L,
    // half-widths h1 at the root and h2 at the tip, covered area, and the
    // alpha of pixel (21, 10), which tells a root moved back from a tip
    // moved forward.
    const float cases[][5] = {
        {0.5f, 1, 1, 4, 1},      // root moved back 1.5: a 2 × 2 square, no tip extension
        {0.5f, 1, 2, 12, 1},     // then 2 long, tip 4 wide: moved forward 2, widths 2 … 4
        {1.5f, 1, 1, 4, 1},      // moved back 0.5 to its width
        {6.0f, 1, 1, 12, 0.5f},  // long enough: unchanged
    };
    for (const auto& c : cases) {
        cam_.clear_arr();
        draw(make_hair({at(21.5f, 10), at(21.5f + c[0], 10)}, {c[1], c[2]}));
        EXPECT_NEAR(alpha_sum(), c[3], 2e-3) << c[0] << " " << c[2];
        EXPECT_NEAR(color(10, 21).a, c[4], 1e-3) << c[0] << " " << c[2];
    }
    // A 2 × 2 square over pixels 30.25 … 32.25 × 9 … 11, at x = 0: in a
    // shadow pass opaque black whatever its colour, opacity and light model;
    // with light model 3 its alpha comes from the specular light. A white
    // infinite light along the view axis, light and eye at right angles to
    // the hair, gives alpha = (1 + 1 + 1) × 0.3333 × opacity.
    fur_->light_model = 3;
    render_test::add_light(LIGHT_INFINITE)->direction = kivVector(0, 0, 1);
    defs.model_name = "skin";
    control_hair hair = make_hair({at(31.75f, 10), at(32.25f, 10)}, {1, 1});
    for (int k = 0; k < 2; ++k)
        hair.vertices[k].ambient = kivColor(1, 0.5f, 0.2f, 1), hair.vertices[k].opacity = 0.6f;
    for (int shadow : {1, 0}) {
        cam_.clear_arr();
        defs.shadows.shadow_pass = shadow;
        draw(hair, fur_);
        const kivColor c = color(9, 31);
        for (float v : {c.r, c.g, c.b}) EXPECT_NEAR(v, shadow ? 0 : 0.9999f * 0.6f, 2e-5f);
        EXPECT_NEAR(c.a, shadow ? 1 : 0.9999f * 0.6f, 2e-5f);
        EXPECT_EQ(color(8, 31).a + color(9, 33).a + color(11, 31).a, 0.0f);
    }
}

// A quad with three corners opaque black and one white, in every rotation
// and both orders of its corners: the white shows wherever it lies, even
// when one chain from the bottom to the top corner is all black (only a
// polygon black at every corner may be drawn as black).
TEST_F(HairRaster, PartlyBlackPolygonsKeepTheirColour) {
    const float xy[4][2] = {{10.3f, 10.2f}, {30.6f, 12.1f}, {28.4f, 30.7f}, {12.2f, 27.5f}};
    for (int order = 0; order < 8; ++order) {  // 4 rotations, forwards and backwards
        cam_.clear_arr();
        motion_blur_pnt v[4];
        for (int k = 0; k < 4; ++k) {
            const int j = order < 4 ? k : 3 - k;
            v[k].x = xy[j][0], v[k].y = xy[j][1], v[k].z = 5.0f;
            v[k].set_color((k + order) % 4 < 3 ? kivColor(0, 0, 0, 1) : kivColor(1, 1, 1, 1));
        }
        cam_.zbuff_hair_poly(4, v, ~0u);
        float red = 0.0f;
        for (int i = 0; i < 21 * 21; ++i) red += color(10 + i / 21, 10 + i % 21).r;
        EXPECT_GT(red, 20.0f) << order;
    }
}

// The description's matrix and then the camera's take the points into
// camera space, and the camera's takes the root normal (which decides
// back-facing lights): the picture is that of the same hair given in
// camera space. A missing, doubled, transposed or reordered transform
// moves the hair or darkens it.
TEST_F(HairRaster, DescriptionAndCameraMatricesTakePointsAndNormalToCameraSpace) {
    // H moves by (1, 0.5, 0); C turns a quarter about y, (x, y, z) to
    // (z, y, −x), then moves by (0, 0, −10).
    const kivMatrix H(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 0.5f, 0, 1);
    const kivMatrix C(0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, -10, 1);
    const double world[4][3] = {{-1, -1, -12}, {-1.5, 0, -2}, {-0.5, 1, 8}, {-1, 2, 12}};
    control_hair h(4), ref(4);
    for (int k = 0; k < 4; ++k) {
        const double x = world[k][0] + 1, y = world[k][1] + 0.5, z = world[k][2];
        h.points[k] = kivPoint(float(world[k][0]), float(world[k][1]), float(world[k][2]));
        ref.points[k] = kivPoint(float(z), float(y), float(-x - 10));
        for (control_hair* c : {&h, &ref}) {
            c->vertices[k].width = 1.0f;
            c->vertices[k].ambient = kivColor(0, 0, 0, 0);
            c->vertices[k].specular = kivColor(0, 0, 0, 0);
        }
    }
    // A spot behind the hair looks back at the camera; back-facing lights
    // are culled, so only a normal facing it, (0, 0, −1), is lit.
    defs.backface = true;
    defs.model_name = "skin";
    hair_light* spot = render_test::add_light(LIGHT_SPOT);
    spot->cone = 80, spot->position = kivPoint(0, 0, -40), spot->direction = kivVector(0, 0, 1);
    fur_->light_model = 1;
    draw(ref, fur_, kivVector(0, 0, -1));
    const std::vector<kivColor> expected = picture(cam_);
    float lit = 0;
    for (const kivColor& c : expected) lit += c.g;
    ASSERT_GT(lit, 5.0f);

    hair_camera cam;
    small_camera(cam, cam_window(), C);
    fur_->matrix = H;
    draw(h, fur_, kivVector(1, 0, 0), &cam);
    expect_picture(cam, expected, 2e-3);
}

// Points behind the camera draw nothing, and a hair that comes from
// behind the camera (or goes there) draws as the part in front: the first
// segment in front starts its ribbon afresh, and a segment crossing the
// near plane (z = −1e-5) ends where it crosses it.
TEST_F(HairRaster, PartsBehindTheCameraAreDropped) {
    const kivPoint b0(-3, 1, 4), b1(-1, 0.5f, 2), f2 = at(30, 20), f3 = at(40, 28, -11);
    const float t = (f2.z + 1e-5f) / (f2.z - b1.z);
    const kivPoint cut(f2.x + (b1.x - f2.x) * t, f2.y + (b1.y - f2.y) * t, -1e-5f);
    const std::vector<kivPoint> pairs[][2] = {
        {{b0, b1, f2, f3}, {b1, f2, f3}},
        {{f3, f2, b1, b0}, {f3, f2, b1}},
        {{f3, f2, b1}, {f3, f2, cut}},
        {{b0, b1, kivPoint(2, 2, 0.5f)}, {}},
    };
    for (const auto& pr : pairs) {
        std::vector<kivColor> pictures[2];
        for (int k = 0; k < 2; ++k) {
            cam_.clear_arr();
            control_hair h(static_cast<int>(pr[k].size()));
            for (size_t i = 0; i < pr[k].size(); ++i)
                h.points[i] = pr[k][i], h.vertices[i].width = 1.5f;
            if (!pr[k].empty()) draw(h);
            if (k == 0) pictures[0] = picture(cam_);
        }
        expect_picture(cam_, pictures[0], 1e-4, std::to_string(&pr - pairs));
        EXPECT_EQ(alpha_sum() > 10.0f, !pr[1].empty()) << &pr - pairs;
    }
}

TEST_F(HairRaster, SegmentTestSkipsSegmentsWhoseEndsAreUnseen) {
    // A wall at depth 10 over columns 10 … 29, rows 5 … 39, with a gap at
    // columns 19 … 20; hairs at depth 20 behind it.
    kivPoint walls[2][4] = {{at(10, 5), at(19, 5), at(19, 40), at(10, 40)},
                            {at(21, 5), at(30, 5), at(30, 40), at(21, 40)}};
    const struct {
        std::vector<kivPoint> hair;
        float gap, right, left;  // alpha at (20, 20), (35, 20) and (5, 20)
    } cases[] = {
        // Root and tip hidden, the middle in the gap: not drawn.
        {{at(12, 20, -20), at(28, 20, -20)}, 0, 0, 0},
        // A visible first segment, then one from a hidden end to another.
        {{at(40, 20, -20), at(28, 20, -20), at(12, 20, -20)}, 0, 1, 0},
        // Both ends outside the window: not drawn even where it crosses.
        {{at(-10, 20, -5), at(80, 20, -5)}, 0, 0, 0},
        // Ends in view: drawn through the gap.
        {{at(12, 20, -5), at(40, 20, -5)}, 1, 1, 0},
        // A root's pixel is truncated towards zero: −0.5 lies in column 0
        // and decides; −1.1 lies outside, and the hidden end decides.
        {{at(-0.5f, 20, -20), at(15, 20, -20)}, 0, 0, 1},
        {{at(-1.1f, 20, -20), at(15, 20, -20)}, 0, 0, 0},
    };
    for (const auto& c : cases) {
        cam_.clear_arr();
        for (auto& w : walls) cam_.zbuff_poly(4, w, true, false);
        draw(make_hair(c.hair, std::vector<float>(c.hair.size(), 1.0f)));
        EXPECT_NEAR(color(20, 20).a, c.gap, 1e-3) << &c - cases;
        EXPECT_NEAR(color(20, 35).a, c.right, 1e-3) << &c - cases;
        EXPECT_NEAR(color(20, 5).a, c.left, 1e-3) << &c - cases;
    }
}

TEST_F(HairRaster, PointSegmentAbandonsTheHair) {
    opt_flags = 3;
    const control_hair hair = make_hair({at(5, 5), at(9, 5), at(9, 5)}, {1, 1, 1});
    EXPECT_EQ(captured([&] { draw(hair); }), "WARNING: skipping hair, segment is a point\n");
    EXPECT_EQ(alpha_sum(), 0.0f);
}
