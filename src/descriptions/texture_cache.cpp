#include "descriptions/texture_cache.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "descriptions/slot_cache.h"
#include "foundation/fur_exception.h"
#include "foundation/messages.h"

namespace {

struct tmap_entry {
    char name[kCacheNameSize];  // expanded file name; empty when free
    int height;
    int width;
    int channels;                       // always 4
    std::vector<std::uint16_t> pixels;  // height * width * channels, row v = 0 first
    tmap_entry* previous;
    tmap_entry* next;
    tmap_entry* chain;

    void release() {
        name[0] = '\0';
        height = width = channels = 0;
        std::vector<std::uint16_t>().swap(pixels);
    }
    void take_data(tmap_entry& from) {
        std::memcpy(name, from.name, sizeof name);
        height = from.height;
        width = from.width;
        channels = from.channels;
        pixels = std::move(from.pixels);
        from.release();
    }
};

slot_cache<tmap_entry> g_cache({"FATAL: tmap swap out programming error", "Tmap swap out.",
                                "programming error in tmap cache, bye\n", "Tmap cache."});
tmap_reader g_reader = tmap_default_reader;

[[noreturn]] void read_failed(const char* name) {
    const std::string text = std::string("Reading of tmap ") + name + " failed";
    throw FurEFailed(text.c_str());
}

// Reads the image file into the free slot e. False when it cannot be read
// (the message has been sent).
bool read_texture(tmap_entry* e, const char* path) {
    sendInfo(infoHeartbeat, "");
    tmap_image image;
    bool ok = path[0] != '\0' && g_reader(path, image);
    // The reader's buffer must hold the pixels it announces.
    const std::size_t w = image.width, h = image.height;
    const std::size_t limit = static_cast<std::size_t>(std::numeric_limits<int>::max());
    ok = ok && w > 0 && h > 0 && w <= limit && h <= limit && w <= limit / h &&
         image.pixels.size() / 4 >= w * h;
    if (!ok) {
        const std::string text = std::string("couldn't open ") + path;
        sendInfo(infoError, text.c_str());
        return false;
    }
    e->width = static_cast<int>(w);
    e->height = static_cast<int>(h);
    e->channels = 4;
    e->pixels.assign(image.pixels.begin(), image.pixels.begin() + w * h * 4);
    std::memcpy(e->name, path, std::strlen(path) + 1);
    return true;
}

// The cached entry of the image called name, read on first use.
tmap_entry* find_or_load(const char* name) {
    if (!g_cache.ready()) {
        furFail("Tmap cache.", "FATAL: tmap cache used before tmap_init\n");
    }
    if (!name) name = "";  // reads as a file that cannot be opened
    char expanded[kCacheNameSize];
    const char* key = cache_key(name, true, expanded);
    if (!key) read_failed(name);
    return g_cache.lookup(key, [key](tmap_entry* e) {
        if (!read_texture(e, key)) read_failed(key);
    });
}

bool outside(double u, double v) {
    return !(u >= 0.0 && u <= 1.0 && v >= 0.0 && v <= 1.0);
}

// First value of the pixel at (u, v), both in [0, 1].
const std::uint16_t* pixel_at(const tmap_entry* e, double u, double v) {
    int row = static_cast<int>(std::floor(e->height * v));
    int col = static_cast<int>(std::floor(e->width * u));
    if (row > e->height - 1) row = e->height - 1;
    if (col > e->width - 1) col = e->width - 1;
    return &e->pixels[(static_cast<std::size_t>(row) * e->width + col) * e->channels];
}

[[noreturn]] void missing_channel(const tmap_entry* e) {
    const std::string text = std::string("File ") + e->name + " doesn't have enough channels";
    furFail(text.c_str(), "ERROR: file %s doesn't have enough channels\n", e->name);
}

}  // namespace

int tmap_init(int n) {
    return g_cache.init(n) ? 1 : 0;
}

void tmap_done() {
    g_cache.done();
}

float tmap_lookup_chan(const char* name, int channel, double u, double v) {
    if (outside(u, v)) return 0.0f;
    const tmap_entry* e = find_or_load(name);
    // The lowest bit of the code names the channel; no bit, or a bit past
    // the entry's channels, is an error.
    int k = 0;
    while (k < 31 && !(channel & (1 << k))) ++k;
    if (k >= e->channels) missing_channel(e);
    return pixel_at(e, u, v)[k] / 255.0f;
}

kivColor tmap_lookup_chans(const char* name, int mask, double u, double v) {
    if (outside(u, v)) return kivColor(0.0f, 0.0f, 0.0f, 0.0f);
    const tmap_entry* e = find_or_load(name);
    float out[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    const std::uint16_t* px = pixel_at(e, u, v);
    int filled = 0;
    for (int k = 0; k < 8; ++k) {
        if (!(mask & (1 << k))) continue;
        if (k >= e->channels) missing_channel(e);
        out[filled++] = px[k] * 0.003921569f;
    }
    return kivColor(out[0], out[1], out[2], out[3]);
}

tmap_reader tmap_set_reader(tmap_reader reader) {
    const tmap_reader previous = g_reader;
    g_reader = reader ? reader : tmap_default_reader;
    return previous;
}
