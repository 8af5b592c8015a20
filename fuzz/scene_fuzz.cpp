// Scene reader: scndb_init on any text, then the per-frame steps that walk
// what it read (transformations, area-light samples), then the clean-up.
#include "geometry/model_database.h"
#include "render/camera.h"
#include "render/lighting.h"
#include "text_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    korvo_fuzz::session session;
    const std::string path = korvo_fuzz::scratch_file(data, size, "scene.0001.kiv");
    korvo_fuzz::session::run([&] {
        if (!scndb_init(path.c_str(), 1, 0)) return;
        hair_camera* cam = camdb_get(0);
        mdldb_xform(0);
        if (cam) lgtdb_xform(cam->get_matrix(), 0);
        lgtdb_calc_simple_area_lights(0);
    });
    mdldb_cleanup();
    lgtdb_cleanup();
    camdb_cleanup();
    return 0;
}
