// Hair shaping: growing one hair from its root frame into control points.
//
// A hair starts at its root on the surface, takes its growth direction from
// the surface frame by three rotations (inclination about the bending axis,
// roll about the surface direction, a polar turn about the normal with a
// random variation), then walks from root to tip one segment at a time,
// bending each step by curl, scraggle noise, the pull of its clump centre
// and the pull of attractors and curve attractors.
//
// The work records are module-wide: two control hairs (one per time sample)
// sized for the largest segment count of the loaded descriptions, and the
// per-hair table of active attractor curves. They are prepared when the hair
// descriptions are loaded and released with them. A shaped hair lives in
// the work record of its time sample and stays valid until the next hair of
// that sample is shaped.
#pragma once

#include <vector>

#include "foundation/matrix.h"
#include "foundation/vector_types.h"
#include "descriptions/hair_records.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

struct hair_attract;
struct hair_curveAttract;

// The largest number of segments a hair is given; a description asking
// for more is clamped to it.
constexpr int HAIR_SHAPE_MAX_SEGMENTS = 100000;

// --- Work records ------------------------------------------------------------

// Prepares the work records for hairs of up to max_segments segments (two
// control hairs of max_segments + 1 points and the active-attractor table
// sized for every attractor curve loaded). Returns false when memory runs
// out; the records are then released.
bool hair_shape_prepare(int max_segments);

// Frees the work records; shaping then has no room until the next prepare.
void hair_shape_release();

// The control hair of time sample 0 or 1 (null before prepare).
control_hair* hair_shape_work_hair(int sample);

// The number of points the work hairs were prepared for (0 when released).
// A hair with more points grows its sample's record beyond this.
int hair_shape_capacity();

// --- Attractors of the model being haired --------------------------------------

// The attractor sets of the current model and the curve attractor sets of
// the current model and description, as spawning fetches them from the
// assignment table; shaping reads them for every hair. The pointers are
// copied; the sets stay the attractor tables'. n of 0 (or null) means none.
void hair_shape_set_attractors(hair_attract* const* sets, int n);
void hair_shape_set_curve_attractors(hair_curveAttract* const* sets, int n);

// --- Shaping -----------------------------------------------------------------

// Fills m's upper-left 3 x 3 block with the rotation by angle (radians)
// about axis, which is used as given (not normalised). Vectors rotate as
// row vectors, v * m. The other elements of m are left alone.
void axis_rotation(const kivVector& axis, float angle, kivMatrix& m);

// Shapes the hair of hs (its time sample hs->sample) into that sample's
// work record and returns it, or null when the hair is too short (length
// below 1e-5 per point). centres (n of them) are the clump centres of the
// assignment; the hair follows the nearest one within clump_radius. A
// negative length negates the sample's normal in hs itself.
//
// A hair asking for more segments than the work records were prepared for
// is not cut short: its sample's record grows to fit (the only allocation
// shaping makes besides the curve-attractor work, which also only grows).
// Beyond HAIR_SHAPE_MAX_SEGMENTS the segment count is clamped.
control_hair* hair_shape(hair_state* hs, const clump_centre* centres, int n, float clump_radius);

// The hair of hs as hair_shape made it before, from the points it gave
// (count of them, at least 2) and whether it negated the sample's normal:
// the same work record, points and attributes, and the same change to hs,
// without walking the segments again. Null when the record cannot grow.
control_hair* hair_shape_replay(hair_state* hs, const kivPoint* points, int count, bool flipped);

// Where the hair of hs can lie once shaped, worked out without shaping it:
// every point hair_shape would give lies within radius of centre (point 0,
// the root moved by the offset), and every point's width is at most
// max_width in magnitude. Margins cover the float rounding of the walk. A
// hair's steps are each at most one segment long, so its points stay within
// its length of the root, whatever its curl, scraggle, clump or attractor
// pulls; curve attractors can replace a step by a pull of any length, so a
// hair they may bend gives false (unbounded), as does a hair with no
// description or a non-finite value. hs is not changed.
bool hair_shape_reach(const hair_state& hs, kivPoint& centre, float& radius, float& max_width);

// The root (moved by the offset) and growth direction of a clump centre
// hair growing from the frame of hs; false when that hair would be too
// short. Nothing is written into the work records.
bool hair_shape_clump_centre(hair_state* hs, clump_centre& out);

// The index of the centre nearest to root among those within radius of it
// (in each axis and in distance; the first of equally near centres wins),
// or -1 when none is.
int hair_shape_select_clump(const kivPoint& root, const clump_centre* centres, int n, float radius);

// The clump centres of an assignment sorted into a grid of cells, so that
// the centre nearest to a root is found among the cells around it rather
// than by trying them all: nearest() is hair_shape_select_clump over the
// centres held, index for index. hair_shape keeps one and hands it every
// hair's centres; it is rebuilt only when they differ from those it holds.
class clump_index {
  public:
    // Holds a copy of centres[0 ... n - 1]; nothing is done (false) when it
    // already holds exactly these.
    bool hold(const clump_centre* centres, int n);
    int nearest(const kivPoint& root, float radius) const;

  private:
    // Searches the cells of ring r (Chebyshev distance r) around cell at.
    void search_ring(int r, const int* at, const kivPoint& root, float radius, int& best,
                     float& best_d2) const;
    void consider(int i, const kivPoint& root, float radius, int& best, float& best_d2) const;

    std::vector<clump_centre> centres_;
    bool grid_ = false;         // false: every centre is tried, as in the plain search
    double lo_[3] = {0, 0, 0};  // the corner of cell (0, 0, 0)
    double cell_ = 1.0;         // the edge of a cell
    int dim_[3] = {1, 1, 1};    // cells along each axis
    std::vector<int> start_;    // first entry of each cell in order_, and the end
    std::vector<int> order_;    // centre indices, cell by cell, ascending in a cell
};

KORVO_EXPORT_END
