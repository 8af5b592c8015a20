// Direction maps for the host's fur tools.
//
// A user who combs fur in one world direction (say straight down) needs it
// expressed per surface as the two angles hair descriptions use: how far a
// hair leans away from the surface normal, and towards which side around the
// normal it points. mdldb_calc_dir_map samples every hairy model of the
// current model list on a regular (u, v) grid, turns one world direction into
// those two angles at each sample and writes them as 8-bit RLA images, one or
// two per model, for use as parameter maps:
//
//   lean    first angle: between the normal and the direction, 0 ... 90
//           degrees, stored as angle / 90 * 0.5 + 0.5;
//   polar   second angle: of the direction's projection into the tangent
//           plane, measured from the surface direction, -180 ... 180 degrees
//           (positive towards -binormal), stored as (angle + 180) / 360.
//
// With two files the lean map is "<prefix>E_<model>.rla" and the polar map
// "<prefix>P_<model>.rla", each value in red, green and blue; with one file,
// "<prefix>_<model>.rla" holds the lean in red and the polar value in green.
// Row r samples v = r / (height - 1), column c samples u = c / (width - 1);
// models other than NURBS surfaces get flat maps of 0.5 degrees for both.
#pragma once

#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// One requested direction, for the model named name or for every model
// ("default"). An all-zero direction means "no definition".
struct DirectionMapStruct {
    char name[80];       // model name or "default", zero-terminated
    float direction[3];  // world direction
    int width;           // columns of the maps
    int height;          // rows of the maps
};

// Largest width and height of a direction map.
constexpr int kDirectionMapMaxSide = 8192;

// Per-model directions: for each model the first record that names it, else
// the last record named "default", with that record's map size. Models
// without a record, or whose record has the zero direction, are skipped with
// "WARNING: Skipping model with no definition (<model>)."; a map size outside
// 1 ... kDirectionMapMaxSide ends the call with an error line.
void mdldb_calc_dir_map(const char* prefix, const DirectionMapStruct* maps, int count,
                        int twoFiles);

// The same direction (normalised) for every model, maps of width x height.
void mdldb_calc_dir_map(const char* prefix, const float direction[3], int height, int width,
                        int twoFiles);

KORVO_EXPORT_END
