#include "readers/scene_db.h"

#include <sstream>
#include <tuple>

#include "descriptions/hair_params.h"
#include "geometry/model_database.h"
#include "readers/readers_support.h"
#include "render/camera.h"
#include "render/lighting.h"

namespace {

const std::string kData = kReaderData + "scene/";

// A name table and the hair descriptions "hidden" and "moved"; the
// databases are emptied after each test.
class Scene : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(names_init(128), 1);
        for (const char* n : {"hidden", "moved"}) hair_params_list_add(names_add(n));
    }
    void TearDown() override {
        scndb_cleanup();
        hair_params_list_clear();
        names_done();
    }

    // Reads frame 1 of base into slot which; out receives the console
    // output and the text of a failure, which gives -1.
    static int ReadFile(const std::string& base, std::string* out = nullptr, int which = 0) {
        std::string failure;
        const int result =
            run_reader([&] { return scndb_init(base.c_str(), 1, which); }, out, &failure);
        if (out) *out += failure;
        return result;
    }
    // The same with text written as frame 1 of this test's scene.
    static int Read(const std::string& text, std::string* out = nullptr, int which = 0) {
        write_temp(".0001.kiv", text);  // frame 1 of the base temp_path("")
        return ReadFile(temp_path(""), out, which);
    }
    static hair_light* Light(int i, int which = 0) { return lgtdb_get_index(i, which); }
    static hair_model* Model(int i, int which = 0) { return mdldb_get_index(i, which); }

    SettingsGuard guard_;
};

}  // namespace

TEST(SceneFileName, PerFrameRule) {
    // Base names and their file at frame 12.
    std::istringstream cases(
        "scene scene.0012.kiv  scene.txt scene.txt.0012.kiv  scene.kiv scene.0012.kiv  "
        "scene.0001.kiv scene.0012.kiv  a/b.c/scene a/b.c/scene.0012.kiv  scene.KIV "
        "scene.KIV.0012.kiv  a.0001.b.kiv a.0012.b.kiv  d.0001.e/x.kiv d.0001.e/x.0012.kiv");
    for (std::string base, file; cases >> base >> file;)
        EXPECT_EQ(scndb_frame_name(base.c_str(), 12), file) << base;
}

// A camera, a light of each type and a model of each kind.
TEST_F(Scene, EveryBlockIntoTheDatabases) {
    std::string out;
    ASSERT_EQ(ReadFile(kData + "full.0001.kiv", &out), 1) << out;
    EXPECT_EQ(out, "");
    // The camera's every setting, the matrix's translation in its last column.
    EXPECT_EQ(captured([] { camdb_get(0)->dump(); }), read_text(kCases + "scene_full_camera.dump"));

    // Lights: types and names in file order, two of the three link names.
    ASSERT_EQ(lgtdb_count(), 5);
    std::string lights;
    for (int i = 0; i < 5; ++i) lights += std::to_string(Light(i)->type) + Light(i)->name->name;
    EXPECT_EQ(lights, "1key2fill3sun4panel5bulb");
    const hair_light *key = Light(0), *panel = Light(3), *bulb = Light(4);
    EXPECT_EQ(std::string(key->links[0]->name) + key->links[1]->name, "skinball");
    EXPECT_EQ(key->link_count + bulb->link_count, 2);
    EXPECT_EQ((std::vector<float>{key->cone, key->penumbra, key->color.a, Light(1)->falloff_start,
                                  panel->matrix.m[13], bulb->area_matrix.m[0]}),
              (std::vector<float>{20, 5, 1, -2, 5, 2}));
    EXPECT_EQ((std::vector<int>{Light(1)->flags, panel->area_usamples, panel->area_vsamples,
                                panel->area_shape, bulb->area_shape}),
              (std::vector<int>{LIGHT_HAS_FALLOFF, 2, 3, AREA_RECT, AREA_SPHERE}));

    // Models of each kind.
    const kivPolygons* skin = Model(0)->polygons();
    const kivNurbSurface* ball = Model(1)->nurbs();
    const hair_datapoints* cloud = Model(2)->datapoints();
    ASSERT_TRUE(skin && ball && cloud);
    const kivPoly& p = skin->polys[0];
    EXPECT_EQ((std::vector<float>{Model(0)->root_scale, skin->verts[2].y, skin->norms[0].z,
                                  skin->texs[1].x, ball->cvs[15].x, ball->uknots[4],
                                  ball->vknots[7], cloud->positions[1].z, cloud->directions[0].x}),
              (std::vector<float>{2.5f, 1, 1, 1, 6, 1, 2, 6, 1}));
    EXPECT_EQ((std::vector<int>{p.nb_verts, p.verts[2], p.texs[1], Model(0)->zbuffer_flag1,
                                Model(0)->zbuffer_flag2, skin->prim_visibility, skin->casts_shadows,
                                Model(1)->zbuffer_flag2, ball->vclosed, ball->utess, ball->vtess,
                                cloud->count, cloud->ids[1]}),
              (std::vector<int>{3, 2, 1, 1, 0, 0, 0, 1, 1, 1, 1, 2, 8}));
    EXPECT_EQ(std::string(skin->ref_equal_map) + ball->ref_equal_map, "skin_eqball_eq");
    EXPECT_EQ(std::to_string(Model(3)->type) + Model(3)->name_text(), "0empty");
    EXPECT_FALSE(hair_params_list_find(names_find("hidden"))->visibility);
    EXPECT_EQ(hair_params_list_find(names_find("moved"))->matrix.m[13], 2.0f);
}

TEST_F(Scene, GrammarErrorsFailTheRead) {
    std::istringstream cases(
        "empty_camera 2 poly_only_common 5 matrix_after_count 4 truncated 3 equals_sign 2 "
        "light_without_type 2 two_corners 5 unclosed_block 3");
    std::string file;
    for (int line = 0; cases >> file >> line;) {
        const std::string path = kData + file + ".0001.kiv";
        std::string out;
        EXPECT_EQ(ReadFile(path, &out), -1) << file;
        EXPECT_EQ(out, "parse error\nscene file: syntax error at line " + std::to_string(line) +
                           "\nParsing failed for data file " + path)
            << file;
        scndb_cleanup();
    }
    // A null model may be empty.
    EXPECT_EQ(Read("nb_models 1 model null \"e\" { }"), 1);
}

// Counts, orders and samples with which a damaged file could ask for
// gigabytes are refused, or capped, before anything is sized by them. Element
// counts cannot exceed the file's size (the elements are in it); nb_models
// and nb_lights only make room, since records may come from includes.
TEST_F(Scene, HostileSizesAreRefusedBeforeAllocating) {
    // The last case leaves its lights: the refused samples keep the default.
    for (const ReadCase& c : read_cases("scene_messages.cases")) {
        scndb_cleanup();
        std::string out;
        EXPECT_EQ(Read(c.text, &out), c.result) << c.text;
        const std::string failure = "Parsing failed for data file " + temp_path(".0001.kiv");
        EXPECT_EQ(out, c.output + (c.result < 0 ? failure : ""));
    }
    EXPECT_EQ(Light(0)->area_usamples * Light(0)->area_vsamples, 25);
    EXPECT_EQ(Light(2)->area_usamples * Light(2)->area_vsamples, 4096);
    scndb_cleanup();
    // Room for sixty models, all of them in an include.
    std::string models;
    for (int i = 0; i < 60; ++i) models += "model null \"m" + std::to_string(i) + "\" { }\n";
    const std::string inc = write_temp(".inc", models);
    ASSERT_EQ(Read("nb_models 60 include \"" + inc + "\""), 1);
    EXPECT_STREQ(Model(59)->name_text(), "m59");
    scndb_cleanup();
    // The files of the audit (see broken/README): {file, result, text of the output}.
    const std::tuple<const char*, int, const char*> files[] = {
        {"nurb_huge_order", 1, "ERROR: nurb order 2000000000 2000000000 outside 1 ... 16"},
        {"area_huge_samples", 1, "ERROR: area light samples 2000000000 2000000000"},
        {"counts_from_include", 0, "Can't open data file models.inc"},
        {"room_beyond_cap", 1, "WARNING: room for 0 more models, not 2000000000"}};
    for (const auto& [file, result, text] : files) {
        std::string out;
        EXPECT_EQ(ReadFile(kData + "broken/" + file + ".0001.kiv", &out), result) << file;
        EXPECT_NE(out.find(text), std::string::npos) << file << "\n" << out;
        scndb_cleanup();
    }
}

// Statement messages (in the hostile-size cases) leave the read going.
TEST_F(Scene, NothingStoredBeforeItsCount) {
    // Nothing was stored: a vertex before its count. Newlines inside a
    // string are not counted in a message's line.
    std::string out;
    Read("nb_models 1 model poly \"m\n\" { v 1 2 3 nb_vertices 1 }", &out);
    EXPECT_EQ(Model(0)->polygons()->verts[0].x, 0.0f);
    EXPECT_EQ(out,
              "nb_vertices construct needed before vertices\nscene file: syntax error at line 1\n");
}

TEST_F(Scene, NumbersSignsAndExponents) {
    ASSERT_EQ(Read("camera { focal 1.5d1 aperture -2 aspect +.5 fov d3\n"
                   "clip 1e-1 2.D2 frustum -1. +2 PI -3.5E0 }cameraxx{fov 1//2\n}"),
              1);
    // Every setting read (the fov of the second block: 2 is a comment).
    EXPECT_EQ(captured([] { camdb_get(0)->dump(); }),
              read_text(kCases + "scene_numbers_camera.dump"));
}

TEST_F(Scene, IncludesAndTheQueueLimit) {
    // A file that includes itself is read until ten names are queued.
    const std::string self =
        write_temp(".inc", "nb_lights 1 light point \"l\" { color 1 1 1 }\ninclude \"" +
                               temp_path(".inc") + "\"\n");
    std::string out;
    EXPECT_EQ(Read("include \"" + self + "\"", &out), 1);
    EXPECT_EQ(out, "FATAL: maximum include file depth exceeded\n");
    EXPECT_EQ(lgtdb_count(), 10);
    scndb_cleanup();
    // The queue is empty again; a missing include stops the read with 0.
    EXPECT_EQ(Read("include \"" + temp_path(".none") + "\" nb_lights 1"), 0);
    EXPECT_EQ(lgtdb_count(), 1) << "the main file was read";
    EXPECT_EQ(ReadFile(temp_path(".none")), 0);
    // An include that is not a regular file cannot be opened (a directory
    // would end the process in the scanner, a device never ends).
    for (const std::string& path : {testing::TempDir(), std::string("/dev/zero")}) {
        EXPECT_EQ(Read("include \"" + path + "\"", &out), 0) << path;
        EXPECT_NE(out.find("Can't open data file " + path), std::string::npos) << out;
    }
}

TEST_F(Scene, FullDatabasesSkipTheRestQuietly) {
    std::string out;
    EXPECT_EQ(Read("light point \"l\" { color 1 1 1 } camera { fov 30 }", &out), 1);
    EXPECT_EQ(camdb_get(0)->get_flags(), 0);
    EXPECT_EQ(Read("nb_models 1 model null \"a\" { } model poly \"b\" { v 1 1 1 } x {", &out), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(mdldb_capacity(0), 1);
}

TEST_F(Scene, MotionBlurSlot) {
    ASSERT_EQ(Read("nb_lights 1 light spot \"a\" { angles 10 0 }"), 1);
    ASSERT_EQ(Read("nb_lights 1 nb_models 1 light spot \"a\" { angles 30 0 }\n"
                   "camera { fov 20 } model null \"m\" { }",
                   nullptr, 1),
              1);
    EXPECT_EQ(Light(0, 0)->cone * 10 + Light(0, 1)->cone, 65.0f);
    EXPECT_STREQ(Model(0, 1)->name_text(), "m");
    EXPECT_EQ(camdb_get(0)->get_flags() * 10 + camdb_get(1)->get_flags(), hair_camera::kFov);
}

// Each corner index must lie inside the list whose count was given: count - 1
// is the last good index. A refused polygon is not stored and the next one
// takes its place; indices of a list whose count comes later are left to
// the mesh, which refuses the polygon when it is fetched.
TEST_F(Scene, PolygonCornerIndicesInsideTheirLists) {
    int nb = 0;
    kivPoint v[4], t[4];
    kivVector n[4];
    for (const ReadCase& c : read_cases("scene_corners.cases")) {
        std::string out;
        ASSERT_EQ(Read(c.text, &out), c.result) << c.text;
        EXPECT_EQ(out, c.output);
        const kivPolygons* polys = Model(0)->polygons();
        ASSERT_EQ(polys->get_poly(0, nb, v, n, t), 1) << c.text;
        // The good polygon is the first; after a refused one, the second.
        EXPECT_EQ(t[2].x + t[2].y, c.output.empty() ? 2.0f : 1.0f) << c.text;
        EXPECT_EQ(polys->get_poly(1, nb, v, n, t), c.output.empty()) << c.text;
        scndb_cleanup();
    }
    // Polygons before the counts: stored, and refused by the mesh at the count.
    for (const char* corner : {"0/0/2", "3/0/0", "0/1/0", "0/0/3"}) {
        ASSERT_EQ(Read(std::string("nb_models 1 model poly \"m\" { nb_polys 1 p 0/0/0 1/0/1 ") +
                       corner + " nb_vertices 3 nb_normals 1 nb_uvs 3 }"),
                  1);
        EXPECT_EQ(Model(0)->polygons()->get_poly(0, nb, v, n, t), corner[4] == '2') << corner;
        scndb_cleanup();
    }
}

// A file cut anywhere fails at its last line; the lights and models whose
// headers came before the cut are in the databases.
TEST_F(Scene, CutFilesKeepTheRecordsBeforeTheCut) {
    const auto read = [](const std::string& text, std::string* out, std::string* failure) {
        scndb_cleanup();
        write_temp(".0001.kiv", text);
        return run_reader([] { return scndb_init(temp_path("").c_str(), 1, 0); }, out, failure);
    };
    const auto kept = [](const std::string& prefix) {
        if (prefix.empty() || prefix.back() != '\n') return;
        const auto headers = [&](const std::string& word) {
            int n = 0;
            for (std::size_t at = 0; (at = prefix.find("\n" + word, at)) != std::string::npos; ++at)
                ++n;
            return n;
        };
        int lights = 0, models = 0;
        while (Light(lights) && Light(lights)->name) ++lights;
        while (Model(models) && Model(models)->name_text()) ++models;
        EXPECT_EQ(lights * 10 + models, headers("light ") * 10 + headers("model ")) << prefix;
    };
    expect_cuts_fail_at_their_end(read_text(kData + "full.0001.kiv"), 109, "scene", read, kept);
}
