// Quaternions against a rotation-matrix model (Rodrigues' formula in double):
// rotating a vector, composing two rotations, and blending between them.
#include "host/korvo_quaternion.h"

#include <cmath>
#include <random>

#include "test_support.h"

namespace {

// The vector v turned by angle about the unit axis k.
KorvoVector rotated(const KorvoVector& v, const KorvoVector& k, double angle) {
    const double c = std::cos(angle), s = std::sin(angle);
    return v * c + (k ^ v) * s + k * ((k * v) * (1 - c));
}

}  // namespace

// q1 * q2 turns by q2 first. A rotation between two vectors takes the first
// onto the second's direction about their common normal; axis and angle come
// back as set; scaling changes no rotation.
TEST(KorvoQuaternion, RotationsAgreeWithAMatrixModel) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int i = 0; i < 200; ++i) {
        SCOPED_TRACE(i);
        const KorvoVector v(u(rng), u(rng), u(rng)), a(u(rng), u(rng), u(rng)),
            b(u(rng), u(rng), u(rng));
        const double alpha = 3 * u(rng), beta = 3 * u(rng);
        const KorvoQuaternion qa(alpha, a * 2.5), qb(beta, b);
        expect_near(rotateBy(v, qa), rotated(v, a.normal(), alpha), 1e-9);
        expect_near(rotateBy(v, qa * qb), rotated(rotated(v, b.normal(), beta), a.normal(), alpha),
                    1e-9);
        expect_near(rotateBy(v, KorvoQuaternion(qa).scaleIt(-0.25)), rotateBy(v, qa), 1e-9);
        const KorvoQuaternion between(a, b);
        EXPECT_NEAR(1.0, between.length(), 1e-12);
        expect_near(rotateBy(a, between), b.normal() * a.length(), 1e-9);
        KorvoVector axis;
        double angle = 0;
        ASSERT_TRUE(between.getAxisAngle(axis, angle));
        EXPECT_NEAR(a.angle(b), angle, 1e-9);
        expect_near(axis, (a ^ b).normal(), 1e-9);
        ASSERT_TRUE(qa.getAxisAngle(axis, angle));
        expect_near(rotateBy(v, KorvoQuaternion(angle, axis)), rotateBy(v, qa), 1e-9);
        // Half way along the blend is the rotation by half the relative turn.
        const KorvoQuaternion half = slerp(qa, qb, 0.5), rel = qb * qa.conjugate();
        ASSERT_TRUE(rel.getAxisAngle(axis, angle));
        const double turn = angle > M_PI ? angle - 2 * M_PI : angle;  // the shorter arc
        expect_near(rotateBy(v, half), rotated(rotateBy(v, qa), axis, turn / 2), 1e-9);
    }
    // Parallel vectors: the identity; opposite: half a turn; the identity has no axis.
    EXPECT_EQ(KorvoQuaternion(), KorvoQuaternion(KorvoVector(0, 0, 2), KorvoVector(0, 0, 1)));
    const KorvoVector up(0, 0, 1);
    expect_near(rotateBy(up, KorvoQuaternion(up, up * -3)), up * -1, 1e-12);
    KorvoVector axis;
    double angle = 1;
    EXPECT_FALSE(KorvoQuaternion().getAxisAngle(axis, angle));
    EXPECT_EQ(0.0, angle);
}
