#include "imagefile/exr_file.h"

#include <ImfChannelList.h>
#include <ImfDeepFrameBuffer.h>
#include <ImfDeepScanLineInputFile.h>
#include <ImfDeepScanLineOutputFile.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfPartType.h>
#include <half.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <utility>
#include <vector>

namespace {

namespace imf = OPENEXR_IMF_NAMESPACE;

// The OpenEXR header of an image of these windows: display window the
// whole image, data window the stored rectangle, both with y from the top.
imf::Header make_header(const exr_windows& w, imf::Compression compression, imf::LineOrder order) {
    const IMATH_NAMESPACE::Box2i display(IMATH_NAMESPACE::V2i(0, 0),
                                         IMATH_NAMESPACE::V2i(w.width - 1, w.height - 1));
    const IMATH_NAMESPACE::Box2i data(IMATH_NAMESPACE::V2i(w.data.x0, w.height - 1 - w.data.y1),
                                      IMATH_NAMESPACE::V2i(w.data.x1, w.height - 1 - w.data.y0));
    imf::Header header(display, data, 1.0f, IMATH_NAMESPACE::V2f(0, 0), 1.0f, order, compression);
    return header;
}

// The windows of a file's header, with y from the bottom; false with the
// reason when the display window does not start at the origin or the data
// window is empty, outside the picture or larger than the reading cap.
bool windows_of(const imf::Header& header, exr_windows& w, std::string& error) {
    const IMATH_NAMESPACE::Box2i& display = header.displayWindow();
    const IMATH_NAMESPACE::Box2i& dw = header.dataWindow();
    if (display.min.x != 0 || display.min.y != 0) {
        error = "its display window does not start at 0, 0";
        return false;
    }
    w.width = display.max.x + 1;
    w.height = display.max.y + 1;
    w.data = {dw.min.x, w.height - 1 - dw.max.y, dw.max.x, w.height - 1 - dw.min.y};
    if (!w.valid() || static_cast<long long>(w.data.cols()) * w.data.lines() > kExrMaxReadPixels) {
        error = "its data window is empty, outside the picture or too large";
        return false;
    }
    return true;
}

void report(const char* what, const char* path, const char* why) {
    std::printf("ERROR: cannot write OpenEXR %s %s: %s\n", what, path, why);
}

// The address x elements before p, as OpenEXR addresses a row by image x.
template <class T>
char* shifted(T* p, int x) {
    return reinterpret_cast<char*>(reinterpret_cast<std::uintptr_t>(p) - sizeof(T) * x);
}

const char* const kRgba[4] = {"R", "G", "B", "A"};
const char* const kDeepChannels[6] = {"R", "G", "B", "A", "Z", "ZBack"};

}  // namespace

exr_windows exr_windows::whole(int width, int height) {
    exr_windows w;
    w.width = width;
    w.height = height;
    w.data = {0, 0, width - 1, height - 1};
    return w;
}

bool exr_windows::valid() const {
    return width > 0 && height > 0 && data.x0 >= 0 && data.y0 >= 0 && data.x0 <= data.x1 &&
           data.y0 <= data.y1 && data.x1 < width && data.y1 < height;
}

// ---------------------------------------------------------------------------
// Flat images

int exr_write_flat(const char* path, const exr_flat_image& image) {
    const exr_windows& w = image.windows;
    if (path == nullptr || !w.valid() || (image.rgba == nullptr && image.z == nullptr)) {
        report("image", path ? path : "(null)", "no pixels or an invalid window");
        return 0;
    }
    const int cols = w.data.cols(), lines = w.data.lines();
    const std::size_t pixels = static_cast<std::size_t>(cols) * lines;
    try {
        imf::Header header = make_header(w, imf::ZIP_COMPRESSION, imf::INCREASING_Y);
        if (image.rgba)
            for (const char* c : kRgba) header.channels().insert(c, imf::Channel(imf::HALF));
        if (image.z) header.channels().insert("Z", imf::Channel(imf::FLOAT));

        // The planes in file order (top row first): half colour, float depth.
        std::vector<half> rgba(image.rgba ? pixels * 4 : 0);
        std::vector<float> z(image.z ? pixels : 0);
        for (int r = 0; r < lines; ++r) {
            const std::size_t from = static_cast<std::size_t>(r) * cols;
            const std::size_t to = static_cast<std::size_t>(lines - 1 - r) * cols;
            for (int c = 0; c < cols; ++c) {
                if (image.rgba)
                    for (int k = 0; k < 4; ++k)
                        rgba[(to + c) * 4 + k] = half(image.rgba[(from + c) * 4 + k]);
                if (image.z) z[to + c] = image.z[from + c];
            }
        }

        // Slices addressed from the data window's corner.
        const IMATH_NAMESPACE::Box2i& dw = header.dataWindow();
        imf::FrameBuffer fb;
        for (int k = 0; image.rgba && k < 4; ++k)
            fb.insert(kRgba[k], imf::Slice::Make(imf::HALF, rgba.data() + k, dw, sizeof(half) * 4,
                                                 sizeof(half) * 4 * cols));
        if (image.z)
            fb.insert("Z", imf::Slice::Make(imf::FLOAT, z.data(), dw, sizeof(float),
                                            sizeof(float) * cols));
        imf::OutputFile file(path, header);
        file.setFrameBuffer(fb);
        file.writePixels(lines);
    } catch (const std::exception& e) {
        report("image", path, e.what());
        return 0;
    }
    return 1;
}

int exr_read_flat(const char* path, exr_flat_planes& out, std::string& error) {
    try {
        imf::InputFile file(path);
        const imf::Header& header = file.header();
        if (header.hasType() && imf::isDeepData(header.type())) {
            error = "a deep image, not a flat one";
            return 0;
        }
        const IMATH_NAMESPACE::Box2i& dw = header.dataWindow();
        exr_windows w;
        if (!windows_of(header, w, error)) return 0;
        const imf::ChannelList& channels = header.channels();
        bool has_rgba = true;
        for (const char* c : kRgba) has_rgba = has_rgba && channels.findChannel(c) != nullptr;
        const bool has_z = channels.findChannel("Z") != nullptr;
        if (!has_rgba && !has_z) {
            error = "neither R, G, B, A nor Z channels";
            return 0;
        }

        // Read top row first, then turned into rows bottom first.
        const int cols = w.data.cols(), lines = w.data.lines();
        const std::size_t pixels = static_cast<std::size_t>(cols) * lines;
        std::vector<float> rgba(has_rgba ? pixels * 4 : 0), z(has_z ? pixels : 0);
        imf::FrameBuffer fb;
        for (int k = 0; has_rgba && k < 4; ++k)
            fb.insert(kRgba[k], imf::Slice::Make(imf::FLOAT, rgba.data() + k, dw, sizeof(float) * 4,
                                                 sizeof(float) * 4 * cols));
        if (has_z)
            fb.insert("Z", imf::Slice::Make(imf::FLOAT, z.data(), dw, sizeof(float),
                                            sizeof(float) * cols));
        file.setFrameBuffer(fb);
        file.readPixels(dw.min.y, dw.max.y);
        out.windows = w;
        out.rgba.assign(rgba.size(), 0.0f);
        out.z.assign(z.size(), 0.0f);
        for (int r = 0; r < lines; ++r) {
            const std::size_t from = static_cast<std::size_t>(lines - 1 - r) * cols;
            const std::size_t to = static_cast<std::size_t>(r) * cols;
            if (has_rgba) std::copy(&rgba[from * 4], &rgba[from * 4] + cols * 4, &out.rgba[to * 4]);
            if (has_z) std::copy(&z[from], &z[from] + cols, &out.z[to]);
        }
    } catch (const std::exception& e) {
        error = e.what();
        return 0;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Deep images

struct exr_deep_writer::impl {
    imf::DeepScanLineOutputFile* file = nullptr;
    exr_windows windows;
    int rows_written = 0;
    std::vector<std::uint32_t> counts;  // one row
    std::vector<char*> pointers[6];     // one row per channel
};

exr_deep_writer::exr_deep_writer() : impl_(new impl) {}

exr_deep_writer::~exr_deep_writer() {
    close();
    delete impl_;
}

int exr_deep_writer::open(const char* path, const exr_windows& w) {
    close();
    if (path == nullptr || !w.valid()) {
        report("deep image", path ? path : "(null)", "invalid window");
        return 0;
    }
    impl& s = *impl_;
    s.windows = w;
    s.rows_written = 0;
    const int cols = w.data.cols();
    try {
        // Rows arrive bottom first: decreasing y in the file's terms.
        imf::Header header = make_header(w, imf::ZIPS_COMPRESSION, imf::DECREASING_Y);
        header.setType(imf::DEEPSCANLINE);
        for (const char* c : kDeepChannels) header.channels().insert(c, imf::Channel(imf::FLOAT));
        s.file = new imf::DeepScanLineOutputFile(path, header);

        // One row of counts and pointers serves every row: a y stride of 0.
        s.counts.assign(cols, 0);
        imf::DeepFrameBuffer fb;
        // Row arrays addressed by image x: shifted back by the window's left column.
        const int ox = w.data.x0;
        fb.insertSampleCountSlice(
            imf::Slice(imf::UINT, shifted(s.counts.data(), ox), sizeof(std::uint32_t), 0));
        for (int k = 0; k < 6; ++k) {
            s.pointers[k].assign(cols, nullptr);
            fb.insert(kDeepChannels[k],
                      imf::DeepSlice(imf::FLOAT, shifted(s.pointers[k].data(), ox), sizeof(char*),
                                     0, sizeof(exr_deep_sample)));
        }
        s.file->setFrameBuffer(fb);
    } catch (const std::exception& e) {
        report("deep image", path, e.what());
        delete s.file;
        s.file = nullptr;
        return 0;
    }
    return 1;
}

int exr_deep_writer::write_row(const std::uint32_t* counts, const exr_deep_sample* samples) {
    impl& s = *impl_;
    if (s.file == nullptr || s.rows_written >= s.windows.data.lines()) return 0;
    const int cols = s.windows.data.cols();
    std::size_t next = 0;
    for (int c = 0; c < cols; ++c) {
        s.counts[c] = counts[c];
        // A pixel's channel pointers address its first sample's fields.
        exr_deep_sample* first = const_cast<exr_deep_sample*>(samples + next);
        float* fields[6] = {&first->r, &first->g, &first->b, &first->a, &first->z, &first->zback};
        for (int k = 0; k < 6; ++k) s.pointers[k][c] = reinterpret_cast<char*>(fields[k]);
        next += counts[c];
    }
    try {
        s.file->writePixels(1);
    } catch (const std::exception& e) {
        std::printf("ERROR: cannot write OpenEXR deep image: %s\n", e.what());
        delete s.file;
        s.file = nullptr;
        return 0;
    }
    ++s.rows_written;
    return 1;
}

int exr_deep_writer::close() {
    impl& s = *impl_;
    if (s.file == nullptr) return 0;
    const bool complete = s.rows_written == s.windows.data.lines();
    try {
        delete s.file;
    } catch (const std::exception& e) {
        std::printf("ERROR: cannot finish OpenEXR deep image: %s\n", e.what());
        s.file = nullptr;
        return 0;
    }
    s.file = nullptr;
    return complete ? 1 : 0;
}

int exr_read_deep(const char* path, exr_deep_planes& out, std::string& error) {
    try {
        imf::DeepScanLineInputFile file(path);
        const imf::Header& header = file.header();
        const IMATH_NAMESPACE::Box2i& dw = header.dataWindow();
        exr_windows w;
        if (!windows_of(header, w, error)) return 0;
        for (const char* c : kDeepChannels)
            if (header.channels().findChannel(c) == nullptr) {
                error = std::string("no ") + c + " channel";
                return 0;
            }

        // One row of counts and pointers serves every row (a y stride of 0);
        // rows are read bottom first, the file's decreasing y.
        const int cols = w.data.cols(), ox = w.data.x0;
        std::vector<std::uint32_t> counts(cols, 0);
        std::vector<char*> pointers[6];
        imf::DeepFrameBuffer fb;
        fb.insertSampleCountSlice(
            imf::Slice(imf::UINT, shifted(counts.data(), ox), sizeof(std::uint32_t), 0));
        for (int k = 0; k < 6; ++k) {
            pointers[k].assign(cols, nullptr);
            fb.insert(kDeepChannels[k], imf::DeepSlice(imf::FLOAT, shifted(pointers[k].data(), ox),
                                                       sizeof(char*), 0, sizeof(exr_deep_sample)));
        }
        file.setFrameBuffer(fb);
        exr_deep_planes planes;
        planes.windows = w;
        planes.counts.reserve(static_cast<std::size_t>(cols) * w.data.lines());
        for (int y = dw.max.y; y >= dw.min.y; --y) {
            file.readPixelSampleCounts(y);
            long long row = 0;
            for (std::uint32_t c : counts) row += c;
            if (static_cast<long long>(planes.samples.size()) + row > kExrMaxDeepSamples) {
                error = "more samples than a deep image may hold here";
                return 0;
            }
            const std::size_t first = planes.samples.size();
            planes.samples.resize(first + static_cast<std::size_t>(row));
            std::size_t next = first;
            for (int c = 0; c < cols; ++c) {
                // A pixel without samples is given no place to read into.
                if (counts[c] == 0) {
                    for (int k = 0; k < 6; ++k) pointers[k][c] = nullptr;
                    continue;
                }
                exr_deep_sample* s = planes.samples.data() + next;
                float* fields[6] = {&s->r, &s->g, &s->b, &s->a, &s->z, &s->zback};
                for (int k = 0; k < 6; ++k) pointers[k][c] = reinterpret_cast<char*>(fields[k]);
                next += counts[c];
            }
            file.readPixels(y);
            planes.counts.insert(planes.counts.end(), counts.begin(), counts.end());
        }
        out = std::move(planes);
    } catch (const std::exception& e) {
        error = e.what();
        return 0;
    }
    return 1;
}
