// Helpers shared by the renderer tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "foundation/render_settings.h"
#include "render/fragment_list.h"
#include "test_support.h"

namespace render_test {

// Saves defs and opt_flags and puts them back after the test.
class SettingsTest : public testing::Test {
  protected:
    void SetUp() override {
        saved_defs_ = defs;
        saved_flags_ = opt_flags;
        defs.hair_id = 1;
    }
    void TearDown() override {
        defs = saved_defs_;
        opt_flags = saved_flags_;
    }

  private:
    defaults saved_defs_;
    int saved_flags_ = 0;
};

inline std::unique_ptr<hair_zbuffer> make_zbuffer(int lines, int cols, int list_size = 5) {
    return std::unique_ptr<hair_zbuffer>(hair_zbuffer::create(lines, cols, list_size));
}

// Adds a fragment of hair id with full coverage and colour c to (row, col).
inline void add_fragment(hair_zbuffer& zb, int row, int col, int id, float depth,
                         const kivColor& c) {
    defs.hair_id = id;
    pixel_slot** cell = zb.cell(row, col);
    ASSERT_NE(cell, nullptr);
    zb.add_hair(*cell, 1.0f, c, depth, 0xFFFFFFFFu);
}

inline void add_geometry(hair_zbuffer& zb, int row, int col, float depth, float coverage,
                         unsigned slices = 0xFFFFFFFFu) {
    pixel_slot** cell = zb.cell(row, col);
    ASSERT_NE(cell, nullptr);
    zb.add_geometry(*cell, depth, coverage, slices);
}

}  // namespace render_test
