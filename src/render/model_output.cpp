#include "render/model_output.h"

#include <cstdio>
#include <string>

#include "descriptions/assign_db.h"
#include "foundation/names.h"
#include "foundation/render_settings.h"
#include "geometry/model_database.h"
#include "render/camera.h"

namespace {

bool excluded(hair_name* name) {
    return assdb_get_exclude(name, 0) != 0;
}

// "%s/%s.%d.obj" from the output directory, the model name and the frame.
std::string obj_file_name(const char* model) {
    const char* dir = defs.output_dir != nullptr ? defs.output_dir : "";
    const int n = std::snprintf(nullptr, 0, "%s/%s.%d.obj", dir, model, defs.frame);
    std::string name(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    std::snprintf(name.data(), name.size() + 1, "%s/%s.%d.obj", dir, model, defs.frame);
    return name;
}

void write_model(hair_camera* cam, hair_model* model) {
    kivPolygons* polys = model->polygons();
    kivPolygons* tessellation = nullptr;
    if (model->type == MODEL_NURB) {
        tessellation = mdldb_tessellate(model);
        polys = tessellation;
    }
    if (polys == nullptr) return;
    ++defs.geometry_id;
    polys->xform(cam->get_matrix());
    const std::string file = obj_file_name(model->name_text());
    if (FILE* out = std::fopen(file.c_str(), "w")) {
        polys->write_obj(out);
        std::fclose(out);
    } else {
        std::printf("ERROR: could not open file %s\n", file.c_str());
    }
    delete tessellation;
}

}  // namespace

void mdldb_output_obj(hair_camera* cam, int which) {
    const int n = mdldb_capacity(which);
    if (n == 0 && opt_warnings()) std::printf("WARNING: there are no models\n");
    if (cam == nullptr) return;
    for (int i = 0; i < n; ++i) {
        hair_model* model = mdldb_get_index(i, which);
        // Records never handed out have no name: not a model.
        if (model == nullptr || model->name == nullptr) continue;
        if (excluded(model->name)) {
            if (opt_warnings())
                std::printf("INFO: model %s excluded from computation.\n", model->name_text());
            continue;
        }
        write_model(cam, model);
    }
}
