#include "maptools/maptools_support.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "descriptions/assign_db.h"
#include "descriptions/curve_data_cache.h"
#include "readers/hair_file.h"
#include "descriptions/hair_params.h"
#include "readers/assign_file.h"
#include "readers/scene_db.h"
#include "descriptions/texture_cache.h"
#include "foundation/names.h"
#include "generation/attractors.h"
#include "generation/curve_attractors.h"
#include "geometry/model_database.h"

void MapScene::SetUp() {
    dir_ = temp_path("") + "/";
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    ASSERT_EQ(names_init(1009), 1);
    tmap_init(8);
    crvdata_init(8);
    attractdb_init();
    curveAttractdb_init();
    ASSERT_EQ(assdb_init(1009), 1);
}

void MapScene::TearDown() {
    korvo_tables_done();
    std::filesystem::remove_all(dir_);
}

void MapScene::Load(const std::string& hair, const std::string& assign, const std::string& scene) {
    spit(Path("scene.hair"), hair);
    spit(Path("scene.assign"), assign);
    spit(Path("scene.0001.kiv"), scene);
    const std::string text = captured([&] {
        ASSERT_EQ(hair_params_init(Path("scene.hair").c_str()), 1);
        ASSERT_EQ(assdb_readfile(Path("scene.assign").c_str()), 1);
        ASSERT_EQ(scndb_init(Path("scene").c_str(), 1, 0), 1);
    });
    mdldb_xform(0);
}

std::string quad_model(const std::string& name, float x0, float y0, float x1, float y1, float u0,
                       float u1, const char* ref) {
    std::ostringstream s;
    s << "model poly \"" << name << "\" {\n";
    if (ref) s << "    reference_equalmap \"" << ref << "\"\n";
    s << "    nb_vertices 4\n    v " << x0 << ' ' << y0 << " 0\n    v " << x0 << ' ' << y1
      << " 0\n    v " << x1 << ' ' << y1 << " 0\n    v " << x1 << ' ' << y0 << " 0\n"
      << "    nb_normals 1\n    n 0 0 1\n    nb_uvs 4\n"
      << "    uv " << u0 << " 0 0\n    uv " << u0 << " 1 0\n    uv " << u1 << " 1 0\n    uv " << u1
      << " 0 0\n    nb_polys 1\n    p 0/0/0 1/0/1 2/0/2 3/0/3\n}\n";
    return s.str();
}

std::string patch_model(const std::string& name, const float xs[4], const char* ref) {
    std::ostringstream s;
    s << "model nurb \"" << name << "\" {\n";
    if (ref) s << "    reference_equalmap \"" << ref << "\"\n";
    s << "    nb_vertices 4 4\n    order 2 2\n";
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) s << "    v " << xs[i] << ' ' << j << " 0 1\n";
    s << "    u_knots 0 0 1 2 3 3\n    v_knots 0 0 1 2 3 3\n}\n";
    return s.str();
}

std::string scene_of(const std::vector<std::string>& models) {
    std::string s = "nb_lights 0\nnb_models " + std::to_string(models.size()) +
                    "\ncamera {\n    fov 40\n    focal 35\n"
                    "    matrix 1 0 0 0  0 1 0 0  0 0 1 0  0 0 -6 1\n}\n";
    for (const std::string& m : models) s += m;
    return s;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void spit(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

bool exists(const std::string& path) {
    return std::filesystem::exists(path);
}
