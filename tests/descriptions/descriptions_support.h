// Helpers of the description tests: in-memory images served by an installed
// image reader (with a count of the reads per path) and files of one test.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "descriptions/texture_cache.h"
#include "foundation/fur_exception.h"
#include "test_support.h"

namespace testimg {

// The RGBA bytes of pixel (column, row) of an image.
using PixelFn = std::function<std::uint32_t(int col, int row)>;

// Registers an in-memory image under path; row 0 is v = 0.
void add(const std::string& path, int width, int height, const PixelFn& pixel);
// A one-pixel image of colour 0xRRGGBBAA.
void add_flat(const std::string& path, std::uint32_t rgba);
// Reads the reader has done of path (successful or not).
int reads(const std::string& path);
// Every path the reader was asked for, in order.
const std::vector<std::string>& requests();
// The reader the tests install.
bool reader(const char* path, tmap_image& image);

// Installs the reader and a texture cache of n entries; undoes both (and
// forgets the images) when it goes out of scope.
class Scope {
  public:
    explicit Scope(int n);
    ~Scope();

  private:
    tmap_reader previous_;
};

}  // namespace testimg

// Writes text to a file of this test's own (see temp_path) and returns its path.
std::string write_temp(const std::string& suffix, const std::string& text);
