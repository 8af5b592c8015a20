#include "render/fragment_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "render_support.h"

using render_test::add_fragment;
using render_test::add_geometry;
using render_test::make_zbuffer;

namespace {

using Floats = std::vector<float>;

// One 16-bit step, and the rounding that a few composites accumulate.
constexpr float kStep = 1.0f / 65535.0f, kTol = 4.0f * kStep;
constexpr unsigned kAll = 0xFFFFFFFFu;
const kivColor kHalf(1.0f, 1.0f, 1.0f, 0.5f);

class Fragments : public render_test::SettingsTest {};

// The depths of the hair list, nearest first.
Floats list_depths(const pixel_slot* rec) {
    const int nz = rec[0].zb.nb_zbuff(), first = (nz <= 1 ? 1 : nz) + 1;
    Floats z;
    for (int i = 0; i < rec[0].zb.list_nb(); ++i) z.push_back(rec[first + i].hair.z);
    return z;
}

// Fragments of ids 1, 2, … at the given depths into pixel (0, 0), then a
// resolve that moves the last one into the list.
pixel_slot* fill(hair_zbuffer& zb, const Floats& depths, const kivColor& c = kHalf) {
    for (std::size_t i = 0; i < depths.size(); ++i)
        add_fragment(zb, 0, 0, static_cast<int>(i) + 1, depths[i], c);
    zb.resolve_color(zb.record(0, 0));
    return zb.record(0, 0);
}

// Three moving models: 10 in slices 0-15, 5 in 0-7, 20 in 12-15.
pixel_slot* three_moving_models(hair_zbuffer& zb) {
    const float z[] = {10, 5, 20};
    const unsigned slices[] = {0xFFFFu, 0xFFu, 0xF000u};
    for (int i = 0; i < 3; ++i) {
        defs.geometry_id = i + 1;
        add_geometry(zb, 0, 0, z[i], 0.25f * (i + 1), slices[i]);
    }
    return zb.record(0, 0);
}

// Red, green and alpha of c, to compare within kTol.
void expect_rga(const kivColor& c, float r, float g, float a, const std::string& what) {
    EXPECT_NEAR(c.r, r, kTol) << what;
    EXPECT_NEAR(c.g, g, kTol) << what;
    EXPECT_NEAR(c.a, a, kTol) << what;
}

Floats geometry(const hair_zbuffer& zb, const pixel_slot* rec) {
    float z, cov;
    zb.geometry_depth(rec, z, cov);
    return {z, cov};
}

}  // namespace

// --- Fractions, records and cells ----------------------------------------------------------

TEST(Fraction, EncodingEdges) {
    // 0.9999f is not above 0.9999: truncated; 65529 and above decode as 1.
    const std::pair<float, int> enc[] = {{0.99995f, 65535}, {0.5f, 32767}, {0.9999f, 65528},
                                         {7.0f, 65535},     {-0.25f, 0},   {std::nanf(""), 0}};
    for (const auto& [f, v] : enc) EXPECT_EQ(frac_encode(f), v) << f;
    const std::pair<int, float> dec[] = {
        {65535, 1.0f}, {65529, 1.0f}, {65528, 65528.0f / 65535}, {32767, 32767.0f / 65535}};
    for (const auto& [v, f] : dec) EXPECT_EQ(frac_decode(v), f) << v;
}

TEST_F(Fragments, RecordsComeFromFourKilobyteChunksAndCellsAreChecked) {
    auto zb = make_zbuffer(4, 10, 5);
    // 4096 ÷ 128 = 32 records a chunk, whatever the number of fragments.
    for (int i = 0; i < 32; ++i) add_geometry(*zb, i / 10, i % 10, 5.0f, 0.5f);
    for (int id = 1; id <= 50; ++id) add_fragment(*zb, 0, 0, id, id * 0.5f, kHalf);
    EXPECT_EQ(zb->record(0, 1), zb->record(0, 0) + 8);
    EXPECT_EQ(zb->chunk_count(), 1);
    add_geometry(*zb, 3, 2, 5.0f, 0.5f);
    EXPECT_EQ(zb->chunk_count(), 2);
    EXPECT_EQ(defs.pixel_x * 10 + defs.pixel_y, 23);
    zb->clear();
    EXPECT_TRUE(zb->chunk_count() == 0 && zb->record(0, 0) == nullptr);
    EXPECT_EQ(
        captured([&] { EXPECT_TRUE(!zb->cell(4, 2) && !zb->cell(1, 10)); }),
        "FATAL: k = 42 (4, 2), lines * cols = 40\nFATAL: k = 20 (1, 10), lines * cols = 40\n");
    EXPECT_EQ(make_zbuffer(1, 1, 40)->list_size(), kMaxListSize);
    EXPECT_FALSE(make_zbuffer(0, 5));
}

// --- Same-hair merges ------------------------------------------------------------------------

TEST_F(Fragments, PiecesOfOneHairMergeInTheCurrentSlot) {
    // First piece red, second green; then the expected alpha, red and green.
    const float cases[][7] = {
        {0.6f, 5, 0.7f, 6, 1.0f, 0.6f, 0.4f},  // overfill: the far piece × 0.4 ÷ 0.7
        {0.4f, 8, 0.3f, 3, 0.7f, 0.4f, 0.3f},  // they fit: the sum
        {1.0f, 2, 0.5f, 3, 1.0f, 1.0f, 0.0f},  // an opaque near piece hides the rest
    };
    for (const auto& c : cases) {
        auto zb = make_zbuffer(1, 1);
        add_fragment(*zb, 0, 0, 9, c[1], kivColor(1, 0, 0, c[0]));
        add_fragment(*zb, 0, 0, 9, c[3], kivColor(0, 1, 0, c[2]));
        EXPECT_EQ(zb->record(0, 0)[1].hair.z, std::min(c[1], c[3])) << c[0];
        expect_rga(zb->resolve_color(zb->record(0, 0)), c[5], c[6], c[4], std::to_string(c[0]));
    }
}

// --- The sorted list and its overflows ------------------------------------------------------

TEST_F(Fragments, AFullListSpillsIntoTheFrontAndBehindOverflows) {
    // Six halves, then 7 behind and 0.5 in front: three halves end in the
    // single (front) overflow in slot 7, at the depth of the nearest.
    auto zb = make_zbuffer(1, 1, 5);
    pixel_slot* rec = fill(*zb, {3, 6, 1, 5, 2, 4});
    add_fragment(*zb, 0, 0, 7, 7.0f, kHalf);
    add_fragment(*zb, 0, 0, 8, 0.5f, kHalf);
    EXPECT_NEAR(zb->resolve_color(rec).a, 0.96875f + 0.875f * 0.03125f, kTol);
    EXPECT_TRUE(rec[0].zb.overflow_f() && !rec[0].zb.overflow_b());
    EXPECT_EQ(list_depths(rec), (Floats{0.5f, 1, 2, 3, 4}));
    EXPECT_EQ(rec[7].hair.z, 5.0f);
    EXPECT_NEAR(frac_decode(rec[7].hair.a), 0.875f, kTol);

    // With geometry at 10: 12 lies behind it, so the behind overflow takes
    // slot 7 and the front one moves to slot 6, absorbing the list's last (5).
    zb = make_zbuffer(1, 1, 5);
    add_geometry(*zb, 0, 0, 10.0f, 0.5f);
    rec = fill(*zb, {1, 2, 3, 4, 5, 6});
    add_fragment(*zb, 0, 0, 7, 12.0f, kHalf);
    const float front = 0.9375f + 0.75f * 0.0625f;
    // Front: four halves and the overflow; 12 seen through half the geometry.
    EXPECT_NEAR(zb->resolve_color(rec).a, front + 0.5f * (1.0f - front) * 0.5f, kTol);
    EXPECT_TRUE(rec[0].zb.overflow_b());
    EXPECT_EQ(list_depths(rec), (Floats{1, 2, 3, 4}));
    EXPECT_EQ(rec[6].hair.z, 5.0f);
    EXPECT_NEAR(frac_decode(rec[6].hair.a), 0.75f, kTol);
    EXPECT_EQ(rec[7].hair.id, 7);

    // A fragment that becomes the list's last entry once the front overflow
    // took a slot goes into that overflow; nothing shows behind full geometry.
    zb = make_zbuffer(1, 1, 5);
    add_geometry(*zb, 0, 0, 10.0f, 1.0f);
    rec = fill(*zb, {11, 12, 13, 1, 2, 3, 0.5f, 5, 4});
    EXPECT_EQ(list_depths(rec), (Floats{0.5f, 1, 2, 3}));
    EXPECT_EQ((Floats{rec[6].hair.z, rec[7].hair.z}), (Floats{4, 11}));
    EXPECT_NEAR(frac_decode(rec[7].hair.a), 0.875f, kTol);
    EXPECT_NEAR(zb->resolve_color(rec).a, front, kTol);
}

TEST_F(Fragments, InsertionOrderDoesNotChangeAResolvedColour) {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int i = 0; i < 300; ++i) {
        defs.merge_mode = i % 4;
        defs.hair_random = u(rng);
        auto zb = make_zbuffer(1, 2, 5);
        const float gz = 20.0f + 60.0f * u(rng), gc = u(rng);
        for (int col = 0; col < 2 && i % 3 != 0; ++col) add_geometry(*zb, 0, col, gz, gc);
        std::vector<int> order;
        std::vector<std::pair<float, kivColor>> f;
        for (int k = 0; k <= i % 5; ++k) {
            order.push_back(k);
            f.push_back({1.0f + 98.0f * u(rng) + 0.001f * k, {u(rng), u(rng), u(rng), u(rng)}});
        }
        for (int k : order) add_fragment(*zb, 0, 0, k + 1, f[k].first, f[k].second);
        std::shuffle(order.begin(), order.end(), rng);
        for (int k : order) add_fragment(*zb, 0, 1, k + 1, f[k].first, f[k].second);
        const kivColor a = zb->resolve_color(zb->record(0, 0));
        const kivColor b = zb->resolve_color(zb->record(0, 1));
        for (float d : {a.r - b.r, a.g - b.g, a.b - b.b, a.a - b.a}) EXPECT_NEAR(d, 0, kStep) << i;
    }
}

TEST_F(Fragments, OverflowingPixelsKeepTheirCoverage) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(0.05f, 0.35f);
    for (int i = 0; i < 100; ++i) {
        auto zb = make_zbuffer(1, 1, 1 + i % 6);
        float transmission = 1.0f;
        for (int k = 0; k <= i % 20; ++k) {
            const float a = u(rng);
            add_fragment(*zb, 0, 0, k + 1, 50.0f * u(rng), kivColor(1, 1, 1, a));
            transmission *= 1.0f - a;
        }
        EXPECT_NEAR(zb->resolve_color(zb->record(0, 0)).a, 1.0f - transmission, 2e-3f) << i;
    }
}

// --- The merge operator ----------------------------------------------------------------------

TEST_F(Fragments, EachMergeModeAgainstHandValues) {
    // {mode, hair random (mode 1) or exponent (mode 2), front alpha, back
    //  alpha, total alpha, back colour passed}
    const float cases[][6] = {
        {0, 0, 0.5f, 0.5f, 0.75f, 0.25f},   {1, 0.5f, 0.4f, 0.5f, 0.8f, 0.4f},
        {1, 0.5f, 0.8f, 0.5f, 1.0f, 0.2f},  // limited to (1 − 0.8) ÷ 0.5
        {1, 3.0f, 0.5f, 0.5f, 0.5f, 0.0f},  // negative transmission
        {2, 2.0f, 0.5f, 0.4f, 0.8f, 0.3f},  {2, 2.0f, 0.9f, 0.9f, 1.0f, 0.1f},
        {2, -1.0f, 0.5f, 0.5f, 0.5f, 0.0f}, {3, 0, 0.8f, 0.5f, 1.0f, 0.2f},
        {3, 0, 0.3f, 0.5f, 0.8f, 0.5f},     {7, 0, 0.3f, 0.5f, 0.3f, 0.0f},
    };
    auto hair = [](float r, float g, float a, float z, int id) {
        return pixel_hair{frac_encode(r), frac_encode(g), 0, frac_encode(a), z, id};
    };
    for (int i = 0; i < 10; ++i) {
        const float* c = cases[i];
        defs.merge_mode = static_cast<int>(c[0]);
        defs.hair_random = defs.merge_exponent = c[1];
        // The front (red) is the destination or the source in turn.
        const pixel_hair front = hair(c[2], 0, c[2], 1.0f, 1), back = hair(0, c[3], c[3], 2.0f, 2);
        pixel_hair d = i % 2 ? front : back;
        fragment_merge(d, i % 2 ? back : front, nullptr);
        EXPECT_NEAR(frac_decode(d.a), c[4], kTol) << i;
        EXPECT_NEAR(frac_decode(d.r), c[2], kTol) << i;
        EXPECT_NEAR(frac_decode(d.g), c[5], kTol) << i;
        EXPECT_EQ(d.z, 1.0f) << i;
        EXPECT_EQ(d.id, i % 2 ? 1 : 2) << i;
    }
    // Behind geometry the back is scaled by the uncovered part, unless motion
    // blur already put the coverage into the fragments.
    const pixel_zbuff g = {10.0f, 10.0f, 0u, pixel_zbuff::kIsUsed | frac_encode(0.5f)};
    for (int mb = 0; mb < 2; ++mb) {
        defs.motion_blur = mb;
        pixel_hair d = hair(0.5f, 0, 0.5f, 1.0f, 1);
        fragment_merge(d, hair(0, 1, 1, 12.0f, 2), &g);
        EXPECT_NEAR(frac_decode(d.a), mb ? 1.0f : 0.75f, kTol);
        EXPECT_NEAR(frac_decode(d.g), mb ? 0.5f : 0.25f, kTol);
        EXPECT_EQ(d.z, 1.0f);
    }
}

TEST_F(Fragments, FullyCoveringGeometryHidesWhatLiesBehind) {
    auto zb = make_zbuffer(1, 1);
    add_geometry(*zb, 0, 0, 10.0f, 0.5f);
    pixel_slot* rec = zb->record(0, 0);
    EXPECT_TRUE(zb->is_visible(rec, 11.0f, kAll));
    // Coverage adds up (to 1 here); the nearer depth stays.
    add_geometry(*zb, 0, 0, 8.0f, 0.49995f);
    EXPECT_EQ(geometry(*zb, rec), (Floats{8, 1}));
    const bool seen[] = {zb->is_visible(rec, 9.0f, kAll), zb->is_visible(rec, 7.0f, kAll),
                         zb->is_visible(nullptr, 1e9f, kAll)};
    EXPECT_TRUE(!seen[0] && seen[1] && seen[2]);
}

// --- Motion blur ------------------------------------------------------------------------------

TEST_F(Fragments, OneMovingModelWidensItsEntry) {
    defs.motion_blur = 1;
    defs.geometry_id = 1;
    auto zb = make_zbuffer(1, 1);
    add_geometry(*zb, 0, 0, 10.0f, 0.5f, 0x0000FFFFu);
    add_geometry(*zb, 0, 0, 12.0f, 0.5f, 0xFFFF0000u);
    pixel_slot* rec = zb->record(0, 0);
    EXPECT_EQ((Floats{rec[0].zb.z, rec[0].zb.z2}), (Floats{10, 12}));
    EXPECT_EQ(rec[0].zb.timeslices, kAll);
    EXPECT_EQ(rec[0].zb.area(), 65535);
    zb->post_mb(rec, true);
    EXPECT_EQ(rec[0].zb.list_nb() + rec[7].word[3], 0u);
    // At 11 the geometry (10 at slice 0, 12 at slice 31) hides slices 0-15.
    const bool seen[] = {zb->is_visible(rec, 11.0f, kAll), zb->is_visible(rec, 11.0f, 0xFFFFu),
                         zb->is_visible(rec, 13.0f, kAll), zb->is_visible(rec, 9.0f, 0u)};
    EXPECT_TRUE(seen[0] && !seen[1] && !seen[2] && !seen[3]);
    // A fragment there keeps the visible half of its alpha.
    add_fragment(*zb, 0, 0, 3, 11.0f, kivColor(1, 1, 1, 1));
    EXPECT_EQ(rec[1].hair.a, frac_encode(0.5f));
}

TEST_F(Fragments, CompressionSortsDropsAndMergesEntries) {
    defs.motion_blur = 1;
    auto zb = make_zbuffer(1, 1, 5);
    pixel_slot* rec = three_moving_models(*zb);
    EXPECT_EQ(geometry(*zb, rec)[1], 0.5f);  // slices 0-15 of 32
    // 20 lies inside the slices of the nearer 10: dropped.
    zb->post_mb(rec, true);
    EXPECT_EQ(rec[0].zb.nb_zbuff() * 10 + rec[0].zb.list_nb(), 20);
    EXPECT_EQ((Floats{rec[0].zb.z, rec[1].zb.z}), (Floats{5, 10}));
    EXPECT_EQ(rec[0].zb.area(), frac_encode(0.5f));
    EXPECT_FALSE(rec[1].zb.is_next());
    // The hair part starts after the two entries and still ends at slot 7.
    rec = fill(*zb, {0.5f, 1, 1.5f, 2, 2.5f, 3});
    EXPECT_EQ(list_depths(rec), (Floats{0.5f, 1, 1.5f, 2}));
    EXPECT_EQ((Floats{rec[7].hair.z, rec[1].zb.z}), (Floats{2.5f, 10}));

    // Five models: the last three merge, leaving list_size − 2 entries; the
    // merged entry ends 3 slices later and takes that one's z2.
    zb = make_zbuffer(1, 3, 5);
    for (int i = 1; i <= 5; ++i) {
        defs.geometry_id = i;
        add_geometry(*zb, 0, 0, 10.0f * i, 0.2f, 0x3Fu << (6 * (i - 1)));
    }
    rec = zb->record(0, 0);
    zb->post_mb(rec, true);
    ASSERT_EQ(rec[0].zb.nb_zbuff(), 3);
    EXPECT_EQ((Floats{rec[2].zb.z, rec[2].zb.z2}), (Floats{30, 50}));
    EXPECT_EQ(rec[2].zb.timeslices, 0x3FFFF000u);
    EXPECT_NEAR(frac_decode(rec[2].zb.area()), 0.6f, kTol);

    // Wider (more than twice the slices) takes both depths; three slices
    // earlier takes z only.
    zb = make_zbuffer(1, 2, 3);
    const unsigned a[] = {0x1u, 0x300u}, b[] = {0xEu, 0x230u};
    for (int col = 0; col < 2; ++col) {
        defs.geometry_id = 10 + 2 * col;
        add_geometry(*zb, 0, col, 10.0f, 0.25f, a[col]);
        defs.geometry_id = 11 + 2 * col;
        add_geometry(*zb, 0, col, 20.0f, 0.25f, b[col]);
        if (col == 0) add_geometry(*zb, 0, 0, 25.0f, 0.0f, 0x10u);
        zb->post_mb(zb->record(0, col), true);
        EXPECT_EQ(zb->record(0, col)[0].zb.nb_zbuff(), 1);
    }
    const pixel_zbuff &z0 = zb->record(0, 0)[0].zb, &z1 = zb->record(0, 1)[0].zb;
    EXPECT_EQ((Floats{z0.z, z0.z2, z1.z, z1.z2}), (Floats{20, 25, 20, 10}));
    EXPECT_EQ(z1.timeslices, 0x330u);

    // A full record of moving models is compressed on the fly: seven entries
    // filled slots 0-6; the eighth model found them merged to three.
    zb = make_zbuffer(1, 1, 5);
    for (int i = 0; i < 8; ++i) {
        defs.geometry_id = 100 + i;
        add_geometry(*zb, 0, 0, 10.0f + i, 0.1f, 0xFu << (4 * i));
    }
    rec = zb->record(0, 0);
    EXPECT_EQ(rec[0].zb.list_nb() * 10 + rec[0].zb.last(), 43);
    EXPECT_EQ(rec[3].zb.z, 17.0f);
    EXPECT_TRUE(rec[2].zb.is_next());
    EXPECT_EQ(geometry(*zb, rec)[1], 1.0f);
}

// --- Resolves ---------------------------------------------------------------------------------

TEST_F(Fragments, EmptyAndGeometryOnlyPixelsResolveToNoHair) {
    auto zb = make_zbuffer(1, 1);
    add_geometry(*zb, 0, 0, 10.0f, 1.0f);
    for (pixel_slot* rec : {static_cast<pixel_slot*>(nullptr), zb->record(0, 0)}) {
        EXPECT_EQ(zb->resolve_color(rec).a, 0.0f);
        float d = 1, a = 1, opacity = 1;
        zb->resolve_depth(rec, d, a);
        EXPECT_EQ(d + a, 0.0f);
        EXPECT_EQ(zb->resolve_shadow(rec, 0.5f, opacity) + opacity, 0.0f);
        float depths[kMaxAtmosSteps], alphas[kMaxAtmosSteps];
        EXPECT_EQ(zb->resolve_atmosphere(rec, depths, alphas, kMaxAtmosSteps), 0);
        EXPECT_EQ(geometry(*zb, rec), rec ? (Floats{10, 1}) : (Floats{0, 0}));
    }
}

TEST_F(Fragments, AMixedPixelResolvesWithTheGeometryBetween) {
    auto zb = make_zbuffer(1, 1);
    add_geometry(*zb, 0, 0, 10.0f, 0.5f);
    add_fragment(*zb, 0, 0, 1, 5.0f, kivColor(1, 0, 0, 0.5f));
    add_fragment(*zb, 0, 0, 2, 15.0f, kivColor(0, 1, 0, 0.5f));
    pixel_slot* rec = zb->record(0, 0);
    const kivColor c = zb->resolve_color(rec);
    expect_rga(c, 0.5f, 0.125f, 0.625f, "colour");
    EXPECT_EQ(zb->resolve_color(rec).a, c.a);  // passes may repeat
    float d, a;
    zb->resolve_depth(rec, d, a);
    EXPECT_EQ(d, 5.0f);
    EXPECT_NEAR(a, 0.625f, kTol);
    // {threshold, depth where it is reached, opacity}
    const float shadows[][3] = {{0.5f, 15, 1}, {0.8f, 0, 0.625f / 0.8f}, {0, 5, 0.625f}};
    for (const auto& s : shadows) {
        float opacity;
        EXPECT_EQ(zb->resolve_shadow(rec, s[0], opacity), s[1]) << s[0];
        EXPECT_NEAR(opacity, s[2], kTol) << s[0];
    }
    float depths[kMaxAtmosSteps], alphas[kMaxAtmosSteps];
    ASSERT_EQ(zb->resolve_atmosphere(rec, depths, alphas, kMaxAtmosSteps), 2);
    EXPECT_EQ(depths[1], 15.0f);
    EXPECT_NEAR(alphas[0], 0.5f, kTol);
    EXPECT_NEAR(alphas[1], 0.25f, kTol);
}

TEST_F(Fragments, ShadowAndAtmosphereResolvesWithOverflows) {
    // No geometry: the front overflow (3) joins at the second entry.
    auto zb = make_zbuffer(1, 1, 2);
    pixel_slot* rec = fill(*zb, {1, 2, 3}, kivColor(1, 1, 1, 0.3f));
    float opacity;
    EXPECT_EQ(
        (Floats{zb->resolve_shadow(rec, 0.4f, opacity), zb->resolve_shadow(rec, 0.2f, opacity),
                zb->resolve_shadow(rec, 0.9f, opacity)}),
        (Floats{2, 1, 0}));
    EXPECT_NEAR(opacity, (1.0f - 0.7f * 0.7f * 0.7f) / 0.9f, kTol);

    // Geometry at 5: list [1], front overflow (2, 3), behind overflow (6, 7);
    // the overflows take the last list entry's depth.
    zb = make_zbuffer(1, 1, 2);
    add_geometry(*zb, 0, 0, 5.0f, 0.5f);
    rec = fill(*zb, {1, 2, 3, 6, 7}, kivColor(1, 1, 1, 0.3f));
    EXPECT_EQ(list_depths(rec), (Floats{1}));
    const float front = 1.0f - 0.7f * 0.7f * 0.7f, total = front + 0.51f * (1 - front) * 0.5f;
    EXPECT_EQ(
        (Floats{zb->resolve_shadow(rec, 0.7f, opacity), zb->resolve_shadow(rec, 0.8f, opacity)}),
        (Floats{1, 0}));
    EXPECT_NEAR(opacity, total / 0.8f, kTol);
    float depths[kMaxAtmosSteps], alphas[kMaxAtmosSteps];
    ASSERT_EQ(zb->resolve_atmosphere(rec, depths, alphas, kMaxAtmosSteps), 3);
    EXPECT_EQ((Floats{depths[1], depths[2]}), (Floats{2, 6}));
    EXPECT_NEAR(alphas[1], 0.51f * 0.7f, kTol);
    EXPECT_NEAR(alphas[2], 0.51f * (1 - front), kTol);
}

// --- Debug prints -----------------------------------------------------------------------------

TEST_F(Fragments, PixelPrintAndDebugResolves) {
    auto zb = make_zbuffer(2, 3);
    add_geometry(*zb, 1, 2, 10.0f, 0.5f);
    add_fragment(*zb, 1, 2, 3, 5.0f, kivColor(1, 0, 0, 0.5f));
    EXPECT_EQ(captured([&] {
                  zb->print();
                  add_fragment(*zb, 1, 2, 4, 15.0f, kivColor(0, 1, 0, 0.5f));
                  zb->resolve_color_debug(zb->record(1, 2));
              }),
              "pixel_head at (1,2) {\npixel_zbuff contents:\nis_used = 1\nz = 10.000000, z2 = "
              "10.000000, area = 0.499992\ntimeslices =    0\nlist_nb = 0, nb_zbuff = 1\n"
              "overflow_f = 0, overflow_b = 0\nis_next_zbuff = 0\n  current hair\n0.499992 "
              "0.000000 0.000000 0.499992\nz = 5.000000, id = 3\n  hair list\n}\nAdding current "
              "hair to pixbuff...\nStarting color calc...\nAdded element to front comp buffer\n"
              "0.499992 0.000000 0.000000 0.499992\nz = 5.000000, id = 3\nAdded element to back "
              "comp buffer\n0.000000 0.499992 0.000000 0.499992\nz = 15.000000, id = 4\nComped "
              "front comp buffer over back comp buffer\n0.499992 0.124987 0.000000 0.624994\n"
              "z = 5.000000, id = 3\n");

    // The debug post-motion-blur pass prints each step.
    defs.motion_blur = 1;
    zb = make_zbuffer(1, 1, 3);
    pixel_slot* rec = three_moving_models(*zb);
    const std::string out = captured([&] { zb->post_mb_debug(rec, 0, 0, true); });
    std::size_t at = 0;
    for (const char* step :
         {"Starting postprocess_zbuff_debug()\n", "Sorting zbuffer...\npixel_head at (0,0) {\n",
          "Compressing...\nLoop 0\ntesting cumul = ff, ip_slices = ffff, and = ff\n",
          "Loop 1\ntesting cumul = ffff, ip_slices = f000, and = f000\ncompressed one\n",
          "Compressed!\npixel_head at (0,0) {\n", "Doing 2nd compression\n"}) {
        at = out.find(step, at);
        ASSERT_NE(at, std::string::npos) << step << out;
    }
    EXPECT_EQ(rec[0].zb.nb_zbuff(), 1);
    EXPECT_EQ(rec[0].zb.timeslices, 0xFFFFu);
}
