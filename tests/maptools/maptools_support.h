// Helpers of the map tool tests: the scenes of tests/maptools/scenes copied
// into a directory of the test's own, which is the working directory while
// the test runs (so names and messages are short), and loaded through the
// library's readers.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include "korvofur/korvofur.h"
#include "test_support.h"

inline std::string slurp(const std::string& path) {  // "<missing>" when it cannot be read
    std::ifstream in(path, std::ios::binary);
    std::string text(1 << 16, '\0');  // at most 64 KiB, so that a device reads as a long file
    in.read(&text[0], text.size());
    return in || in.eof() ? text.substr(0, in.gcount()) : "<missing>";
}

class MapScene : public testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::copy(KORVO_SOURCE_DIR "/tests/maptools/scenes", dir_);
        std::filesystem::current_path(dir_);
        ASSERT_TRUE(names_init(1009) == 1 && assdb_init(1009) == 1);
    }
    void TearDown() override {
        korvo_tables_done(), std::filesystem::current_path(home_),
            std::filesystem::remove_all(dir_);
    }
    // Loads fur.hair, name.assign and the scene name.0001.kiv, models transformed.
    void Load(const std::string& name) {
        captured([&] {
            ASSERT_TRUE(hair_params_init("fur.hair") == 1 &&
                        assdb_readfile((name + ".assign").c_str()) == 1 &&
                        scndb_init(name.c_str(), 1, 0) == 1);
        });
        mdldb_xform(0);
    }
    const std::string home_ = std::filesystem::current_path(), dir_ = temp_path("");
};
