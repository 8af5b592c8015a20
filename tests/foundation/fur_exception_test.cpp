#include "foundation/fur_exception.h"

#include <gtest/gtest.h>

#include "test_support.h"

// Each class is caught as FurException and carries its text (a status
// exception gives its status's error string instead); furFail prints its
// console line and throws FurEFailed by default (the class asked for is
// checked by the description tests' bad channel coding).
TEST(FurException, ClassesTextsAndFail) {
    std::string printed;
    EXPECT_EQ("Parsing failed", thrown<FurException>([] { throw FurEFailed("Parsing failed"); }));
    EXPECT_EQ("Illegal crop", thrown<FurException>([] { throw FurEBadParameter("Illegal crop"); }));
    EXPECT_EQ("no inverse", thrown<FurEMatrix>([] { furRaiseMatrixError("no inverse"); }));
    EXPECT_STREQ("", FurEFailed(nullptr).message().asChar());
    EXPECT_EQ("plug not found", thrown<FurException>([] {
                  throw FurEStatus(KorvoStatus(KorvoStatus::kFailure, "plug not found"), "text");
              }));
    EXPECT_EQ("Tmap cache.",
              thrown<FurEFailed>([] { furFail("Tmap cache.", "FATAL: %d\n", 1); }, &printed));
    EXPECT_EQ("FATAL: 1\n", printed);
}
