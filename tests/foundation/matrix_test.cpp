#include "foundation/matrix.h"

#include <gtest/gtest.h>

#include <random>

#include "test_support.h"

namespace {

void expectNear(const kivMatrix& a, const kivMatrix& b, float tol = 0) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(a.m[i], b.m[i], tol) << "element " << i;
}

// Random entries in [-1, 1] plus 4 on the diagonal: comfortably invertible.
kivMatrix wellConditioned(std::mt19937& rng) {
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    kivMatrix m;
    for (int i = 0; i < 16; ++i) m.m[i] = u(rng) + (i % 5 == 0 ? 4.0f : 0.0f);
    return m;
}

}  // namespace

TEST(KivMatrix, LayoutTransposeProductsAndDeterminants) {
    kivMatrix m(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    for (int i = 0; i < 16; ++i)
        EXPECT_TRUE(m[i / 4][i % 4] == i && *m.index(i / 4, i % 4) == i) << i;
    *m.index(2, 1) = 42;
    EXPECT_EQ(42, m.transpose()[1][2]);
    EXPECT_EQ(42, m[2][1]) << "transpose leaves the original";
    m.identity();
    expectNear(m, kivMatrix(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1));
    const kivMatrix a(1, 2, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 3, 0, 0, 1);
    const kivMatrix b(2, 0, 0, 0, 1, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    expectNear(a * b, kivMatrix(4, 2, 0, 0, 1, 1, 0, 0, 0, 0, 1, 0, 6, 0, 0, 1));
    expectNear(a + b, kivMatrix(3, 2, 0, 0, 1, 2, 0, 0, 0, 0, 2, 0, 3, 0, 0, 2));
    expectNear(a - b, kivMatrix(-1, 2, 0, 0, -1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0));
    // With row vectors, A * B applies A first.
    expect_near((kivPoint(1, 2, 3) * a) * b, kivPoint(12, 4, 3), 0);
    EXPECT_EQ(-2, kivMatrix::det2x2(1, 2, 3, 4));
    EXPECT_EQ(-3, kivMatrix::det3x3(1, 2, 3, 4, 5, 6, 7, 8, 10));
    EXPECT_EQ(-120, kivMatrix(0, 3, 0, 0, 2, 0, 0, 0, 0, 0, 4, 0, 7, 8, 9, 5).det4x4());
}

// Determinant product rule, adjoint, and both inverses over random well-conditioned matrices.
TEST(KivMatrix, RandomMatricesInvertBothWays) {
    std::mt19937 rng(1234);
    for (int i = 0; i < 200; ++i) {
        SCOPED_TRACE(i);
        const kivMatrix a = wellConditioned(rng), b = wellConditioned(rng);
        const float d = a.det4x4();
        EXPECT_NEAR((a * b).det4x4(), d * b.det4x4(), 1e-4f * std::fabs(d * b.det4x4()));
        kivMatrix adj, scaled;
        a.adjoint(adj);
        for (int k = 0; k < 4; ++k) scaled[k][k] = d;
        expectNear(a * adj, scaled, 1e-3f * std::fabs(d));
        kivMatrix inv = a, inv2 = a;
        expectNear(inv.invert(), inv);
        expectNear(inv2.invert2(), inv2);
        expectNear(inv * a, kivMatrix(), 1e-5f);
        expectNear(a * inv, kivMatrix(), 1e-5f);
        expectNear(inv2, inv, 1e-5f);
    }
}

// Both inverses give the identity, in place and as result, for a singular
// matrix; the threshold of 0.0001 lies between determinants 5e-5 and 2e-4.
TEST(KivMatrix, SingularInvertsToIdentity) {
    const kivMatrix singular(1, 2, 3, 4, 2, 4, 6, 8, 0, 1, 0, 0, 0, 0, 1, 1);  // row 1 = 2 * row 0
    kivMatrix a = singular, b = singular;
    kivMatrix tiny(0.01f, 0, 0, 0, 0, 0.01f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 1);
    kivMatrix small(0.02f, 0, 0, 0, 0, 0.01f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    for (const kivMatrix& m : {a.invert(), a, b.invert2(), b, tiny.invert()})
        expectNear(m, kivMatrix());
    expectNear(small.invert(), kivMatrix(50, 0, 0, 0, 0, 100, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1), 1e-3f);
}

TEST(KivMatrix, EliminationExchangesZeroPivots) {
    // A permutation-like matrix needs a row exchange in column 0.
    const kivMatrix a(0, 2, 0, 0, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4);
    kivMatrix b, u = a, inv = a;
    EXPECT_EQ(1, u.lin_solv(b));
    EXPECT_EQ(1, u[0][0]);
    EXPECT_EQ(1, b[0][1]) << "the same exchange on the right-hand side";
    expectNear(inv.invert2() * a, kivMatrix(), 1e-6f);
    // Two exchanges give even parity; a zero column has no pivot at all.
    kivMatrix two(0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1), rhs;
    EXPECT_EQ(0, two.lin_solv(rhs));
    kivMatrix zeroColumn(0, 1, 0, 0, 0, 2, 1, 0, 0, 3, 0, 1, 0, 4, 1, 1);
    EXPECT_EQ(-1, zeroColumn.lin_solv(rhs));
    // Back substitution stops at a pivot below 0.0001.
    float column[4] = {1, 1, 1, 1}, rhsColumn[4] = {4, 8, 3, 1};
    EXPECT_EQ(-1, kivMatrix(1, 1, 0, 0, 0, 5e-5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1).lin_norm(column));
    EXPECT_EQ(0, kivMatrix(2, 1, 0, 0, 0, 4, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1).lin_norm(rhsColumn));
    EXPECT_EQ((std::vector<float>{1, 2, 3, 1}), std::vector<float>(rhsColumn, rhsColumn + 4));
}

TEST(KivMatrix, ZAlignRotation) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int i = 0; i < 100; ++i) {
        kivVector a(u(rng), u(rng), u(rng)), b(u(rng), u(rng), u(rng));
        if (a.length() < 0.1f || (a ^ b).length() < 0.1f) continue;
        kivMatrix r;
        r.make_z_align_rot(a, b);
        const kivVector z = kivVector(0, 0, 1) * r, x = kivVector(1, 0, 0) * r;
        SCOPED_TRACE(i);
        EXPECT_NEAR(0, (z - a / a.length()).length(), 1e-5f) << "z goes onto a";
        EXPECT_NEAR(0, x * a, 1e-5f);
        EXPECT_NEAR(0, x * b, 1e-5f);
        // A rotation: orthonormal with determinant 1.
        expectNear(r * r.transpose(), kivMatrix(), 1e-5f);
        EXPECT_NEAR(1, r.det4x4(), 1e-5f);
    }
    kivMatrix parallel;
    parallel.make_z_align_rot(kivVector(0, 0, 2), kivVector(0, 0, 5));
    expectNear(parallel, kivMatrix(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1));
}

TEST(KivMatrix, PrintFormat) {
    EXPECT_EQ(
        "The matrix is:\n1.000000 2.000000 3.000000 4.000000\n5.000000 6.000000 7.000000 "
        "8.000000\n9.000000 10.000000 11.000000 12.000000\n13.000000 14.000000 15.000000 "
        "16.500000\n",
        captured(
            [] { kivMatrix(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16.5f).print(); }));
}
