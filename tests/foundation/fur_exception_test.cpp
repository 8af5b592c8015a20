#include "foundation/fur_exception.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "test_support.h"

// Each class is caught as FurException and carries its text; a status
// exception gives its status's error string instead.
TEST(FurException, EveryClassCarriesItsText) {
    EXPECT_EQ("Parsing failed", thrown<FurException>([] { throw FurEFailed("Parsing failed"); }));
    EXPECT_EQ("Illegal crop", thrown<FurException>([] { throw FurEBadParameter("Illegal crop"); }));
    EXPECT_EQ("no inverse", thrown<FurEMatrix>([] { furRaiseMatrixError("no inverse"); }));
    EXPECT_STREQ("", FurEFailed(nullptr).message().asChar());
    EXPECT_EQ("plug not found", thrown<FurException>([] {
                  throw FurEStatus(KorvoStatus(KorvoStatus::kFailure, "plug not found"), "text");
              }));
}

// furFail prints its console line, has it out of the stdio buffer before the
// exception leaves (a line without a newline stays buffered otherwise), and
// throws the class asked for (FurEFailed by default) with the given text.
TEST(FurException, FailPrintsFlushesAndThrows) {
    long long writtenAtCatch = -1;
    std::string printed;
    const std::string what = thrown<FurEBadParameter>(
        [&] {
            try {
                furFail<FurEBadParameter>("Bad channel coding (\"q\")",
                                          "FATAL: bad channel coding (\"%s\"), bye...", "q");
            } catch (const FurEBadParameter&) {
                struct stat st {};
                if (fstat(STDOUT_FILENO, &st) == 0) writtenAtCatch = st.st_size;
                throw;
            }
        },
        &printed);
    EXPECT_EQ("Bad channel coding (\"q\")", what);
    EXPECT_EQ("FATAL: bad channel coding (\"q\"), bye...", printed);
    EXPECT_EQ(static_cast<long long>(printed.size()), writtenAtCatch);
    EXPECT_EQ("Tmap cache.",
              thrown<FurEFailed>([] { furFail("Tmap cache.", "FATAL: %d\n", 1); }, &printed));
    EXPECT_EQ("FATAL: 1\n", printed);
}
