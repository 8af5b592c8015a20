#include "host/random48.h"

#include <gtest/gtest.h>

#include <cstdlib>

// The C library's generators are the reference: ours must give the same
// sequences after the same seed. Draws alternate between the two, so any
// state shared with the C library shows as a difference.
TEST(Random48, MatchesCLibraryWithSeparateState) {
    for (long seed : {0L, 1L, 42L, 123456789L, -7L, 0x7FFFFFFFL}) {
        ::srand48(seed);
        korvo_host::srand48(seed);
        ::srandom(static_cast<unsigned>(seed));
        korvo_host::srandom(static_cast<unsigned>(seed));
        for (int i = 0; i < 2000; ++i) {
            const double d = korvo_host::drand48();
            const long r = korvo_host::random();
            ASSERT_EQ(::drand48(), d) << "seed " << seed << " draw " << i;
            ASSERT_EQ(::random(), r) << "seed " << seed << " draw " << i;
            ASSERT_TRUE(d >= 0.0 && d < 1.0 && r >= 0) << i;
        }
    }
}
