// Lights and how much light reaches a hair segment.
//
// The light database holds the lights of one frame in two lists: the
// light list for the shutter-open scene and the motion-blur list for the
// shutter-close scene. Functions that take an int `which` work on the
// light list when it is 0 and on the motion-blur list otherwise. Both
// lists share one count and one fill index. The scene reader makes room
// with lgtdb_init and fills the records that lgtdb_get_new hands out; the
// caller puts them into camera space (lgtdb_xform), builds the sample
// points of area lights (lgtdb_calc_simple_area_lights) and links shadow
// entries; the hair rasteriser asks for the light of every segment
// (lgtdb_calc_hair_lighting).
//
// Hair lighting: the diffuse term is the sine of the angle between the
// light vector and the hair tangent; the specular term is a power of the
// cosine of the difference between the light's and the eye's angles to
// the tangent. A light lights only the hairs of the models it is linked to.
#pragma once

#include <cstdint>

#include "foundation/matrix.h"
#include "foundation/names.h"
#include "foundation/vector_types.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

struct hair_state;

// Light types.
enum hair_light_type : std::int32_t {
    LIGHT_NULL = 0,
    LIGHT_SPOT = 1,
    LIGHT_POINT = 2,
    LIGHT_INFINITE = 3,
    LIGHT_SPOT_AREA = 4,
    LIGHT_POINT_AREA = 5,
};

// Bit of hair_light::flags: falloff_start and falloff_end are given.
constexpr std::int32_t LIGHT_HAS_FALLOFF = 1;

// Area light shapes, in light space.
enum hair_light_shape : std::int32_t {
    AREA_POINT = 0,   // every sample at the origin
    AREA_RECT = 1,    // the square -1 ... 1 in x and y
    AREA_SPHERE = 2,  // a ring of the unit sphere
    AREA_DISC = 3,    // the unit disc in the xy plane, covered by rings
};

// Codes of falloff_start below 0: divide by the distance to this power.
constexpr float LIGHT_FALLOFF_LINEAR = -1.0f;
constexpr float LIGHT_FALLOFF_SQUARE = -2.0f;
constexpr float LIGHT_FALLOFF_CUBE = -3.0f;

// ---------------------------------------------------------------------------
// hair_light: one light, stored by value in a list. A record owns its
// name reference, its link name references, the links array and the
// samples array, and releases them when destroyed. Records move (the
// source becomes a default record) but are not copied.
// Most samples an area light may have (usamples x vsamples): each lit hair
// segment visits every sample, and the counts come from the scene file.
constexpr int kMaxAreaLightSamples = 4096;

struct hair_light {
    std::int32_t type = LIGHT_NULL;       // hair_light_type
    std::int32_t flags = 0;               // LIGHT_HAS_FALLOFF
    kivColor color;                       // (0, 0, 0, 0); the scene file gives r, g, b and a = 1
    kivPoint position;                    // spot and point lights
    kivVector direction;                  // spot axis; an infinite light's light vector as it is
    float falloff_start = 0.0f;           // start of the linear falloff, or a negative code
    float falloff_end = 0.0f;             // end of the linear falloff
    float cone = 0.0f;                    // half-angle of the spot cone, degrees
    float penumbra = 0.0f;                // degrees; positive widens the cone, negative narrows it
    float dropoff = 0.0f;                 // spot dropoff exponent; 0 gives a factor of 1
    std::int32_t link_count = 0;          // entries of links
    kivMatrix matrix;                     // light space to world space
    kivMatrix area_matrix;                // light space to camera space (area lights)
    std::int32_t area_usamples = 5;       // area samples along the first parameter
    std::int32_t area_vsamples = 5;       // area samples along the second parameter
    std::int32_t area_shape = AREA_DISC;  // hair_light_shape
    kivPoint* samples = nullptr;          // area sample positions, camera space (owned)
    hair_name* name = nullptr;            // the light's name (one reference owned)
    // link_count names of the models the light lights, filled from the
    // front; the entries after the last name are null (owned references).
    hair_name** links = nullptr;
    std::int32_t smap_index = -1;   // the light's shadow entry, or -1
    std::int32_t samples_size = 0;  // entries allocated in samples

    hair_light() = default;
    hair_light(const hair_light&) = delete;
    hair_light& operator=(const hair_light&) = delete;
    hair_light& operator=(hair_light&& other) noexcept;
    ~hair_light() { release(); }

    // Releases the name, the links and the samples; the record becomes a
    // default record.
    void clear();

    // --- Links ------------------------------------------------------------------
    // Sets link_count to n (negative counts as 0), keeping the names of
    // the first n entries and releasing the others. False, with nothing
    // changed, when memory runs out.
    bool set_link_count(int n);
    // Stores name (taking over one reference) in the first empty entry of
    // links, which is allocated with link_count null entries at the first
    // name. False, with the reference given back, when there is no entry
    // for it (link_count of 0 or all entries used) or memory runs out.
    bool add_link(hair_name* name);

    // --- Light at a point (camera space) -------------------------------------------
    // The intensity at P before colour, with the shadow multiplier of the
    // light's entry; N is the hair's root normal and t the position along
    // the hair (0 root, 1 tip).
    float lighting(const kivPoint& P, const kivVector& N, float t) const;
    // The same without the shadow multiplier: cone, falloff and area
    // samples. lighting() is its product with the shadow multiplier, which
    // it looks up only where this is not zero.
    float unshadowed(const kivPoint& P, const kivVector& N) const;
    // lighting() at n points at once: out[i] = lighting(P[i], N[i], t) as
    // with defs.root_scale = root_scale[i]. The shadow-map lookups of the
    // points are made together, which is quicker. Allocates nothing.
    void lighting_many(int n, const kivPoint* P, const kivVector* N, const float* root_scale,
                       float t, float* out) const;
    // colour x sin(angle between light vector and T) x I.
    kivColor diffuse(const kivPoint& P, const kivVector& T, float I) const;
    // colour x cos(eye angle - light angle to T)^e x I, black when the
    // light and the eye lie on different sides of the hair's normal plane.
    kivColor specular(const kivPoint& P, const kivVector& T, float I, float e) const;
    // Spot cone, penumbra, dropoff and falloff for a light at origin.
    float calc_spot_light_mult(const kivPoint& origin, const kivPoint& P, const kivVector& N) const;
    // m after the distance falloff at distance d.
    float falloff_mult(float m, float d) const;
    // m after the dropoff at angle degrees from the spot axis.
    float dropoff_mult(float m, float angle) const;
    // The unnormalised vector from P towards the light: the direction of an
    // infinite light, the nearest sample of an area light (lowest index on
    // a tie), else the position.
    kivVector light_vector(const kivPoint& P) const;

  private:
    // unshadowed(), or 0 for a null light or a point at the light (with a
    // message).
    float before_shadow(const kivPoint& P, const kivVector& N) const;
    // Gives back the name and link references and frees links and samples.
    void release();
    // Every field, pointers included, from o.
    void copy_fields(const hair_light& o);
};

// --- The lists ---------------------------------------------------------------------

// Makes room for n more lights. which = 0: the light list gets n default
// records, or grows by n keeping the records handed out so far (with what
// they own); the count grows by n. which != 0: creates the motion-blur
// list with count records (n may not exceed count: "ERROR: %d motion blur
// lights, %d lights" and 0) and restarts the fill index; an existing
// motion-blur list is kept. Sets the clamping flag when the environment
// has KORVO_FUR_LIGHT_CLAMPING. 1, or 0 when memory runs out (nothing
// changes).
int lgtdb_init(int n, int which);
// The record at the fill index, which then advances; null when the fill
// index has reached the count.
hair_light* lgtdb_get_new(int which);
// Number of lights (shared by both lists), and the record at index i of
// the chosen list (null when out of range or the list is missing).
int lgtdb_count();
hair_light* lgtdb_get_index(int i, int which);

// --- Per frame ---------------------------------------------------------------------

// Positions times M; directions of spot, infinite and area lights times M
// without translation, normalised; area_matrix = matrix x M for area lights.
void lgtdb_xform(kivMatrix M, int which);
// The sample positions (camera space) of every area light of the list.
// Call after lgtdb_xform.
void lgtdb_calc_simple_area_lights(int which);
// Every named light of both lists that the assignment table excludes from
// the pass (pass non-zero: the shadow-map render) becomes a null light
// without name and samples.
void lgtdb_check_exclude(int pass);
// "WARNING: light (%s) not defined in .hair file!" for each named light
// that the hair description file gave no settings.
void lgtdb_check_defs(int which);

// --- Shadows -----------------------------------------------------------------------
// The entries are those of defs.shadows; an index outside the list leaves
// the entries alone.

// The first light named name becomes the light of entry index and gets
// smap_index = index.
void lgtdb_set_smap_index(const char* name, int index, int which);
// The first light named name becomes the light of entry index when it is
// a spot light (1); other types and unknown names print why and give 0.
int lgtdb_get_shadowmap_light(const char* name, int index, int which);
// For the spot light named name: makes it the light of entry index, sets
// the entry's view angle (cone + penumbra, or the map's cone override)
// and proj_scale, and returns the matrix from world space (shadow pass) or
// from camera space (use-shadows set; camera is world to camera) to light
// space. The identity, with a message, for unknown names and other types.
kivMatrix lgtdb_get_new_shadow_matrix(const char* name, int index, int which,
                                      const kivMatrix& camera);

// --- Lighting a segment ----------------------------------------------------------------

// The light arriving at one hair segment. Inputs, camera space: P the
// segment midpoint, T its unit tangent, N the hair's root normal; hs the
// hair (its description's light_model and sharpness); which the list; t
// = (segment index + 0.5) / segments. Also read: defs.model_name (the
// model whose hairs are lit; links are compared with it), defs.root_scale,
// defs.backface and the shadow state defs.shadows. Output: out[0] the
// diffuse light, out[1] the specular light; nothing is written during the
// shadow pass. Allocates nothing.
void lgtdb_calc_hair_lighting(const kivPoint& P, const kivVector& T, const kivVector& N,
                              const hair_state* hs, kivColor* out, int which, float t);

// --- Dump and clean-up ---------------------------------------------------------------

// Prints the chosen list as scene-file-like text.
void lgtdb_dump(int which);
// Destroys both lists; count and fill index become 0.
void lgtdb_cleanup();

KORVO_EXPORT_END
