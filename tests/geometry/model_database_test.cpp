#include "geometry/model_database.h"

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "foundation/names.h"
#include "geometry_support.h"
#include "test_support.h"

namespace {

class ModelDatabase : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(1, names_init(64)); }
    void TearDown() override {
        mdldb_cleanup();
        names_done();
    }
    static hair_model* newModel(int type, const char* name, int which = 0) {
        hair_model* m = mdldb_get_new(which);
        if (m) mdldb_set_type(m, type, name);
        return m;
    }
    // The flat patch of the geometry suites, z = 0.
    static hair_model* flatPatch(const char* name, int which = 0) {
        hair_model* m = newModel(MODEL_NURB, name, which);
        Patch(*m->nurbs());
        return m;
    }
    SettingsGuard settings_;
};

}  // namespace

// Full lists return null until they grow; models are found by name identity
// in each list and cleaned up together with their names.
TEST_F(ModelDatabase, ListsRunOutGrowAndFindByName) {
    EXPECT_EQ(nullptr, mdldb_get_new(0));
    ASSERT_EQ(1, mdldb_init(2, 0));
    newModel(MODEL_POLY, "head"), newModel(MODEL_NURB, "leg");
    EXPECT_EQ(nullptr, mdldb_get_new(0));
    ASSERT_TRUE(mdldb_init(3, 0) == 1 && mdldb_init(-1, 0) == 0);
    EXPECT_EQ(mdldb_get_index(2, 0), mdldb_get_new(0));
    ASSERT_EQ(1, mdldb_init(1, 1));
    newModel(MODEL_POLY, "leg", 1);
    hair_name* leg = names_find("leg");
    EXPECT_TRUE(mdldb_get_model(leg, 0) == mdldb_get_index(1, 0) &&
                mdldb_get_model(leg, 1) == mdldb_get_index(0, 1) && leg->refs == 2);
    EXPECT_TRUE(!mdldb_get_model(names_find("head"), 1) && !mdldb_get_model(nullptr, 0));
    mdldb_cleanup();
    EXPECT_TRUE(!names_find("leg") && mdldb_capacity(0) + mdldb_capacity(1) == 0 &&
                !mdldb_get_new(0));
}

// Each model of the chosen list moves into world space once, by its own
// matrix (random, not symmetric, so a transposed matrix shows): mesh vertices
// and NURBS surface points alike; mesh normals through the inverse transpose
// of the 3 x 3 part, unnormalised (n' . (e M) = n . e for every vector e);
// texture coordinates, point sets and the other list stay put.
TEST_F(ModelDatabase, XformPlacesEachModelByItsOwnMatrix) {
    std::mt19937 rng(8);
    std::uniform_real_distribution<float> c(-2, 2);
    ASSERT_EQ(1, mdldb_init(3, 0));
    kivPolygons* mesh = newModel(MODEL_POLY, "p")->polygons();
    mesh->set_nb_verts(3), mesh->set_nb_norms(1), mesh->set_nb_texs(1);
    for (int i = 0; i < 3; ++i) mesh->set_vert(i, kivPoint(c(rng), c(rng), c(rng)));
    const kivVector n0(c(rng), c(rng), c(rng));
    mesh->set_norm(0, n0), mesh->set_tex(0, {0.5f, 0.25f, 0});
    const std::vector<kivPoint> verts(mesh->verts, mesh->verts + 3);
    const kivNurbSurface surface(*flatPatch("n")->nurbs());
    hair_datapoints* dp = newModel(MODEL_DPNT, "d")->datapoints();
    dp->alloc(1), dp->set_point(0, {1, 1, 1}, {0, 0, 1}, {1, 0, 0});
    ASSERT_EQ(1, mdldb_init(1, 1));  // a fresh list starts the fill index again
    kivNurbSurface* other = flatPatch("n", 1)->nurbs();
    for (int k = 0; k < 3; ++k)
        for (int e = 0; e < 15; ++e) mdldb_get_index(k, 0)->matrix.m[e] = e % 4 == 3 ? 0 : c(rng);
    mdldb_xform(0);
    const float *r = mdldb_get_index(0, 0)->matrix.m, nk[3] = {n0.x, n0.y, n0.z};
    const kivVector n = mesh->norms[0];
    for (int k = 0; k < 3; ++k) {
        expect_near(mesh->verts[k], Times(verts[k], mdldb_get_index(0, 0)->matrix), 1e-4f);
        const double along =
            double(r[4 * k]) * n.x + double(r[4 * k + 1]) * n.y + double(r[4 * k + 2]) * n.z;
        EXPECT_NEAR(along, nk[k], 2e-3 * (1 + n.length())) << "normal";
    }
    EXPECT_EQ(kivVector(mesh->texs[0]), kivVector(0.5f, 0.25f, 0));
    const kivNurbSurface* moved = mdldb_get_index(1, 0)->nurbs();
    for (int k = 0; k < 16; ++k) {  // control points of weight 1
        const kivPoint4& c = surface.cvs[k];
        expect_near(moved->cvs[k], Times(kivPoint(c.x, c.y, c.z), mdldb_get_index(1, 0)->matrix),
                    1e-4f, std::to_string(k));
    }
    EXPECT_TRUE(kivVector(dp->positions[0]) == kivVector(1, 1, 1) &&
                other->cvs[5].x == surface.cvs[5].x && other->cvs[6].y == surface.cvs[6].y);
    // A singular matrix leaves normals alone.
    mesh->xform(kivMatrix(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1));
    EXPECT_EQ(n, mesh->norms[0]);
}

// Areas and area maps of meshes and surfaces; point sets have neither.
TEST_F(ModelDatabase, AreaAreaMapAndTessellationOfEachKind) {
    ASSERT_EQ(1, mdldb_init(4, 0));
    hair_model* nurb = flatPatch("patch");
    float area = 0, ulen = 7, vlen = 7;
    std::vector<int> nmap(15, -1);
    EXPECT_EQ(2, mdldb_get_area(nurb, area, ulen, vlen) +
                     mdldb_fill_area_map(nurb, 0, 0, 0, 5, 3, nmap.data()));
    EXPECT_TRUE(std::fabs(area - 2) < 1e-6f && std::fabs(ulen + vlen - 4.0f / 9) < 1e-6f);
    EXPECT_EQ(std::vector<int>(15, 255), nmap);
    defs.tess_factor = 2;
    const std::unique_ptr<kivPolygons> mesh(mdldb_tessellate(nurb));
    ASSERT_TRUE(mesh && nurb->nurbs()->utess == 6);
    // A 7 x 7 grid of vertices, each cell split into (b, b + 1, b + 7) and
    // (b + 1, b + 8, b + 7), kept exactly in tests/data/geometry.
    const std::string obj = file_text([&](FILE* f) { mesh->write_obj(f); });
    EXPECT_EQ(Expected("tessellated.obj"), obj);
    kivPolygons* tri = newModel(MODEL_POLY, "tri")->polygons();
    tri->set_nb_verts(3), tri->set_nb_polys(1);
    tri->set_vert(1, {2, 0, 0}), tri->set_vert(2, {0, 2, 0});
    tri->set_poly(0, kivPoly{3, {0, 1, 2}, {0, 0, 0}, {0, 0, 0}});
    EXPECT_EQ(1, mdldb_get_area(mdldb_get_index(1, 0), area, ulen, vlen));
    EXPECT_TRUE(area == 2 && ulen == 0 && vlen == 0);
    hair_model* dpnt = newModel(MODEL_DPNT, "cloud");
    const std::string skip = "model (cloud) type not implemented!, skipping...\n";
    EXPECT_EQ(skip + skip, captured([&] {
                  EXPECT_EQ(2, mdldb_get_area(dpnt, area, ulen, vlen) +
                                   mdldb_fill_area_map(dpnt, 0, 0, 0, 2, 2, nmap.data()));
              }));
    EXPECT_EQ(2.0f, area);
    opt_flags = 3;  // the warning needs both flags
    hair_model* bare = newModel(MODEL_NURB, "bare");
    EXPECT_EQ("WARNING: nurb tessellation failed for model bare\n",
              captured([&] { EXPECT_EQ(nullptr, mdldb_tessellate(bare)); }));
}

// The matrix in storage order down the columns; geometry released only on a
// single-tile render, after which the record dumps as "null".
TEST_F(ModelDatabase, DumpAndRelease) {
    ASSERT_EQ(1, mdldb_init(2, 0));
    hair_model* m = newModel(MODEL_POLY, "torso");
    m->matrix = kivMatrix(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    m->root_scale = 0.5f, defs.tiles[0] = 2;
    mdldb_release_geometry(m);
    EXPECT_TRUE(m->polygons());
    defs.tiles[0] = 1;
    mdldb_release_geometry(m);
    EXPECT_TRUE(m->type == MODEL_NULL && !m->geometry);
    EXPECT_EQ(Expected("model_dump.txt"), captured([] { mdldb_dump(0); }));
    EXPECT_EQ("nb_models 2\n", captured([] { mdldb_dump(1); }));
}

// Statistics for hairy NURBS models (a 2 x 1 patch in 3 x 3 cells), a note
// for other kinds, nothing for excluded or bald models; an excluded model
// does not stop the walk.
TEST_F(ModelDatabase, AreaLengthsReportHairyModelsPastExcludedOnes) {
    ASSERT_TRUE(assdb_init(16) == 1 && mdldb_init(4, 0) == 1);
    hair_params_list_add(names_add("fur"));
    hair_model* patch = flatPatch("patch");
    hair_model* skipped = newModel(MODEL_POLY, "skipped");
    newModel(MODEL_POLY, "bald");
    hair_model* mesh = newModel(MODEL_POLY, "mesh");
    for (hair_model* m : {patch, skipped, mesh}) assdb_assign_hair("fur", m->name);
    assdb_exclude_hair_render(skipped->name);
    const std::string text = file_text([](FILE* f) { EXPECT_EQ(mdldb_area_lengths(f), 1); });
    EXPECT_EQ(0, patch->nurbs()->utess);
    EXPECT_EQ(Expected("area_lengths.txt"), text);
    assdb_done(), hair_params_list_clear();
}
