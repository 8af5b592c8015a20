// Double-precision points, vectors and rotation quaternions of the host's
// plug-in interface, as the curve attractors use them.
//
// Quaternions are (x, y, z, w) with the vector part first. A rotation by
// the angle a about the unit axis n is (n sin(a/2), cos(a/2)). Rotating a
// vector v by q gives q v q^-1, which is a rotation for any non-zero q
// whatever its length. Points carry a homogeneous w (1 for a plain point).
#pragma once

#include <cstddef>
#include <vector>
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

class KorvoVector;

// ---------------------------------------------------------------------------
// KorvoPoint: a position with a homogeneous weight.
class KorvoPoint {
  public:
    double x = 0.0, y = 0.0, z = 0.0, w = 1.0;

    KorvoPoint() = default;
    KorvoPoint(double px, double py, double pz, double pw = 1.0) : x(px), y(py), z(pz), w(pw) {}

    // The vector from q to this point (both taken as plain points).
    KorvoVector operator-(const KorvoPoint& q) const;
    KorvoPoint operator+(const KorvoVector& v) const;
    KorvoPoint operator-(const KorvoVector& v) const;
    KorvoPoint& operator+=(const KorvoVector& v);
    // Every component, w included, times s (weighted sums of points).
    KorvoPoint operator*(double s) const { return {x * s, y * s, z * s, w * s}; }
    // Component sum, w included.
    KorvoPoint operator+(const KorvoPoint& q) const { return {x + q.x, y + q.y, z + q.z, w + q.w}; }
    bool operator==(const KorvoPoint& q) const {
        return x == q.x && y == q.y && z == q.z && w == q.w;
    }

    // Divides x, y, z by w (when w is not 0) and sets w to 1.
    KorvoPoint cartesianize() const;
    double distanceTo(const KorvoPoint& q) const;
};

// ---------------------------------------------------------------------------
// KorvoVector: a direction.
class KorvoVector {
  public:
    double x = 0.0, y = 0.0, z = 0.0;

    KorvoVector() = default;
    KorvoVector(double vx, double vy, double vz) : x(vx), y(vy), z(vz) {}

    KorvoVector operator+(const KorvoVector& v) const { return {x + v.x, y + v.y, z + v.z}; }
    KorvoVector operator-(const KorvoVector& v) const { return {x - v.x, y - v.y, z - v.z}; }
    KorvoVector operator-() const { return {-x, -y, -z}; }
    KorvoVector operator*(double s) const { return {x * s, y * s, z * s}; }
    KorvoVector& operator+=(const KorvoVector& v) {
        x += v.x;
        y += v.y;
        z += v.z;
        return *this;
    }
    // Dot product.
    double operator*(const KorvoVector& v) const { return x * v.x + y * v.y + z * v.z; }
    // Cross product.
    KorvoVector operator^(const KorvoVector& v) const {
        return {y * v.z - z * v.y, z * v.x - x * v.z, x * v.y - y * v.x};
    }
    bool operator==(const KorvoVector& v) const { return x == v.x && y == v.y && z == v.z; }

    double length() const;
    // The unit vector of this direction; the zero vector stays zero.
    KorvoVector normal() const;
    // Normalises in place (the zero vector stays zero).
    void normalize() { *this = normal(); }
    // The angle to v in radians, 0 when either is zero.
    double angle(const KorvoVector& v) const;
    bool isZero() const { return x == 0.0 && y == 0.0 && z == 0.0; }
};

class KorvoQuaternion;

// This vector rotated by q (q v q^-1); a zero quaternion leaves it unchanged.
KorvoVector rotateBy(const KorvoVector& v, const KorvoQuaternion& q);

// ---------------------------------------------------------------------------
// KorvoQuaternion.
class KorvoQuaternion {
  public:
    double x = 0.0, y = 0.0, z = 0.0, w = 1.0;

    // The identity rotation.
    KorvoQuaternion() = default;
    KorvoQuaternion(double qx, double qy, double qz, double qw) : x(qx), y(qy), z(qz), w(qw) {}
    // The rotation by angle (radians) about axis (normalised here).
    KorvoQuaternion(double angle, const KorvoVector& axis) { setAxisAngle(axis, angle); }
    // The shortest rotation that turns the direction of a onto that of b.
    // Parallel or zero vectors give the identity; opposite vectors a half
    // turn about an axis perpendicular to a.
    KorvoQuaternion(const KorvoVector& a, const KorvoVector& b);

    // --- Axis and angle -------------------------------------------------------
    KorvoQuaternion& setAxisAngle(const KorvoVector& axis, double angle);
    // The unit axis and the angle in [0, 2 pi] of the rotation; false (axis
    // (0, 0, 1), angle 0) when the rotation is the identity or q is zero.
    bool getAxisAngle(KorvoVector& axis, double& angle) const;

    // --- Arithmetic ---------------------------------------------------------
    // The Hamilton product: rotating by p * q rotates by q, then by p.
    KorvoQuaternion operator*(const KorvoQuaternion& q) const;
    KorvoQuaternion conjugate() const { return {-x, -y, -z, w}; }
    double length() const;
    // Unit length; the zero quaternion becomes the identity.
    KorvoQuaternion normal() const;
    KorvoQuaternion& normalizeIt() { return *this = normal(); }
    // All four components times s.
    KorvoQuaternion& scaleIt(double s);
    double dot(const KorvoQuaternion& q) const { return x * q.x + y * q.y + z * q.z + w * q.w; }
    bool operator==(const KorvoQuaternion& q) const {
        return x == q.x && y == q.y && z == q.z && w == q.w;
    }
};

// Spherical interpolation from p (t = 0) to q (t = 1) along the shorter
// arc. The arc angle is that between the directions of p and q in four
// dimensions; the coefficients sin((1 - t) a) / sin a and sin(t a) / sin a
// multiply p and q as given, so quaternions scaled by weights blend in
// proportion to their weights. Nearly equal directions blend linearly.
KorvoQuaternion slerp(const KorvoQuaternion& p, const KorvoQuaternion& q, double t);

// ---------------------------------------------------------------------------
// KorvoPointArray: a growable list of points. Clearing keeps the storage,
// so an array reused from hair to hair allocates only while it grows.
class KorvoPointArray {
  public:
    unsigned int length() const { return static_cast<unsigned int>(points_.size()); }
    void append(const KorvoPoint& p) { points_.push_back(p); }
    void clear() { points_.clear(); }
    KorvoPoint& operator[](unsigned int i) { return points_[i]; }
    const KorvoPoint& operator[](unsigned int i) const { return points_[i]; }

  private:
    std::vector<KorvoPoint> points_;
};

KORVO_EXPORT_END
