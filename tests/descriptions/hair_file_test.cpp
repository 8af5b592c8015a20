#include "descriptions/hair_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "foundation/fur_exception.h"
#include "foundation/render_settings.h"
#include "generation/attractors.h"
#include "generation/curve_attractors.h"
#include "generation/hair_shaping.h"
#include "host/curve_registry.h"
#include "render/atmosphere.h"

namespace {

const std::string kData = std::string(KORVO_TEST_DATA) + "/descriptions/hair/";

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The tables the reader fills, emptied again after each test.
class HairFile : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(names_init(256), 1);
        ASSERT_EQ(assdb_init(64), 1);
        attractdb_init();
        curveAttractdb_init();
        opt_flags = 0;
    }
    void TearDown() override {
        hair_params_done();
        EXPECT_EQ(atmosdb_is_defined(), 0);
        EXPECT_EQ(hair_shape_capacity(), 0);
        assdb_done();
        attractdb_done();
        curveAttractdb_done();
        names_done();
        hair_params_set_wunits(1.0f);
        korvo_curve_registry_clear();
        opt_flags = 0;
    }

    // Reads a file with stdout captured into out. Returns the result, or -1
    // with the failure's text in failure when the read throws.
    static int Read(const std::string& path, std::string* out = nullptr,
                    std::string* failure = nullptr) {
        testing::internal::CaptureStdout();
        int result = -1;
        try {
            result = hair_params_init(path.c_str());
        } catch (const FurException& e) {
            if (failure) *failure = e.message().asChar();
        }
        const std::string captured = testing::internal::GetCapturedStdout();
        if (out) *out = captured;
        return result;
    }
    // Writes text to a file of this test and reads it.
    int ReadText(const std::string& text, std::string* out = nullptr,
                 std::string* failure = nullptr) {
        path_ = testing::TempDir() + "korvo_" +
                testing::UnitTest::GetInstance()->current_test_info()->name() + ".hair";
        std::ofstream(path_, std::ios::binary) << text;
        return Read(path_, out, failure);
    }
    static hair_params* Find(const char* name) { return hair_params_list_find(names_find(name)); }

    std::string path_;
};

}  // namespace

TEST_F(HairFile, EveryStatementKind) {
    // The curve of the curve attractor is looked up while the file is read.
    KorvoCurveDesc line;
    line.curve.degree = 1;
    line.curve.knots = {0, 0, 1, 1};
    line.curve.cvs = {KorvoPoint{0, 0, 0, 1}, KorvoPoint{0, 1, 0, 1}};
    ASSERT_EQ(korvo_curve_register("curve1", line), 1);
    std::string out;
    ASSERT_EQ(Read(kData + "all_statements.hair", &out), 1);
    EXPECT_EQ(out, "") << "no messages";
    EXPECT_FLOAT_EQ(hair_params_get_wunits(), 0.25f);
    EXPECT_EQ(hair_shape_capacity(), 7) << "six segments and the root";

    // What the dump does not show of the description.
    const hair_params* fur = Find("fur");
    ASSERT_NE(fur, nullptr);
    const float rows[16] = {1, 2, 3, 1, 4, 5, 6, 7, 8, 9, 10, 11, -1, -2, -3, 1};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(fur->matrix.m[i], rows[i]) << i;
    EXPECT_FALSE(fur->casts_shadows);
    EXPECT_FALSE(fur->prim_visibility);
    EXPECT_STREQ(fur->area_group->name, "back");
    EXPECT_EQ(names_find("first"), nullptr) << "the replaced name was given back";
    EXPECT_STREQ(fur->reference_equalmap->name, "ref");
    EXPECT_EQ(fur->diffuse_base.base.a, 1.0f) << "a colour term keeps three numbers";
    EXPECT_EQ(fur->usamples.eval_const(), 4.0f);
    EXPECT_EQ(fur->vsamples.eval_const(), 8.0f);
    EXPECT_EQ(fur->clump.kind, HP_IMAGESTEP);
    EXPECT_EQ(fur->clump.i1, 100);
    EXPECT_EQ(fur->clumpfrequency.eval_const(), 3.0f);
    EXPECT_EQ(fur->clumpshape.kind, HP_VAR);
    EXPECT_EQ(fur->opacity_tip.flags, HP_VAR_START | HP_VAR_TO);
    const hair_params* plain = Find("plain");
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->area_group, nullptr);
    EXPECT_EQ(plain->reference_equalmap, nullptr);

    // Attractor and curve attractor sets.
    const hair_attract* a = attractdb_get(names_find("guides"));
    const hair_curveAttract* c = curveAttractdb_get(names_find("combs"));
    ASSERT_TRUE(a && c);
    const float av[] = {a->influence.eval_const(),      a->len_beg_interp.eval_const(),
                        a->len_end_interp.eval_const(), a->power.eval_const(),
                        a->radius.eval_const(),         a->len_threshold.eval_const()};
    const float cv[] = {c->influence.eval_const(),      c->len_beg_interp.eval_const(),
                        c->len_end_interp.eval_const(), c->power.eval_const(),
                        c->radius.eval_const(),         c->len_threshold.eval_const()};
    const float aw[] = {0.5f, 0.1f, 0.9f, 2, 3, 0.2f}, cw[] = {0.6f, 0.15f, 0.85f, 3, 4, 0.25f};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(av[i], aw[i]) << i;
    for (int i = 0; i < 6; ++i) EXPECT_EQ(cv[i], cw[i]) << i;
    EXPECT_EQ(a->closest_nb, 2);
    EXPECT_EQ(a->type, 1);
    ASSERT_EQ(a->nb_controls, 2);
    EXPECT_STREQ(a->controls[1].names[2]->name, "t2");
    EXPECT_EQ(c->closest_nb, 3);
    EXPECT_EQ(c->type, 1);
    ASSERT_EQ(c->nb_controls, 1);
    EXPECT_STREQ(c->controls[0].name->name, "curve1");
    EXPECT_TRUE(c->controls[0].valid);

    // Light settings in the assignment table.
    MapParams map;
    AutoParams autoshade;
    ASSERT_EQ(assdb_get_shadmap_params(names_find("key"), &map), 1);
    EXPECT_EQ(map.map.cone, 40.0f);
    EXPECT_EQ(map.map.lines, 512);
    EXPECT_EQ(map.map.cols, 512);
    EXPECT_EQ(map.lgt_filter_size, 5) << "made odd";
    EXPECT_EQ(map.obj_filter_size, 5);
    const float mv[] = {map.threshold,        map.lgt_darkness,      map.obj_darkness,
                        map.low_hair_epsilon, map.high_hair_epsilon, map.geo_epsilon};
    const float mw[] = {0.1f, 0.8f, 0.7f, 0.2f, 1.5f, 0.4f};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(mv[i], mw[i]) << i;
    EXPECT_STREQ(map.shadow_projector, "proj.rgb");
    ASSERT_EQ(assdb_get_autoshade_params(names_find("fill"), &autoshade), 1);
    EXPECT_EQ(autoshade.self_shade, 0.3f);
    EXPECT_EQ(autoshade.self_shade_darkness, 0.6f);
    EXPECT_EQ(autoshade.back_shadow_factor, 3.0f);
    EXPECT_EQ(autoshade.back_shadow_darkness, 0.9f);

    // The fog: from 0 to 100, half transparent, at depth 50.
    ASSERT_EQ(atmosdb_init_eval(0.0, 0.0), 1);
    const float depth = 50.0f, weight = 1.0f;
    const kivColor fog = atmosdb_eval(1, &depth, &weight, 0.0f, 0.0f);
    EXPECT_FLOAT_EQ(fog.r, 0.25f);
    EXPECT_FLOAT_EQ(fog.g, 0.125f);
    EXPECT_FLOAT_EQ(fog.b, 0.0625f);
    EXPECT_FLOAT_EQ(fog.a, 0.25f);
}

TEST_F(HairFile, VerboseReadPrintsEveryBucket) {
    opt_flags = 7;
    std::string out;
    ASSERT_EQ(Read(kData + "all_statements.hair", &out), 1);
    EXPECT_EQ(out, Contents(kData + "all_statements.dump"));
}

TEST_F(HairFile, GrammarErrors) {
    const struct {
        const char* file;
        int line;
    } cases[] = {{"empty", 1},
                 {"only_comments", 4},
                 {"casts_shadows_equals", 2},
                 {"light_without_statements", 1},
                 {"density_image", 2},
                 {"nested_group", 2},
                 {"single_term_group", 2},
                 {"first_term_closes", 2},
                 {"unclosed_block", 3},
                 {"missing_semicolon", 2},
                 {"stray_dot", 1},
                 {"light_block_error", 3},
                 {"fog_block_error", 4},
                 {"hair_names_then_error", 4},
                 {"matrix_three_number_rows", 3},
                 {"second_block_error", 5}};
    for (const auto& c : cases) {
        const std::string path = kData + "broken/" + c.file + ".hair";
        std::string out, failure;
        EXPECT_EQ(Read(path, &out, &failure), -1) << c.file;
        EXPECT_EQ(failure, "Parsing failed for data file " + path);
        const std::string tail =
            "parse error\nhair file: syntax error at line " + std::to_string(c.line) + "\n";
        EXPECT_EQ(out.substr(out.size() < tail.size() ? 0 : out.size() - tail.size()), tail)
            << c.file;
    }
    EXPECT_NE(Find("kept"), nullptr) << "blocks before the error stay defined";
    EXPECT_EQ(Find("broken")->length.eval_const(), 1.0f) << "the open block is left as created";
    EXPECT_EQ(names_find("g"), nullptr) << "the open block's names were given back";
    EXPECT_EQ(atmosdb_is_defined(), 0);
    EXPECT_EQ(names_find("l"), nullptr) << "the open light block's name was given back";
    // The reader is ready for the next file.
    EXPECT_EQ(ReadText("hair \"next\" { length = 2 ; }"), 1);
    EXPECT_EQ(Find("next")->length.eval_const(), 2.0f);
}

TEST_F(HairFile, StatementMessages) {
    const char* const kLine = "hair file: syntax error at line ";
    const struct {
        const char* text;
        std::string out;
    } cases[] = {
        {"hair \"a\" {\n  spawn_factor = 0.5 ;\n}\n",
         std::string("illegal hair description\n") + kLine + "3\n"},
        {"hair \"a\" { length = 1 + ; }",
         std::string("invalid parameter syntax\n") + kLine + "1\n"},
        {"hair \"a\" { length = 1 + 2 ) ; }",
         std::string("invalid parameter syntax\n") + kLine + "1\n"},
        {"hair \"a\" { polar = 0x10 ; }",
         std::string("invalid parameter syntax\n") + kLine + "1\n"},
        {"hair \"a\nb\" {\n length = 1 2 ; }",
         std::string("invalid parameter syntax\n") + kLine + "2\n"},
        {"hair \"a\" { length = (1 + 2 ; }", ""},
        {"light \"l\" {\n map_size = 8 ; }", std::string("no light type\n") + kLine + "2\n"},
        {"light \"l\" { shadow_type = 2 ; }", std::string("no light type\n") + kLine + "1\n"},
        {"attractor \"g\" { control = (\"a\", \"b\", \"c\") ; }",
         std::string("need a nb_controls before control\n") + kLine + "1\n"},
        {"attractor \"g\" { nb_controls = 1 ; control = (\"a\", \"b\", \"c\") ; "
         "control = (\"d\", \"e\", \"f\") ; }",
         ""},
        {"attractor \"g\" { nb_controls = 40000 ; }",
         std::string("memory allocation\n") + kLine + "1\n"},
        {"attractor \"g\" { nb_controls = 1 ; }\nattractor \"h\" { control = (\"a\", \"b\", \"c\") "
         "; }",
         std::string("need a nb_controls before control\n") + kLine + "2\n"},
        {"curveAttractor \"c\" { ccontrol = (\"x\") ; }",
         std::string("need a nb_controls before control\n") + kLine + "1\n"},
        {"attractor \"g\" { influence = 1 2 ; }",
         std::string("invalid parameter syntax\n") + kLine + "1\n"},
        {"fog { transp = 1 2 ; }", std::string("invalid parameter syntax\n") + kLine + "1\n"},
        {"fog { z_max = 10 ; } fog { z_max = 20 ; }",
         "WARNING: atmosphere already defined, ignoring subsequent def.\n"},
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(ReadText(c.text, &out), 1) << c.text;
        EXPECT_EQ(out, c.out) << c.text;
        hair_params_done();
    }
}

TEST_F(HairFile, RefusedStatementsChangeNothing) {
    std::string out;
    ASSERT_EQ(ReadText("hair \"a\" {\n  length = 3 ;\n  length = 1 2 ;\n  light_model = 7 ;\n"
                       "  var[12] = 1 ;\n  width_base = image(\"w.rgb\", \"rg\") ;\n}\n",
                       &out),
              1);
    EXPECT_EQ(out,
              "invalid parameter syntax\nhair file: syntax error at line 3\n"
              "exceeded vars length\nhair file: syntax error at line 5\n"
              "ERROR: expecting 1 channel, 2 (rg) defined\n");
    const hair_params* a = Find("a");
    EXPECT_EQ(a->length.eval_const(), 3.0f);
    EXPECT_EQ(a->light_model, 2);
    for (const hp_scalar& v : a->var) EXPECT_FALSE(v.defined());
    EXPECT_EQ(a->width_base.eval_const(), 1.0f);
}

TEST_F(HairFile, ExpressionSequences) {
    const struct {
        const char* expr;
        float value;
    } cases[] = {{"(1 + 2) * 3", 9},
                 {"1 + 2 * 3", 9},
                 {"2 * (3 + 4)", 14},
                 {"1 - 4", -3},
                 {"1 -4", -3},
                 {"-1 - -4", 3},
                 {"(1 + 2) * (3 + 4)", 21},
                 {"(1 + 2", 0},
                 {"PI * 2", 6.2831854f},
                 {"1.5e-3 + 1. + .5", 1.5015f},
                 {"noise(0, 1, 3) / 3", 1}};
    std::string text;
    for (const auto& c : cases)
        text += "hair \"" + std::string(c.expr) + "\" { length = " + c.expr + " ; }\n";
    std::string out;
    ASSERT_EQ(ReadText(text, &out), 1);
    EXPECT_EQ(out, "");
    for (const auto& c : cases)
        EXPECT_FLOAT_EQ(Find(c.expr)->length.eval_const(), c.value) << c.expr;

    // Each term carries its operator and its group flags.
    const hp_scalar* t = &Find("(1 + 2) * 3")->length;
    const int expected[3][3] = {
        {1, HP_OP_ADD, HP_OPEN_GROUP}, {2, HP_OP_MUL, HP_CLOSE_GROUP}, {3, HP_OP_NONE, 0}};
    for (const auto& e : expected) {
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->base, e[0]);
        EXPECT_EQ(t->op, e[1]);
        EXPECT_EQ(t->flags, e[2]);
        t = t->next;
    }
    EXPECT_EQ(t, nullptr);
}

TEST_F(HairFile, KeywordsNeedNoSeparators) {
    ASSERT_EQ(ReadText("hair\"a\"{segments=4;light_model=1;lengthz=2;roll=PI;}width_units=3;"
                       "hairx\"b\"{}#\"c\"\nhair \"d#e//f\" { // }\n length = 5 ; # }\n}"),
              1);
    const hair_params* a = Find("a");
    EXPECT_EQ(a->segments.eval_const(), 4.0f);
    EXPECT_EQ(a->light_model, 1);
    EXPECT_EQ(a->length.eval_const(), 2.0f);
    EXPECT_FLOAT_EQ(a->roll.eval_const(), 3.1415927f);
    EXPECT_EQ(hair_params_get_wunits(), 3.0f);
    EXPECT_NE(Find("b"), nullptr);
    EXPECT_EQ(names_find("c"), nullptr) << "in a comment";
    EXPECT_EQ(Find("d#e//f")->length.eval_const(), 5.0f) << "comment marks inside a string";
}

TEST_F(HairFile, FilesAndRepeatedReads) {
    std::string out;
    EXPECT_EQ(Read("/nonexistent/korvo.hair", &out), 0);
    EXPECT_NE(out.find("Can't open data file /nonexistent/korvo.hair"), std::string::npos) << out;

    // A second read destroys the descriptions of the first.
    ASSERT_EQ(ReadText("hair \"first\" { length = 2 ; }"), 1);
    ASSERT_EQ(ReadText("hair \"second\" { }"), 1);
    EXPECT_EQ(Find("first"), nullptr);
    EXPECT_EQ(hair_params_list_count(), 1);

    // An exception from a statement leaves the reader ready and leaks nothing.
    std::string failure;
    EXPECT_EQ(ReadText("hair \"a\" { spawn_params = \"s\" ; diffuse_base = image(\"a.rgb\", "
                       "\"rgx\") ; }",
                       &out, &failure),
              -1);
    EXPECT_EQ(failure, "Bad channel coding (\"rgx\")");
    EXPECT_EQ(ReadText("fog { color = image(\"a.rgb\", \"q\") ; }", &out, &failure), -1);
    EXPECT_EQ(ReadText("hair \"b\" { segments = 3 ; }"), 1);
    EXPECT_EQ(hair_shape_capacity(), 4);
}

TEST_F(HairFile, CorruptInputFailsCleanly) {
    // Truncations, byte changes and random bytes: a result or a FurException.
    const std::string base = Contents(kData + "all_statements.hair");
    std::mt19937 rng(11);
    std::vector<std::string> inputs;
    for (std::size_t cut = 0; cut < base.size(); cut += 37) inputs.push_back(base.substr(0, cut));
    for (int i = 0; i < 150; ++i) {
        std::string s = base;
        for (int k = 1 + static_cast<int>(rng() % 8); k > 0; --k)
            s[rng() % s.size()] = static_cast<char>(rng());
        inputs.push_back(s);
    }
    for (int i = 0; i < 30; ++i) {
        std::string s(rng() % 300, '\0');
        for (char& ch : s) ch = static_cast<char>(rng());
        inputs.push_back(s);
    }
    int results[3] = {0, 0, 0};
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const int r = ReadText(inputs[i]);
        ASSERT_TRUE(r == -1 || r == 1) << i;
        ++results[r + 1];
        hair_params_done();
        attractdb_init();
        curveAttractdb_init();
    }
    EXPECT_GT(results[0], 0);
    EXPECT_GT(results[2], 0);
}
