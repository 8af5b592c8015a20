#include "foundation/vector_types.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "foundation/fscale.h"
#include "test_support.h"

// The values below as printed to nine digits, one a line: the scalars (norm,
// distances, dot products, angles), then points and vectors "x y z", then
// colours "r g b a" (vector_types.printed holds them). Distances below 1e-5
// are 0.
// Division multiplies by the float reciprocal: f and v hold 5 * float(1/3),
// which is not 5 / 3 in float. A tiny vector is left alone by norm; a
// rounded cosine above 1 still gives the angle 0. A colour divided by 0 is
// black, and by a zero channel that channel is 0.
TEST(KivPointAndVector, ArithmeticProductsAndAngles) {
    const kivPoint p(1, 2, 3), q(4, -5, 6);
    kivPoint r = 2.0f * -(q - p), f(5, 5, 5), z(4, 6, 2);
    const kivVector a(1, 2, 3), b(-2, 0.5f, 4);
    kivVector tiny(0, 0, 1e-6f), n(3, 0, 4), v(5, 5, 5);
    r *= 1.5f, r += q, z.div_z(), f /= 3.0f, v /= 3.0f;
    const float fv[4] = {0.5f, 0.25f, 0.125f, 0.75f};
    const kivColor c(2, 4, 6, 8), d(2, 0, 3, 4);
    kivColor e = c, m(1, 2, 3, 0), o(0.2f, 0.4f, 0.6f, 0.5f), k(-1, 0.5f, 2, 1.5f), back;
    e *= 2, e += d, e /= 2, m.div_matte(), o.mult_matte(), k.clamp(), (back = o).div_matte();
    char line[128];
    std::string out;
    for (float x : {n.norm(), tiny.length() + tiny.norm(), kivPoint(1, 1, 1).distance({4, 5, 1}),
                    kivPoint(1, 1, 1).distance({1, 1, 1 + 5e-6f}), a * b + a.dot(b),
                    kivVector(1, 0, 0).angle({1, 1, 0}), kivVector(1, 0, 0).rangle({-3, 0, 0})})
        out += (std::snprintf(line, sizeof line, "%.9g\n", x), line);
    for (const kivVector& x :
         {kivVector(r + p * q), kivVector(lerp(p, q, 0.25f)), kivVector(z), kivVector(f), v,
          kivVector(kivPoint(1, 2, 3), kivPoint(4, 4, 4)), a ^ b, tiny, n})
        out += (std::snprintf(line, sizeof line, "%.9g %.9g %.9g\n", x.x, x.y, x.z), line);
    for (const kivColor& x : {kivColor(fv, 4) + kivColor(fv, 3), c / d, c * d - d + 0.5f * c,
                              c / 0.0f, e, lerp_color(c, d, 0.25f), m, o, back, k})
        out +=
            (std::snprintf(line, sizeof line, "%.9g %.9g %.9g %.9g\n", x.r, x.g, x.b, x.a), line);
    std::ifstream file(KORVO_TEST_DATA "/foundation/vector_types.printed");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), out);
    const kivVector w(0.1f, 0.7f, 0.3f);
    for (float k : {3.0f, 7.0f, 13.0f, 49.0f}) EXPECT_NEAR(0.0f, w.rangle(w * k), 1e-3f) << k;
}

// n range [nlow, nhigh] onto r range [rlow, rhigh] and back; depths quantised
// with near as the largest value, clamped to [near, far], 0 when near equals far.
TEST(KivFscale, MapsRangesAndQuantisesDepth) {
    const kivFscale s(0, 720, -0.5f, 0.5f), flip(10, 20, 1, -1);
    EXPECT_FLOAT_EQ(0.5f, s.n_to_r(720) + s.n_to_r(0) + flip.n_to_r(12.5f));
    EXPECT_FLOAT_EQ(540 + 20, s.r_to_n(0.25f) + flip.r_to_n(-1));
    const zcalc z(1, 10);
    const float depths[] = {1, 10, 0.5f, 100, 5.5f};
    const std::uint32_t expected[] = {4294967295u, 0, 4294967295u, 0, 2147483648u};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(expected[i], z.zdepth(depths[i])) << depths[i];
    EXPECT_EQ(0u, zcalc(5, 5).zdepth(5) | zcalc(5, 5).zdepth(-1) | z.zdepth(std::nanf("")));
}
