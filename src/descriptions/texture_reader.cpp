// The default image reader of the texture-map cache: the host's image
// reader, asked for 8-bit pixels (rows bottom first, so v = 0 is the
// bottom of the picture).
#include "descriptions/texture_cache.h"

#include "imagefile/korvo_image.h"

bool tmap_default_reader(const char* path, tmap_image& image) {
    KorvoImage picture;
    if (picture.readFromFile(KorvoString(path), KorvoImage::kByte).error()) return false;
    unsigned int width = 0, height = 0;
    if (picture.getSize(width, height).error()) return false;
    const unsigned char* pixels = picture.pixels();
    if (!pixels) return false;
    image.width = width;
    image.height = height;
    image.pixels.assign(pixels, pixels + static_cast<std::size_t>(width) * height * 4);
    return true;
}
