#include "descriptions/curve_data_cache.h"

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "descriptions/slot_cache.h"
#include "foundation/fur_exception.h"

namespace {

constexpr int kMaxLine = 1023;    // characters of a line that are read
constexpr int kMaxLines = 32767;  // lines a file may have (16-bit count)

struct crvdata_entry {
    char name[kCacheNameSize];             // expanded file name; empty when free
    std::int16_t count;                    // data lines (comments excluded)
    std::uint16_t kind = CRVDATA_INVALID;  // crvdata_kind
    std::vector<float> scalars;
    std::vector<kivColor> colours;  // zero-filled; kind 1 leaves matte 0
    std::vector<std::string> strings;
    crvdata_entry* previous;
    crvdata_entry* next;
    crvdata_entry* chain;

    void release() {
        name[0] = '\0';
        count = 0;
        kind = CRVDATA_INVALID;
        std::vector<float>().swap(scalars);
        std::vector<kivColor>().swap(colours);
        std::vector<std::string>().swap(strings);
    }
    void take_data(crvdata_entry& from) {
        std::memcpy(name, from.name, sizeof name);
        count = from.count;
        kind = from.kind;
        scalars = std::move(from.scalars);
        colours = std::move(from.colours);
        strings = std::move(from.strings);
        from.release();
    }
};

slot_cache<crvdata_entry> g_cache({"FATAL: crvdata swap out programming error", "Crvdata swap out",
                                   "programming error in crvdata cache, bye\n",
                                   "Crvdata cache failed"});

[[noreturn]] void read_failed(const char* name) {
    const std::string text = std::string("Curve data read failed for file ") + name;
    throw FurEBadParameter(text.c_str());
}

// The lines of a file, each cut to kMaxLine characters, the newline kept.
bool read_lines(const char* path, std::vector<std::string>& lines) {
    std::FILE* f = std::fopen(path, "r");
    if (!f) return false;
    // Only regular files: a device such as /dev/zero never ends.
    struct stat info;
    if (fstat(fileno(f), &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fclose(f);
        return false;
    }
    std::string line;
    bool ok = true;
    for (int c; (c = std::getc(f)) != EOF;) {
        if (line.size() < static_cast<std::size_t>(kMaxLine)) line.push_back(static_cast<char>(c));
        if (c != '\n') continue;
        if (lines.size() >= static_cast<std::size_t>(kMaxLines)) {
            ok = false;
            break;
        }
        lines.push_back(std::move(line));
        line.clear();
    }
    if (ok && !line.empty()) {
        if (lines.size() >= static_cast<std::size_t>(kMaxLines))
            ok = false;
        else
            lines.push_back(std::move(line));
    }
    if (std::ferror(f)) ok = false;
    std::fclose(f);
    if (!ok)
        std::printf("ERROR: crvdata file %s cannot be read or has more than %d lines\n", path,
                    kMaxLines);
    return ok;
}

// The kind of a file from the numbers on its first line.
std::uint16_t classify(const std::string& first) {
    float x[4];
    switch (std::sscanf(first.c_str(), "%f %f %f %f", &x[0], &x[1], &x[2], &x[3])) {
        case 0:
            return CRVDATA_STRINGS;
        case 1:
            return CRVDATA_SCALARS;
        case 3:
            return CRVDATA_COLORS3;
        case 4:
            return CRVDATA_COLORS4;
        default:
            return CRVDATA_INVALID;  // two numbers, or nothing to scan
    }
}

// Reads the file into the free slot e; false when it cannot be used.
bool read_curve_data(crvdata_entry* e, const char* path) {
    std::vector<std::string> lines;
    if (path[0] == '\0' || !read_lines(path, lines) || lines.empty()) return false;
    const std::uint16_t kind = classify(lines[0]);
    if (kind == CRVDATA_INVALID) return false;

    const std::size_t n = lines.size();
    if (kind == CRVDATA_SCALARS) e->scalars.assign(n, 0.0f);
    if (kind == CRVDATA_COLORS3 || kind == CRVDATA_COLORS4)
        e->colours.assign(n, kivColor(0.0f, 0.0f, 0.0f, 0.0f));
    if (kind == CRVDATA_STRINGS) e->strings.assign(n, std::string());

    int count = static_cast<int>(n);
    std::size_t slot = 0;
    for (const std::string& line : lines) {
        if (line[0] == '#') {
            --count;
            continue;
        }
        float x[4];
        const char* s = line.c_str();
        switch (kind) {
            case CRVDATA_SCALARS:
                if (std::sscanf(s, "%f", &x[0]) == 1) e->scalars[slot++] = x[0];
                break;
            case CRVDATA_COLORS3:
                if (std::sscanf(s, "%f %f %f", &x[0], &x[1], &x[2]) == 3)
                    e->colours[slot++] = kivColor(x[0], x[1], x[2], 0.0f);
                break;
            case CRVDATA_COLORS4:
                if (std::sscanf(s, "%f %f %f %f", &x[0], &x[1], &x[2], &x[3]) == 4)
                    e->colours[slot++] = kivColor(x[0], x[1], x[2], x[3]);
                break;
            default: {  // strings: lines that do not start with a number
                if (std::sscanf(s, "%f", &x[0]) == 1) break;
                std::string text = line;
                if (!text.empty() && text.back() == '\n') text.pop_back();
                if (!text.empty() && text.back() == '\r') text.pop_back();
                e->strings[slot++] = std::move(text);
                break;
            }
        }
    }
    e->kind = kind;
    e->count = static_cast<std::int16_t>(count);
    std::memcpy(e->name, path, std::strlen(path) + 1);
    return true;
}

// The cached entry of the file called name, read on first use.
const crvdata_entry* find_or_load(const char* name) {
    if (!g_cache.ready()) {
        furFail("Crvdata cache failed", "FATAL: crvdata cache used before crvdata_init\n");
    }
    if (!name) name = "";  // reads as a file that cannot be opened
    char expanded[kCacheNameSize];
    const char* key = cache_key(name, false, expanded);
    if (!key) read_failed(name);
    return g_cache.lookup(key, [key](crvdata_entry* e) {
        if (!read_curve_data(e, key)) {
            e->release();
            read_failed(key);
        }
    });
}

// The element index for frame current.
std::size_t element(const crvdata_entry* e, int first, int current) {
    if (current <= first) return 0;
    const long long i = static_cast<long long>(current) - first;
    const long long last = e->count > 0 ? e->count - 1 : 0;
    return static_cast<std::size_t>(i < last ? i : last);
}

}  // namespace

int crvdata_init(int n) {
    return g_cache.init(n) ? 1 : 0;
}

void crvdata_done() {
    g_cache.done();
}

float crvdata_lookup(const char* name, int first, int current) {
    const crvdata_entry* e = find_or_load(name);
    if (e->kind != CRVDATA_SCALARS) {
        std::printf("WARNING: crvdata file is not scalar values, using 0.0!\n");
        return 0.0f;
    }
    return e->scalars[element(e, first, current)];
}

kivColor crvdata_lookup_clr(const char* name, int first, int current) {
    const crvdata_entry* e = find_or_load(name);
    switch (e->kind) {
        case CRVDATA_SCALARS:
            return kivColor(e->scalars[element(e, first, current)], 0.0f, 0.0f, 0.0f);
        case CRVDATA_COLORS3:
        case CRVDATA_COLORS4:
            return e->colours[element(e, first, current)];
        default:
            return kivColor(0.0f, 0.0f, 0.0f, 0.0f);
    }
}

const char* crvdata_lookup_str(const char* name, int first, int current) {
    const crvdata_entry* e = find_or_load(name);
    if (e->kind != CRVDATA_STRINGS) {
        std::printf("WARNING: crvdata file is not\tstring\tvalues, using 0.0!\n");
        return "";
    }
    return e->strings[element(e, first, current)].c_str();
}
