// Drawing a frame's hair on several processes, and the bands of --tile.
//
// The library keeps its databases in module-wide tables and draws on one
// thread, so furrender does not share a z-buffer between threads: once the
// scene is read, the shadow maps are set up and the geometry is in the
// z-buffer, it forks worker processes. Every process walks the whole hair
// set (each hair's random draws are seeded from its model, face and hair,
// so a hair comes out the same in every process) but shapes only the hairs
// that can reach its band (hairs_in_reach; in the camera pass, whose
// reaches the shadow map's pass kept, it does not even grow the others)
// and draws only into its band of z-buffer rows, through the render
// region. Each worker
// then hands its band's pixel records to the first process through a pipe
// (hair_zbuffer::save_rows), which reads them into the same rows of its own
// z-buffer and resolves every output from there, exactly as one process
// would.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "korvofur/korvofur.h"
#include "tool_options.h"

namespace furrender {

using korvo_tools::band_of;
using korvo_tools::row_band;

// The number of processors online (at least 1).
int processor_count();

// Processor time of the banded hair passes of this run so far, in seconds:
// what this process spent drawing its own bands, and the sum over the
// passes of the longest band (this process's or a worker's, the worker
// handing back its own time after its rows). A process's own time less
// `own` plus `longest` is the time of the run's longest path, what the run
// would take with every band on a processor of its own.
struct band_times {
    double own = 0.0;
    double longest = 0.0;
    int passes = 0;
    // Every band of every pass (band 0 first) since reset_band_times.
    std::vector<std::vector<double>> bands;
    // The hairs each of those bands left unshaped (hairs_in_reach).
    std::vector<std::vector<long long>> unshaped;
    // The z-buffer rows each of those bands drew in the end (with shared
    // zones, its band and the units it took).
    std::vector<std::vector<row_band>> rows;
};
band_times band_processor_times();
void reset_band_times();

// This process's processor time (user and system) so far, in seconds.
double processor_seconds();

// Draws the hair of the frame into the z-buffer rows `rows` of the camera
// (within the user's render region), with `workers` processes. draw(first) is the hair pass; first
// is true in this process, which draws the first band and keeps what only one process may do
// (writing the curves, the progress line). quiet_workers sends the
// workers' standard error to /dev/null as well as their standard output.
// Returns an empty string, or why a worker failed.
std::string draw_in_bands(hair_camera& cam, row_band rows, int workers, bool quiet_workers,
                          const std::function<void(bool first)>& draw);

// A banded pass that does more than draw the hair: draw(first) runs in
// every process with the band's rows as render region; a worker hands back
// its z-buffer rows, then what save writes for its band, which load reads
// into this process (both optional).
// row_work, when given, holds an estimate of the work of every z-buffer
// row, and the bands are cut to share it evenly; else they are equal in
// rows. Without zbuffer_rows a worker hands back only what save writes.
// With row_unit above 1 the bands are cut only at multiples of row_unit
// (whole pixels of row_unit sample rows), so that a worker can resolve the
// pixels of its band. finish_first, when given, runs in this process after
// draw(true), on its own band, as part of the band's work (what a worker
// does in save for its band). first_extra is work this process does in its
// band besides its rows, in row_work's units: the first band gets that
// much less of the rows' work.
struct band_work {
    std::function<void(bool first)> draw;
    std::function<bool(std::FILE*, const row_band&)> save;
    std::function<bool(std::FILE*, const row_band&)> load;
    std::function<bool(const row_band&)> finish_first;
    std::vector<double> row_work;
    double first_extra = 0.0;
    bool zbuffer_rows = true;
    int row_unit = 1;
    // A worker keeps the hairs it shapes and hands them back last
    // (mdldb_save_kept_hairs), for the passes that this process forks next.
    bool kept_hairs = false;
    // The neighbouring bands of a hair pass share a zone of rows around
    // their cut (mdldb_share_rows), whose units go to whichever process
    // gets there first: draw must end its hair pass with
    // settle_shared_band, and save, load and finish_first take the rows
    // each process drew in the end.
    bool shared_zones = false;
    // With shared zones: the share of a band's estimated work that a zone
    // takes on each side of a cut, and the rows of its units (rounded up
    // to a multiple of row_unit): the processes finish at most about a
    // unit's work apart.
    double zone_share = 0.06;
    int zone_unit_rows = 16;
    // With shared zones: the process below a zone waits, before it takes
    // units, until the process above has walked the zone, where it would
    // otherwise take none and leave them all to that process, however late
    // it gets to them. A worker that fails then stops the workers after it,
    // which may be waiting for its zone.
    bool zones_wait = false;
};

// Within a band's pass with shared zones, once its hair is drawn: takes
// and draws the units left to this process and narrows the render region
// to the rows it drew (its band and those units). Nothing otherwise, or
// when called again.
void settle_shared_band();
// Within a band's pass, once its hair is drawn: finish() (which works on
// the render region's rows: shading, resolving) runs on the band's own
// rows, then on each unit of the shared zones as this process takes and
// draws it, so that the process that finishes its band first takes more. The region ends as
// settle_shared_band leaves it. Without shared zones, finish() runs once on the region.
void finish_shared_band(const std::function<void()>& finish);

// n bands of the rows first ... last - 1 (n at most their number), each of
// at least one row, cut where first_extra plus the running sum of
// row_work[row] (0 past its end) passes k ÷ n of their total; equal bands
// when there is no work.
std::vector<row_band> balanced_bands(int first, int last, int n,
                                     const std::vector<double>& row_work, double first_extra = 0.0);
// The same, cut only at multiples of unit: balanced_bands over the units
// that the rows touch (each weighing its rows' work), clipped to first ...
// last - 1. Fewer than n bands when the rows touch fewer units.
std::vector<row_band> balanced_bands(int first, int last, int n,
                                     const std::vector<double>& row_work, int unit,
                                     double first_extra);
std::string draw_in_bands(hair_camera& cam, row_band rows, int workers, bool quiet_workers,
                          const band_work& work);

// While it lives, and the samples cam draws are part of its image (a
// render region is on: a band's rows in a banded pass, a tile, --region; or
// the image is cropped), the hair passes on cam shape only the hairs that
// can reach those samples: a hair whose shape cannot reach them, as
// cam.skips_unshaped_hair bounds it (the walk's reach filter, with an
// unshaped_hair_bound made with the guard), is one the rasteriser would
// skip once shaped, so the picture is the same. While the walk keeps its
// hairs, a later pass skips such a hair on its kept reach before growing
// it. The reach filter installed before is put back at the end; guards
// nest, the innermost bounding.
class hairs_in_reach {
  public:
    explicit hairs_in_reach(hair_camera& cam);
    ~hairs_in_reach();
    hairs_in_reach(const hairs_in_reach&) = delete;
    hairs_in_reach& operator=(const hairs_in_reach&) = delete;

  private:
    unshaped_hair_bound bound_;
    unshaped_hair_bound* bound_before_;
    mdldb_hair_reach_filter filter_before_ = nullptr;
    bool installed_;
};

// Within a band's pass: the render region of before the pass (the user's,
// or none) for the guard's lifetime, for what every process must draw whole
// (the geometry z-buffer, which the hair's visibility test reads anywhere).
class whole_frame {
  public:
    whole_frame();
    ~whole_frame();
    whole_frame(const whole_frame&) = delete;
    whole_frame& operator=(const whole_frame&) = delete;

  private:
    int on_;
    int region_[4];
};

}  // namespace furrender
