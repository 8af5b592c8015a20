// What the end-to-end tests share: the scenes' folder, reading files and
// pictures back, and running a tool as a program with what it prints kept.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imagefile/image_file.h"
#include "imagefile/png_file.h"
#include "test_support.h"

const std::string kData = std::string(KORVO_TEST_DATA) + "/e2e/";

// The bytes of a file; empty when it cannot be read.
inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A program's exit status (-1 when it did not exit) and what it printed.
struct run_result {
    int status;
    std::string out, err;
};

// Runs a tool of the build inside dir (made if need be), so that output
// names are relative to it, with what it prints kept; a launcher (the
// dynamic loader with its options, say) may run the tool.
inline run_result run_in(const std::string& dir, const std::string& tool, const std::string& args,
                         const std::string& launcher = "") {
    ::mkdir(dir.c_str(), 0755);
    const std::string out = dir + "/.stdout", err = dir + "/.stderr";
    const int s = std::system(("cd '" + dir + "' && " + launcher + " " + KORVO_BIN_DIR + "/" +
                               tool + " " + args + " >" + out + " 2>" + err)
                                  .c_str());
    run_result r{WIFEXITED(s) ? WEXITSTATUS(s) : -1, slurp(out), slurp(err)};
    std::remove(out.c_str()), std::remove(err.c_str());
    return r;
}

// A folder of the test's own, removed with everything in it at the end.
struct scratch {
    static inline int made = 0;  // scratch folders may nest
    const std::string dir = temp_path("_dir" + std::to_string(made++));
    scratch() { std::filesystem::remove_all(dir), std::filesystem::create_directories(dir); }
    ~scratch() { std::filesystem::remove_all(dir); }
    std::string operator/(const std::string& name) const { return dir + "/" + name; }
};

// The input options of a scene of tests/data/e2e at 160 x 120: its
// assignment file by name there, the hair file by path.
inline std::string scene(const std::string& base, const std::string& assign = "fur",
                         const std::string& hair = kData + "fur.hair") {
    return "--hair " + hair + " --assign " + kData + assign + ".assign --scene " + kData + base +
           " --size 160x120 ";
}

// A picture, bottom row first, four bytes a pixel.
struct picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgba;
    const unsigned char* at(int x, int y) const { return &rgba[4 * (y * width + x)]; }
};

inline picture read_png(const std::string& path) {
    const std::string bytes = slurp(path);
    picture p;
    EXPECT_TRUE(png_read_rgba(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                              p.width, p.height, p.rgba))
        << path;
    return p;
}

// An RLA file's four byte channels.
inline picture read_rla(const std::string& path) {
    picture p;
    kivImage* img = kivOpenImage(path.c_str(), kivFormatRla);
    if (img == nullptr) return p;
    p.width = img->cols, p.height = img->lines;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            for (int c = 0; c < 4; ++c) p.rgba.push_back(img->rows[y][c * p.width + x]);
    kivCloseImage(img);
    return p;
}

// The pixels of a that differ from those of b, offset by (dx, dy), by more
// than `levels` in some channel.
inline int pixels_off(const picture& a, const picture& b, int levels, int dx = 0, int dy = 0) {
    int off = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            for (int k = 0; k < 4; ++k)
                if (std::abs(a.at(x, y)[k] - b.at(x + dx, y + dy)[k]) > levels) {
                    ++off;
                    break;
                }
    return off;
}
