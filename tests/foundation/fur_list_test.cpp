#include "foundation/fur_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

TEST(FurList, WalksBothWaysAndGivesZeroPastTheEnds) {
    FurList list;
    EXPECT_EQ(0u, list.first() | list.next() | list.last() | list.previous() | list.at(0) |
                      list.removeLast());
    int target = 5;
    const std::uint64_t big = ~std::uint64_t(0) - 1;
    EXPECT_EQ(11u, list.append(11));
    list.append(reinterpret_cast<std::uintptr_t>(&target));
    list.append(big);
    EXPECT_EQ(11u, list.first());
    EXPECT_EQ(&target, reinterpret_cast<int*>(list.next()));
    EXPECT_EQ(big, list.next());
    EXPECT_EQ(0u, list.next() | list.next());
    EXPECT_EQ(big, list.last());
    EXPECT_EQ(&target, reinterpret_cast<int*>(list.previous()));
    EXPECT_EQ(11u, list.previous());
    EXPECT_EQ(0u, list.previous() | list.at(-1) | list.at(3));
    // at() leaves the cursor alone.
    list.first();
    EXPECT_EQ(big, list.at(2));
    EXPECT_EQ(&target, reinterpret_cast<int*>(list.next()));
}

TEST(FurList, RemoveLastAndClearLeaveAUsableList) {
    FurList list;
    list.append(1);
    list.append(2);
    EXPECT_EQ(1u, list.first());  // the cursor now stands on the tail
    EXPECT_EQ(2u, list.removeLast());
    EXPECT_EQ(0u, list.next()) << "the walk ends at the new tail";
    EXPECT_EQ(1u, list.last());
    EXPECT_EQ(1u, list.removeLast());
    EXPECT_EQ(0u, list.first() | list.last());
    list.append(7);
    EXPECT_EQ(7u, list.first() & list.last());
    list.append(8);
    list.first();
    list.clear();
    EXPECT_EQ(0, list.count());
    EXPECT_EQ(0u, list.next() | list.at(0));
    list.append(9);
    EXPECT_EQ(9u, list.at(0));
}

TEST(FurList, MatchesAVectorUnderRandomOperations) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 20; ++round) {
        FurList list;
        std::vector<std::uint64_t> model;
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
        ASSERT_EQ(static_cast<int>(model.size()), list.count()) << round;
        std::vector<std::uint64_t> forward, backward;
        for (std::uint64_t v = list.first(); forward.size() < model.size(); v = list.next())
            forward.push_back(v);
        for (std::uint64_t v = list.last(); backward.size() < model.size(); v = list.previous())
            backward.insert(backward.begin(), v);
        EXPECT_EQ(model, forward) << round;
        EXPECT_EQ(model, backward) << round;
        for (std::size_t i = 0; i < model.size(); ++i) ASSERT_EQ(model[i], list.at(int(i))) << i;
    }
}
