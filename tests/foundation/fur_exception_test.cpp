#include "foundation/fur_exception.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "test_support.h"

// Each class is caught as FurException and carries its text.
TEST(FurException, EveryClassCarriesItsText) {
    EXPECT_EQ("Parsing failed", thrown<FurException>([] { throw FurEFailed("Parsing failed"); }));
    EXPECT_EQ("Illegal crop", thrown<FurException>([] { throw FurEBadParameter("Illegal crop"); }));
    EXPECT_EQ("no inverse", thrown<FurEMatrix>([] { furRaiseMatrixError("no inverse"); }));
    EXPECT_STREQ("", FurEFailed(nullptr).message().asChar());
    FurEFailed e("Writing image file");
    e.message() = "changed";  // message() returns an independent copy
    EXPECT_STREQ("Writing image file", e.message().asChar());
    // A status exception's message is its status's error string, not its text.
    EXPECT_EQ("plug not found", thrown<FurException>([] {
                  throw FurEStatus(KorvoStatus(KorvoStatus::kFailure, "plug not found"), "text");
              }));
    EXPECT_STREQ(KorvoStatus().errorString().asChar(), FurEStatus("text").message().asChar());
}

TEST(FurException, DebugSettingReadOnceByFirstConstructor) {
    FurEFailed first("x");
    const char* kept = furExceptionDebugSetting();
    const std::string before = kept ? kept : "<unset>";
    setenv("FUREXCEPTION", "changed-after-first-read", 1);
    FurEFailed second("y");
    const char* after = furExceptionDebugSetting();
    EXPECT_EQ(before, after ? after : "<unset>");
    unsetenv("FUREXCEPTION");
}

// furFail prints its console line, has it out of the stdio buffer before the
// exception leaves (a line without a newline stays buffered otherwise), and
// throws the class asked for with the given text.
TEST(FurException, FailPrintsFlushesAndThrows) {
    long long written_at_catch = -1;
    std::string printed;
    const std::string what = thrown<FurEBadParameter>(
        [&] {
            try {
                furFail<FurEBadParameter>("Bad channel coding (\"q\")",
                                          "FATAL: bad channel coding (\"%s\"), bye...", "q");
            } catch (const FurEBadParameter&) {
                struct stat st {};
                if (fstat(STDOUT_FILENO, &st) == 0) written_at_catch = st.st_size;
                throw;
            }
        },
        &printed);
    EXPECT_EQ("Bad channel coding (\"q\")", what);
    EXPECT_EQ("FATAL: bad channel coding (\"q\"), bye...", printed);
    EXPECT_EQ(static_cast<long long>(printed.size()), written_at_catch);

    // The default class is FurEFailed, caught as such and not as a bad parameter.
    EXPECT_EQ(
        "Tmap cache.",
        thrown<FurEFailed>(
            [] { furFail("Tmap cache.", "FATAL: tmap cache used before tmap_init\n"); }, &printed));
    EXPECT_EQ("FATAL: tmap cache used before tmap_init\n", printed);
    EXPECT_EQ("no exception", thrown<FurEBadParameter>([] {
                  try {
                      furFail("x", "%d\n", 1);
                  } catch (const FurEFailed&) {
                  }
              }));
}
