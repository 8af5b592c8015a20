// Hair spawning for a motion-blurred frame: every hair grown twice, at
// shutter open on a model of the current list and at shutter close on the
// model of the same name in the second list, and handed to the camera as
// a pair (hair_camera::zbuff_motion_hair).
//
// The walk places hairs as the still rendering walk does (hair_spawning.h),
// with the random generator seeded once per model, so that both samples of
// a hair come from the same random draws and the same root parameters: a
// hair's root sits at the same place on the surface at both times, with
// the same scraggle, orientation and variables. Each time sample follows
// the clump centres grown on its own model, built from the same draws, so
// a clumped hair follows the same clump at both times. A model without a
// namesake in the second list stands still (both samples from it).
#pragma once

#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

class hair_camera;
struct control_hair;
struct hair_model;
struct hair_params;
struct hair_state;

// Where the walk hands each pair: hair0 at shutter open and hair1 at
// shutter close, in world space, with their root frames in state (pos,
// normal, dir for the open time, pos_mb, normal_mb, dir_mb for the close
// time), and the cameras of the two times. The default, which the render
// layer registers when the library is loaded, moves each hair into the
// camera space of its own time (the description's matrix, then that
// time's camera matrix), and the two normals likewise, and hands the pair
// to cam0->zbuff_motion_hair. Installing null puts the default back; the
// previous sink is returned.
using mdldb_motion_hair_sink = void (*)(hair_camera* cam0, hair_camera* cam1, control_hair* hair0,
                                        control_hair* hair1, hair_state* state);
mdldb_motion_hair_sink mdldb_set_motion_hair_sink(mdldb_motion_hair_sink sink);

// Renders the hairs of every model of the current list moving to the
// models of the second list: cam0 is the shutter-open camera that owns the
// z-buffer, cam1 the shutter-close camera (its matrix); both are handed to
// the sink. Excluded models are skipped; the geometry of both models is
// released afterwards (when the render is one tile). Prints "--- rendered
// %d total hairs" and returns that total.
int mdldb_motion_blur_hair(hair_camera* cam0, hair_camera* cam1);

// The motion-blur worker for one model (model1 null: the model stands
// still). Prints the model's "assignments created" line and the spawned
// count, not the totals line. Returns the hairs generated (not bald), each
// counted once.
int mdldb_motion_blur_hair_model(hair_model* model0, hair_model* model1, hair_camera* cam0,
                                 hair_camera* cam1, int n, hair_params** list);

KORVO_EXPORT_END

// Makes sink the default (and the current sink, unless another one is
// installed). The camera sits above hair generation, so the render layer
// registers its motion-blurred rasteriser here when the library is
// loaded; true. Not exported.
bool mdldb_register_default_motion_hair_sink(mdldb_motion_hair_sink sink);
