// furrender's shadow passes: before the final render of a frame, one map
// per shadow-mapped light, rendered by a square camera at the light, then
// the maps set up for the final render.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "options.h"

class hair_camera;

namespace furrender {

class progress_display;

// Where the map files of a run go: the --shadow-dir folder, or a
// temporary folder that is removed, with the maps in it, when the run
// ends (whatever way it ends).
class shadow_folder {
  public:
    // Creates the temporary folder when the options give none. Throws
    // std::runtime_error when it cannot be made.
    explicit shadow_folder(const options& o);
    ~shadow_folder();
    shadow_folder(const shadow_folder&) = delete;
    shadow_folder& operator=(const shadow_folder&) = delete;

    // The base of the map names: "<folder>/<scene file name>", to which the
    // library adds "_<light>.<frame>.smap".
    std::string base(const std::string& scene) const;
    // A map written into the folder (removed with a temporary folder).
    void written(const std::string& path) { written_.push_back(path); }
    // Whether the folder goes at the end of the run, so that no one reads
    // its maps as files.
    bool temporary() const { return temporary_; }

  private:
    std::string dir_;
    bool temporary_ = false;
    std::vector<std::string> written_;
};

// Work of the final render that this process does in its band of the first
// map drawn in bands, while the workers draw theirs: what needs neither the
// maps nor the final render's bands (the camera's geometry z-buffer, the
// estimate of where its hair lies). run is called at most once, with the
// final render's settings in defs (sub-pixel factor, render region, no
// shadow pass); done tells whether it was. share is its work against the
// map pass's, whose rows weigh 1 in all: the first band gets that much less
// of the map.
struct camera_prework {
    std::function<void()> run;
    double share = 0.0;
    bool done = false;
};

// Step 4 of a frame: checks the shadow lights against the scene, renders
// the maps (unless --reuse-shadows) and sets them up for the final render
// through camera. Returns an empty string, or the reason it failed.
// Without --no-shadows, end_shadows must follow the final render.
std::string prepare_shadows(const options& o, shadow_folder& folder, hair_camera& camera, int frame,
                            progress_display& progress, camera_prework* prework = nullptr);
// Releases the maps of the frame and clears the shadow state.
void end_shadows();

}  // namespace furrender
