// Helpers of the reader tests: readers run with their output captured, files
// written for one test, and the tables the readers fill.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "foundation/fur_exception.h"
#include "test_support.h"

// The folder of the description, scene and assignment files of these tests.
const std::string kReaderData = std::string(KORVO_TEST_DATA) + "/descriptions/";
// The folder of the case files and expected outputs of these tests.
const std::string kCases = std::string(KORVO_TEST_DATA) + "/readers/";

// Runs a file reader with stdout captured into *out. Returns its result, or
// -1 with the text of the FurException it throws in *failure.
template <class F>
int run_reader(F read, std::string* out = nullptr, std::string* failure = nullptr) {
    int result = -1;
    std::string what;
    const std::string text = captured([&] {
        try {
            result = read();
        } catch (const FurException& e) {
            what = e.message().asChar();
        }
    });
    if (out) *out = text;
    if (failure) *failure = what;
    return result;
}

// The contents of a file ("" when it cannot be read).
std::string read_text(const std::string& path);
// Writes text to a file of this test's own (see temp_path) and returns its path.
std::string write_temp(const std::string& suffix, const std::string& text);

// One case of a case file: a file's text, the reader's result and its output.
struct ReadCase {
    std::string text;
    int result;
    std::string output;
};
// The cases of a file under tests/data/readers: each is the text, a line
// "---- result", the exact output, and a line "====" unless it is the last.
std::vector<ReadCase> read_cases(const std::string& name);

// Reads prefixes of a grammatical file (cut every step bytes and at the
// line end after each cut) with read(prefix, &out, &failure). A prefix is either read whole
// (result 1) or fails with "Parsing failed for data file ..." after a single
// "parse error" at its own last line, since everything before the cut is
// good; kept(prefix) then checks what the tables hold.
void expect_cuts_fail_at_their_end(
    const std::string& text, std::size_t step, const char* kind,
    const std::function<int(const std::string&, std::string*, std::string*)>& read,
    const std::function<void(const std::string&)>& kept);

// A name table, an assignment table of 64 records and empty attractor and
// curve attractor tables; all emptied again (descriptions too) after the test.
class ReaderTables : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
};
