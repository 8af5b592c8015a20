#include "descriptions/param_values.h"

#include <cmath>
#include <sstream>

#include "descriptions/curve_data_cache.h"
#include "descriptions/descriptions_support.h"
#include "foundation/noise.h"
#include "generation/hair_records.h"

namespace {

// Builds a chain the way the hair file reader does, from a text of
// constants, operators and parentheses separated by blanks ("( 1 + 2 ) * 3").
template <class Value, class Make>
Value buildChain(const std::string& text, Make make) {
    std::istringstream in(text);
    Value head;
    Value* last = nullptr;
    bool open = false;
    for (std::string tok; in >> tok;) {
        const std::size_t op = std::string("+-*/").find(tok);
        if (tok == "(") {
            open = true;
        } else if (tok == ")") {
            last->flags |= HP_CLOSE_GROUP;
        } else if (tok.size() == 1 && op != std::string::npos) {
            last->op = static_cast<std::uint8_t>(HP_OP_ADD + op);
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

hp_scalar scalars(const std::string& text) {
    return buildChain<hp_scalar>(
        text, [](hp_scalar& t, const std::string& tok) { t.set_constant(std::stof(tok)); });
}

// Colour constants written as r,g,b.
hp_color colours(const std::string& text) {
    return buildChain<hp_color>(text, [](hp_color& t, const std::string& tok) {
        float c[3];
        std::sscanf(tok.c_str(), "%f,%f,%f", &c[0], &c[1], &c[2]);
        t.set_constant(kivColor(c[0], c[1], c[2]));
    });
}

template <class V>
std::string printed(const V& value) {
    return captured([&] { value.print(); });
}

// The exception and FATAL line of evaluating something undefined.
template <class F>
void expectUndefined(F f, const std::string& type) {
    std::string out;
    EXPECT_EQ("Can't evaluate an undefined " + type + "!", thrown<FurEBadParameter>(f, &out));
    EXPECT_EQ("FATAL: can't evaluate an undefined " + type + "!\n", out);
}

// Render settings, an image cache and a curve-data cache for one test.
class ParamValues : public testing::Test {
  protected:
    ParamValues() : images_(4) { crvdata_init(4); }
    ~ParamValues() override { crvdata_done(); }
    // The value of s at each frame.
    std::vector<float> overFrames(const hp_scalar& s, const std::vector<int>& frames) {
        std::vector<float> values;
        for (int f : frames) defs.frame = f, values.push_back(s.eval(hs_));
        return values;
    }

    SettingsGuard guard_;
    testimg::Scope images_;
    hair_state hs_;
};

}  // namespace

// --- Chains -------------------------------------------------------------------

TEST_F(ParamValues, ArithmeticHasNoPrecedence) {
    const std::pair<const char*, float> cases[] = {
        {"1 + 2 * 3", 9},         {"( 1 + 2 ) * 3", 9},
        {"2 * ( 3 + 4 )", 14},    {"1 - 4", -3},
        {"8 / 2 / 4", 1},         {"7", 7},
        {"1 + ( 2 * 3 ) - 1", 6}, {"( 1 + 2 ) * ( 3 + 4 )", 21},
        {"2 * ( 3 - 5 ) + 10", 6}};
    for (const auto& [text, value] : cases) {
        const hp_scalar s = scalars(text);
        EXPECT_TRUE(s.valid()) << text;
        EXPECT_FLOAT_EQ(value, s.eval(hs_)) << text;
        EXPECT_FLOAT_EQ(value, s.eval_const()) << text;
    }
    EXPECT_TRUE(std::isinf(scalars("1 / 0").eval(hs_))) << "scalar division is not guarded";
}

TEST_F(ParamValues, OpenGroupsAndMissingOperatorsAndValidity) {
    // A group left open never reaches the result; a term without an
    // operator drops the rest (and makes the chain invalid).
    const struct {
        const char* text;
        bool valid;
        float value;
    } cases[] = {
        {"( 1 + 2", true, 0},
        {"5 * ( 2 + 3", true, 5},
        {"1 + ( 2 + 3 ) + ( 4 * 5 )", true, 26},
        {"1 2", false, 1},
        {"3 + 1 2", false, 4},
        {"1 +", false, NAN},                // operator, no next term
        {"( 1 + ( 2 + 3 ) )", false, NAN},  // group inside a group
        {"1 + 2 )", false, NAN},            // closes outside a group
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.valid, scalars(c.text).valid()) << c.text;
        if (!std::isnan(c.value)) {
            EXPECT_EQ(c.value, scalars(c.text).eval(hs_)) << c.text;
        }
    }
    EXPECT_TRUE(hp_scalar().valid());
    EXPECT_FALSE(colours("1,1,1 1,1,1").valid());
    EXPECT_TRUE(colours("( 1,1,1 + 1,1,1 ) * 0,0,0").valid());
}

TEST_F(ParamValues, ColourChainsClampAndDivideByChannel) {
    expect_color(colours("0.5,0.5,0.5 * 4,4,4").eval(hs_), 1, 1, 1, 1);
    expect_color(colours("0.2,0.4,0.6 - 0.5,0.5,0.5").eval(hs_), 0, 0, 0.1f, 0);
    // A zero divisor channel gives 0, not infinity.
    expect_color(colours("0.8,0.5,0.3 / 0,0.5,0").eval(hs_), 0, 1, 0, 1);
    expect_color(colours("( 0.1,0.1,0.1 + 0.2,0.2,0.2 ) * 2,2,2").eval(hs_), 0.6f, 0.6f, 0.6f, 1);
    expect_color(hp_color(kivColor(2, -1, 0.5f, 3)).eval(hs_), 1, 0, 0.5f, 1);
}

// --- Terms ------------------------------------------------------------------

TEST_F(ParamValues, LinstepOverFramesWithAndWithoutVariables) {
    hp_scalar s, all, from, bad;
    ASSERT_TRUE(s.set_linstep(10, 20, 0, 1));
    EXPECT_EQ((std::vector<float>{0, 0, 0.1f, 0.5f, 0.9f, 1, 1, 1}),
              overFrames(s, {-5, 10, 11, 15, 19, 20, 21, 100}));
    EXPECT_FLOAT_EQ(1.0f, s.eval_const());
    hp_color c;
    ASSERT_TRUE(c.set_linstep(0, 4, kivColor(0, 0.4f, 1), kivColor(1, 0.8f, 0)));
    defs.frame = 1;
    expect_color(c.eval(hs_), 0.25f, 0.5f, 0.75f, 1);
    defs.frame = 9;
    expect_color(c.eval(hs_), 1, 0.8f, 0, 1);
    // Variables: start frame (truncated), end frame, start value, end value.
    hs_.vars[1] = 100.9, hs_.vars[2] = 200.0, hs_.vars[3] = 2.0, hs_.vars[4] = 4.0;
    ASSERT_TRUE(all.set_linstep(1, 2, 3, 4, HP_VAR_START | HP_VAR_END | HP_VAR_FROM | HP_VAR_TO));
    EXPECT_EQ(15, all.flags);
    EXPECT_EQ((std::vector<float>{2, 3, 4}), overFrames(all, {100, 150, 200}));
    // Only the start value from a variable: the end value stays 8.
    ASSERT_TRUE(from.set_linstep(0, 10, 3, 8, HP_VAR_FROM));
    EXPECT_EQ((std::vector<float>{2, 5, 8}), overFrames(from, {0, 5, 10}));
    EXPECT_EQ(
        "ERROR: var[12] exceeded vars length\nERROR: var[10] exceeded vars length\n"
        "ERROR: var[-1] exceeded vars length\n",
        captured([&] {
            EXPECT_FALSE(bad.set_linstep(0, 10, 12, 1, HP_VAR_FROM));
            EXPECT_FALSE(bad.set_var(10));
            EXPECT_FALSE(bad.set_var(-1));
        }));
    EXPECT_FALSE(bad.defined());
}

TEST_F(ParamValues, ImagestepStartFrames) {
    // A white pixel starts at frame 0, a black one at 100, 128/255 at
    // the truncation of 100 * (1 - 0.50196) = 49; the ramp lasts 10 frames.
    const struct {
        std::uint8_t red;
        std::vector<int> frames;
        std::vector<float> values;
    } cases[] = {
        {255, {0, 5, 11}, {0, 0.5f, 1}}, {0, {100, 104}, {0, 0.4f}}, {128, {49, 50}, {0, 0.1f}}};
    hs_.u = hs_.v = 0.5;
    for (const auto& c : cases) {
        const std::string name = std::to_string(c.red) + ".tex";
        testimg::add_flat(name, 2, 2, c.red, 0, 0, 0);
        hp_scalar s;
        ASSERT_TRUE(s.set_imagestep(name.c_str(), "r", 0, 100, 10, 0, 1));
        EXPECT_EQ(c.values, overFrames(s, c.frames)) << name;
    }
}

TEST_F(ParamValues, NoiseTerms) {
    hp_scalar zero, s;
    ASSERT_TRUE(zero.set_noise(0, 2, 6));
    hs_.u = 0.3, hs_.v = 0.7, hs_.rand[0] = 0.9;
    EXPECT_FLOAT_EQ(float(2 + 4 * 0.5 * (noise3(kivVector(0, 0, 0)) + 1.0)), zero.eval(hs_))
        << "frequency 0";
    ASSERT_TRUE(s.set_noise(3, -1, 1));
    for (int i = 0; i < 20; ++i) {
        hs_.u = i * 0.05, hs_.v = 1.0 - i * 0.03, hs_.rand[0] = i * 0.041;
        const double n =
            noise3(kivVector(float(3 * hs_.u), float(3 * hs_.v), float(3 * hs_.rand[0])));
        EXPECT_FLOAT_EQ(float(-1 + 2 * 0.5 * (n + 1.0)), s.eval(hs_)) << i;
    }
    // The colour form ignores the random number and has matte 1.
    hp_color c;
    ASSERT_TRUE(c.set_noise(2, kivColor(0, 0, 0), kivColor(1, 0.5f, 0.25f)));
    hs_.u = 0.25, hs_.v = 0.125;
    const float t = float(0.5 * (noise3(kivVector(0.5f, 0.25f, 0.0f)) + 1.0));
    expect_color(c.eval(hs_), t, 0.5f * t, 0.25f * t, 1);
}

TEST_F(ParamValues, ImageTerms) {
    testimg::add("grad.tex", 2, 1, [](int col, int) { return col ? 0xFF800040u : 0x33669900u; });
    hs_.u = 0.75, hs_.v = 0.5;
    hp_scalar green, range;
    ASSERT_TRUE(green.set_image("grad.tex", "g"));
    ASSERT_TRUE(range.set_image_range("grad.tex", "m", 10, 20));
    EXPECT_FLOAT_EQ(128 / 255.0f, green.eval(hs_));
    EXPECT_FLOAT_EQ(10 + 10 * (64 / 255.0f), range.eval(hs_));
    hp_color rgb, ranged;
    ASSERT_TRUE(rgb.set_image("grad.tex", "bgr"));
    ASSERT_TRUE(ranged.set_image_range("grad.tex", "rgb", kivColor(0, 0, 0, 0),
                                       kivColor(1, 1, 0.5f, 0.5f)));
    // The channels come in the order r, g, b whatever the letters' order;
    // the fourth component of a three-channel lookup is 0.
    expect_color(rgb.eval(hs_), 1, 128 / 255.0f, 0, 0);
    hs_.u = 0.25;
    // base = (0, 0, 0, 1), delta = (1, 1, 0.5, 0): matte stays 1.
    expect_color(ranged.eval(hs_), 0.2f, 0.4f, 0.3f, 1);
    hs_.u = 1.5;  // outside the image: the lookup is 0
    expect_color(ranged.eval(hs_), 0, 0, 0, 1);
}

TEST_F(ParamValues, CurveDataTermsAndImagesNamedByCurveData) {
    const std::string dir = std::string(KORVO_TEST_DATA) + "/descriptions/";
    hp_scalar s;
    hp_color c;
    ASSERT_TRUE(s.set_crvdata((dir + "scalars10.crv").c_str(), 5));
    ASSERT_TRUE(c.set_crvdata((dir + "colors4.crv").c_str(), 0));
    defs.frame = 8;
    EXPECT_FLOAT_EQ(30.5f, s.eval(hs_));
    EXPECT_FLOAT_EQ(30.5f, s.eval_const());
    defs.frame = 1;
    expect_color(c.eval(hs_), 0.5f, 0.6f, 0.7f, 0.8f);

    const std::string list = write_temp(".crv", "first.tex\nsecond.tex\n");
    testimg::add_flat("first.tex", 1, 1, 51, 102, 153, 204);
    testimg::add_flat("second.tex", 1, 1, 255, 0, 255, 0);
    ASSERT_TRUE(s.set_image_crvdata(list.c_str(), "b", 3));
    ASSERT_TRUE(c.set_image_crvdata(list.c_str(), "rgb", 3));
    defs.frame = 3;
    EXPECT_FLOAT_EQ(0.6f, s.eval(hs_));
    expect_color(c.eval(hs_), 0.2f, 0.4f, 0.6f, 0);
    defs.frame = 4;
    EXPECT_FLOAT_EQ(1.0f, s.eval(hs_));
    EXPECT_FLOAT_EQ(1.0f, s.eval_const());
    std::remove(list.c_str());
}

// --- Constant evaluation and undefined values ----------------------------------

TEST_F(ParamValues, ConstantEvaluationOfEveryKind) {
    hp_scalar noise, linstep, image, range, var, imagestep;
    noise.set_noise(5, 1, 3);
    linstep.set_linstep(0, 10, 2, 7);
    image.set_image("never_read.tex", "r");
    range.set_image_range("never_read.tex", "m", 10, 20);
    EXPECT_EQ((std::vector<float>{3, 7, 1, 20}),
              (std::vector<float>{noise.eval_const(), linstep.eval_const(), image.eval_const(),
                                  range.eval_const()}));
    EXPECT_TRUE(testimg::requests().empty());
    // A variable reads the hair's value; out-of-range indices set by hand read 0.
    var.set_var(9);
    hs_.vars[9] = -2.5;
    EXPECT_EQ(-2.5f, var.eval(hs_));
    var.i0 = 10;
    EXPECT_EQ(0.0f, var.eval(hs_));
    imagestep.set_imagestep("x.tex", "r", 0, 1, 1, 0, 1);
    expectUndefined([&] { var.eval_const(); }, "hp_scalar");
    expectUndefined([&] { imagestep.eval_const(); }, "hp_scalar");
    expectUndefined([&] { hp_scalar().eval_const(); }, "hp_scalar");
    expectUndefined([&] { hp_scalar().eval(hs_); }, "hp_scalar");
    expectUndefined([&] { hp_color().eval(hs_); }, "hp_color");
    // An undefined term inside a chain.
    hp_scalar chain = scalars("1 + 2");
    chain.next->reset();
    expectUndefined([&] { chain.eval(hs_); }, "hp_scalar");
    hp_color odd;
    odd.kind = HP_VAR;  // colours have no variables
    expectUndefined([&] { odd.eval(hs_); }, "hp_color");
}

// --- Builders -------------------------------------------------------------------

TEST(ParamBuilders, ChannelCodesAndCounts) {
    const std::pair<const char*, int> codes[] = {{"", 0}, {"r", 1}, {"mbgr", 15}, {"rrg", 3}};
    for (const auto& [text, code] : codes) EXPECT_EQ(code, hp_channel_code(text)) << text;
    EXPECT_EQ(0, hp_channel_code(nullptr));
    EXPECT_EQ((std::vector<int>{4, 2, 0}),
              (std::vector<int>{hp_channel_count(15), hp_channel_count(3), hp_channel_count(0)}));
    std::string out;
    EXPECT_EQ("Bad channel coding (\"rgx\")",
              thrown<FurEBadParameter>([] { hp_channel_code("rgx"); }, &out));
    EXPECT_EQ("FATAL: bad channel coding (\"rgx\"), bye...", out);
    hp_scalar s;
    captured([&] { EXPECT_THROW(s.set_image("a.tex", "R"), FurEBadParameter); });
    EXPECT_FALSE(s.defined());
}

TEST(ParamBuilders, ImageTermsNeedOneOrThreeChannelsAndDollarsAreMarked) {
    hp_scalar s;
    hp_color c;
    EXPECT_EQ(
        "ERROR: expecting 1 channel, 2 (rg) defined\n"
        "ERROR: expecting 1 channel, 0 () defined\n"
        "ERROR: expecting 1 channel, 2 (gb) defined\n"
        "ERROR: expecting 1 channel, 4 (rgbm) defined\n"
        "ERROR: expecting 3 channels, 4 (rgbm) defined\n"
        "ERROR: expecting 3 channels, 1 (r) defined\n"
        "ERROR: expecting 3 channels, 2 (rrgg) defined\n",
        captured([&] {
            EXPECT_FALSE(s.set_image("a.tex", "rg"));
            EXPECT_FALSE(s.set_image_range("a.tex", "", 0, 1));
            EXPECT_FALSE(s.set_imagestep("a.tex", "gb", 0, 1, 1, 0, 1));
            EXPECT_FALSE(s.set_image_crvdata("a.tex", "rgbm", 0));
            EXPECT_FALSE(c.set_image("a.tex", "rgbm"));
            EXPECT_FALSE(c.set_image_crvdata("a.tex", "r", 0));
            EXPECT_FALSE(c.set_image_range("a.tex", "rrgg", kivColor(), kivColor()));
        }));
    EXPECT_FALSE(s.defined() || c.defined());
    EXPECT_EQ(nullptr, s.name);
    EXPECT_TRUE(c.set_image("a.tex", "brg"));
    EXPECT_EQ(7, c.channel);
    // Names with a $ are marked for expansion; colours in terms are opaque.
    ASSERT_TRUE(s.set_imagestep("map.$F.tex", "g", 3, 30, 12, 0.5f, 2));
    EXPECT_STREQ("$map.$F.tex", s.name);
    ASSERT_TRUE(s.set_crvdata("plain.crv", -4));
    EXPECT_STREQ("plain.crv", s.name);
    ASSERT_TRUE(c.set_crvdata("$M.crv", 2));
    EXPECT_STREQ("$$M.crv", c.name);
    ASSERT_TRUE(c.set_constant(kivColor(0.1f, 0.2f, 0.3f, 0.0f)));
    EXPECT_EQ(1.0f, c.base.a);
    ASSERT_TRUE(c.set_noise(4, kivColor(0, 0, 0, 0), kivColor(1, 1, 1, 0)));
    EXPECT_TRUE(c.base.a == 1.0f && c.delta.a == 0.0f);
}

TEST(ParamBuilders, CopiesOwnTheirChainAndMovesTakeIt) {
    hp_scalar a = scalars("1 + 2 * 3");
    a.next->set_image("x$.tex", "r");
    hp_scalar b = a;
    ASSERT_NE(nullptr, b.next);
    EXPECT_NE(a.next->name, b.next->name);
    a.reset();
    EXPECT_TRUE(!a.defined() && a.next == nullptr);
    EXPECT_STREQ("$x$.tex", b.next->name);
    hp_scalar c = std::move(b);
    EXPECT_TRUE(!b.defined() && b.next == nullptr);  // NOLINT: moved-from state is defined
    EXPECT_EQ(HP_OP_ADD, c.op);
    c = c;  // self-assignment keeps the chain
    EXPECT_EQ(3.0f, c.next->next->base);
    hp_color d = colours("1,0,0 + 0,1,0"), e;
    e = d;
    d.next->set_constant(kivColor(0, 0, 1));
    EXPECT_EQ(1.0f, e.next->base.g);
}

// --- Printing -------------------------------------------------------------------

// The forms the hair file reader's dump does not show (see HairFile.VerboseReadPrintsEveryBucket).
TEST(ParamPrinting, FormsBeyondTheHairFileDump) {
    hp_scalar step, var, none, chain = scalars("( 1 + 2 ) * 3 / 4 - 5");
    step.set_imagestep("b.tex", "b", -5, 50, 7, 1, 2);
    var.set_var(2);
    EXPECT_EQ("(1.000000 + 2.000000) * 3.000000 / 4.000000 - 5.000000", printed(chain));
    EXPECT_EQ("imagestep( \"b.tex\", \"b\", -5, 50, 7, 1.000000, 2.000000 )", printed(step));
    EXPECT_EQ("UNDEFINEDUNDEFINED", printed(var) + printed(none));
    hp_color colour, image;
    image.set_image("a$.tex", "gbr");
    EXPECT_EQ("< UNDEFINED >", printed(colour));
    EXPECT_EQ("image( \"a$.tex\", \"rgb\" )", printed(image)) << "no marker, channels in order";
}
