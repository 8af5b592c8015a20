#include "foundation/vector_types.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

void ExpectPoint(const kivPoint& p, float x, float y, float z) {
    EXPECT_FLOAT_EQ(p.x, x);
    EXPECT_FLOAT_EQ(p.y, y);
    EXPECT_FLOAT_EQ(p.z, z);
}

void ExpectColor(const kivColor& c, float r, float g, float b, float a) {
    EXPECT_FLOAT_EQ(c.r, r);
    EXPECT_FLOAT_EQ(c.g, g);
    EXPECT_FLOAT_EQ(c.b, b);
    EXPECT_FLOAT_EQ(c.a, a);
}

// A matrix with distinct elements, so that rows and columns cannot be confused.
kivMatrix Distinct() {
    return kivMatrix(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
}

}  // namespace

TEST(KivPoint, DefaultsAndArithmetic) {
    ExpectPoint(kivPoint(), 0, 0, 0);
    const kivPoint p(1, 2, 3), q(4, -5, 6);
    ExpectPoint(p * q, 4, -10, 18);
    ExpectPoint(p + q, 5, -3, 9);
    ExpectPoint(p - q, -3, 7, -3);
    ExpectPoint(-p, -1, -2, -3);
    ExpectPoint(2.0f * p, 2, 4, 6);
    kivPoint r = p;
    r *= 3;
    r += q;
    ExpectPoint(r, 7, 1, 15);
    ExpectPoint(lerp(p, q, 0.5f), 2.5f, -1.5f, 4.5f);
}

TEST(KivPoint, DivisionMultipliesByRoundedReciprocal) {
    // 5 / 3 in float is 1.66666663; 5 times float(1/3) is 1.66666675.
    const kivPoint p(5, 5, 5);
    const float expected = 5.0f * static_cast<float>(1.0 / 3.0);
    ASSERT_NE(expected, 5.0f / 3.0f);
    EXPECT_EQ((p / 3.0f).x, expected);
    kivPoint q = p;
    q /= 3.0f;
    EXPECT_EQ(q.z, expected);
    kivVector v(5, 5, 5);
    EXPECT_EQ((v / 3.0f).y, expected);
    v /= 3.0f;
    EXPECT_EQ(v.x, expected);
}

TEST(KivPoint, DistanceAndDivZ) {
    EXPECT_FLOAT_EQ(kivPoint(1, 1, 1).distance(kivPoint(4, 5, 1)), 5.0f);
    EXPECT_EQ(kivPoint(1, 1, 1).distance(kivPoint(1, 1, 1 + 5e-6f)), 0.0f);
    kivPoint p(4, 6, 2);
    p.div_z();
    ExpectPoint(p, 2, 3, 1);
}

TEST(KivPoint, MatrixProducts) {
    const kivMatrix m = Distinct();
    const kivPoint p(1, 2, 3);
    // Row vector (1, 2, 3, 1) times M.
    ExpectPoint(p * m, 1 + 10 + 27 + 13, 2 + 12 + 30 + 14, 3 + 14 + 33 + 15);
    kivPoint q = p;
    q.post_mult(m);
    ExpectPoint(q, 51, 58, 65);
    // M times the column (1, 2, 3) plus row 3 as translation.
    ExpectPoint(m * p, 1 + 4 + 9 + 13, 5 + 12 + 21 + 14, 9 + 20 + 33 + 15);
    q = p;
    q.pre_mult(m);
    ExpectPoint(q, 27, 52, 77);
}

TEST(KivVector, ConstructionAndProducts) {
    EXPECT_TRUE(kivVector::origin == kivVector(0, 0, 0));
    const kivVector ab(kivPoint(1, 2, 3), kivPoint(4, 4, 4));
    EXPECT_TRUE(ab == kivVector(3, 2, 1));
    EXPECT_FALSE(ab == kivVector(3, 2, 1.0001f));
    const kivPoint asPoint = ab;
    ExpectPoint(asPoint, 3, 2, 1);
    const kivVector a(1, 2, 3), b(-2, 0.5f, 4);
    EXPECT_FLOAT_EQ(a * b, -2 + 1 + 12);
    EXPECT_FLOAT_EQ(a.dot(b), 11);
    const kivVector c = a ^ b;
    EXPECT_TRUE(c == kivVector(2 * 4 - 3 * 0.5f, 3 * -2 - 1 * 4, 1 * 0.5f - 2 * -2));
    EXPECT_FLOAT_EQ(c * a, 0);
    EXPECT_FLOAT_EQ(c * b, 0);
    EXPECT_FLOAT_EQ(a.sqrd_length(), 14);
}

TEST(KivVector, LengthAndNormTreatTinyAsZero) {
    kivVector tiny(0, 0, 1e-6f);
    EXPECT_EQ(tiny.length(), 0.0f);
    EXPECT_EQ(tiny.norm(), 0.0f);
    EXPECT_TRUE(tiny == kivVector(0, 0, 1e-6f));

    kivVector v(3, 0, 4);
    EXPECT_FLOAT_EQ(v.length(), 5);
    EXPECT_FLOAT_EQ(v.norm(), 5);
    EXPECT_FLOAT_EQ(v.x, 0.6f);
    EXPECT_EQ(v.y, 0.0f);
    EXPECT_FLOAT_EQ(v.z, 0.8f);
}

TEST(KivVector, Angles) {
    EXPECT_FLOAT_EQ(kivVector(1, 0, 0).rangle(kivVector(0, 2, 0)), static_cast<float>(M_PI / 2));
    EXPECT_FLOAT_EQ(kivVector(1, 0, 0).angle(kivVector(1, 1, 0)), 45.0f);
    EXPECT_FLOAT_EQ(kivVector(1, 0, 0).angle(kivVector(-3, 0, 0)), 180.0f);
    // Parallel vectors whose rounded cosine exceeds 1 still give 0.
    const kivVector v(0.1f, 0.7f, 0.3f);
    for (int i = 1; i < 50; ++i) {
        const float a = v.rangle(v * static_cast<float>(i));
        ASSERT_FALSE(std::isnan(a)) << i;
        ASSERT_NEAR(a, 0.0f, 1e-3f) << i;
    }
}

TEST(KivVector, MatrixProductsIgnoreTranslation) {
    const kivMatrix m = Distinct();
    const kivVector v(1, 2, 3);
    EXPECT_TRUE(v * m == kivVector(1 + 10 + 27, 2 + 12 + 30, 3 + 14 + 33));
    EXPECT_TRUE(m * v == kivVector(1 + 4 + 9, 5 + 12 + 21, 9 + 20 + 33));
    kivVector w = v;
    EXPECT_TRUE(w.post_mult(m).pre_mult(m) == m * (v * m));
}

TEST(KivPoint4, MatrixProductInPlaceOnAllFourComponents) {
    kivPoint4 p(1, 2, 3, 2);
    kivPoint4 q = p * Distinct();
    EXPECT_FLOAT_EQ(p.x, 1 + 10 + 27 + 26);
    EXPECT_FLOAT_EQ(p.y, 2 + 12 + 30 + 28);
    EXPECT_FLOAT_EQ(p.z, 3 + 14 + 33 + 30);
    EXPECT_FLOAT_EQ(p.w, 4 + 16 + 36 + 32);
    EXPECT_EQ(q.w, p.w);
}

TEST(KivColor, Construction) {
    ExpectColor(kivColor(), 0, 0, 0, 0);
    ExpectColor(kivColor(0.1f, 0.2f, 0.3f), 0.1f, 0.2f, 0.3f, 1);
    const float v[4] = {0.5f, 0.25f, 0.125f, 0.75f};
    ExpectColor(kivColor(v, 4), 0.5f, 0.25f, 0.125f, 0.75f);
    ExpectColor(kivColor(v, 3), 0.5f, 0.25f, 0.125f, 1);
}

TEST(KivColor, ArithmeticAndZeroDivisors) {
    const kivColor c(2, 4, 6, 8), d(2, 0, 3, 4);
    ExpectColor(c / d, 1, 0, 2, 2);
    ExpectColor(c * d, 4, 0, 18, 32);
    ExpectColor(c + d, 4, 4, 9, 12);
    ExpectColor(c - d, 0, 4, 3, 4);
    ExpectColor(c * 0.5f, 1, 2, 3, 4);
    ExpectColor(0.5f * c, 1, 2, 3, 4);
    ExpectColor(c / 4.0f, 0.5f, 1, 1.5f, 2);
    ExpectColor(c / 0.0f, 0, 0, 0, 0);
    kivColor e = c;
    e /= 0.0f;
    ExpectColor(e, 0, 0, 0, 0);
    e = c;
    e *= 2;
    e += d;
    ExpectColor(e, 6, 8, 15, 20);
    ExpectColor(lerp_color(c, d, 0.25f), 2, 3, 5.25f, 7);
}

TEST(KivColor, MatteAndClamp) {
    kivColor c(1, 2, 3, 0);
    c.div_matte();
    ExpectColor(c, 0, 0, 0, 1);
    c = kivColor(0.2f, 0.4f, 0.6f, 0.5f);
    c.div_matte();
    ExpectColor(c, 0.4f, 0.8f, 1.2f, 1);
    c = kivColor(0.4f, 0.8f, 1.0f, 0.5f);
    c.mult_matte();
    ExpectColor(c, 0.2f, 0.4f, 0.5f, 0.5f);
    c = kivColor(-1, 0.5f, 2, 1.5f);
    c.clamp();
    ExpectColor(c, 0, 0.5f, 1, 1);
}
