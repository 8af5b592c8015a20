#include "readers/assign_file.h"

#include <sstream>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "generation/attractors.h"
#include "generation/curve_attractors.h"
#include "readers/hair_file.h"
#include "readers/readers_support.h"

namespace {

const std::string kData = kReaderData + "assign/";
using Names = std::vector<std::string>;

// Descriptions "a" (area group g1) and "b" (g2), attractor "att" and curve
// attractor sets "fur_a" and "other".
class AssignFile : public ReaderTables {
  protected:
    void SetUp() override {
        ReaderTables::SetUp();
        (a_ = hair_params_list_add(names_add("a")))->area_group = names_add("g1");
        (b_ = hair_params_list_add(names_add("b")))->area_group = names_add("g2");
        attractdb_add(names_add("att"));
        curveAttractdb_add(names_add("fur_a"));
        curveAttractdb_add(names_add("other"));
    }
    // Reads a file (or a text written to a file of this test): the result,
    // or -1 with the failure's text when the read throws.
    static int ReadFile(const std::string& path, std::string* out = nullptr,
                        std::string* failure = nullptr) {
        return run_reader([&] { return assdb_readfile(path.c_str()); }, out, failure);
    }
    static int ReadText(const std::string& text, std::string* out = nullptr,
                        std::string* failure = nullptr) {
        return ReadFile(write_temp(".assign", text), out, failure);
    }

    // The hair descriptions of a model, by name, in list order.
    static Names Hair(const char* model) {
        int n = -1;
        hair_params** list = nullptr;
        assdb_get_model_hair(names_find(model), &n, &list);
        Names names;
        for (int i = 0; i < n; ++i) names.push_back(list[i]->name->name);
        return names;
    }
    static float Mult(const char* model, const hair_params* hp) {
        return assdb_get_density_mult(names_find(model), hp->name);
    }
    static bool Excluded(const char* model) {
        return names_find(model) && assdb_get_exclude(names_find(model), 0);
    }

    hair_params* a_ = nullptr;
    hair_params* b_ = nullptr;
};

}  // namespace

TEST_F(AssignFile, EveryStatementKind) {
    ASSERT_EQ(ReadFile(kData + "all_statements.assign"), 1);
    // Hair lists in reverse file order, attractors, exclusions and model multipliers.
    EXPECT_EQ(captured(assdb_dump), read_text(kCases + "assign_all_statements.dump"));
    const hair_name* head = names_find("head");
    EXPECT_TRUE(assdb_has_model_hair(head) && !assdb_has_model_hair(names_find("rock")));
    EXPECT_TRUE(assdb_has_model_attract(head) && assdb_has_model_curve_attract(head));
    // Attractors, and the curve attractor sets whose names end with a's name, or all.
    int n = 0;
    hair_attract** attract = nullptr;
    assdb_get_model_attract(head, &n, &attract);
    EXPECT_TRUE(n == 1 && std::string(attract[0]->name->name) == "att");
    hair_curveAttract** curves = nullptr;
    assdb_get_model_curve_attract(head, &n, &curves, a_);
    EXPECT_TRUE(n == 1 && std::string(curves[0]->name->name) == "fur_a");
    assdb_get_model_curve_attract(head, &n, &curves, nullptr);
    EXPECT_TRUE(n == 2 && std::string(curves[0]->name->name) == "other");
    // Exclusions of a name without a record and of the null name.
    EXPECT_TRUE(!assdb_get_exclude(names_find("att"), 1) && assdb_get_exclude(nullptr, 0));
    // Density multipliers: the model's, and by area group.
    EXPECT_EQ(
        (std::vector<float>{3.5f, 2, 0.5f, 1, 1, 1}),
        (std::vector<float>{Mult("head", a_), Mult("head", b_), Mult("tail", a_), Mult("rock", a_),
                            Mult("nobody", a_), assdb_get_density_mult(nullptr, a_->name)}));
}

// Keywords swallow the letters after them: "hairy" is "hair" then a skipped "y".
TEST_F(AssignFile, KeywordsNeedNoSeparatorsAndDumpListsEveryRecord) {
    ASSERT_EQ(ReadText("\"a\"hairy{\"m\"}\n\"att\" attractor { \"m\" }\nexcludes { \"x\" }\n"), 1);
    // The dump's exact text: every record with its flags and lists.
    EXPECT_EQ(captured(assdb_dump), read_text(kCases + "assign_keywords.dump"));
}

// Reading the hair description file again replaces the descriptions the
// assignments point to: each assignment follows its description's name to
// the new file, and one whose name the new file lacks is dropped with a
// warning (the sanitizer build checks that nothing reads a freed record).
TEST_F(AssignFile, HairFileReadAgainRepointsAssignments) {
    ASSERT_EQ(ReadText("\"a\" hair { \"m\" \"n\" }\n\"b\" hair { \"m\" }\n"), 1);
    EXPECT_EQ(Hair("m"), (Names{"b", "a"}));
    std::string out, failure;
    const auto readHair = [&](const char* text) {
        const std::string path = write_temp(".hair", text);
        return run_reader([&] { return hair_params_init(path.c_str()); }, &out, &failure);
    };
    EXPECT_EQ(readHair("hair \"a\" { length = 7 ; }\n"), 1) << failure;
    EXPECT_EQ("WARNING: assignment hair description (\"b\") doesn't exist!\n", out);
    hair_params* a = hair_params_list_find(names_find("a"));
    for (const char* model : {"m", "n"}) {
        int n = 0;
        hair_params** list = nullptr;
        assdb_get_model_hair(names_find(model), &n, &list);
        EXPECT_TRUE(n == 1 && list[0] == a && a->length.eval_const() == 7.0f) << model;
    }
    // A file that fails part way keeps the blocks read before the error,
    // and the assignments of their names.
    EXPECT_EQ(readHair("hair \"a\" { length = 8 ; }\nhair {"), -1);
    EXPECT_EQ(Hair("m"), Names{"a"});
    EXPECT_EQ(8.0f, hair_params_list_find(names_find("a"))->length.eval_const());
}

TEST_F(AssignFile, MissingItemsWarnAndNamesKeepSpacesAndNewlines) {
    // The newline inside the string is not counted in the error's line.
    const ReadCase c = read_cases("assign_missing.cases")[0];
    std::string out, failure;
    EXPECT_EQ(ReadText(c.text, &out, &failure), c.result);
    EXPECT_EQ(failure, "Parsing failed for data file " + temp_path(".assign"));
    EXPECT_EQ(out, c.output);
    EXPECT_TRUE(Hair("m").empty() && !assdb_has_model_attract(names_find("m")));
    EXPECT_EQ(Hair("left\narm"), Names{"a"});
    EXPECT_EQ(Hair("my # model"), Names{"a"});
}

// Damaged files: the exact line of the error, the statements before and
// after it applied (the parser recovers at the next statement), and the read
// failing at the end. An unterminated string skips its quote and letters.
TEST_F(AssignFile, DamagedFilesReportTheLineAndKeepTheRest) {
    // {file, the lines of its errors}
    const std::pair<const char*, std::string> cases[] = {
        {"syntax_middle", "2"},     {"empty", "1"},    {"only_comments", "3"},
        {"number_as_name", "1"},    {"lone_dot", "1"}, {"nested_brace", "1 1"},
        {"unterminated_string", ""}};
    for (const auto& [file, lines] : cases) {
        const std::string path = kData + file + ".assign";
        std::string out, failure, want;
        std::istringstream in(lines);
        for (std::string line; in >> line;)
            want += "parse error\nassignment file: syntax error at line " + line + "\n";
        EXPECT_EQ(ReadFile(path, &out, &failure), want.empty() ? 1 : -1) << file;
        EXPECT_EQ(out, want) << file;
        EXPECT_EQ(failure, want.empty() ? "" : "Parsing failed for data file " + path) << file;
    }
    // m2 before the ";" of syntax_middle, m4 after it; "b" on m2 after the
    // nested brace; "-." is the number 0.
    EXPECT_EQ((std::vector<Names>{Hair("m1"), Hair("m2"), Hair("m3"), Hair("m4")}),
              (std::vector<Names>{{"a", "a"}, {"b", "a"}, {}, {"b"}}));
    EXPECT_EQ(Mult("m2", a_), 0.0f);
}

// A file cut anywhere fails at its last line; the statements before the cut
// have been applied.
TEST_F(AssignFile, CutFilesKeepTheStatementsBeforeTheCut) {
    const auto read = [](const std::string& text, std::string* out, std::string* failure) {
        assdb_done();
        assdb_init(64);
        return ReadText(text, out, failure);
    };
    const auto kept = [this](const std::string& prefix) {
        if (!prefix.empty() && prefix.back() != '\n') return;  // statements end at line ends
        const bool tail = prefix.find("\"tail\" }") != std::string::npos,
                   both = prefix.find("\"b\" hair { \"head\" }") != std::string::npos;
        EXPECT_EQ(Hair("tail"), tail ? Names{"a"} : Names{}) << prefix;
        EXPECT_EQ(Hair("head").size(), tail + both) << prefix;
        EXPECT_EQ(Excluded("bush"), prefix.find("\"bush\" }") != std::string::npos) << prefix;
        EXPECT_EQ(Mult("head", a_), prefix.find("3.5 }") != std::string::npos   ? 3.5f
                                    : prefix.find("0.5 }") != std::string::npos ? 2.0f
                                                                                : 1.0f)
            << prefix;
    };
    expect_cuts_fail_at_their_end(read_text(kData + "all_statements.assign"), 29, "assignment",
                                  read, kept);
}

TEST_F(AssignFile, TableTooSmallOrMissingAndUnopenableFiles) {
    ASSERT_EQ(assdb_init(1), 1);
    std::string out, failure;
    EXPECT_EQ(ReadText("\"a\" hair { \"m1\" \"m2\" }\n\"b\" hair {", &out, &failure), -1);
    EXPECT_EQ(failure, "Assignment table exceeded, use -hash option");
    EXPECT_EQ(out, "assignment table exceeded, use -hash option\n");
    // No file, no table.
    EXPECT_EQ(ReadFile(temp_path(".none")), 0);
    assdb_done();
    EXPECT_EQ(ReadFile(kData + "all_statements.assign"), 0);
}
