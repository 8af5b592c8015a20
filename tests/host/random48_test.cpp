#include "host/random48.h"

#include <gtest/gtest.h>

#include <cstdlib>

// The C library's generators are the reference: ours must give the same
// sequences after the same seed while keeping a separate state.
TEST(Drand48, MatchesCLibraryForSeveralSeedsInTheUnitInterval) {
    for (long seed : {0L, 1L, 42L, 123456789L, -7L, 0x7FFFFFFFL}) {
        ::srand48(seed);
        korvo_host::srand48(seed);
        for (int i = 0; i < 2000; ++i) {
            const double d = korvo_host::drand48();
            ASSERT_EQ(::drand48(), d) << "seed " << seed << " draw " << i;
            ASSERT_TRUE(d >= 0.0 && d < 1.0) << i;
        }
    }
}

TEST(Drand48, StateIsSeparateFromCLibrary) {
    korvo_host::srand48(5);
    const double first = korvo_host::drand48();
    korvo_host::srand48(5);
    ::srand48(99);
    for (int i = 0; i < 10; ++i) ::drand48();
    EXPECT_EQ(first, korvo_host::drand48());
    korvo_host::srandom(3);
    const long r = korvo_host::random();
    korvo_host::srandom(3);
    ::srandom(4);
    ::random();
    EXPECT_EQ(r, korvo_host::random());
}

TEST(Random, MatchesCLibraryAndIsNonNegative) {
    for (unsigned seed : {1u, 2u, 99u, 0u}) {
        ::srandom(seed);
        korvo_host::srandom(seed);
        for (int i = 0; i < 2000; ++i) {
            const long ours = korvo_host::random();
            ASSERT_EQ(::random(), ours) << "seed " << seed << " draw " << i;
            ASSERT_GE(ours, 0) << i;
        }
    }
}
