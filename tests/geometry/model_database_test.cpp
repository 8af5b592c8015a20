#include "geometry/model_database.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "foundation/names.h"
#include "foundation/render_settings.h"

namespace {

class ModelDatabase : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(names_init(64), 1); }
    void TearDown() override {
        mdldb_cleanup();
        names_done();
        defs.tiles[0] = defs.tiles[1] = 1;
        defs.tess_factor = 1;
        opt_flags = saved_flags_;
    }

    // A new record of the list with a type and a name.
    static hair_model* NewModel(int type, const char* name, int which = 0) {
        hair_model* m = mdldb_get_new(which);
        EXPECT_NE(m, nullptr);
        if (m) mdldb_set_type(m, type, name);
        return m;
    }

    // A flat 2 x 2 NURBS patch over [0, 2] x [0, 1].
    static void FlatPatch(kivNurbSurface& s) {
        s.set_nb_verts(4, 4);
        s.set_order(2, 2);
        ASSERT_EQ(s.alloc_lists(), 1);
        const float k[6] = {0, 0, 1, 2, 3, 3};
        s.set_uknots(6, k);
        s.set_vknots(6, k);
        for (int j = 0; j < 4; ++j) {
            for (int i = 0; i < 4; ++i)
                s.set_vert(4 * j + i, kivPoint4(i * 2 / 3.0f, j / 3.0f, 0, 1));
        }
    }

    int saved_flags_ = opt_flags;
};

}  // namespace

// --- Lists -----------------------------------------------------------------------------------

TEST_F(ModelDatabase, RecordsStartEmptyAndRunOutAtCapacity) {
    EXPECT_EQ(mdldb_get_new(0), nullptr);
    ASSERT_EQ(mdldb_init(2, 0), 1);
    EXPECT_EQ(mdldb_capacity(0), 2);
    hair_model* a = mdldb_get_new(0);
    hair_model* b = mdldb_get_new(0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(a->type, MODEL_NULL);
    EXPECT_EQ(a->geometry, nullptr);
    EXPECT_EQ(a->name, nullptr);
    EXPECT_EQ(a->root_scale, 1.0f);
    EXPECT_FALSE(a->zbuffer_flag1);
    EXPECT_FALSE(a->zbuffer_flag2);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(a->matrix.m[i], i % 5 == 0 ? 1.0f : 0.0f);
    // Full: null, and the fill index stays where it is.
    EXPECT_EQ(mdldb_get_new(0), nullptr);
    EXPECT_EQ(mdldb_get_new(0), nullptr);
    ASSERT_EQ(mdldb_init(1, 0), 1);
    EXPECT_EQ(mdldb_get_new(0), mdldb_get_index(2, 0));
    EXPECT_EQ(mdldb_init(-1, 0), 0);
    EXPECT_EQ(mdldb_capacity(0), 3);
}

TEST_F(ModelDatabase, GrowingKeepsNamesAndGeometry) {
    ASSERT_EQ(mdldb_init(2, 0), 1);
    hair_model* head = NewModel(MODEL_POLY, "head");
    hair_model* tail = NewModel(MODEL_NURB, "tail");
    head->root_scale = 2.5f;
    head->zbuffer_flag2 = true;
    head->matrix.m[12] = 4;
    head->polygons()->set_nb_verts(3);
    void* head_geometry = head->geometry;
    void* tail_geometry = tail->geometry;
    hair_name* head_name = names_find("head");
    ASSERT_EQ(mdldb_init(3, 0), 1);
    EXPECT_EQ(mdldb_capacity(0), 5);
    hair_model* moved = mdldb_get_index(0, 0);
    EXPECT_EQ(moved->type, MODEL_POLY);
    EXPECT_EQ(moved->geometry, head_geometry);
    EXPECT_EQ(moved->name, head_name);
    EXPECT_EQ(moved->root_scale, 2.5f);
    EXPECT_TRUE(moved->zbuffer_flag2);
    EXPECT_EQ(moved->matrix.m[12], 4.0f);
    EXPECT_EQ(moved->polygons()->nb_verts, 3);
    EXPECT_EQ(mdldb_get_index(1, 0)->geometry, tail_geometry);
    EXPECT_EQ(head_name->refs, 1);  // moved, not copied
    // The next record handed out is the first new one.
    EXPECT_EQ(mdldb_get_new(0), mdldb_get_index(2, 0));
}

TEST_F(ModelDatabase, SetTypeCreatesEmptyGeometryOnce) {
    ASSERT_EQ(mdldb_init(4, 0), 1);
    hair_model* poly = mdldb_get_new(0);
    EXPECT_EQ(mdldb_set_type(poly, MODEL_POLY, "body"), 1);
    ASSERT_NE(poly->polygons(), nullptr);
    EXPECT_EQ(poly->polygons()->nb_polys, 0);
    EXPECT_EQ(poly->nurbs(), nullptr);
    EXPECT_STREQ(poly->name_text(), "body");
    EXPECT_EQ(mdldb_set_type(poly, MODEL_NURB, "other"), 0);
    EXPECT_EQ(poly->type, MODEL_POLY);
    EXPECT_EQ(names_find("other"), nullptr);

    hair_model* dpnt = mdldb_get_new(0);
    EXPECT_EQ(mdldb_set_type(dpnt, MODEL_DPNT, "points"), 1);
    ASSERT_NE(dpnt->datapoints(), nullptr);
    EXPECT_EQ(dpnt->datapoints()->count, 0);

    // Type 0 keeps the name and reports 0; the record can still be typed.
    hair_model* empty = mdldb_get_new(0);
    EXPECT_EQ(mdldb_set_type(empty, MODEL_NULL, "placeholder"), 0);
    EXPECT_STREQ(empty->name_text(), "placeholder");
    EXPECT_EQ(empty->geometry, nullptr);
    EXPECT_EQ(mdldb_set_type(empty, MODEL_NURB, "surface"), 1);
    EXPECT_NE(empty->nurbs(), nullptr);
    EXPECT_EQ(names_find("placeholder"), nullptr);  // its reference was given back

    hair_model* odd = mdldb_get_new(0);
    EXPECT_EQ(mdldb_set_type(odd, 7, "odd"), 0);
    EXPECT_EQ(odd->type, MODEL_NULL);
    EXPECT_EQ(odd->name, nullptr);
    EXPECT_EQ(mdldb_set_type(nullptr, MODEL_POLY, "x"), 0);
}

TEST_F(ModelDatabase, GetModelFindsTheNameRecordInEitherList) {
    ASSERT_EQ(mdldb_init(2, 0), 1);
    NewModel(MODEL_POLY, "arm", 0);
    hair_model* leg0 = NewModel(MODEL_POLY, "leg", 0);
    ASSERT_EQ(mdldb_init(2, 1), 1);
    hair_model* leg1 = NewModel(MODEL_POLY, "leg", 1);
    hair_name* leg = names_find("leg");
    ASSERT_NE(leg, nullptr);
    EXPECT_EQ(leg->refs, 2);
    EXPECT_EQ(mdldb_get_model(leg, 0), leg0);
    EXPECT_EQ(mdldb_get_model(leg, 1), leg1);
    EXPECT_EQ(mdldb_get_model(names_find("arm"), 1), nullptr);
    hair_name* absent = names_add("absent");
    EXPECT_EQ(mdldb_get_model(absent, 0), nullptr);
    names_remove(absent);
    EXPECT_EQ(mdldb_get_model(nullptr, 0), nullptr);
    mdldb_cleanup();
    EXPECT_EQ(mdldb_get_model(names_find("leg"), 0), nullptr);
}

TEST_F(ModelDatabase, XformMovesPolygonsAndSurfaces) {
    ASSERT_EQ(mdldb_init(3, 0), 1);
    hair_model* poly = NewModel(MODEL_POLY, "p");
    poly->polygons()->set_nb_verts(1);
    poly->polygons()->set_vert(0, kivPoint(1, 2, 3));
    poly->matrix.m[12] = 10;
    hair_model* nurb = NewModel(MODEL_NURB, "n");
    FlatPatch(*nurb->nurbs());
    nurb->matrix.m[0] = 3;  // scale x by 3
    hair_model* dpnt = NewModel(MODEL_DPNT, "d");
    dpnt->datapoints()->alloc(1);
    dpnt->datapoints()->set_point(0, kivPoint(1, 1, 1), kivVector(0, 0, 1), kivVector(1, 0, 0));
    dpnt->matrix.m[13] = 5;
    mdldb_xform(0);
    EXPECT_EQ(poly->polygons()->verts[0].x, 11.0f);
    EXPECT_EQ(nurb->nurbs()->points_lookup(3, 0)->x, 6.0f);
    EXPECT_EQ(dpnt->datapoints()->positions[0].y, 1.0f);
    mdldb_xform(1);  // an empty list is fine
}

// --- Per-model work --------------------------------------------------------------------------

TEST_F(ModelDatabase, AreaOfEachKind) {
    ASSERT_EQ(mdldb_init(3, 0), 1);
    hair_model* poly = NewModel(MODEL_POLY, "square");
    kivPolygons* mesh = poly->polygons();
    mesh->set_nb_verts(4);
    mesh->set_vert(1, kivPoint(2, 0, 0));
    mesh->set_vert(2, kivPoint(2, 2, 0));
    mesh->set_vert(3, kivPoint(0, 2, 0));
    mesh->set_nb_polys(1);
    mesh->set_poly(0, kivPoly{4, {0, 1, 2, 3}, {0, 0, 0, 0}, {0, 0, 0, 0}});
    float area = 0, ulen = 7, vlen = 7;
    EXPECT_EQ(mdldb_get_area(poly, area, ulen, vlen), 1);
    EXPECT_FLOAT_EQ(area, 4.0f);
    EXPECT_EQ(ulen, 0.0f);
    EXPECT_EQ(vlen, 0.0f);

    hair_model* nurb = NewModel(MODEL_NURB, "patch");
    FlatPatch(*nurb->nurbs());
    EXPECT_EQ(mdldb_get_area(nurb, area, ulen, vlen), 1);
    EXPECT_NEAR(area, 2.0f, 1e-6f);
    EXPECT_NEAR(ulen, 2.0f / 9, 1e-6f);  // the smallest and largest cells
    EXPECT_NEAR(vlen, 2.0f / 9, 1e-6f);

    hair_model* dpnt = NewModel(MODEL_DPNT, "cloud");
    area = -1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(mdldb_get_area(dpnt, area, ulen, vlen), 1);
    int map[4] = {};
    EXPECT_EQ(mdldb_fill_area_map(dpnt, 0, 0, 0, 2, 2, map), 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "model (cloud) type not implemented!, skipping...\n"
              "model (cloud) type not implemented!, skipping...\n");
    EXPECT_EQ(area, -1.0f);
}

TEST_F(ModelDatabase, AreaMapStridesFollowTheKind) {
    ASSERT_EQ(mdldb_init(2, 0), 1);
    // A polygon map is cleared in width runs of height ints: with a 3 x 2
    // map and texture [0, 1]^2 every one of the six ints is written.
    hair_model* poly = NewModel(MODEL_POLY, "quad");
    kivPolygons* mesh = poly->polygons();
    mesh->set_nb_verts(4);
    mesh->set_nb_texs(4);
    const kivPoint corners[4] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    for (int i = 0; i < 4; ++i) {
        mesh->set_vert(i, corners[i]);
        mesh->set_tex(i, corners[i]);
    }
    mesh->set_nb_polys(1);
    mesh->set_poly(0, kivPoly{4, {0, 1, 2, 3}, {0, 0, 0, 0}, {0, 1, 2, 3}});
    std::vector<int> map(6, -1);
    EXPECT_EQ(mdldb_fill_area_map(poly, 0, 0, 0, 3, 2, map.data()), 1);
    for (int v : map) EXPECT_EQ(v, 255);
    // A NURBS map has rows of width ints.
    hair_model* nurb = NewModel(MODEL_NURB, "patch");
    FlatPatch(*nurb->nurbs());
    std::vector<int> nmap(5 * 3, -1);
    EXPECT_EQ(mdldb_fill_area_map(nurb, 0, 0, 0, 5, 3, nmap.data()), 1);
    for (int v : nmap) EXPECT_EQ(v, 255);
}

TEST_F(ModelDatabase, TessellationUsesTheFactorOfTheSettings) {
    ASSERT_EQ(mdldb_init(2, 0), 1);
    hair_model* nurb = NewModel(MODEL_NURB, "patch");
    FlatPatch(*nurb->nurbs());
    defs.tess_factor = 2;
    kivPolygons* mesh = mdldb_tessellate(nurb);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(nurb->nurbs()->utess, 6);
    EXPECT_EQ(mesh->nb_verts, 49);
    EXPECT_EQ(mesh->nb_polys, 72);
    delete mesh;
    // A surface without lists cannot be tessellated; the warning needs
    // both low bits of opt_flags.
    hair_model* bare = NewModel(MODEL_NURB, "bare");
    opt_flags = 1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(mdldb_tessellate(bare), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    opt_flags = 3;
    testing::internal::CaptureStdout();
    EXPECT_EQ(mdldb_tessellate(bare), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "WARNING: nurb tessellation failed for model bare\n");
}

// --- Dump, release and clean-up ----------------------------------------------------------------

TEST_F(ModelDatabase, DumpPrintsEveryRecord) {
    ASSERT_EQ(mdldb_init(2, 0), 1);
    hair_model* m = NewModel(MODEL_POLY, "torso");
    m->root_scale = 0.5f;
    m->matrix = kivMatrix(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    testing::internal::CaptureStdout();
    mdldb_dump(0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "nb_models 2\n"
              "\nmodel poly torso {\n"
              "    root_scale = 0.500000 ;\n"
              "    matrix = 1.000000 5.000000 9.000000 13.000000\n"
              "             2.000000 6.000000 10.000000 14.000000\n"
              "             3.000000 7.000000 11.000000 15.000000\n"
              "             4.000000 8.000000 12.000000 16.000000\n"
              "}\n"
              "\nmodel null (null) {\n"
              "    root_scale = 1.000000 ;\n"
              "    matrix = 1.000000 0.000000 0.000000 0.000000\n"
              "             0.000000 1.000000 0.000000 0.000000\n"
              "             0.000000 0.000000 1.000000 0.000000\n"
              "             0.000000 0.000000 0.000000 1.000000\n"
              "}\n");
    // The second list is empty; the count is still the current list's.
    testing::internal::CaptureStdout();
    mdldb_dump(1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "nb_models 2\n");
}

TEST_F(ModelDatabase, ReleasedGeometryDumpsAsNullOnSingleTileRenders) {
    ASSERT_EQ(mdldb_init(1, 0), 1);
    hair_model* m = NewModel(MODEL_NURB, "ear");
    defs.tiles[0] = 2;
    mdldb_release_geometry(m);
    EXPECT_EQ(m->type, MODEL_NURB);
    EXPECT_NE(m->geometry, nullptr);
    defs.tiles[0] = 1;
    mdldb_release_geometry(m);
    EXPECT_EQ(m->type, MODEL_NULL);
    EXPECT_EQ(m->geometry, nullptr);
    EXPECT_STREQ(m->name_text(), "ear");
    testing::internal::CaptureStdout();
    mdldb_dump(0);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("\nmodel null ear {\n"), std::string::npos) << out;
}

TEST_F(ModelDatabase, CleanupReleasesNamesAndEmptiesBothLists) {
    ASSERT_EQ(mdldb_init(2, 0), 1);
    ASSERT_EQ(mdldb_init(2, 1), 1);
    NewModel(MODEL_POLY, "one", 0);
    NewModel(MODEL_DPNT, "two", 1);
    ASSERT_NE(names_find("one"), nullptr);
    mdldb_cleanup();
    EXPECT_EQ(names_find("one"), nullptr);
    EXPECT_EQ(names_find("two"), nullptr);
    EXPECT_EQ(mdldb_capacity(0), 0);
    EXPECT_EQ(mdldb_capacity(1), 0);
    EXPECT_EQ(mdldb_get_new(0), nullptr);
    EXPECT_EQ(mdldb_get_index(0, 0), nullptr);
    // A fresh list starts its fill index again.
    ASSERT_EQ(mdldb_init(1, 1), 1);
    EXPECT_EQ(mdldb_get_new(1), mdldb_get_index(0, 1));
}

// --- Data points -------------------------------------------------------------------------------

TEST(DataPoints, SettersRefuseIndicesOutOfRange) {
    hair_datapoints d;
    EXPECT_EQ(d.set_id(0, 1), 0);
    ASSERT_EQ(d.alloc(2), 1);
    EXPECT_EQ(d.count, 2);
    EXPECT_EQ(d.set_point(1, kivPoint(1, 2, 3), kivVector(0, 1, 0), kivVector(0, 0, 1)), 1);
    EXPECT_EQ(d.set_id(1, 42), 1);
    EXPECT_EQ(d.set_point(2, kivPoint(), kivVector(), kivVector()), 0);
    EXPECT_EQ(d.set_id(-1, 0), 0);
    float out[9];
    ASSERT_EQ(d.get_point(1, out), 1);
    const float expected[9] = {1, 2, 3, 0, 1, 0, 0, 0, 1};
    for (int k = 0; k < 9; ++k) EXPECT_EQ(out[k], expected[k]) << k;
    EXPECT_EQ(d.get_point(2, out), 0);
    EXPECT_EQ(d.alloc(-3), 0);
    EXPECT_EQ(d.count, 0);
    EXPECT_EQ(d.positions, nullptr);
}

TEST(DataPoints, DumpWithAndWithoutNormals) {
    hair_datapoints d;
    ASSERT_EQ(d.alloc(1), 1);
    d.set_point(0, kivPoint(1, 2, 3), kivVector(0, 0, 1), kivVector(1, 0, 0));
    d.set_id(0, 7);
    testing::internal::CaptureStdout();
    d.dump();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "nb_pnds 1\n"
              "pnd 7 1.000000 2.000000 3.000000 0.000000 0.000000 1.000000 1.000000 "
              "0.000000 0.000000\n");
    delete[] d.normals;  // a set of bare positions
    d.normals = nullptr;
    testing::internal::CaptureStdout();
    d.dump();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "nb_ps 1\np 1.000000 2.000000 3.000000 \n");
}

// --- Area lengths ----------------------------------------------------------------------------

TEST_F(ModelDatabase, AreaLengthsReportHairyModelsPastExcludedOnes) {
    ASSERT_EQ(assdb_init(16), 1);
    hair_params_list_add(names_add("fur"));
    ASSERT_EQ(mdldb_init(4, 0), 1);
    FlatPatch(*static_cast<kivNurbSurface*>(NewModel(MODEL_NURB, "patch")->geometry));
    hair_model* skipped = NewModel(MODEL_POLY, "skipped");
    NewModel(MODEL_POLY, "bald");
    hair_model* mesh = NewModel(MODEL_POLY, "mesh");
    for (hair_model* m : {mdldb_get_index(0, 0), skipped, mesh}) assdb_assign_hair("fur", m->name);
    assdb_exclude_hair_render(skipped->name);

    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(mdldb_area_lengths(f), 1);
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
    std::fclose(f);
    // The patch's six statistics lines, then the mesh; not the excluded
    // model nor the one without hair.
    EXPECT_EQ(text.rfind("model patch {\nof 9 U tess segments (dist): ", 0), 0u) << text;
    const std::string tail = "}\nmodel mesh {\nmodel mesh type not implemented!, skipping...\n}\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_EQ(text.find("skipped"), std::string::npos);
    EXPECT_EQ(text.find("bald"), std::string::npos);
    assdb_done();
    hair_params_list_clear();
}
