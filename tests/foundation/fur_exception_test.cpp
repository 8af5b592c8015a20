#include "foundation/fur_exception.h"

#include <gtest/gtest.h>

#include "test_support.h"

// Each class is caught as FurException and carries its text (a status
// exception gives its status's error string instead). furFail's console
// line and default class are checked by the name table's overflow, its
// format arguments and the class asked for by the description tests'
// bad channel coding.
TEST(FurException, ClassesAndTexts) {
    EXPECT_EQ("Parsing failed", thrown<FurException>([] { throw FurEFailed("Parsing failed"); }));
    EXPECT_EQ("Illegal crop", thrown<FurException>([] { throw FurEBadParameter("Illegal crop"); }));
    EXPECT_EQ("no inverse", thrown<FurEMatrix>([] { furRaiseMatrixError("no inverse"); }));
    EXPECT_STREQ("", FurEFailed(nullptr).message().asChar());
    EXPECT_EQ("plug not found", thrown<FurException>([] {
                  throw FurEStatus(KorvoStatus(KorvoStatus::kFailure, "plug not found"), "text");
              }));
}
