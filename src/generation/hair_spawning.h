// Hair spawning: where hairs grow, and handing them to the renderer.
//
// For every model of the frame and every hair description assigned to it,
// spawning works out how many hairs the description asks for, scatters
// them over the surface (polygon faces in proportion to their area in
// texture space, NURBS surfaces over their parameter square, data-point
// models at their points), thins them by the equalizer and baldness
// values, finds the surface frame at each root, shapes the hair and hands
// it to the camera through the hair sink. A second walk writes the hair
// roots to a text file instead.
//
// Every random decision comes from the library's drand48, reseeded at
// fixed points (per model, per assignment, per face of a NURBS or
// data-point model, per face of the export walk), so the same scene grows
// the same hairs on every run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "foundation/vector_types.h"
#include "descriptions/hair_records.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

class hair_camera;
class kivPolygons;
struct hair_model;
struct hair_params;

// ---------------------------------------------------------------------------
// hair_poly: one triangle or quad of a mesh prepared for hair placement.
// The four quad edges, in order, run 0 -> 1, 3 -> 2, 1 -> 2 and 0 -> 3.
struct hair_poly {
    std::int32_t nb_points = 0;         // 3 or 4
    kivPoint points[4];                 // corner positions p0 .. p3
    kivPoint uvs[4];                    // texture coordinates (u, v, unused third)
    kivVector normals[4];               // corner normals
    kivVector edge_p01;                 // p1 - p0
    kivVector edge_p32;                 // p2 - p3 (quads)
    kivVector edge_n01;                 // N1 - N0
    kivVector edge_n32;                 // N2 - N3 (quads)
    std::int32_t v_dir_ok = 1;          // the texture v direction gives the hair direction
    std::int32_t u_dir_ok = 0;          // the u components of the quad edges do not cancel
    float v_weights[4] = {0, 0, 0, 0};  // |v| of each unit texture edge
    float u_weights[4] = {0, 0, 0, 0};  // |u| of each unit texture edge
    kivPoint centre;                    // bilinear centre (only when v_dir_ok is 0)

    // Corners of polygon f of mesh; 0 when the mesh cannot give them.
    int fetch(const kivPolygons& mesh, int f);
    // Texture-space area: triangle (0, 1, 2), plus (0, 2, 3) for a quad.
    float uv_area() const;
    // Texture coordinates at the random pair (r1, r2): a triangle folds the
    // pair into barycentric weights, a quad is bilinear in (r1, r2).
    void uv_at(double r1, double r2, double& u, double& v) const;
    // Surface frame at (r1, r2): frame[0] position, [1] unit normal, [2]
    // hair direction, [3] second direction. 0 (with a message) when the
    // normal or the fallback direction has no length; degenerate quad
    // directions print a FATAL line and throw FurEFailed.
    int calc_posnrmdir(double r1, double r2, kivVector* frame) const;
    // "hair poly:", the corner count and each corner.
    void print() const;
};

// Prepares a fetched polygon: its edges, and for a quad the texture edge
// weights and whether the v direction is usable. A quad texture edge
// shorter than 1e-5 prints a FATAL line and throws FurEFailed.
void quad_vdir(hair_poly* p);

// The number of hairs on polygon p for a density d per unit of texture
// area: trunc(d A), plus one when the fraction of d A reaches a drand48()
// that is drawn first, always. Never negative.
int hair_poly_count(const hair_poly& p, double d);

// ---------------------------------------------------------------------------
// The hair sink: where spawning hands each shaped hair. The default hands
// it to cam->zbuff_hair. Installing null puts the default back; the
// previous sink is returned.
using mdldb_hair_sink = void (*)(hair_camera* cam, control_hair* hair, hair_state* state);
mdldb_hair_sink mdldb_set_hair_sink(mdldb_hair_sink sink);

// The hair filter, asked before each hair of mdldb_hair is shaped, with the
// hair's state and the identity it gets (defs.hair_id once counted): a hair
// it refuses is neither shaped nor handed to the sink, but keeps its
// random draws and its identity, so the hairs after it come out the same
// (shaping draws no random numbers). Assignments whose hairs spawn
// children are not filtered. Null (the default) grows every hair; the
// previous filter is returned.
using mdldb_hair_filter = bool (*)(const hair_state& state, int hair_id);
mdldb_hair_filter mdldb_set_hair_filter(mdldb_hair_filter filter);

// The reach filter, for a caller that can bound what a hair may reach: it
// is asked about a hair with the hair's reach (hair_shape_reach: centre,
// radius and largest width, in the space of its description hp) and says
// whether the hair may reach what is drawn. While one is installed,
// mdldb_hair bounds every hair the hair filter lets through, before
// shaping it, and treats a hair the reach filter refuses as the hair
// filter's refused ones (neither shaped nor handed on; draws, identity and
// place kept). A hair without a bounded reach grows. Assignments whose
// hairs spawn children are not filtered. While keeping is on (below), every
// reach is kept too, by the hair's place in the walk and a key of what the
// hair grows from: its description, its model, its face and the face's
// geometry (a polygon's corners; a surface's control points, counts and
// orders; a data point's frame), its random draws and variables. A later
// walk whose hair at that place has the same key asks the filter with the
// kept reach before it even finds the hair's root frame, and skips a
// refused hair from there, as a sampled walk does (the hair filter is then
// not asked about it). Null (the default) bounds nothing; the previous
// filter is returned.
using mdldb_hair_reach_filter = bool (*)(const hair_params& hp, const kivPoint& centre,
                                         float radius, float width);
mdldb_hair_reach_filter mdldb_set_hair_reach_filter(mdldb_hair_reach_filter filter);

// Sampling of the rendering walk, for estimates: with n > 1, mdldb_hair
// places, shapes and hands on only the hairs whose identity is a multiple
// of n. The others keep their random draws and take an identity (whether
// or not their surface would have placed them) but are not even placed,
// which the filter, asked with the placed hair, cannot save. A skipped hair
// counts as one place of the walk for the kept hairs (a hair its surface
// would not have placed shifts the later places, whose keys then differ:
// they are shaped again). Assignments whose hairs spawn
// children are walked whole. 1 (the default) walks every hair; the
// previous value is returned.
int mdldb_set_hair_sampling(int n);

// Shaped hairs kept between the passes of a frame. A frame's shadow-map
// passes and its camera pass walk the same hairs, and shaping them (the
// segment walk with its noise) is the same work every time. While keeping
// is on, mdldb_hair remembers every hair it shapes by its place in the walk,
// with a 64-bit key of the state it was shaped from and of the clump
// centres it could follow; a later walk whose hair at that place has the
// same key takes the remembered points
// (hair_shape_replay) instead of shaping it again, and comes out the same.
// Hairs that spawn children are not kept. Keeping stops adding hairs beyond
// kMaxKeptHairPoints points in all (12 MB: the demo's 118 000 hairs take
// 462 000; a denser frame keeps its first hairs and shapes the others
// again, so that memory stays about flat in the hair count); reaches (28
// bytes each, see the reach filter) are kept up to the place
// kMaxKeptReaches. The room for both is reserved when keeping is turned
// on, so that growing never copies them. Turning it off forgets every hair
// and reach; the host turns it on for the passes of one still frame, whose
// scene and descriptions stay unchanged meanwhile.
constexpr std::size_t kMaxKeptHairPoints = std::size_t(1) << 20;
constexpr std::size_t kMaxKeptReaches = std::size_t(1) << 19;
void mdldb_keep_shaped_hairs(bool on);
// Keeping goes on with the hairs and reaches kept so far but adds no more,
// until it is next turned on or off: for a process that ends with its pass.
void mdldb_keep_no_more_hairs();
// Keeping goes on adding hairs but no more reaches, until it is next turned
// on or off: for a process that hands back its hairs (mdldb_save_kept_hairs)
// but not its reaches.
void mdldb_keep_no_more_reaches();
// The next walk is the last to use what is kept: keeping is turned off as
// that walk ends, before its pass draws the polygons it queued, so that the
// kept hairs are not held at the pass's peak.
void mdldb_keep_until_walk_end();
// Called as a walk of mdldb_hair ends, before its pass draws the polygons
// it queued (every hair is lit by then), so that what only the walk needed
// can go before the pass's peak of memory. Returns the previous one.
using mdldb_walk_end_fn = void (*)();
mdldb_walk_end_fn mdldb_set_walk_end(mdldb_walk_end_fn fn);
// Kept hairs handed between the processes of one frame's pass: a process
// that drew a band of the pass writes the hairs it kept after the mark
// (mdldb_kept_hair_points when it was forked), and the process that forks
// the next pass's workers adds those whose place it keeps none of, so that
// the next pass replays them instead of shaping them again. Both must have
// walked the same hairs (the same scene, descriptions and settings but the
// region). load adds hairs only while keeping adds them, up to
// kMaxKeptHairPoints; it returns false on a stream that is short or not
// such a stream, whose sizes pass those caps or disagree, or that places a
// hair beyond this process's last walk, adding nothing then. The stream is
// described in hair_spawning.cpp.
std::size_t mdldb_kept_hair_points();
bool mdldb_save_kept_hairs(std::FILE* f, std::size_t since);
bool mdldb_load_kept_hairs(std::FILE* f);
// The hairs taken from the kept ones since keeping was last turned on.
long long mdldb_kept_hairs_reused();
// Since keeping was last turned on: the reaches kept, and the hairs a kept
// reach let a later walk skip before their root frame.
long long mdldb_kept_reaches();
long long mdldb_kept_reaches_skipped();

// ---------------------------------------------------------------------------
// Progress of the rendering walk, for a caller that shows it: mdldb_hair
// reports before each named model of the list and once when the walk is
// over.
struct mdldb_hair_progress {
    int model;               // named models walked before this one; models at the end
    int models;              // named models in the current list
    const char* model_name;  // the model about to be walked; null at the end
    long long hairs;         // hairs generated so far in this walk
    // Hairs the assignments of the walk ask for (density times multiplier,
    // summed at its start): equalizer, baldness and spawned children make
    // the real count differ.
    long long wanted;
};
using mdldb_hair_progress_fn = void (*)(const mdldb_hair_progress& progress);
// Installs the progress function (null: none, the default) and returns the
// previous one.
mdldb_hair_progress_fn mdldb_set_hair_progress(mdldb_hair_progress_fn fn);

// ---------------------------------------------------------------------------
// The drivers.

// Renders the hairs of every model of the current list into cam: models
// left out of this pass are skipped, the others' assignments are spawned
// and shaped, and every model's geometry is released afterwards (when the
// render is one tile). Prints "--- rendered %d total hairs" and returns
// that total. Reports to the progress function when one is installed.
int mdldb_hair(hair_camera& cam);

// The rendering worker for one model: spawns the n descriptions of list on
// model and hands the hairs to cam. Returns the hairs generated (not bald).
int mdldb_hair_model(hair_model* model, hair_camera* cam, int n, hair_params** list);

// Writes the hair roots of every model of the current list to file (one
// line per root: position, normal, motion vector; spawned children too).
// With use_second_list the motion vector is taken from the model of the
// same name in the second list. A null file name writes nothing but
// walks the same way. The file is rewritten for every haired model.
// Returns the number of roots (not bald).
int mdldb_kestrel(const char* file, int use_second_list);

// The export worker for one model (model2 may be null). Returns the
// number of roots (not bald).
int mdldb_kestrel_model(const char* file, hair_model* model, hair_model* model2, int n,
                        hair_params** list);

KORVO_EXPORT_END

// Makes sink the default (and the current sink, unless another one is
// installed). The camera sits above hair generation, so the render layer
// registers its rasteriser here when the library is loaded; true. Not
// exported (declared after KORVO_EXPORT_END).
bool mdldb_register_default_hair_sink(mdldb_hair_sink sink);

// The camera's hooks around a hair pass (mdldb_hair, mdldb_motion_blur_hair),
// which the render layer registers the same way: begin before the first
// hair, end after the last, with finish false when an exception leaves the
// pass. The renderer queues the pass's polygons in between and draws them
// at the end. Null hooks do nothing; true.
using mdldb_hair_pass_hook = void (*)(hair_camera* cam, bool finish);
bool mdldb_register_hair_pass_hooks(mdldb_hair_pass_hook begin, mdldb_hair_pass_hook end);

// A hair pass on cam: calls the begin hook now and the end hook at finish()
// (finish true), or when the scope is left without it (finish false).
class hair_pass_scope {
  public:
    explicit hair_pass_scope(hair_camera* cam);
    ~hair_pass_scope();
    hair_pass_scope(const hair_pass_scope&) = delete;
    hair_pass_scope& operator=(const hair_pass_scope&) = delete;
    void finish();

  private:
    hair_camera* cam_;
    bool open_;
};
