#include "host/random48.h"

namespace korvo_host {

namespace {

// --- 48-bit linear congruential generator --------------------------------
constexpr std::uint64_t kLcgMultiplier = 0x5DEECE66DULL;
constexpr std::uint64_t kLcgAddend = 0xB;
constexpr std::uint64_t kLcgMask = (1ULL << 48) - 1;

std::uint64_t g_lcgState = 0x1234ABCD330EULL;  // the C library's unseeded state

// --- additive feedback generator (degree 31, separation 3) ----------------
constexpr int kDegree = 31;
constexpr int kSeparation = 3;
std::int32_t g_table[kDegree];
int g_front = kSeparation;  // index of the newer lag
int g_rear = 0;             // index of the older lag
bool g_seeded = false;

}  // namespace

void srand48(long seed) {
    std::uint64_t high = static_cast<std::uint32_t>(seed);
    g_lcgState = ((high << 16) | 0x330EULL) & kLcgMask;
}

double drand48() {
    g_lcgState = (kLcgMultiplier * g_lcgState + kLcgAddend) & kLcgMask;
    // The 48 bits are the fraction: exact in a double.
    return static_cast<double>(g_lcgState) / static_cast<double>(1ULL << 48);
}

void srandom(unsigned int seed) {
    if (seed == 0) seed = 1;
    g_table[0] = static_cast<std::int32_t>(seed);
    // Fill with the minimal standard generator 16807 * x mod (2^31 - 1),
    // computed without overflow by Schrage's method.
    for (int i = 1; i < kDegree; ++i) {
        std::int32_t word = g_table[i - 1];
        std::int32_t hi = word / 127773;
        std::int32_t lo = word % 127773;
        word = 16807 * lo - 2836 * hi;
        if (word < 0) word += 2147483647;
        g_table[i] = word;
    }
    g_front = kSeparation;
    g_rear = 0;
    g_seeded = true;
    // Discard the first 310 outputs so that the state is well mixed.
    for (int i = 0; i < 10 * kDegree; ++i) random();
}

long random() {
    if (!g_seeded) srandom(1);
    std::uint32_t sum =
        static_cast<std::uint32_t>(g_table[g_front]) + static_cast<std::uint32_t>(g_table[g_rear]);
    g_table[g_front] = static_cast<std::int32_t>(sum);
    long result = static_cast<long>(sum >> 1);
    if (++g_front >= kDegree) g_front = 0;
    if (++g_rear >= kDegree) g_rear = 0;
    return result;
}

}  // namespace korvo_host
