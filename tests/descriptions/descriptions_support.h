// Helpers of the description tests: in-memory images served by an installed
// image reader (with a count of the reads per path), the render settings
// restored after a test, and file readers run with their output captured.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "descriptions/texture_cache.h"
#include "foundation/fur_exception.h"
#include "foundation/render_settings.h"
#include "test_support.h"

namespace testimg {

// The RGBA bytes of pixel (column, row) of an image.
using PixelFn = std::function<std::uint32_t(int col, int row)>;

// Registers an in-memory image under path; row 0 is v = 0.
void add(const std::string& path, int width, int height, const PixelFn& pixel);
// A one-colour image.
void add_flat(const std::string& path, int width, int height, std::uint8_t r, std::uint8_t g,
              std::uint8_t b, std::uint8_t a);
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

// Runs a file reader with stdout captured into *out. Returns its result, or
// -1 with the text of the FurException it throws in *failure.
template <class F>
int run_reader(F read, std::string* out = nullptr, std::string* failure = nullptr) {
    int result = -1;
    std::string what;
    const std::string text = captured([&] {
        try {
            result = read();
        } catch (const FurException& e) {
            what = e.message().asChar();
        }
    });
    if (out) *out = text;
    if (failure) *failure = what;
    return result;
}

// The contents of a file ("" when it cannot be read).
std::string read_text(const std::string& path);
// Writes text to a file of this test's own (see temp_path) and returns its path.
std::string write_temp(const std::string& suffix, const std::string& text);

// Reads damaged copies of the file at path with read(text), which gives 1 or
// -1 (anything else is a fault): its truncations (every step bytes), n copies
// with up to eight bytes overwritten and n strings of up to 600 random bytes
// (in every other one most bytes are characters of the file). Both results
// must occur.
void expect_damage_handled(const std::string& path, std::size_t step, int n, unsigned seed,
                           const std::function<int(const std::string&)>& read);

// A name table, an assignment table of 64 records and empty attractor and
// curve attractor tables; all emptied again (descriptions too) after the test.
class DescriptionTables : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
};
