#include "foundation/names.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "foundation/fur_exception.h"
#include "test_support.h"

namespace {

// Each test builds its own table and leaves the module without one.
class NameTable : public testing::Test {
  protected:
    void TearDown() override { names_done(); }
};

}  // namespace

TEST(HashIt, KnownValues) {
    // {size, text, hash}: 26499 = (97 * 16 + 98) * 16 + 99; a byte above 0x7F
    // counts as negative (97 * 16 - 128); long texts fold their top four bits back in.
    const std::tuple<int, const char*, int> cases[] = {
        {12345, "", 0},
        {100000, "abc", 26499},
        {100000, "a\x80", 1424},
        {2147483647, "hair_description_long_name", 81223397},
        {9973, "hair_description_long_name", 81223397 % 9973},
    };
    for (const auto& [size, text, hash] : cases) EXPECT_EQ(hash, hash_it(size, text)) << text;
}

TEST_F(NameTable, InitRejectsBadSizes) {
    EXPECT_EQ(0, names_init(0) + names_init(-4));
    EXPECT_EQ(nullptr, names_find("a"));
    std::string out;
    EXPECT_NE("no exception", thrown<FurEFailed>([] { names_add("a"); }, &out));
    EXPECT_EQ("FATAL: name table used before names_init\n", out);
    EXPECT_EQ(1, names_init(4));
}

// A second names_init while names are held keeps every record as it is (other
// databases point at them); once they are all given back it rebuilds.
TEST_F(NameTable, SecondInitKeepsHeldNames) {
    ASSERT_EQ(1, names_init(1));
    hair_name* a = names_add("held");
    hair_name* b = names_add("other");
    EXPECT_EQ("ERROR: names_init: the name table still holds 2 names\n",
              captured([&] { EXPECT_EQ(0, names_init(64)); }));
    EXPECT_TRUE(names_find("held") == a && names_find("other") == b);
    EXPECT_EQ(std::string("held"), a->name);
    EXPECT_EQ(1, a->refs);
    names_remove(a);
    names_remove(b);
    ASSERT_EQ(1, names_init(64));
    // 64 buckets now: more names fit than the one-bucket table could hold.
    for (const char* text : {"c", "d", "e", "f"}) EXPECT_EQ(1, names_add(text)->refs) << text;
}

TEST_F(NameTable, ReferenceCounting) {
    ASSERT_EQ(1, names_init(17));
    hair_name* a = names_add("model1");
    ASSERT_NE(nullptr, a);
    EXPECT_STREQ("model1", a->name);
    EXPECT_EQ(1 * 100 + 6 + 9, a->refs * 100 + a->size);
    EXPECT_EQ(a, names_add("model1"));
    EXPECT_EQ(a, names_find("model1"));
    EXPECT_EQ(2, a->refs) << "finding takes no reference";
    EXPECT_EQ(nullptr, names_find("model"));
    names_remove(a);
    EXPECT_EQ(a, names_use(a));
    EXPECT_EQ(2, a->refs);
    names_remove(a);
    names_remove(a);
    EXPECT_TRUE(!names_find("model1") && !a->name && a->size == 0);
    names_remove(a);  // an empty record is ignored
    names_remove(nullptr);
    EXPECT_EQ(nullptr, names_use(nullptr));
}

// One bucket: one head and one overflow record.
TEST_F(NameTable, OverflowRecordsAndEmptyHeadsAreReused) {
    ASSERT_EQ(1, names_init(1));
    hair_name* head = names_add("first");
    hair_name* second = names_add("second");
    EXPECT_EQ(second, head->next);
    std::string out;
    EXPECT_EQ("Exceeded name hash table entries, use -hash option",
              thrown<FurEFailed>([] { names_add("third"); }, &out));
    EXPECT_EQ("FATAL: exceeded name hash table entries, use -hash option\n", out);
    // The table is unchanged; existing names still add.
    EXPECT_EQ(nullptr, names_find("third"));
    EXPECT_EQ(second, names_add("second"));
    // A freed overflow record goes back to the pool.
    names_remove(second);
    names_remove(second);
    EXPECT_EQ(nullptr, head->next);
    EXPECT_EQ(second, names_add("third"));
    EXPECT_EQ(second, head->next);
    // An empty head keeps its chain and is reused.
    names_remove(head);
    EXPECT_EQ(nullptr, head->name);
    EXPECT_EQ(second, names_find("third")) << "still reachable through the empty head";
    EXPECT_EQ(head, names_add("c"));
    EXPECT_EQ(second, head->next);
    EXPECT_EQ(second, names_add("third"));
    EXPECT_EQ(2, second->refs);
}

TEST_F(NameTable, DumpFormat) {
    ASSERT_EQ(1, names_init(3));
    // 'a' = 97 and 'd' = 100 share bucket 1; 'c' = 99 is in bucket 0.
    for (const char* s : {"a", "a", "d", "c"}) names_add(s);
    const std::string rule = "------------------------\n";
    EXPECT_EQ("Name Hash Table Contents\n" + rule +
                  "bucket    0 : (c, 1) \nbucket    1 : (a, 2) (d, 1) \nbucket    2 : \n" + rule,
              captured(names_dump));
    // A bucket whose head is empty lists nothing, even with a chain behind it.
    for (const char* s : {"a", "a", "c"}) names_remove(names_find(s));
    EXPECT_EQ("Name Hash Table Contents\n" + rule +
                  "bucket    0 : \nbucket    1 : \nbucket    2 : \n" + rule,
              captured(names_dump));
    EXPECT_NE(nullptr, names_find("d"));
    names_done();
    names_done();  // twice is harmless
    EXPECT_EQ(nullptr, names_find("d"));
}
