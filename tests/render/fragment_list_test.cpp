// The z-buffer through its public calls: fragments and geometry written,
// pixels resolved, checked against a double-precision compositing model.
#include "render/fragment_list.h"

#include <cstring>

#include "render_support.h"

using render_test::add_fragment;
using render_test::add_geometry;
using render_test::make_zbuffer;

namespace {

using Floats = std::vector<float>;

// One 16-bit step, and the rounding that a few composites accumulate.
constexpr float kStep = 1.0f / 65535.0f, kTol = 4.0f * kStep;
constexpr unsigned kAll = 0xFFFFFFFFu;

class Fragments : public render_test::SettingsTest {};

struct frag {
    double z, r, a;
};

// Front to back "over" of the fragments in front of geometry at gz, and
// of those behind it seen through its uncovered part: premultiplied red
// and alpha.
std::pair<double, double> over(std::vector<frag> f, double gz = 0, double gc = 0) {
    std::sort(f.begin(), f.end(), [](const frag& x, const frag& y) { return x.z < y.z; });
    double r[2] = {0, 0}, a[2] = {0, 0};
    for (const frag& x : f) {
        const int k = gz > 0 && x.z > gz;
        r[k] += (1 - a[k]) * x.r * x.a, a[k] += (1 - a[k]) * x.a;
    }
    const double s = (1 - a[0]) * (1 - gc);
    return {r[0] + s * r[1], a[0] + s * a[1]};
}

}  // namespace

TEST(Fraction, EncodingEdges) {
    // 0.9999f is not above 0.9999: truncated; 65529 and above decode as 1.
    const std::pair<float, int> enc[] = {{0.99995f, 65535}, {0.5f, 32767}, {0.9999f, 65528},
                                         {7.0f, 65535},     {-0.25f, 0},   {std::nanf(""), 0}};
    for (const auto& [f, v] : enc) EXPECT_EQ(frac_encode(f), v) << f;
    const std::pair<int, float> dec[] = {
        {65535, 1.0f}, {65529, 1.0f}, {65528, 65528.0f / 65535}, {32767, 32767.0f / 65535}};
    for (const auto& [v, f] : dec) EXPECT_EQ(frac_decode(v), f) << v;
}

TEST_F(Fragments, CellsOutsideTheGridAreRefused) {
    auto zb = make_zbuffer(4, 10, 5);
    EXPECT_EQ(
        captured([&] { EXPECT_TRUE(!zb->cell(4, 2) && !zb->cell(1, 10) && !zb->cell(-1, 0)); }),
        "FATAL: k = 42 (4, 2), lines * cols = 40\nFATAL: k = 20 (1, 10), lines * cols = 40\n"
        "FATAL: k = -10 (-1, 0), lines * cols = 40\n");
    ASSERT_NE(zb->cell(3, 9), nullptr);
    EXPECT_EQ(defs.pixel_x * 10 + defs.pixel_y, 93);  // the current pixel follows
    EXPECT_EQ(zb->record(4, 0), nullptr);
    EXPECT_EQ(make_zbuffer(1, 1, 40)->list_size(), kMaxListSize);
    EXPECT_FALSE(make_zbuffer(0, 5));
    add_geometry(*zb, 3, 9, 5.0f, 0.5f);
    zb->clear();
    EXPECT_EQ(zb->record(3, 9), nullptr);
}

// Fragments that fit the list keep their depths: the resolve is the exact
// over of the model, with geometry between. Beyond the list they go into
// the overflows, in front of the geometry or behind it, and nothing of
// their opacity is lost.
TEST_F(Fragments, ResolvedColourIsTheOverOfTheFragmentsInDepthOrder) {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int i = 0; i < 500; ++i) {
        const int list = 1 + i % 6, n = 1 + i % (list + 9);
        auto zb = make_zbuffer(1, 1, list);
        const float gz = 5.0f + 40.0f * u(rng), gc = i % 3 ? u(rng) : 0.0f;
        if (gc > 0) add_geometry(*zb, 0, 0, gz, gc);
        std::vector<frag> model;
        for (int k = 0; k < n; ++k) {
            const float z = 1.0f + 49.0f * u(rng), r = u(rng),
                        a = n > list ? 0.05f + 0.3f * u(rng) : u(rng);
            add_fragment(*zb, 0, 0, k + 1, z, kivColor(r, 0.5f, 0, a));
            model.push_back({z, r, a});
        }
        const auto [r, a] = over(model, gc > 0 ? gz : 0, gc);
        const kivColor c = zb->resolve_color(zb->record(0, 0));
        EXPECT_NEAR(c.a, a, n > list ? 2e-3 : 1e-3) << i;
        if (n <= list) {
            EXPECT_NEAR(c.r, r, 1e-3) << i;
        }
    }
}

// The contribution resolve walks a sample's current hair where moving it
// into the list puts it (a list with room, a full one handing an entry to
// an existing overflow or creating one): bit for bit the contributions of
// a twin sample whose hair a colour resolve moved, adding up to its colour.
// The query for surfaces hidden by hair, asked of the twin first, is the
// front alpha of exactly 1 and changes no resolve after it. Records of
// every fill: overflows on both sides, the same hair again, equal depths,
// a last hair at a NaN depth, which the list puts first; near-opaque
// fragments make both answers common.
TEST_F(Fragments, ContributionsAndTheHiddenQueryTakeTheCurrentHairWhereItsMovePutsIt) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    defs.hair_random = 0.6f, defs.merge_exponent = 0.5f;  // modes 1 and 2 not symmetric
    for (int i = 0; i < 4000; ++i) {
        const int list = 1 + i % 5, n = i % (list + 6);
        defs.merge_mode = i % 4;
        auto zb = make_zbuffer(1, 2, list);
        const float gz = 10.0f * u(rng), gc = i % 2 ? 1.0f : u(rng);
        for (int col = 0; col < 2 && i % 3; ++col) add_geometry(*zb, 0, col, gz, gc);
        for (int k = 0, id = 1; k < n; ++k) {
            id += rng() % 4 != 0;  // now and then the same hair again
            const float z = i % 7 == 1 && k == n - 1 ? NAN : float(rng() % 20) * 0.5f;
            const float a = i % 2 ? u(rng) : 1 - (k % 3 ? 1.0f : 2e-4f) * u(rng);
            const kivColor c(u(rng), u(rng), u(rng), a);
            for (int col = 0; col < 2; ++col) add_fragment(*zb, 0, col, id, z, c);
        }
        const bool hides = zb->hides_geometry(0, 1);
        const kivColor moved = zb->resolve_color(zb->record(0, 1));
        fragment_contribution out[2][kMaxListSize + 2] = {};
        float front[2];
        int m[2];
        for (int col = 0; col < 2; ++col)
            m[col] = zb->resolve_contributions(zb->record(0, col), out[col], list + 2, front[col]);
        ASSERT_EQ(m[0], m[1]) << i;
        ASSERT_EQ(std::memcmp(out[0], out[1], sizeof out[0]), 0) << i;
        ASSERT_EQ(front[0], front[1]) << i;
        ASSERT_EQ(hides, front[0] == 1.0f) << i;
        kivColor sum;
        for (int k = 0; k < m[0]; ++k)
            sum += kivColor(out[0][k].r, out[0][k].g, out[0][k].b, out[0][k].a);
        for (float d : {sum.r - moved.r, sum.b - moved.b, sum.a - moved.a})
            EXPECT_NEAR(d, 0, 1e-5) << i;
    }
}

TEST_F(Fragments, MovingGeometryHidesOnlyItsSlices) {
    defs.motion_blur = 1;
    auto zb = make_zbuffer(1, 2, 5);
    // Column 0: one model moving from 10 (early slices) to 12 (late).
    defs.geometry_id = 1;
    add_geometry(*zb, 0, 0, 10.0f, 0.5f, 0x0000FFFFu);
    add_geometry(*zb, 0, 0, 12.0f, 0.5f, 0xFFFF0000u);
    // Column 1: three models, 10 in slices 0-15, 5 in 0-7, 20 in 12-15.
    const float z[] = {10, 5, 20};
    const unsigned slices[] = {0xFFFFu, 0xFFu, 0xF000u};
    for (int i = 0; i < 3; ++i) {
        defs.geometry_id = 2 + i;
        add_geometry(*zb, 0, 1, z[i], 0.25f * (i + 1), slices[i]);
    }
    pixel_slot *a = zb->record(0, 0), *b = zb->record(0, 1);
    float gz[2], gc[2];
    zb->geometry_depth(0, 0, gz[0], gc[0]), zb->geometry_depth(0, 1, gz[1], gc[1]);
    EXPECT_EQ((Floats{gc[0], gc[1]}), (Floats{1, 0.5f}));  // b: slices 0-15 of 32
    for (pixel_slot* rec : {a, b}) zb->post_mb(rec, true);
    zb->geometry_depth(0, 1, gz[1], gc[1]);
    EXPECT_EQ((Floats{gz[1], gc[1]}), (Floats{5, 0.5f}));
    // At 11 the moving model (10 at slice 0, 12 at slice 31) hides slices
    // 0-15; 20 lies inside the slices of the nearer 10.
    const bool seen[] = {zb->is_visible(a, 11.0f, kAll),    zb->is_visible(a, 11.0f, 0xFFFFu),
                         zb->is_visible(a, 13.0f, kAll),    zb->is_visible(b, 7.0f, 0xFu),
                         zb->is_visible(b, 7.0f, 0xF0000u), zb->is_visible(b, 25.0f, 0xF000u)};
    EXPECT_EQ(std::vector<bool>(seen, seen + 6),
              (std::vector<bool>{true, false, false, false, true, false}));
    // A fragment keeps the visible half of its alpha; the list still
    // takes the fragments after the compressed entries.
    add_fragment(*zb, 0, 0, 3, 11.0f, kivColor(1, 1, 1, 1));
    EXPECT_NEAR(zb->resolve_color(a).a, 0.5f, kTol);
    for (int k = 0; k < 4; ++k) add_fragment(*zb, 0, 1, 10 + k, 1.0f + k, kivColor(1, 1, 1, 0.5f));
    EXPECT_NEAR(zb->resolve_color(b).a, 1 - 0.0625f, kTol);
}

// Geometry at 5: 1 in the list, 2 and 3 overflow in front, 6 and 7
// behind; the overflows take the last list entry's depth.
TEST_F(Fragments, DepthShadowAndAtmosphereResolveWithTheGeometryBetween) {
    auto zb = make_zbuffer(1, 1, 2);
    add_geometry(*zb, 0, 0, 5.0f, 0.5f);
    for (float z : {1, 2, 3, 6, 7}) add_fragment(*zb, 0, 0, int(z), z, kivColor(1, 1, 1, 0.3f));
    pixel_slot* rec = zb->record(0, 0);
    const float front = 1.0f - 0.7f * 0.7f * 0.7f, total = front + 0.51f * (1 - front) * 0.5f;
    EXPECT_NEAR(zb->resolve_color(rec).a, total, kTol);
    EXPECT_NEAR(zb->resolve_color(rec).a, total, kTol) << "passes may repeat";
    float d, a;
    zb->resolve_depth(rec, d, a);
    EXPECT_EQ(d, 1.0f);
    EXPECT_NEAR(a, total, kTol);
    // {threshold, depth where it is reached, opacity}
    const float shadows[][3] = {{0.7f, 1, 1}, {0.8f, 0, total / 0.8f}, {0, 1, total}};
    for (const auto& s : shadows) {
        float opacity;
        EXPECT_EQ(zb->resolve_shadow(rec, s[0], opacity), s[1]) << s[0];
        EXPECT_NEAR(opacity, s[2], kTol) << s[0];
    }
    float depths[kMaxAtmosSteps], alphas[kMaxAtmosSteps];
    ASSERT_EQ(zb->resolve_atmosphere(rec, depths, alphas, kMaxAtmosSteps), 3);
    EXPECT_EQ((Floats{depths[0], depths[1], depths[2]}), (Floats{1, 2, 6}));
    EXPECT_NEAR(alphas[0], 0.3f, kTol);
    EXPECT_NEAR(alphas[1], 0.51f * 0.7f, kTol);
    EXPECT_NEAR(alphas[2], 0.51f * (1 - front), kTol);
}

// Small records resolve as full ones: a twin z-buffer made while motion blur
// was on keeps full records. Both take the same hairs (0 to 7 a sample) and
// geometry, and the resolves agree bit for bit, also after the rows went
// through save_rows and load_rows; the small records take less room.
TEST_F(Fragments, SmallRecordsResolveAsFullOnes) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    defs.motion_blur = 1;
    auto full = make_zbuffer(8, 32, 5);
    defs.motion_blur = 0;
    auto small = make_zbuffer(8, 32, 5), loaded = make_zbuffer(8, 32, 5);
    for (int k = 0, gap = 0; k < 8 * 32; ++k, gap = rng() % 3)
        for (int h = 0, n = rng() % 8; h < n; ++h) {
            const float z = 12 * u(rng), gc = u(rng) < 0.3f ? 1.0f : u(rng);
            const kivColor col(u(rng), u(rng), u(rng), u(rng));
            for (hair_zbuffer* zb : {small.get(), full.get()}) {
                if (h == gap) add_geometry(*zb, k / 32, k % 32, z - 0.5f, gc);
                add_fragment(*zb, k / 32, k % 32, 1 + h / 2 + k, z, col);
            }
        }
    std::FILE* f = std::tmpfile();
    ASSERT_TRUE(f && small->save_rows(f, 0, 8) && (std::rewind(f), loaded->load_rows(f, 0, 8)));
    std::fclose(f);
    int slots[3] = {0, 0, 0};
    for (int k = 0, r = 0, c = 0; k < 8 * 32; r = ++k / 32, c = k % 32) {
        float got[3][11] = {};
        for (int t = 0; t < 3; ++t) {
            hair_zbuffer& zb = *(t == 0 ? full : t == 1 ? small : loaded);
            if (zb.record(r, c)) slots[t] += zb.slots_of(zb.record(r, c));
            fragment_contribution parts[7];
            got[t][0] = zb.hides_geometry(r, c);
            got[t][1] = zb.resolve_contributions(zb.record(r, c), parts, 7, got[t][2]);
            for (int i = 0; i < got[t][1] && i < 4; ++i) got[t][3 + i] = parts[i].r + parts[i].a;
            const kivColor col = zb.resolve_color(zb.record(r, c));
            std::memcpy(&got[t][7], &col, sizeof col);
        }
        ASSERT_EQ(std::memcmp(got[0], got[1], sizeof got[0]), 0) << k;
        ASSERT_EQ(std::memcmp(got[0], got[2], sizeof got[0]), 0) << k;
    }
    EXPECT_TRUE(slots[1] < slots[0] * 3 / 4 && slots[2] == slots[1]) << slots[1];
}

// Records grown in the order they were made leave their small slots side by
// side: each two of them take a later full record. Grown the other way, or
// the even samples first, every other record (but at a chunk's end) grows
// where it is, over the hole its neighbour left, wherever that hole is in
// the list. Records made last (the last row) take the holes left. Every
// record holds what a fresh one would; 255 × 256 samples of 3 list entries
// take 8 chunks, not 12.
TEST_F(Fragments, SmallSlotsSideBySideTakeFullRecords) {
    const int n = 255 * 256;
    for (int order = 0; order < 3; ++order) {
        auto zb = make_zbuffer(256, 256, 5);
        std::vector<const pixel_slot*> small(n);
        auto add = [&](int k, int id) {
            add_fragment(*zb, k / 256, k % 256, id, 1.0f + id, kivColor(0.1f, 0.2f, 0.3f, 0.5f));
        };
        for (int id = 1; id <= 3; ++id)
            for (int k = 0; k < n; ++k) add(k, id);
        for (int k = 0; k < n; ++k) small[k] = zb->record(k / 256, k % 256);
        for (int i = 0; i < n; ++i)
            add(order == 0 ? i : order == 1 ? n - 1 - i : 2 * i % n + 2 * i / n, 4);
        for (int k = n; k < n + 256; ++k) add(k, 1);
        const pixel_slot* first = zb->record(0, 0);
        ASSERT_EQ(zb->slots_of(first), 8);
        int stayed = 0;
        for (int k = 0; k < n; ++k) {
            const pixel_slot* rec = zb->record(k / 256, k % 256);
            ASSERT_EQ(std::memcmp(rec, first, 8 * sizeof(pixel_slot)), 0) << order << " " << k;
            stayed += rec == small[k];
        }
        EXPECT_TRUE(order ? stayed > n / 2 - 8 : stayed == 0) << order << " " << stayed;
        EXPECT_EQ(zb->chunk_count(), 8) << order;
    }
}
