// Helpers shared by every test suite.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "foundation/render_settings.h"

// Runs f with standard output captured and returns what it printed.
template <typename F>
std::string captured(F f) {
    testing::internal::CaptureStdout();
    f();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

// The four components of a colour (any type with r, g, b, a).
template <typename C>
void expect_color(const C& c, float r, float g, float b, float a) {
    EXPECT_FLOAT_EQ(r, c.r);
    EXPECT_FLOAT_EQ(g, c.g);
    EXPECT_FLOAT_EQ(b, c.b);
    EXPECT_FLOAT_EQ(a, c.a);
}

// The three coordinates of a point or vector (any type with x, y, z), within tol.
template <typename P, typename Q>
void expect_near(const P& a, const Q& b, float tol, const std::string& what = "") {
    EXPECT_NEAR(a.x, b.x, tol) << what;
    EXPECT_NEAR(a.y, b.y, tol) << what;
    EXPECT_NEAR(a.z, b.z, tol) << what;
}

// Runs f with standard output captured; returns the message of the E it throws
// ("no exception" if none) and, if asked, what it printed.
template <typename E, typename F>
std::string thrown(F f, std::string* printed = nullptr) {
    std::string what = "no exception";
    const std::string out = captured([&] {
        try {
            f();
        } catch (const E& e) {
            what = e.message().asChar();
        }
    });
    if (printed) *printed = out;
    return what;
}

// A file name under the test temporary directory, unique to the test and to
// the process (suites of several builds may run at the same time).
inline std::string temp_path(const std::string& suffix) {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name)
        if (c == '/') c = '_';
    return testing::TempDir() + "korvo_" + std::to_string(getpid()) + "_" + name + suffix;
}

// What f(FILE*) writes into a temporary file.
template <typename F>
std::string file_text(F f) {
    FILE* file = std::tmpfile();
    if (!file) return "no temporary file";
    f(file);
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

// Saves the render settings (defs and opt_flags) and puts them back when it
// goes out of scope; a test fixture may hold one as a member.
struct SettingsGuard {
    defaults saved_defs = defs;
    int saved_flags = opt_flags;
    ~SettingsGuard() {
        defs = saved_defs;
        opt_flags = saved_flags;
    }
};
