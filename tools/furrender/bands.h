// Drawing a frame's hair on several processes, and the bands of --tile.
//
// The library keeps its databases in module-wide tables and draws on one
// thread, so furrender does not share a z-buffer between threads: once the
// scene is read, the shadow maps are set up and the geometry is in the
// z-buffer, it forks worker processes. Every process grows and shapes the
// whole hair set (each hair's random draws are seeded from its model, face
// and hair, so a hair comes out the same in every process) but draws only
// into its band of z-buffer rows, through the render region. Each worker
// then hands its band's pixel records to the first process through a pipe
// (hair_zbuffer::save_rows), which reads them into the same rows of its own
// z-buffer and resolves every output from there, exactly as one process
// would.
#pragma once

#include <functional>
#include <string>

#include "tool_options.h"

class hair_camera;

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
};
band_times band_processor_times();

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

}  // namespace furrender
