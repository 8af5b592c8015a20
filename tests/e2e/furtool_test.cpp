// End-to-end tests of furtool on the shipped examples: each command run as a
// program in a directory of its own, its outputs read back, compared with a
// second run, and its failures' exit statuses and messages.
#include <algorithm>
#include <filesystem>
#include <sstream>

#include "e2e/e2e_support.h"
#include "imagefile/iff_image.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

const std::string kSource = KORVO_SOURCE_DIR;

// A copy of an example in a directory of the test's own, where furtool runs.
class Furtool : public testing::Test {
  protected:
    void TearDown() override {
        for (const std::string& d : dirs_) fs::remove_all(d);
    }
    // A new directory holding the files of examples/<example> (none for "").
    std::string Copy(const std::string& example) {
        const std::string dir = temp_path("_" + std::to_string(dirs_.size()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        for (const auto& e : fs::directory_iterator(kSource + "/examples/" + example))
            if (!example.empty()) fs::copy(e.path(), dir + "/" + e.path().filename().string());
        dirs_.push_back(dir);
        return dir;
    }
    // Runs furtool with the arguments in dir.
    run_result Run(const std::string& dir, const std::string& args) {
        return run_in(dir, "furtool", args);
    }
    static std::string Demo() { return "--hair demo.hair --assign demo.assign --scene demo "; }

    std::vector<std::string> dirs_;
};

// The files of a directory with their contents (RLA files by their pixels:
// their headers carry the time of writing).
std::vector<std::pair<std::string, std::string>> contents(const std::string& dir) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        std::string data;
        if (e.path().extension() == ".rla") {
            rx_rla in(e.path().c_str());
            for (int y = 0; y < in.Lines(); ++y)
                data.append(reinterpret_cast<const char*>(in.readscan(y)), 4u * in.Cols());
        } else if (e.is_regular_file()) {
            data = slurp(e.path().string());
        }
        files.emplace_back(name, data);
    }
    std::sort(files.begin(), files.end());
    return files;
}

int lines_starting(const std::string& text, const std::string& head) {
    int n = text.compare(0, head.size(), head) == 0;
    for (std::size_t at = 0; (at = text.find("\n" + head, at)) != std::string::npos; ++at) ++n;
    return n;
}

}  // namespace

// Area values, per-model maps and the hair file that reads them; the
// rewritten files still read (direction maps from them); a second run gives
// the same bytes.
TEST_F(Furtool, EqualizeWritesAreasMapsAndTheHairFile) {
    std::vector<std::pair<std::string, std::string>> runs[2];
    for (auto& files : runs) {
        const std::string dir = Copy("demo");
        const run_result r = Run(dir, "equalize " + Demo() +
                                          "--area-mode 2 --map-size 24x16 --prefix tmp "
                                          "--suffix .1 --fill --update-hair");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("Creating equalizer map for surface 'ball'"), std::string::npos);
        const std::string assign = slurp(dir + "/demo.assign");
        EXPECT_NE(assign.find("\"undercoat\" area{\n\t\"ball\" 1.000000\n}\n"), std::string::npos)
            << assign;
        EXPECT_NE(assign.find("\"moss\" area{\n\t\"ground\" 1.000000\n}\n"), std::string::npos)
            << assign;
        EXPECT_NE(slurp(dir + "/demo.hair").find("\tequalizer=image(\"./tmp_$M_eqMap.1.iff\""),
                  std::string::npos);
        for (const char* model : {"ball", "ground"}) {
            IffImage map;
            ASSERT_TRUE(iff_read_file((dir + "/tmp_" + model + "_eqMap.1.iff").c_str(), map));
            EXPECT_EQ(map.width, 24);
            EXPECT_EQ(map.height, 16);
        }
        // The rewritten files are read again, equalizer maps and all.
        const run_result again =
            Run(dir, "direction " + Demo() + "--direction 0,-1,0 --map-size 8x6");
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_NE(again.out.find("  - Creating orient files dirE_ball.rla dirP_ball.rla (8x6)\n"),
                  std::string::npos);
        files = contents(dir);
    }
    EXPECT_EQ(runs[0], runs[1]);
}

// An OBJ file of the ball and a file of its roots, nine numbers a line; both
// the same on a second run.
TEST_F(Furtool, ObjAndRootsExportTheScene) {
    const std::string scene =
        "--hair " + kData + "fur.hair --assign " + kData + "fur.assign --scene " + kData + "ball ";
    std::vector<std::pair<std::string, std::string>> runs[2];
    for (auto& files : runs) {
        const std::string dir = Copy("");
        ASSERT_EQ(Run(dir, "obj " + scene).status, 0);
        EXPECT_GT(lines_starting(slurp(dir + "/ball.1.obj"), "f "), 10);
        const run_result r = Run(dir, "roots " + scene);
        ASSERT_EQ(r.status, 0) << r.err;
        std::istringstream roots(slurp(dir + "/ball.1.roots"));
        int lines = 0;
        for (std::string line; std::getline(roots, line); ++lines) {
            std::istringstream numbers(line);
            int n = 0;
            for (double x; numbers >> x;) ++n;
            ASSERT_EQ(n, 9) << line;
        }
        EXPECT_NE(r.out.find("./ball.1.roots: " + std::to_string(lines) + " roots\n"),
                  std::string::npos);
        files = contents(dir);
    }
    EXPECT_GT(runs[0].size(), 1u);
    EXPECT_EQ(runs[0], runs[1]);
}

// The curves furtool writes are the hairs a render of the same frame draws:
// the same file, byte for byte, as furrender's curve export.
TEST_F(Furtool, CurvesAreTheHairsTheRendererDraws) {
    const std::string scene =
        "--hair " + kData + "fur.hair --assign " + kData + "fur.assign --scene " + kData + "ball ";
    const std::string dir = Copy("");
    const run_result r = Run(dir, "curves " + scene + "--out tool.obj");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string render = "cd '" + dir + "' && " KORVO_BIN_DIR "/furrender " + scene +
                               "--size 160x120 --quiet --out pic.png --export-curves render.obj";
    ASSERT_EQ(std::system(render.c_str()), 0);
    const std::string tool = slurp(dir + "/tool.obj");
    EXPECT_GT(lines_starting(tool, "l "), 100);
    EXPECT_EQ(tool, slurp(dir + "/render.obj"));
    EXPECT_EQ(Run(dir, "curves " + scene + "--out tool.abc").status, 1);
}

// Bad command lines give 2 with the usage; jobs that cannot be done give 1
// with a message, and leave the user's files as they were.
TEST_F(Furtool, ErrorExits) {
    const std::string dir = Copy("demo");
    const std::pair<std::string, int> cases[] = {
        {"", 2},
        {"shave", 2},
        {"equalize --hair demo.hair --assign demo.assign", 2},
        {"equalize " + Demo() + "--area-mode 3", 2},
        {"equalize " + Demo() + "--map-size 0x4", 2},
        {"equalize " + Demo() + "--area-mode 0 --no-maps", 2},
        {"direction " + Demo(), 2},
        {"direction " + Demo() + "--direction 1,2", 2},
        {"obj " + Demo() + "--one-file", 2},
        {"curves-check", 2},
        {"obj " + Demo() + "extra", 2},
        {"obj --hair demo.hair --assign demo.assign --scene none", 1},
        {"obj " + Demo() + "--frame 2", 1},
        {"roots " + Demo() + "--curves missing.obj", 1},
        {"equalize " + Demo() + "--out-dir missing", 1},
        {"curves-check missing.obj", 1},
        {"obj --hair . --assign demo.assign --scene demo", 1},
        {"curves --hair demo.hair --assign demo.assign --scene demo --out x.usda --curves .", 1},
    };
    const std::string hair = slurp(dir + "/demo.hair"), assign = slurp(dir + "/demo.assign");
    for (const auto& c : cases) {
        const run_result r = Run(dir, c.first);
        EXPECT_EQ(r.status, c.second) << c.first << "\n" << r.err;
        EXPECT_FALSE(r.err.empty()) << c.first;
        if (c.second == 2) {
            EXPECT_NE(r.err.find("usage: furtool"), std::string::npos) << c.first;
        }
    }
    for (const char* help : {"--help", "equalize --help", "curves-check --help"}) {
        const run_result r = Run(dir, help);
        EXPECT_EQ(r.status, 0) << help;
        EXPECT_EQ(r.out.compare(0, 15, "usage: furtool "), 0) << help;
    }
    // The assignment file cannot be replaced: it is left alone, status 1.
    fs::create_directory(dir + "/demo.assign_tmp");
    const run_result r = Run(dir, "equalize " + Demo() + "--no-maps");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ERROR: Can't open temporary file"), std::string::npos);
    EXPECT_EQ(slurp(dir + "/demo.assign"), assign);
    EXPECT_EQ(slurp(dir + "/demo.hair"), hair);
}

// curves-check lists the curves of the comb example, which renders with
// them; a bad curve file stops both commands with the file and line.
TEST_F(Furtool, GuideCurvesOnTheCommandLine) {
    const std::string dir = Copy("comb");
    const run_result ok = Run(dir, "curves-check guides.obj");
    ASSERT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(ok.out.compare(0, 22, "guides.obj: 12 curves\n"), 0) << ok.out;
    EXPECT_NE(ok.out.find("  guide_L0_0 "), std::string::npos);
    const std::string base = std::string(KORVO_BIN_DIR) +
                             "/furrender --hair comb.hair --assign comb.assign --scene comb "
                             "--size 80x60 --quiet --out comb.png";
    ASSERT_EQ(std::system(("cd '" + dir + "' && " + base + " --curves guides.obj").c_str()), 0);
    EXPECT_TRUE(fs::file_size(dir + "/comb.png") > 100);
    std::ofstream(dir + "/bad.obj") << "o c\nv 0 0 0\nv 0 0 1\nl 1 9\n";
    const int s = std::system(("cd '" + dir + "' && " + base + " --curves bad.obj 2>err").c_str());
    EXPECT_EQ(WIFEXITED(s) ? WEXITSTATUS(s) : -1, 1);
    EXPECT_EQ(slurp(dir + "/err"),
              "furrender: bad.obj:4: vertex 9 does not exist (2 vertices so far)\n");
    const run_result bad = Run(dir, "curves-check guides.obj bad.obj");
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err,
              "furtool curves-check: bad.obj:4: vertex 9 does not exist (2 vertices so far)\n");
}
