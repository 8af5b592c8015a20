// Where the work of a frame lies, so that its bands can share it evenly.
#pragma once

#include <vector>

#include "korvofur/korvofur.h"

namespace furrender {

// The hair's work by z-buffer row of cam: one hair pass whose sink only
// projects the points of one hair in eight (the others are not shaped). A
// hair's points (its lighting) are spread evenly over the rows between its
// lowest and highest projected point; the samples each segment's ribbon
// covers go to the 32 x 32-sample cell under its middle, where they cost
// more the more fragments the cell's samples hold (up to full lists). A
// point or a piece of ribbon hidden by the geometry already in the z-buffer
// counts for a quarter; a hair with a point behind the camera counts
// nowhere. The sink in place before is put back.
std::vector<double> hair_work_by_row(hair_camera& cam);

// The hair's work by z-buffer row of cam without growing a hair, for a pass
// whose bands must be cut before any hair is known (the shadow maps'): each
// model with hair spreads the hairs its assignments ask for (those the pass
// draws) evenly over the rows that its points (vertices, control points)
// span on cam's screen, over all rows when a point lies behind cam; three
// quarters of the work are spread evenly over the rows. Empty when no model
// has hair.
std::vector<double> hair_models_by_row(hair_camera& cam);

// The hairs the assignments of the scene's models ask for in a pass (the
// shadow maps' with shadow, whose descriptions must cast shadows; else the
// camera's, whose must be seen by it): density times the model's density
// multiplier, summed.
double hairs_asked(bool shadow);

// The surfaces' work by z-buffer row of cam (an image of lines x cols
// pixels without a crop, factor samples a pixel side): the surfaces shaded
// once at one sample for 4 x 4 pixels, a row's work being the samples of
// its coarse row that show a surface. Empty when that cannot be done.
std::vector<double> surface_work_by_row(const hair_camera& cam, int lines, int cols, int factor,
                                        const std::vector<surface_color>& colors);

}  // namespace furrender
