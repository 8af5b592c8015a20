// OpenEXR files read back through the OpenEXR library, for the tests of
// the EXR output: flat channels, deep samples, and the library's own
// flattening of a deep image.
#pragma once

#include <ImfChannelList.h>
#include <ImfCompositeDeepScanLine.h>
#include <ImfDeepFrameBuffer.h>
#include <ImfDeepScanLineInputFile.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>

#include <map>
#include <string>
#include <vector>

namespace exr_test {

namespace imf = OPENEXR_IMF_NAMESPACE;

// The windows as the file states them (y from the top).
struct windows {
    int display_w = 0, display_h = 0;
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // data window
    int cols() const { return x1 - x0 + 1; }
    int lines() const { return y1 - y0 + 1; }
};

inline windows windows_of(const imf::Header& h) {
    windows w;
    w.display_w = h.displayWindow().max.x - h.displayWindow().min.x + 1;
    w.display_h = h.displayWindow().max.y - h.displayWindow().min.y + 1;
    w.x0 = h.dataWindow().min.x, w.y0 = h.dataWindow().min.y;
    w.x1 = h.dataWindow().max.x, w.y1 = h.dataWindow().max.y;
    return w;
}

// A flat file: its channels with their types and every channel as floats
// over the data window, top row first.
struct flat {
    windows win;
    std::map<std::string, imf::PixelType> types;
    std::map<std::string, std::vector<float>> planes;
    // Channel c of the pixel at image column x and image row r (row 0 at
    // the bottom of the display window).
    float at(const std::string& c, int x, int r) const {
        const int y = win.display_h - 1 - r;
        return planes.at(c)[static_cast<std::size_t>(y - win.y0) * win.cols() + (x - win.x0)];
    }
};

// Float slices for the named planes of f over the data window dw.
inline imf::FrameBuffer planes_of(flat& f, const IMATH_NAMESPACE::Box2i& dw) {
    imf::FrameBuffer fb;
    for (auto& p : f.planes) {
        p.second.assign(static_cast<std::size_t>(f.win.cols()) * f.win.lines(), -1.0f);
        fb.insert(p.first, imf::Slice::Make(imf::FLOAT, p.second.data(), dw, sizeof(float),
                                            sizeof(float) * f.win.cols()));
    }
    return fb;
}

inline flat read_flat(const std::string& path) {
    imf::InputFile file(path.c_str());
    flat f;
    f.win = windows_of(file.header());
    for (auto it = file.header().channels().begin(); it != file.header().channels().end(); ++it) {
        f.types[it.name()] = it.channel().type;
        f.planes[it.name()];
    }
    file.setFrameBuffer(planes_of(f, file.header().dataWindow()));
    file.readPixels(f.win.y0, f.win.y1);
    return f;
}

// One deep sample.
struct sample {
    float r, g, b, a, z, zback;
};

// A deep file: its samples per pixel of the data window, top row first.
struct deep {
    windows win;
    std::map<std::string, imf::PixelType> types;
    std::vector<std::vector<sample>> pixels;
    const std::vector<sample>& at(int x, int r) const {
        const int y = win.display_h - 1 - r;
        return pixels[static_cast<std::size_t>(y - win.y0) * win.cols() + (x - win.x0)];
    }
};

inline deep read_deep(const std::string& path) {
    imf::DeepScanLineInputFile file(path.c_str());
    deep d;
    d.win = windows_of(file.header());
    for (auto it = file.header().channels().begin(); it != file.header().channels().end(); ++it)
        d.types[it.name()] = it.channel().type;
    const int cols = d.win.cols(), lines = d.win.lines();
    const std::size_t n = static_cast<std::size_t>(cols) * lines;
    std::vector<unsigned> counts(n);
    const IMATH_NAMESPACE::Box2i& dw = file.header().dataWindow();
    // One frame buffer: the pointer arrays are filled once the counts are known.
    imf::DeepFrameBuffer fb;
    fb.insertSampleCountSlice(
        imf::Slice::Make(imf::UINT, counts.data(), dw, sizeof(unsigned), sizeof(unsigned) * cols));
    const char* names[6] = {"R", "G", "B", "A", "Z", "ZBack"};
    std::vector<char*> pointers[6];
    const std::ptrdiff_t origin = static_cast<std::ptrdiff_t>(d.win.y0) * cols + d.win.x0;
    for (int k = 0; k < 6; ++k) {
        pointers[k].resize(n);
        fb.insert(names[k],
                  imf::DeepSlice(imf::FLOAT, reinterpret_cast<char*>(pointers[k].data() - origin),
                                 sizeof(char*), sizeof(char*) * cols, sizeof(sample)));
    }
    file.setFrameBuffer(fb);
    file.readPixelSampleCounts(d.win.y0, d.win.y1);
    d.pixels.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        d.pixels[i].resize(counts[i]);
        for (int k = 0; k < 6; ++k)
            pointers[k][i] = reinterpret_cast<char*>(d.pixels[i].data()) + k * sizeof(float);
    }
    file.readPixels(d.win.y0, d.win.y1);
    return d;
}

// The deep file flattened by the OpenEXR library (front to back "over"):
// R, G, B, A as a flat with float planes.
inline flat composite_deep(const std::string& path) {
    imf::DeepScanLineInputFile file(path.c_str());
    flat f;
    f.win = windows_of(file.header());
    for (const char* c : {"R", "G", "B", "A"}) f.planes[c];
    imf::CompositeDeepScanLine comp;
    comp.addSource(&file);
    comp.setFrameBuffer(planes_of(f, file.header().dataWindow()));
    comp.readPixels(f.win.y0, f.win.y1);
    return f;
}

}  // namespace exr_test
