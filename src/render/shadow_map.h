// Shadow maps: the entries of a shadow map list and the multipliers that
// lighting asks for.
//
// Each entry of the list that the render settings carry (defs.shadows)
// stands for one light: either a depth map rendered from the light
// (kind 1) or the cheaper auto-shading (kind 2). Lighting finds a light's
// entry through the light's smap_index and asks for a multiplier per lit
// segment.
#pragma once

#include <cstdint>

#include "descriptions/assign_db.h"
#include "foundation/fscale.h"
#include "foundation/matrix.h"
#include "foundation/vector_types.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

struct hair_light;

// Entry kinds.
enum shadow_entry_kind : std::int32_t {
    SHADOW_NONE = 0,
    SHADOW_MAP = 1,   // a depth map rendered from the light
    SHADOW_AUTO = 2,  // auto-shading
};

// One Gaussian filter kernel of an entry.
struct ShadowMapKernel {
    std::int32_t size = 0;     // width and height
    float* weights = nullptr;  // size x size weights (owned)
};

// One entry of a shadow map list. The list's owner allocates and frees
// the entries and what they own.
struct ShadowMapInfo {
    std::int32_t kind = SHADOW_NONE;     // shadow_entry_kind
    MapParams params{};                  // shadow-map settings
    AutoParams auto_params{};            // auto-shading settings
    char* name = nullptr;                // the light's name (owned)
    hair_light* light = nullptr;         // the light, set at set-up (not owned)
    float proj_scale = 0.0f;             // 0.5 / tan(view angle)
    kivFscale xscale;                    // screen -0.5 ... 0.5 onto map columns 0 ... cols
    kivFscale yscale;                    // screen -0.5 ... 0.5 onto map rows 0 ... lines
    kivMatrix matrix;                    // from the space of the looked-up points to the light's
    std::int32_t kernel_count = 0;       // number of kernels
    ShadowMapKernel* kernels = nullptr;  // kernel_count filter kernels (owned)
};

// The light reaching P (camera space) through the entry's map, as a
// multiplier 0 ... 1; root_scale is that of the model being haired.
float smCalcShadowMultForPoint(ShadowMapInfo* entry, const kivPoint& P, float root_scale);
// The auto-shading multiplier for a hair with root normal N at the
// position t (0 root ... 1 tip) along it.
float smCalcAutoShadeMult(ShadowMapInfo* entry, const kivVector& N, float t);

KORVO_EXPORT_END
