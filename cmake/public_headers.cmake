# The headers that make up the library's public interface, relative to
# src/. They are installed under include/korvofur/<layer>/, declare what
# the shared library exports (between KORVO_EXPORT_BEGIN and
# KORVO_EXPORT_END) and include only each other and korvofur/*.h; the
# layer check test holds them to that. Every other header is private.
set(KORVO_PUBLIC_HEADERS
  host/korvo_string.h host/korvo_global.h host/pixel_map.h host/random48.h
  host/korvo_quaternion.h
  foundation/fur_exception.h foundation/messages.h foundation/fur_list.h
  foundation/growable_array.h foundation/vector_types.h foundation/matrix.h
  foundation/fscale.h foundation/kiv_string.h foundation/noise.h foundation/polygon_clip.h
  foundation/names.h foundation/render_settings.h
  imagefile/image_file.h imagefile/png_file.h imagefile/exr_file.h imagefile/iff_image.h
  descriptions/texture_cache.h descriptions/curve_data_cache.h descriptions/param_values.h
  descriptions/hair_fields.h descriptions/hair_params.h descriptions/hair_records.h
  descriptions/assign_db.h
  geometry/polygon_mesh.h geometry/nurbs_surface.h geometry/model_database.h
  geometry/curve_registry.h
  generation/hair_shaping.h generation/hair_spawning.h generation/attractors.h
  generation/curve_attractors.h generation/curve_export.h generation/motion_spawning.h
  render/fragment_list.h render/camera.h render/geometry_occlusion.h render/atmosphere.h
  render/model_output.h render/lighting.h render/shadow_map.h render/shadow_map_file.h
  render/surface_shading.h render/exr_output.h render/shared_rows.h
  readers/hair_file.h readers/scene_db.h readers/assign_file.h readers/guide_curves.h
  maptools/equalizer.h maptools/direction_map.h
  hostlink/process.h)
