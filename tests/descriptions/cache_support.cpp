#include "descriptions/cache_support.h"

#include "foundation/render_settings.h"

namespace testimg {
namespace {

struct Store {
    std::map<std::string, tmap_image> images;
    std::map<std::string, int> reads;
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
    image.pixels.resize(static_cast<std::size_t>(width) * height * 4);
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col) {
            const std::uint32_t rgba = pixel(col, row);
            unsigned char* p = &image.pixels[(static_cast<std::size_t>(row) * width + col) * 4];
            p[0] = static_cast<unsigned char>(rgba >> 24);
            p[1] = static_cast<unsigned char>(rgba >> 16);
            p[2] = static_cast<unsigned char>(rgba >> 8);
            p[3] = static_cast<unsigned char>(rgba);
        }
    store().images[path] = std::move(image);
}

void add_flat(const std::string& path, int width, int height, std::uint8_t r, std::uint8_t g,
              std::uint8_t b, std::uint8_t a) {
    const std::uint32_t rgba =
        (std::uint32_t(r) << 24) | (std::uint32_t(g) << 16) | (std::uint32_t(b) << 8) | a;
    add(path, width, height, [rgba](int, int) { return rgba; });
}

int reads(const std::string& path) {
    auto it = store().reads.find(path);
    return it == store().reads.end() ? 0 : it->second;
}

const std::vector<std::string>& requests() {
    return store().requests;
}

void clear() {
    store() = Store();
}

bool reader(const char* path, tmap_image& image) {
    ++store().reads[path];
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
    clear();
}

}  // namespace testimg

SettingsGuard::SettingsGuard()
    : frame_(defs.frame), model_(defs.model_name), shadow_pass_(defs.shadows.shadow_pass) {}

SettingsGuard::~SettingsGuard() {
    defs.frame = frame_;
    defs.model_name = model_;
    defs.shadows.shadow_pass = shadow_pass_;
}
