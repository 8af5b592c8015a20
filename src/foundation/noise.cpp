#include "foundation/noise.h"

#include <cmath>

#include "host/random48.h"

namespace {

constexpr int kLattice = 256;
constexpr int kTableSize = kLattice + 258;  // doubled for wrap-free lookups

struct NoiseTable {
    int perm[kTableSize];
    float grad[kTableSize][3];
};

// Fills one table set from the generator, which is seeded with 1 first.
void build_table(NoiseTable& t) {
    korvo_host::srandom(1);
    // Random unit gradients: components drawn in [-1, 1) until the vector
    // lies inside the unit ball, then normalised.
    for (int i = 0; i < kLattice; ++i) {
        float g[3];
        float len2;
        do {
            for (float& c : g) {
                c = static_cast<float>(korvo_host::random() % 512 - 256) * 0.00390625f;
            }
            len2 = g[0] * g[0] + g[1] * g[1] + g[2] * g[2];
        } while (len2 > 1.0f || len2 == 0.0f);
        const float len = std::sqrt(len2);
        for (int k = 0; k < 3; ++k) t.grad[i][k] = g[k] / len;
    }
    // A shuffled permutation of the lattice indices.
    for (int i = 0; i < kLattice; ++i) t.perm[i] = i;
    for (int i = kLattice - 1; i > 0; --i) {
        const int j = static_cast<int>(korvo_host::random() % kLattice);
        const int swap = t.perm[i];
        t.perm[i] = t.perm[j];
        t.perm[j] = swap;
    }
    // Repeat the start so that perm[i + b] and grad[b + bz] need no wrapping.
    for (int i = 0; i < kTableSize - kLattice; ++i) {
        t.perm[kLattice + i] = t.perm[i];
        for (int k = 0; k < 3; ++k) t.grad[kLattice + i][k] = t.grad[i][k];
    }
}

struct NoiseTables {
    NoiseTable set[4];
    NoiseTables() {
        for (NoiseTable& t : set) build_table(t);
    }
};

// Built on first use, which the initialiser below makes happen at load
// time; a static initialiser elsewhere that needs noise earlier still gets
// complete tables.
const NoiseTables& tables() {
    static const NoiseTables instance;
    return instance;
}

[[maybe_unused]] const NoiseTables& g_loadTimeTables = tables();

// Lattice cell and offsets of one coordinate.
using Axis = dnoise3_line::axis;

inline Axis lattice(double p) {
    const double t = p + 10000.0;
    const double whole = std::trunc(t);
    int cell;
    if (std::fabs(whole) < 2147483647.0) {
        cell = static_cast<int>(whole);
    } else {
        // Far out (or NaN): the cell index modulo the lattice, without an
        // out-of-range conversion.
        const double wrapped = std::fmod(whole, static_cast<double>(kLattice));
        cell = wrapped == wrapped ? static_cast<int>(wrapped) : 0;
    }
    Axis a;
    a.b0 = cell & (kLattice - 1);
    a.b1 = (a.b0 + 1) & (kLattice - 1);
    a.r0 = t - whole;
    a.r1 = a.r0 - 1.0;
    return a;
}

inline double s_curve(double t) {
    return t * t * (3.0 - 2.0 * t);
}

inline double at(const float* g, double rx, double ry, double rz) {
    return rx * g[0] + ry * g[1] + rz * g[2];
}

// One table set evaluated at (px, py, pz).
double eval(const NoiseTable& t, double px, double py, double pz) {
    const Axis ax = lattice(px), ay = lattice(py), az = lattice(pz);

    const int i = t.perm[ax.b0];
    const int j = t.perm[ax.b1];
    const int b00 = t.perm[i + ay.b0];
    const int b10 = t.perm[j + ay.b0];
    const int b01 = t.perm[i + ay.b1];
    const int b11 = t.perm[j + ay.b1];

    const double sx = s_curve(ax.r0);
    const double sy = s_curve(ay.r0);
    const double sz = s_curve(az.r0);

    // Lower z layer.
    double u = at(t.grad[b00 + az.b0], ax.r0, ay.r0, az.r0);
    double v = at(t.grad[b10 + az.b0], ax.r1, ay.r0, az.r0);
    double a = u + sx * (v - u);
    u = at(t.grad[b01 + az.b0], ax.r0, ay.r1, az.r0);
    v = at(t.grad[b11 + az.b0], ax.r1, ay.r1, az.r0);
    double b = u + sx * (v - u);
    const double c = a + sy * (b - a);

    // Upper z layer.
    u = at(t.grad[b00 + az.b1], ax.r0, ay.r0, az.r1);
    v = at(t.grad[b10 + az.b1], ax.r1, ay.r0, az.r1);
    a = u + sx * (v - u);
    u = at(t.grad[b01 + az.b1], ax.r0, ay.r1, az.r1);
    v = at(t.grad[b11 + az.b1], ax.r1, ay.r1, az.r1);
    b = u + sx * (v - u);
    const double d = a + sy * (b - a);

    return (c + sz * (d - c)) * 1.5;
}

}  // namespace

double noise3(const kivVector& p) {
    return eval(tables().set[3], p.x + 0.1234, p.y + 0.434343, p.z + 0.555);
}

double noise3(double t) {
    return noise3(kivVector(static_cast<float>(t), 0.0f, 0.0f));
}

kivVector dnoise3(const kivVector& p) {
    const NoiseTables& n = tables();
    return kivVector(static_cast<float>(eval(n.set[0], p.x + 0.1234, p.y + 0.434343, p.z + 0.555)),
                     static_cast<float>(eval(n.set[1], p.x + 0.34555, p.y - 2.64, p.z + 0.1)),
                     static_cast<float>(eval(n.set[2], p.x + 0.4321, p.y + 0.777, p.z + 0.41412)));
}

// --- Along a line ------------------------------------------------------------

namespace {

// The offsets dnoise3 adds to (x, y, z) for each of its components.
constexpr double kOffset[3][3] = {
    {0.1234, 0.434343, 0.555}, {0.34555, -2.64, 0.1}, {0.4321, 0.777, 0.41412}};

}  // namespace

dnoise3_line::dnoise3_line(float y, float z) {
    const NoiseTables& n = tables();
    for (int s = 0; s < 3; ++s) {
        component& k = k_[s];
        k.perm = n.set[s].perm;
        k.grad = n.set[s].grad[0];
        // The same sums as dnoise3's (y - 2.64 is y + -2.64 exactly).
        k.px0 = kOffset[s][0];
        k.py = y + kOffset[s][1];
        k.pz = z + kOffset[s][2];
        k.ay = lattice(k.py);
        k.az = lattice(k.pz);
        k.sy = s_curve(k.ay.r0);
        k.sz = s_curve(k.az.r0);
    }
}

// eval() of k's table set at (px, py, pz) with the y and z lattice of k:
// the same products and sums in the same order, those that do not depend
// on x taken from the corners of the cell.
double dnoise3_line::eval(component& k, double px) {
    const Axis ax = lattice(px);
    if (ax.b0 != k.cell) {
        // The corners of a new cell: gradient rows as eval() indexes them.
        const int* perm = k.perm;
        const int i = perm[ax.b0];
        const int j = perm[ax.b1];
        const int row[4] = {perm[i + k.ay.b0], perm[j + k.ay.b0], perm[i + k.ay.b1],
                            perm[j + k.ay.b1]};
        for (int layer = 0; layer < 2; ++layer) {
            const int bz = layer ? k.az.b1 : k.az.b0;
            const double rz = layer ? k.az.r1 : k.az.r0;
            for (int q = 0; q < 4; ++q) {
                const float* g = k.grad + 3 * (row[q] + bz);
                const double ry = q < 2 ? k.ay.r0 : k.ay.r1;
                k.c[layer * 4 + q] = {g[0], ry * g[1], rz * g[2]};
            }
        }
        k.cell = ax.b0;
    }
    const double sx = s_curve(ax.r0);
    const corner* c = k.c;
    // at() is rx * gx + ry * gy + rz * gz, summed left to right.
    auto at = [&](int q, double rx) { return rx * c[q].gx + c[q].ty + c[q].tz; };

    double u = at(0, ax.r0), v = at(1, ax.r1);
    double a = u + sx * (v - u);
    u = at(2, ax.r0), v = at(3, ax.r1);
    double b = u + sx * (v - u);
    const double lo = a + k.sy * (b - a);

    u = at(4, ax.r0), v = at(5, ax.r1);
    a = u + sx * (v - u);
    u = at(6, ax.r0), v = at(7, ax.r1);
    b = u + sx * (v - u);
    const double hi = a + k.sy * (b - a);

    return (lo + k.sz * (hi - lo)) * 1.5;
}

kivVector dnoise3_line::at(float x) {
    kivVector w;
    float* out[3] = {&w.x, &w.y, &w.z};
    for (int s = 0; s < 3; ++s) *out[s] = static_cast<float>(eval(k_[s], x + k_[s].px0));
    return w;
}
