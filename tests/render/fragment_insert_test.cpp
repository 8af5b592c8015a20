// Fragment insertion: the four-lane merges against the scalar merges they
// replaced, and where a hair goes in the list.
#include <cstring>
#include <limits>
#include <vector>

#include "render/fragment_fractions.h"
#include "render_support.h"

namespace {

constexpr auto dec = frac_decode;
// f + b × s, one fraction at a time; z and id from f.
pixel_hair scalar_sum(const pixel_hair& f, const pixel_hair& b, float s) {
    auto one = [&](int x, int y) { return frac_encode(dec(x) + dec(y) * s); };
    return {one(f.r, b.r), one(f.g, b.g), one(f.b, b.b), one(f.a, b.a), f.z, f.id};
}
// The scalar merges, kept as the reference.
pixel_hair scalar_merge(pixel_hair d, const pixel_hair& s, const pixel_zbuff* g) {
    const float r = (1 - dec(d.a)) * (g && !defs.motion_blur ? 1 - dec(g->area()) : 1);
    if (g) return r > 0 ? scalar_sum(d, s, r) : d;
    if (d.id == 0) return s;
    const pixel_hair f = d.z <= s.z ? d : s, b = d.z <= s.z ? s : d;
    const float fa = dec(f.a), ba = dec(b.a), x = defs.merge_exponent;
    const int m = defs.merge_mode;
    const float by_mode[] = {1 - fa, 1 - defs.hair_random * fa, 1 - std::pow(fa, x), 0, 0};
    float t = by_mode[m];
    if ((m == 1 || m == 2) && ba * t + fa > 1) t = (1 - fa) / ba;
    if (m == 3) t = ba <= 1 - fa ? 1 : (1 - fa) / ba;
    pixel_hair out = scalar_sum(f, b, m <= 2 && t < 0 ? 0 : t);
    return out.id = d.id, out;
}
pixel_hair scalar_same_hair(const pixel_hair& x, const pixel_hair& y) {
    const pixel_hair f = x.z <= y.z ? x : y, b = x.z <= y.z ? y : x;
    const float r = 1 - dec(f.a), ba = dec(b.a);
    pixel_hair out = r <= 0 ? f : r < ba ? scalar_sum(f, b, r / ba) : scalar_sum(x, y, 1);
    if (r > 0 && r < ba) out.a = 65535;
    return out.z = f.z, out.id = x.id, out;
}
class FragmentInsert : public render_test::SettingsTest {};

}  // namespace

// Every 16-bit value passes through the red lanes; the other fractions lie
// near 0, near 1 (65529 and up decode as 1) or anywhere; depths tie.
TEST_F(FragmentInsert, MergesAreBitForBitTheScalarMerges) {
    std::mt19937 rng(77);
    auto frac = [&] {
        const std::uint32_t r = rng(), v = r >> 16;
        return std::uint16_t(r % 4 == 0 ? v % 16 : r % 4 == 1 ? 65535 - v % 16 : v);
    };
    int bad = 0;
    for (int i = 0; i < 4 * 65536; ++i) {
        defs.merge_mode = i % 5, defs.motion_blur = i % 7 == 0;
        defs.hair_random = defs.merge_exponent = (rng() % 1000) / 250.0f - 1.0f;
        const pixel_hair x = {std::uint16_t(i), frac(),           frac(),
                              frac(),           float(rng() % 4), i / 3 % 3},
                         y = {std::uint16_t(~i), frac(), frac(), frac(), float(rng() % 4), i % 2};
        pixel_zbuff area{};
        area.set_area(frac());
        const pixel_zbuff* g = i % 3 ? nullptr : &area;
        pixel_hair got[2] = {x, x};
        fragment_merge(got[0], y, g);
        fragment_merge_same_hair(got[1], y);
        const pixel_hair want[2] = {scalar_merge(x, y, g), scalar_same_hair(x, y)};
        bad += std::memcmp(got, want, sizeof got) != 0;
    }
    EXPECT_EQ(bad, 0);
}

// The four-lane encoding against the scalar one at the floats next to
// every step k / 65535, next to the cut-off at 0.9999, and at the odd ones.
TEST(Fraction, FourLaneEncodingIsTheScalarEncoding) {
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> f = {-0.0f, -1.0f, inf, -inf, std::nanf(""), 1e-45f, 1.0f, 2.0f};
    for (int k = 0; k <= 65536; ++k) {
        const float at = k < 65536 ? k / 65535.0f : 0.9999f;
        float up = at, down = at;
        for (int i = 0; i < 3;
             ++i, up = std::nextafter(up, 2.0f), down = std::nextafter(down, -1.0f))
            f.insert(f.end(), {up, down});
    }
    f.resize((f.size() + 3) & ~std::size_t(3), 0.5f);
    int bad = 0;
    for (std::size_t i = 0; i < f.size(); i += 4) {
        pixel_hair h{};
        frac4::store(h, frac4::floats{f[i], f[i + 1], f[i + 2], f[i + 3]});
        const std::uint16_t want[4] = {frac_encode(f[i]), frac_encode(f[i + 1]),
                                       frac_encode(f[i + 2]), frac_encode(f[i + 3])};
        bad += std::memcmp(&h, want, sizeof want) != 0;
    }
    EXPECT_EQ(bad, 0);
}

// A hair goes after the hairs at its depth; a full list hands its farthest
// entry to the overflow. Colours below 0 and NaN are stored as 0, above 1 as 1.
TEST_F(FragmentInsert, AHairGoesAfterTheHairsAtItsDepth) {
    auto zb = render_test::make_zbuffer(1, 1, 3);
    for (int id : {1, 2, 3, 4})
        render_test::add_fragment(*zb, 0, 0, id, id == 2 ? 9.0f : 5.0f,
                                  kivColor(-1, NAN, 20, 0.5f));
    const pixel_slot* rec = zb->record(0, 0);
    zb->resolve_color(zb->record(0, 0));  // moves hair 4 into the list
    EXPECT_EQ((std::vector<int>{rec[2].hair.id, rec[3].hair.id, rec[4].hair.id, rec[5].hair.id}),
              (std::vector<int>{1, 3, 4, 2}));
    EXPECT_EQ((std::vector<int>{rec[2].hair.r, rec[2].hair.g, rec[2].hair.b}),
              (std::vector<int>{0, 0, 65535}));
}
