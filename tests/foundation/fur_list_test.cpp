#include "foundation/fur_list.h"

#include <gtest/gtest.h>

#include <random>

// Appends and removals against a vector; both walks and at(), 0 past either
// end and on an empty or cleared list.
TEST(FurList, MatchesAVectorUnderRandomOperations) {
    std::mt19937_64 rng(12345);
    for (int round = 0; round < 20; ++round) {
        FurList list;
        std::vector<std::uint64_t> model, forward, backward;
        for (int step = 0; step < 200; ++step) {
            if (rng() % 3 != 0) {
                model.push_back(rng() | 1);
                EXPECT_EQ(model.back(), list.append(model.back()));
                continue;
            }
            ASSERT_EQ(model.empty() ? 0 : model.back(), list.removeLast()) << step;
            if (!model.empty()) model.pop_back();
        }
        const int n = static_cast<int>(model.size());
        ASSERT_EQ(n, list.count()) << round;
        for (int i = 0; i < n; ++i) forward.push_back(i ? list.next() : list.first());
        EXPECT_EQ(0u, list.next() | list.at(-1) | list.at(n)) << round;
        for (int i = 0; i < n; ++i)
            backward.insert(backward.begin(), i ? list.previous() : list.last());
        EXPECT_EQ(0u, list.previous()) << round;
        EXPECT_EQ(model, forward) << round;
        EXPECT_EQ(model, backward) << round;
        EXPECT_EQ(n ? model[n / 2] : 0, list.at(n / 2));
        list.clear();
        EXPECT_EQ(0u, list.count() | list.next() | list.first() | list.last() | list.removeLast());
        list.append(9);
        EXPECT_EQ(9u, list.at(0) & list.last());
    }
}
