// furtool assemble: joins the bands that furrender --tile I/N wrote into
// one picture. Band I of N holds the picture's rows band_of(0, height, I, N)
// (row 0 at the bottom) of the rows the file stores (an OpenEXR file's data
// window); every other row of it is empty or background. The bands are
// given in order, band 0 first.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "furtool.h"

namespace furtool {

namespace {

// The largest tile file read (an 8-bit RGBA picture of 16384 x 16384 fits).
constexpr std::size_t kMaxTileBytes = std::size_t(1) << 30;

std::string extension(const std::string& path) {
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

std::vector<unsigned char> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) throw job_error{"cannot read \"" + path + "\": " + std::strerror(errno)};
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<std::uint64_t>(size) > kMaxTileBytes)
        throw job_error{"\"" + path + "\" is larger than a tile may be"};
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), size);
    if (!in) throw job_error{"cannot read \"" + path + "\""};
    return bytes;
}

// PNG bands: 8-bit RGBA pictures of one size.
void assemble_png(const options& o) {
    const int n = static_cast<int>(o.files.size());
    int width = 0, height = 0;
    std::vector<unsigned char> out;
    for (int i = 0; i < n; ++i) {
        const std::string& path = o.files[i];
        const std::vector<unsigned char> bytes = read_file(path);
        int w = 0, h = 0;
        std::vector<unsigned char> rgba;
        if (!png_read_rgba(bytes.data(), bytes.size(), w, h, rgba))
            throw job_error{"\"" + path + "\" is not a PNG picture furrender writes"};
        if (i == 0) {
            width = w;
            height = h;
            if (n > height)
                throw job_error{std::to_string(n) + " bands of a picture " +
                                std::to_string(height) + " rows high"};
            out.assign(rgba.size(), 0);
        } else if (w != width || h != height) {
            throw job_error{"\"" + path + "\" is " + std::to_string(w) + " x " + std::to_string(h) +
                            ", the first band " + std::to_string(width) + " x " +
                            std::to_string(height)};
        }
        // Row 0 is at the bottom, as png_read_rgba returns them.
        const korvo_tools::row_band b = korvo_tools::band_of(0, height, i, n);
        const std::size_t row = static_cast<std::size_t>(width) * 4;
        std::memcpy(&out[b.row0 * row], &rgba[b.row0 * row], (b.row1 - b.row0) * row);
    }
    if (!png_write_rgba(o.out.c_str(), width, height, out.data()))
        throw job_error{"could not write \"" + o.out + "\""};
}

bool same_windows(const exr_windows& a, const exr_windows& b) {
    return a.width == b.width && a.height == b.height && a.data.x0 == b.data.x0 &&
           a.data.y0 == b.data.y0 && a.data.x1 == b.data.x1 && a.data.y1 == b.data.y1;
}

// OpenEXR bands: flat pictures (colour, depth or both) of one size and data
// window; the bands cut the data window's rows.
void assemble_exr(const options& o) {
    const int n = static_cast<int>(o.files.size());
    exr_flat_planes out;
    for (int i = 0; i < n; ++i) {
        const std::string& path = o.files[i];
        exr_flat_planes band;
        std::string why;
        if (!exr_read_flat(path.c_str(), band, why))
            throw job_error{"cannot read \"" + path + "\": " + why};
        const int lines = band.windows.data.lines();
        if (i == 0) {
            out = band;
            if (n > lines)
                throw job_error{std::to_string(n) + " bands of a picture " + std::to_string(lines) +
                                " rows high"};
            continue;
        }
        if (!same_windows(band.windows, out.windows) || band.rgba.size() != out.rgba.size() ||
            band.z.size() != out.z.size())
            throw job_error{"\"" + path + "\" differs from the first band in size or channels"};
        const korvo_tools::row_band b = korvo_tools::band_of(0, lines, i, n);
        const std::size_t cols = static_cast<std::size_t>(band.windows.data.cols());
        const std::size_t from = b.row0 * cols, to = b.row1 * cols;
        if (!band.rgba.empty())
            std::copy(&band.rgba[from * 4], &band.rgba[to * 4 - 1] + 1, &out.rgba[from * 4]);
        if (!band.z.empty()) std::copy(&band.z[from], &band.z[to - 1] + 1, &out.z[from]);
    }
    exr_flat_image image;
    image.windows = out.windows;
    image.rgba = out.rgba.empty() ? nullptr : out.rgba.data();
    image.z = out.z.empty() ? nullptr : out.z.data();
    if (!exr_write_flat(o.out.c_str(), image)) throw job_error{"could not write \"" + o.out + "\""};
}

}  // namespace

int run_assemble(const options& o) {
    const std::string kind = extension(o.out);
    for (const std::string& f : o.files)
        if (extension(f) != kind)
            throw job_error{"\"" + f + "\" is not of the kind of --out (." + kind + ")"};
    for (const std::string& f : o.files)
        if (f == o.out) throw job_error{"--out would overwrite the band \"" + f + "\""};
    if (kind == "png") {
        assemble_png(o);
        return 0;
    }
    if (kind == "exr") {
        assemble_exr(o);
        return 0;
    }
    throw job_error{"cannot assemble ." + kind + " pictures (PNG and flat OpenEXR only)"};
}

}  // namespace furtool
