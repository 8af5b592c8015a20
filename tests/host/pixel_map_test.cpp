#include "host/pixel_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using Pixel = std::array<std::uint8_t, 4>;

Pixel pixelAt(const TpixelMap& map, int x, int y) {
    const std::uint8_t* p = map.getPixel() + 4 * (y * map.getWidth() + x);
    return {p[0], p[1], p[2], p[3]};
}

void setPixel(TpixelMap& map, int x, int y, Pixel value) {
    std::copy(value.begin(), value.end(), map.getPixel() + 4 * (y * map.getWidth() + x));
}

// The pixels of a one-row map after filling it.
std::vector<Pixel> filledRow(int width, const std::vector<std::pair<int, Pixel>>& covered) {
    TpixelMap map(static_cast<std::uint16_t>(width), 1);
    for (const auto& [x, p] : covered) setPixel(map, x, 0, p);
    TfillBackground::fillBackground(map);
    std::vector<Pixel> row;
    for (int x = 0; x < width; ++x) row.push_back(pixelAt(map, x, 0));
    return row;
}

}  // namespace

TEST(TfillBackground, HoleTakesTheRoundedAverageOfItsCoveredNeighbours) {
    TpixelMap map(3, 3);
    for (int i = 0; i < 9; ++i) {
        const std::uint8_t v = static_cast<std::uint8_t>(10 * (i < 4 ? i + 1 : i));  // 10..80
        if (i != 4) setPixel(map, i % 3, i / 3, {v, static_cast<std::uint8_t>(2 * v), 7, 255});
    }
    const TpixelMap before = map;
    TfillBackground::fillBackground(map);
    // Neighbours 10..80: average 45; doubled 90; constant 7; alpha 255.
    EXPECT_EQ((Pixel{45, 90, 7, 255}), pixelAt(map, 1, 1));
    for (int i = 0; i < 9; i += 1 + (i == 3))  // the covered pixels keep their values
        EXPECT_EQ(pixelAt(before, i % 3, i / 3), pixelAt(map, i % 3, i / 3)) << i;
    EXPECT_EQ((Pixel{2, 1, 255, 2}), filledRow(3, {{0, {1, 0, 255, 1}}, {2, {2, 1, 254, 2}}})[1]);
    // Each end fills its neighbour in the first pass; the middle pixel then
    // sees both filled neighbours.
    const Pixel black = {0, 0, 0, 255}, orange = {200, 100, 50, 255};
    EXPECT_EQ((std::vector<Pixel>{black, black, {100, 50, 25, 255}, orange, orange}),
              filledRow(5, {{0, black}, {4, orange}}));
}

TEST(TfillBackground, MapsEndFullyCoveredWithinTheCoveredRange) {
    std::mt19937 rng(77);
    for (int round = 0; round < 20; ++round) {
        const int w = 1 + static_cast<int>(rng() % 40), h = 1 + static_cast<int>(rng() % 40);
        TpixelMap map(static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h));
        int lo = 255, hi = 0;
        for (int i = 0, n = 1 + static_cast<int>(rng() % 6); i < n; ++i) {
            const int x = static_cast<int>(rng() % w), y = static_cast<int>(rng() % h);
            const std::uint8_t v = static_cast<std::uint8_t>(rng() % 256);
            setPixel(map, x, y, {v, v, v, 255});
        }
        for (int p = 0; p < w * h; ++p)
            if (map.getPixel()[4 * p + 3]) {
                lo = std::min<int>(lo, map.getPixel()[4 * p]);
                hi = std::max<int>(hi, map.getPixel()[4 * p]);
            }
        const TpixelMap before = map;
        TfillBackground::fillBackground(map);
        for (int p = 0; p < w * h; ++p) {
            const std::uint8_t* now = map.getPixel() + 4 * p;
            const std::uint8_t* old = before.getPixel() + 4 * p;
            ASSERT_TRUE(old[3] == 0 || std::equal(now, now + 4, old)) << "covered pixels stay";
            ASSERT_EQ(255, now[3]) << "round " << round << " pixel " << p;
            ASSERT_TRUE(now[0] >= lo && now[0] <= hi) << round;
        }
    }
    // One pixel spreads over a whole large map.
    TpixelMap map(1024, 768);
    setPixel(map, 0, 0, {30, 60, 90, 200});
    TfillBackground::fillBackground(map);
    for (int i = 0; i < 1024 * 768; i += 1 + i / 50)
        ASSERT_EQ((Pixel{30, 60, 90, 200}), pixelAt(map, i % 1024, i / 1024)) << i;
    EXPECT_EQ((Pixel{30, 60, 90, 200}), pixelAt(map, 1023, 767));
    // A map without covered pixels stays as it is; an empty map has nothing to fill.
    TpixelMap bare(4, 4), none(0, 5);
    setPixel(bare, 2, 2, {9, 9, 9, 0});  // colour without coverage
    const TpixelMap before = bare;
    TfillBackground::fillBackground(bare);
    EXPECT_TRUE(std::equal(before.getPixel(), before.getPixel() + 64, bare.getPixel()));
    EXPECT_EQ(nullptr, none.getPixel());
    TfillBackground::fillBackground(none);
}
