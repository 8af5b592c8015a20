// korvofur: the exported interface of libkorvofur.
//
// A host includes this one header. Exported names live in the global
// namespace; the host-service stand-ins live in korvo_host. The headers
// below are installed under include/korvofur/<layer>/ (the package adds
// that directory to the include path) and declare only what the shared
// library exports, with a few inline helpers; internals such as scan
// conversion, image I/O helpers and reader state are not installed.
#pragma once

#include "korvofur/export.h"

// Host services
#include "host/korvo_string.h"
#include "host/korvo_global.h"
#include "host/pixel_map.h"
#include "host/random48.h"
#include "host/korvo_quaternion.h"

// Foundation: value types, names, messages, exceptions, render settings
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

// Image files
#include "imagefile/image_file.h"
#include "imagefile/png_file.h"
#include "imagefile/exr_file.h"
#include "imagefile/iff_image.h"

// Descriptions in memory: hair descriptions and records, parameter values, caches, assignments
#include "descriptions/texture_cache.h"
#include "descriptions/curve_data_cache.h"
#include "descriptions/param_values.h"
#include "descriptions/hair_fields.h"
#include "descriptions/hair_params.h"
#include "descriptions/hair_records.h"
#include "descriptions/assign_db.h"

// Geometry: meshes, NURBS surfaces, models, host curves
#include "geometry/polygon_mesh.h"
#include "geometry/nurbs_surface.h"
#include "geometry/model_database.h"
#include "geometry/curve_registry.h"

// Hair generation: spawning, shaping, attractors
#include "generation/hair_shaping.h"
#include "generation/hair_spawning.h"
#include "generation/motion_spawning.h"
#include "generation/attractors.h"
#include "generation/curve_attractors.h"
#include "generation/curve_export.h"

// Renderer: camera, fragment lists, lighting, shadow maps, atmosphere, model drivers
#include "render/fragment_list.h"
#include "render/camera.h"
#include "render/geometry_occlusion.h"
#include "render/atmosphere.h"
#include "render/model_output.h"
#include "render/lighting.h"
#include "render/shadow_map.h"
#include "render/shadow_map_file.h"
#include "render/surface_shading.h"
#include "render/exr_output.h"
#include "render/shared_rows.h"

// Readers: the hair description, scene and assignment files; guide curves
#include "readers/hair_file.h"
#include "readers/scene_db.h"
#include "readers/assign_file.h"
#include "readers/guide_curves.h"

// Map tools: area values, equalizer and direction maps
#include "maptools/equalizer.h"
#include "maptools/direction_map.h"

// Host link: the child process link
#include "hostlink/process.h"
