// Geometry occlusion: the scene's surfaces written into the camera's
// z-buffer as depth entries (how near the geometry is in each pixel and how
// much of the pixel it covers), so that hairs vanish behind them. Geometry
// contributes no colour.
//
// mdldb_zbuffer walks the models of one list: excluded models are skipped
// (and their geometry released), NURBS surfaces are tessellated at
// defs.tess_factor, every polygon goes to hair_camera::zbuff_poly (camera
// space, near-plane clipping, facing test, projection) and is scan-converted
// with exact coverage by the same converter as the hairs. Models without
// hair have their geometry released afterwards; the others keep it for
// hair generation.
//
// Before mdldb_zbuffer: the models are transformed into world space
// (mdldb_xform), the assignment table is read (exclusions, which models
// carry hair), the camera has its matrix and its z-buffer (init_zbuffer),
// and defs.shadows.shadow_pass says whether a shadow map is being drawn.
// Hairs are rasterised afterwards, on the same camera.
#pragma once

#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

class hair_camera;

// Z-buffers every model of list which (0 the current list, otherwise the
// second) into cam.
void mdldb_zbuffer(hair_camera* cam, int which);

KORVO_EXPORT_END
