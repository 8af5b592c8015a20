#include "readers/readers_support.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "descriptions/assign_db.h"
#include "foundation/names.h"
#include "generation/attractors.h"
#include "generation/curve_attractors.h"
#include "readers/hair_file.h"

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string write_temp(const std::string& suffix, const std::string& text) {
    const std::string path = temp_path(suffix);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::vector<ReadCase> read_cases(const std::string& name) {
    const std::string text = read_text(kCases + name);
    std::vector<ReadCase> cases;
    for (std::size_t at = 0, mid; (mid = text.find("\n---- ", at)) != std::string::npos;) {
        const std::size_t line = text.find('\n', mid + 1);
        const std::size_t end = std::min(text.find("\n====\n", line), text.size() - 1);
        cases.push_back({text.substr(at, mid + 1 - at), std::stoi(text.substr(mid + 6)),
                         text.substr(line + 1, end - line)});
        at = end + 6;
    }
    EXPECT_FALSE(cases.empty()) << name;
    return cases;
}

void expect_cuts_fail_at_their_end(
    const std::string& text, std::size_t step, const char* kind,
    const std::function<int(const std::string&, std::string*, std::string*)>& read,
    const std::function<void(const std::string&)>& kept) {
    std::vector<std::size_t> cuts;
    for (std::size_t at = 0; at < text.size(); at += step) {
        cuts.push_back(at);
        const std::size_t end = text.find('\n', at);
        if (end != std::string::npos) cuts.push_back(end + 1);
    }
    int whole = 0, failed = 0;
    for (std::size_t cut : cuts) {
        const std::string prefix = text.substr(0, cut);
        std::string out, failure;
        const int result = read(prefix, &out, &failure);
        const int line = 1 + int(std::count(prefix.begin(), prefix.end(), '\n'));
        if (result == 1) {
            EXPECT_EQ(out, "") << prefix;
            ++whole;
        } else {
            EXPECT_EQ(result, -1) << prefix;
            EXPECT_EQ(failure.rfind("Parsing failed for data file ", 0), 0u) << prefix;
            EXPECT_EQ(out, "parse error\n" + std::string(kind) + " file: syntax error at line " +
                               std::to_string(line) + "\n")
                << prefix;
            ++failed;
        }
        kept(prefix);
    }
    EXPECT_TRUE(whole > 1 && failed > 1) << "cuts between and inside blocks";
}

void ReaderTables::SetUp() {
    ASSERT_EQ(names_init(256), 1);
    ASSERT_EQ(assdb_init(64), 1);
    attractdb_init();
    curveAttractdb_init();
}

void ReaderTables::TearDown() {
    hair_params_done();
    assdb_done();
    attractdb_done();
    curveAttractdb_done();
    names_done();
}
