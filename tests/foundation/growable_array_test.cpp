#include "foundation/growable_array.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using Values = std::vector<std::uint64_t>;

// Three lengths in turn and the capacity after them: the first block is
// exact and shrinking keeps it; the step is max(4, length / 8) of the length
// in use (8 + 4 and 80 + 4 after shrinking to 1, 80 + 80 / 8), stopped at
// 1024, at least the length asked for, or a stored increment. New places
// read zero.
TEST(FurArray64, GrowthSteps) {
    const int cases[][5] = {{8, 1, 9, 12, 0},    {80, 1, 81, 84, 0},
                            {80, 80, 81, 90, 0}, {20000, 20000, 20001, 21024, 0},
                            {8, 8, 100, 100, 0}, {10, 10, 11, 60, 50}};
    for (const auto& c : cases) {
        FurArray64 a;
        a.setLength(c[0], c[4]), a.setLength(c[1]), a.setLength(c[2]);
        EXPECT_EQ(Values(c[2], 0), Values(a.data, a.data + a.length));
        EXPECT_EQ(c[3], a.capacity) << c[0] << " -> " << c[2];
        a.setLength(0);
        EXPECT_EQ(nullptr, a.data) << "length 0 frees the block";
    }
}

// Every operation, with indices from -2 to past the end, against a vector;
// places used again read zero.
TEST(FurArray64, MatchesAVectorUnderRandomOperations) {
    std::mt19937 rng(2024);
    FurArray64 pair, a, b;
    pair.set(1, 9), pair.set(0, 8);
    Values model;
    for (int step = 0; step < 3000; ++step) {
        const int op = int(rng() % 7), size = int(model.size());
        const int i = int(rng() % (size + 5)) - 2, count = int(rng() % 5) - 1;
        const std::uint64_t v = rng();
        const Values inserted = op == 0 ? Values(std::max(count, 0), v) : Values{8, 9};
        if (op == 0 || op == 4) {
            op == 0 ? a.insert(i, v, count) : a.insertArray(i, pair);
            if (i >= 0 && (op == 4 || count >= 0)) model.resize(std::max(i, size), 0);
            if (i >= 0 && (op == 4 || count >= 0))
                model.insert(model.begin() + i, inserted.begin(), inserted.end());
        } else if (op == 1) {
            a.remove(i, count);
            if (i >= 0 && i < size && count > 0)
                model.erase(model.begin() + i, model.begin() + std::min(size, i + count));
        } else if (op == 2 || op == 3) {
            op == 2 ? a.set(i, v) : a.setLength(i);
            if (i >= 0) model.resize(op == 3 ? i : std::max(i + 1, size), 0);
            if (i >= 0 && op == 2) model[i] = v;
        } else if (op == 5 && size < 200) {
            b.assign(a);
            ASSERT_EQ(size, a.append(rng() % 2 ? a : b));  // itself, or a copy
            model.resize(2 * size), std::copy_n(model.begin(), size, model.begin() + size);
        } else {
            a.compact();
            ASSERT_EQ(a.length, a.capacity);
        }
        ASSERT_EQ(model, Values(a.data, a.data + a.length)) << "step " << step;
        ASSERT_LE(a.length, a.capacity);
    }
    pair.insertArray(1, pair);  // into itself
    EXPECT_EQ((Values{8, 8, 9, 9}), Values(pair.data, pair.data + pair.length));
}
