#include "host/korvo_quaternion.h"

#include <algorithm>
#include <cmath>

namespace {
// Below this a direction or a sine counts as zero.
constexpr double kTiny = 1e-12;
constexpr double kPi = 3.14159265358979323846;
}  // namespace

// --- KorvoPoint ------------------------------------------------------------------

KorvoVector KorvoPoint::operator-(const KorvoPoint& q) const {
    return {x - q.x, y - q.y, z - q.z};
}

KorvoPoint KorvoPoint::operator+(const KorvoVector& v) const {
    return {x + v.x, y + v.y, z + v.z, w};
}

KorvoPoint KorvoPoint::operator-(const KorvoVector& v) const {
    return {x - v.x, y - v.y, z - v.z, w};
}

KorvoPoint& KorvoPoint::operator+=(const KorvoVector& v) {
    x += v.x;
    y += v.y;
    z += v.z;
    return *this;
}

KorvoPoint KorvoPoint::cartesianize() const {
    if (w == 0.0) return {x, y, z, 1.0};
    return {x / w, y / w, z / w, 1.0};
}

double KorvoPoint::distanceTo(const KorvoPoint& q) const {
    return (*this - q).length();
}

// --- KorvoVector -----------------------------------------------------------------

double KorvoVector::length() const {
    return std::sqrt(x * x + y * y + z * z);
}

KorvoVector KorvoVector::normal() const {
    const double l = length();
    if (l <= kTiny) return {0.0, 0.0, 0.0};
    return {x / l, y / l, z / l};
}

double KorvoVector::angle(const KorvoVector& v) const {
    const double l = length() * v.length();
    if (l <= kTiny) return 0.0;
    // atan2 of sine and cosine keeps precision near 0 and pi.
    return std::atan2(((*this) ^ v).length(), (*this) * v);
}

KorvoVector rotateBy(const KorvoVector& v, const KorvoQuaternion& q) {
    const double l2 = q.dot(q);
    if (l2 <= kTiny * kTiny) return v;
    // q v q^-1 with q^-1 = conjugate / |q|^2.
    const KorvoQuaternion p(v.x, v.y, v.z, 0.0);
    KorvoQuaternion r = q * p * q.conjugate();
    return {r.x / l2, r.y / l2, r.z / l2};
}

// --- KorvoQuaternion ---------------------------------------------------------------

KorvoQuaternion::KorvoQuaternion(const KorvoVector& a, const KorvoVector& b) {
    const KorvoVector na = a.normal(), nb = b.normal();
    if (na.isZero() || nb.isZero()) return;
    const KorvoVector c = na ^ nb;
    const double s = c.length(), d = na * nb;
    if (s <= 1e-9) {
        if (d > 0.0) return;  // parallel: no rotation
        // Opposite: half a turn about any axis perpendicular to a.
        KorvoVector axis = na ^ KorvoVector(1.0, 0.0, 0.0);
        if (axis.length() < 1e-6) axis = na ^ KorvoVector(0.0, 1.0, 0.0);
        setAxisAngle(axis, kPi);
        return;
    }
    setAxisAngle(c, std::atan2(s, d));
}

KorvoQuaternion& KorvoQuaternion::setAxisAngle(const KorvoVector& axis, double angle) {
    const KorvoVector n = axis.normal();
    const double s = std::sin(angle * 0.5);
    x = n.x * s;
    y = n.y * s;
    z = n.z * s;
    w = std::cos(angle * 0.5);
    return *this;
}

bool KorvoQuaternion::getAxisAngle(KorvoVector& axis, double& angle) const {
    const KorvoQuaternion u = normal();
    const double s = std::sqrt(u.x * u.x + u.y * u.y + u.z * u.z);
    if (s <= kTiny) {
        axis = KorvoVector(0.0, 0.0, 1.0);
        angle = 0.0;
        return false;
    }
    axis = KorvoVector(u.x / s, u.y / s, u.z / s);
    angle = 2.0 * std::atan2(s, u.w);
    return true;
}

KorvoQuaternion KorvoQuaternion::operator*(const KorvoQuaternion& q) const {
    return {w * q.x + x * q.w + y * q.z - z * q.y, w * q.y - x * q.z + y * q.w + z * q.x,
            w * q.z + x * q.y - y * q.x + z * q.w, w * q.w - x * q.x - y * q.y - z * q.z};
}

double KorvoQuaternion::length() const {
    return std::sqrt(dot(*this));
}

KorvoQuaternion KorvoQuaternion::normal() const {
    const double l = length();
    if (l <= kTiny) return {};
    return {x / l, y / l, z / l, w / l};
}

KorvoQuaternion& KorvoQuaternion::scaleIt(double s) {
    x *= s;
    y *= s;
    z *= s;
    w *= s;
    return *this;
}

KorvoQuaternion slerp(const KorvoQuaternion& p, const KorvoQuaternion& q, double t) {
    const double lp = p.length(), lq = q.length();
    if (lp <= kTiny || lq <= kTiny) {
        // Nothing to turn through: a plain blend.
        return {p.x * (1.0 - t) + q.x * t, p.y * (1.0 - t) + q.y * t, p.z * (1.0 - t) + q.z * t,
                p.w * (1.0 - t) + q.w * t};
    }
    // q and -q are the same rotation: take the one on p's side.
    double c = p.dot(q) / (lp * lq);
    const double sign = c < 0.0 ? -1.0 : 1.0;
    c = std::min(1.0, c * sign);
    double a = 1.0 - t, b = t;
    if (c < 1.0 - 1e-9) {
        const double angle = std::acos(c), s = std::sin(angle);
        a = std::sin((1.0 - t) * angle) / s;
        b = std::sin(t * angle) / s;
    }
    b *= sign;
    return {p.x * a + q.x * b, p.y * a + q.y * b, p.z * a + q.z * b, p.w * a + q.w * b};
}
