#include "readers/hair_file.h"

#include <sstream>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "generation/attractors.h"
#include "generation/curve_attractors.h"
#include "generation/hair_shaping.h"
#include "geometry/curve_registry.h"
#include "readers/readers_support.h"
#include "render/atmosphere.h"

namespace {

const std::string kData = kReaderData + "hair/";

// The tables the reader fills, emptied again after each test.
class HairFile : public ReaderTables {
  protected:
    void SetUp() override {
        ReaderTables::SetUp();
        opt_flags = 0;
        // The curve of the curve attractor is looked up while the file is read.
        KorvoCurveDesc line;
        line.curve.degree = 1;
        line.curve.knots = {0, 0, 1, 1};
        line.curve.cvs = {KorvoPoint{0, 0, 0, 1}, KorvoPoint{0, 1, 0, 1}};
        ASSERT_EQ(korvo_curve_register("curve1", line), 1);
    }
    void TearDown() override {
        hair_params_done();
        EXPECT_EQ(atmosdb_is_defined(), 0);
        EXPECT_EQ(hair_shape_capacity(), 0);
        ReaderTables::TearDown();
        hair_params_set_wunits(1.0f);
        korvo_curve_registry_clear();
    }

    // Reads a file (or a text written to a file of this test): the result,
    // or -1 with the failure's text when the read throws.
    static int Read(const std::string& path, std::string* out = nullptr,
                    std::string* failure = nullptr) {
        return run_reader([&] { return hair_params_init(path.c_str()); }, out, failure);
    }
    static int ReadText(const std::string& text, std::string* out = nullptr,
                        std::string* failure = nullptr) {
        return Read(write_temp(".hair", text), out, failure);
    }
    static hair_params* Find(const char* name) { return hair_params_list_find(names_find(name)); }

    SettingsGuard guard_;
};

// The six values, closest count, type and control count of an attractor or curve attractor set.
template <class Set>
std::vector<float> setValues(const Set* s) {
    return {s->influence.eval_const(),      s->len_beg_interp.eval_const(),
            s->len_end_interp.eval_const(), s->power.eval_const(),
            s->radius.eval_const(),         s->len_threshold.eval_const(),
            float(s->closest_nb),           float(s->type),
            float(s->nb_controls)};
}

}  // namespace

TEST_F(HairFile, EveryStatementKind) {
    // Read verbosely: no messages, every description printed by bucket.
    opt_flags = 7;
    std::string out;
    ASSERT_EQ(Read(kData + "all_statements.hair", &out), 1);
    EXPECT_EQ(out, read_text(kData + "all_statements.dump"));
    EXPECT_FLOAT_EQ(hair_params_get_wunits(), 0.25f);
    EXPECT_EQ(hair_shape_capacity(), 7) << "six segments and the root";

    // What the dump does not show of the description.
    const hair_params* fur = Find("fur");
    ASSERT_NE(fur, nullptr);
    EXPECT_EQ(std::vector<float>(fur->matrix.m, fur->matrix.m + 16),
              (std::vector<float>{1, 2, 3, 1, 4, 5, 6, 7, 8, 9, 10, 11, -1, -2, -3, 1}));
    EXPECT_FALSE(fur->casts_shadows || fur->prim_visibility);
    EXPECT_EQ(std::string(fur->area_group->name) + fur->reference_equalmap->name, "backref");
    EXPECT_EQ(names_find("first"), nullptr) << "the replaced name was given back";
    EXPECT_EQ(fur->diffuse_base.base.a, 1.0f) << "a colour term keeps three numbers";
    EXPECT_EQ((std::vector<float>{4, 8, HP_IMAGESTEP, 100, 3, HP_VAR, HP_VAR_START | HP_VAR_TO}),
              (std::vector<float>{fur->usamples.eval_const(), fur->vsamples.eval_const(),
                                  float(fur->clump.kind), float(fur->clump.i1),
                                  fur->clumpfrequency.eval_const(), float(fur->clumpshape.kind),
                                  float(fur->opacity_tip.flags)}));
    EXPECT_EQ(Find("matte")->light_model, 1) << "the first of two blocks of one name";
    const hair_params* plain = Find("plain");
    ASSERT_NE(plain, nullptr);
    EXPECT_TRUE(!plain->area_group && !plain->reference_equalmap && plain->casts_shadows &&
                plain->prim_visibility && plain->matrix.m[12] == 0.0f);

    // Attractor and curve attractor sets.
    const hair_attract* a = attractdb_get(names_find("guides"));
    const hair_curveAttract* c = curveAttractdb_get(names_find("combs"));
    ASSERT_TRUE(a && c);
    EXPECT_EQ(setValues(a), (std::vector<float>{0.5f, 0.1f, 0.9f, 2, 3, 0.2f, 2, 1, 2}));
    EXPECT_EQ(setValues(c), (std::vector<float>{0.6f, 0.15f, 0.85f, 3, 4, 0.25f, 3, 1, 1}));
    EXPECT_EQ(std::string(a->controls[1].names[2]->name) + c->controls[0].name->name, "t2curve1");
    EXPECT_TRUE(c->controls[0].valid);

    // Light settings in the assignment table (filter sizes made odd).
    MapParams map;
    AutoParams as;
    ASSERT_TRUE(assdb_get_shadmap_params(names_find("key"), &map) &&
                assdb_get_autoshade_params(names_find("fill"), &as));
    EXPECT_EQ(
        (std::vector<float>{40, 512, 512, 5, 5, 0.1f, 0.8f, 0.7f, 0.2f, 1.5f, 0.4f, 0.3f, 0.6f, 3,
                            0.9f}),
        (std::vector<float>{
            map.map.cone, float(map.map.lines), float(map.map.cols), float(map.lgt_filter_size),
            float(map.obj_filter_size), map.threshold, map.lgt_darkness, map.obj_darkness,
            map.low_hair_epsilon, map.high_hair_epsilon, map.geo_epsilon, as.self_shade,
            as.self_shade_darkness, as.back_shadow_factor, as.back_shadow_darkness}));
    EXPECT_STREQ(map.shadow_projector, "proj.rgb");

    // The fog: from 0 to 100, half transparent, at depth 50.
    ASSERT_EQ(atmosdb_init_eval(0.0, 0.0), 1);
    const float depth = 50.0f, weight = 1.0f;
    expect_color(atmosdb_eval(1, &depth, &weight, 0.0f, 0.0f), 0.25f, 0.125f, 0.0625f, 0.25f);
}

TEST_F(HairFile, GrammarErrors) {
    // Each broken file and the line of its grammar error.
    std::istringstream cases(
        "empty 1 only_comments 4 casts_shadows_equals 2 light_without_statements 1 density_image 2 "
        "nested_group 2 single_term_group 2 first_term_closes 2 unclosed_block 3 "
        "missing_semicolon 2 stray_dot 1 light_block_error 3 fog_block_error 4 "
        "hair_names_then_error 4 matrix_three_number_rows 3 second_block_error 5");
    std::string file;
    for (int line = 0; cases >> file >> line;) {
        const std::string path = kData + "broken/" + file + ".hair";
        std::string out, failure;
        EXPECT_EQ(Read(path, &out, &failure), -1) << file;
        EXPECT_EQ(failure, "Parsing failed for data file " + path);
        EXPECT_EQ(out,
                  "parse error\nhair file: syntax error at line " + std::to_string(line) + "\n")
            << file;
    }
    EXPECT_NE(Find("kept"), nullptr) << "blocks before the error stay defined";
    EXPECT_EQ(Find("broken")->length.eval_const(), 1.0f) << "the open block is left as created";
    EXPECT_EQ(names_find("g"), nullptr) << "the open block's names were given back";
    EXPECT_EQ(atmosdb_is_defined(), 0);
    EXPECT_EQ(names_find("l"), nullptr) << "the open light block's name was given back";
}

// Statement messages name the statement's line and leave the read going; a
// refused statement changes nothing (the last case).
TEST_F(HairFile, StatementMessages) {
    for (const ReadCase& c : read_cases("hair_statements.cases")) {
        hair_params_done();
        std::string out;
        EXPECT_EQ(ReadText(c.text, &out), c.result) << c.text;
        EXPECT_EQ(out, c.output) << c.text;
    }
    const hair_params* a = Find("a");
    EXPECT_TRUE(a->length.eval_const() == 3.0f && a->light_model == 2);
    for (const hp_scalar& v : a->var) EXPECT_FALSE(v.defined());
    EXPECT_EQ(a->width_base.eval_const(), 1.0f);
}

// Keywords need no separators; comment marks inside strings. How the reader
// builds chains (how they combine is for ParamValues).
TEST_F(HairFile, KeywordsCommentsAndExpressions) {
    const std::pair<const char*, float> cases[] = {
        {"1 -4", -3}, {"-1 - -4", 3}, {"PI * 2", 6.2831854f}, {"1.5e-3 + 1. + .5", 1.5015f}};
    std::string out;
    ASSERT_EQ(Read(kCases + "hair_keywords.hair", &out), 1);
    EXPECT_EQ(out, "");
    for (const auto& [expr, value] : cases)
        EXPECT_FLOAT_EQ(Find(expr)->length.eval_const(), value) << expr;
    // Each term carries its operator and its group flags.
    std::vector<int> terms;
    for (const hp_scalar* t = &Find("t")->length; t; t = t->next)
        terms.insert(terms.end(), {int(t->base), t->op, t->flags});
    EXPECT_EQ(terms, (std::vector<int>{1, HP_OP_ADD, HP_OPEN_GROUP, 2, HP_OP_MUL, HP_CLOSE_GROUP, 3,
                                       HP_OP_NONE, 0}));
    const hair_params* a = Find("a");
    EXPECT_EQ(
        (std::vector<float>{4, 1, 2, 3.1415927f, 3}),
        (std::vector<float>{a->segments.eval_const(), float(a->light_model), a->length.eval_const(),
                            a->roll.eval_const(), hair_params_get_wunits()}));
    EXPECT_TRUE(Find("b") != nullptr && names_find("c") == nullptr) << "c is in a comment";
    EXPECT_EQ(Find("d#e//f")->length.eval_const(), 5.0f) << "comment marks inside a string";
}

TEST_F(HairFile, FilesAndRepeatedReads) {
    std::string out, failure;
    EXPECT_EQ(Read("/nonexistent/korvo.hair", &out), 0);
    EXPECT_NE(out.find("Can't open data file /nonexistent/korvo.hair"), std::string::npos) << out;

    // A second read destroys the descriptions of the first.
    ASSERT_EQ(ReadText("hair \"first\" { length = 2 ; }"), 1);
    ASSERT_EQ(ReadText("hair \"second\" { }"), 1);
    EXPECT_EQ(Find("first"), nullptr);
    EXPECT_EQ(hair_params_list_count(), 1);

    // An exception from a statement leaves the reader ready and leaks nothing.
    EXPECT_EQ(ReadText("hair \"a\" { spawn_params = \"s\" ; diffuse_base = image(\"a.rgb\", "
                       "\"rgx\") ; }",
                       &out, &failure),
              -1);
    EXPECT_EQ(failure, "Bad channel coding (\"rgx\")");
    EXPECT_EQ(ReadText("fog { color = image(\"a.rgb\", \"q\") ; }"), -1);
    EXPECT_EQ(ReadText("hair \"b\" { segments = 3 ; }"), 1);
    EXPECT_EQ(hair_shape_capacity(), 4);
}

// A file cut anywhere fails at its last line, and the descriptions whose
// header came before the cut are defined (an open block as created).
TEST_F(HairFile, CutFilesKeepTheBlocksBeforeTheCut) {
    const auto read = [](const std::string& text, std::string* out, std::string* failure) {
        hair_params_done();
        attractdb_init();
        curveAttractdb_init();
        return ReadText(text, out, failure);
    };
    const auto kept = [](const std::string& prefix) {
        for (const char* name : {"fur", "plain"}) {
            const bool header =
                prefix.find("hair \"" + std::string(name) + "\" {") != std::string::npos;
            EXPECT_EQ(Find(name) != nullptr, header) << name << "\n" << prefix;
        }
        const bool closed = prefix.find("hair \"plain\" { }") != std::string::npos;
        EXPECT_EQ(hair_params_get_wunits(), prefix.find("0.25 ;") != std::string::npos ? 0.25f : 1);
        EXPECT_TRUE(!closed || Find("fur")->segments.eval_const() == 6.0f);
        hair_params_set_wunits(1.0f);
    };
    expect_cuts_fail_at_their_end(read_text(kData + "all_statements.hair"), 149, "hair", read,
                                  kept);
}
