#include "host/random48.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>

// drand48 is the published 48-bit generator: state (seed << 16) | 0x330E,
// then x <- (0x5DEECE66D x + 0xB) mod 2^48, each result x / 2^48. random has
// no published model: the C library's gives the reference sequence. Draws
// alternate with the C library's, so any shared state shows.
TEST(Random48, DocumentedSequencesWithSeparateState) {
    for (long seed : {0L, 1L, 42L, 123456789L, -7L, 0x7FFFFFFFL}) {
        std::uint64_t x = std::uint64_t(std::uint32_t(seed)) << 16 | 0x330E;
        korvo_host::srand48(seed), korvo_host::srandom(unsigned(seed));
        ::srandom(unsigned(seed)), ::srand48(seed + 1);
        for (int i = 0; i < 2000; ++i) {
            x = (0x5DEECE66Dull * x + 0xB) & ((1ull << 48) - 1);
            ASSERT_EQ(std::ldexp(static_cast<double>(x), -48), korvo_host::drand48())
                << seed << " " << i;
            ASSERT_EQ(::random(), korvo_host::random()) << seed << " " << i;
            ::drand48();
        }
    }
}
