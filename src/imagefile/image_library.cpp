#include "imagefile/image_library.h"

#include "imagefile/iff_image.h"
#include "imagefile/image_io.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

struct ILimage {
    FILE* file = nullptr;
    std::string path;
    int width = 0;
    int height = 0;
    int type = IL_TYPE_COLOUR;
    int rowsWritten = 0;
    IffImage picture;  // filled row by row, written at close
};

namespace {

// Makes the picture's buffers once the size and type are known.
bool prepare(ILimage* image) {
    IffImage& p = image->picture;
    if (p.width == image->width && p.height == image->height &&
        !(p.rgba.empty() && p.depth.empty()))
        return true;
    const std::size_t pixels = std::size_t(image->width) * image->height;
    if (pixels == 0) return false;
    p.width = image->width;
    p.height = image->height;
    try {
        if (image->type == IL_TYPE_DEPTH) {
            p.channels = 0;
            p.depth.assign(pixels, 0.0f);
        } else {
            p.channels = 4;
            p.rgba.assign(pixels * 4, 0);
        }
    } catch (const std::bad_alloc&) {
        p = IffImage();
        return false;
    }
    return true;
}

}  // namespace

ILimage* ILopen(const char* path, const char* mode) {
    if (!path || !mode || mode[0] != 'w') return nullptr;
    FILE* file = std::fopen(path, "wb");
    if (!file) return nullptr;
    ILimage* image = new (std::nothrow) ILimage;
    if (!image) {
        std::fclose(file);
        return nullptr;
    }
    image->file = file;
    image->path = path;
    return image;
}

int ILsetsize(ILimage* image, int width, int height) {
    if (!image || image->rowsWritten > 0 || width < 1 || height < 1 || width > 65535 ||
        height > 65535)
        return 0;
    const long tiles = long((width + kIffTileSize - 1) / kIffTileSize) *
                       ((height + kIffTileSize - 1) / kIffTileSize);
    if (tiles > 65535 || !kiv_io::plausible_size(std::size_t(width) * height, 4, 0, 0)) return 0;
    image->width = width;
    image->height = height;
    return 1;
}

int ILsetbpp(ILimage* image, int bytesPerChannel) {
    return image && bytesPerChannel == 1 ? 1 : 0;
}

int ILsettype(ILimage* image, int type) {
    if (!image || image->rowsWritten > 0 || (type != IL_TYPE_COLOUR && type != IL_TYPE_DEPTH))
        return 0;
    image->type = type;
    return 1;
}

int ILctrl(ILimage* image, int control, int value) {
    (void)value;
    return image && control == IL_CTRL_ROWS_AS_GIVEN ? 1 : 0;
}

int ILwriteline(ILimage* image, const void* colourRow, const void* depthRow) {
    if (!image || image->rowsWritten >= image->height || !prepare(image)) return 0;
    IffImage& p = image->picture;
    const std::size_t first = std::size_t(image->rowsWritten) * p.width;
    if (image->type == IL_TYPE_DEPTH) {
        if (!depthRow) return 0;
        std::memcpy(&p.depth[first], depthRow, sizeof(float) * p.width);
    } else {
        if (!colourRow) return 0;
        // Blue, green, red, matte in; red, green, blue, alpha kept.
        const unsigned char* in = static_cast<const unsigned char*>(colourRow);
        unsigned char* out = &p.rgba[first * 4];
        for (int x = 0; x < p.width; ++x, in += 4, out += 4) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            out[3] = in[3];
        }
    }
    ++image->rowsWritten;
    return 1;
}

int ILclose(ILimage* image) {
    if (!image) return 0;
    std::vector<uint8_t> bytes;
    bool ok = prepare(image) && iff_encode(image->picture, image->type == IL_TYPE_COLOUR, bytes);
    ok = ok && std::fwrite(bytes.data(), 1, bytes.size(), image->file) == bytes.size();
    if (std::fclose(image->file) != 0) ok = false;
    if (!ok) std::remove(image->path.c_str());
    delete image;
    return ok ? 1 : 0;
}
