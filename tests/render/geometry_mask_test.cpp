// The geometry array beside the pixel records: hidden samples decided
// without a record, records made by hair carrying their sample's geometry,
// and bands of rows carried from one z-buffer into another.
#include "render/fragment_list.h"

#include <unistd.h>

#include "render_support.h"

using render_test::add_fragment;
using render_test::add_geometry;
using render_test::make_zbuffer;

namespace {

constexpr unsigned kAll = 0xFFFFFFFFu;

class GeometryMask : public render_test::SettingsTest {};

// What one sample is given: up to two pieces of geometry and up to three
// hair fragments, the hair drawn before the geometry or after it.
struct sample_scene {
    int pieces = 0;
    float z[2] = {0, 0}, cover[2] = {0, 0};
    int hairs = 0;
    float hz[3] = {0, 0, 0};
    bool hair_first = false;
    float nearest() const { return pieces == 2 ? std::min(z[0], z[1]) : z[0]; }
    // Coverages are either clearly partial (at most 0.9) or full.
    bool full() const { return pieces > 0 && cover[0] + cover[1] >= 1.0f; }
};

std::vector<sample_scene> random_scene(int n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    std::vector<sample_scene> s(static_cast<std::size_t>(n));
    for (sample_scene& x : s) {
        x.pieces = static_cast<int>(rng() % 3);
        const bool full = rng() % 2 == 0;
        for (int i = 0; i < x.pieces; ++i) {
            x.z[i] = 5.0f + 20.0f * u(rng);
            x.cover[i] = !full ? 0.45f * u(rng) : x.pieces == 1 ? 1.0f : 0.6f + 0.4f * u(rng);
        }
        x.hairs = static_cast<int>(rng() % 4);
        for (int i = 0; i < x.hairs; ++i) x.hz[i] = 1.0f + 30.0f * u(rng);
        x.hair_first = rng() % 2 == 0;
    }
    return s;
}

void draw(hair_zbuffer& zb, const std::vector<sample_scene>& scene) {
    for (int r = 0; r < zb.lines(); ++r) {
        for (int c = 0; c < zb.cols(); ++c) {
            const sample_scene& x = scene[static_cast<std::size_t>(r * zb.cols() + c)];
            auto hair = [&] {
                for (int i = 0; i < x.hairs; ++i)
                    add_fragment(zb, r, c, i + 1, x.hz[i], kivColor(0.3f * i, 0.5f, 0.9f, 0.4f));
            };
            if (x.hair_first) hair();
            for (int i = 0; i < x.pieces; ++i) add_geometry(zb, r, c, x.z[i], x.cover[i]);
            if (!x.hair_first) hair();
        }
    }
}

// Everything the output passes read of one sample, as comparable numbers.
std::vector<float> read_sample(hair_zbuffer& zb, int r, int c) {
    float gz, gc, hz, ha;
    zb.geometry_depth(r, c, gz, gc);
    zb.resolve_depth(zb.record(r, c), hz, ha);
    const kivColor k = zb.resolve_color(zb.record(r, c));
    const std::size_t i = zb.index(r, c);
    const bool seen[] = {zb.is_visible_at(i, gz - 0.01f, kAll),
                         zb.is_visible_at(i, gz + 0.01f, kAll)};
    return {gz,
            gc,
            hz,
            ha,
            k.r,
            k.g,
            k.b,
            k.a,
            zb.record(r, c) ? 1.0f : 0.0f,
            1.0f * seen[0],
            1.0f * seen[1]};
}

}  // namespace

TEST_F(GeometryMask, SamplesWithoutHairHaveNoRecordAndAnswerFromTheArray) {
    for (const auto& [lines, cols] : {std::pair{1, 1}, {5, 7}, {9, 4}, {13, 6}}) {
        auto zb = make_zbuffer(lines, cols);
        std::vector<sample_scene> scene = random_scene(lines * cols, 7u * lines + cols);
        for (sample_scene& x : scene) x.hairs = 0;
        draw(*zb, scene);
        EXPECT_EQ(zb->chunk_count(), 0) << "geometry alone takes no record";
        for (int r = 0; r < lines; ++r) {
            for (int c = 0; c < cols; ++c) {
                const sample_scene& x = scene[static_cast<std::size_t>(r * cols + c)];
                float gz, gc;
                zb->geometry_depth(r, c, gz, gc);
                EXPECT_EQ(gz, x.pieces ? x.nearest() : 0.0f) << r << " " << c;
                if (x.full())
                    EXPECT_EQ(gc, 1.0f);
                else
                    EXPECT_NEAR(gc, x.cover[0] + x.cover[1], 4e-5f);
                const std::size_t k = zb->index(r, c);
                for (float d : {x.nearest() - 0.01f, x.nearest(), x.nearest() + 0.01f, 40.0f})
                    EXPECT_EQ(zb->is_visible_at(k, d, kAll), !x.full() || d < x.nearest()) << d;
            }
        }
        zb->clear();
        float gz, gc;
        zb->geometry_depth(lines - 1, cols - 1, gz, gc);
        EXPECT_EQ(gz + gc, 0.0f);
        EXPECT_TRUE(zb->is_visible_at(zb->index(lines - 1, cols - 1), 1e9f, kAll));
    }
}

// Hair drawn before the geometry and after it gives the same record: the
// first fragment's record takes the geometry, later geometry updates it.
TEST_F(GeometryMask, RecordsAgreeWithTheArrayWhicheverCameFirst) {
    auto scene = random_scene(6 * 10, 11);
    auto a = make_zbuffer(6, 10), b = make_zbuffer(6, 10);
    draw(*a, scene);
    for (sample_scene& x : scene) x.hair_first = !x.hair_first;
    draw(*b, scene);
    for (int r = 0; r < 6; ++r) {
        for (int c = 0; c < 10; ++c) {
            const pixel_slot* rec = a->record(r, c);
            EXPECT_EQ(rec != nullptr, scene[r * 10 + c].hairs > 0);
            for (float d = 2.0f; rec && d < 30.0f; d += 0.37f)
                ASSERT_EQ(a->is_visible(rec, d, kAll), a->is_visible_at(a->index(r, c), d, kAll));
            EXPECT_EQ(read_sample(*a, r, c), read_sample(*b, r, c)) << r << " " << c;
        }
    }
}

TEST_F(GeometryMask, BandsCarryGeometryAndRecordsIntoTheirRows) {
    const int lines = 11, cols = 9, row0 = 3, row1 = 8;
    auto src = make_zbuffer(lines, cols), dst = make_zbuffer(lines, cols),
         untouched = make_zbuffer(lines, cols);
    draw(*src, random_scene(lines * cols, 21));
    draw(*dst, random_scene(lines * cols, 22));
    draw(*untouched, random_scene(lines * cols, 22));
    // save_rows into a fresh stream, rewound; damage(bytes) may spoil it.
    auto band = [&](auto damage) {
        std::FILE* f = std::tmpfile();
        EXPECT_TRUE(f && src->save_rows(f, row0, row1));
        damage(f, std::ftell(f));
        std::rewind(f);
        return f;
    };
    std::FILE* f = band([](std::FILE*, long) {});
    ASSERT_TRUE(dst->load_rows(f, row0, row1));
    std::fclose(f);
    for (int r = 0; r < lines; ++r) {
        const bool in = r >= row0 && r < row1;
        for (int c = 0; c < cols; ++c)
            EXPECT_EQ(read_sample(*dst, r, c), read_sample(in ? *src : *untouched, r, c))
                << r << " " << c;
    }
    // A flag byte with other bits and a short stream are refused.
    f = band([](std::FILE* g, long) {
        std::rewind(g);
        std::fputc(4, g);
        std::fflush(g);
    });
    EXPECT_FALSE(dst->load_rows(f, row0, row1));
    std::fclose(f);
    f = band([](std::FILE* g, long bytes) { ASSERT_EQ(ftruncate(fileno(g), bytes - 1), 0); });
    EXPECT_FALSE(dst->load_rows(f, row0, row1));
    std::fclose(f);
}

// Motion-blurred geometry stays in the records; the array is left empty
// and the test at a sample asks the record.
TEST_F(GeometryMask, MotionBlurredGeometryKeepsItsRecord) {
    defs.motion_blur = 1;
    auto zb = make_zbuffer(2, 3);
    defs.geometry_id = 1;
    add_geometry(*zb, 1, 2, 10.0f, 1.0f, 0x0000FFFFu);
    EXPECT_EQ(zb->geometry_at(1, 2).control, 0u);
    ASSERT_NE(zb->record(1, 2), nullptr);
    const std::size_t k = zb->index(1, 2);
    EXPECT_FALSE(zb->is_visible_at(k, 11.0f, 0x0000FFFFu));
    EXPECT_TRUE(zb->is_visible_at(k, 11.0f, 0xFFFF0000u));
    EXPECT_TRUE(zb->is_visible_at(k, 9.0f, 0x0000FFFFu));
}
