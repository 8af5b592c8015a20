// korvofur: the whole exported interface of libkorvofur.
//
// A host includes this one header. Exported names live in the global
// namespace; the host-service stand-ins live in korvo_host.
#pragma once

// Host services
#include "host/korvo_string.h"
#include "host/korvo_global.h"
#include "host/pixel_map.h"
#include "host/random48.h"
#include "host/korvo_image.h"
#include "host/image_library.h"
#include "host/iff_image.h"
#include "host/korvo_quaternion.h"
#include "host/curve_registry.h"

// Foundation
#include "foundation/fur_exception.h"
#include "foundation/messages.h"
#include "foundation/fur_list.h"
#include "foundation/growable_array.h"
#include "foundation/vector_types.h"
#include "foundation/matrix.h"
#include "foundation/fscale.h"
#include "foundation/kiv_string.h"
#include "foundation/noise.h"
#include "foundation/polygon_clip.h"
#include "foundation/names.h"
#include "foundation/render_settings.h"

// Descriptions
#include "descriptions/texture_cache.h"
#include "descriptions/curve_data_cache.h"
#include "descriptions/param_values.h"
#include "descriptions/hair_params.h"
#include "descriptions/hair_file.h"
#include "descriptions/assign_db.h"
#include "descriptions/scene_db.h"

// Geometry
#include "geometry/polygon_mesh.h"
#include "geometry/nurbs_surface.h"
#include "geometry/model_database.h"

// Hair generation
#include "generation/hair_records.h"
#include "generation/hair_shaping.h"
#include "generation/hair_spawning.h"
#include "generation/attractors.h"
#include "generation/curve_attractors.h"

// Renderer
#include "render/fragment_list.h"
#include "render/camera.h"
#include "render/scan_convert.h"
#include "render/hair_rasteriser.h"
#include "render/geometry_occlusion.h"
#include "render/atmosphere.h"
#include "render/model_output.h"
#include "render/lighting.h"
#include "render/shadow_map.h"

// Image files
#include "imagefile/image_file.h"
#include "imagefile/rla.h"
#include "imagefile/sgi.h"
#include "imagefile/pic.h"
#include "imagefile/png_file.h"

// Readers of further files
#include "readers/guide_curves.h"

// Map tools
#include "maptools/equalizer.h"
#include "maptools/direction_map.h"

// Host link
#include "hostlink/socket_state.h"
#include "hostlink/process.h"
