// Equalizer maps and area values for the host's fur tools.
//
// Hair density is given per unit of surface, but one hair description is
// often shared by surfaces of very different size, and one surface is
// stretched unevenly over its parameter space. mdldb_area_norm measures every
// hairy model of the current model list (as loaded and transformed for the
// frame) and produces:
//
//   - area values: one relative area per model, written into the assignment
//     file as an "area{" block (one block for all models, or one per hair
//     description), so that density can be scaled per model;
//   - equalizer maps: one 8-bit IFF image per model in the surface's (u, v)
//     space whose grey level tells how much surface each parameter cell
//     covers, written through the host's image library;
//   - with the update flag, the hair description file rewritten so that
//     every hair description reads its equalizer map (updateEqualizer).
//
// Files are rewritten through a copy named after the original with "_tmp"
// appended, which replaces the original only once it is complete: a failed
// rewrite leaves the original as it was.
#pragma once

#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// Area modes of mdldb_area_norm.
enum equalizer_area_mode {
    EQUALIZER_AREA_NONE = 0,      // no area values
    EQUALIZER_AREA_ALL = 1,       // one "area{" block for every model
    EQUALIZER_AREA_PER_HAIR = 2,  // one "\"<description>\" area{" block per description
};

// Largest width and height of an equalizer map. Larger (or non-positive)
// sizes are refused like an allocation that fails.
constexpr int kEqualizerMaxSide = 8192;

// Longest line the file rewriters handle at once (longer lines are handled
// in pieces of this many characters).
constexpr int kEqualizerMaxLine = 1023;

// Longest model name kept in a per-model map file name.
constexpr int kEqualizerMaxModelName = 260;

// The area pass, the map pass and the hair file update (see the file comment).
//   dir            directory of the maps; null means "."
//   prefix         first part of map names; null means "equal"; "tmp" selects
//                  per-model names and leaves reference maps alone
//   width, height  size of every equalizer map
//   areaMode       an equalizer_area_mode
//   assFile        assignment file receiving the area block(s); required
//                  when areaMode is not 0
//   updateHair     run updateEqualizer(hairFile, dir, prefix, suffix) at the end
//   makeMaps       write the equalizer maps
//   suffix         inserted after "eqMap" in every map name; may be empty
//   fillBackground fill the empty map cells from their neighbours first
// Failures are reported as messages; a map file that cannot be created
// raises FurEFailed "Fur: Couldn't open <file>".
void mdldb_area_norm(const char* dir, const char* prefix, int width, int height, int areaMode,
                     const char* assFile, bool updateHair, const char* hairFile, bool makeMaps,
                     const char* suffix, bool fillBackground);

// Rewrites the hair description file in place so that every hair
// description without an equalizer of its own reads its map: the shared map
// named by its "reference_equalmap" line, else the per-model map
// "<dir>/<prefix>_$M_eqMap<suffix>.iff", where $M stands for the model.
void updateEqualizer(const char* hairFile, const char* dir, const char* prefix, const char* suffix);

KORVO_EXPORT_END
