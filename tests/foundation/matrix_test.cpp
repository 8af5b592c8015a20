// Matrices and the products of points and vectors, against a double-precision
// model written here: row-major, points as row vectors on the left.
#include "foundation/matrix.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "test_support.h"

namespace {

using M4 = std::array<double, 16>;
const M4 kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

M4 product(const kivMatrix& a, const kivMatrix& b) {
    M4 r{};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            for (int k = 0; k < 4; ++k) r[4 * i + j] += double(a.m[4 * i + k]) * b.m[4 * k + j];
    return r;
}

// Gauss-Jordan with partial pivoting in double; the determinant comes along.
M4 inverse(const kivMatrix& a, double* det) {
    M4 m, r{};
    for (int i = 0; i < 16; ++i) m[i] = a.m[i], r[i] = i % 5 == 0;
    *det = 1;
    for (int c = 0; c < 4; ++c) {
        int p = c;
        for (int i = c + 1; i < 4; ++i)
            if (std::fabs(m[4 * i + c]) > std::fabs(m[4 * p + c])) p = i;
        if (p != c) *det = -*det;
        for (int j = 0; j < 4; ++j)
            std::swap(m[4 * c + j], m[4 * p + j]), std::swap(r[4 * c + j], r[4 * p + j]);
        const double d = m[5 * c];
        *det *= d;
        for (int j = 0; j < 4; ++j) m[4 * c + j] /= d, r[4 * c + j] /= d;
        for (int i = 0; i < 4; ++i) {
            const double f = i == c ? 0 : m[4 * i + c];
            for (int j = 0; j < 4; ++j)
                m[4 * i + j] -= f * m[4 * c + j], r[4 * i + j] -= f * r[4 * c + j];
        }
    }
    return r;
}

void expectNear(const M4& want, const kivMatrix& got, double tol, const char* what) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(want[i], got.m[i], tol) << what << " element " << i;
}

kivMatrix randomMatrix(std::mt19937& rng) {
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    kivMatrix m;
    for (int i = 0; i < 16; ++i) m.m[i] = u(rng) + (i % 5 == 0 ? 3.0f : 0.0f);
    return m;
}

}  // namespace

// Products, sums, transpose, determinant, adjugate and both inverses; and the
// four ways a point or vector meets a matrix. Random matrices are not
// symmetric, so a swapped argument or a missing transpose shows.
TEST(KivMatrix, AgreesWithADoublePrecisionModel) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> u(-2.0f, 2.0f);
    for (int n = 0; n < 200; ++n) {
        SCOPED_TRACE(n);
        const kivMatrix a = randomMatrix(rng), b = randomMatrix(rng);
        double det = 0;
        const M4 inv = inverse(a, &det);
        M4 sum, diff, trans, adj;
        for (int i = 0; i < 16; ++i) {
            sum[i] = a.m[i] + b.m[i], diff[i] = a.m[i] - b.m[i];
            trans[i] = a.m[4 * (i % 4) + i / 4], adj[i] = det * inv[i];
        }
        expectNear(product(a, b), a * b, 1e-5, "product");
        expectNear(sum, a + b, 0, "sum");
        expectNear(diff, a - b, 0, "difference");
        expectNear(trans, a.transpose(), 0, "transpose");
        EXPECT_NEAR(det, a.det4x4(), 1e-4 * std::fabs(det));
        kivMatrix adjugate, i1 = a, i2 = a;
        a.adjoint(adjugate);
        expectNear(adj, adjugate, 1e-3 * std::fabs(det), "adjoint");
        expectNear(inv, i1.invert(), 1e-5, "invert result");
        expectNear(inv, i1, 1e-5, "invert in place");
        expectNear(inv, i2.invert2(), 1e-5, "invert2 result");
        expectNear(inv, i2, 1e-5, "invert2 in place");
        // Row vector (x, y, z, 1) on the left; M times the column plus row 3.
        const kivPoint p(u(rng), u(rng), u(rng));
        const double h[4] = {p.x, p.y, p.z, 1};
        double post[3] = {}, pre[3] = {}, vpost[3] = {}, vpre[3] = {};
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 4; ++j) {
                post[i] += h[j] * a[j][i], vpost[i] += j < 3 ? h[j] * a[j][i] : 0;
                pre[i] += j < 3 ? a[i][j] * h[j] : a[3][i], vpre[i] += j < 3 ? a[i][j] * h[j] : 0;
            }
        kivPoint pp = p, qp = p;
        kivVector v(p), pv = v, qv = v;
        for (const auto& [got, want] : {std::pair{p * a, post},
                                        {pp.post_mult(a), post},
                                        {a * p, pre},
                                        {qp.pre_mult(a), pre},
                                        {kivPoint(v * a), vpost},
                                        {kivPoint(pv.post_mult(a)), vpost},
                                        {kivPoint(a * v), vpre},
                                        {kivPoint(qv.pre_mult(a)), vpre}})
            expect_near(got, kivPoint(want[0], want[1], want[2]), 1e-5f);
        // All four components: (p a) b is p (a b).
        kivPoint4 twice(p.x, p.y, p.z, 2), once = twice;
        twice *a, twice *b, once *(a * b);
        for (int i = 0; i < 4; ++i) EXPECT_NEAR((&once.x)[i], (&twice.x)[i], 1e-3) << i;
    }
    EXPECT_EQ(-2, kivMatrix::det2x2(1, 2, 3, 4));
    EXPECT_EQ(-3, kivMatrix::det3x3(1, 2, 3, 4, 5, 6, 7, 8, 10));
}

// Singular matrices give the identity in place and as result; the threshold
// 0.0001 lies between the determinants 5e-5 and 2e-4.
TEST(KivMatrix, SingularInvertsToIdentity) {
    kivMatrix cases[] = {{1, 2, 3, 4, 2, 4, 6, 8, 0, 1, 0, 0, 0, 0, 1, 1},
                         {0.01f, 0, 0, 0, 0, 0.01f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 1}};
    kivMatrix b = cases[0];  // invert2 looks at pivots, not the determinant
    expectNear(kIdentity, b.invert2(), 0, "invert2");
    expectNear(kIdentity, b, 0, "invert2 in place");
    for (kivMatrix& m : cases) {
        expectNear(kIdentity, m.invert(), 0, "invert");
        expectNear(kIdentity, m, 0, "in place");
    }
    kivMatrix small(0.02f, 0, 0, 0, 0, 0.01f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    EXPECT_NEAR(100, small.invert()[1][1], 1e-3);
}

// Row exchanges for zero pivots give the parity, no pivot gives -1; back
// substitution refuses a pivot below 0.0001.
TEST(KivMatrix, EliminationSteps) {
    kivMatrix one(0, 2, 0, 0, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4), rhs;
    kivMatrix two(0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1);
    kivMatrix none(0, 1, 0, 0, 0, 2, 1, 0, 0, 3, 0, 1, 0, 4, 1, 1);
    EXPECT_EQ(1, one.lin_solv(rhs));
    EXPECT_EQ(1, rhs[0][1]) << "the same exchange on the right-hand side";
    EXPECT_EQ(0, two.lin_solv(rhs));
    EXPECT_EQ(-1, none.lin_solv(rhs));
    float column[4] = {1, 1, 1, 1}, solved[4] = {4, 8, 3, 1};
    EXPECT_EQ(-1, kivMatrix(1, 1, 0, 0, 0, 5e-5f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1).lin_norm(column));
    EXPECT_EQ(0, kivMatrix(2, 1, 0, 0, 0, 4, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1).lin_norm(solved));
    EXPECT_EQ((std::vector<float>{1, 2, 3, 1}), std::vector<float>(solved, solved + 4));
}

// Local z goes onto a, local x is perpendicular to a and b, and the result
// is a rotation; parallel a and b leave x and y zero.
TEST(KivMatrix, ZAlignRotationAndPrint) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int i = 0; i < 100; ++i) {
        const kivVector a(u(rng), u(rng), u(rng)), b(u(rng), u(rng), u(rng));
        if (a.length() < 0.1f || (a ^ b).length() < 0.1f) continue;
        kivMatrix r;
        r.make_z_align_rot(a, b);
        const kivVector x = kivVector(1, 0, 0) * r, y = kivVector(0, 1, 0) * r;
        expect_near(kivVector(0, 0, 1) * r, a / a.length(), 1e-5f);
        EXPECT_NEAR(0, x * a + x * b, 1e-5f) << i;
        expect_near(x ^ y, a / a.length(), 1e-5f, "right-handed");
        expectNear(kIdentity, r * r.transpose(), 1e-5, "orthonormal");
    }
    kivMatrix parallel;
    parallel.make_z_align_rot(kivVector(0, 0, 2), kivVector(0, 0, 5));
    expectNear(M4{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}, parallel, 0, "parallel");
    EXPECT_EQ(
        "The matrix is:\n1.000000 2.000000 3.000000 4.000000\n5.000000 6.000000 7.000000 "
        "8.000000\n9.000000 10.000000 11.000000 12.000000\n13.000000 14.000000 15.000000 "
        "16.500000\n",
        captured(
            [] { kivMatrix(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16.5f).print(); }));
}
