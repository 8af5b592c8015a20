// The three text-file readers as reentrant readers: each read owns its
// scanner, parser and reader state, so a read can run inside another one
// of the same kind, and a read leaves nothing behind for the next.
#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "descriptions/assign_db.h"
#include "readers/assign_file.h"
#include "readers/assign_reader.h"
#include "readers/readers_support.h"
#include "foundation/names.h"

namespace {

// A text served to a reader through a stdio stream in pieces of at most
// 4096 bytes; the first request at or past offset `at` runs `inner` before
// it is served, while the reader of the stream is in the middle of it.
struct nested_source {
    std::string text;
    std::size_t at = 0;
    std::function<void()> inner;
    std::size_t offset = 0;
    bool ran = false;
};

ssize_t serve(void* cookie, char* buffer, std::size_t size) {
    auto* s = static_cast<nested_source*>(cookie);
    if (!s->ran && s->offset >= s->at) {
        s->ran = true;
        s->inner();
    }
    const std::size_t n = std::min({size, std::size_t{4096}, s->text.size() - s->offset});
    std::memcpy(buffer, s->text.data() + s->offset, n);
    s->offset += n;
    return static_cast<ssize_t>(n);
}

using Readers = ReaderTables;

}  // namespace

// An assignment file is read while the scanner of another assignment file
// is between two of its buffers: each reports its own lines and applies
// its own statements, and the outer one goes on where it stopped.
TEST_F(Readers, AReadInsideAnotherOfTheSameKindKeepsItsOwnLinesAndTokens) {
    const std::string inner_path =
        write_temp(".assign", "\n\nexclude_for_hair { \"inner\" }\nexclude_for_hair { ; }\n");
    nested_source src;
    src.text = "exclude { \"outer1\" }\nexclude { 5 }\n";
    for (int i = 0; i < 400; ++i) src.text += std::string(40, ' ') + "\n";
    src.text += "exclude { \"outer2\" }\nexclude { \"outer3\" 7 }\n";
    src.at = 8192;  // the scanner's second buffer
    ASSERT_GT(src.text.size(), src.at + 4096);
    std::string inner_failure;
    src.inner = [&] {
        try {
            assdb_readfile(inner_path.c_str());
        } catch (const FurException& e) {
            inner_failure = e.message().asChar();
        }
    };

    std::FILE* stream = fopencookie(&src, "r", {serve, nullptr, nullptr, nullptr});
    ASSERT_NE(stream, nullptr);
    std::string out;
    EXPECT_EQ(run_reader([&] { return assign_read_file(stream) ? 1 : 0; }, &out), 0);
    std::fclose(stream);

    ASSERT_TRUE(src.ran);
    EXPECT_EQ(inner_failure, "Parsing failed for data file " + inner_path);
    EXPECT_EQ(out,
              "parse error\nassignment file: syntax error at line 2\nparse error\n"
              "assignment file: syntax error at line 4\nparse error\n"
              "assignment file: syntax error at line 404\n");
    // "exclude" takes both renders, "exclude_for_hair" the hair render only.
    const auto excluded = [](const char* model, int smap) {
        return assdb_get_exclude(names_find(model), smap);
    };
    EXPECT_EQ((std::vector<int>{excluded("outer1", 1), excluded("outer2", 1), excluded("inner", 0),
                                excluded("inner", 1)}),
              (std::vector<int>{1, 1, 1, 0}));
}
