// Set-up and references shared by the geometry suites.
#pragma once

#include <fstream>
#include <string>

#include "geometry/nurbs_surface.h"

// A 4 x 4 bilinear patch over [0, 2] x [0, 1], knots 0 0 1 2 3 3 both ways;
// z = bend (x - 1)^2 at the control points.
inline void Patch(kivNurbSurface& s, float bend = 0) {
    s.set_nb_verts(4, 4), s.set_order(2, 2), s.alloc_lists();
    const float k[6] = {0, 0, 1, 2, 3, 3}, x[4] = {0, 2 / 3.0f, 4 / 3.0f, 2};
    s.set_uknots(6, k), s.set_vknots(6, k);
    for (int i = 0; i < 16; ++i)
        s.set_vert(i,
                   kivPoint4(x[i % 4], (i / 4) / 3.0f, bend * (x[i % 4] - 1) * (x[i % 4] - 1), 1));
}

// p M in double precision (row vector on the left, translation in the last row).
inline kivPoint Times(const kivPoint& p, const kivMatrix& m) {
    double r[3];
    for (int j = 0; j < 3; ++j)
        r[j] = double(p.x) * m.m[j] + double(p.y) * m.m[4 + j] + double(p.z) * m.m[8 + j] +
               m.m[12 + j];
    return kivPoint(float(r[0]), float(r[1]), float(r[2]));
}

// An exact expected text kept under tests/data/geometry.
inline std::string Expected(const char* name) {
    std::ifstream in(std::string(KORVO_TEST_DATA "/geometry/") + name);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
