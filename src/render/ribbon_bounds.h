// The screen reach of a hair before it is lit: a box of window-relative
// z-buffer samples that holds every ribbon corner the rasteriser can build
// from the hair's camera-space points and widths. A hair whose box lies
// outside the samples the fill writes (the window, within the render
// region) draws nothing, so the rasteriser skips its lighting and drawing.
// That is what lets every process of a banded render spend its time on the
// hairs of its own band.
//
// A ribbon corner lies at most h across the segment from its projected
// end and at most 2h further along it (the root and tip grow to the
// ribbon's width), h being half the width in pixels: width ÷ eye distance
// × pixel scale ÷ 2. The box pads every projected point by 3h, with the
// depth |z| in place of the eye distance (never larger), and a sample.
// Motion-blurred copies lie between the ribbons at the two times, so the
// points of both times go into one box.
//
// Before a hair is shaped, hair_camera::skips_unshaped_hair bounds it the
// same way by the corners of the cube its points can lie in.
#pragma once

#include "foundation/vector_types.h"
#include "render/camera.h"

namespace hair_raster {

class ribbon_bounds {
  public:
    explicit ribbon_bounds(const hair_camera& cam);

    // One camera-space hair point and its width in world units. A point
    // not in front of the camera, or not finite, leaves the hair unbounded.
    void add(const kivPoint& p, float width);

    // Whether a box is known and it misses the samples the fill writes.
    bool misses_drawn_samples() const;

    // Grows a known box by samples on every side.
    void widen(float samples);

    // The box so far, in window-relative samples; valid once a point was
    // added and while bounded.
    bool bounded() const { return bounded_ && any_; }
    float x0() const { return x0_; }
    float y0() const { return y0_; }
    float x1() const { return x1_; }
    float y1() const { return y1_; }

  private:
    const hair_camera& cam_;
    float scale_;    // half the pixel scale
    float lx_, ly_;  // the window's low corner
    bool bounded_ = true, any_ = false;
    float x0_ = 0.0f, y0_ = 0.0f, x1_ = 0.0f, y1_ = 0.0f;
};

}  // namespace hair_raster
