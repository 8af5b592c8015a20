// OBJ files of the scene's models as the camera sees them.
#pragma once

#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

class hair_camera;

// Writes every model of the chosen list (0 current, else the second list)
// that is not excluded from the hair render as "<output_dir>/<name>.<frame>.obj",
// in the camera space of cam: polygon models are transformed in place (they
// stay in camera space), NURBS models through a one-use tessellation; other
// kinds are skipped. "WARNING: there are no models" for an empty list and
// "INFO: model %s excluded from computation." print when warnings are on;
// a file that cannot be opened prints "ERROR: could not open file %s".
void mdldb_output_obj(hair_camera* cam, int which);

KORVO_EXPORT_END
