#include "foundation/fur_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

TEST(FurList, EmptyEndsRemovalAndClearLeaveAUsableList) {
    FurList list;
    EXPECT_EQ(0u, list.first() | list.next() | list.last() | list.previous() | list.at(0) |
                      list.removeLast());
    list.append(1);
    list.append(2);
    EXPECT_EQ(1u, list.first());  // the cursor now stands on the tail
    EXPECT_EQ(2u, list.removeLast());
    EXPECT_EQ(0u, list.next()) << "the walk ends at the new tail";
    EXPECT_EQ(1u, list.removeLast());
    EXPECT_EQ(0u, list.first() | list.last());
    EXPECT_EQ(7u, list.append(7));
    EXPECT_EQ(7u, list.first() & list.last());
    list.append(8);
    list.first();
    list.clear();
    EXPECT_EQ(0u, list.count() | list.next() | list.at(0));
    list.append(9);
    EXPECT_EQ(9u, list.at(0));
}

// Appends and removals against a vector; both walks, at() between the steps
// of the forward walk, and 0 past either end.
TEST(FurList, MatchesAVectorUnderRandomOperations) {
    std::mt19937_64 rng(12345);
    for (int round = 0; round < 20; ++round) {
        FurList list;
        std::vector<std::uint64_t> model, forward, backward;
        for (int step = 0; step < 200; ++step) {
            if (rng() % 3 != 0) {
                model.push_back(rng());
                list.append(model.back());
                continue;
            }
            std::uint64_t expected = model.empty() ? 0 : model.back();
            if (!model.empty()) model.pop_back();
            ASSERT_EQ(expected, list.removeLast()) << "round " << round << " step " << step;
        }
        const int n = static_cast<int>(model.size());
        ASSERT_EQ(n, list.count()) << round;
        for (int i = 0; i < n; ++i) {
            forward.push_back(i ? list.next() : list.first());
            ASSERT_EQ(model[i], list.at(i)) << i;
        }
        EXPECT_EQ(0u, list.next() | list.at(-1) | list.at(n)) << round;
        for (int i = 0; i < n; ++i)
            backward.insert(backward.begin(), i ? list.previous() : list.last());
        EXPECT_EQ(0u, list.previous()) << round;
        EXPECT_EQ(model, forward) << round;
        EXPECT_EQ(model, backward) << round;
    }
}
