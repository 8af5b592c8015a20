#include "foundation/names.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "foundation/fur_exception.h"

namespace {

// Each test builds its own table and leaves the module without one.
class NameTable : public testing::Test {
  protected:
    void TearDown() override { names_done(); }
};

std::string Dump() {
    testing::internal::CaptureStdout();
    names_dump();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(HashIt, KnownValues) {
    EXPECT_EQ(hash_it(1, ""), 0);
    EXPECT_EQ(hash_it(12345, ""), 0);
    EXPECT_EQ(hash_it(100000, "abc"), 26499);  // (97 * 16 + 98) * 16 + 99
    EXPECT_EQ(hash_it(3, "abc"), 26499 % 3);
    // A byte above 0x7F counts as negative: 97 * 16 - 128, not + 128.
    EXPECT_EQ(hash_it(100000, "a\x80"), 1424);
    // Long texts fold their top four bits back in.
    EXPECT_EQ(hash_it(2147483647, "hair_description_long_name"), 81223397);
    EXPECT_EQ(hash_it(9973, "hair_description_long_name"), 81223397 % 9973);
}

TEST_F(NameTable, InitRejectsBadSizes) {
    EXPECT_EQ(names_init(0), 0);
    EXPECT_EQ(names_init(-4), 0);
    EXPECT_EQ(names_find("a"), nullptr);
    testing::internal::CaptureStdout();
    EXPECT_THROW(names_add("a"), FurEFailed);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "FATAL: name table used before names_init\n");
    EXPECT_EQ(names_init(4), 1);
}

TEST_F(NameTable, ReferenceCounting) {
    ASSERT_EQ(names_init(17), 1);
    hair_name* a = names_add("model1");
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->name, "model1");
    EXPECT_EQ(a->refs, 1);
    EXPECT_EQ(a->size, 6 + 9);
    EXPECT_EQ(names_add("model1"), a);
    EXPECT_EQ(a->refs, 2);
    EXPECT_EQ(names_find("model1"), a);
    EXPECT_EQ(a->refs, 2);  // finding takes no reference
    EXPECT_EQ(names_find("model"), nullptr);

    names_remove(a);
    EXPECT_EQ(names_find("model1"), a);
    EXPECT_EQ(a->refs, 1);
    EXPECT_EQ(names_use(a), a);
    EXPECT_EQ(a->refs, 2);
    names_remove(a);
    names_remove(a);
    EXPECT_EQ(names_find("model1"), nullptr);
    EXPECT_EQ(a->name, nullptr);
    EXPECT_EQ(a->size, 0);
    names_remove(a);  // an empty record is ignored
    names_remove(nullptr);
    EXPECT_EQ(names_use(nullptr), nullptr);
}

TEST_F(NameTable, OverflowInOneBucket) {
    ASSERT_EQ(names_init(1), 1);
    hair_name* first = names_add("first");
    hair_name* second = names_add("second");
    EXPECT_EQ(first->next, second);
    testing::internal::CaptureStdout();
    try {
        names_add("third");
        std::fflush(stdout);
        testing::internal::GetCapturedStdout();
        FAIL() << "no exception";
    } catch (const FurEFailed& e) {
        std::fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "FATAL: exceeded name hash table entries, use -hash option\n");
        EXPECT_STREQ(e.message().asChar(), "Exceeded name hash table entries, use -hash option");
    }
    // The table is unchanged; existing names still add.
    EXPECT_EQ(names_find("third"), nullptr);
    EXPECT_EQ(names_add("second"), second);
    EXPECT_EQ(second->refs, 2);
    // A freed overflow record goes back to the pool.
    names_remove(second);
    names_remove(second);
    EXPECT_EQ(first->next, nullptr);
    hair_name* third = names_add("third");
    EXPECT_EQ(third, second);
    EXPECT_EQ(first->next, third);
}

TEST_F(NameTable, EmptyHeadKeepsItsChainAndIsReused) {
    ASSERT_EQ(names_init(1), 1);
    hair_name* head = names_add("a");
    hair_name* b = names_add("b");
    names_remove(head);
    EXPECT_EQ(head->name, nullptr);
    EXPECT_EQ(names_find("b"), b);  // still reachable through the empty head
    hair_name* c = names_add("c");
    EXPECT_EQ(c, head);  // the empty head is reused
    EXPECT_EQ(head->next, b);
    EXPECT_EQ(names_add("b"), b);
    EXPECT_EQ(b->refs, 2);
}

TEST_F(NameTable, ManyNamesStayDistinct) {
    const int size = 500;
    ASSERT_EQ(names_init(size), 1);
    std::vector<hair_name*> records;
    for (int i = 0; i < size; ++i) {
        records.push_back(names_add(("name" + std::to_string(i)).c_str()));
    }
    for (int i = 0; i < size; ++i) {
        const std::string text = "name" + std::to_string(i);
        ASSERT_EQ(names_find(text.c_str()), records[i]) << i;
        ASSERT_STREQ(records[i]->name, text.c_str()) << i;
    }
    for (int i = 0; i < size; i += 2) names_remove(records[i]);
    for (int i = 0; i < size; ++i) {
        const std::string text = "name" + std::to_string(i);
        ASSERT_EQ(names_find(text.c_str()), i % 2 ? records[i] : nullptr) << i;
    }
}

TEST_F(NameTable, DumpFormat) {
    ASSERT_EQ(names_init(3), 1);
    // 'a' = 97 and 'd' = 100 share bucket 1; 'c' = 99 is in bucket 0.
    names_add("a");
    names_add("a");
    names_add("d");
    hair_name* c = names_add("c");
    EXPECT_EQ(Dump(),
              "Name Hash Table Contents\n"
              "------------------------\n"
              "bucket    0 : (c, 1) \n"
              "bucket    1 : (a, 2) (d, 1) \n"
              "bucket    2 : \n"
              "------------------------\n");
    // A bucket whose head is empty lists nothing, even with a chain behind it.
    names_remove(names_find("a"));
    names_remove(names_find("a"));
    names_remove(c);
    EXPECT_EQ(Dump(),
              "Name Hash Table Contents\n"
              "------------------------\n"
              "bucket    0 : \n"
              "bucket    1 : \n"
              "bucket    2 : \n"
              "------------------------\n");
    EXPECT_NE(names_find("d"), nullptr);
}

TEST_F(NameTable, DoneTwiceIsHarmless) {
    ASSERT_EQ(names_init(2), 1);
    names_add("x");
    names_done();
    names_done();
    EXPECT_EQ(names_find("x"), nullptr);
}
