// The scene file reader: the grammar (scene_parser.y) and the scanner
// (scene_scanner.l) behind scndb_init, and the reader whose calls the
// grammar's actions are (scene_reader.cpp). Not part of the exported
// interface.
#pragma once

#include <cstdio>
#include <exception>

#include "readers/scanner_support.h"

class hair_camera;
struct hair_light;
struct hair_model;
class hair_datapoints;
class kivPolygons;
class kivNurbSurface;

// A vector of the file: four numbers, or three and w = 1.
struct scene_vec {
    float v[4];
};
// One polygon corner: vertex, normal and texture-coordinate indices.
struct scene_corner {
    int v, n, t;
};

// The outcome of an action: go on, skip the rest of the file quietly (the
// databases have no room left), or abort for a failure held by the reader.
enum class scene_step { go, stop, fail };

// One read of a scene file into the camera, light and model databases of
// one slot. Each block takes its record when its head is reduced; the
// statements fill it. Actions that count elements refuse a count no file
// of this size could fill.
class scene_reader {
  public:
    // Fills slot which; count_limit is the largest element count the
    // file can hold (its size in bytes).
    scene_reader(int which, long long count_limit);
    ~scene_reader();
    scene_reader(const scene_reader&) = delete;
    scene_reader& operator=(const scene_reader&) = delete;

    // Items. The string arguments are taken over.
    scene_step reserve_lights(int n);
    scene_step reserve_models(int n);
    scene_step include(char* file);
    void exclude_hair(char* description);
    void transform_hair(char* description, const scene_vec& r0, const scene_vec& r1,
                        const scene_vec& r2, const scene_vec& r3);

    // The camera block.
    void begin_camera();
    void camera_aspect(float aspect);
    void camera_clip(float near_plane, float far_plane);
    void camera_fov(float fov);
    void camera_focal(float focal);
    void camera_aperture(float aperture);
    void camera_frustum(float left, float right, float bottom, float top);
    void camera_matrix(const scene_vec& r0, const scene_vec& r1, const scene_vec& r2,
                       const scene_vec& r3);

    // Light blocks.
    scene_step begin_light(int type, char* name);
    void light_color(const scene_vec& c);
    void light_position(const scene_vec& p);
    void light_direction(const scene_vec& d);
    void light_falloff(float start, float end);
    void light_angles(float cone, float penumbra);
    void light_dropoff(float dropoff);
    void light_samples(int u, int v);
    void light_matrix(const scene_vec& r0, const scene_vec& r1, const scene_vec& r2,
                      const scene_vec& r3);
    void light_area_matrix(const scene_vec& r0, const scene_vec& r1, const scene_vec& r2,
                           const scene_vec& r3);
    void light_area_shape(int shape);
    scene_step light_link_count(int n);
    // A linkedObject statement starts; each of its names follows.
    void begin_links();
    scene_step link_object(char* name);

    // Model blocks and the statements every kind takes.
    scene_step begin_model(int type, char* name);
    void model_matrix(const scene_vec& r0, const scene_vec& r1, const scene_vec& r2,
                      const scene_vec& r3);
    void model_root_scale(float scale);
    void model_double_sided(bool on);
    void model_opposite(bool on);

    // Polygon models.
    scene_step poly_nb_vertices(int n);
    scene_step poly_nb_normals(int n);
    scene_step poly_nb_uvs(int n);
    scene_step poly_nb_polys(int n);
    void poly_reference_equalmap(char* name);
    void poly_prim_visibility(bool on);
    void poly_casts_shadows(bool on);
    void poly_surface_visibility(bool on);
    void poly_vertex(const scene_vec& v);
    void poly_normal(const scene_vec& n);
    void poly_uv(const scene_vec& uv);
    void polygon(const scene_corner* corners, int n);

    // NURBS models.
    scene_step nurb_nb_vertices(int nu, int nv);
    void nurb_order(int u, int v);
    void nurb_closed(bool u, bool v);
    void nurb_prim_visibility(bool on);
    void nurb_casts_shadows(bool on);
    void nurb_surface_visibility(bool on);
    void nurb_reference_equalmap(char* name);
    void nurb_vertex(const scene_vec& v);
    // A knot list of direction u (or v) opens, takes numbers, closes.
    void begin_knots(bool u);
    void knot(float k);
    void end_knots(bool u);
    void end_nurb();

    // Data point models.
    scene_step dpnt_count(int n);
    void pnd(int id, const float* values);

    // The parser's error routine: the message, the line, the error flag.
    void syntax_error(const char* message);

    // The line counter the scanner advances.
    scan_position& position() { return position_; }
    bool had_error() const { return error_; }
    const std::exception_ptr& failure() const { return failure_; }

  private:
    // Element counters of the current model; -1 until the count statement.
    struct counters {
        int verts = -1, norms = -1, uvs = -1, polys = -1, cvs = -1, pnds = -1;
    };

    void message(const char* text) const;
    bool corners_in_range(const scene_corner* corners, int n) const;
    scene_step check_count(long long n);
    // A polygon count statement: check_count, then on success the array
    // sized through set and its element counter restarted.
    scene_step poly_count(int n, int (kivPolygons::*set)(int), int& counter);
    template <typename F>
    scene_step guarded(F f);
    template <typename F>
    void element(int& counter, const char* missing, F store);

    scan_position position_;
    int which_ = 0;                  // database slot being filled
    hair_camera* camera_ = nullptr;  // the current block's records
    hair_light* light_ = nullptr;
    hair_model* model_ = nullptr;
    kivPolygons* polys_ = nullptr;  // the current model's geometry by kind
    kivNurbSurface* nurb_ = nullptr;
    hair_datapoints* dpnt_ = nullptr;
    counters count_;
    bool link_reported_ = false;  // this linkedObject statement has complained
    float* knots_ = nullptr;      // knot buffer (owned)
    long long knot_capacity_ = 0;
    long long knot_count_ = 0;
    bool error_ = false;          // a grammar error was found
    long long count_limit_ = 0;   // the largest element count the file can hold
    std::exception_ptr failure_;  // a failure of the name table
};

// Parses the opened file into the camera, light and model databases of
// slot which. Returns false when a grammar error was found. A failure
// raised while a statement is applied (FurEFailed from the name table)
// stops the parse and is thrown on once the scanner and the parser have
// released what they held.
bool scene_read_file(std::FILE* file, int which);

// Runs the parser over file with a scanner of its own that counts lines
// in reader.position(); the parser's result (scene_scanner.l).
int scene_parse_file(std::FILE* file, scene_reader& reader);
