#include "render/shared_rows.h"

namespace {

constexpr std::uint64_t kLow = 0xffffffffu;

std::uint64_t pack(std::uint32_t top, std::uint32_t bottom) {
    return (std::uint64_t(bottom) << 32) | top;
}

}  // namespace

void shared_rows_reset(shared_row_claims& c, int units) {
    c.word.store(pack(0, units > 0 ? static_cast<std::uint32_t>(units) : 0u));
    c.count.store(0);
    c.state.store(kZoneWalking);
}

int shared_rows_units(const shared_rows& z) {
    if (z.unit < 1 || z.row1 <= z.row0) return 0;
    return static_cast<int>((static_cast<long long>(z.row1) - z.row0 + z.unit - 1) / z.unit);
}

int shared_rows_claim(const shared_rows& z) {
    if (z.claims == nullptr) return -1;
    std::uint64_t now = z.claims->word.load();
    for (;;) {
        const std::uint32_t top = static_cast<std::uint32_t>(now & kLow);
        const std::uint32_t bottom = static_cast<std::uint32_t>(now >> 32);
        if (top >= bottom) return -1;
        const std::uint32_t unit = z.above ? top : bottom - 1;
        const std::uint64_t next = z.above ? pack(top + 1, bottom) : pack(top, bottom - 1);
        if (z.claims->word.compare_exchange_weak(now, next)) return static_cast<int>(unit);
    }
}
