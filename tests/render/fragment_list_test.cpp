#include "render/fragment_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "foundation/fur_exception.h"
#include "render_support.h"

using render_test::add_fragment;
using render_test::add_geometry;
using render_test::hair;
using render_test::make_zbuffer;

namespace {

// One 16-bit step, and the rounding that a few composites accumulate.
constexpr float kStep = 1.0f / 65535.0f;
constexpr float kTol = 4.0f * kStep;

const kivColor kWhiteHalf(1.0f, 1.0f, 1.0f, 0.5f);

class Fragments : public render_test::SettingsTest {};

// The hair list of a record, nearest first.
std::vector<float> list_depths(const pixel_slot* rec) {
    std::vector<float> z;
    const int nz = rec[0].zb.nb_zbuff();
    const int first = (nz <= 1 ? 1 : nz) + 1;
    for (int i = 0; i < rec[0].zb.list_nb(); ++i) z.push_back(rec[first + i].hair.z);
    return z;
}

}  // namespace

// --- Fractions and layout ----------------------------------------------------------------

TEST(Fraction, EncodingEdges) {
    EXPECT_EQ(frac_encode(0.99995f), 65535);
    EXPECT_EQ(frac_decode(frac_encode(0.99995f)), 1.0f);
    EXPECT_EQ(frac_encode(0.5f), 32767);
    EXPECT_EQ(frac_decode(32767), 32767.0f / 65535.0f);
    // 0.9999 itself is not above 0.9999: 65528.4465 truncated.
    EXPECT_EQ(frac_encode(0.9999f), 65528);
    EXPECT_EQ(frac_encode(1.0f), 65535);
    EXPECT_EQ(frac_encode(7.0f), 65535);
    EXPECT_EQ(frac_encode(0.0f), 0);
    EXPECT_EQ(frac_encode(-0.25f), 0);
    EXPECT_EQ(frac_encode(std::nanf("")), 0);
    // Quotients above 0.9999 read back as exactly 1.
    EXPECT_EQ(frac_decode(65529), 1.0f);
    EXPECT_EQ(frac_decode(65528), 65528.0f / 65535.0f);
    EXPECT_EQ(frac_decode(0), 0.0f);
}

TEST(Fraction, RoundTripLosesLessThanOneStep) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int i = 0; i < 1000; ++i) {
        const float f = u(rng);
        const float back = frac_decode(frac_encode(f));
        EXPECT_LE(back, f > 0.9999f ? 1.0f : f) << i;
        EXPECT_GT(back, f - kStep) << i;
    }
}

TEST_F(Fragments, RecordsComeFromChunksOfFourKilobytes) {
    EXPECT_EQ(sizeof(pixel_slot), 16u);
    auto zb = make_zbuffer(10, 10, 5);
    ASSERT_TRUE(zb);
    EXPECT_EQ(zb->record_slots(), 8);
    EXPECT_EQ(zb->chunk_count(), 0);
    // 4096 ÷ 128 = 32 records a chunk: the 33rd pixel opens a second chunk.
    for (int i = 0; i < 32; ++i) add_geometry(*zb, i / 10, i % 10, 5.0f, 0.5f);
    EXPECT_EQ(zb->chunk_count(), 1);
    add_geometry(*zb, 3, 2, 5.0f, 0.5f);
    EXPECT_EQ(zb->chunk_count(), 2);
    // Records of one chunk follow each other.
    EXPECT_EQ(zb->record(0, 1), zb->record(0, 0) + 8);
    zb->clear();
    EXPECT_EQ(zb->chunk_count(), 0);
    EXPECT_EQ(zb->record(0, 0), nullptr);

    auto big = make_zbuffer(2, 2, 13);
    ASSERT_TRUE(big);
    EXPECT_EQ(big->record_slots(), 16);
    // Sizes outside 1 … 13 are clamped.
    EXPECT_EQ(make_zbuffer(1, 1, 40)->list_size(), kMaxListSize);
    EXPECT_EQ(make_zbuffer(1, 1, 0)->list_size(), 1);
    EXPECT_FALSE(make_zbuffer(0, 5));
    EXPECT_FALSE(make_zbuffer(5, -1));
}

TEST_F(Fragments, MemoryDependsOnPixelsTouchedNotOnFragments) {
    auto zb = make_zbuffer(4, 4);
    const std::size_t empty = zb->memory_bytes();
    for (int id = 1; id <= 200; ++id)
        add_fragment(*zb, 1, 2, id, static_cast<float>(id % 17) + 1.0f, kWhiteHalf);
    EXPECT_EQ(zb->chunk_count(), 1);
    EXPECT_GT(zb->memory_bytes(), empty);
    EXPECT_LT(zb->memory_bytes(), empty + 4200);
}

TEST_F(Fragments, CellAccessRecordsThePixelAndRefusesOutsideTheGrid) {
    auto zb = make_zbuffer(4, 5);
    pixel_slot** c = zb->cell(2, 3);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(*c, nullptr);
    EXPECT_EQ(defs.pixel_x, 3);
    EXPECT_EQ(defs.pixel_y, 2);

    testing::internal::CaptureStdout();
    EXPECT_EQ(zb->cell(4, 2), nullptr);
    EXPECT_EQ(zb->cell(0, -1), nullptr);
    EXPECT_EQ(zb->cell(1, 5), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "FATAL: k = 22 (4, 2), lines * cols = 20\n"
              "FATAL: k = -1 (0, -1), lines * cols = 20\n"
              "FATAL: k = 10 (1, 5), lines * cols = 20\n");
    EXPECT_EQ(defs.pixel_x, 3);
    EXPECT_EQ(zb->record(4, 0), nullptr);
}

// --- Same-hair merges ------------------------------------------------------------------------

TEST_F(Fragments, SameHairPiecesThatOverfillTheirPixelMergeToFullAlpha) {
    auto zb = make_zbuffer(1, 1);
    add_fragment(*zb, 0, 0, 9, 5.0f, kivColor(1, 0, 0, 0.6f));
    add_fragment(*zb, 0, 0, 9, 6.0f, kivColor(0, 1, 0, 0.7f));
    const pixel_slot* rec = zb->record(0, 0);
    const pixel_hair& cur = rec[1].hair;
    EXPECT_EQ(cur.a, 65535);
    EXPECT_EQ(cur.z, 5.0f);
    EXPECT_EQ(cur.id, 9);
    EXPECT_EQ(rec[0].zb.list_nb(), 0);
    // The farther piece scaled by 0.4 ÷ 0.7.
    const kivColor c = zb->resolve_color(zb->record(0, 0));
    EXPECT_NEAR(c.r, 0.6f, kTol);
    EXPECT_NEAR(c.g, 0.7f * 0.4f / 0.7f, kTol);
    EXPECT_EQ(c.a, 1.0f);
}

TEST_F(Fragments, SameHairPiecesThatFitAddUp) {
    auto zb = make_zbuffer(1, 1);
    // The farther piece comes first: the nearer depth wins all the same.
    add_fragment(*zb, 0, 0, 4, 8.0f, kivColor(0, 0, 1, 0.4f));
    add_fragment(*zb, 0, 0, 4, 3.0f, kivColor(1, 0, 0, 0.3f));
    const kivColor c = zb->resolve_color(zb->record(0, 0));
    EXPECT_NEAR(c.a, 0.7f, kTol);
    EXPECT_NEAR(c.r, 0.3f, kTol);
    EXPECT_NEAR(c.b, 0.4f, kTol);
    float depth, alpha;
    zb->resolve_depth(zb->record(0, 0), depth, alpha);
    EXPECT_EQ(depth, 3.0f);
}

TEST_F(Fragments, AnOpaqueNearPieceHidesTheRestOfItsHair) {
    pixel_hair x = hair(0.2f, 0.3f, 0.4f, 1.0f, 2.0f, 5);
    fragment_merge_same_hair(x, hair(1, 1, 1, 0.5f, 1.0f, 5));
    // The new piece is nearer but does not cover: the opaque one fills the rest.
    EXPECT_EQ(x.a, 65535);
    EXPECT_EQ(x.z, 1.0f);
    pixel_hair y = hair(0.2f, 0.3f, 0.4f, 1.0f, 2.0f, 5);
    fragment_merge_same_hair(y, hair(1, 1, 1, 0.5f, 3.0f, 5));
    EXPECT_EQ(y.r, frac_encode(0.2f));
    EXPECT_EQ(y.g, frac_encode(0.3f));
    EXPECT_EQ(y.z, 2.0f);
}

// --- The sorted list and the overflows ----------------------------------------------------

TEST_F(Fragments, TheListIsSortedAndEqualDepthsKeepTheirOrder) {
    auto zb = make_zbuffer(1, 1);
    const float depths[] = {4, 2, 4, 1};
    for (int i = 0; i < 4; ++i) add_fragment(*zb, 0, 0, i + 1, depths[i], kWhiteHalf);
    pixel_slot* rec = zb->record(0, 0);
    zb->resolve_color(rec);
    EXPECT_EQ(list_depths(rec), (std::vector<float>{1, 2, 4, 4}));
    // The second fragment at 4 went after the first.
    EXPECT_EQ(rec[4].hair.id, 1);
    EXPECT_EQ(rec[5].hair.id, 3);
    EXPECT_EQ(rec[1].hair.id, 0);
}

TEST_F(Fragments, AFullListSpillsTheFarthestIntoTheFrontOverflow) {
    auto zb = make_zbuffer(1, 1, 5);
    const float depths[] = {3, 6, 1, 5, 2, 4};
    for (int i = 0; i < 6; ++i) add_fragment(*zb, 0, 0, i + 1, depths[i], kWhiteHalf);
    pixel_slot* rec = zb->record(0, 0);
    zb->resolve_color(rec);
    EXPECT_EQ(list_depths(rec), (std::vector<float>{1, 2, 3, 4, 5}));
    EXPECT_TRUE(rec[0].zb.overflow_f());
    EXPECT_FALSE(rec[0].zb.overflow_b());
    EXPECT_EQ(rec[7].hair.z, 6.0f);
    EXPECT_EQ(rec[7].hair.id, 2);

    // Later overflowing fragments accumulate there.
    add_fragment(*zb, 0, 0, 7, 7.0f, kWhiteHalf);
    add_fragment(*zb, 0, 0, 8, 0.5f, kWhiteHalf);
    const kivColor c = zb->resolve_color(rec);
    EXPECT_EQ(list_depths(rec), (std::vector<float>{0.5f, 1, 2, 3, 4}));
    // 6 and 7 over each other, then 5 in front of them.
    EXPECT_EQ(rec[7].hair.z, 5.0f);
    EXPECT_NEAR(frac_decode(rec[7].hair.a), 0.875f, kTol);
    EXPECT_NEAR(c.a, 0.96875f + 0.875f * 0.03125f, kTol);
    EXPECT_NEAR(c.r, c.a, kTol);
}

TEST_F(Fragments, FrontThenBehindOverflowAroundGeometry) {
    auto zb = make_zbuffer(1, 1, 5);
    add_geometry(*zb, 0, 0, 10.0f, 0.5f);
    for (int i = 1; i <= 6; ++i) add_fragment(*zb, 0, 0, i, static_cast<float>(i), kWhiteHalf);
    pixel_slot* rec = zb->record(0, 0);
    zb->resolve_color(rec);
    // 6 lies in front of the geometry: the front overflow, alone in slot 7.
    ASSERT_TRUE(rec[0].zb.overflow_f());
    EXPECT_EQ(rec[7].hair.z, 6.0f);

    // 12 lies behind: the behind overflow takes slot 7, the front one moves
    // to slot 6 and absorbs the list's last entry (5).
    add_fragment(*zb, 0, 0, 7, 12.0f, kWhiteHalf);
    const kivColor c = zb->resolve_color(rec);
    EXPECT_TRUE(rec[0].zb.overflow_b());
    EXPECT_EQ(list_depths(rec), (std::vector<float>{1, 2, 3, 4}));
    EXPECT_EQ(rec[6].hair.z, 5.0f);
    EXPECT_NEAR(frac_decode(rec[6].hair.a), 0.75f, kTol);
    EXPECT_EQ(rec[7].hair.z, 12.0f);
    EXPECT_EQ(rec[7].hair.id, 7);
    // Front: four halves, then the overflow; behind: 12 seen through the
    // uncovered half of the geometry.
    const float front = 0.9375f + 0.75f * 0.0625f;
    const float expected = front + 0.5f * (1.0f - front) * 0.5f;
    EXPECT_NEAR(c.a, expected, kTol);
    EXPECT_NEAR(c.g, expected, kTol);
}

TEST_F(Fragments, BehindThenFrontOverflowAroundGeometry) {
    auto zb = make_zbuffer(1, 1, 5);
    add_geometry(*zb, 0, 0, 10.0f, 0.5f);
    const float depths[] = {1, 2, 3, 4, 5, 12, 11, 0.5f};
    for (int i = 0; i < 8; ++i) add_fragment(*zb, 0, 0, i + 1, depths[i], kWhiteHalf);
    pixel_slot* rec = zb->record(0, 0);
    zb->resolve_color(rec);
    // 12 and 11 went behind; 0.5 pushed 5 out, which became the front
    // overflow, and then 4 after it.
    EXPECT_EQ(list_depths(rec), (std::vector<float>{0.5f, 1, 2, 3}));
    EXPECT_EQ(rec[0].zb.list_nb(), 4);
    EXPECT_EQ(rec[6].hair.z, 4.0f);
    EXPECT_NEAR(frac_decode(rec[6].hair.a), 0.75f, kTol);
    EXPECT_EQ(rec[7].hair.z, 11.0f);
    EXPECT_NEAR(frac_decode(rec[7].hair.a), 0.75f, kTol);
}

TEST_F(Fragments, ANewLastEntryAfterAnOverflowIsCreatedGoesIntoIt) {
    auto zb = make_zbuffer(1, 1, 5);
    add_geometry(*zb, 0, 0, 10.0f, 1.0f);
    const float depths[] = {11, 12, 13, 1, 2, 3, 0.5f, 5, 4};
    for (int i = 0; i < 9; ++i) add_fragment(*zb, 0, 0, i + 1, depths[i], kWhiteHalf);
    pixel_slot* rec = zb->record(0, 0);
    zb->resolve_color(rec);
    // 13, 12, 11 were pushed behind one by one. 4 arrived when the list's
    // last entry (5) lay in front: 5 opened the front overflow, and 4, now
    // behind every remaining entry, joined it instead of entering the list.
    EXPECT_EQ(list_depths(rec), (std::vector<float>{0.5f, 1, 2, 3}));
    EXPECT_EQ(rec[6].hair.z, 4.0f);
    EXPECT_NEAR(frac_decode(rec[6].hair.a), 0.75f, kTol);
    EXPECT_EQ(rec[7].hair.z, 11.0f);
    EXPECT_NEAR(frac_decode(rec[7].hair.a), 0.875f, kTol);
    // The geometry covers the pixel: nothing behind it shows.
    EXPECT_NEAR(zb->resolve_color(rec).a, 0.9375f + 0.75f * 0.0625f, kTol);
}

TEST_F(Fragments, InsertionOrderDoesNotChangeAResolvedColour) {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int i = 0; i < 300; ++i) {
        defs.merge_mode = i % 4;
        defs.hair_random = u(rng);
        auto zb = make_zbuffer(1, 2, 5);
        const bool geometry = i % 3 != 0;
        const float gz = 20.0f + 60.0f * u(rng), gc = u(rng);
        if (geometry) {
            add_geometry(*zb, 0, 0, gz, gc);
            add_geometry(*zb, 0, 1, gz, gc);
        }
        const int n = 1 + i % 5;
        std::vector<int> order(n);
        std::vector<float> z(n);
        std::vector<kivColor> c(n);
        for (int k = 0; k < n; ++k) {
            order[k] = k;
            z[k] = 1.0f + 98.0f * u(rng) + 0.001f * k;
            c[k] = kivColor(u(rng), u(rng), u(rng), u(rng));
        }
        std::vector<int> shuffled = order;
        std::shuffle(shuffled.begin(), shuffled.end(), rng);
        for (int k : order) add_fragment(*zb, 0, 0, k + 1, z[k], c[k]);
        for (int k : shuffled) add_fragment(*zb, 0, 1, k + 1, z[k], c[k]);
        const kivColor a = zb->resolve_color(zb->record(0, 0));
        const kivColor b = zb->resolve_color(zb->record(0, 1));
        EXPECT_NEAR(a.r, b.r, kStep) << i;
        EXPECT_NEAR(a.g, b.g, kStep) << i;
        EXPECT_NEAR(a.b, b.b, kStep) << i;
        EXPECT_NEAR(a.a, b.a, kStep) << i;
    }
}

TEST_F(Fragments, OverflowingPixelsNeverLoseCoverage) {
    // However many fragments arrive, the list and overflows composite to
    // the same alpha as the plain over of all of them.
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int i = 0; i < 100; ++i) {
        const int list_size = 1 + i % 6;
        auto zb = make_zbuffer(1, 1, list_size);
        const int n = 1 + i % 20;
        float transmission = 1.0f;
        for (int k = 0; k < n; ++k) {
            const float a = 0.05f + 0.3f * u(rng);
            add_fragment(*zb, 0, 0, k + 1, 1.0f + 50.0f * u(rng), kivColor(1, 1, 1, a));
            transmission *= 1.0f - a;
        }
        const kivColor c = zb->resolve_color(zb->record(0, 0));
        EXPECT_NEAR(c.a, 1.0f - transmission, 2e-3f) << i;
        EXPECT_LE(zb->record(0, 0)[0].zb.list_nb(), list_size) << i;
    }
}

// --- The merge operator -----------------------------------------------------------------------

TEST_F(Fragments, MergeModeZeroIsOver) {
    defs.merge_mode = 0;
    pixel_hair d = hair(0.5f, 0, 0, 0.5f, 2.0f, 1);
    fragment_merge(d, hair(0, 0.5f, 0, 0.5f, 1.0f, 2), nullptr);
    // The source is nearer: it is the front.
    EXPECT_NEAR(frac_decode(d.a), 0.75f, kTol);
    EXPECT_NEAR(frac_decode(d.r), 0.25f, kTol);
    EXPECT_NEAR(frac_decode(d.g), 0.5f, kTol);
    EXPECT_EQ(d.z, 1.0f);
    EXPECT_EQ(d.id, 1);
}

TEST_F(Fragments, MergeModeOneScalesByTheHairRandom) {
    defs.merge_mode = 1;
    defs.hair_random = 0.5f;
    pixel_hair d = hair(0.4f, 0, 0, 0.4f, 1.0f, 1);
    fragment_merge(d, hair(0, 0.5f, 0, 0.5f, 2.0f, 2), nullptr);
    // t = 1 − 0.5 × 0.4 = 0.8; 0.4 + 0.5 × 0.8 fits.
    EXPECT_NEAR(frac_decode(d.a), 0.8f, kTol);
    EXPECT_NEAR(frac_decode(d.g), 0.4f, kTol);
    pixel_hair e = hair(0.8f, 0, 0, 0.8f, 1.0f, 1);
    fragment_merge(e, hair(0, 0.5f, 0, 0.5f, 2.0f, 2), nullptr);
    // t = 0.6 would overfill: limited to (1 − 0.8) ÷ 0.5.
    EXPECT_EQ(e.a, 65535);
    EXPECT_NEAR(frac_decode(e.g), 0.2f, kTol);
    // A negative transmission is 0: the front alone.
    defs.hair_random = 3.0f;
    pixel_hair f = hair(0.5f, 0, 0, 0.5f, 1.0f, 1);
    fragment_merge(f, hair(0, 0.5f, 0, 0.5f, 2.0f, 2), nullptr);
    EXPECT_NEAR(frac_decode(f.a), 0.5f, kTol);
    EXPECT_EQ(f.g, 0);
}

TEST_F(Fragments, MergeModeTwoUsesThePowerOfTheFrontAlpha) {
    defs.merge_mode = 2;
    defs.merge_exponent = 2.0f;
    pixel_hair d = hair(0.5f, 0, 0, 0.5f, 1.0f, 1);
    fragment_merge(d, hair(0, 0.4f, 0, 0.4f, 2.0f, 2), nullptr);
    EXPECT_NEAR(frac_decode(d.a), 0.5f + 0.4f * 0.75f, kTol);
    pixel_hair e = hair(0.9f, 0, 0, 0.9f, 1.0f, 1);
    fragment_merge(e, hair(0, 0.9f, 0, 0.9f, 2.0f, 2), nullptr);
    EXPECT_EQ(e.a, 65535);
    EXPECT_NEAR(frac_decode(e.g), 0.1f, kTol);
    defs.merge_exponent = -1.0f;
    pixel_hair f = hair(0.5f, 0, 0, 0.5f, 1.0f, 1);
    fragment_merge(f, hair(0, 0.5f, 0, 0.5f, 2.0f, 2), nullptr);
    EXPECT_NEAR(frac_decode(f.a), 0.5f, kTol);
}

TEST_F(Fragments, MergeModeThreeAddsUpToFullOpacity) {
    defs.merge_mode = 3;
    pixel_hair d = hair(0.8f, 0, 0, 0.8f, 1.0f, 1);
    fragment_merge(d, hair(0, 0.5f, 0, 0.5f, 2.0f, 2), nullptr);
    // t = 0.2 ÷ 0.5 = 0.4: total alpha 1.
    EXPECT_EQ(d.a, 65535);
    EXPECT_NEAR(frac_decode(d.g), 0.2f, kTol);
    pixel_hair e = hair(0.3f, 0, 0, 0.3f, 1.0f, 1);
    fragment_merge(e, hair(0, 0.5f, 0, 0.5f, 2.0f, 2), nullptr);
    EXPECT_NEAR(frac_decode(e.a), 0.8f, kTol);
    EXPECT_NEAR(frac_decode(e.g), 0.5f, kTol);
}

TEST_F(Fragments, OtherMergeModesKeepTheFrontOnly) {
    defs.merge_mode = 7;
    pixel_hair d = hair(0, 0.5f, 0, 0.5f, 2.0f, 1);
    fragment_merge(d, hair(0.3f, 0, 0, 0.3f, 1.0f, 2), nullptr);
    EXPECT_EQ(d.a, frac_encode(0.3f));
    EXPECT_EQ(d.g, 0);
    EXPECT_EQ(d.z, 1.0f);
    EXPECT_EQ(d.id, 1);
}

TEST_F(Fragments, MergingIntoAnEmptyFragmentCopies) {
    pixel_hair d = {};
    const pixel_hair s = hair(0.1f, 0.2f, 0.3f, 0.4f, 7.0f, 12);
    fragment_merge(d, s, nullptr);
    EXPECT_EQ(d.a, s.a);
    EXPECT_EQ(d.r, s.r);
    EXPECT_EQ(d.z, 7.0f);
    EXPECT_EQ(d.id, 12);
}

TEST_F(Fragments, MergingBehindGeometryScalesByTheUncoveredPart) {
    pixel_zbuff g = {10.0f, 10.0f, 0u, pixel_zbuff::kIsUsed | frac_encode(0.5f)};
    pixel_hair d = hair(0.5f, 0, 0, 0.5f, 1.0f, 1);
    fragment_merge(d, hair(0, 1, 0, 1, 12.0f, 2), &g);
    EXPECT_NEAR(frac_decode(d.a), 0.75f, kTol);
    EXPECT_NEAR(frac_decode(d.g), 0.25f, kTol);
    EXPECT_EQ(d.z, 1.0f);
    // With motion blur the coverage is already in the fragments.
    defs.motion_blur = 1;
    pixel_hair e = hair(0.5f, 0, 0, 0.5f, 1.0f, 1);
    fragment_merge(e, hair(0, 1, 0, 1, 12.0f, 2), &g);
    EXPECT_EQ(e.a, 65535);
    // Nothing passes an opaque front.
    pixel_hair f = hair(1, 0, 0, 1, 1.0f, 1);
    fragment_merge(f, hair(0, 1, 0, 1, 12.0f, 2), &g);
    EXPECT_EQ(f.g, 0);
}

// --- Geometry ---------------------------------------------------------------------------------

TEST_F(Fragments, FullyCoveringGeometryHidesWhatLiesBehind) {
    auto zb = make_zbuffer(1, 2);
    add_geometry(*zb, 0, 0, 10.0f, 1.0f);
    const pixel_slot* rec = zb->record(0, 0);
    EXPECT_FALSE(zb->is_visible(rec, 11.0f, 0xFFFFFFFFu));
    EXPECT_TRUE(zb->is_visible(rec, 9.0f, 0xFFFFFFFFu));
    EXPECT_TRUE(zb->is_visible(nullptr, 1e9f, 0xFFFFFFFFu));
    // Drawn anyway, a fragment behind counts for nothing.
    add_fragment(*zb, 0, 0, 1, 11.0f, kivColor(1, 1, 1, 1));
    const kivColor c = zb->resolve_color(zb->record(0, 0));
    EXPECT_EQ(c.a, 0.0f);
    EXPECT_EQ(c.r, 0.0f);

    // Half coverage lets hair behind show; two halves add up to full.
    add_geometry(*zb, 0, 1, 10.0f, 0.5f);
    EXPECT_TRUE(zb->is_visible(zb->record(0, 1), 11.0f, 0xFFFFFFFFu));
    add_geometry(*zb, 0, 1, 8.0f, 0.49995f);
    EXPECT_FALSE(zb->is_visible(zb->record(0, 1), 11.0f, 0xFFFFFFFFu));
    float z, cov;
    zb->geometry_depth(zb->record(0, 1), z, cov);
    EXPECT_EQ(z, 8.0f);
    EXPECT_EQ(cov, 1.0f);
    EXPECT_EQ(zb->record(0, 1)[0].zb.z2, 8.0f);
    EXPECT_EQ(zb->record(0, 1)[0].zb.nb_zbuff(), 1);
}

// --- Motion blur ------------------------------------------------------------------------------

TEST_F(Fragments, OneMovingModelWidensItsEntry) {
    defs.motion_blur = 1;
    defs.geometry_id = 1;
    auto zb = make_zbuffer(1, 1);
    add_geometry(*zb, 0, 0, 10.0f, 0.5f, 0x0000FFFFu);
    add_geometry(*zb, 0, 0, 12.0f, 0.5f, 0xFFFF0000u);
    pixel_slot* rec = zb->record(0, 0);
    EXPECT_EQ(rec[0].zb.z, 10.0f);
    EXPECT_EQ(rec[0].zb.z2, 12.0f);
    EXPECT_EQ(rec[0].zb.timeslices, 0xFFFFFFFFu);
    EXPECT_EQ(rec[0].zb.area(), 65535);
    EXPECT_EQ(rec[0].zb.list_nb(), 1);
    EXPECT_EQ(rec[7].word[3], 1u);
    // An earlier slice with the same start: the smaller depth wins.
    add_geometry(*zb, 0, 0, 9.0f, 0.0f, 0x1u);
    EXPECT_EQ(rec[0].zb.z, 9.0f);
    add_geometry(*zb, 0, 0, 10.0f, 0.0f, 0x1u);
    EXPECT_EQ(rec[0].zb.z, 9.0f);
    rec[0].zb.z = 10.0f;

    zb->post_mb(rec, true);
    EXPECT_EQ(rec[0].zb.list_nb(), 0);
    EXPECT_EQ(rec[0].zb.nb_zbuff(), 1);
    EXPECT_EQ(rec[7].word[3], 0u);
    // At 11 the geometry (10 at slice 0, 12 at slice 31) hides slices 0-15.
    EXPECT_TRUE(zb->is_visible(rec, 11.0f, 0xFFFFFFFFu));
    EXPECT_FALSE(zb->is_visible(rec, 11.0f, 0x0000FFFFu));
    EXPECT_TRUE(zb->is_visible(rec, 11.0f, 0x00010000u));
    EXPECT_FALSE(zb->is_visible(rec, 13.0f, 0xFFFFFFFFu));
    EXPECT_TRUE(zb->is_visible(rec, 9.0f, 0xFFFFFFFFu));
    EXPECT_FALSE(zb->is_visible(rec, 9.0f, 0u));
    // A fragment there keeps the visible half of its alpha.
    add_fragment(*zb, 0, 0, 3, 11.0f, kivColor(1, 1, 1, 1));
    EXPECT_EQ(rec[1].hair.a, frac_encode(0.5f));
    float z, cov;
    zb->geometry_depth(rec, z, cov);
    EXPECT_EQ(z, 10.0f);
    EXPECT_EQ(cov, 1.0f);
}

TEST_F(Fragments, EachMovingModelGetsAnEntryAndCompressionDropsCoveredOnes) {
    defs.motion_blur = 1;
    auto zb = make_zbuffer(1, 1, 5);
    defs.geometry_id = 1;
    add_geometry(*zb, 0, 0, 10.0f, 0.25f, 0x0000FFFFu);
    defs.geometry_id = 2;
    add_geometry(*zb, 0, 0, 5.0f, 0.5f, 0x000000FFu);
    defs.geometry_id = 3;
    add_geometry(*zb, 0, 0, 20.0f, 0.75f, 0x0000F000u);
    pixel_slot* rec = zb->record(0, 0);
    EXPECT_EQ(rec[0].zb.list_nb(), 3);
    EXPECT_EQ(rec[0].zb.last(), 2);
    EXPECT_TRUE(rec[0].zb.is_next());
    EXPECT_TRUE(rec[1].zb.is_next());
    EXPECT_FALSE(rec[2].zb.is_next());
    EXPECT_EQ(rec[7].word[3], 3u);
    float z, cov;
    zb->geometry_depth(rec, z, cov);
    EXPECT_EQ(cov, 16 * 0.03125f);

    zb->post_mb(rec, true);
    // Sorted by depth; the third model's slices lie inside the others'.
    EXPECT_EQ(rec[0].zb.nb_zbuff(), 2);
    EXPECT_EQ(rec[0].zb.list_nb(), 0);
    EXPECT_EQ(rec[0].zb.last(), 0);
    EXPECT_EQ(rec[0].zb.z, 5.0f);
    EXPECT_EQ(rec[0].zb.timeslices, 0xFFu);
    EXPECT_EQ(rec[0].zb.area(), frac_encode(0.5f));
    EXPECT_TRUE(rec[0].zb.is_next());
    EXPECT_EQ(rec[1].zb.z, 10.0f);
    EXPECT_FALSE(rec[1].zb.is_next());
    EXPECT_EQ(rec[1].zb.nb_zbuff(), 0);

    // The hair part now starts after two depth entries and still ends at slot 7.
    for (int i = 1; i <= 6; ++i) add_fragment(*zb, 0, 0, 10 + i, 0.5f * i, kWhiteHalf);
    zb->resolve_color(rec);
    EXPECT_EQ(list_depths(rec), (std::vector<float>{0.5f, 1, 1.5f, 2}));
    EXPECT_TRUE(rec[0].zb.overflow_f());
    EXPECT_EQ(rec[7].hair.z, 2.5f);
    EXPECT_EQ(rec[1].zb.z, 10.0f);
}

TEST_F(Fragments, MergingCompressionKeepsRoomForHairs) {
    defs.motion_blur = 1;
    auto zb = make_zbuffer(1, 1, 5);
    for (int i = 1; i <= 5; ++i) {
        defs.geometry_id = i;
        add_geometry(*zb, 0, 0, 10.0f * i, 0.2f, 0x3Fu << (6 * (i - 1)));
    }
    pixel_slot* rec = zb->record(0, 0);
    zb->post_mb(rec, false);
    EXPECT_EQ(rec[0].zb.nb_zbuff(), 5);
    defs.geometry_id = 9;
    zb->clear();
    for (int i = 1; i <= 5; ++i) {
        defs.geometry_id = i;
        add_geometry(*zb, 0, 0, 10.0f * i, 0.2f, 0x3Fu << (6 * (i - 1)));
    }
    rec = zb->record(0, 0);
    zb->post_mb(rec, true);
    // list_size − 2 = 3 entries: the last three merged into one that ends
    // at the latest one's far depth.
    ASSERT_EQ(rec[0].zb.nb_zbuff(), 3);
    EXPECT_EQ(rec[2].zb.z, 30.0f);
    EXPECT_EQ(rec[2].zb.z2, 50.0f);
    EXPECT_EQ(rec[2].zb.timeslices, 0x3FFFF000u);
    EXPECT_NEAR(frac_decode(rec[2].zb.area()), 0.6f, kTol);
    EXPECT_FALSE(rec[2].zb.is_next());
    EXPECT_TRUE(rec[1].zb.is_next());
}

TEST_F(Fragments, MergedEntriesTakeTheDepthsOfEarlierOrWiderNeighbours) {
    defs.motion_blur = 1;
    auto zb = make_zbuffer(1, 2, 3);
    // Wider: the later entry covers more than twice the slices.
    defs.geometry_id = 1;
    add_geometry(*zb, 0, 0, 10.0f, 0.25f, 0x1u);
    defs.geometry_id = 2;
    add_geometry(*zb, 0, 0, 20.0f, 0.25f, 0xEu);
    add_geometry(*zb, 0, 0, 25.0f, 0.0f, 0x10u);
    pixel_slot* rec = zb->record(0, 0);
    zb->post_mb(rec, true);
    ASSERT_EQ(rec[0].zb.nb_zbuff(), 1);
    EXPECT_EQ(rec[0].zb.z, 20.0f);
    EXPECT_EQ(rec[0].zb.z2, 25.0f);
    EXPECT_EQ(rec[0].zb.timeslices, 0x1Fu);
    EXPECT_NEAR(frac_decode(rec[0].zb.area()), 0.5f, kTol);

    // Earlier by three slices, not wider: only z is taken.
    defs.geometry_id = 3;
    add_geometry(*zb, 0, 1, 10.0f, 0.25f, 0x300u);
    defs.geometry_id = 4;
    add_geometry(*zb, 0, 1, 20.0f, 0.25f, 0x230u);
    rec = zb->record(0, 1);
    zb->post_mb(rec, true);
    ASSERT_EQ(rec[0].zb.nb_zbuff(), 1);
    EXPECT_EQ(rec[0].zb.z, 20.0f);
    EXPECT_EQ(rec[0].zb.z2, 10.0f);
    EXPECT_EQ(rec[0].zb.timeslices, 0x330u);
}

TEST_F(Fragments, AFullRecordOfMovingModelsIsCompressedOnTheFly) {
    defs.motion_blur = 1;
    auto zb = make_zbuffer(1, 1, 5);
    for (int i = 0; i < 8; ++i) {
        defs.geometry_id = 100 + i;
        add_geometry(*zb, 0, 0, 10.0f + i, 0.1f, 0xFu << (4 * i));
    }
    pixel_slot* rec = zb->record(0, 0);
    // Seven entries filled slots 0-6; the eighth model found them merged to three.
    EXPECT_EQ(rec[0].zb.list_nb(), 4);
    EXPECT_EQ(rec[0].zb.last(), 3);
    EXPECT_EQ(rec[3].zb.z, 17.0f);
    EXPECT_EQ(rec[7].word[3], 107u);
    int chained = 1;
    for (int e = 0; rec[e].zb.is_next(); ++e) ++chained;
    EXPECT_EQ(chained, 4);
    float z, cov;
    zb->geometry_depth(rec, z, cov);
    EXPECT_EQ(z, 10.0f);
    EXPECT_EQ(cov, 1.0f);
}

// --- Resolves ---------------------------------------------------------------------------------

TEST_F(Fragments, EveryResolveOfAnEmptyPixelIsZero) {
    auto zb = make_zbuffer(1, 1);
    EXPECT_EQ(zb->resolve_color(nullptr).a, 0.0f);
    float d = 1, a = 1;
    zb->resolve_depth(nullptr, d, a);
    EXPECT_EQ(d, 0.0f);
    EXPECT_EQ(a, 0.0f);
    float opacity = 1;
    EXPECT_EQ(zb->resolve_shadow(nullptr, 0.5f, opacity), 0.0f);
    EXPECT_EQ(opacity, 0.0f);
    float depths[kMaxAtmosSteps], alphas[kMaxAtmosSteps];
    EXPECT_EQ(zb->resolve_atmosphere(nullptr, depths, alphas, kMaxAtmosSteps), 0);
    zb->geometry_depth(nullptr, d, a);
    EXPECT_EQ(d, 0.0f);
    EXPECT_EQ(a, 0.0f);
}

TEST_F(Fragments, AGeometryOnlyPixelResolvesToItsDepthAndNoColour) {
    auto zb = make_zbuffer(1, 1);
    add_geometry(*zb, 0, 0, 10.0f, 1.0f);
    pixel_slot* rec = zb->record(0, 0);
    const kivColor c = zb->resolve_color(rec);
    EXPECT_EQ(c.r, 0.0f);
    EXPECT_EQ(c.a, 0.0f);
    float d = 1, a = 1;
    zb->resolve_depth(rec, d, a);
    EXPECT_EQ(d, 0.0f);
    EXPECT_EQ(a, 0.0f);
    float opacity = 1;
    EXPECT_EQ(zb->resolve_shadow(rec, 0.5f, opacity), 0.0f);
    EXPECT_EQ(opacity, 0.0f);
    float depths[kMaxAtmosSteps], alphas[kMaxAtmosSteps];
    EXPECT_EQ(zb->resolve_atmosphere(rec, depths, alphas, kMaxAtmosSteps), 0);
    zb->geometry_depth(rec, d, a);
    EXPECT_EQ(d, 10.0f);
    EXPECT_EQ(a, 1.0f);
}

TEST_F(Fragments, AMixedPixelResolvesWithTheGeometryBetween) {
    auto zb = make_zbuffer(1, 1);
    add_geometry(*zb, 0, 0, 10.0f, 0.5f);
    add_fragment(*zb, 0, 0, 1, 5.0f, kivColor(1, 0, 0, 0.5f));
    add_fragment(*zb, 0, 0, 2, 15.0f, kivColor(0, 1, 0, 0.5f));
    pixel_slot* rec = zb->record(0, 0);

    const kivColor c = zb->resolve_color(rec);
    EXPECT_NEAR(c.r, 0.5f, kTol);
    EXPECT_NEAR(c.g, 0.125f, kTol);
    EXPECT_EQ(c.b, 0.0f);
    EXPECT_NEAR(c.a, 0.625f, kTol);
    // Resolving again gives the same.
    EXPECT_EQ(zb->resolve_color(rec).a, c.a);

    float d, a;
    zb->resolve_depth(rec, d, a);
    EXPECT_EQ(d, 5.0f);
    EXPECT_NEAR(a, 0.625f, kTol);

    float opacity;
    EXPECT_EQ(zb->resolve_shadow(rec, 0.5f, opacity), 15.0f);
    EXPECT_EQ(opacity, 1.0f);
    EXPECT_EQ(zb->resolve_shadow(rec, 0.8f, opacity), 0.0f);
    EXPECT_NEAR(opacity, 0.625f / 0.8f, kTol);
    EXPECT_EQ(zb->resolve_shadow(rec, 0.0f, opacity), 5.0f);
    EXPECT_NEAR(opacity, 0.625f, kTol);

    float depths[kMaxAtmosSteps], alphas[kMaxAtmosSteps];
    ASSERT_EQ(zb->resolve_atmosphere(rec, depths, alphas, kMaxAtmosSteps), 2);
    EXPECT_EQ(depths[0], 5.0f);
    EXPECT_NEAR(alphas[0], 0.5f, kTol);
    EXPECT_EQ(depths[1], 15.0f);
    EXPECT_NEAR(alphas[1], 0.25f, kTol);
    // A short array takes what fits.
    EXPECT_EQ(zb->resolve_atmosphere(rec, depths, alphas, 1), 1);

    zb->geometry_depth(rec, d, a);
    EXPECT_EQ(d, 10.0f);
    EXPECT_NEAR(a, 0.5f, kTol);
}

TEST_F(Fragments, ShadowResolveMergesTheFrontOverflowAtTheSecondEntry) {
    auto zb = make_zbuffer(1, 1, 2);
    for (int i = 1; i <= 3; ++i)
        add_fragment(*zb, 0, 0, i, static_cast<float>(i), kivColor(1, 1, 1, 0.3f));
    pixel_slot* rec = zb->record(0, 0);
    float opacity;
    // 0.3, then the overflow (3) for 0.51 at the depth of entry 2, then entry 2.
    EXPECT_EQ(zb->resolve_shadow(rec, 0.4f, opacity), 2.0f);
    EXPECT_EQ(opacity, 1.0f);
    EXPECT_TRUE(rec[0].zb.overflow_f());
    EXPECT_EQ(zb->resolve_shadow(rec, 0.9f, opacity), 0.0f);
    EXPECT_NEAR(opacity, (1.0f - 0.7f * 0.7f * 0.7f) / 0.9f, kTol);
    // The first entry alone decides when it is opaque enough.
    EXPECT_EQ(zb->resolve_shadow(rec, 0.2f, opacity), 1.0f);
}

TEST_F(Fragments, ShadowResolveTakesTheLastEntryDepthForTheOverflows) {
    auto zb = make_zbuffer(1, 1, 2);
    add_geometry(*zb, 0, 0, 5.0f, 0.5f);
    const float depths[] = {1, 2, 3, 6, 7};
    for (int i = 0; i < 5; ++i) add_fragment(*zb, 0, 0, i + 1, depths[i], kivColor(1, 1, 1, 0.3f));
    pixel_slot* rec = zb->record(0, 0);
    float opacity;
    // List [1], front overflow of 2 and 3, behind overflow of 6 and 7.
    const float depth = zb->resolve_shadow(rec, 0.5f, opacity);
    EXPECT_EQ(list_depths(rec), (std::vector<float>{1}));
    EXPECT_TRUE(rec[0].zb.overflow_f());
    EXPECT_TRUE(rec[0].zb.overflow_b());
    EXPECT_EQ(depth, 1.0f);
    const float front = 1.0f - 0.7f * 0.7f * 0.7f;
    const float behind = 0.51f;
    EXPECT_NEAR(opacity, std::min(1.0f, (front + behind * (1 - front) * 0.5f) / 0.5f), kTol);
    EXPECT_EQ(opacity, 1.0f);
    // The behind overflow passes 0.7: the last list entry's depth.
    EXPECT_EQ(zb->resolve_shadow(rec, 0.7f, opacity), 1.0f);
    EXPECT_EQ(zb->resolve_shadow(rec, 0.8f, opacity), 0.0f);
    EXPECT_NEAR(opacity, (front + behind * (1 - front) * 0.5f) / 0.8f, kTol);
}

TEST_F(Fragments, AtmosphereStepsFollowTheListThenTheOverflows) {
    auto zb = make_zbuffer(1, 1, 2);
    add_geometry(*zb, 0, 0, 10.0f, 0.5f);
    const float depths_in[] = {1, 2, 3, 4, 12};
    for (int i = 0; i < 5; ++i) add_fragment(*zb, 0, 0, i + 1, depths_in[i], kWhiteHalf);
    pixel_slot* rec = zb->record(0, 0);
    float depths[kMaxAtmosSteps], alphas[kMaxAtmosSteps];
    const int n = zb->resolve_atmosphere(rec, depths, alphas, kMaxAtmosSteps);
    // 3 and 4 overflowed in front; 12 opened the behind overflow, which
    // pushed the list's last entry (2) into the front overflow: list [1],
    // front overflow (2, 3, 4) at 2, behind overflow (12).
    ASSERT_EQ(n, 3);
    EXPECT_EQ(depths[0], 1.0f);
    EXPECT_EQ(depths[1], 2.0f);
    EXPECT_EQ(depths[2], 12.0f);
    EXPECT_NEAR(alphas[0], 0.5f, kTol);
    EXPECT_NEAR(alphas[1], 0.875f * 0.5f, kTol);
    EXPECT_NEAR(alphas[2], 0.5f * 0.0625f, kTol);
}

// --- Debug prints -----------------------------------------------------------------------------

TEST_F(Fragments, PixelPrintShowsEntriesCurrentHairListAndOverflows) {
    auto zb = make_zbuffer(2, 3);
    add_geometry(*zb, 1, 2, 10.0f, 0.5f);
    add_fragment(*zb, 1, 2, 3, 5.0f, kivColor(1, 0, 0, 0.5f));
    testing::internal::CaptureStdout();
    zb->print_pixel(zb->record(1, 2), 1, 2);
    zb->print_pixel(nullptr, 0, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "pixel_head at (1,2) {\n"
              "pixel_zbuff contents:\n"
              "is_used = 1\n"
              "z = 10.000000, z2 = 10.000000, area = 0.499992\n"
              "timeslices =    0\n"
              "list_nb = 0, nb_zbuff = 1\n"
              "overflow_f = 0, overflow_b = 0\n"
              "is_next_zbuff = 0\n"
              "  current hair\n"
              "0.499992 0.000000 0.000000 0.499992\n"
              "z = 5.000000, id = 3\n"
              "  hair list\n"
              "}\n");

    // The whole z-buffer: only allocated pixels, row by row.
    add_fragment(*zb, 0, 1, 4, 2.0f, kivColor(0, 0, 1, 1));
    testing::internal::CaptureStdout();
    zb->print();
    const std::string all = testing::internal::GetCapturedStdout();
    EXPECT_LT(all.find("pixel_head at (0,1)"), all.find("pixel_head at (1,2)"));
    EXPECT_EQ(all.find("pixel_head at (0,0)"), std::string::npos);
}

TEST_F(Fragments, DebugColourResolvePrintsEachStep) {
    auto zb = make_zbuffer(1, 1);
    add_geometry(*zb, 0, 0, 10.0f, 0.5f);
    add_fragment(*zb, 0, 0, 3, 5.0f, kivColor(1, 0, 0, 0.5f));
    add_fragment(*zb, 0, 0, 4, 15.0f, kivColor(0, 1, 0, 0.5f));
    testing::internal::CaptureStdout();
    const kivColor c = zb->resolve_color_debug(zb->record(0, 0));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Adding current hair to pixbuff...\n"
              "Starting color calc...\n"
              "Added element to front comp buffer\n"
              "0.499992 0.000000 0.000000 0.499992\n"
              "z = 5.000000, id = 3\n"
              "Added element to back comp buffer\n"
              "0.000000 0.499992 0.000000 0.499992\n"
              "z = 15.000000, id = 4\n"
              "Comped front comp buffer over back comp buffer\n"
              "0.499992 0.124987 0.000000 0.624994\n"
              "z = 5.000000, id = 3\n");
    EXPECT_NEAR(c.g, 0.125f, kTol);
}

TEST_F(Fragments, DebugPostMotionBlurPassPrintsEachStep) {
    defs.motion_blur = 1;
    auto zb = make_zbuffer(1, 1, 5);
    defs.geometry_id = 1;
    add_geometry(*zb, 0, 0, 8.0f, 0.5f, 0xF0u);
    defs.geometry_id = 2;
    add_geometry(*zb, 0, 0, 4.0f, 0.5f, 0xFFu);
    testing::internal::CaptureStdout();
    zb->post_mb_debug(zb->record(0, 0), 0, 0, true);
    const std::string out = testing::internal::GetCapturedStdout();
    const char* steps[] = {"Starting postprocess_zbuff_debug()\n",
                           "Sorting zbuffer...\n",
                           "pixel_head at (0,0) {\n",
                           "Compressing...\n",
                           "Loop 0\n",
                           "testing cumul = ff, ip_slices = f0, and = f0\n",
                           "compressed one\n",
                           "Compressed!\n"};
    std::size_t at = 0;
    for (const char* step : steps) {
        const std::size_t found = out.find(step, at);
        ASSERT_NE(found, std::string::npos) << step << out;
        at = found;
    }
    EXPECT_EQ(out.find("Doing 2nd compression"), std::string::npos);
    EXPECT_EQ(zb->record(0, 0)[0].zb.z, 4.0f);
    EXPECT_EQ(zb->record(0, 0)[0].zb.nb_zbuff(), 1);
}

TEST_F(Fragments, DebugPostMotionBlurPassReportsTheSecondCompression) {
    defs.motion_blur = 1;
    auto zb = make_zbuffer(1, 1, 3);
    defs.geometry_id = 1;
    add_geometry(*zb, 0, 0, 8.0f, 0.5f, 0xF0u);
    defs.geometry_id = 2;
    add_geometry(*zb, 0, 0, 4.0f, 0.5f, 0x0Fu);
    testing::internal::CaptureStdout();
    zb->post_mb_debug(zb->record(0, 0), 0, 0, true);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Compressed!\npixel_head at (0,0) {\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Doing 2nd compression\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("compressed one"), std::string::npos);
    EXPECT_EQ(zb->record(0, 0)[0].zb.timeslices, 0xFFu);
}
