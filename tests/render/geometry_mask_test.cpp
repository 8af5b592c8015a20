// The geometry array beside the pixel records: hidden samples decided
// without a record, records made by hair carrying their sample's geometry,
// and bands of rows carried from one z-buffer into another.
#include "render/fragment_list.h"

#include "render_support.h"

namespace {

// Per sample geometry in two pieces, none, partial (below 0.8 in all) or
// complete (above 1), and up to max_hairs hairs, drawn before the geometry
// in odd samples when hair_first. Returns per sample the nearest depth of
// the geometry (0 for none) and whether it is complete.
std::vector<std::pair<float, bool>> draw(hair_zbuffer& zb, bool hair_first, int max_hairs = 3) {
    std::mt19937 rng(17 + max_hairs);
    std::vector<std::pair<float, bool>> geo;
    for (int i = 0; i < zb.lines() * zb.cols(); ++i) {
        const int r = i / zb.cols(), c = i % zb.cols(), kind = rng() % 3, n = rng() % 4;
        float v[7];  // depths and coverages of the geometry, depths of hair
        for (float& x : v) x = std::generate_canonical<float, 24>(rng);
        geo.push_back({kind ? 5 + 20 * std::min(v[0], v[1]) : 0.0f, kind == 2});
        for (int step = 0; step < 2; ++step) {
            const bool hair_now = (step == 0) == (hair_first && i % 2);
            for (int k = 0; !hair_now && k < 2 * (kind > 0); ++k)
                render_test::add_geometry(zb, r, c, 5 + 20 * v[k],
                                          0.6f * (kind - 1) + 0.4f * v[2 + k]);
            for (int h = 0; hair_now && h < std::min(n, max_hairs); ++h)
                render_test::add_fragment(zb, r, c, h + 1, 1 + 30 * v[4 + h],
                                          kivColor(0.3f, 0.5f, 0.9f, 0.4f));
        }
    }
    return geo;
}

// What the output passes and the rasteriser read of one sample.
std::vector<float> read_sample(hair_zbuffer& zb, int r, int c) {
    float g[4];
    zb.geometry_depth(r, c, g[0], g[1]);
    zb.resolve_depth(zb.record(r, c), g[2], g[3]);
    const kivColor k = zb.resolve_color(zb.record(r, c));
    const std::size_t i = zb.index(r, c);
    const float seen[] = {1.0f * zb.is_visible_at(i, g[0] - 0.01f, ~0u),
                          1.0f * zb.is_visible_at(i, g[0], ~0u)};
    return {g[0],    g[1],   g[2], g[3], k.r, k.a, 1.0f * (zb.record(r, c) != nullptr),
            seen[0], seen[1]};
}

}  // namespace

// Hair drawn before the geometry and after it gives the same samples: the
// first fragment's record takes the geometry, later geometry updates it,
// and the record's test agrees with the array's. A band saved from one
// z-buffer replaces the same rows of another. Geometry alone takes no record.
TEST(GeometryMask, RecordsTheArrayAndBandsAgree) {
    SettingsGuard guard;
    auto a = render_test::make_zbuffer(11, 9), b = render_test::make_zbuffer(11, 9);
    const auto geo = draw(*a, false);
    draw(*b, true);
    for (int i = 0; i < 11 * 9; ++i) {
        const int r = i / 9, c = i % 9;
        const std::vector<float> s = read_sample(*a, r, c);
        EXPECT_EQ(s[0], geo[i].first) << i;
        EXPECT_TRUE(geo[i].second ? s[1] == 1.0f : s[1] < 0.8f) << i;
        EXPECT_EQ(s[7] + s[8], geo[i].second ? 1.0f : 2.0f) << "hidden at complete geometry";
        EXPECT_EQ(s, read_sample(*b, r, c)) << i;
        for (float d = 2.0f; s[6] && d < 30.0f; d += 0.37f)
            ASSERT_EQ(a->is_visible(a->record(r, c), d, ~0u),
                      a->is_visible_at(a->index(r, c), d, ~0u));
    }
    std::FILE* f = std::tmpfile();
    b->clear();
    const auto geo_b = draw(*b, true, 0);
    EXPECT_EQ(b->chunk_count(), 0);
    ASSERT_TRUE(f && a->save_rows(f, 3, 8));
    std::rewind(f);
    ASSERT_TRUE(b->load_rows(f, 3, 8));
    for (int i = 0; i < 11 * 9; ++i) {
        const bool in = i >= 3 * 9 && i < 8 * 9;
        EXPECT_EQ(read_sample(*b, i / 9, i % 9)[0], (in ? geo : geo_b)[i].first) << i;
        EXPECT_TRUE(!in || read_sample(*b, i / 9, i % 9) == read_sample(*a, i / 9, i % 9)) << i;
    }
    std::fclose(f);
}
