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
    std::uint8_t* p = map.getPixel() + 4 * (y * map.getWidth() + x);
    std::copy(value.begin(), value.end(), p);
}

}  // namespace

TEST(TpixelMap, NewMapIsEmptyRowAfterRow) {
    TpixelMap map(3, 2);
    EXPECT_EQ(3, map.getWidth());
    EXPECT_EQ(2, map.getHeight());
    ASSERT_NE(nullptr, map.getPixel());
    for (int i = 0; i < 3 * 2 * 4; ++i) EXPECT_EQ(0, map.getPixel()[i]) << i;
    setPixel(map, 1, 1, {1, 2, 3, 4});
    EXPECT_EQ(1, map.getPixel()[4 * 4 + 0]);
    EXPECT_EQ(4, map.getPixel()[4 * 4 + 3]) << "alpha is the fourth byte";
    TpixelMap none(0, 5);
    EXPECT_EQ(nullptr, none.getPixel());
    TfillBackground::fillBackground(none);  // nothing to fill
}

TEST(TfillBackground, HoleTakesTheAverageOfItsCoveredNeighbours) {
    TpixelMap map(3, 3);
    std::uint8_t value = 10;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            if (x != 1 || y != 1) {
                setPixel(map, x, y, {value, static_cast<std::uint8_t>(2 * value), 7, 255});
                value += 10;
            }
    TpixelMap before = map;
    TfillBackground::fillBackground(map);
    // Neighbours 10..80: average 45; doubled 90; constant 7; alpha 255.
    EXPECT_EQ((Pixel{45, 90, 7, 255}), pixelAt(map, 1, 1));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            if (x != 1 || y != 1) {
                EXPECT_EQ(pixelAt(before, x, y), pixelAt(map, x, y)) << x << "," << y;
            }
}

TEST(TfillBackground, AverageIsRounded) {
    TpixelMap map(3, 1);
    setPixel(map, 0, 0, {1, 0, 255, 1});
    setPixel(map, 2, 0, {2, 1, 254, 2});
    TfillBackground::fillBackground(map);
    EXPECT_EQ((Pixel{2, 1, 255, 2}), pixelAt(map, 1, 0));
}

TEST(TfillBackground, IsolatedPixelSpreadsOverTheWholeMap) {
    TpixelMap map(7, 5);
    setPixel(map, 5, 1, {30, 60, 90, 200});
    TfillBackground::fillBackground(map);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ((Pixel{30, 60, 90, 200}), pixelAt(map, x, y)) << x << "," << y;
}

TEST(TfillBackground, GrowsOneRingPerPass) {
    // Each end fills its neighbour in the first pass; the middle pixel then
    // sees both filled neighbours.
    TpixelMap map(5, 1);
    setPixel(map, 0, 0, {0, 0, 0, 255});
    setPixel(map, 4, 0, {200, 100, 50, 255});
    TfillBackground::fillBackground(map);
    EXPECT_EQ((Pixel{0, 0, 0, 255}), pixelAt(map, 1, 0));
    EXPECT_EQ((Pixel{200, 100, 50, 255}), pixelAt(map, 3, 0));
    EXPECT_EQ((Pixel{100, 50, 25, 255}), pixelAt(map, 2, 0));
}

TEST(TfillBackground, MapWithoutCoveredPixelsStaysAsItIs) {
    TpixelMap map(4, 4);
    setPixel(map, 2, 2, {9, 9, 9, 0});  // colour without coverage
    TpixelMap before = map;
    TfillBackground::fillBackground(map);
    EXPECT_TRUE(std::equal(before.getPixel(), before.getPixel() + 64, map.getPixel()));
}

TEST(TfillBackground, RandomMapsEndFullyCoveredWithinTheCoveredRange) {
    std::mt19937 rng(77);
    for (int round = 0; round < 20; ++round) {
        int w = 1 + static_cast<int>(rng() % 40), h = 1 + static_cast<int>(rng() % 40);
        TpixelMap map(static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h));
        std::vector<bool> covered(w * h, false);
        int lo = 255, hi = 0;
        for (int i = 0; i < 1 + static_cast<int>(rng() % 6); ++i) {
            int x = static_cast<int>(rng() % w), y = static_cast<int>(rng() % h);
            std::uint8_t v = static_cast<std::uint8_t>(rng() % 256);
            setPixel(map, x, y, {v, v, v, 255});
            covered[y * w + x] = true;
        }
        for (int p = 0; p < w * h; ++p)
            if (covered[p]) {
                lo = std::min<int>(lo, map.getPixel()[4 * p]);
                hi = std::max<int>(hi, map.getPixel()[4 * p]);
            }
        TpixelMap before = map;
        TfillBackground::fillBackground(map);
        for (int p = 0; p < w * h; ++p) {
            const std::uint8_t* now = map.getPixel() + 4 * p;
            if (covered[p]) {
                ASSERT_TRUE(std::equal(now, now + 4, before.getPixel() + 4 * p)) << round;
            } else {
                ASSERT_EQ(255, now[3]) << "round " << round << " pixel " << p;
                ASSERT_GE(now[0], lo) << round;
                ASSERT_LE(now[0], hi) << round;
            }
        }
    }
}

TEST(TfillBackground, LargeMapWithOneSeedIsFilled) {
    TpixelMap map(1024, 768);
    setPixel(map, 0, 0, {1, 2, 3, 4});
    TfillBackground::fillBackground(map);
    EXPECT_EQ((Pixel{1, 2, 3, 4}), pixelAt(map, 1023, 767));
    EXPECT_EQ((Pixel{1, 2, 3, 4}), pixelAt(map, 512, 300));
}
