// Random number services of the host's foundation library.
//
// The library's generators live in their own namespace with their own state:
// a host that uses the C library's generators is not disturbed by ours, and
// we export no global drand48/random symbol that would replace the C
// library's in the host's process.
#pragma once

#include <cstdint>
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

namespace korvo_host {

// The published 48-bit linear congruential generator:
//   X(n+1) = (0x5DEECE66D * X(n) + 0xB) mod 2^48,
// seeded with the 32-bit seed in the high bits and 0x330E in the low 16 bits.
// After the same seed it gives the same doubles in [0, 1) as the C library.
void srand48(long seed);
double drand48();

// A reproducible sequence of non-negative 31-bit integers for the noise
// tables: the additive feedback generator of the C library's random(),
// kept here with separate state.
void srandom(unsigned int seed);
long random();

}  // namespace korvo_host

KORVO_EXPORT_END
