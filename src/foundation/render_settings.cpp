#include "foundation/render_settings.h"

#include <type_traits>

// The record is laid out like a C struct and built without running code at
// load time, so static initialisers elsewhere already see the defaults.
static_assert(std::is_standard_layout<defaults>::value, "defs is addressed by layout");
static_assert(std::is_standard_layout<ShadowMapList>::value, "shadows is addressed by layout");
namespace {
[[maybe_unused]] constexpr defaults kConstantInitialised{};
}  // namespace

defaults defs;
int opt_flags = 0;
