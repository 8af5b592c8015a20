// The hair description file: named hair descriptions, the world-units
// factor, attractor and curve attractor sets, per-light shadow settings and
// an optional fog, read once per run.
//
// A file is a sequence of blocks:
//
//   hair "fur" { length = 2.5 ; diffuse_base = <0.4, 0.3, 0.2> ; }
//   width_units = 0.1 ;
//   attractor "guides" { nb_controls = 1 ; control = ("r", "m", "t") ; }
//   curveAttractor "combs" { cnb_controls = 1 ; ccontrol = ("curve1") ; }
//   light "key" { shadow_type = 1 ; map_size = 512 ; }
//   fog { z_min = 10 ; z_max = 100 ; color = <0.5, 0.5, 0.6> ; }
//
// What each block creates: hair blocks append a description to the list of
// hair_params.h; attractor blocks a set in the attractor table
// (attractdb_add), curveAttractor blocks a set in the curve attractor table
// (curveAttractdb_add, each control resolved in the curve registry as it is
// read); light blocks store MapParams or AutoParams in the assignment table
// (assdb_set_shadmap_params, assdb_set_autoshade_params), so assdb_init
// must come first; the fog is recorded with atmosdb_init. A description
// holds one names_add reference for each name it stores.
//
// Messages about statements ("invalid parameter syntax", ...) go to
// standard output followed by "hair file: syntax error at line N"; the
// statement does not take effect and reading goes on.
#pragma once

#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// Reads the hair description file at path. The descriptions of an earlier
// read are destroyed first. Returns 1; 0 when the file cannot be opened
// (the infoError message "Can't open data file <path>") or the shaping work
// records cannot be sized for the largest segment count. A grammar error
// throws FurEFailed "Parsing failed for data file <path>" once the file has
// been read up to the error (the blocks completed before it stay defined);
// exceptions from the statements (a bad channel code, a full name table)
// pass through. With the three low bits of opt_flags set, every description
// is printed after a "Table entry" line of its bucket.
int hair_params_init(const char* path);

// Releases the shaping work records, destroys every description, forgets
// and destroys the fog the file defined and resets the reader.
void hair_params_done();

KORVO_EXPORT_END
