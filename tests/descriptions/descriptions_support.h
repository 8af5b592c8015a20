// Helpers of the description tests: in-memory images served by an installed
// image reader (with every path it was asked for) and files of one test.
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <vector>

#include "descriptions/curve_data_cache.h"
#include "descriptions/hair_params.h"
#include "descriptions/texture_cache.h"
#include "foundation/fur_exception.h"
#include "foundation/names.h"
#include "test_support.h"

struct testimg {
    // The RGBA bytes of pixel (column, row) of an image.
    using PixelFn = std::function<std::uint32_t(int col, int row)>;
    static inline std::map<std::string, tmap_image> images;
    static inline std::vector<std::string> requests;  // every path asked for, in order

    // Registers an in-memory image under path; row 0 is v = 0.
    static void add(const std::string& path, int width, int height, const PixelFn& pixel) {
        tmap_image& image = images[path] = {unsigned(width), unsigned(height), {}};
        for (int i = 0; i < 4 * width * height; ++i)
            image.pixels.push_back(
                std::uint8_t(pixel(i / 4 % width, i / 4 / width) >> (24 - i % 4 * 8)));
    }
    // A one-pixel image of colour 0xRRGGBBAA.
    static void add_flat(const std::string& path, std::uint32_t rgba) {
        add(path, 1, 1, [rgba](int, int) { return rgba; });
    }
    // Reads the reader has done of path (successful or not).
    static int reads(const std::string& path) {
        return int(std::count(requests.begin(), requests.end(), path));
    }
    // The reader the tests install.
    static bool reader(const char* path, tmap_image& image) {
        requests.push_back(path);
        const auto it = images.find(path);
        return it != images.end() && (image = it->second, true);
    }
    // Installs the reader and a texture cache of n entries; undoes both (and
    // forgets the images) when it goes out of scope.
    struct Scope {
        tmap_reader previous = tmap_set_reader(reader);
        explicit Scope(int n) { tmap_init(n); }
        ~Scope() { tmap_done(), tmap_set_reader(previous), images.clear(), requests.clear(); }
    };
};

// Writes text to a file of this test's own (see temp_path) and returns its path.
inline std::string write_temp(const std::string& suffix, const std::string& text) {
    const std::string path = temp_path(suffix);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// The path of a file under tests/data/descriptions.
inline std::string data(const std::string& file) {
    return std::string(KORVO_TEST_DATA) + "/descriptions/" + file;
}

// The whole text of a file under tests/data/descriptions.
inline std::string expected_text(const std::string& file) {
    std::ifstream in(data(file), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Render settings, a name table, an image cache and a curve-data cache of
// four entries each, and a hair's state, for one test; no description is
// left listed after it.
class DescriptionsTest : public testing::Test {
  protected:
    DescriptionsTest() : images_(4) { names_init(256), crvdata_init(4); }
    ~DescriptionsTest() override { hair_params_list_clear(), crvdata_done(), names_done(); }

    SettingsGuard guard_;
    testimg::Scope images_;
    hair_state hs_;
};
