// Lane vectors for the per-pixel loops: four floats that the compiler keeps
// in one register (SSE on x86-64, NEON on ARM) or, in functions built for
// AVX2, eight; with int vectors of the same lanes for masks. Every operation
// works lane by lane with the IEEE single-precision operation of the scalar
// code (no fused multiply-add: AVX2 alone does not bring it), so values
// worked out several at a time get the bits of one value at a time,
// whatever the width. The machines of a farm therefore agree.
//
// A function built for AVX2 (KORVO_BY_8) inlines the KORVO_LANES helpers,
// which are then built for it too; no eight-float vector crosses a call, so
// the warning about passing one without AVX does not apply.
#pragma once

#include <cstdint>

namespace simd {

typedef float f4 __attribute__((vector_size(16)));
typedef std::int32_t i4 __attribute__((vector_size(16)));
typedef float f8 __attribute__((vector_size(32)));
typedef std::int32_t i8 __attribute__((vector_size(32)));

#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
#define KORVO_LANES inline __attribute__((always_inline))
// The same for a lambda, written after its parameters.
#define KORVO_LANES_LAMBDA __attribute__((always_inline))

// The mask type, the width and the lane numbers of a float vector type.
template <class V>
struct lanes;
template <>
struct lanes<f4> {
    using mask = i4;
    static constexpr int n = 4;
    static KORVO_LANES mask numbers() { return mask{0, 1, 2, 3}; }
    static KORVO_LANES f4 all(float x) { return f4{x, x, x, x}; }
};
template <>
struct lanes<f8> {
    using mask = i8;
    static constexpr int n = 8;
    static KORVO_LANES mask numbers() { return mask{0, 1, 2, 3, 4, 5, 6, 7}; }
    static KORVO_LANES f8 all(float x) { return f8{x, x, x, x, x, x, x, x}; }
};

// The float vector of W lanes.
template <int W>
struct of_width;
template <>
struct of_width<4> {
    using type = f4;
};
template <>
struct of_width<8> {
    using type = f8;
};
template <int W>
using floats = typename of_width<W>::type;

// x in every lane.
template <class V>
KORVO_LANES V splat(float x) {
    return lanes<V>::all(x);
}

// v with lane `lane` replaced by x, in registers: writing one lane through
// memory would make the next whole-vector read wait for the store.
template <class V>
KORVO_LANES V with_lane(const V& v, int lane, float x) {
    return lanes<V>::numbers() == lane ? splat<V>(x) : v;
}

}  // namespace simd

// Eight lanes exist where the compiler can build a function for AVX2 and
// pick it at run time.
#if defined(__x86_64__) && defined(__GNUC__)
#define KORVO_HAVE_BY_8 1
#define KORVO_BY_8 __attribute__((target("avx2")))
namespace simd {
// Whether this processor runs AVX2.
inline bool cpu_has_avx2() {
    __builtin_cpu_init();  // static initialisers may run before the library's own
    return __builtin_cpu_supports("avx2");
}
// Whether this processor runs SSE 4.1 (its one-instruction blends).
inline bool cpu_has_sse41() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse4.1");
}
}  // namespace simd
#else
#define KORVO_HAVE_BY_8 0
#define KORVO_BY_8
namespace simd {
inline bool cpu_has_avx2() {
    return false;
}
}  // namespace simd
#endif
