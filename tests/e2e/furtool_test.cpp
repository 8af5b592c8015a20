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

// A scratch folder holding the files of examples/<example>, where furtool runs.
struct example_copy : scratch {
    explicit example_copy(const std::string& example) {
        for (const auto& e : fs::directory_iterator(kSource + "/examples/" + example))
            fs::copy(e.path(), *this / e.path().filename().string());
    }
    run_result run(const std::string& args) const { return run_in(dir, "furtool", args); }
};

const std::string kDemo = "--hair demo.hair --assign demo.assign --scene demo ";
const std::string kBall =
    "--hair " + kData + "fur.hair --assign " + kData + "fur.assign --scene " + kData + "ball ";

// The files of a directory with their contents (RLA files by their pixels:
// their headers carry the time of writing).
std::vector<std::pair<std::string, std::string>> contents(const std::string& dir) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string path = e.path().string();
        const picture rla = e.path().extension() == ".rla" ? read_rla(path) : picture{};
        files.emplace_back(
            e.path().filename().string(),
            rla.rgba.empty() ? slurp(path) : std::string(rla.rgba.begin(), rla.rgba.end()));
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
TEST(Furtool, EqualizeWritesAreasMapsAndTheHairFile) {
    std::vector<std::pair<std::string, std::string>> runs[2];
    for (auto& files : runs) {
        const example_copy d("demo");
        const run_result r = d.run("equalize " + kDemo +
                                   "--area-mode 2 --map-size 24x16 --prefix tmp "
                                   "--suffix .1 --fill --update-hair");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("Creating equalizer map for surface 'ball'"), std::string::npos);
        for (const char* area : {"\"undercoat\" area{\n\t\"ball\" 1.000000\n}\n",
                                 "\"moss\" area{\n\t\"ground\" 1.000000\n}\n"})
            EXPECT_NE(slurp(d / "demo.assign").find(area), std::string::npos) << area;
        EXPECT_NE(slurp(d / "demo.hair").find("\tequalizer=image(\"./tmp_$M_eqMap.1.iff\""),
                  std::string::npos);
        for (const char* model : {"ball", "ground"}) {
            IffImage map;
            ASSERT_TRUE(iff_read_file((d / "tmp_" + model + "_eqMap.1.iff").c_str(), map));
            EXPECT_TRUE(map.width == 24 && map.height == 16) << map.width << "x" << map.height;
        }
        // The rewritten files are read again, equalizer maps and all.
        const run_result again = d.run("direction " + kDemo + "--direction 0,-1,0 --map-size 8x6");
        EXPECT_EQ(again.status, 0) << again.err;
        EXPECT_NE(again.out.find("  - Creating orient files dirE_ball.rla dirP_ball.rla (8x6)\n"),
                  std::string::npos);
        files = contents(d.dir);
    }
    EXPECT_EQ(runs[0], runs[1]);
}

// An OBJ file of the ball and a file of its roots (nine numbers a line),
// both the same on a second run; curves that are the hairs a render of the
// same frame draws: furrender's curve export, byte for byte.
TEST(Furtool, ObjRootsAndCurvesExportTheScene) {
    std::vector<std::pair<std::string, std::string>> runs[2];
    for (auto& files : runs) {
        const scratch d;
        ASSERT_EQ(run_in(d.dir, "furtool", "obj " + kBall).status, 0);
        EXPECT_GT(lines_starting(slurp(d / "ball.1.obj"), "f "), 10);
        const run_result r = run_in(d.dir, "furtool", "roots " + kBall);
        ASSERT_EQ(r.status, 0) << r.err;
        std::istringstream roots(slurp(d / "ball.1.roots"));
        int lines = 0;
        for (std::string line; std::getline(roots, line); ++lines) {
            std::istringstream numbers(line);
            int n = 0;
            for (double x; numbers >> x;) ++n;
            ASSERT_EQ(n, 9) << line;
        }
        EXPECT_NE(r.out.find("./ball.1.roots: " + std::to_string(lines) + " roots\n"),
                  std::string::npos);
        files = contents(d.dir);
        if (&files == &runs[1]) break;
        ASSERT_EQ(run_in(d.dir, "furtool", "curves " + kBall + "--out tool.obj").status, 0);
        ASSERT_EQ(run_in(d.dir, "furrender",
                         kBall + "--size 160x120 --quiet --out pic.png --export-curves render.obj")
                      .status,
                  0);
        EXPECT_GT(lines_starting(slurp(d / "tool.obj"), "l "), 100);
        EXPECT_EQ(slurp(d / "tool.obj"), slurp(d / "render.obj"));
        EXPECT_EQ(run_in(d.dir, "furtool", "curves " + kBall + "--out tool.abc").status, 1);
    }
    EXPECT_EQ(runs[0], runs[1]);
}

// Bad command lines give 2 with the usage; jobs that cannot be done give 1
// with a message, and leave the user's files as they were.
TEST(Furtool, ErrorExits) {
    const example_copy d("demo");
    const std::string hair = slurp(d / "demo.hair"), assign = slurp(d / "demo.assign");
    std::ifstream table(kData + "furtool_exits.txt");
    int cases = 0;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::string args = line.substr(std::min<std::size_t>(2, line.size()));
        if (args.find("$DEMO") != std::string::npos) args.replace(args.find("$DEMO"), 5, kDemo);
        const int status = line[0] - '0';
        const run_result r = d.run(args);
        ++cases;
        EXPECT_EQ(r.status, status) << args << "\n" << r.err;
        const std::string& text = status == 0 ? r.out : r.err;
        EXPECT_NE(text.find(status == 1 ? "" : "usage: furtool "), std::string::npos) << args;
        EXPECT_FALSE(text.empty()) << args;
    }
    EXPECT_EQ(cases, 21);
    // The assignment file cannot be replaced: it is left alone, status 1.
    fs::create_directory(d / "demo.assign_tmp");
    const run_result r = d.run("equalize " + kDemo + "--no-maps");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ERROR: Can't open temporary file"), std::string::npos);
    EXPECT_EQ(slurp(d / "demo.assign"), assign);
    EXPECT_EQ(slurp(d / "demo.hair"), hair);
}

// curves-check lists the curves of the comb example, which renders with
// them; a bad curve file stops both commands with the file and line.
TEST(Furtool, GuideCurvesOnTheCommandLine) {
    const example_copy d("comb");
    const run_result ok = d.run("curves-check guides.obj");
    ASSERT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(ok.out.compare(0, 22, "guides.obj: 12 curves\n"), 0) << ok.out;
    EXPECT_NE(ok.out.find("  guide_L0_0 "), std::string::npos);
    const std::string render =
        "--hair comb.hair --assign comb.assign --scene comb --size 80x60 "
        "--quiet --out comb.png --curves ";
    ASSERT_EQ(run_in(d.dir, "furrender", render + "guides.obj").status, 0);
    EXPECT_TRUE(fs::file_size(d / "comb.png") > 100);
    std::ofstream(d / "bad.obj") << "o c\nv 0 0 0\nv 0 0 1\nl 1 9\n";
    const run_result drawn = run_in(d.dir, "furrender", render + "bad.obj"),
                     listed = d.run("curves-check guides.obj bad.obj");
    EXPECT_TRUE(drawn.status == 1 && listed.status == 1);
    const std::string why = "bad.obj:4: vertex 9 does not exist (2 vertices so far)\n";
    EXPECT_EQ(drawn.err, "furrender: " + why);
    EXPECT_EQ(listed.err, "furtool curves-check: " + why);
}
