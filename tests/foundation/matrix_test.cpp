#include "foundation/matrix.h"

#include <gtest/gtest.h>

#include <random>

namespace {

void ExpectMatrixNear(const kivMatrix& a, const kivMatrix& b, float tol) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(a.m[i], b.m[i], tol) << "element " << i;
}

bool IsIdentity(const kivMatrix& a) {
    const kivMatrix id;
    for (int i = 0; i < 16; ++i) {
        if (a.m[i] != id.m[i]) return false;
    }
    return true;
}

// Random entries in [-1, 1] plus 4 on the diagonal: comfortably invertible.
kivMatrix WellConditioned(std::mt19937& rng) {
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    kivMatrix m;
    for (int i = 0; i < 16; ++i) m.m[i] = u(rng) + (i % 5 == 0 ? 4.0f : 0.0f);
    return m;
}

kivMatrix Translation(float x, float y, float z) {
    return kivMatrix(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1);
}

}  // namespace

TEST(KivMatrix, LayoutAndAccess) {
    kivMatrix m;
    EXPECT_TRUE(IsIdentity(m));
    m = kivMatrix(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            EXPECT_EQ(m[i][j], 4 * i + j);
            EXPECT_EQ(*m.index(i, j), 4 * i + j);
        }
    }
    *m.index(2, 1) = 42;
    EXPECT_EQ(m.m[9], 42);
    const kivMatrix t = m.transpose();
    EXPECT_EQ(t[1][2], 42);
    EXPECT_EQ(m[2][1], 42);  // the original is unchanged
    m.identity();
    EXPECT_TRUE(IsIdentity(m));
}

TEST(KivMatrix, ProductSumAndDifference) {
    const kivMatrix a(1, 2, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 3, 0, 0, 1);
    const kivMatrix b(2, 0, 0, 0, 1, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    const kivMatrix ab = a * b;
    ExpectMatrixNear(ab, kivMatrix(4, 2, 0, 0, 1, 1, 0, 0, 0, 0, 1, 0, 6, 0, 0, 1), 0);
    ExpectMatrixNear(a + b, kivMatrix(3, 2, 0, 0, 1, 2, 0, 0, 0, 0, 2, 0, 3, 0, 0, 2), 0);
    ExpectMatrixNear(a - b, kivMatrix(-1, 2, 0, 0, -1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0), 0);
    // With row vectors, A * B applies A first.
    const kivPoint p(1, 2, 3);
    const kivPoint viaProduct = p * (Translation(1, 0, 0) * Translation(0, 5, 0));
    EXPECT_FLOAT_EQ(viaProduct.x, 2);
    EXPECT_FLOAT_EQ(viaProduct.y, 7);
    const kivPoint stepwise = (p * a) * b;
    const kivPoint combined = p * ab;
    EXPECT_FLOAT_EQ(stepwise.x, combined.x);
    EXPECT_FLOAT_EQ(stepwise.y, combined.y);
}

TEST(KivMatrix, Determinants) {
    EXPECT_EQ(kivMatrix::det2x2(1, 2, 3, 4), -2);
    EXPECT_EQ(kivMatrix::det3x3(2, 0, 0, 0, 3, 0, 0, 0, 4), 24);
    EXPECT_EQ(kivMatrix::det3x3(1, 2, 3, 4, 5, 6, 7, 8, 10), -3);
    EXPECT_EQ(kivMatrix(2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 7, 8, 9, 5).det4x4(), 120);
    // Exchanging two rows flips the sign.
    EXPECT_EQ(kivMatrix(0, 3, 0, 0, 2, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0, 5).det4x4(), -120);
    std::mt19937 rng(7);
    for (int i = 0; i < 50; ++i) {
        const kivMatrix a = WellConditioned(rng), b = WellConditioned(rng);
        const float expected = a.det4x4() * b.det4x4();
        EXPECT_NEAR((a * b).det4x4(), expected, 1e-4f * std::fabs(expected)) << i;
    }
}

TEST(KivMatrix, AdjointTimesMatrixIsDeterminantTimesIdentity) {
    std::mt19937 rng(11);
    for (int i = 0; i < 50; ++i) {
        const kivMatrix a = WellConditioned(rng);
        kivMatrix adj;
        a.adjoint(adj);
        const float d = a.det4x4();
        kivMatrix scaled;
        for (int k = 0; k < 4; ++k) scaled[k][k] = d;
        ExpectMatrixNear(a * adj, scaled, 1e-3f * std::fabs(d));
    }
}

TEST(KivMatrix, InverseOfRandomMatrices) {
    std::mt19937 rng(1234);
    for (int i = 0; i < 200; ++i) {
        const kivMatrix a = WellConditioned(rng);
        kivMatrix inv = a;
        const kivMatrix returned = inv.invert();
        for (int k = 0; k < 16; ++k) ASSERT_EQ(returned.m[k], inv.m[k]) << i;
        SCOPED_TRACE(i);
        ExpectMatrixNear(inv * a, kivMatrix(), 1e-5f);
        ExpectMatrixNear(a * inv, kivMatrix(), 1e-5f);
    }
}

TEST(KivMatrix, SingularInvertsToIdentity) {
    kivMatrix a(1, 2, 3, 4, 2, 4, 6, 8, 0, 1, 0, 0, 0, 0, 1, 1);  // row 1 = 2 * row 0
    EXPECT_TRUE(IsIdentity(a.invert()));
    EXPECT_TRUE(IsIdentity(a));
    // Determinant 5e-5 is below the threshold of 0.0001.
    kivMatrix tiny(0.01f, 0, 0, 0, 0, 0.01f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 1);
    EXPECT_TRUE(IsIdentity(tiny.invert()));
    // Determinant 2e-4 is above it.
    kivMatrix small(0.02f, 0, 0, 0, 0, 0.01f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    const kivMatrix inv = small.invert();
    EXPECT_NEAR(inv[0][0], 50, 1e-3);
    EXPECT_NEAR(inv[1][1], 100, 1e-3);
}

TEST(KivMatrix, EliminationInverseAgreesWithInvert) {
    std::mt19937 rng(99);
    for (int i = 0; i < 200; ++i) {
        const kivMatrix a = WellConditioned(rng);
        kivMatrix first = a, second = a;
        first.invert();
        const kivMatrix result = second.invert2();
        SCOPED_TRACE(i);
        ExpectMatrixNear(result, first, 1e-5f);
        ExpectMatrixNear(second, result, 0);
    }
    kivMatrix singular(1, 2, 3, 4, 2, 4, 6, 8, 0, 1, 0, 0, 0, 0, 1, 1);
    EXPECT_TRUE(IsIdentity(singular.invert2()));
    EXPECT_TRUE(IsIdentity(singular));
}

TEST(KivMatrix, EliminationExchangesZeroPivots) {
    // A permutation-like matrix needs a row exchange in column 0.
    kivMatrix a(0, 2, 0, 0, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4);
    kivMatrix b;
    kivMatrix u = a;
    EXPECT_EQ(u.lin_solv(b), 1);
    EXPECT_EQ(u[0][0], 1);
    EXPECT_EQ(b[0][1], 1);  // the same exchange on the right-hand side
    kivMatrix inv = a;
    ExpectMatrixNear(inv.invert2() * a, kivMatrix(), 1e-6f);

    // Two exchanges give even parity.
    kivMatrix two(0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1);
    kivMatrix rhs;
    EXPECT_EQ(two.lin_solv(rhs), 0);

    // A zero column has no pivot at all.
    kivMatrix zeroColumn(0, 1, 0, 0, 0, 2, 1, 0, 0, 3, 0, 1, 0, 4, 1, 1);
    EXPECT_EQ(zeroColumn.lin_solv(rhs), -1);

    // Back substitution stops at a pivot below 0.0001.
    const kivMatrix upper(1, 1, 0, 0, 0, 5e-5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    float column[4] = {1, 1, 1, 1};
    EXPECT_EQ(upper.lin_norm(column), -1);
    const kivMatrix good(2, 1, 0, 0, 0, 4, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    float rhsColumn[4] = {4, 8, 3, 1};
    EXPECT_EQ(good.lin_norm(rhsColumn), 0);
    EXPECT_FLOAT_EQ(rhsColumn[1], 2);
    EXPECT_FLOAT_EQ(rhsColumn[0], 1);
}

TEST(KivMatrix, ZAlignRotation) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int i = 0; i < 100; ++i) {
        kivVector a(u(rng), u(rng), u(rng)), b(u(rng), u(rng), u(rng));
        if (a.length() < 0.1f || (a ^ b).length() < 0.1f) continue;
        kivMatrix r;
        r.make_z_align_rot(a, b);
        kivVector z = kivVector(0, 0, 1) * r;
        kivVector x = kivVector(1, 0, 0) * r;
        kivVector an = a;
        an.norm();
        SCOPED_TRACE(i);
        EXPECT_NEAR(z.x, an.x, 1e-5f);
        EXPECT_NEAR(z.y, an.y, 1e-5f);
        EXPECT_NEAR(z.z, an.z, 1e-5f);
        EXPECT_NEAR(x * a, 0, 1e-5f);
        EXPECT_NEAR(x * b, 0, 1e-5f);
        // A rotation: orthonormal with determinant 1.
        ExpectMatrixNear(r * r.transpose(), kivMatrix(), 1e-5f);
        EXPECT_NEAR(r.det4x4(), 1, 1e-5f);
    }
    kivMatrix parallel;
    parallel.make_z_align_rot(kivVector(0, 0, 2), kivVector(0, 0, 5));
    EXPECT_EQ(parallel[0][0], 0);
    EXPECT_EQ(parallel[0][1], 0);
    EXPECT_EQ(parallel[0][2], 0);
    EXPECT_EQ(parallel[2][2], 1);
}

TEST(KivMatrix, PrintFormat) {
    const kivMatrix m(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16.5f);
    testing::internal::CaptureStdout();
    m.print();
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "The matrix is:\n"
              "1.000000 2.000000 3.000000 4.000000\n"
              "5.000000 6.000000 7.000000 8.000000\n"
              "9.000000 10.000000 11.000000 12.000000\n"
              "13.000000 14.000000 15.000000 16.500000\n");
}
