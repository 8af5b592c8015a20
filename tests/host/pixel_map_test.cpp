#include "host/pixel_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {
using Pixels = std::vector<std::uint8_t>;
Pixels pixels(const TpixelMap& m) {
    return Pixels(m.getPixel(), m.getPixel() + 4 * m.getWidth() * m.getHeight());
}
}  // namespace

// A hole takes the rounded average of its covered neighbours, per byte; each
// end of a row fills its neighbour first, and the middle then sees both
// (halves round up).
TEST(TfillBackground, HolesTakeTheRoundedAverageOfCoveredNeighbours) {
    TpixelMap square(3, 3), row(5, 1);
    for (int i = 0; i < 9; ++i) {
        const std::uint8_t v = static_cast<std::uint8_t>(10 * (i < 4 ? i + 1 : i)),
                           p[4] = {v, std::uint8_t(2 * v), 7, 255};
        if (i != 4) std::copy(p, p + 4, square.getPixel() + 4 * i);  // 10 .. 80 around the middle
    }
    const std::uint8_t black[4] = {0, 0, 0, 255}, orange[4] = {201, 101, 51, 255};
    std::copy(black, black + 4, row.getPixel()), std::copy(orange, orange + 4, row.getPixel() + 16);
    TfillBackground::fillBackground(square), TfillBackground::fillBackground(row);
    EXPECT_EQ((Pixels{45, 90, 7, 255}), Pixels(square.getPixel() + 16, square.getPixel() + 20));
    EXPECT_EQ((Pixels{0, 0, 0, 255, 0, 0, 0, 255, 101, 51, 26, 255, 201, 101, 51, 255}),
              Pixels(row.getPixel(), row.getPixel() + 16));
}

// Random sparse maps end fully covered, covered pixels unchanged and every
// value within the covered range; a map without covered pixels is left alone.
TEST(TfillBackground, RandomMapsEndFullyCovered) {
    std::mt19937 rng(77);
    for (int round = 0; round < 30; ++round) {
        const int w = 1 + rng() % 40, h = 1 + rng() % 40, n = round % 10 ? 1 + rng() % 6 : 0;
        TpixelMap map(static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(h));
        int lo = 255, hi = 0;
        for (int i = 0; i < n; ++i) {
            const int v = rng() % 256;
            std::uint8_t* p = map.getPixel() + 4 * (rng() % (w * h));
            p[0] = p[1] = p[2] = v, p[3] = 255, lo = std::min(lo, v), hi = std::max(hi, v);
        }
        map.getPixel()[1] |= n ? 0 : 9;  // colour without coverage
        const Pixels before = pixels(map);
        TfillBackground::fillBackground(map);
        const Pixels after = pixels(map);
        for (int p = 0; p < 4 * w * h; p += 4) {
            ASSERT_TRUE(!before[p + 3] || std::equal(&after[p], &after[p + 4], &before[p])) << p;
            ASSERT_EQ(n ? 255 : before[p + 3], after[p + 3]) << round << " " << p;
            ASSERT_TRUE(!n || (after[p] >= lo && after[p] <= hi)) << round;
        }
        EXPECT_TRUE(n || after == before) << round;
    }
}
