// The scene database: per-frame file names, the include queue and reading.
#include "readers/scene_db.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "readers/scene_reader.h"
#include "descriptions/assign_db.h"
#include "descriptions/curve_data_cache.h"
#include "readers/hair_file.h"
#include "descriptions/texture_cache.h"
#include "foundation/fur_exception.h"
#include "foundation/messages.h"
#include "foundation/names.h"
#include "generation/attractors.h"
#include "generation/curve_attractors.h"
#include "geometry/model_database.h"
#include "render/camera.h"
#include "render/lighting.h"

namespace {

constexpr int kMaxIncludes = 10;

// Files to read after the main file, in order; names are interned.
hair_name* g_includes[kMaxIncludes];
int g_include_count = 0;

void clear_includes() {
    for (int i = 0; i < g_include_count; ++i) names_remove(g_includes[i]);
    g_include_count = 0;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The file opened for reading, or null after the message for the host.
// Only regular files are read: an include names any path, and the scanner
// ends the process when it cannot read what it was given (a directory).
std::FILE* open_scene(const char* path) {
    std::FILE* f = std::fopen(path, "r");
    struct stat info;
    if (f && (fstat(fileno(f), &info) != 0 || !S_ISREG(info.st_mode))) {
        std::fclose(f);
        f = nullptr;
    }
    if (!f) {
        const std::string text = std::string("Can't open data file ") + path;
        sendInfo(infoError, text.c_str());
    }
    return f;
}

// Parses and closes f; throws when its grammar fails.
void parse_scene(std::FILE* f, const char* path, int which) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(f, std::fclose);
    if (!scene_read_file(f, which)) {
        const std::string text = std::string("Parsing failed for data file ") + path;
        throw FurEFailed(text.c_str());
    }
}

}  // namespace

std::string scndb_frame_name(const char* base, int frame) {
    const std::string b = base ? base : "";
    char digits[32];
    std::snprintf(digits, sizeof(digits), "%04d", frame);

    // The last "." of the last path component, if any.
    const std::size_t dot = b.find_last_of("./");
    if (dot == std::string::npos || b[dot] == '/' ||
        b.compare(dot + 1, std::string::npos, "kiv") != 0)
        return b + "." + digits + ".kiv";

    // A ".dddd." before the extension takes the frame's digits.
    const long long len = static_cast<long long>(b.size());
    for (long long i = len - 6; i >= 0 && b[i] != '/'; --i) {
        if (b[i] == '.' && b[i + 5] == '.' && is_digit(b[i + 1]) && is_digit(b[i + 2]) &&
            is_digit(b[i + 3]) && is_digit(b[i + 4]))
            return b.substr(0, i + 1) + digits + b.substr(i + 5);
    }
    return b.substr(0, dot + 1) + digits + "." + b.substr(dot + 1);
}

int scndb_add_include(const char* name) {
    if (g_include_count >= kMaxIncludes) {
        std::puts("FATAL: maximum include file depth exceeded");
        return 0;
    }
    g_includes[g_include_count] = names_add(name ? name : "");
    ++g_include_count;
    return 1;
}

int scndb_init(const char* base, int frame, int which) {
    // The queue is emptied on every way out.
    struct queue_guard {
        ~queue_guard() { clear_includes(); }
    } guard;

    const std::string path = scndb_frame_name(base, frame);
    std::FILE* f = open_scene(path.c_str());
    if (!f) return 0;
    if (!camdb_init(which)) {
        std::fclose(f);
        return 0;
    }
    parse_scene(f, path.c_str(), which);

    // Includes met while reading includes join the same queue.
    for (int i = 0; i < g_include_count; ++i) {
        const std::string name = g_includes[i]->name ? g_includes[i]->name : "";
        f = open_scene(name.c_str());
        if (!f) return 0;
        parse_scene(f, name.c_str(), which);
    }
    return 1;
}

void scndb_cleanup() {
    camdb_cleanup();
    lgtdb_cleanup();
    mdldb_cleanup();
    clear_includes();
}

void korvo_tables_done() {
    scndb_cleanup();
    assdb_done();
    hair_params_done();
    attractdb_done();
    curveAttractdb_done();
    tmap_done();
    crvdata_done();
    names_done();
}
