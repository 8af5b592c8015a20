// The scene database: reading one frame's scene file into the camera,
// light and model databases.
//
// For every frame the host writes a scene file with that frame's camera,
// lights and models in world space; with motion blur a second file of the
// shutter-close time fills the second slot of each database. A scene file
// can include further files (read after it, at most ten per read) and can
// hide ("excludeHair") or re-place ("transformHair") hair descriptions for
// the frame. scndb_cleanup empties the three databases at the end of the
// frame.
#pragma once

#include <string>
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// The scene file of a frame, from a base name: the frame number goes in
// as four digits before a ".kiv" extension (base.0012.kiv), replacing the
// digits of a base that already has them (scene.0001.kiv) or being
// inserted before the extension of a base ending in ".kiv".
std::string scndb_frame_name(const char* base, int frame);

// Reads the frame's scene file and then the queued includes into slot
// which (0 the shutter-open time, else the shutter-close time). 1 on
// success; 0 when a file cannot be opened (an infoError message "Can't
// open data file %s") or the camera slot cannot be prepared. A grammar
// error throws FurEFailed "Parsing failed for data file %s" naming the
// file. The include queue is empty afterwards, whatever the outcome.
int scndb_init(const char* base, int frame, int which);
// Queues a file to read after the current one. With ten names queued
// already: "FATAL: maximum include file depth exceeded" and 0.
int scndb_add_include(const char* name);
// Empties the camera, light and model databases.
void scndb_cleanup();
// Ends a session of the readers: empties the scene databases, then releases
// the assignment table, the hair descriptions, the attractor and curve
// attractor sets, the texture and curve-data caches and last the name
// table, which the others still refer to while they are released.
void korvo_tables_done();

KORVO_EXPORT_END
