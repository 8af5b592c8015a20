#include "foundation/growable_array.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "foundation/fur_exception.h"

namespace {

std::vector<std::uint64_t> contents(const FurArray64& a) {
    return std::vector<std::uint64_t>(a.data, a.data + a.length);
}

FurArray64 arrayOf(std::initializer_list<std::uint64_t> values) {
    FurArray64 a;
    for (std::uint64_t v : values) a.set(a.length, v);
    return a;
}

}  // namespace

TEST(FurArray64, StartsEmpty) {
    FurArray64 a;
    EXPECT_EQ(nullptr, a.data);
    EXPECT_EQ(0, a.length);
    EXPECT_EQ(0, a.capacity);
    EXPECT_EQ(0, a.growIncrement);
}

TEST(FurArray64, FirstAllocationIsExactAndZeroed) {
    FurArray64 a;
    a.setLength(8);
    ASSERT_NE(nullptr, a.data);
    EXPECT_EQ(8, a.length);
    EXPECT_EQ(8, a.capacity);
    EXPECT_EQ(std::vector<std::uint64_t>(8, 0), contents(a));
}

TEST(FurArray64, AutomaticGrowthSteps) {
    FurArray64 a;
    a.setLength(8);
    std::uint64_t* block = a.data;
    a.setLength(1);
    EXPECT_EQ(block, a.data) << "shrinking keeps the block";
    EXPECT_EQ(8, a.capacity);
    a.setLength(9);
    EXPECT_EQ(12, a.capacity) << "8 + max(4, 1 / 8)";
    EXPECT_EQ(9, a.length);

    FurArray64 b;
    b.setLength(80);
    b.setLength(81);
    EXPECT_EQ(90, b.capacity) << "80 + 80 / 8";

    FurArray64 c;
    c.setLength(20000);
    c.setLength(20001);
    EXPECT_EQ(21024, c.capacity) << "the step stops at 1024";

    FurArray64 d;
    d.setLength(8);
    d.setLength(100);
    EXPECT_EQ(100, d.capacity) << "at least the length asked for";
}

TEST(FurArray64, StoredIncrementOverridesTheAutomaticStep) {
    FurArray64 a;
    a.setLength(10, 50);
    EXPECT_EQ(50, a.growIncrement);
    EXPECT_EQ(10, a.capacity);
    a.setLength(11);  // -1 keeps the increment
    EXPECT_EQ(50, a.growIncrement);
    EXPECT_EQ(60, a.capacity);
    a.setLength(61, 0);  // back to automatic, from the length in use
    EXPECT_EQ(0, a.growIncrement);
    EXPECT_EQ(64, a.capacity) << "60 + max(4, 11 / 8)";
}

TEST(FurArray64, GrowingKeepsElementsAndZeroesNewOnes) {
    FurArray64 a = arrayOf({1, 2, 3});
    a.setLength(2);
    a.setLength(3);
    EXPECT_EQ((std::vector<std::uint64_t>{1, 2, 0}), contents(a)) << "re-used places are zeroed";
    a.setLength(200);
    EXPECT_EQ(1u, a.get(0));
    EXPECT_EQ(2u, a.get(1));
    for (int i = 2; i < 200; ++i) ASSERT_EQ(0u, a.get(i)) << i;
}

TEST(FurArray64, LengthZeroFreesTheBlock) {
    FurArray64 a = arrayOf({1, 2});
    a.setLength(0);
    EXPECT_EQ(nullptr, a.data);
    EXPECT_EQ(0, a.capacity);
    a.setLength(-3);  // ignored
    EXPECT_EQ(0, a.length);
}

TEST(FurArray64, AppendReturnsTheOldLength) {
    FurArray64 a = arrayOf({1, 2});
    FurArray64 b = arrayOf({3, 4, 5});
    EXPECT_EQ(2, a.append(b));
    EXPECT_EQ((std::vector<std::uint64_t>{1, 2, 3, 4, 5}), contents(a));
    EXPECT_EQ(5, a.append(FurArray64()));
    EXPECT_EQ(5, a.length);
    EXPECT_EQ(5, a.append(a));
    EXPECT_EQ((std::vector<std::uint64_t>{1, 2, 3, 4, 5, 1, 2, 3, 4, 5}), contents(a));
}

TEST(FurArray64, AssignCopiesElementsButNotTheIncrement) {
    FurArray64 a;
    a.setLength(1, 7);
    FurArray64 b = arrayOf({9, 8, 7, 6});
    a.assign(b);
    EXPECT_EQ(contents(b), contents(a));
    EXPECT_NE(b.data, a.data);
    EXPECT_EQ(7, a.growIncrement);
    a.assign(a);
    EXPECT_EQ(contents(b), contents(a));
    a.assign(FurArray64());
    EXPECT_EQ(0, a.length);
}

TEST(FurArray64, CopyAndMoveOwnTheirElements) {
    FurArray64 a = arrayOf({1, 2, 3});
    FurArray64 copy(a);
    copy.set(0, 10);
    EXPECT_EQ(1u, a.get(0));
    FurArray64 moved(std::move(copy));
    EXPECT_EQ((std::vector<std::uint64_t>{10, 2, 3}), contents(moved));
    EXPECT_EQ(nullptr, copy.data);  // NOLINT: moved-from state is defined
    a = std::move(moved);
    EXPECT_EQ(10u, a.get(0));
    FurArray64 assigned;
    assigned = a;
    EXPECT_EQ(contents(a), contents(assigned));
}

TEST(FurArray64, CompactFitsTheBlockToTheLength) {
    FurArray64 a;
    a.setLength(8);
    a.setLength(9);
    a.set(8, 42);
    EXPECT_EQ(12, a.capacity);
    a.compact();
    EXPECT_EQ(9, a.capacity);
    EXPECT_EQ(42u, a.get(8));
    a.setLength(0);
    a.compact();
    EXPECT_EQ(nullptr, a.data);
    // A block with nothing in use is released.
    FurArray64 b = arrayOf({1, 2});
    b.remove(0, 2);
    EXPECT_NE(nullptr, b.data);
    b.compact();
    EXPECT_EQ(nullptr, b.data);
    EXPECT_EQ(0, b.capacity);
}

TEST(FurArray64, SetGrowsToTheIndex) {
    FurArray64 a;
    a.set(3, 33);
    EXPECT_EQ((std::vector<std::uint64_t>{0, 0, 0, 33}), contents(a));
    a.set(1, 11);
    EXPECT_EQ((std::vector<std::uint64_t>{0, 11, 0, 33}), contents(a));
    a.set(-1, 5);
    EXPECT_EQ(4, a.length);
}

TEST(FurArray64, InsertInsideAndPastTheEnd) {
    FurArray64 a = arrayOf({1, 2, 3});
    a.insert(1, 9, 2);
    EXPECT_EQ((std::vector<std::uint64_t>{1, 9, 9, 2, 3}), contents(a));
    a.insert(0, 7);
    EXPECT_EQ((std::vector<std::uint64_t>{7, 1, 9, 9, 2, 3}), contents(a));
    a.insert(6, 5);
    EXPECT_EQ((std::vector<std::uint64_t>{7, 1, 9, 9, 2, 3, 5}), contents(a));
    a.insert(9, 4, 2);  // past the end: the gap is zero
    EXPECT_EQ((std::vector<std::uint64_t>{7, 1, 9, 9, 2, 3, 5, 0, 0, 4, 4}), contents(a));
    a.insert(-1, 1, 1);
    a.insert(0, 1, -1);
    EXPECT_EQ(11, a.length);
}

TEST(FurArray64, RemoveMovesTheRestDown) {
    FurArray64 a = arrayOf({1, 2, 3, 4, 5});
    a.remove(1, 2);
    EXPECT_EQ((std::vector<std::uint64_t>{1, 4, 5}), contents(a));
    a.remove(2);
    EXPECT_EQ((std::vector<std::uint64_t>{1, 4}), contents(a));
    a.remove(1, 10);  // as many as there are
    EXPECT_EQ((std::vector<std::uint64_t>{1}), contents(a));
    a.remove(5, 1);
    a.remove(-1, 1);
    a.remove(0, 0);
    EXPECT_EQ((std::vector<std::uint64_t>{1}), contents(a));
}

TEST(FurArray64, InsertArrayPlacesTheOtherElements) {
    FurArray64 a = arrayOf({1, 2, 3});
    FurArray64 b = arrayOf({8, 9});
    a.insertArray(1, b);
    EXPECT_EQ((std::vector<std::uint64_t>{1, 8, 9, 2, 3}), contents(a));
    a.insertArray(7, b);
    EXPECT_EQ((std::vector<std::uint64_t>{1, 8, 9, 2, 3, 0, 0, 8, 9}), contents(a));
    FurArray64 c = arrayOf({1, 2});
    c.insertArray(1, c);
    EXPECT_EQ((std::vector<std::uint64_t>{1, 1, 2, 2}), contents(c));
    c.insertArray(0, FurArray64());
    EXPECT_EQ(4, c.length);
}

TEST(FurArray64, MatchesAVectorUnderRandomOperations) {
    std::mt19937 rng(2024);
    for (int round = 0; round < 10; ++round) {
        FurArray64 a;
        std::vector<std::uint64_t> model;
        for (int step = 0; step < 300; ++step) {
            int op = static_cast<int>(rng() % 4);
            int i = static_cast<int>(rng() % (model.size() + 3));
            int count = static_cast<int>(rng() % 4);
            std::uint64_t v = rng();
            if (op == 0) {
                a.insert(i, v, count);
                if (i >= static_cast<int>(model.size())) model.resize(i, 0);
                model.insert(model.begin() + i, count, v);
            } else if (op == 1) {
                a.remove(i, count);
                if (count > 0 && i < static_cast<int>(model.size())) {
                    int n = std::min<int>(count, static_cast<int>(model.size()) - i);
                    model.erase(model.begin() + i, model.begin() + i + n);
                }
            } else if (op == 2) {
                a.set(i, v);
                if (i >= static_cast<int>(model.size())) model.resize(i + 1, 0);
                model[i] = v;
            } else {
                a.setLength(i);
                model.resize(i, 0);
            }
            ASSERT_EQ(model, contents(a)) << "round " << round << " step " << step;
            ASSERT_LE(a.length, a.capacity);
        }
    }
}
