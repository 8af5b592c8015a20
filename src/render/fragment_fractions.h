// The four 16-bit fractions of a hair fragment (r, g, b, a) worked on as
// one vector of floats. Every fragment insertion decodes, combines and
// encodes them; doing the four lanes at once keeps that free of branches.
//
// The results are bit for bit those of frac_decode and frac_encode applied
// to each lane: decoding divides by 65535 in float (one correctly rounded
// division per lane, as the scalar one). Encoding has the same two
// cut-offs (above 0.9999 is 65535; zero, negative and NaN are 0) and in
// between the floor of 65535 f, found in float without rounding: with
// A = 65536 f (exact) = n + φ, n its whole part and φ its fraction (both
// exact), 65535 f = A − f is n + (φ − f), whose floor is n when φ ≥ f and
// n − 1 when φ < f (f < 1). Callers combine lanes with separate
// multiplies and adds, as the scalar code does; the build does not fuse
// them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "render/fragment_list.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace frac4 {

// Lanes 0 ... 3 hold r, g, b and a.
typedef float floats __attribute__((vector_size(16)));

static_assert(offsetof(pixel_hair, g) == 2 && offsetof(pixel_hair, a) == 6,
              "the four fractions lie side by side at the start of a fragment");

#if defined(__SSE2__)

inline floats load(const pixel_hair& h) {
    // Widen the four 16-bit values to 32 bits, then divide.
    const __m128i w = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&h));
    const __m128i v = _mm_unpacklo_epi16(w, _mm_setzero_si128());
    const __m128 f = _mm_div_ps(_mm_cvtepi32_ps(v), _mm_set1_ps(65535.0f));
    const __m128 one = _mm_castsi128_ps(_mm_cmpgt_epi32(v, _mm_set1_epi32(65528)));
    return _mm_or_ps(_mm_and_ps(one, _mm_set1_ps(1.0f)), _mm_andnot_ps(one, f));
}

// The largest float not above 0.9999 (0.9999f itself, 0.99989998340...).
constexpr float kBelowFull = 0x1.fff2e4p-1f;
static_assert(kBelowFull <= 0.9999 && kBelowFull + 0x1p-24 > 0.9999, "the float below the cut-off");

// Four lanes encoded into 32-bit lanes.
inline __m128i encode(__m128 f) {
    const __m128 A = _mm_mul_ps(f, _mm_set1_ps(65536.0f));
    const __m128i n = _mm_cvttps_epi32(A);
    const __m128 frac = _mm_sub_ps(A, _mm_cvtepi32_ps(n));
    // n − 1 where the fraction is below f (the compare's mask is −1).
    __m128i m = _mm_add_epi32(n, _mm_castps_si128(_mm_cmplt_ps(frac, f)));
    const __m128i full = _mm_castps_si128(_mm_cmpgt_ps(f, _mm_set1_ps(kBelowFull)));
    m = _mm_or_si128(_mm_and_si128(full, _mm_set1_epi32(65535)), _mm_andnot_si128(full, m));
    return _mm_and_si128(m, _mm_castps_si128(_mm_cmpgt_ps(f, _mm_setzero_ps())));  // NaN too
}

inline void store(pixel_hair& h, floats f) {
    // 0 ... 65535 in 32 bits to 16 bits: shift into the signed range for
    // the saturating pack (which then leaves them alone), and back.
    const __m128i bias = _mm_set1_epi32(32768);
    const __m128i s = _mm_sub_epi32(encode(f), bias);
    const __m128i p = _mm_xor_si128(_mm_packs_epi32(s, s), _mm_set1_epi16(-32768));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(&h), p);
}

#else

inline floats load(const pixel_hair& h) {
    return floats{frac_decode(h.r), frac_decode(h.g), frac_decode(h.b), frac_decode(h.a)};
}

inline void store(pixel_hair& h, floats f) {
    h.r = frac_encode(f[0]);
    h.g = frac_encode(f[1]);
    h.b = frac_encode(f[2]);
    h.a = frac_encode(f[3]);
}

#endif

}  // namespace frac4
