#include "foundation/fur_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

TEST(FurList, EmptyListGivesZeroEverywhere) {
    FurList list;
    EXPECT_EQ(0, list.count());
    EXPECT_EQ(0u, list.first());
    EXPECT_EQ(0u, list.next());
    EXPECT_EQ(0u, list.last());
    EXPECT_EQ(0u, list.previous());
    EXPECT_EQ(0u, list.at(0));
    EXPECT_EQ(0u, list.removeLast());
    EXPECT_EQ(0, list.count());
}

TEST(FurList, ForwardIterationReturnsBothValuesThenZero) {
    FurList list;
    EXPECT_EQ(11u, list.append(11));
    EXPECT_EQ(22u, list.append(22));
    EXPECT_EQ(2, list.count());
    EXPECT_EQ(11u, list.first());
    EXPECT_EQ(22u, list.next());
    EXPECT_EQ(0u, list.next());
    EXPECT_EQ(0u, list.next());
    // first() starts over.
    EXPECT_EQ(11u, list.first());
    EXPECT_EQ(22u, list.next());
}

TEST(FurList, BackwardIterationFromTheTail) {
    FurList list;
    for (std::uint64_t v : {1, 2, 3}) list.append(v);
    EXPECT_EQ(3u, list.last());
    EXPECT_EQ(2u, list.previous());
    EXPECT_EQ(1u, list.previous());
    EXPECT_EQ(0u, list.previous());
}

TEST(FurList, HoldsPointersAndFullWidthValues) {
    FurList list;
    int target = 5;
    list.append(reinterpret_cast<std::uintptr_t>(&target));
    list.append(~std::uint64_t(0) - 1);
    EXPECT_EQ(&target, reinterpret_cast<int*>(list.first()));
    EXPECT_EQ(~std::uint64_t(0) - 1, list.next());
}

TEST(FurList, AtWalksFromTheHead) {
    FurList list;
    for (std::uint64_t v = 100; v < 105; ++v) list.append(v);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(100u + i, list.at(i)) << i;
    EXPECT_EQ(0u, list.at(-1));
    EXPECT_EQ(0u, list.at(5));
    // at() leaves the cursor alone.
    list.first();
    list.at(3);
    EXPECT_EQ(101u, list.next());
}

TEST(FurList, RemoveLastUnlinksTheTail) {
    FurList list;
    list.append(1);
    list.append(2);
    EXPECT_EQ(2u, list.removeLast());
    EXPECT_EQ(1, list.count());
    EXPECT_EQ(1u, list.last());
    EXPECT_EQ(1u, list.first());
    EXPECT_EQ(0u, list.next());
    EXPECT_EQ(1u, list.removeLast());
    EXPECT_EQ(0, list.count());
    EXPECT_EQ(0u, list.first());
    EXPECT_EQ(0u, list.last());
    // The list is usable again after being emptied.
    list.append(7);
    EXPECT_EQ(7u, list.first());
    EXPECT_EQ(7u, list.last());
}

TEST(FurList, RemovingTheCursorNodeEndsTheWalk) {
    FurList list;
    list.append(1);
    list.append(2);
    EXPECT_EQ(1u, list.first());  // cursor on the tail
    list.removeLast();
    EXPECT_EQ(0u, list.next());
}

TEST(FurList, ClearEmptiesAndResetsTheCursor) {
    FurList list;
    for (std::uint64_t v : {4, 5, 6}) list.append(v);
    list.first();
    list.clear();
    EXPECT_EQ(0, list.count());
    EXPECT_EQ(0u, list.next());
    EXPECT_EQ(0u, list.at(0));
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
                std::uint64_t v = rng();
                list.append(v);
                model.push_back(v);
            } else {
                std::uint64_t expected = model.empty() ? 0 : model.back();
                if (!model.empty()) model.pop_back();
                ASSERT_EQ(expected, list.removeLast()) << "round " << round << " step " << step;
            }
        }
        ASSERT_EQ(static_cast<int>(model.size()), list.count()) << round;
        std::vector<std::uint64_t> forward;
        if (!model.empty())
            for (std::uint64_t v = list.first(); forward.size() < model.size(); v = list.next())
                forward.push_back(v);
        EXPECT_EQ(model, forward) << round;
        for (std::size_t i = 0; i < model.size(); ++i) ASSERT_EQ(model[i], list.at(int(i))) << i;
    }
}
