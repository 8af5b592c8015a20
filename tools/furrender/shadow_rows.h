// A shadow map resolved in bands of its rows.
//
// The scanlines of a map file depend only on their own row, so the
// processes that draw a map's hair in bands also resolve and encode their
// own rows: a worker hands back the file's bytes for its band instead of
// its pixel records, and the first process, once it has every band, writes
// the header and the bands in row order. The file is the one
// hair_camera::render_shadow_map writes.
//
// Each process also decodes the scanlines it encoded into four planes of
// memory that every process shares, so that the final render takes the
// whole map from there (smProvideMap) instead of reading the file back and
// decoding it on one process once the bands are done. A map that no one
// reads as a file (one in a temporary folder) is not encoded at all: the
// bands resolve their rows straight into the planes, as the file would
// give them back, and no file is written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bands.h"
#include "korvofur/korvofur.h"

class hair_camera;

namespace furrender {

class shadow_map_rows {
  public:
    // The map of the current shadow entry, drawn by cam (N x N pixels);
    // with file false, only its file's path is wanted, not the file.
    shadow_map_rows(hair_camera& cam, bool file);
    ~shadow_map_rows();
    shadow_map_rows(const shadow_map_rows&) = delete;
    shadow_map_rows& operator=(const shadow_map_rows&) = delete;

    // The banded pass that runs draw(first) and resolves the band's rows
    // in the process that drew them: its own rows as soon as its hair is
    // drawn, then, with shared zones, each unit it takes. after_first_rows,
    // when given, runs in the first process once its own rows are
    // resolved, before it takes units.
    band_work work(std::function<void(bool first)> draw,
                   std::function<void()> after_first_rows = nullptr);

    // Resolves the rows no band resolved, then writes the map file at
    // path with the given cone (unless no file is wanted) and provides the
    // decoded map for path. False when a row cannot be resolved or the file
    // cannot be written.
    bool write(const std::string& path, float cone);
    // Whether write writes the file.
    bool writes_file() const { return file_; }

  private:
    // The encoded scanlines of rows first ... last - 1 (none without a file).
    struct band {
        row_band rows;
        std::vector<unsigned char> bytes;
    };
    // The largest number of bytes the rows of b can take encoded.
    std::size_t most_bytes(const row_band& b) const;
    // Encodes the rows of b into out and decodes them into the planes, or
    // without a file resolves them into the planes.
    bool encode(const row_band& b, band& out);
    // Encodes the rows of b that no band of this process holds yet, each
    // run of them into a band of its own; the bands are left in row order.
    bool encode_rest(const row_band& b);
    // Puts the bands in row order.
    void sort_bands();
    // Whether the bands, in row order, cover the rows of b once each; size
    // receives their bytes.
    bool covers(const row_band& b, std::uint64_t& size) const;
    bool decode(const band& b);
    // Floats in a plane: the map's pixels.
    std::size_t plane_floats() const;
    // Provides the planes for path (smProvideMap), which then no longer
    // belong to this object. False when there are none or they are refused.
    bool hand_over(const std::string& path, float cone);
    bool save(std::FILE* f, const row_band& b);
    bool load(std::FILE* f, const row_band& b);

    hair_camera& cam_;
    int lines_;
    std::vector<band> bands_;
    bool failed_ = false;  // a band's rows could not be resolved during the pass
    // The decoded map, shared with the band processes (all null when it
    // could not be mapped: the file is then read back).
    float* planes_[SMAP_CHANNELS] = {};
    bool file_;  // the file is written (always when the planes failed)
};

}  // namespace furrender
