#include "descriptions/param_values.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "descriptions/cache_support.h"
#include "descriptions/curve_data_cache.h"
#include "foundation/fur_exception.h"
#include "foundation/noise.h"
#include "foundation/render_settings.h"
#include "generation/hair_records.h"

namespace {

// Builds a chain the way the hair file reader does, from a text of
// constants, operators and parentheses separated by blanks ("( 1 + 2 ) * 3").
template <class Value, class Make>
Value BuildChain(const std::string& text, Make make) {
    std::istringstream in(text);
    Value head;
    Value* last = nullptr;
    bool open = false;
    for (std::string tok; in >> tok;) {
        if (tok == "(") {
            open = true;
        } else if (tok == ")") {
            last->flags |= HP_CLOSE_GROUP;
        } else if (tok == "+" || tok == "-" || tok == "*" || tok == "/") {
            last->op = tok == "+"   ? HP_OP_ADD
                       : tok == "-" ? HP_OP_SUB
                       : tok == "*" ? HP_OP_MUL
                                    : HP_OP_DIV;
        } else {
            Value* term = last ? new Value : &head;
            make(*term, tok);
            if (open) term->flags |= HP_OPEN_GROUP;
            open = false;
            if (last) last->append(term);
            last = term;
        }
    }
    return head;
}

hp_scalar Scalars(const std::string& text) {
    return BuildChain<hp_scalar>(
        text, [](hp_scalar& t, const std::string& tok) { t.set_constant(std::stof(tok)); });
}

// Colour constants written as r,g,b.
hp_color Colours(const std::string& text) {
    return BuildChain<hp_color>(text, [](hp_color& t, const std::string& tok) {
        float c[3];
        std::sscanf(tok.c_str(), "%f,%f,%f", &c[0], &c[1], &c[2]);
        t.set_constant(kivColor(c[0], c[1], c[2]));
    });
}

std::string Printed(const hp_scalar& s) {
    testing::internal::CaptureStdout();
    s.print();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

std::string Printed(const hp_color& c) {
    testing::internal::CaptureStdout();
    c.print();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

void ExpectColor(const kivColor& c, float r, float g, float b, float a) {
    EXPECT_FLOAT_EQ(c.r, r);
    EXPECT_FLOAT_EQ(c.g, g);
    EXPECT_FLOAT_EQ(c.b, b);
    EXPECT_FLOAT_EQ(c.a, a);
}

// The exception and FATAL line of evaluating something undefined.
template <class F>
void ExpectUndefined(F f, const char* type) {
    testing::internal::CaptureStdout();
    std::string what = "no exception";
    try {
        f();
    } catch (const FurEBadParameter& e) {
        what = e.message().asChar();
    }
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string("FATAL: can't evaluate an undefined ") + type + "!\n");
    EXPECT_EQ(what, std::string("Can't evaluate an undefined ") + type + "!");
}

// Render settings, an image cache and a curve-data cache for one test.
class ParamValues : public testing::Test {
  protected:
    ParamValues() : images_(4) { crvdata_init(4); }
    ~ParamValues() override { crvdata_done(); }

    SettingsGuard guard_;
    testimg::Scope images_;
    hair_state hs_;
};

}  // namespace

// --- Chains -------------------------------------------------------------------

TEST_F(ParamValues, ArithmeticHasNoPrecedence) {
    const struct {
        const char* text;
        float value;
    } cases[] = {{"1 + 2 * 3", 9},
                 {"( 1 + 2 ) * 3", 9},
                 {"2 * ( 3 + 4 )", 14},
                 {"1 - 4", -3},
                 {"8 / 2 / 4", 1},
                 {"7", 7},
                 {"( 1 + 2 ) * ( 3 + 4 )", 21},
                 {"1 + ( 2 * 3 ) - 1", 6},
                 {"2 * ( 3 - 5 ) + 10", 6}};
    for (const auto& c : cases) {
        const hp_scalar s = Scalars(c.text);
        EXPECT_TRUE(s.valid()) << c.text;
        EXPECT_FLOAT_EQ(s.eval(hs_), c.value) << c.text;
        EXPECT_FLOAT_EQ(s.eval_const(), c.value) << c.text;
    }
}

TEST_F(ParamValues, OpenGroupAtTheEndNeverReachesTheResult) {
    const hp_scalar open_only = Scalars("( 1 + 2");
    EXPECT_TRUE(open_only.valid());
    EXPECT_EQ(open_only.eval(hs_), 0.0f);
    const hp_scalar tail = Scalars("5 * ( 2 + 3");
    EXPECT_TRUE(tail.valid());
    EXPECT_EQ(tail.eval(hs_), 5.0f);
}

TEST_F(ParamValues, TermWithoutOperatorIsDroppedAndInvalid) {
    hp_scalar s = Scalars("1 2");
    EXPECT_FALSE(s.valid());
    EXPECT_EQ(s.eval(hs_), 1.0f);
    hp_scalar t = Scalars("3 + 1 2");  // second term has a next but no operator
    EXPECT_FALSE(t.valid());
    EXPECT_EQ(t.eval(hs_), 4.0f);
}

TEST_F(ParamValues, Validity) {
    EXPECT_TRUE(Scalars("1 + ( 2 + 3 ) + ( 4 * 5 )").valid());
    EXPECT_FALSE(Scalars("1 +").valid());                // operator, no next term
    EXPECT_FALSE(Scalars("( 1 + ( 2 + 3 ) )").valid());  // group inside a group
    EXPECT_FALSE(Scalars("1 + 2 )").valid());            // closes outside a group
    EXPECT_FALSE(Scalars("( 1 + 2 ) + 3 )").valid());
    EXPECT_TRUE(hp_scalar().valid());
    EXPECT_FALSE(Colours("1,1,1 1,1,1").valid());
    EXPECT_TRUE(Colours("( 1,1,1 + 1,1,1 ) * 0,0,0").valid());
}

TEST_F(ParamValues, ColourChainsClampAndDivideByChannel) {
    ExpectColor(Colours("0.5,0.5,0.5 * 4,4,4").eval(hs_), 1, 1, 1, 1);
    ExpectColor(Colours("0.2,0.4,0.6 - 0.5,0.5,0.5").eval(hs_), 0, 0, 0.1f, 0);
    // A zero divisor channel gives 0, not infinity.
    ExpectColor(Colours("0.8,0.5,0.3 / 0,0.5,0").eval(hs_), 0, 1, 0, 1);
    ExpectColor(Colours("( 0.1,0.1,0.1 + 0.2,0.2,0.2 ) * 2,2,2").eval(hs_), 0.6f, 0.6f, 0.6f, 1);
    ExpectColor(hp_color(kivColor(2, -1, 0.5f, 3)).eval(hs_), 1, 0, 0.5f, 1);
}

TEST_F(ParamValues, ScalarDivisionIsNotGuarded) {
    EXPECT_TRUE(std::isinf(Scalars("1 / 0").eval(hs_)));
}

// --- Terms ------------------------------------------------------------------

TEST_F(ParamValues, LinstepOverFrames) {
    hp_scalar s;
    ASSERT_TRUE(s.set_linstep(10, 20, 0, 1));
    const int frames[] = {-5, 10, 11, 15, 19, 20, 21, 100};
    const float values[] = {0, 0, 0.1f, 0.5f, 0.9f, 1, 1, 1};
    for (int i = 0; i < 8; ++i) {
        defs.frame = frames[i];
        EXPECT_FLOAT_EQ(s.eval(hs_), values[i]) << frames[i];
    }
    EXPECT_FLOAT_EQ(s.eval_const(), 1.0f);

    hp_color c;
    ASSERT_TRUE(c.set_linstep(0, 4, kivColor(0, 0.4f, 1), kivColor(1, 0.8f, 0)));
    defs.frame = 1;
    ExpectColor(c.eval(hs_), 0.25f, 0.5f, 0.75f, 1);
    defs.frame = 9;
    ExpectColor(c.eval(hs_), 1, 0.8f, 0, 1);
}

TEST_F(ParamValues, LinstepWithVariableArguments) {
    hs_.vars[1] = 100.9;  // start frame (truncated)
    hs_.vars[2] = 200.0;  // end frame
    hs_.vars[3] = 2.0;    // start value
    hs_.vars[4] = 4.0;    // end value
    hp_scalar all;
    ASSERT_TRUE(all.set_linstep(1, 2, 3, 4, HP_VAR_START | HP_VAR_END | HP_VAR_FROM | HP_VAR_TO));
    EXPECT_EQ(all.flags, 15);
    defs.frame = 100;
    EXPECT_FLOAT_EQ(all.eval(hs_), 2.0f);
    defs.frame = 150;
    EXPECT_FLOAT_EQ(all.eval(hs_), 3.0f);
    defs.frame = 200;
    EXPECT_FLOAT_EQ(all.eval(hs_), 4.0f);

    // Only the start value from a variable: the end value stays 8.
    hp_scalar from;
    ASSERT_TRUE(from.set_linstep(0, 10, 3, 8, HP_VAR_FROM));
    EXPECT_EQ(from.base, 3.0f);
    defs.frame = 0;
    EXPECT_FLOAT_EQ(from.eval(hs_), 2.0f);
    defs.frame = 5;
    EXPECT_FLOAT_EQ(from.eval(hs_), 5.0f);
    defs.frame = 10;
    EXPECT_FLOAT_EQ(from.eval(hs_), 8.0f);

    hp_scalar bad;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(bad.set_linstep(0, 10, 12, 1, HP_VAR_FROM));
    EXPECT_FALSE(bad.set_var(10));
    EXPECT_FALSE(bad.set_var(-1));
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ERROR: var[12] exceeded vars length\nERROR: var[10] exceeded vars length\n"
              "ERROR: var[-1] exceeded vars length\n");
    EXPECT_FALSE(bad.defined());
}

TEST_F(ParamValues, ImagestepStartFrames) {
    testimg::add_flat("bright.tex", 2, 2, 255, 0, 0, 0);
    testimg::add_flat("dark.tex", 2, 2, 0, 0, 0, 0);
    testimg::add_flat("half.tex", 2, 2, 128, 0, 0, 0);
    hs_.u = hs_.v = 0.5;
    hp_scalar bright, dark, half;
    ASSERT_TRUE(bright.set_imagestep("bright.tex", "r", 0, 100, 10, 0, 1));
    ASSERT_TRUE(dark.set_imagestep("dark.tex", "r", 0, 100, 10, 0, 1));
    ASSERT_TRUE(half.set_imagestep("half.tex", "r", 0, 100, 10, 0, 1));
    defs.frame = 0;
    EXPECT_FLOAT_EQ(bright.eval(hs_), 0.0f);
    defs.frame = 5;
    EXPECT_FLOAT_EQ(bright.eval(hs_), 0.5f);
    defs.frame = 11;
    EXPECT_FLOAT_EQ(bright.eval(hs_), 1.0f);
    defs.frame = 100;
    EXPECT_FLOAT_EQ(dark.eval(hs_), 0.0f);
    defs.frame = 104;
    EXPECT_FLOAT_EQ(dark.eval(hs_), 0.4f);
    // 128/255 starts at truncation of 100 * (1 - 0.50196) = 49.
    defs.frame = 49;
    EXPECT_FLOAT_EQ(half.eval(hs_), 0.0f);
    defs.frame = 50;
    EXPECT_FLOAT_EQ(half.eval(hs_), 0.1f);
}

TEST_F(ParamValues, NoiseTerms) {
    hp_scalar zero;
    ASSERT_TRUE(zero.set_noise(0, 2, 6));
    hs_.u = 0.3;
    hs_.v = 0.7;
    hs_.rand[0] = 0.9;
    const double n0 = noise3(kivVector(0, 0, 0));
    EXPECT_FLOAT_EQ(zero.eval(hs_), static_cast<float>(2 + 4 * 0.5 * (n0 + 1.0)));

    hp_scalar s;
    ASSERT_TRUE(s.set_noise(3, -1, 1));
    for (int i = 0; i < 20; ++i) {
        hs_.u = i * 0.05;
        hs_.v = 1.0 - i * 0.03;
        hs_.rand[0] = i * 0.041;
        const double n =
            noise3(kivVector(static_cast<float>(3 * hs_.u), static_cast<float>(3 * hs_.v),
                             static_cast<float>(3 * hs_.rand[0])));
        EXPECT_FLOAT_EQ(s.eval(hs_), static_cast<float>(-1 + 2 * 0.5 * (n + 1.0))) << i;
    }

    // The colour form ignores the random number and has matte 1.
    hp_color c;
    ASSERT_TRUE(c.set_noise(2, kivColor(0, 0, 0), kivColor(1, 0.5f, 0.25f)));
    hs_.u = 0.25;
    hs_.v = 0.125;
    const float t = static_cast<float>(0.5 * (noise3(kivVector(0.5f, 0.25f, 0.0f)) + 1.0));
    ExpectColor(c.eval(hs_), t, 0.5f * t, 0.25f * t, 1);
}

TEST_F(ParamValues, ImageTerms) {
    testimg::add("grad.tex", 2, 1,
                 [](int col, int) { return col == 0 ? 0x33669900u : 0xFF800040u; });
    hs_.u = 0.75;
    hs_.v = 0.5;
    hp_scalar green, range;
    ASSERT_TRUE(green.set_image("grad.tex", "g"));
    ASSERT_TRUE(range.set_image_range("grad.tex", "m", 10, 20));
    EXPECT_FLOAT_EQ(green.eval(hs_), 128 / 255.0f);
    EXPECT_FLOAT_EQ(range.eval(hs_), 10 + 10 * (64 / 255.0f));
    EXPECT_FLOAT_EQ(green.eval_const(), 1.0f);
    EXPECT_FLOAT_EQ(range.eval_const(), 20.0f);

    hp_color rgb, ranged;
    ASSERT_TRUE(rgb.set_image("grad.tex", "bgr"));
    ASSERT_TRUE(ranged.set_image_range("grad.tex", "rgb", kivColor(0, 0, 0, 0),
                                       kivColor(1, 1, 0.5f, 0.5f)));
    // The channels come in the order r, g, b whatever the letters' order;
    // the fourth component of a three-channel lookup is 0.
    ExpectColor(rgb.eval(hs_), 1, 128 / 255.0f, 0, 0);
    hs_.u = 0.25;
    // base = (0, 0, 0, 1), delta = (1, 1, 0.5, 0): matte stays 1.
    ExpectColor(ranged.eval(hs_), 0.2f, 0.4f, 0.3f, 1);
    hs_.u = 1.5;  // outside the image: the lookup is 0
    ExpectColor(ranged.eval(hs_), 0, 0, 0, 1);
}

TEST_F(ParamValues, CurveDataTerms) {
    const std::string dir = std::string(KORVO_TEST_DATA) + "/descriptions/";
    hp_scalar s;
    ASSERT_TRUE(s.set_crvdata((dir + "scalars10.crv").c_str(), 5));
    defs.frame = 8;
    EXPECT_FLOAT_EQ(s.eval(hs_), 30.5f);
    EXPECT_FLOAT_EQ(s.eval_const(), 30.5f);
    hp_color c;
    ASSERT_TRUE(c.set_crvdata((dir + "colors4.crv").c_str(), 0));
    defs.frame = 1;
    ExpectColor(c.eval(hs_), 0.5f, 0.6f, 0.7f, 0.8f);
}

TEST_F(ParamValues, ImageNamedByCurveData) {
    const std::string list = testing::TempDir() + "ImageNamedByCurveData.crv";
    std::ofstream(list) << "first.tex\nsecond.tex\n";
    testimg::add_flat("first.tex", 1, 1, 51, 102, 153, 204);
    testimg::add_flat("second.tex", 1, 1, 255, 0, 255, 0);
    hp_scalar s;
    ASSERT_TRUE(s.set_image_crvdata(list.c_str(), "b", 3));
    EXPECT_EQ(s.i0, 3);
    hp_color c;
    ASSERT_TRUE(c.set_image_crvdata(list.c_str(), "rgb", 3));
    defs.frame = 3;
    EXPECT_FLOAT_EQ(s.eval(hs_), 0.6f);
    ExpectColor(c.eval(hs_), 0.2f, 0.4f, 0.6f, 0);
    defs.frame = 4;
    EXPECT_FLOAT_EQ(s.eval(hs_), 1.0f);
    EXPECT_FLOAT_EQ(s.eval_const(), 1.0f);
    std::remove(list.c_str());
}

TEST_F(ParamValues, VarTerm) {
    hp_scalar s;
    ASSERT_TRUE(s.set_var(9));
    hs_.vars[9] = -2.5;
    EXPECT_EQ(s.eval(hs_), -2.5f);
    // Out-of-range indices set by hand read 0.
    s.i0 = 10;
    EXPECT_EQ(s.eval(hs_), 0.0f);
}

// --- Constant evaluation and undefined values ----------------------------------

TEST_F(ParamValues, ConstantEvaluationOfEveryKind) {
    hp_scalar noise, linstep, image, var, imagestep;
    noise.set_noise(5, 1, 3);
    linstep.set_linstep(0, 10, 2, 7);
    image.set_image("never_read.tex", "r");
    EXPECT_FLOAT_EQ(noise.eval_const(), 3.0f);
    EXPECT_FLOAT_EQ(linstep.eval_const(), 7.0f);
    EXPECT_FLOAT_EQ(image.eval_const(), 1.0f);
    EXPECT_TRUE(testimg::requests().empty());

    var.set_var(0);
    imagestep.set_imagestep("x.tex", "r", 0, 1, 1, 0, 1);
    ExpectUndefined([&] { var.eval_const(); }, "hp_scalar");
    ExpectUndefined([&] { imagestep.eval_const(); }, "hp_scalar");
    ExpectUndefined([&] { hp_scalar().eval_const(); }, "hp_scalar");
    ExpectUndefined([&] { hp_scalar().eval(hs_); }, "hp_scalar");
    ExpectUndefined([&] { hp_color().eval(hs_); }, "hp_color");
    // An undefined term inside a chain.
    hp_scalar chain = Scalars("1 + 2");
    chain.next->reset();
    ExpectUndefined([&] { chain.eval(hs_); }, "hp_scalar");
    hp_color odd;
    odd.kind = HP_VAR;  // colours have no variables
    ExpectUndefined([&] { odd.eval(hs_); }, "hp_color");
}

// --- Builders -------------------------------------------------------------------

TEST(ParamChannels, Codes) {
    EXPECT_EQ(hp_channel_code(""), 0);
    EXPECT_EQ(hp_channel_code(nullptr), 0);
    EXPECT_EQ(hp_channel_code("r"), 1);
    EXPECT_EQ(hp_channel_code("mbgr"), 15);
    EXPECT_EQ(hp_channel_code("rrg"), 3);
    EXPECT_EQ(hp_channel_count(15), 4);
    EXPECT_EQ(hp_channel_count(3), 2);
    EXPECT_EQ(hp_channel_count(0), 0);

    testing::internal::CaptureStdout();
    std::string what = "no exception";
    try {
        hp_channel_code("rgx");
    } catch (const FurEBadParameter& e) {
        what = e.message().asChar();
    }
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "FATAL: bad channel coding (\"rgx\"), bye...");
    EXPECT_EQ(what, "Bad channel coding (\"rgx\")");

    hp_scalar s;
    testing::internal::CaptureStdout();
    EXPECT_THROW(s.set_image("a.tex", "R"), FurEBadParameter);
    std::fflush(stdout);
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(s.defined());
}

TEST(ParamChannels, ScalarImageTermsNeedOneChannel) {
    hp_scalar s;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(s.set_image("a.tex", "rg"));
    EXPECT_FALSE(s.set_image_range("a.tex", "", 0, 1));
    EXPECT_FALSE(s.set_imagestep("a.tex", "gb", 0, 1, 1, 0, 1));
    EXPECT_FALSE(s.set_image_crvdata("a.tex", "rgbm", 0));
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ERROR: expecting 1 channel, 2 (rg) defined\n"
              "ERROR: expecting 1 channel, 0 () defined\n"
              "ERROR: expecting 1 channel, 2 (gb) defined\n"
              "ERROR: expecting 1 channel, 4 (rgbm) defined\n");
    EXPECT_FALSE(s.defined());
    EXPECT_EQ(s.name, nullptr);
}

TEST(ParamChannels, ColourImageChannelErrors) {
    hp_color c;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(c.set_image("a.tex", "rgbm"));
    EXPECT_FALSE(c.set_image_crvdata("a.tex", "r", 0));
    EXPECT_FALSE(c.set_image_range("a.tex", "rrgg", kivColor(), kivColor()));
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ERROR: expecting 3 channels, 4 (rgbm) defined\n"
              "ERROR: expecting 3 channels, 1 (r) defined\n"
              "ERROR: expecting 3 channels, 2 (rrgg) defined\n");
    EXPECT_FALSE(c.defined());
    EXPECT_TRUE(c.set_image("a.tex", "brg"));
    EXPECT_EQ(c.channel, 7);
}

TEST(ParamBuilders, FieldsOfEachTerm) {
    hp_scalar s;
    ASSERT_TRUE(s.set_imagestep("map.$F.tex", "g", 3, 30, 12, 0.5f, 2));
    EXPECT_EQ(s.kind, HP_IMAGESTEP);
    EXPECT_STREQ(s.name, "$map.$F.tex");  // marked for expansion
    EXPECT_EQ(s.channel, 2);
    EXPECT_EQ(s.i0, 3);
    EXPECT_EQ(s.i1, 30);
    EXPECT_EQ(s.aux, 12.0f);
    EXPECT_EQ(s.base, 0.5f);
    EXPECT_EQ(s.delta, 1.5f);
    ASSERT_TRUE(s.set_crvdata("plain.crv", -4));
    EXPECT_EQ(s.kind, HP_CRVDATA);
    EXPECT_STREQ(s.name, "plain.crv");
    EXPECT_EQ(s.i0, -4);

    hp_color c;
    ASSERT_TRUE(c.set_constant(kivColor(0.1f, 0.2f, 0.3f, 0.0f)));
    EXPECT_EQ(c.base.a, 1.0f);  // colours in terms are opaque
    ASSERT_TRUE(c.set_noise(4, kivColor(0, 0, 0, 0), kivColor(1, 1, 1, 0)));
    EXPECT_EQ(c.base.a, 1.0f);
    EXPECT_EQ(c.delta.a, 0.0f);
    EXPECT_EQ(c.aux, 4.0f);
    ASSERT_TRUE(c.set_crvdata("$M.crv", 2));
    EXPECT_STREQ(c.name, "$$M.crv");

    const hp_color white(kivColor(1, 1, 1, 1));
    EXPECT_EQ(white.kind, HP_CONSTANT);
    EXPECT_EQ(white.op, HP_OP_NONE);
    EXPECT_EQ(white.next, nullptr);
}

TEST(ParamBuilders, CopiesOwnTheirChainAndMovesTakeIt) {
    hp_scalar a = Scalars("1 + 2 * 3");
    a.next->set_image("x$.tex", "r");
    hp_scalar b = a;
    ASSERT_NE(b.next, nullptr);
    EXPECT_NE(b.next, a.next);
    EXPECT_NE(b.next->name, a.next->name);
    EXPECT_STREQ(b.next->name, "$x$.tex");
    EXPECT_EQ(b.next->next->base, 3.0f);
    a.reset();
    EXPECT_FALSE(a.defined());
    EXPECT_EQ(a.next, nullptr);
    EXPECT_STREQ(b.next->name, "$x$.tex");

    hp_scalar c = std::move(b);
    EXPECT_FALSE(b.defined());
    EXPECT_EQ(b.next, nullptr);
    EXPECT_EQ(c.op, HP_OP_ADD);
    EXPECT_EQ(c.next->next->base, 3.0f);
    c = c;  // self-assignment keeps the chain
    EXPECT_EQ(c.next->next->base, 3.0f);

    hp_color d = Colours("1,0,0 + 0,1,0");
    hp_color e;
    e = d;
    d.next->set_constant(kivColor(0, 0, 1));
    EXPECT_EQ(e.next->base.g, 1.0f);
}

// --- Printing -------------------------------------------------------------------

TEST(ParamPrinting, ScalarForms) {
    EXPECT_EQ(Printed(Scalars("( 1 + 2 ) * 3 / 4 - 5")),
              "(1.000000 + 2.000000) * 3.000000 / 4.000000 - 5.000000");
    hp_scalar s;
    s.set_image("$tex.$F.iff", "g");
    EXPECT_EQ(Printed(s), "image( \"$tex.$F.iff\", \"g\" )");
    s.set_image_range("a.tex", "m", 1, 3);
    EXPECT_EQ(Printed(s), "image( \"a.tex\", \"m\", 1.000000, 3.000000 )");
    s.set_noise(2, 0.5f, 1.5f);
    EXPECT_EQ(Printed(s), "noise( 2.000000, 0.500000, 1.500000 )");
    s.set_linstep(10, 20, 0, 1);
    EXPECT_EQ(Printed(s), "linstep( 10, 20, 0.000000, 1.000000 )");
    s.set_imagestep("b.tex", "b", -5, 50, 7, 1, 2);
    EXPECT_EQ(Printed(s), "imagestep( \"b.tex\", \"b\", -5, 50, 7, 1.000000, 2.000000 )");
    s.set_crvdata("c.$f.crv", 3);
    EXPECT_EQ(Printed(s), "crvdata( \"c.$f.crv\", 3 )");
    s.set_var(2);
    EXPECT_EQ(Printed(s), "UNDEFINED");
    s.set_image_crvdata("d.crv", "r", 1);
    EXPECT_EQ(Printed(s), "UNDEFINED");
    EXPECT_EQ(Printed(hp_scalar()), "UNDEFINED");
}

TEST(ParamPrinting, ColourForms) {
    EXPECT_EQ(Printed(Colours("0.1,0.2,0.3 * ( 1,1,1 + 0,0,0 )")),
              "< 0.100000, 0.200000, 0.300000> * (< 1.000000, 1.000000, 1.000000> + "
              "< 0.000000, 0.000000, 0.000000>)");
    hp_color c;
    c.set_image("a$.tex", "gbr");
    EXPECT_EQ(Printed(c), "image( \"a$.tex\", \"rgb\" )");
    c.set_image_range("a.tex", "rgb", kivColor(0, 0, 0), kivColor(1, 0.5f, 0.25f));
    EXPECT_EQ(Printed(c),
              "image( \"a.tex\", \"rgb\", <0.000000, 0.000000, 0.000000>, "
              "<1.000000, 0.500000, 0.250000> )");
    c.set_noise(3, kivColor(0, 0, 0), kivColor(1, 1, 1));
    EXPECT_EQ(Printed(c),
              "noise( 3.000000, <0.000000, 0.000000, 0.000000>, <1.000000, 1.000000, 1.000000> )");
    c.set_linstep(1, 9, kivColor(0, 0, 0), kivColor(1, 1, 1));
    EXPECT_EQ(Printed(c),
              "linstep( 1, 9,  <0.000000, 0.000000, 0.000000>, <1.000000, 1.000000, 1.000000> )");
    c.set_crvdata("$F.crv", 4);
    EXPECT_EQ(Printed(c), "crvdata( \"$F.crv\", 4  )");
    c.set_image_crvdata("e.crv", "rgb", 0);
    EXPECT_EQ(Printed(c), "< UNDEFINED >");
    EXPECT_EQ(Printed(hp_color()), "< UNDEFINED >");
}
