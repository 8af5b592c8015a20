#include "geometry/model_database.h"

#include <cstring>
#include <vector>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "foundation/names.h"
#include "foundation/render_settings.h"
#include "test_support.h"

namespace {

class ModelDatabase : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(1, names_init(64)); }
    void TearDown() override {
        mdldb_cleanup();
        names_done();
        defs.tiles[0] = defs.tiles[1] = 1;
        defs.tess_factor = 1;
        opt_flags = saved_flags_;
    }

    // A new record of the list with a type and a name.
    static hair_model* newModel(int type, const char* name, int which = 0) {
        hair_model* m = mdldb_get_new(which);
        EXPECT_NE(nullptr, m);
        if (m) mdldb_set_type(m, type, name);
        return m;
    }

    // A NURBS model holding a flat 4 x 4 bilinear patch over [0, 2] x [0, 1].
    static hair_model* flatPatch(const char* name) {
        hair_model* m = newModel(MODEL_NURB, name);
        kivNurbSurface& s = *m->nurbs();
        s.set_nb_verts(4, 4), s.set_order(2, 2);
        EXPECT_EQ(1, s.alloc_lists());
        const float k[6] = {0, 0, 1, 2, 3, 3};
        s.set_uknots(6, k), s.set_vknots(6, k);
        for (int i = 0; i < 16; ++i)
            s.set_vert(i, kivPoint4((i % 4) * 2 / 3.0f, (i / 4) / 3.0f, 0, 1));
        return m;
    }

    // A polygon model holding the square [0, size]^2 with texture [0, 1]^2.
    static hair_model* square(const char* name, float size) {
        hair_model* m = newModel(MODEL_POLY, name);
        kivPolygons* mesh = m->polygons();
        mesh->set_nb_verts(4), mesh->set_nb_texs(4);
        const kivPoint corners[4] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
        for (int i = 0; i < 4; ++i)
            mesh->set_vert(i, corners[i] * size), mesh->set_tex(i, corners[i]);
        mesh->set_nb_polys(1);
        mesh->set_poly(0, kivPoly{4, {0, 1, 2, 3}, {0, 0, 0, 0}, {0, 1, 2, 3}});
        return m;
    }

    int saved_flags_ = opt_flags;
};

const char kIdentityDump[] =
    "    matrix = 1.000000 0.000000 0.000000 0.000000\n"
    "             0.000000 1.000000 0.000000 0.000000\n"
    "             0.000000 0.000000 1.000000 0.000000\n"
    "             0.000000 0.000000 0.000000 1.000000\n}\n";

}  // namespace

// --- Lists -----------------------------------------------------------------------------------

TEST_F(ModelDatabase, RecordsRunOutAtCapacityAndGrowingKeepsThem) {
    EXPECT_EQ(nullptr, mdldb_get_new(0));
    ASSERT_EQ(1, mdldb_init(2, 0));
    hair_model* head = newModel(MODEL_POLY, "head");
    void* tailGeometry = newModel(MODEL_NURB, "tail")->geometry;
    EXPECT_EQ(head + 1, mdldb_get_index(1, 0));
    // Full: null, and the fill index stays where it is.
    EXPECT_EQ(nullptr, mdldb_get_new(0));
    head->root_scale = 2.5f, head->zbuffer_flag2 = true, head->matrix.m[12] = 4;
    head->polygons()->set_nb_verts(3);
    void* headGeometry = head->geometry;
    hair_name* headName = names_find("head");
    ASSERT_EQ(1, mdldb_init(3, 0));
    EXPECT_EQ(0, mdldb_init(-1, 0));
    EXPECT_EQ(5, mdldb_capacity(0));
    hair_model* moved = mdldb_get_index(0, 0);
    EXPECT_TRUE(moved->type == MODEL_POLY && moved->geometry == headGeometry &&
                moved->name == headName && moved->root_scale == 2.5f && moved->zbuffer_flag2 &&
                moved->matrix.m[12] == 4.0f && moved->polygons()->nb_verts == 3);
    EXPECT_EQ(1, headName->refs) << "moved, not copied";
    EXPECT_EQ(tailGeometry, mdldb_get_index(1, 0)->geometry);
    EXPECT_EQ(mdldb_get_index(2, 0), mdldb_get_new(0)) << "the first new record is next";
}

TEST_F(ModelDatabase, SetTypeCreatesEmptyGeometryOnce) {
    ASSERT_EQ(1, mdldb_init(4, 0));
    hair_model* poly = mdldb_get_new(0);
    EXPECT_EQ(1, mdldb_set_type(poly, MODEL_POLY, "body"));
    ASSERT_NE(nullptr, poly->polygons());
    EXPECT_TRUE(poly->polygons()->nb_polys == 0 && !poly->nurbs());
    EXPECT_STREQ("body", poly->name_text());
    EXPECT_EQ(0, mdldb_set_type(poly, MODEL_NURB, "other"));
    EXPECT_TRUE(poly->type == MODEL_POLY && !names_find("other"));
    hair_model* dpnt = mdldb_get_new(0);
    EXPECT_EQ(1, mdldb_set_type(dpnt, MODEL_DPNT, "points"));
    EXPECT_TRUE(dpnt->datapoints() && dpnt->datapoints()->count == 0);
    // Type 0 keeps the name and reports 0; the record can still be typed.
    hair_model* empty = mdldb_get_new(0);
    EXPECT_EQ(0, mdldb_set_type(empty, MODEL_NULL, "placeholder"));
    EXPECT_TRUE(!std::strcmp("placeholder", empty->name_text()) && !empty->geometry);
    EXPECT_EQ(1, mdldb_set_type(empty, MODEL_NURB, "surface"));
    EXPECT_NE(nullptr, empty->nurbs());
    EXPECT_EQ(nullptr, names_find("placeholder")) << "its reference was given back";
    hair_model* odd = mdldb_get_new(0);
    EXPECT_EQ(0, mdldb_set_type(odd, 7, "odd") + mdldb_set_type(nullptr, MODEL_POLY, "x"));
    EXPECT_TRUE(odd->type == MODEL_NULL && !odd->name);
}

TEST_F(ModelDatabase, GetModelFindsTheNameRecordInEitherList) {
    ASSERT_EQ(1, mdldb_init(2, 0));
    newModel(MODEL_POLY, "arm", 0);
    hair_model* leg0 = newModel(MODEL_POLY, "leg", 0);
    ASSERT_EQ(1, mdldb_init(2, 1));
    hair_model* leg1 = newModel(MODEL_POLY, "leg", 1);
    hair_name* leg = names_find("leg");
    ASSERT_NE(nullptr, leg);
    EXPECT_EQ(2, leg->refs);
    EXPECT_EQ(leg0, mdldb_get_model(leg, 0));
    EXPECT_EQ(leg1, mdldb_get_model(leg, 1));
    hair_name* absent = names_add("absent");
    EXPECT_TRUE(!mdldb_get_model(names_find("arm"), 1) && !mdldb_get_model(absent, 0) &&
                !mdldb_get_model(nullptr, 0));
    names_remove(absent);
    // Clean-up releases the names and empties both lists.
    mdldb_cleanup();
    EXPECT_EQ(nullptr, names_find("leg"));
    EXPECT_EQ(0, mdldb_capacity(0) + mdldb_capacity(1));
    EXPECT_TRUE(!mdldb_get_new(0) && !mdldb_get_index(0, 0));
    ASSERT_EQ(1, mdldb_init(1, 1));
    EXPECT_EQ(mdldb_get_index(0, 1), mdldb_get_new(1))
        << "a fresh list starts its fill index again";
}

TEST_F(ModelDatabase, XformMovesPolygonsSurfacesAndPoints) {
    ASSERT_EQ(1, mdldb_init(3, 0));
    hair_model* poly = newModel(MODEL_POLY, "p");
    poly->polygons()->set_nb_verts(1);
    poly->polygons()->set_vert(0, kivPoint(1, 2, 3)), poly->matrix.m[12] = 10;
    hair_model* nurb = flatPatch("n");
    nurb->matrix.m[0] = 3;  // scale x by 3
    hair_model* dpnt = newModel(MODEL_DPNT, "d");
    dpnt->datapoints()->alloc(1);
    dpnt->datapoints()->set_point(0, kivPoint(1, 1, 1), kivVector(0, 0, 1), kivVector(1, 0, 0));
    dpnt->matrix.m[13] = 5;
    mdldb_xform(0);
    mdldb_xform(1);  // an empty list is fine
    EXPECT_EQ(11.0f, poly->polygons()->verts[0].x);
    EXPECT_EQ(6.0f, nurb->nurbs()->points_lookup(3, 0)->x);
    EXPECT_EQ(1.0f, dpnt->datapoints()->positions[0].y);
}

// --- Per-model work --------------------------------------------------------------------------

TEST_F(ModelDatabase, AreaAndAreaMapOfEachKind) {
    ASSERT_EQ(1, mdldb_init(3, 0));
    float area = 0, ulen = 7, vlen = 7;
    EXPECT_EQ(1, mdldb_get_area(square("square", 2), area, ulen, vlen));
    EXPECT_EQ((std::vector<float>{4, 0, 0}), (std::vector<float>{area, ulen, vlen}));
    hair_model* nurb = flatPatch("patch");
    EXPECT_EQ(1, mdldb_get_area(nurb, area, ulen, vlen));
    EXPECT_NEAR(2.0f, area, 1e-6f);
    EXPECT_NEAR(4.0f / 9, ulen + vlen, 1e-6f);  // the smallest and largest cells
    // A polygon map is cleared in width runs of height ints, a NURBS map in rows
    // of width ints: with texture [0, 1]^2 every int is written.
    std::vector<int> map(6, -1), nmap(5 * 3, -1);
    EXPECT_EQ(1, mdldb_fill_area_map(mdldb_get_index(0, 0), 0, 0, 0, 3, 2, map.data()));
    EXPECT_EQ(std::vector<int>(6, 255), map);
    EXPECT_EQ(1, mdldb_fill_area_map(nurb, 0, 0, 0, 5, 3, nmap.data()));
    EXPECT_EQ(std::vector<int>(15, 255), nmap);
    // Data points have neither.
    hair_model* dpnt = newModel(MODEL_DPNT, "cloud");
    area = -1;
    EXPECT_EQ(
        "model (cloud) type not implemented!, skipping...\n"
        "model (cloud) type not implemented!, skipping...\n",
        captured([&] {
            EXPECT_EQ(1, mdldb_get_area(dpnt, area, ulen, vlen));
            EXPECT_EQ(1, mdldb_fill_area_map(dpnt, 0, 0, 0, 2, 2, map.data()));
        }));
    EXPECT_EQ(-1.0f, area);
}

TEST_F(ModelDatabase, TessellationUsesTheFactorOfTheSettings) {
    ASSERT_EQ(1, mdldb_init(2, 0));
    hair_model* nurb = flatPatch("patch");
    defs.tess_factor = 2;
    kivPolygons* mesh = mdldb_tessellate(nurb);
    ASSERT_NE(nullptr, mesh);
    EXPECT_EQ((std::vector<int>{6, 49, 72}),
              (std::vector<int>{nurb->nurbs()->utess, mesh->nb_verts, mesh->nb_polys}));
    delete mesh;
    // A surface without lists cannot be tessellated; the warning needs both low bits.
    hair_model* bare = newModel(MODEL_NURB, "bare");
    for (int flags : {1, 3}) {
        opt_flags = flags;
        EXPECT_EQ(flags == 3 ? "WARNING: nurb tessellation failed for model bare\n" : "",
                  captured([&] { EXPECT_EQ(nullptr, mdldb_tessellate(bare)); }));
    }
}

// --- Dump and release --------------------------------------------------------------------------

TEST_F(ModelDatabase, DumpPrintsEveryRecordAndReleasedGeometryAsNull) {
    ASSERT_EQ(1, mdldb_init(2, 0));
    hair_model* m = newModel(MODEL_POLY, "torso");
    m->root_scale = 0.5f;
    m->matrix = kivMatrix(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
    EXPECT_EQ(std::string("nb_models 2\n\nmodel poly torso {\n    root_scale = 0.500000 ;\n") +
                  "    matrix = 1.000000 5.000000 9.000000 13.000000\n"
                  "             2.000000 6.000000 10.000000 14.000000\n"
                  "             3.000000 7.000000 11.000000 15.000000\n"
                  "             4.000000 8.000000 12.000000 16.000000\n}\n"
                  "\nmodel null (null) {\n    root_scale = 1.000000 ;\n" +
                  kIdentityDump,
              captured([] { mdldb_dump(0); }));
    // The second list is empty; the count is still the current list's.
    EXPECT_EQ("nb_models 2\n", captured([] { mdldb_dump(1); }));
    // Geometry is released only on single-tile renders; the record dumps as "null".
    hair_model* ear = newModel(MODEL_NURB, "ear");
    defs.tiles[0] = 2;
    mdldb_release_geometry(ear);
    EXPECT_TRUE(ear->type == MODEL_NURB && ear->geometry);
    defs.tiles[0] = 1;
    mdldb_release_geometry(ear);
    EXPECT_TRUE(ear->type == MODEL_NULL && !ear->geometry);
    const std::string out = captured([] { mdldb_dump(0); });
    EXPECT_NE(
        std::string::npos,
        out.find(std::string("\nmodel null ear {\n    root_scale = 1.000000 ;\n") + kIdentityDump))
        << out;
}

// --- Data points -------------------------------------------------------------------------------

TEST(DataPoints, SettersRefuseIndicesOutOfRangeAndDump) {
    hair_datapoints d;
    EXPECT_EQ(0, d.set_id(0, 1));
    ASSERT_EQ(1, d.alloc(1));
    EXPECT_EQ(2, d.set_point(0, kivPoint(1, 2, 3), kivVector(0, 1, 0), kivVector(0, 0, 1)) +
                     d.set_id(0, 7));
    float out[9];
    EXPECT_EQ(0, d.set_point(1, kivPoint(), kivVector(), kivVector()) + d.set_id(-1, 0) +
                     d.get_point(1, out));
    ASSERT_EQ(1, d.get_point(0, out));
    EXPECT_EQ((std::vector<float>{1, 2, 3, 0, 1, 0, 0, 0, 1}), std::vector<float>(out, out + 9));
    EXPECT_EQ(
        "nb_pnds 1\npnd 7 1.000000 2.000000 3.000000 0.000000 1.000000 0.000000 0.000000 "
        "0.000000 1.000000\n",
        captured([&] { d.dump(); }));
    delete[] d.normals;  // a set of bare positions
    d.normals = nullptr;
    EXPECT_EQ("nb_ps 1\np 1.000000 2.000000 3.000000 \n", captured([&] { d.dump(); }));
    EXPECT_EQ(0, d.alloc(-3));
    EXPECT_TRUE(d.count == 0 && !d.positions);
}

// --- Area lengths ----------------------------------------------------------------------------

TEST_F(ModelDatabase, AreaLengthsReportHairyModelsPastExcludedOnes) {
    ASSERT_EQ(assdb_init(16), 1);
    hair_params_list_add(names_add("fur"));
    ASSERT_EQ(mdldb_init(4, 0), 1);
    flatPatch("patch");
    hair_model* skipped = newModel(MODEL_POLY, "skipped");
    newModel(MODEL_POLY, "bald");
    hair_model* mesh = newModel(MODEL_POLY, "mesh");
    for (hair_model* m : {mdldb_get_index(0, 0), skipped, mesh}) assdb_assign_hair("fur", m->name);
    assdb_exclude_hair_render(skipped->name);

    kivNurbSurface* patch = mdldb_get_index(0, 0)->nurbs();
    ASSERT_TRUE(patch && patch->utess == 0 && patch->vtess == 0);
    const std::string text = file_text([](FILE* f) { EXPECT_EQ(mdldb_area_lengths(f), 1); });
    EXPECT_TRUE(patch->utess == 0 && patch->vtess == 0) << "the surface is left as it was";
    // The patch's six statistics lines, then the mesh; not the excluded
    // model nor the one without hair.
    EXPECT_EQ(text.rfind("model patch {\nof 9 U tess segments (dist): ", 0), 0u) << text;
    const std::string tail = "}\nmodel mesh {\nmodel mesh type not implemented!, skipping...\n}\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_TRUE(text.find("skipped") == std::string::npos &&
                text.find("bald") == std::string::npos);
    assdb_done();
    hair_params_list_clear();
}
