// Shadow maps: the entries of a shadow map list, their set-up and release,
// and the multipliers that lighting asks for.
//
// Each entry of the list that the render settings carry (defs.shadows)
// stands for one light: either a depth map rendered from the light
// (kind 1) or the cheaper auto-shading (kind 2). Lighting finds a light's
// entry through the light's smap_index and asks for a multiplier per lit
// segment.
//
// Making maps, for each frame:
//   defs.shadows.shadow_pass = 1; smSetUpToCreate(&defs.shadows);
//   for each entry k: defs.shadows.current = k; a camera of N x N pixels
//     at the light (set_shadow_params with the entry's angle, the matrix of
//     lgtdb_get_new_shadow_matrix); z-buffer geometry and hairs;
//     camera.render_shadow_map(smSmapFileName(base, name, frame));
//   smFreeAfterCreate(&defs.shadows); defs.shadows.shadow_pass = 0.
// Using them (the use-shadows flag goes first: it makes the entries'
// matrices start from the camera space in which lighting looks points up):
//   defs.shadows.use_shadows = 1; smSetUpToUse(&defs.shadows, base, frame, camera);
//   render; smFreeAfterUse(&defs.shadows); defs.shadows.use_shadows = 0.
//
// The map file format and its reader and writer are in shadow_map_file.h.
#pragma once

#include <cstdint>
#include <string>

#include "descriptions/assign_db.h"
#include "foundation/fscale.h"
#include "foundation/matrix.h"
#include "foundation/vector_types.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

struct hair_light;
struct ShadowMapList;
class hair_camera;

// Entry kinds.
enum shadow_entry_kind : std::int32_t {
    SHADOW_NONE = 0,
    SHADOW_MAP = 1,   // a depth map rendered from the light
    SHADOW_AUTO = 2,  // auto-shading
};

// Largest filter size a light may ask for. The lookup visits (size)^2 map
// pixels per lit segment, so larger filters are refused at set-up.
constexpr int kShadowMaxFilterSize = 63;

// One Gaussian filter kernel of an entry.
struct ShadowMapKernel {
    std::int32_t size = 0;     // width and height
    float* weights = nullptr;  // size x size weights (owned)
};

// One entry of a shadow map list. The set-up functions allocate the
// entries and what they own; the matching free functions release them.
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
    // The kernels laid out on the lookup window, built at set-up for the
    // lookups: kernel_count blocks of 2R + 1 rows of 2R + 1 weights rounded
    // up to a multiple of 4, each row centred on the window and 0 outside
    // the kernel (R the larger filter half). Lookups on an entry without
    // them (or with another R) lay the kernels out on every call.
    float* window_weights = nullptr;  // (owned)
    std::int32_t window_radius = -1;  // R of window_weights
};

// --- Set-up and release ------------------------------------------------------------

// Fills the list with one kind-1 entry for each light that has a shadow
// map in the creation pass. 1 when there are no shadow lights (the list is
// left alone), else 0 after filling it.
int smSetUpToCreate(ShadowMapList* list);
// Frees the entries made by smSetUpToCreate and their names; count 0.
void smFreeAfterCreate(ShadowMapList* list);
// Fills the list for the final render: an entry per shadowing light, at
// the light's position in the assignment table's list; map lights open
// "<base>_<light>.<frame>.smap", auto-shaded lights take their settings.
// Links lights and entries both ways and builds the filter kernels. false
// when a map cannot be opened (a sendInfo error; the entries made so far
// stay) or a light's filter size is out of range (a message).
bool smSetUpToUse(ShadowMapList* list, const char* base, int frame, hair_camera& camera);
// Releases everything that smSetUpToUse acquired; count 0.
void smFreeAfterUse(ShadowMapList* list);

// The map file of a light for a frame: "<base>_<light>.<frame, 4 digits>.smap".
std::string smSmapFileName(const char* base, const char* light, int frame);

// --- Lookups -----------------------------------------------------------------------

// The map pixel (sx, sy) under a point P of the light's space, and the
// same position as fractions u, v of the map, clamped to [0, 1].
void smCalcShadowScreenPoint(ShadowMapInfo* entry, const kivPoint& P, float& sx, float& sy,
                             float& u, float& v);
// The projector colour at (u, v), premultiplied by its matte: 1 and rgb,
// or 0 without a projector image.
int smCalcProjection(ShadowMapInfo* entry, float u, float v, kivVector& rgb);
// The light reaching P (in the space the entry's matrix starts from) as a
// multiplier; 1 when the entry's map is not open. root_scale is that of
// the model being haired (it scales the depth biases). Filters the four
// maps with a Gaussian kernel whose size grows from lgt_filter_size for
// occluders next to the light to obj_filter_size for occluders next to
// the point, and darkens by lgt_darkness and obj_darkness likewise.
float smCalcShadowMultForPoint(ShadowMapInfo* entry, const kivPoint& P, float root_scale);
// The same for n points at once, point i with root scale root_scale[i],
// into out[i]: the very values of one lookup per point, worked out four
// points side by side.
void smCalcShadowMultForPoints(ShadowMapInfo* entry, int n, const kivPoint* P,
                               const float* root_scale, float* out);
// The width of the lookups' vectors: eight floats where the processor has
// AVX2 and limit is 8 or more, else four; returns the width now in use. A
// width of eight is the default. The multipliers are the same to the bit
// at either width, so that the machines of a farm agree.
int smLookupLanes(int limit);
// The auto-shading multiplier for a hair with root normal N at position t
// (0 root ... 1 tip) along it: self-shading towards the root times a
// back-shadow term from the angle between the light's direction and N.
// An entry without a light takes the light as shining onto the surface.
float smCalcAutoShadeMult(ShadowMapInfo* entry, const kivVector& N, float t);

// --- Filter kernels ----------------------------------------------------------------

// Fills kernel with the normalised Gaussian weights of a size x size
// filter: weight 2^(-2 d^2) at the offsets x = i / (size / 2) - 1,
// y = j / (size / 2) - 1 (0 for size 1). false when memory runs out.
bool smMakeKernel(ShadowMapKernel& kernel, int size);
// The weight of kernel at offset (dy, dx) from its centre; 0 outside it.
float smKernelWeight(const ShadowMapKernel& kernel, int dy, int dx);
// Lays the entry's kernels out on its lookup window (window_weights and
// window_radius), as set-up does; the lookups then skip doing it on every
// call. Call again after changing the kernels or the filter sizes. false
// when memory runs out. smFreeAfterUse releases them.
bool smMakeWindowWeights(ShadowMapInfo* entry);

KORVO_EXPORT_END
