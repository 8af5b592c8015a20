#include "host/korvo_quaternion.h"

#include <cmath>

#include "host/random48.h"
#include "test_support.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

void ExpectVector(const KorvoVector& v, double x, double y, double z, double eps = 1e-12) {
    expect_near(v, KorvoVector(x, y, z), eps);
}

KorvoVector RandomVector() {
    return {korvo_host::drand48() * 2 - 1, korvo_host::drand48() * 2 - 1,
            korvo_host::drand48() * 2 - 1};
}

}  // namespace

TEST(KorvoQuaternion, QuarterTurnsAboutTheAxes) {
    const KorvoQuaternion q(kPi / 2, KorvoVector(0, 1, 0)), z(kPi / 2, KorvoVector(0, 0, 1));
    ExpectVector(rotateBy(KorvoVector(0, 0, 1), q), 1, 0, 0);
    // The product applies its right factor first.
    ExpectVector(rotateBy(KorvoVector(1, 0, 0), z * q), 0, 0, -1);
    ExpectVector(rotateBy(KorvoVector(1, 0, 0), q * z), 0, 1, 0);
    // Scaling does not change the rotation; the zero quaternion rotates nothing.
    KorvoQuaternion s = q;
    s.scaleIt(0.25);
    EXPECT_DOUBLE_EQ(s.w, q.w * 0.25);
    ExpectVector(rotateBy(KorvoVector(0, 0, 1), s), 1, 0, 0);
    ExpectVector(rotateBy(KorvoVector(1, 2, 3), KorvoQuaternion(0, 0, 0, 0)), 1, 2, 3);
}

TEST(KorvoQuaternion, RotationBetweenVectorsAndAxisAngleRoundTrips) {
    korvo_host::srand48(7);
    for (int i = 0; i < 200; ++i) {
        const KorvoVector a = RandomVector(), b = RandomVector();
        const KorvoQuaternion q(a, b);
        EXPECT_NEAR(q.length(), 1.0, 1e-12) << i;
        const KorvoVector want = b.normal() * a.length();
        ExpectVector(rotateBy(a, q), want.x, want.y, want.z, 1e-9);
        // Its axis is perpendicular to both, its angle the angle between them.
        KorvoVector axis;
        double angle = 0;
        ASSERT_TRUE(q.getAxisAngle(axis, angle)) << i;
        EXPECT_NEAR(angle, a.angle(b), 1e-9) << i;
        EXPECT_NEAR(axis * a, 0.0, 1e-9) << i;
        // An axis of any length and an angle come back as set.
        const double turn = korvo_host::drand48() * 2 * kPi;
        KorvoQuaternion r;
        r.setAxisAngle(a * 3.0, turn);
        ASSERT_TRUE(r.getAxisAngle(axis, angle)) << i;
        EXPECT_NEAR(angle, turn, 1e-9) << i;
        ExpectVector(axis, a.normal().x, a.normal().y, a.normal().z, 1e-9);
    }
    // Parallel: identity; opposite: half a turn.
    EXPECT_EQ(KorvoQuaternion(KorvoVector(0, 0, 2), KorvoVector(0, 0, 1)), KorvoQuaternion());
    EXPECT_EQ(KorvoQuaternion(KorvoVector(), KorvoVector(0, 0, 1)), KorvoQuaternion());
    ExpectVector(rotateBy(KorvoVector(0, 0, 1),
                          KorvoQuaternion(KorvoVector(0, 0, 1), KorvoVector(0, 0, -3))),
                 0, 0, -1);
    // The identity has no axis.
    KorvoVector a;
    double t = 1;
    EXPECT_FALSE(KorvoQuaternion().getAxisAngle(a, t));
    EXPECT_EQ(t, 0.0);
    EXPECT_EQ(KorvoQuaternion(0, 0, 0, 0).normal(), KorvoQuaternion());
}

TEST(KorvoQuaternion, SlerpFollowsTheShorterArc) {
    const KorvoQuaternion p;
    const KorvoQuaternion q(kPi / 2, KorvoVector(0, 0, 1));
    const KorvoQuaternion half = slerp(p, q, 0.5);
    const double h = std::sqrt(0.5);
    EXPECT_NEAR(half.length(), 1.0, 1e-12);
    ExpectVector(rotateBy(KorvoVector(1, 0, 0), half), h, h, 0);
    EXPECT_EQ(slerp(p, q, 0.0), p);
    EXPECT_NEAR(slerp(p, q, 1.0).z, q.z, 1e-12);
    // -q is the same rotation: the blend takes the short way all the same.
    KorvoQuaternion m = q;
    m.scaleIt(-1);
    ExpectVector(rotateBy(KorvoVector(1, 0, 0), slerp(p, m, 0.5)), h, h, 0);
    // Weighted quaternions blend in proportion to their weights.
    KorvoQuaternion a(kPi / 4, KorvoVector(0, 0, 1)), b(-kPi / 4, KorvoVector(0, 0, 1));
    a.scaleIt(0.5);
    b.scaleIt(0.5);
    ExpectVector(rotateBy(KorvoVector(1, 0, 0), slerp(a, b, 0.5)), 1, 0, 0);
}
