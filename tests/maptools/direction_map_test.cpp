#include "maptools/direction_map.h"

#include <cmath>
#include <cstring>

#include "foundation/render_settings.h"
#include "geometry/model_database.h"
#include "imagefile/image_file.h"
#include "maptools/maptools_support.h"

namespace {

const char kHair[] = "hair \"fur\" {\n}\n";
const float kEven[4] = {0, 1, 2, 3};

// One pixel of a direction map.
struct texel {
    int r, g, b, m;
};

class DirectionMaps : public MapScene {
  protected:
    void TearDown() override {
        opt_flags = 0;
        MapScene::TearDown();
    }
    // The pixels of an RLA map, row 0 first; empty when it is not w x h.
    std::vector<texel> Read(const std::string& file, int w, int h) {
        std::vector<texel> px;
        rx_rla in(Path(file).c_str());
        EXPECT_FLOAT_EQ(in.getgamma(), defs.gamma);
        if (in.Cols() != w || in.Lines() != h) {
            ADD_FAILURE() << file << " is " << in.Cols() << "x" << in.Lines();
            return px;
        }
        for (int y = 0; y < h; ++y) {
            const unsigned char* row = in.readscan(y);
            for (int x = 0; x < w; ++x)
                px.push_back({row[x], row[w + x], row[2 * w + x], row[3 * w + x]});
        }
        return px;
    }
    // The maps of one direction for every model, written into the test
    // directory under the prefix "m"; what was printed.
    std::string Single(float x, float y, float z, int h, int w, int two) {
        const float d[3] = {x, y, z};
        return captured([&] { mdldb_calc_dir_map(Path("m").c_str(), d, h, w, two); });
    }
    std::string Records(const std::vector<DirectionMapStruct>& maps, int two = 1) {
        return captured([&] {
            mdldb_calc_dir_map(Path("m").c_str(), maps.data(), static_cast<int>(maps.size()), two);
        });
    }
};

DirectionMapStruct record(const char* name, float x, float y, float z, int w, int h) {
    DirectionMapStruct r{};
    std::strncpy(r.name, name, sizeof r.name - 1);
    r.direction[0] = x, r.direction[1] = y, r.direction[2] = z;
    r.width = w, r.height = h;
    return r;
}

}  // namespace

// On a patch in z = 0 (normal +z, surface direction +y, binormal +x): the
// normal itself gives no lean; the polar angle turns from the surface
// direction towards -x.
TEST_F(DirectionMaps, KnownAnglesOnAFlatPatch) {
    Load(kHair, "\"fur\" hair { \"flat\" }\n", scene_of({patch_model("flat", kEven)}));
    const struct {
        float d[3];
        int lean, polar;  // bytes
    } cases[] = {
        {{0, 0, 1}, 127, 63},   {{0, 0, 5}, 127, 63},   {{0, 1, 1}, 191, 127},
        {{0, -1, 1}, 191, 255}, {{1, 0, 1}, 191, 63},   {{-1, 0, 1}, 191, 191},
        {{1, 1, 0}, 255, 95},   {{-1, 1, 0}, 255, 159}, {{0, 0, -1}, 255, 63},
    };
    for (const auto& c : cases) {
        const std::string printed = Single(c.d[0], c.d[1], c.d[2], 3, 4, 1);
        EXPECT_EQ(printed, "  - Creating orient files " + Path("mE_flat.rla") + " " +
                               Path("mP_flat.rla") + " (4x3)\n");
        const std::vector<texel> e = Read("mE_flat.rla", 4, 3), p = Read("mP_flat.rla", 4, 3);
        ASSERT_EQ(e.size(), 12u);
        ASSERT_EQ(p.size(), 12u);
        for (int i = 0; i < 12; ++i) {
            EXPECT_TRUE(e[i].r == c.lean && e[i].g == c.lean && e[i].b == c.lean && e[i].m == 0)
                << c.d[0] << "," << c.d[1] << "," << c.d[2] << ": " << e[i].r;
            EXPECT_TRUE(p[i].r == c.polar && p[i].g == c.polar && p[i].b == c.polar && p[i].m == 0)
                << c.d[0] << "," << c.d[1] << "," << c.d[2] << ": " << p[i].r;
        }
        // One file: lean in red, polar in green.
        EXPECT_EQ(Single(c.d[0], c.d[1], c.d[2], 3, 4, 0),
                  "  - Creating orient file " + Path("m_flat.rla") + " (4x3)\n");
        for (const texel& t : Read("m_flat.rla", 4, 3))
            EXPECT_TRUE(t.r == c.lean && t.g == c.polar && t.b == 0 && t.m == 0);
    }
}

// On the unit sphere the normal is the position: the lean towards +y is the
// angle between them (up to 90). Maps of width or height 1 sample u = 0 or
// v = 0 throughout.
TEST_F(DirectionMaps, KnownLeanOnASphere) {
    Load(kHair, "\"fur\" hair { \"ball\" }\n", slurp(KORVO_TEST_DATA "/e2e/ball.0001.kiv"));
    const kivNurbSurface* s = mdldb_get_index(0, 0)->nurbs();
    ASSERT_NE(s, nullptr);
    const int w = 9, h = 7;
    Single(0, 1, 0, h, w, 1);
    const std::vector<texel> e = Read("mE_ball.rla", w, h);
    ASSERT_EQ(e.size(), static_cast<std::size_t>(w * h));
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            kivVector frame[4];
            s->calc_posnrmdir(c / float(w - 1), r / float(h - 1), frame);
            const double y = std::fmax(-1.0, std::fmin(1.0, frame[0].y / frame[0].length()));
            const double lean = std::fmin(90.0, std::acos(y) * 180.0 / M_PI);
            EXPECT_NEAR(e[r * w + c].r, static_cast<int>((lean / 90.0 * 0.5 + 0.5) * 255.0), 1)
                << r << " " << c;
        }
    }
    Single(0, 1, 0, h, 1, 1);
    const std::vector<texel> column = Read("mE_ball.rla", 1, h);
    Single(0, 1, 0, 1, w, 1);
    const std::vector<texel> row = Read("mE_ball.rla", w, 1);
    ASSERT_EQ(column.size(), static_cast<std::size_t>(h));
    ASSERT_EQ(row.size(), static_cast<std::size_t>(w));
    for (int r = 0; r < h; ++r) EXPECT_EQ(column[r].r, e[r * w].r) << r;
    for (int c = 0; c < w; ++c) EXPECT_EQ(row[c].r, e[c].r) << c;
}

// The record of a model by name, else the "default" record; a zero
// direction or no record at all skips the model with a warning; excluded
// models are named, models without hair skipped silently; other kinds of
// model get flat maps of half a degree.
TEST_F(DirectionMaps, RecordsChooseTheDirectionPerModel) {
    Load(kHair, "\"fur\" hair { \"a\" \"b\" \"c\" \"e\" \"q\" }\nexclude { \"e\" }\n",
         scene_of({patch_model("a", kEven), patch_model("b", kEven), patch_model("c", kEven),
                   patch_model("d", kEven), patch_model("e", kEven), quad_model("q", 0, 0, 1, 1)}));
    const std::string printed = Records(
        {record("default", 0, 0, 1, 2, 2), record("b", 0, 1, 1, 3, 2), record("c", 0, 0, 0, 2, 2)});
    EXPECT_NE(printed.find("WARNING: Skipping model with no definition (c).\n"), std::string::npos);
    EXPECT_NE(printed.find("WARNING: Model (e) excluded from computation.\n"), std::string::npos);
    EXPECT_EQ(printed.find("(d)"), std::string::npos);
    for (const char* absent : {"mE_c.rla", "mE_d.rla", "mE_e.rla"})
        EXPECT_FALSE(exists(Path(absent))) << absent;
    for (const texel& t : Read("mE_a.rla", 2, 2)) EXPECT_EQ(t.r, 127);
    for (const texel& t : Read("mE_b.rla", 3, 2)) EXPECT_EQ(t.r, 191);
    for (const texel& t : Read("mE_q.rla", 2, 2)) EXPECT_EQ(t.r, 128);
    for (const texel& t : Read("mP_q.rla", 2, 2)) EXPECT_EQ(t.r, 127);

    // The exact record wins over a later default too.
    Records({record("b", 0, 1, 1, 2, 2), record("default", 0, 0, 1, 2, 2)});
    for (const texel& t : Read("mE_b.rla", 2, 2)) EXPECT_EQ(t.r, 191);
    // No records: every model is skipped.
    const std::string none = Records({});
    EXPECT_NE(none.find("WARNING: Skipping model with no definition (a).\n"), std::string::npos);
    EXPECT_NE(none.find("WARNING: Skipping model with no definition (q).\n"), std::string::npos);
    // A size out of range ends the call at the first model that needs maps.
    EXPECT_EQ(Records({record("default", 0, 0, 1, 0, 2)}),
              "ERROR: direction map size 0x2 is out of range at model a.\n");
}

TEST_F(DirectionMaps, EmptySceneWarnsOnlyWhenWarningsAreOn) {
    Load(kHair, "exclude { }\n", scene_of({}));
    EXPECT_EQ(Single(0, 0, 1, 2, 2, 1), "");
    opt_flags = 3;
    EXPECT_EQ(Single(0, 0, 1, 2, 2, 1), "WARNING: there are no models\n");
    EXPECT_EQ(Records({record("default", 0, 0, 1, 2, 2)}), "WARNING: there are no models\n");
}
