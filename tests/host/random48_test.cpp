#include "host/random48.h"

#include <gtest/gtest.h>

#include <cstdlib>

// The C library's generators are the reference: ours must give the same
// sequences after the same seed while keeping a separate state.
TEST(Drand48, MatchesCLibraryForSeveralSeeds) {
    for (long seed : {0L, 1L, 42L, 123456789L, -7L, 0x7FFFFFFFL}) {
        ::srand48(seed);
        korvo_host::srand48(seed);
        for (int i = 0; i < 2000; ++i) {
            ASSERT_EQ(::drand48(), korvo_host::drand48()) << "seed " << seed << " draw " << i;
        }
    }
}

TEST(Drand48, StateIsSeparateFromCLibrary) {
    korvo_host::srand48(5);
    double first = korvo_host::drand48();
    korvo_host::srand48(5);
    ::srand48(99);
    for (int i = 0; i < 10; ++i) ::drand48();
    EXPECT_EQ(first, korvo_host::drand48());
}

TEST(Drand48, ValuesLieInUnitInterval) {
    korvo_host::srand48(7);
    for (int i = 0; i < 10000; ++i) {
        double d = korvo_host::drand48();
        ASSERT_GE(d, 0.0) << i;
        ASSERT_LT(d, 1.0) << i;
    }
}

TEST(Random, MatchesCLibraryAndIsNonNegative) {
    for (unsigned seed : {1u, 2u, 99u, 0u}) {
        ::srandom(seed);
        korvo_host::srandom(seed);
        for (int i = 0; i < 2000; ++i) {
            long ours = korvo_host::random();
            ASSERT_EQ(::random(), ours) << "seed " << seed << " draw " << i;
            ASSERT_GE(ours, 0) << i;
        }
    }
}
