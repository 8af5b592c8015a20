#include "descriptions/param_values.h"

#include <climits>
#include <cmath>
#include <sstream>
#include <tuple>
#include <type_traits>

#include "descriptions/descriptions_support.h"
#include "foundation/noise.h"
#include "descriptions/hair_records.h"

namespace {

// Builds a chain the way the hair file reader does from a text such as
// "(1 + 2) * 3" (colour constants written r,g,b): terms and operators
// apart, parentheses on their terms.
template <class Value>
Value chain(const std::string& text) {
    std::istringstream in(text);
    Value head, *last = nullptr;
    for (std::string tok; in >> tok;) {
        const std::size_t op = std::string("+-*/").find(tok);
        if (tok.size() == 1 && op != std::string::npos) {
            last->op = static_cast<std::uint8_t>(HP_OP_ADD + op);
            continue;
        }
        Value* term = last ? new Value : &head;
        if (tok[0] == '(') term->flags |= HP_OPEN_GROUP, tok.erase(0, 1);
        if (tok.back() == ')') term->flags |= HP_CLOSE_GROUP;
        float c[3] = {};
        std::sscanf(tok.c_str(), "%f,%f,%f", &c[0], &c[1], &c[2]);
        if constexpr (std::is_same_v<Value, hp_scalar>) term->set_constant(c[0]);
        if constexpr (std::is_same_v<Value, hp_color>)
            term->set_constant(kivColor(c[0], c[1], c[2]));
        if (last) last->append(term);
        last = term;
    }
    return head;
}

// The exception and FATAL line of evaluating something undefined.
template <class F>
void expectUndefined(F f, const std::string& type) {
    std::string out;
    EXPECT_EQ("Can't evaluate an undefined " + type + "!", thrown<FurEBadParameter>(f, &out));
    EXPECT_EQ("FATAL: can't evaluate an undefined " + type + "!\n", out);
}

class ParamValues : public DescriptionsTest {
  protected:
    // The value of s at each frame.
    std::vector<float> overFrames(const hp_scalar& s, const std::vector<int>& frames) {
        std::vector<float> values;
        for (int f : frames) defs.frame = f, values.push_back(s.eval(hs_));
        return values;
    }
};

}  // namespace

// No precedence; a group left open never reaches the result and a term
// without an operator drops the rest (and makes the chain invalid).
TEST_F(ParamValues, ChainsCombineLeftToRightAndColoursClamp) {
    const std::pair<const char*, float> cases[] = {
        {"1 + 2 * 3", 9},       {"2 * (3 + 4)", 14},           {"8 / 2 / 4", 1},
        {"1 + (2 * 3) - 1", 6}, {"(1 + 2) * (3 - 5) + 10", 4}, {"5 * (2 + 3", 5}};
    for (const auto& [text, value] : cases) {
        const hp_scalar s = chain<hp_scalar>(text);
        EXPECT_TRUE(s.valid()) << text;
        EXPECT_FLOAT_EQ(value, s.eval(hs_)) << text;
        EXPECT_FLOAT_EQ(value, s.eval_const()) << text;
    }
    EXPECT_EQ(4.0f, chain<hp_scalar>("3 + 1 2").eval(hs_));
    for (const char* text : {"3 + 1 2", "1 +", "(1 + (2 + 3))", "1 + 2)"})
        EXPECT_FALSE(chain<hp_scalar>(text).valid()) << text;
    EXPECT_TRUE(std::isinf(chain<hp_scalar>("1 / 0").eval(hs_)))
        << "scalar division is not guarded";
    EXPECT_TRUE(hp_scalar().valid() && !chain<hp_color>("1,1,1 1,1,1").valid());
    // Colours clamp and divide by channel.
    expect_color(chain<hp_color>("0.5,0.5,0.5 * 4,4,4").eval(hs_), 1, 1, 1, 1);
    expect_color(chain<hp_color>("0.2,0.4,0.6 - 0.5,0.5,0.5").eval(hs_), 0, 0, 0.1f, 0);
    // A zero divisor channel gives 0, not infinity.
    expect_color(chain<hp_color>("0.8,0.5,0.3 / 0,0.5,0").eval(hs_), 0, 1, 0, 1);
    expect_color(hp_color(kivColor(2, -1, 0.5f, 3)).eval(hs_), 1, 0, 0.5f, 1);
}

// --- Terms ------------------------------------------------------------------

TEST_F(ParamValues, LinstepOverFramesWithAndWithoutVariables) {
    hp_scalar s, all, from, bad;
    ASSERT_TRUE(s.set_linstep(10, 20, 0, 1));
    EXPECT_EQ((std::vector<float>{0, 0, 0.1f, 0.5f, 1, 1}),
              overFrames(s, {-5, 10, 11, 15, 20, 100}));
    hp_color c;
    ASSERT_TRUE(c.set_linstep(0, 4, kivColor(0, 0.4f, 1), kivColor(1, 0.8f, 0)));
    defs.frame = 1;
    expect_color(c.eval(hs_), 0.25f, 0.5f, 0.75f, 1);
    // Variables: start frame (truncated), end frame, start value, end value.
    hs_.vars[1] = 100.9, hs_.vars[2] = 200.0, hs_.vars[3] = 2.0, hs_.vars[4] = 4.0;
    ASSERT_TRUE(all.set_linstep(1, 2, 3, 4, HP_VAR_START | HP_VAR_END | HP_VAR_FROM | HP_VAR_TO));
    EXPECT_EQ((std::vector<float>{2, 3, 4}), overFrames(all, {100, 150, 200}));
    // Only the start value from a variable: the end value stays 8.
    ASSERT_TRUE(from.set_linstep(0, 10, 3, 8, HP_VAR_FROM));
    EXPECT_EQ((std::vector<float>{2, 5, 8}), overFrames(from, {0, 5, 10}));
    // Frames beyond an int saturate, and the ramp between them holds no
    // overflow; a start frame from a variable of 1e12 lies after every frame.
    hp_scalar far, late;
    ASSERT_TRUE(far.set_linstep(-3e9f, 3e9f, 0, 1));
    EXPECT_EQ((std::vector<float>{0.5f}), overFrames(far, {0}));
    hs_.vars[5] = 1e12;
    ASSERT_TRUE(late.set_linstep(5, 10, 2, 7, HP_VAR_START));
    EXPECT_EQ((std::vector<float>{2, 2}), overFrames(late, {0, 2000000000}));
    EXPECT_EQ(expected_text("linstep_vars.printed"), captured([&] {
                  EXPECT_FALSE(bad.set_linstep(0, 10, 12, 1, HP_VAR_FROM) || bad.set_var(10) ||
                               bad.set_var(-1) || bad.defined());
              }));
}

TEST_F(ParamValues, ImagestepStartFrames) {
    // A white pixel starts at frame 0, a black one at 100, 128/255 at
    // the truncation of 100 * (1 - 0.50196) = 49; the ramp lasts 10 frames.
    const std::tuple<std::uint32_t, std::vector<int>, std::vector<float>> cases[] = {
        {255, {0, 5, 11}, {0, 0.5f, 1}}, {0, {100, 104}, {0, 0.4f}}, {128, {49, 50}, {0, 0.1f}}};
    for (const auto& [red, frames, values] : cases) {
        const std::string name = std::to_string(red) + ".tex";
        testimg::add_flat(name, red << 24);
        hp_scalar s;
        ASSERT_TRUE(s.set_imagestep(name.c_str(), "r", 0, 100, 10, 0, 1));
        EXPECT_EQ(values, overFrames(s, frames)) << name;
    }
    // Start and end a whole int range apart, a ramp as long: no overflow.
    hp_scalar wide;
    ASSERT_TRUE(wide.set_imagestep("0.tex", "r", INT_MIN, INT_MAX, INT_MAX, 0, 1));
    EXPECT_EQ((std::vector<float>{0, 0}), overFrames(wide, {0, INT_MAX}));
}

// Noise reads (f u, f v, f r) for scalars and (f u, f v, 0) for colours.
TEST_F(ParamValues, NoiseTerms) {
    hp_scalar s;
    hp_color c;
    ASSERT_TRUE(s.set_noise(3, -1, 1) &&
                c.set_noise(2, kivColor(0, 0, 0), kivColor(1, 0.5f, 0.25f)));
    for (int i = 0; i < 20; ++i) {
        hs_.u = i * 0.05, hs_.v = 1.0 - i * 0.03, hs_.rand[0] = i * 0.041;
        const auto at = [&](double f, double r) {
            return noise3(kivVector(float(f * hs_.u), float(f * hs_.v), float(f * r)));
        };
        EXPECT_FLOAT_EQ(float(-1 + 2 * 0.5 * (at(3, hs_.rand[0]) + 1.0)), s.eval(hs_)) << i;
        const float t = float(0.5 * (at(2, 0) + 1.0));
        expect_color(c.eval(hs_), t, 0.5f * t, 0.25f * t, 1);
    }
}

TEST_F(ParamValues, ImageTerms) {
    testimg::add("grad.tex", 2, 1, [](int col, int) { return col ? 0xFF800040u : 0x33669900u; });
    hs_.u = 0.75, hs_.v = 0.5;
    hp_scalar green, range;
    hp_color rgb, ranged;
    ASSERT_TRUE(green.set_image("grad.tex", "g") &&
                range.set_image_range("grad.tex", "m", 10, 20) &&
                rgb.set_image("grad.tex", "bgr") &&
                ranged.set_image_range("grad.tex", "rgb", kivColor(0, 0, 0, 0),
                                       kivColor(1, 1, 0.5f, 0.5f)));
    EXPECT_FLOAT_EQ(128 / 255.0f, green.eval(hs_));
    EXPECT_FLOAT_EQ(10 + 10 * (64 / 255.0f), range.eval(hs_));
    // The channels come in the order r, g, b whatever the letters' order;
    // the fourth component of a three-channel lookup is 0.
    expect_color(rgb.eval(hs_), 1, 128 / 255.0f, 0, 0);
    hs_.u = 0.25;
    // base = (0, 0, 0, 1), delta = (1, 1, 0.5, 0): matte stays 1.
    expect_color(ranged.eval(hs_), 0.2f, 0.4f, 0.3f, 1);
}

TEST_F(ParamValues, CurveDataTermsAndImagesNamedByCurveData) {
    hp_scalar s;
    hp_color c;
    ASSERT_TRUE(s.set_crvdata(data("scalars10.crv").c_str(), 5) &&
                c.set_crvdata(data("colors4.crv").c_str(), 0));
    defs.frame = 8;
    EXPECT_TRUE(s.eval(hs_) == 30.5f && s.eval_const() == 30.5f);
    defs.frame = 1;
    expect_color(c.eval(hs_), 0.5f, 0.6f, 0.7f, 0.8f);

    const std::string list = write_temp(".crv", "first.tex\nsecond.tex\n");
    testimg::add_flat("first.tex", 0x336699CC);
    testimg::add_flat("second.tex", 0xFF00FF00);
    ASSERT_TRUE(s.set_image_crvdata(list.c_str(), "b", 3) &&
                c.set_image_crvdata(list.c_str(), "rgb", 3));
    defs.frame = 3;
    EXPECT_FLOAT_EQ(0.6f, s.eval(hs_));
    expect_color(c.eval(hs_), 0.2f, 0.4f, 0.6f, 0);
    defs.frame = 4;
    EXPECT_TRUE(s.eval(hs_) == 1.0f && s.eval_const() == 1.0f);
    std::remove(list.c_str());
}

// --- Constant evaluation and undefined values ----------------------------------

TEST_F(ParamValues, ConstantEvaluationOfEveryKind) {
    hp_scalar noise, linstep, image, range, var, imagestep;
    ASSERT_TRUE(noise.set_noise(5, 1, 3) && linstep.set_linstep(0, 10, 2, 7) &&
                image.set_image("never_read.tex", "r") &&
                range.set_image_range("never_read.tex", "m", 10, 20));
    EXPECT_EQ((std::vector<float>{3, 7, 1, 20}),
              (std::vector<float>{noise.eval_const(), linstep.eval_const(), image.eval_const(),
                                  range.eval_const()}));
    EXPECT_TRUE(testimg::requests.empty());
    // A variable reads the hair's value.
    var.set_var(9);
    hs_.vars[9] = -2.5;
    EXPECT_EQ(-2.5f, var.eval(hs_));
    imagestep.set_imagestep("x.tex", "r", 0, 1, 1, 0, 1);
    // Variables and imagesteps have no constant value; nothing undefined (a
    // term inside a chain too) can be evaluated.
    hp_scalar sum = chain<hp_scalar>("1 + 2"), none;
    sum.next->reset();
    for (const hp_scalar* s : {&var, &imagestep, &none})
        expectUndefined([&] { s->eval_const(); }, "hp_scalar");
    for (const hp_scalar* s : {&none, &sum}) expectUndefined([&] { s->eval(hs_); }, "hp_scalar");
    expectUndefined([&] { hp_color().eval(hs_); }, "hp_color");
}

// --- Builders -------------------------------------------------------------------

TEST(ParamBuilders, ChannelCodesAndImageTermsAndDollarsAreMarked) {
    EXPECT_EQ((std::vector<int>{0, 0, 1, 15, 3, 4, 2, 0}),
              (std::vector<int>{hp_channel_code(""), hp_channel_code(nullptr), hp_channel_code("r"),
                                hp_channel_code("mbgr"), hp_channel_code("rrg"),
                                hp_channel_count(15), hp_channel_count(3), hp_channel_count(0)}));
    std::string out;
    EXPECT_EQ("Bad channel coding (\"rgx\")",
              thrown<FurEBadParameter>([] { hp_channel_code("rgx"); }, &out));
    EXPECT_EQ("FATAL: bad channel coding (\"rgx\"), bye...", out);
    hp_scalar s;
    // Image terms need one channel, or three for colours.
    hp_color c;
    EXPECT_EQ(expected_text("image_channels.printed"), captured([&] {
                  EXPECT_FALSE(s.set_imagestep("a.tex", "rg", 0, 1, 1, 0, 1) ||
                               s.set_image_range("a.tex", "", 0, 1) ||
                               s.set_image_crvdata("a.tex", "rgbm", 0) ||
                               c.set_image("a.tex", "r"));
              }));
    EXPECT_FALSE(s.defined() || c.defined());
    // Names with a $ are marked for expansion.
    EXPECT_TRUE(s.set_imagestep("map.$F.tex", "g", 3, 30, 12, 0.5f, 2) &&
                std::string(s.name) == "$map.$F.tex");
    EXPECT_TRUE(s.set_crvdata("plain.crv", -4) && std::string(s.name) == "plain.crv");
}
