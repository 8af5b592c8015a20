#include "picture_rows.h"

#include <algorithm>
#include <cstdint>

namespace furrender {

namespace {

// The output size the resolve reads from defs, for the guard's lifetime
// (defs holds the whole image's size while the frame is drawn).
class output_size {
  public:
    output_size(int cols, int lines) : cols_(defs.image_cols), lines_(defs.image_lines) {
        defs.image_cols = cols;
        defs.image_lines = lines;
    }
    ~output_size() {
        defs.image_cols = cols_;
        defs.image_lines = lines_;
    }
    output_size(const output_size&) = delete;
    output_size& operator=(const output_size&) = delete;

  private:
    int cols_, lines_;
};

// A band's rows as a worker hands them over: its first pixel row and row
// count, then the rows' bytes.
struct rows_header {
    std::int32_t first;  // the band's first pixel row
    std::int32_t count;  // its pixel rows
};

}  // namespace

bool picture_in_rows(const options& o) {
    return o.out_kind == image_kind::png && !o.out.empty() && o.depth.empty() && o.zbuff.empty() &&
           o.atmos.empty() && o.deep.empty() && !o.count_fragments && o.tiles <= 1;
}

picture_rows::picture_rows(const options& o)
    : cols_(o.crop.on ? o.crop.x1 - o.crop.x0 + 1 : o.width),
      lines_(o.crop.on ? o.crop.y1 - o.crop.y0 + 1 : o.height),
      factor_(o.subpixel) {}

void picture_rows::make_room() {
    if (done_.empty()) {
        rgba_.assign(static_cast<std::size_t>(cols_) * lines_ * 4, 0);
        done_.assign(static_cast<std::size_t>(lines_), 0);
    }
}

korvo_tools::row_band picture_rows::pixel_rows(const korvo_tools::row_band& b) const {
    // A pixel row goes with the band of its first sample row.
    const int first = std::min(lines_, (b.row0 + factor_ - 1) / factor_);
    const int last = std::min(lines_, (b.row1 + factor_ - 1) / factor_);
    return {first, std::max(first, last)};
}

bool picture_rows::save(std::FILE* f, hair_camera& cam, const surface_layer* surfaces,
                        const korvo_tools::row_band& b) const {
    const korvo_tools::row_band p = pixel_rows(b);
    const rows_header h = {p.row0, p.row1 - p.row0};
    std::vector<unsigned char> rows(static_cast<std::size_t>(cols_) * h.count * 4);
    output_size size(cols_, lines_);
    if (h.count > 0 && !render_rgba_rows(cam, surfaces, p.row0, p.row1, rows.data())) return false;
    return std::fwrite(&h, sizeof h, 1, f) == 1 &&
           std::fwrite(rows.data(), 1, rows.size(), f) == rows.size();
}

bool picture_rows::resolve(hair_camera& cam, const surface_layer* surfaces,
                           const korvo_tools::row_band& b) {
    const korvo_tools::row_band p = pixel_rows(b);
    if (p.row0 == p.row1) return true;
    make_room();
    output_size size(cols_, lines_);
    const std::size_t row = static_cast<std::size_t>(cols_) * 4;
    if (!render_rgba_rows(cam, surfaces, p.row0, p.row1, rgba_.data() + row * p.row0)) return false;
    std::fill(done_.begin() + p.row0, done_.begin() + p.row1, 1);
    return true;
}

bool picture_rows::load(std::FILE* f, const korvo_tools::row_band& b) {
    const korvo_tools::row_band p = pixel_rows(b);
    rows_header h;
    if (std::fread(&h, sizeof h, 1, f) != 1 || h.first != p.row0 || h.count != p.row1 - p.row0)
        return false;
    make_room();
    const std::size_t row = static_cast<std::size_t>(cols_) * 4;
    unsigned char* at = rgba_.data() + row * static_cast<std::size_t>(p.row0);
    if (std::fread(at, 1, row * static_cast<std::size_t>(h.count), f) != row * h.count)
        return false;
    std::fill(done_.begin() + p.row0, done_.begin() + p.row1, 1);
    return true;
}

bool picture_rows::finish(hair_camera& cam, const surface_layer* surfaces,
                          std::vector<unsigned char>& rgba) {
    make_room();
    output_size size(cols_, lines_);
    const std::size_t row = static_cast<std::size_t>(cols_) * 4;
    // Each run of rows no worker handed over, resolved here.
    for (int r = 0; r < lines_;) {
        if (done_[static_cast<std::size_t>(r)]) {
            ++r;
            continue;
        }
        int end = r;
        while (end < lines_ && !done_[static_cast<std::size_t>(end)]) ++end;
        if (!render_rgba_rows(cam, surfaces, r, end, rgba_.data() + row * r)) return false;
        r = end;
    }
    rgba = std::move(rgba_);
    rgba_.clear();
    done_.clear();
    return true;
}

}  // namespace furrender
