#include "picture_rows.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace furrender {

namespace {

// The output size the 8-bit resolve reads from defs, for the guard's
// lifetime (defs holds the whole image's size while the frame is drawn).
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

// A picture's rows of a band as a worker hands them over: the first pixel
// row and the row count, then the rows' values.
struct rows_header {
    std::int32_t first;  // the first pixel row
    std::int32_t count;  // pixel rows
};

// The PNG picture's pixels from the premultiplied ones: straight alpha, or
// over the background colour (opaque).
void final_pixels(unsigned char* rgba, std::size_t pixels, bool over, const float* background) {
    for (std::size_t i = 0; i < pixels; ++i) {
        unsigned char* p = rgba + i * 4;
        const int a = p[3];
        for (int c = 0; c < 3; ++c) {
            int v;
            if (over)
                v = p[c] + static_cast<int>((255 - a) * background[c] + 0.5f);
            else
                v = a == 0 ? 0 : (p[c] * 255 + a / 2) / a;
            p[c] = static_cast<unsigned char>(v > 255 ? 255 : v);
        }
        if (over) p[3] = 255;
    }
}

}  // namespace

bool is_exr(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "exr";
}

bool picture_in_rows(const options& o) {
    const bool out =
        o.out.empty() || o.out_kind == image_kind::png || o.out_kind == image_kind::exr;
    const bool depth = o.depth.empty() || is_exr(o.depth);
    const bool any = !o.out.empty() || !o.depth.empty();
    return out && depth && any && o.zbuff.empty() && o.atmos.empty() && o.deep.empty() &&
           !o.count_fragments && o.tiles <= 1;
}

picture_rows::picture_rows(const options& o, const exr_frame& fr)
    : factor_(o.subpixel),
      cols_(o.crop.on ? o.crop.x1 - o.crop.x0 + 1 : o.width),
      lines_(o.crop.on ? o.crop.y1 - o.crop.y0 + 1 : o.height),
      frame_(fr),
      over_background_(o.has_background),
      background_{o.background[0], o.background[1], o.background[2]},
      png_(0, 0) {
    const exr_box& d = fr.windows.data;
    auto set = [this](int k, int first, int last, int values) {
        planes_[k].on = true;
        planes_[k].first = first;
        planes_[k].last = std::max(first, last);
        planes_[k].row_values = static_cast<std::size_t>(values);
        planes_[k].is_float = k != kRgba8;
    };
    const int exr_first = d.y0 - fr.origin_y, exr_last = d.y1 - fr.origin_y + 1;
    const bool exr_out = !o.out.empty() && o.out_kind == image_kind::exr;
    if (!o.out.empty() && o.out_kind == image_kind::png) {
        set(kRgba8, 0, lines_, cols_ * 4);
        png_ = png_pieces(cols_, lines_);
    }
    if (exr_out) set(kRgba, exr_first, exr_last, d.cols() * 4);
    if ((exr_out && o.has_depth_range) || (!o.depth.empty() && is_exr(o.depth)))
        set(kDepth, exr_first, exr_last, d.cols());
}

unsigned char* picture_rows::plane::row(int r) {
    const std::size_t rows = static_cast<std::size_t>(last - first);
    if (done.empty()) {
        // The picture's memory, on first use; its pages are touched as its
        // rows are resolved or read.
        if (is_float)
            floats.resize(rows * row_values);
        else
            bytes.resize(rows * row_values);
        done.assign(rows, 0);
    }
    const std::size_t at = static_cast<std::size_t>(r - first) * row_values;
    return is_float ? reinterpret_cast<unsigned char*>(floats.data() + at) : bytes.data() + at;
}

korvo_tools::row_band picture_rows::pixel_rows(const korvo_tools::row_band& b) const {
    // A pixel row goes with the band of its first sample row.
    return {(b.row0 + factor_ - 1) / factor_, (b.row1 + factor_ - 1) / factor_};
}

korvo_tools::row_band picture_rows::rows_of(int k, const korvo_tools::row_band& b) const {
    const korvo_tools::row_band p = pixel_rows(b);
    const int first = std::max(p.row0, planes_[k].first);
    return {first, std::max(first, std::min(p.row1, planes_[k].last))};
}

bool picture_rows::fill(int k, hair_camera& cam, const surface_layer* surfaces, int r0, int r1,
                        unsigned char* out) const {
    if (r0 >= r1) return true;
    float* values = reinterpret_cast<float*>(out);
    const int oy = frame_.origin_y;
    switch (k) {
        case kRgba8: {
            output_size size(cols_, lines_);
            if (!render_rgba_rows(cam, surfaces, r0, r1, out)) return false;
            final_pixels(out, static_cast<std::size_t>(r1 - r0) * cols_, over_background_,
                         background_);
            return true;
        }
        case kRgba:
            return render_exr_rows(cam, frame_, surfaces, r0 + oy, r1 + oy, values, nullptr) != 0;
        default:
            return render_exr_rows(cam, frame_, surfaces, r0 + oy, r1 + oy, nullptr, values) != 0;
    }
}

bool picture_rows::fill_missing(int k, hair_camera& cam, const surface_layer* surfaces,
                                const korvo_tools::row_band& r) {
    plane& p = planes_[k];
    if (!p.on || r.row0 >= r.row1) return true;
    p.row(r.row0);  // the memory, when no row came yet
    // Each run of rows not resolved yet, resolved here.
    for (int at = r.row0; at < r.row1;) {
        if (p.done[static_cast<std::size_t>(at - p.first)]) {
            ++at;
            continue;
        }
        int end = at;
        while (end < r.row1 && !p.done[static_cast<std::size_t>(end - p.first)]) ++end;
        if (!fill(k, cam, surfaces, at, end, p.row(at))) return false;
        std::fill(p.done.begin() + (at - p.first), p.done.begin() + (end - p.first), 1);
        at = end;
    }
    return true;
}

bool picture_rows::resolve_rows(hair_camera& cam, const surface_layer* surfaces,
                                const korvo_tools::row_band& b) {
    for (int k = 0; k < kKinds; ++k)
        if (!fill_missing(k, cam, surfaces, rows_of(k, b))) return false;
    return compress_completed(rows_of(kRgba8, b));
}

bool picture_rows::compress_completed(const korvo_tools::row_band& r) {
    plane& p = planes_[kRgba8];
    if (!p.on || r.row0 >= r.row1) return true;
    const auto done = [&p](int row) {
        return p.done[static_cast<std::size_t>(row - p.first)] != 0;
    };
    for (int k = 0; k < png_.count(); ++k) {
        int row0, row1;
        png_.rows(k, row0, row1);
        if (row1 <= r.row0 || row0 >= r.row1 || png_.compressed(k)) continue;
        bool whole = true;
        for (int row = row0; row < row1 && whole; ++row) whole = done(row);
        if (whole && !png_.compress(k, p.row(row0))) return false;
    }
    return true;
}

bool picture_rows::save(std::FILE* f, hair_camera& cam, const surface_layer* surfaces,
                        const korvo_tools::row_band& b) {
    if (!resolve_rows(cam, surfaces, b)) return false;
    // The rows of each picture in turn, as they are stored.
    for (int k = 0; k < kKinds; ++k) {
        plane& p = planes_[k];
        if (!p.on) continue;
        const korvo_tools::row_band r = rows_of(k, b);
        const rows_header h = {r.row0, r.row1 - r.row0};
        const std::size_t size = static_cast<std::size_t>(h.count) * p.row_values * p.value_size();
        if (std::fwrite(&h, sizeof h, 1, f) != 1) return false;
        if (h.count == 0) continue;
        if (std::fwrite(p.row(r.row0), 1, size, f) != size) return false;
        if (k != kRgba8) continue;
        // The PNG pieces wholly inside the band, compressed as their rows
        // were resolved.
        int p0, p1;
        png_.within(r.row0, r.row1, p0, p1);
        if (!png_.save(f, p0, p1)) return false;
    }
    return true;
}

bool picture_rows::resolve(hair_camera& cam, const surface_layer* surfaces,
                           const korvo_tools::row_band& b) {
    return resolve_rows(cam, surfaces, b);
}

bool picture_rows::load(std::FILE* f, const korvo_tools::row_band& b) {
    for (int k = 0; k < kKinds; ++k) {
        plane& p = planes_[k];
        if (!p.on) continue;
        const korvo_tools::row_band r = rows_of(k, b);
        rows_header h;
        if (std::fread(&h, sizeof h, 1, f) != 1 || h.first != r.row0 || h.count != r.row1 - r.row0)
            return false;
        if (h.count == 0) continue;
        const std::size_t size = static_cast<std::size_t>(h.count) * p.row_values * p.value_size();
        if (std::fread(p.row(r.row0), 1, size, f) != size) return false;
        std::fill(p.done.begin() + (r.row0 - p.first), p.done.begin() + (r.row1 - p.first), 1);
        int p0, p1;
        png_.within(r.row0, r.row1, p0, p1);
        if (k == kRgba8 && !png_.load(f, p0, p1)) return false;
    }
    return true;
}

bool picture_rows::finish(hair_camera& cam, const surface_layer* surfaces) {
    for (int k = 0; k < kKinds; ++k)
        if (!fill_missing(k, cam, surfaces, {planes_[k].first, planes_[k].last})) return false;
    // The PNG pieces that no band compressed (those across two bands).
    for (int k = 0; k < png_.count(); ++k) {
        int row0, row1;
        png_.rows(k, row0, row1);
        if (!png_.compressed(k) && !png_.compress(k, planes_[kRgba8].row(row0))) return false;
    }
    return true;
}

bool picture_rows::write_png(const std::string& path) const {
    return planes_[kRgba8].on && png_.write(path.c_str());
}

}  // namespace furrender
