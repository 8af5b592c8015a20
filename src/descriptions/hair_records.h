// The records that carry one hair from shaping into the renderer.
//
// hair_state is the per-hair context (where the hair grows, its random
// numbers, its description and the values of its variables); control_hair
// is the shaped hair, a chain of points with a hair_vertex of attributes
// each; follicle is one segment as the rasteriser sets it up; and
// motion_blur_pnt is one corner of a screen polygon. These are plain
// records without virtual operations.
#pragma once

#include <cstdint>

#include "foundation/vector_types.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

struct hair_params;

// ---------------------------------------------------------------------------
// hair_vertex: the attributes of one point of a hair. All fourteen floats
// are 1.0 after default construction.
struct hair_vertex {
    kivColor ambient{1.0f, 1.0f, 1.0f, 1.0f};   // base colour
    kivColor diffuse{1.0f, 1.0f, 1.0f, 1.0f};   // times the diffuse light
    kivColor specular{1.0f, 1.0f, 1.0f, 1.0f};  // times the specular light
    float width = 1.0f;                         // world units
    float opacity = 1.0f;                       // 0 ... 1

    // Two lines: ambient, diffuse and opacity, then the width.
    void print() const;
};

// ---------------------------------------------------------------------------
// control_hair: one shaped hair, points from root (0) to tip (count - 1).
// The two arrays are owned; shaping refills one record per time sample for
// every hair, so a hair is valid only until the next one is shaped.
struct control_hair {
    std::int32_t count = 0;
    kivPoint* points = nullptr;
    hair_vertex* vertices = nullptr;

    control_hair() = default;
    // A hair of n points at the origin with default attributes (n > 0).
    explicit control_hair(int n) { allocate(n); }
    control_hair(const control_hair& other);
    control_hair(control_hair&& other) noexcept;
    control_hair& operator=(const control_hair& other);
    control_hair& operator=(control_hair&& other) noexcept;
    ~control_hair() { release(); }

    // Replaces the arrays by n default points and attributes; n of 0 or
    // less leaves an empty hair. Returns false when memory runs out (the
    // hair is then empty).
    bool allocate(int n);
    // Frees both arrays; count becomes 0.
    void release();

    // The point count, then each point followed by its attributes.
    void print() const;
};

// ---------------------------------------------------------------------------
// hair_state: the context of one hair, filled by spawning.
struct hair_state {
    double u = 0.0;                 // first surface parameter of the root
    double v = 0.0;                 // second surface parameter of the root
    double rand[4] = {0, 0, 0, 0};  // equalizer, baldness, orientation, scraggle seed
    kivPoint pos;                   // root, time sample 0
    kivVector normal;               // surface normal, time sample 0
    kivVector dir;                  // surface direction, time sample 0
    kivVector dir2;                 // further direction shared by both samples
    kivPoint pos_mb;                // root, time sample 1
    kivVector normal_mb;            // surface normal, time sample 1
    kivVector dir_mb;               // surface direction, time sample 1
    kivVector dir2_mb;              // further direction, time sample 1
    hair_params* params = nullptr;  // the description this hair follows (not owned)
    std::int32_t sample = 0;        // time sample described: 0 or 1
    double vars[10] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // values of the ten variables
};

// ---------------------------------------------------------------------------
// clump_centre: a hair that the hairs of a clump follow.
struct clump_centre {
    kivPoint root;        // root, already moved by the description's offset
    kivVector direction;  // unit growth direction
};

// ---------------------------------------------------------------------------
// follicle: one segment of a hair between points i (p1) and i + 1 (p2).
struct follicle {
    kivPoint p1;  // camera space; then x, y become pixel column and row
    kivPoint p2;
    hair_vertex attr1;    // attributes at p1
    hair_vertex attr2;    // attributes at p2
    kivPoint lcalc_pos;   // where lighting is computed: the midpoint
    kivVector lcalc_tan;  // unit direction from p1 to p2
    // Distances from the eye of p1 and p2; both -1 when the segment lies
    // wholly behind the camera. The rasteriser sets them for every segment;
    // they start at 0.
    float zdepth[2] = {0.0f, 0.0f};
    // Light arriving at the segment: [0] diffuse, [1] specular, [2] unused.
    kivColor mtl_components[3];

    void print() const;
};

// The colour of one end of a ribbon: the attributes a lit by the diffuse
// light d and the specular light s under the light model (0 ambient only,
// 1 plus diffuse, 2 plus specular, 3 specular only with an alpha from its
// brightness; other models give transparent black), clamped to [0, 1].
// While shadow maps are rendered every hair is opaque black.
kivColor hair_vertex_color(const hair_vertex& a, int light_model, const kivColor& d,
                           const kivColor& s);

// ---------------------------------------------------------------------------
// motion_blur_pnt: one vertex of a screen polygon.
struct motion_blur_pnt {
    float x = 0.0f;  // pixel column, relative to the crop window's low corner
    float y = 0.0f;  // pixel row, likewise
    float z = 0.0f;  // distance from the eye
    float r = 0.0f, g = 0.0f, b = 0.0f, a = 0.0f;  // vertex colour; a is the opacity

    motion_blur_pnt() = default;
    // One end of a segment: end 1 takes x1, y1, zdepth[0] and the colour
    // of attr1; any other end takes x2, y2, zdepth[1] and attr2. The colour
    // follows the light model of hp and the light stored in the follicle.
    motion_blur_pnt(const follicle& f, const hair_params* hp, float x1, float y1, float x2,
                    float y2, int end);

    void set_color(const kivColor& c) {
        r = c.r;
        g = c.g;
        b = c.b;
        a = c.a;
    }
};

KORVO_EXPORT_END
