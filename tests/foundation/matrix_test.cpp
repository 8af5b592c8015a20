// Matrices and the products of points and vectors, against a double-precision
// model written here: row-major, points as row vectors on the left. The
// adjugate times the matrix is the determinant times the identity, which
// checks both against each other (and the 2x2 and 3x3 determinants they
// are built from).
#include "foundation/matrix.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

#include "test_support.h"

namespace {

using M4 = std::array<double, 16>;
const M4 kIdentity = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

template <typename T>
M4 product(const float* a, const T* b) {
    M4 r{};
    for (int i = 0; i < 64; ++i)
        r[i / 4] += double(a[i / 16 * 4 + i % 4]) * b[i % 4 * 4 + i / 4 % 4];
    return r;
}

void expectNear(const M4& want, const kivMatrix& got, double tol, const char* what) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(want[i], got.m[i], tol) << what << " element " << i;
}

}  // namespace

// Random matrices (not symmetric, so a swapped argument or a missing
// transpose shows) and the ways a point or vector meets them.
TEST(KivMatrix, AgreesWithADoublePrecisionModel) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int n = 0; n < 200; ++n) {
        SCOPED_TRACE(n);
        kivMatrix a, b, adj, inv, inv2;  // inverses in place and as result
        for (int i = 0; i < 16; ++i) a.m[i] = u(rng) + (i % 5 ? 0 : 3), b.m[i] = u(rng);
        const double det = a.det4x4();  // checked through the adjugate below
        M4 sum, trans;
        for (int i = 0; i < 16; ++i) sum[i] = a.m[i] + b.m[i], trans[i] = a[i % 4][i / 4];
        a.adjoint(adj);
        inv = inv2 = a;
        expectNear(product(a.m, b.m), a * b, 1e-5, "product");
        expectNear(sum, a + b, 0, "sum");
        expectNear(sum, (a - b) + b + b, 1e-5, "difference");
        expectNear(trans, a.transpose(), 0, "transpose");
        for (int i = 0; i < 16; ++i) sum[i] = det * kIdentity[i];
        expectNear(sum, adj * a, 1e-3 * std::fabs(det), "adjoint");
        for (const kivMatrix& m : {inv.invert(), inv, inv2.invert2(), inv2})  // and in place
            expectNear(kIdentity, m * a, 1e-5, "inverse");
        // Row vector (x, y, z, 1 or 0) times M; M times the column, plus row 3 for a point.
        const kivPoint p(u(rng), u(rng), u(rng)), pa = p * a, ap = a * p;
        kivVector v(p), va = v * a, av = a * v;
        for (int i = 0; i < 3; ++i) {
            const float row = p.x * a[0][i] + p.y * a[1][i] + p.z * a[2][i];
            const float col = a[i][0] * p.x + a[i][1] * p.y + a[i][2] * p.z;
            EXPECT_NEAR(row + a[3][i], (&pa.x)[i], 1e-5);
            EXPECT_NEAR(row, (&va.x)[i], 1e-5);
            EXPECT_NEAR(col + a[3][i], (&ap.x)[i], 1e-5);
            EXPECT_NEAR(col, (&av.x)[i], 1e-5);
        }
        expect_near(kivPoint(p).post_mult(a), pa, 0), expect_near(kivPoint(p).pre_mult(a), ap, 0);
        expect_near(kivVector(v).post_mult(a), va, 0), expect_near(v.pre_mult(a), av, 0);
        // All four components: (p a) b is p (a b).
        kivPoint4 twice(p.x, p.y, p.z, 2), once = twice;
        twice *a, twice *b, once *(a * b);
        for (int i = 0; i < 4; ++i) EXPECT_NEAR((&once.x)[i], (&twice.x)[i], 1e-3) << i;
        // Local z goes onto a, local x is perpendicular to a and b, and the
        // result is a rotation (parallel a and b: below).
        const kivVector za(u(rng), u(rng), u(rng)), zb(u(rng), u(rng), u(rng));
        if (za.length() < 0.1f || (za ^ zb).length() < 0.1f) continue;
        kivMatrix r;
        r.make_z_align_rot(za, zb);
        const kivVector x = kivVector(1, 0, 0) * r, y = kivVector(0, 1, 0) * r;
        expect_near(kivVector(0, 0, 1) * r, za / za.length(), 1e-5f);
        EXPECT_NEAR(0, x * za + x * zb, 1e-5f);
        expect_near(x ^ y, za / za.length(), 1e-5f, "right-handed");
        expectNear(kIdentity, r * r.transpose(), 1e-5, "orthonormal");
    }
}

// Singular matrices give the identity in place and as result (invert's
// threshold 0.0001 on the determinant lies between 5e-5 and 2e-4); a zero
// pivot is exchanged (the result is the parity), no pivot at all gives -1.
// Aligning z with a direction parallel to the other leaves x and y zero.
TEST(KivMatrix, DegenerateCases) {
    kivMatrix singular(1, 2, 3, 4, 2, 4, 6, 8, 0, 1, 0, 0, 0, 0, 1, 1), other = singular, rhs;
    kivMatrix tiny(0.01f, 0, 0, 0, 0, 0.01f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 1);
    kivMatrix small(0.02f, 0, 0, 0, 0, 0.01f, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1);
    for (const kivMatrix& m : {singular.invert(), singular, other.invert2(), other, tiny.invert()})
        expectNear(kIdentity, m, 0, "singular");
    EXPECT_NEAR(100, small.invert()[1][1], 1e-3);
    kivMatrix one(0, 2, 0, 0, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4);
    kivMatrix none(0, 1, 0, 0, 0, 2, 1, 0, 0, 3, 0, 1, 0, 4, 1, 1);
    EXPECT_EQ(std::pair(1, -1), std::pair(one.lin_solv(rhs), none.lin_solv(rhs)));
    kivMatrix parallel;
    parallel.make_z_align_rot(kivVector(0, 0, 2), kivVector(0, 0, 5));
    expectNear(M4{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}, parallel, 0, "parallel");
}
