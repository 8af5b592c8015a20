#include "descriptions/descriptions_support.h"

#include <algorithm>
#include <fstream>
#include <map>

namespace testimg {
namespace {

struct Store {
    std::map<std::string, tmap_image> images;
    std::vector<std::string> requests;
};

Store& store() {
    static Store s;
    return s;
}

}  // namespace

void add(const std::string& path, int width, int height, const PixelFn& pixel) {
    tmap_image image;
    image.width = static_cast<unsigned>(width);
    image.height = static_cast<unsigned>(height);
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col)
            for (int shift = 24; shift >= 0; shift -= 8)
                image.pixels.push_back(static_cast<unsigned char>(pixel(col, row) >> shift));
    store().images[path] = std::move(image);
}

void add_flat(const std::string& path, std::uint32_t rgba) {
    add(path, 1, 1, [rgba](int, int) { return rgba; });
}

int reads(const std::string& path) {
    return int(std::count(store().requests.begin(), store().requests.end(), path));
}

const std::vector<std::string>& requests() {
    return store().requests;
}

bool reader(const char* path, tmap_image& image) {
    store().requests.push_back(path);
    auto it = store().images.find(path);
    if (it == store().images.end()) return false;
    image = it->second;
    return true;
}

Scope::Scope(int n) : previous_(tmap_set_reader(reader)) {
    tmap_init(n);
}

Scope::~Scope() {
    tmap_done();
    tmap_set_reader(previous_);
    store() = Store();
}

}  // namespace testimg

std::string write_temp(const std::string& suffix, const std::string& text) {
    const std::string path = temp_path(suffix);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}
