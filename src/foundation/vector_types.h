// Points, vectors, homogeneous points and RGBA colours.
//
// All components are single precision. Where a quotient matters the rule is
// fixed: dividing by a scalar s multiplies by the float value of 1/s
// computed in double, and a length below 1e-5 counts as zero. Products with
// matrices treat points as row vectors on the left of the matrix.
#pragma once

#include <cmath>

#include "foundation/matrix.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

class kivVector;

// ---------------------------------------------------------------------------
// kivPoint: a position.
class kivPoint {
  public:
    float x, y, z;

    constexpr kivPoint() : x(0.0f), y(0.0f), z(0.0f) {}
    constexpr kivPoint(float px, float py, float pz) : x(px), y(py), z(pz) {}
    // The three components of a vector.
    constexpr kivPoint(const kivVector& v);  // NOLINT: points and vectors convert freely

    // --- Component-wise arithmetic ----------------------------------------
    kivPoint operator*(const kivPoint& q) const { return {x * q.x, y * q.y, z * q.z}; }
    kivPoint operator+(const kivPoint& q) const { return {x + q.x, y + q.y, z + q.z}; }
    kivPoint operator-(const kivPoint& q) const { return {x - q.x, y - q.y, z - q.z}; }
    kivPoint operator-() const { return {-x, -y, -z}; }
    kivPoint operator*(float s) const { return {x * s, y * s, z * s}; }
    kivPoint operator/(float s) const {
        const float inv = static_cast<float>(1.0 / static_cast<double>(s));
        return {x * inv, y * inv, z * inv};
    }
    void operator/=(float s) {
        const float inv = static_cast<float>(1.0 / static_cast<double>(s));
        x *= inv;
        y *= inv;
        z *= inv;
    }
    void operator*=(float s) {
        x *= s;
        y *= s;
        z *= s;
    }
    void operator+=(const kivPoint& q) {
        x += q.x;
        y += q.y;
        z += q.z;
    }

    // Euclidean distance to q, or 0 when it is below 1e-5.
    float distance(const kivPoint& q) const {
        const float dx = x - q.x, dy = y - q.y, dz = z - q.z;
        const float d = std::sqrt(dx * dx + dy * dy + dz * dz);
        return d < 1e-5 ? 0.0f : d;
    }
    // Perspective division by z: (x/z, y/z, 1).
    void div_z() {
        x /= z;
        y /= z;
        z = 1.0f;
    }

    // --- Products with matrices -------------------------------------------
    // (x, y, z, 1) * M, first three components (no division by w).
    kivPoint operator*(const kivMatrix& mat) const {
        const float* m = mat.m;
        return {x * m[0] + y * m[4] + z * m[8] + m[12], x * m[1] + y * m[5] + z * m[9] + m[13],
                x * m[2] + y * m[6] + z * m[10] + m[14]};
    }
    kivPoint& post_mult(const kivMatrix& mat) { return *this = *this * mat; }
    // M applied to the column (x, y, z), plus the translation row:
    // x'i = sum over j of M[i][j] * pj + M[3][i].
    kivPoint& pre_mult(const kivMatrix& mat);
};

inline kivPoint operator*(float s, const kivPoint& p) {
    return {s * p.x, s * p.y, s * p.z};
}

// ---------------------------------------------------------------------------
// kivVector: a direction.
class kivVector {
  public:
    float x, y, z;

    // The zero vector.
    static const kivVector origin;

    constexpr kivVector() : x(0.0f), y(0.0f), z(0.0f) {}
    constexpr kivVector(float vx, float vy, float vz) : x(vx), y(vy), z(vz) {}
    // The three components of a point.
    constexpr kivVector(const kivPoint& p) : x(p.x), y(p.y), z(p.z) {}  // NOLINT
    // The vector from a to b (b - a).
    constexpr kivVector(const kivPoint& a, const kivPoint& b)
        : x(b.x - a.x), y(b.y - a.y), z(b.z - a.z) {}

    // --- Products ---------------------------------------------------------
    // Dot product.
    float operator*(const kivVector& w) const { return x * w.x + y * w.y + z * w.z; }
    float dot(const kivVector& w) const { return *this * w; }
    // Cross product.
    kivVector operator^(const kivVector& w) const {
        return {y * w.z - z * w.y, z * w.x - x * w.z, x * w.y - y * w.x};
    }

    // --- Component-wise arithmetic ----------------------------------------
    kivVector operator+(const kivVector& w) const { return {x + w.x, y + w.y, z + w.z}; }
    kivVector operator-(const kivVector& w) const { return {x - w.x, y - w.y, z - w.z}; }
    kivVector operator-() const { return {-x, -y, -z}; }
    kivVector operator*(float s) const { return {x * s, y * s, z * s}; }
    kivVector operator/(float s) const {
        const float inv = static_cast<float>(1.0 / static_cast<double>(s));
        return {x * inv, y * inv, z * inv};
    }
    void operator/=(float s) {
        const float inv = static_cast<float>(1.0 / static_cast<double>(s));
        x *= inv;
        y *= inv;
        z *= inv;
    }
    void operator*=(float s) {
        x *= s;
        y *= s;
        z *= s;
    }
    void operator+=(const kivVector& w) {
        x += w.x;
        y += w.y;
        z += w.z;
    }
    bool operator==(const kivVector& w) const { return x == w.x && y == w.y && z == w.z; }
    bool operator!=(const kivVector& w) const { return !(*this == w); }

    // --- Length and angles ------------------------------------------------
    float sqrd_length() const { return x * x + y * y + z * z; }
    // The length, or 0 when it is below 1e-5.
    float length() const {
        const float l = std::sqrt(sqrd_length());
        return l < 1e-5 ? 0.0f : l;
    }
    // Normalises in place and returns the former length. A vector shorter
    // than 1e-5 is left unchanged and 0 is returned.
    float norm() {
        const float l = length();
        if (l == 0.0f) return 0.0f;
        const float inv = static_cast<float>(1.0 / static_cast<double>(l));
        x *= inv;
        y *= inv;
        z *= inv;
        return l;
    }
    // The angle to w in radians. The cosine is clamped to [-1, 1] so that
    // rounding never turns (anti)parallel vectors into NaN.
    float rangle(const kivVector& w) const;
    // The angle to w in degrees.
    float angle(const kivVector& w) const { return rangle(w) * 57.29578f; }

    // --- Products with matrices -------------------------------------------
    // (x, y, z, 0) * M: no translation.
    kivVector operator*(const kivMatrix& mat) const {
        const float* m = mat.m;
        return {x * m[0] + y * m[4] + z * m[8], x * m[1] + y * m[5] + z * m[9],
                x * m[2] + y * m[6] + z * m[10]};
    }
    kivVector& post_mult(const kivMatrix& mat) { return *this = *this * mat; }
    // M applied to the column (x, y, z): x'i = sum over j of M[i][j] * vj.
    kivVector& pre_mult(const kivMatrix& mat);
};

inline kivVector operator*(float s, const kivVector& v) {
    return {s * v.x, s * v.y, s * v.z};
}

constexpr kivPoint::kivPoint(const kivVector& v) : x(v.x), y(v.y), z(v.z) {}

// M * p: the matrix applied to the column (x, y, z), plus row 3 as translation.
inline kivPoint operator*(const kivMatrix& mat, const kivPoint& p) {
    const float* m = mat.m;
    return {m[0] * p.x + m[1] * p.y + m[2] * p.z + m[12],
            m[4] * p.x + m[5] * p.y + m[6] * p.z + m[13],
            m[8] * p.x + m[9] * p.y + m[10] * p.z + m[14]};
}
// M * v: the matrix applied to the column (x, y, z), no translation.
inline kivVector operator*(const kivMatrix& mat, const kivVector& v) {
    const float* m = mat.m;
    return {m[0] * v.x + m[1] * v.y + m[2] * v.z, m[4] * v.x + m[5] * v.y + m[6] * v.z,
            m[8] * v.x + m[9] * v.y + m[10] * v.z};
}
inline kivPoint& kivPoint::pre_mult(const kivMatrix& mat) {
    return *this = mat * *this;
}
inline kivVector& kivVector::pre_mult(const kivMatrix& mat) {
    return *this = mat * *this;
}

// ---------------------------------------------------------------------------
// kivPoint4: a homogeneous point (the control points of NURBS surfaces).
class kivPoint4 {
  public:
    float x, y, z, w;

    constexpr kivPoint4() : x(0.0f), y(0.0f), z(0.0f), w(0.0f) {}
    constexpr kivPoint4(float px, float py, float pz, float pw) : x(px), y(py), z(pz), w(pw) {}

    // (x, y, z, w) * M, all four components. The product transforms this
    // point in place and returns it, so both `p * M;` and `q = p * M` work.
    kivPoint4& operator*(const kivMatrix& mat) { return post_mult(mat); }
    kivPoint4& operator*=(const kivMatrix& mat) { return post_mult(mat); }
    kivPoint4& post_mult(const kivMatrix& mat) {
        const float* m = mat.m;
        const float nx = x * m[0] + y * m[4] + z * m[8] + w * m[12];
        const float ny = x * m[1] + y * m[5] + z * m[9] + w * m[13];
        const float nz = x * m[2] + y * m[6] + z * m[10] + w * m[14];
        const float nw = x * m[3] + y * m[7] + z * m[11] + w * m[15];
        x = nx;
        y = ny;
        z = nz;
        w = nw;
        return *this;
    }
};

// ---------------------------------------------------------------------------
// kivColor: red, green, blue and the matte (coverage) in a.
class kivColor {
  public:
    float r, g, b, a;

    constexpr kivColor() : r(0.0f), g(0.0f), b(0.0f), a(0.0f) {}
    // An opaque colour: a = 1.
    constexpr kivColor(float cr, float cg, float cb) : r(cr), g(cg), b(cb), a(1.0f) {}
    constexpr kivColor(float cr, float cg, float cb, float ca) : r(cr), g(cg), b(cb), a(ca) {}
    // r, g, b from v[0..2]; a from v[3] when n is 4, else 1.
    kivColor(const float* v, int n) : r(v[0]), g(v[1]), b(v[2]), a(n == 4 ? v[3] : 1.0f) {}

    // --- Component-wise arithmetic on all four components -----------------
    kivColor operator*(const kivColor& d) const { return {r * d.r, g * d.g, b * d.b, a * d.a}; }
    kivColor operator+(const kivColor& d) const { return {r + d.r, g + d.g, b + d.b, a + d.a}; }
    kivColor operator-(const kivColor& d) const { return {r - d.r, g - d.g, b - d.b, a - d.a}; }
    // Component-wise quotient; a zero divisor gives a zero component.
    kivColor operator/(const kivColor& d) const {
        return {d.r == 0.0f ? 0.0f : r / d.r, d.g == 0.0f ? 0.0f : g / d.g,
                d.b == 0.0f ? 0.0f : b / d.b, d.a == 0.0f ? 0.0f : a / d.a};
    }
    kivColor operator*(float s) const { return {r * s, g * s, b * s, a * s}; }
    void operator*=(float s) {
        r *= s;
        g *= s;
        b *= s;
        a *= s;
    }
    // All four multiplied by 1/s; all four become 0 when s is 0.
    kivColor operator/(float s) const {
        const float inv = s == 0.0f ? 0.0f : 1.0f / s;
        return *this * inv;
    }
    void operator/=(float s) { *this = *this / s; }
    void operator+=(const kivColor& d) {
        r += d.r;
        g += d.g;
        b += d.b;
        a += d.a;
    }

    // --- Matte ------------------------------------------------------------
    // Premultiplies: r, g, b times a; a unchanged.
    void mult_matte() {
        r *= a;
        g *= a;
        b *= a;
    }
    // Un-premultiplies: r, g, b divided by a (black when a is 0); a becomes 1.
    void div_matte() {
        if (a == 0.0f) {
            r = g = b = 0.0f;
        } else {
            r /= a;
            g /= a;
            b /= a;
        }
        a = 1.0f;
    }
    // Clamps each of the four components to [0, 1].
    void clamp() {
        r = clamp01(r);
        g = clamp01(g);
        b = clamp01(b);
        a = clamp01(a);
    }

  private:
    static float clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }
};

inline kivColor operator*(float s, const kivColor& c) {
    return {s * c.r, s * c.g, s * c.b, s * c.a};
}

// ---------------------------------------------------------------------------
// Linear interpolation: a + (b - a) * t.
inline kivPoint lerp(const kivPoint& a, const kivPoint& b, float t) {
    return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t};
}
inline kivColor lerp_color(const kivColor& a, const kivColor& b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t,
            a.a + (b.a - a.a) * t};
}

KORVO_EXPORT_END
