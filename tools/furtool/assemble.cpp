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
#include <utility>
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

// Deep OpenEXR bands: deep images of one size and data window; the bands
// cut the data window's rows, each row taken with its samples from the
// band that drew it.
void assemble_deep_exr(const options& o, exr_deep_planes first) {
    const int n = static_cast<int>(o.files.size());
    const exr_windows windows = first.windows;
    const int lines = windows.data.lines();
    const std::size_t cols = static_cast<std::size_t>(windows.data.cols());
    std::vector<exr_deep_planes> bands(static_cast<std::size_t>(n));
    bands[0] = std::move(first);
    for (int i = 1; i < n; ++i) {
        std::string why;
        if (!exr_read_deep(o.files[i].c_str(), bands[i], why))
            throw job_error{"cannot read \"" + o.files[i] + "\" as a deep image: " + why};
        if (!same_windows(bands[i].windows, windows))
            throw job_error{"\"" + o.files[i] + "\" differs from the first band in size"};
    }
    exr_deep_writer writer;
    if (!writer.open(o.out.c_str(), windows)) throw job_error{"could not write \"" + o.out + "\""};
    // Every band's next sample: each band's rows are passed over in order.
    std::vector<std::size_t> cursor(static_cast<std::size_t>(n), 0);
    for (int r = 0; r < lines; ++r) {
        int owner = 0;
        while (owner + 1 < n && korvo_tools::band_of(0, lines, owner, n).row1 <= r) ++owner;
        const std::uint32_t* row_counts = nullptr;
        const exr_deep_sample* row_samples = nullptr;
        for (int i = 0; i < n; ++i) {
            const std::uint32_t* counts = &bands[i].counts[static_cast<std::size_t>(r) * cols];
            std::size_t total = 0;
            for (std::size_t c = 0; c < cols; ++c) total += counts[c];
            if (cursor[i] + total > bands[i].samples.size())
                throw job_error{"\"" + o.files[i] + "\" holds fewer samples than it counts"};
            if (i == owner) {
                // A band without samples still hands the writer a place.
                static const exr_deep_sample kNone = {0, 0, 0, 0, 0, 0};
                row_counts = counts;
                row_samples =
                    bands[i].samples.empty() ? &kNone : bands[i].samples.data() + cursor[i];
            }
            cursor[i] += total;
        }
        if (!writer.write_row(row_counts, row_samples))
            throw job_error{"could not write \"" + o.out + "\""};
    }
    if (!writer.close()) throw job_error{"could not write \"" + o.out + "\""};
}

// OpenEXR bands: flat pictures (colour, depth or both) of one size and data
// window; the bands cut the data window's rows.
void assemble_exr(const options& o) {
    const int n = static_cast<int>(o.files.size());
    // A first band that reads as a deep image makes every band deep.
    {
        exr_deep_planes deep;
        std::string why;
        if (exr_read_deep(o.files[0].c_str(), deep, why)) {
            if (n > deep.windows.data.lines())
                throw job_error{std::to_string(n) + " bands of a picture " +
                                std::to_string(deep.windows.data.lines()) + " rows high"};
            assemble_deep_exr(o, std::move(deep));
            return;
        }
    }
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

// The band rows of band i of n bands of a picture `height` rows high,
// after checking that there are no more bands than rows.
korvo_tools::row_band band_rows(int height, int i, int n) {
    if (n > height)
        throw job_error{std::to_string(n) + " bands of a picture " + std::to_string(height) +
                        " rows high"};
    return korvo_tools::band_of(0, height, i, n);
}

void write_bytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    bool ok = f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (f != nullptr && std::fclose(f) != 0) ok = false;
    if (!ok) {
        std::remove(path.c_str());
        throw job_error{"could not write \"" + path + "\""};
    }
}

// IFF bands: pictures of one size and channels (colour, depth or both),
// decoded, joined and coded again as furrender writes them (colour tiles
// run-length coded, a depth-only picture raw).
void assemble_iff(const options& o) {
    const int n = static_cast<int>(o.files.size());
    IffImage out;
    for (int i = 0; i < n; ++i) {
        const std::string& path = o.files[i];
        const std::vector<unsigned char> bytes = read_file(path);
        IffImage band;
        std::string why;
        if (!iff_decode(bytes.data(), bytes.size(), band, &why))
            throw job_error{"\"" + path + "\" is not an IFF picture furrender writes: " + why};
        if (i == 0) {
            out = band;
        } else if (band.width != out.width || band.height != out.height ||
                   band.channels != out.channels || band.rgba.size() != out.rgba.size() ||
                   band.depth.size() != out.depth.size()) {
            throw job_error{"\"" + path + "\" differs from the first band in size or channels"};
        }
        const korvo_tools::row_band b = band_rows(out.height, i, n);
        const std::size_t from = static_cast<std::size_t>(b.row0) * out.width;
        const std::size_t to = static_cast<std::size_t>(b.row1) * out.width;
        if (!band.rgba.empty())
            std::copy(band.rgba.begin() + from * 4, band.rgba.begin() + to * 4,
                      out.rgba.begin() + from * 4);
        if (!band.depth.empty())
            std::copy(band.depth.begin() + from, band.depth.begin() + to, out.depth.begin() + from);
    }
    std::vector<uint8_t> bytes;
    if (!iff_encode(out, out.channels > 0, bytes))
        throw job_error{"cannot code the joined picture as IFF"};
    write_bytes(o.out, bytes);
}

// --- RLA -----------------------------------------------------------------------------
//
// An RLA file is a 740-byte big-endian header, a table of one 32-bit file
// offset per stored scanline (bottom scanline first), then the scanline
// records, each a run-length coded record per channel, written one after
// the other in scanline order. A band's scanlines are taken over as their
// records are, so the joined file is the one a single run writes, but for
// the header's file name (the joined file's) and its date of writing
// (the first band's).

// The fields of the RLA header that joining reads or writes.
struct rla_disk_header {
    static constexpr std::size_t kSize = 740;
    static constexpr std::size_t kWindow = 0;      // window left, right, bottom, top: 4 x int16
    static constexpr std::size_t kActive = 8;      // active left, right, bottom, top: 4 x int16
    static constexpr std::size_t kName = 144;      // the file's name, NUL padded
    static constexpr std::size_t kNameSize = 128;  //
};

int rla_i16(const std::vector<unsigned char>& b, std::size_t at) {
    return static_cast<std::int16_t>((b[at] << 8) | b[at + 1]);
}

std::uint32_t rla_u32(const std::vector<unsigned char>& b, std::size_t at) {
    return (std::uint32_t(b[at]) << 24) | (std::uint32_t(b[at + 1]) << 16) |
           (std::uint32_t(b[at + 2]) << 8) | std::uint32_t(b[at + 3]);
}

// One RLA band: its bytes and where each scanline's records lie.
struct rla_band {
    std::vector<unsigned char> bytes;
    int lines = 0;
    std::vector<std::uint32_t> start, end;  // of each scanline's records
};

rla_band read_rla(const std::string& path) {
    rla_band band;
    band.bytes = read_file(path);
    const std::vector<unsigned char>& b = band.bytes;
    const std::string bad = "\"" + path + "\" is not an RLA picture furrender writes";
    if (b.size() < rla_disk_header::kSize) throw job_error{bad};
    int window[4], active[4];
    for (int k = 0; k < 4; ++k) {
        window[k] = rla_i16(b, rla_disk_header::kWindow + 2 * k);
        active[k] = rla_i16(b, rla_disk_header::kActive + 2 * k);
    }
    // furrender stores every scanline of the window.
    if (!std::equal(window, window + 4, active) || window[3] < window[2] || window[1] < window[0])
        throw job_error{bad};
    band.lines = window[3] - window[2] + 1;
    const std::size_t table = rla_disk_header::kSize;
    const std::size_t records = table + 4 * static_cast<std::size_t>(band.lines);
    if (b.size() < records) throw job_error{bad};
    for (int y = 0; y < band.lines; ++y) {
        const std::uint32_t from = rla_u32(b, table + 4 * y);
        const std::uint32_t to =
            y + 1 < band.lines ? rla_u32(b, table + 4 * (y + 1)) : std::uint32_t(b.size());
        if (from < records || to < from || to > b.size()) throw job_error{bad};
        band.start.push_back(from);
        band.end.push_back(to);
    }
    return band;
}

void put_u32(std::vector<unsigned char>& b, std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + k] = static_cast<unsigned char>(v >> (24 - 8 * k));
}

void assemble_rla(const options& o) {
    const int n = static_cast<int>(o.files.size());
    std::vector<rla_band> bands;
    for (int i = 0; i < n; ++i) {
        bands.push_back(read_rla(o.files[i]));
        const rla_band& b = bands.back();
        if (i > 0 && (b.lines != bands[0].lines ||
                      !std::equal(b.bytes.begin(), b.bytes.begin() + 28, bands[0].bytes.begin())))
            throw job_error{"\"" + o.files[i] +
                            "\" differs from the first band in size or channels"};
    }
    const int lines = bands[0].lines;
    // The first band's header with the joined file's name, the table, then
    // every scanline's records from the band that drew it.
    std::vector<unsigned char> out(bands[0].bytes.begin(),
                                   bands[0].bytes.begin() + rla_disk_header::kSize);
    std::fill(out.begin() + rla_disk_header::kName,
              out.begin() + rla_disk_header::kName + rla_disk_header::kNameSize, 0);
    std::copy(o.out.begin(), o.out.begin() + std::min(o.out.size(), rla_disk_header::kNameSize - 1),
              out.begin() + rla_disk_header::kName);
    out.resize(rla_disk_header::kSize + 4 * static_cast<std::size_t>(lines), 0);
    for (int i = 0; i < n; ++i) {
        const korvo_tools::row_band r = band_rows(lines, i, n);
        const rla_band& b = bands[i];
        for (int y = r.row0; y < r.row1; ++y) {
            put_u32(out, rla_disk_header::kSize + 4 * static_cast<std::size_t>(y),
                    static_cast<std::uint32_t>(out.size()));
            out.insert(out.end(), b.bytes.begin() + b.start[y], b.bytes.begin() + b.end[y]);
        }
    }
    write_bytes(o.out, out);
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
    if (kind == "iff") {
        assemble_iff(o);
        return 0;
    }
    if (kind == "rla") {
        assemble_rla(o);
        return 0;
    }
    throw job_error{"cannot assemble ." + kind + " pictures (PNG, IFF, RLA and OpenEXR only)"};
}

}  // namespace furtool
