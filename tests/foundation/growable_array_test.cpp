#include "foundation/growable_array.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace {

using Values = std::vector<std::uint64_t>;

Values contents(const FurArray64& a) {
    return Values(a.data, a.data + a.length);
}

FurArray64 arrayOf(std::initializer_list<std::uint64_t> values) {
    FurArray64 a;
    for (std::uint64_t v : values) a.set(a.length, v);
    return a;
}

}  // namespace

TEST(FurArray64, GrowthSteps) {
    // {first length, next length, capacity after it}: the first block is exact,
    // then 8 + max(4, 1 / 8), 80 + 80 / 8, a step stopped at 1024, at least the
    // length asked for, and shrinking keeps the block.
    const int cases[][3] = {
        {8, 9, 12}, {80, 81, 90}, {20000, 20001, 21024}, {8, 100, 100}, {8, 1, 8}};
    for (const auto& c : cases) {
        FurArray64 a;
        a.setLength(c[0]);
        EXPECT_EQ(c[0], a.capacity);
        a.setLength(c[1]);
        EXPECT_EQ(Values(c[1], 0), contents(a)) << "new places are zero";
        EXPECT_EQ(c[2], a.capacity) << c[0] << " -> " << c[1];
    }
    // A stored increment overrides the automatic step until it is set back to 0.
    FurArray64 a;
    a.setLength(10, 50);
    a.setLength(11);
    EXPECT_EQ(60, a.capacity);
    a.setLength(61, 0);
    EXPECT_EQ(64, a.capacity) << "60 + max(4, 11 / 8), from the length in use";
    // Places used again are zeroed; length 0 frees the block; a negative length is ignored.
    a.set(60, 7);
    a.setLength(60);
    a.setLength(61);
    EXPECT_EQ(0u, a.get(60));
    a.setLength(0);
    EXPECT_EQ(nullptr, a.data);
    a.setLength(-3);
    a.setLength(2);
    EXPECT_EQ(Values(2, 0), contents(a));
}

TEST(FurArray64, AppendAssignCopyMoveAndCompact) {
    FurArray64 a = arrayOf({1, 2});
    EXPECT_EQ(2, a.append(arrayOf({3, 4, 5})));
    EXPECT_EQ(5, a.append(FurArray64()));
    EXPECT_EQ(5, a.append(a));
    FurArray64 b;
    b.setLength(1, 7);
    b.assign(a);
    b.assign(b);
    EXPECT_EQ((Values{1, 2, 3, 4, 5, 1, 2, 3, 4, 5}), contents(b));
    EXPECT_NE(a.data, b.data);
    EXPECT_EQ(7, b.growIncrement) << "assign keeps the increment";
    FurArray64 copy(b);
    copy.set(0, 10);
    EXPECT_EQ(1u, b.get(0));
    FurArray64 moved(std::move(copy));
    EXPECT_EQ(nullptr, copy.data);  // NOLINT: moved-from state is defined
    b = std::move(moved);
    a = b;
    EXPECT_EQ((Values{10, 2, 3, 4, 5, 1, 2, 3, 4, 5}), contents(a));
    // compact fits the block to the length and releases an empty one.
    FurArray64 c;
    c.setLength(8);
    c.set(8, 42);
    c.compact();
    EXPECT_EQ(9, c.capacity);
    EXPECT_EQ(42u, c.get(8));
    c.remove(0, 9);
    c.compact();
    EXPECT_TRUE(c.data == nullptr && c.capacity == 0);
}

// Every operation, with indices from -2 to past the end, against a vector.
TEST(FurArray64, MatchesAVectorUnderRandomOperations) {
    std::mt19937 rng(2024);
    const FurArray64 pair = arrayOf({8, 9});
    for (int round = 0; round < 10; ++round) {
        FurArray64 a;
        Values model;
        for (int step = 0; step < 300; ++step) {
            const int op = int(rng() % 5), size = int(model.size());
            const int i = int(rng() % (size + 5)) - 2, count = int(rng() % 5) - 1;
            const std::uint64_t v = rng();
            const Values inserted = op == 0 ? Values(std::max(count, 0), v) : Values{8, 9};
            if (op == 0 || op == 4) {
                op == 0 ? a.insert(i, v, count) : a.insertArray(i, pair);
                if (i >= 0 && (op == 4 || count >= 0)) {
                    model.resize(std::max(i, size), 0);
                    model.insert(model.begin() + i, inserted.begin(), inserted.end());
                }
            } else if (op == 1) {
                a.remove(i, count);
                if (i >= 0 && i < size && count > 0)
                    model.erase(model.begin() + i, model.begin() + std::min(size, i + count));
            } else if (op == 2) {
                a.set(i, v);
                if (i >= 0) model.resize(std::max(i + 1, size), 0), model[i] = v;
            } else {
                a.setLength(i);
                if (i >= 0) model.resize(i, 0);
            }
            ASSERT_EQ(model, contents(a)) << "round " << round << " step " << step;
            ASSERT_LE(a.length, a.capacity);
        }
    }
    FurArray64 b = arrayOf({8, 9});
    b.insertArray(1, b);  // into itself
    EXPECT_EQ((Values{8, 8, 9, 9}), contents(b));
}
