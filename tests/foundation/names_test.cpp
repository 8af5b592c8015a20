#include "foundation/names.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

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
    // 26499 = (97 * 16 + 98) * 16 + 99; a byte above 0x7F counts as negative
    // (97 * 16 - 128); long texts fold their top four bits back in.
    const int sizes[] = {12345, 100000, 100000, 9973};
    const int hashes[] = {0, 26499, 1424, 81223397 % 9973};
    const char* texts[] = {"", "abc", "a\x80", "hair_description_long_name"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(hashes[i], hash_it(sizes[i], texts[i])) << texts[i];
}

// Random adds, uses and removes of twelve texts in eight buckets (never more
// than eight held, so the pool cannot run out) against a map of counts:
// empty heads, chains and the free list must keep every held name findable.
TEST_F(NameTable, MatchesACountModelUnderRandomOperations) {
    ASSERT_EQ(1, names_init(8));
    std::mt19937 rng(99);
    std::map<std::string, int> model;
    std::map<std::string, hair_name*> records;
    int held = 0;
    for (int step = 0; step < 3000; ++step) {
        const std::string text = "n" + std::to_string(rng() % 12);
        int& refs = model[text];
        const int op = rng() % 5;  // removes outnumber the rest, so names come and go
        if (op < 3 && refs > 0) {
            names_remove(rng() % 2 ? records[text] : names_find(text.c_str()));
            held -= --refs == 0;
        } else if (op == 3 && refs > 0) {
            ASSERT_EQ(records[text], names_use(records[text]));
            ++refs;
        } else if (refs > 0 || held < 8) {
            hair_name* n = names_add(text.c_str());
            ASSERT_TRUE(refs++ == 0 || records[text] == n) << "the held record " << step;
            held += refs == 1;
            records[text] = n;
            ASSERT_EQ(int(text.size()) + 9, n->size);
        }
        for (const auto& [t, r] : model) {
            hair_name* found = names_find(t.c_str());
            ASSERT_EQ(r ? records[t] : nullptr, found) << step << " " << t;
            ASSERT_TRUE(!found || (found->refs == r && t == found->name)) << step << " " << t;
        }
    }
    names_remove(nullptr);
    EXPECT_EQ(nullptr, names_use(nullptr));
}

// One bucket: one head and one overflow record; the third name is refused
// and the table is left as it was.
TEST_F(NameTable, OverflowMessagesAndUnchangedTable) {
    ASSERT_EQ(1, names_init(1));
    hair_name *head = names_add("first"), *second = names_add("second");
    std::string out;
    EXPECT_EQ("Exceeded name hash table entries, use -hash option",
              thrown<FurEFailed>([] { names_add("third"); }, &out));
    EXPECT_EQ("FATAL: exceeded name hash table entries, use -hash option\n", out);
    EXPECT_TRUE(!names_find("third") && names_add("second") == second && head->next == second);
    names_done();  // without a table nothing is found and nothing is added
    EXPECT_EQ(nullptr, names_find("a"));
    EXPECT_NE("no exception", thrown<FurEFailed>([] { names_add("a"); }, &out));
}

TEST_F(NameTable, DumpFormat) {
    ASSERT_EQ(1, names_init(3));
    // 'a' = 97 and 'd' = 100 share bucket 1; 'c' = 99 is in bucket 0.
    for (const char* s : {"a", "a", "d", "c"}) names_add(s);
    EXPECT_EQ(
        "Name Hash Table Contents\n------------------------\nbucket    0 : (c, 1) \n"
        "bucket    1 : (a, 2) (d, 1) \nbucket    2 : \n------------------------\n",
        captured(names_dump));
}
