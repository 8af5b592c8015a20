// A shadow map resolved in bands of its rows.
//
// The scanlines of a map file depend only on their own row, so the
// processes that draw a map's hair in bands also resolve and encode their
// own rows: a worker hands back the file's bytes for its band instead of
// its pixel records, and the first process, once it has every band, writes
// the header and the bands in row order. The file is the one
// hair_camera::render_shadow_map writes.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bands.h"

class hair_camera;

namespace furrender {

class shadow_map_rows {
  public:
    // The map of the current shadow entry, drawn by cam (N x N pixels).
    explicit shadow_map_rows(hair_camera& cam);

    // The banded pass that runs draw(first) and resolves the band's rows
    // in the process that drew them.
    band_work work(std::function<void(bool first)> draw);

    // Resolves the rows no band resolved, then writes the map file at
    // path with the given cone. False when a row cannot be encoded or the
    // file cannot be written.
    bool write(const std::string& path, float cone);

  private:
    // The encoded scanlines of rows first ... last - 1.
    struct band {
        row_band rows;
        std::vector<unsigned char> bytes;
    };
    // The largest number of bytes the rows of b can take encoded.
    std::size_t most_bytes(const row_band& b) const;
    bool encode(const row_band& b, band& out);
    bool save(std::FILE* f, const row_band& b);
    bool load(std::FILE* f, const row_band& b);

    hair_camera& cam_;
    int lines_;
    std::vector<band> bands_;
};

}  // namespace furrender
