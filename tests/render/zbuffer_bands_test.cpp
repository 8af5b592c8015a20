// Bands of z-buffer rows saved by one z-buffer and loaded into another, as
// furrender's worker processes hand them to the process that resolves.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "render/fragment_list.h"
#include "render_support.h"

using render_test::add_fragment;
using render_test::add_geometry;
using render_test::make_zbuffer;

namespace {

class ZbufferBands : public render_test::SettingsTest {};

// A z-buffer of 6 x 4 pixels with geometry and fragments in some pixels.
std::unique_ptr<hair_zbuffer> drawn(int seed) {
    auto zb = make_zbuffer(6, 4, 3);
    for (int row = 0; row < 6; ++row) {
        for (int col = 0; col < 4; ++col) {
            const int k = (row * 4 + col + seed) % 5;
            if (k == 0) continue;
            if (k >= 3) add_geometry(*zb, row, col, 20.0f + k, 0.25f * k - 0.5f);
            for (int id = 1; id <= k + seed; ++id)
                add_fragment(*zb, row, col, id, 5.0f + id * (k % 2 ? 1.0f : -0.5f),
                             kivColor(0.1f * k, 0.5f, 0.2f * id, 0.3f));
        }
    }
    return zb;
}

// The resolved colour of every pixel, row by row.
std::vector<float> resolved(hair_zbuffer& zb) {
    std::vector<float> out;
    for (int row = 0; row < zb.lines(); ++row)
        for (int col = 0; col < zb.cols(); ++col) {
            const kivColor c = zb.resolve_color(zb.record(row, col));
            out.insert(out.end(), {c.r, c.g, c.b, c.a});
        }
    return out;
}

TEST_F(ZbufferBands, LoadedBandsResolveAsTheOriginal) {
    auto source = drawn(1);
    auto target = drawn(2);  // other content in every row, replaced band by band
    std::FILE* f = std::tmpfile();
    ASSERT_NE(nullptr, f);
    ASSERT_TRUE(source->save_rows(f, 0, 2));
    ASSERT_TRUE(source->save_rows(f, 2, 5));
    ASSERT_TRUE(source->save_rows(f, 5, 6));
    std::rewind(f);
    ASSERT_TRUE(target->load_rows(f, 0, 2));
    ASSERT_TRUE(target->load_rows(f, 2, 5));
    ASSERT_TRUE(target->load_rows(f, 5, 6));
    EXPECT_EQ(EOF, std::fgetc(f));
    std::fclose(f);
    // Empty pixels stay empty, and every pixel resolves to the same value.
    for (int row = 0; row < 6; ++row)
        for (int col = 0; col < 4; ++col)
            EXPECT_EQ(source->record(row, col) == nullptr, target->record(row, col) == nullptr);
    EXPECT_EQ(resolved(*source), resolved(*target));
}

TEST_F(ZbufferBands, BadBandsAndStreamsAreRefused) {
    auto zb = drawn(1);
    std::FILE* f = std::tmpfile();
    EXPECT_FALSE(zb->save_rows(f, -1, 2));
    EXPECT_FALSE(zb->save_rows(f, 0, 7));
    EXPECT_FALSE(zb->save_rows(f, 4, 3));
    EXPECT_FALSE(zb->load_rows(f, 0, 7));
    // A band cut short, and a flag that is neither 0 nor 1.
    ASSERT_TRUE(zb->save_rows(f, 0, 1));
    const long whole = std::ftell(f);
    std::fclose(f);
    for (long cut : {whole - 1, 1L}) {
        std::FILE* g = std::tmpfile();
        ASSERT_TRUE(zb->save_rows(g, 0, 1));
        std::rewind(g);
        std::vector<char> bytes(static_cast<std::size_t>(cut));
        ASSERT_EQ(bytes.size(), std::fread(bytes.data(), 1, bytes.size(), g));
        std::fclose(g);
        std::FILE* h = std::tmpfile();
        std::fwrite(bytes.data(), 1, bytes.size(), h);
        std::rewind(h);
        EXPECT_FALSE(drawn(2)->load_rows(h, 0, 1)) << cut << " bytes";
        std::fclose(h);
    }
    // Flag 2, followed by enough bytes for every pixel of the row.
    std::FILE* bad = std::tmpfile();
    std::fputc(2, bad);
    const std::vector<char> zeros(4 * (1 + 16 * zb->record_slots()), 0);
    std::fwrite(zeros.data(), 1, zeros.size(), bad);
    std::rewind(bad);
    EXPECT_FALSE(drawn(2)->load_rows(bad, 0, 1));
    std::fclose(bad);
}

}  // namespace
