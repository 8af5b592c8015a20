// Shaped hair as curves: every hair exactly as the renderer receives it
// (after shaping, clumping and attractors), in world space, written as
// linear curves for other renderers and 3D viewers.
//
// Two formats, chosen by the file name's extension:
//
//   .usda  a text scene with one BasisCurves prim "hair": type "linear",
//          curveVertexCounts (points per hair), points (world space),
//          widths per vertex (world units) and primvars:displayColor per
//          vertex (the hair's diffuse colour, root to tip).
//   .obj   one "v x y z r g b" line per point (position and the same
//          colour) and after each hair's points an "l" line joining them
//          from root to tip. OBJ has no widths; they are not written.
//
// The arrays of a .usda file follow each other, so while hairs arrive the
// points, widths, colours and counts are streamed to temporary files and
// joined when the file is closed: memory stays flat whatever the hair
// count.
#pragma once

#include <cstdio>
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

class hair_camera;
struct control_hair;
struct hair_state;

enum class curve_format { none, usda, obj };

// The format of a file name's extension (case-insensitive), none for others.
curve_format curve_format_of(const char* path);

class curve_writer {
  public:
    curve_writer() = default;
    ~curve_writer();
    curve_writer(const curve_writer&) = delete;
    curve_writer& operator=(const curve_writer&) = delete;

    // Creates the file (format from its extension). 1, or 0 with an
    // "ERROR:" line on standard output.
    int open(const char* path);
    // One hair as spawning hands it over: points in the description's
    // space, turned into world space by the description's matrix; widths
    // scaled by the world-units factor. Hairs of fewer than two points are
    // skipped.
    void add(const control_hair& hair, const hair_state& state);
    // Finishes the file. 1 when everything was written.
    int close();

    long curves() const { return curves_; }
    long points() const { return points_; }

  private:
    curve_format format_ = curve_format::none;
    FILE* out_ = nullptr;
    // The .usda arrays while hairs arrive.
    FILE* counts_ = nullptr;
    FILE* positions_ = nullptr;
    FILE* widths_ = nullptr;
    FILE* colors_ = nullptr;
    long curves_ = 0;
    long points_ = 0;
    bool failed_ = false;
};

// While it lives, every hair that spawning hands to the renderer is also
// added to the writer (before the sink installed earlier receives it);
// the destructor puts that sink back.
class curve_recording {
  public:
    explicit curve_recording(curve_writer& writer);
    ~curve_recording();
    curve_recording(const curve_recording&) = delete;
    curve_recording& operator=(const curve_recording&) = delete;
};

// The hairs of the current frame's models (list 0) to a curve file,
// without rendering: the hair walk of mdldb_hair with a sink that only
// records. cam is handed to the walk (its z-buffer is not touched). 1, or
// 0 with an "ERROR:" line.
int mdldb_export_curves(const char* path, hair_camera& cam);

KORVO_EXPORT_END
