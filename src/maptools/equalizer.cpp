#include "maptools/equalizer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "foundation/fur_exception.h"
#include "foundation/messages.h"
#include "geometry/model_database.h"
#include "imagefile/image_library.h"
#include "host/korvo_string.h"
#include "host/pixel_map.h"

namespace {

// ---------------------------------------------------------------------------
// Rewriting a text file through a "_tmp" copy.

// A copy of a file being made next to it. The copy replaces the original
// only through commit(); otherwise the destructor removes it.
class file_rewrite {
  public:
    enum status { ok, cannot_open_source, cannot_open_copy };

    ~file_rewrite() {
        if (in_) std::fclose(in_);
        if (out_) {
            std::fclose(out_);
            std::remove(copy_.c_str());
        }
    }

    status open(const char* path) {
        path_ = path;
        copy_ = path_ + "_tmp";
        in_ = std::fopen(path, "r");
        if (in_ == nullptr) return cannot_open_source;
        out_ = std::fopen(copy_.c_str(), "w");
        return out_ ? ok : cannot_open_copy;
    }
    // The next line (or piece of a long line) into line; false at the end.
    bool read(char (&line)[kEqualizerMaxLine + 1]) {
        return std::fgets(line, sizeof line, in_) != nullptr;
    }
    void write(const char* text) {
        if (std::fputs(text, out_) < 0) failed_ = true;
    }
    // Closes both files and gives the copy the original's name. False, with
    // the copy removed and the original untouched, when anything failed.
    bool commit() {
        const bool readFailed = std::ferror(in_) != 0;
        std::fclose(in_);
        in_ = nullptr;
        const bool closeFailed = std::fclose(out_) != 0;
        out_ = nullptr;
        if (failed_ || readFailed || closeFailed ||
            std::rename(copy_.c_str(), path_.c_str()) != 0) {
            std::remove(copy_.c_str());
            return false;
        }
        return true;
    }

  private:
    std::string path_, copy_;
    FILE* in_ = nullptr;
    FILE* out_ = nullptr;
    bool failed_ = false;
};

// Opens path in file. False, with "ERROR: Can't open <kind> file" or
// "ERROR: Can't open temporary file" printed, when either does not open.
bool open_or_report(file_rewrite& file, const char* path, const char* kind) {
    switch (file.open(path)) {
        case file_rewrite::cannot_open_source:
            std::printf("ERROR: Can't open %s file\n", kind);
            return false;
        case file_rewrite::cannot_open_copy:
            std::printf("ERROR: Can't open temporary file\n");
            return false;
        case file_rewrite::ok:
            break;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Area values

struct model_area {
    float area = 0.0f, ulen = 0.0f, vlen = 0.0f;
};

struct area_entry {
    const char* model;
    float value;
};

// Replaces the block that starts with header (dropped up to and including its
// "}\n" line) by a new one at the end of the assignment file.
void write_area_block(const char* assFile, const char* header,
                      const std::vector<area_entry>& entries) {
    if (assFile == nullptr) {
        std::printf("ERROR: No .ass file specified\n");
        return;
    }
    if (entries.empty()) {
        std::printf("ERROR: No model specified\n");
        return;
    }
    file_rewrite file;
    if (!open_or_report(file, assFile, ".ass")) return;
    char line[kEqualizerMaxLine + 1];
    bool inOldBlock = false;
    while (file.read(line)) {
        if (inOldBlock) {
            inOldBlock = std::strcmp(line, "}\n") != 0;
        } else if (std::strcmp(line, header) == 0) {
            inOldBlock = true;
        } else {
            file.write(line);
        }
    }
    file.write(header);
    for (const area_entry& e : entries) {
        std::snprintf(line, sizeof line, "\t\"%s\" %f\n", e.model, e.value);
        file.write(line);
    }
    file.write("}\n");
    if (!file.commit()) std::printf("ERROR: Can't write to .ass file\n");
}

// A value relative to the largest; undivided when the largest is not positive.
float relative(float area, float largest) {
    return largest > 0.0f ? area / largest : area;
}

// Mode 1: one block with every measured model relative to the largest.
void write_all_areas(const char* assFile, const std::vector<model_area>& areas, float largest) {
    std::vector<area_entry> entries;
    for (std::size_t i = 0; i < areas.size(); ++i) {
        if (areas[i].area < 0.0f) continue;  // excluded or without hair
        entries.push_back({mdldb_get_index(static_cast<int>(i), 0)->name_text(),
                           relative(areas[i].area, largest)});
    }
    write_area_block(assFile, "area{\n", entries);
}

// One (model, hair description) pair of area mode 2.
struct area_record {
    int model;
    const hair_params* hair;
};

// Mode 2: one block per hair description, its models relative to the largest
// of them, in the order the descriptions were first met.
void write_areas_per_hair(const char* assFile, const std::vector<model_area>& areas,
                          const std::vector<area_record>& records) {
    std::vector<bool> taken(records.size(), false);
    std::vector<area_entry> entries;
    for (std::size_t first = 0; first < records.size(); ++first) {
        if (taken[first]) continue;
        const hair_params* hair = records[first].hair;
        float largest = -1.0f;
        for (std::size_t k = first; k < records.size(); ++k)
            if (records[k].hair == hair && areas[records[k].model].area > largest)
                largest = areas[records[k].model].area;
        entries.clear();
        for (std::size_t k = first; k < records.size(); ++k) {
            if (records[k].hair != hair) continue;
            taken[k] = true;
            entries.push_back({mdldb_get_index(records[k].model, 0)->name_text(),
                               relative(areas[records[k].model].area, largest)});
        }
        const char* name = hair->name ? hair->name->name : "";
        const std::string header = std::string("\"") + name + "\" area{\n";
        write_area_block(assFile, header.c_str(), entries);
    }
}

// The hair descriptions of a model that takes part in the map tools: after
// the two heartbeats, null when it is excluded or has none.
hair_params** hairy_model(const hair_model* m, int& n) {
    sendInfo(infoHeartbeat, "");
    n = 0;
    if (assdb_get_exclude(m->name, 0) != 0) return nullptr;
    sendInfo(infoHeartbeat, "");
    hair_params** list = nullptr;
    assdb_get_model_hair(m->name, &n, &list);
    return n > 0 ? list : nullptr;
}

void problem_with(const hair_model* m) {
    const std::string text =
        std::string("problem with model ") + (m->name_text() ? m->name_text() : "");
    sendInfo(infoError, text.c_str());
}

// ---------------------------------------------------------------------------
// Equalizer maps

const char* or_default(const char* text, const char* fallback) {
    return text ? text : fallback;
}

std::string map_file_name(const char* dir, const char* prefix, const char* suffix, const char* ref,
                          const char* model) {
    const bool tmp = prefix != nullptr && std::strcmp(prefix, "tmp") == 0;
    std::string name = std::string(dir) + "/";
    if (std::strcmp(ref, " ") != 0 && !tmp)
        return name + (*ref ? ref : "equal") + "_eqMap" + suffix + ".iff";
    std::string own = model ? model : "";
    if (own.size() > kEqualizerMaxModelName) own.resize(kEqualizerMaxModelName);
    for (char& c : own)
        if (c == '|' || c == ':') c = '_';
    return name + or_default(prefix, "equal") + "_" + own + "_eqMap" + suffix + ".iff";
}

// The reference equalizer map name of a model; a single blank (a map of its
// own) for models without a surface.
const char* reference_map(const hair_model* m) {
    if (const kivPolygons* p = m->polygons()) return p->get_ref_equal_map();
    if (const kivNurbSurface* s = m->nurbs()) return s->get_ref_equal_map();
    return " ";
}

// Grows the covered cells (value above 0) into the empty ones through the
// host's pixel map.
void fill_background(std::vector<int>& map, int width, int height) {
    TpixelMap pixels(static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height));
    std::uint8_t* p = pixels.getPixel();
    for (std::size_t i = 0; i < map.size(); ++i, p += 4) {
        p[0] = p[1] = p[2] = static_cast<std::uint8_t>(map[i]);
        p[3] = map[i] > 0 ? 255 : 0;
    }
    TfillBackground::fillBackground(pixels);
    p = pixels.getPixel();
    for (std::size_t i = 0; i < map.size(); ++i, p += 4) map[i] = p[2];
}

// Writes the map as an IFF image: blue = green = red = the cell's low byte,
// alpha 255, rows in map order.
void write_map(const std::string& file, const std::vector<int>& map, int width, int height) {
    ILimage* il = ILopen(file.c_str(), "w");
    if (il == nullptr) throw FurEFailed(("Fur: Couldn't open " + file).c_str());
    ILsetsize(il, width, height);
    ILsetbpp(il, 1);
    ILsettype(il, IL_TYPE_COLOUR);
    ILctrl(il, IL_CTRL_ROWS_AS_GIVEN, 0);
    std::vector<unsigned char> row(static_cast<std::size_t>(width) * 4);
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            const unsigned char v =
                static_cast<unsigned char>(map[static_cast<std::size_t>(r) * width + c] & 0xff);
            unsigned char* px = &row[static_cast<std::size_t>(c) * 4];
            px[0] = px[1] = px[2] = v;
            px[3] = 255;
        }
        ILwriteline(il, row.data(), nullptr);
    }
    ILclose(il);
}

struct map_settings {
    const char* dir;
    const char* prefix;
    const char* suffix;
    int width, height;
    bool fill;
};

// The map pass over every hairy model.
void make_maps(const map_settings& s, const std::vector<model_area>& areas, float largest) {
    std::vector<int> map;
    try {
        map.assign(static_cast<std::size_t>(s.width) * s.height, 0);
    } catch (const std::bad_alloc&) {
        sendInfo(infoError, "can't allocate memory");
        return;
    }
    const KorvoString message =
        furResourceString("rCreateEqualizerMap", "Creating equalizer map for surface '^1s'");
    for (std::size_t i = 0; i < areas.size(); ++i) {
        hair_model* m = mdldb_get_index(static_cast<int>(i), 0);
        int n = 0;
        if (hairy_model(m, n) == nullptr) continue;
        // Models of other kinds leave the map alone: theirs is empty.
        std::fill(map.begin(), map.end(), 0);
        if (!mdldb_fill_area_map(m, areas[i].vlen, areas[i].area, largest, s.width, s.height,
                                 map.data())) {
            problem_with(m);
            return;
        }
        const std::string file =
            map_file_name(s.dir, s.prefix, s.suffix, reference_map(m), m->name_text());
        sendInfo(infoMessage,
                 KorvoString::format(message, or_default(m->name_text(), "")).asChar());
        if (s.fill) fill_background(map, s.width, s.height);
        write_map(file, map, s.width, s.height);
    }
}

// ---------------------------------------------------------------------------
// The hair description file

// Whether the line opens a hair description block: hair "<name>" ...
bool opens_hair_block(const char* line) {
    return std::strncmp(line, "hair \"", 6) == 0 && line[6] != '\0' && line[6] != ' ' &&
           line[6] != '\t' && line[6] != '\n';
}

const char* skip_blanks(const char* p) {
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

// Whether the line sets the block's equalizer: "equalizer" after blanks,
// followed by more text.
bool sets_equalizer(const char* line) {
    const char* p = skip_blanks(line);
    if (std::strncmp(p, "equalizer", 9) != 0) return false;
    for (p += 9; *p; ++p)
        if (*p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') return true;
    return false;
}

// The name of a reference_equalmap="<name>"; line (blanks around '=' allowed);
// false for any other line.
bool reference_name(const char* line, std::string& name) {
    const char* p = skip_blanks(line);
    if (std::strncmp(p, "reference_equalmap", 18) != 0) return false;
    p = skip_blanks(p + 18);
    if (*p++ != '=') return false;
    p = skip_blanks(p);
    if (*p++ != '"') return false;
    const char* end = std::strchr(p, '"');
    if (end == nullptr) return false;
    name.assign(p, end);
    return true;
}

}  // namespace

void updateEqualizer(const char* hairFile, const char* dir, const char* prefix,
                     const char* suffix) {
    if (hairFile == nullptr) {
        std::printf("ERROR: No .hair file specified\n");
        return;
    }
    if (dir == nullptr) {
        std::printf("ERROR: No ouput directory specified\n");
        return;
    }
    file_rewrite file;
    if (!open_or_report(file, hairFile, ".hair")) return;
    suffix = or_default(suffix, "");
    const bool tmp = prefix != nullptr && std::strcmp(prefix, "tmp") == 0;
    const std::string defaultLine = std::string("\tequalizer=image(\"") + dir + "/" +
                                    or_default(prefix, "equal") + "_$M_eqMap" + suffix +
                                    ".iff\", \"r\");\n";
    // In a block without an equalizer of its own: the line to add before
    // its "}" (empty for the default).
    bool inBlock = false;
    std::string ownLine;
    char line[kEqualizerMaxLine + 1];
    std::string name;
    while (file.read(line)) {
        if (!inBlock) {
            inBlock = opens_hair_block(line);
            ownLine.clear();
        } else if (sets_equalizer(line)) {
            inBlock = false;  // the block keeps its own equalizer
        } else if (std::strcmp(line, "}\n") == 0) {
            file.write(ownLine.empty() ? defaultLine.c_str() : ownLine.c_str());
            inBlock = false;
        } else if (!tmp && reference_name(line, name)) {
            ownLine = std::string("\tequalizer=image(\"") + dir + "/" + name + "_eqMap" + suffix +
                      ".iff\", \"r\");\n";
        }
        file.write(line);
    }
    if (!file.commit()) std::printf("ERROR: Can't write to .desc file\n");
}

void mdldb_area_norm(const char* dir, const char* prefix, int width, int height, int areaMode,
                     const char* assFile, bool updateHair, const char* hairFile, bool makeMaps,
                     const char* suffix, bool fillBackground) {
    // 1. One record per model; the checks.
    const int count = mdldb_capacity(0);
    std::vector<model_area> areas;
    try {
        areas.resize(static_cast<std::size_t>(count > 0 ? count : 0));
    } catch (const std::bad_alloc&) {
        sendInfo(infoError, "can't allocate memory");
        return;
    }
    if (areaMode != EQUALIZER_AREA_NONE && assFile == nullptr) {
        sendInfo(infoError, ".ass file is undefined");
        return;
    }
    if (count <= 0) return;

    // 2. Measure every hairy model; keep the largest.
    int largest = -1;
    std::vector<area_record> records;
    for (int i = 0; i < count; ++i) {
        hair_model* m = mdldb_get_index(i, 0);
        int n = 0;
        hair_params** hair = hairy_model(m, n);
        if (hair == nullptr) {
            areas[i].area = -1.0f;
            continue;
        }
        if (!mdldb_get_area(m, areas[i].area, areas[i].ulen, areas[i].vlen)) {
            problem_with(m);
            return;
        }
        if (areas[i].area >= 0.0f && (largest < 0 || areas[i].area > areas[largest].area))
            largest = i;
        if (areaMode == EQUALIZER_AREA_PER_HAIR)
            for (int k = 0; k < n; ++k) records.push_back({i, hair[k]});
    }
    // 3. Nothing measured: nothing to write.
    if (largest < 0) return;

    // 4. The area values.
    if (areaMode != EQUALIZER_AREA_NONE) {
        sendInfo(infoMessage, "Calculating area values for all surfaces");
        if (areaMode == EQUALIZER_AREA_ALL)
            write_all_areas(assFile, areas, areas[largest].area);
        else
            write_areas_per_hair(assFile, areas, records);
    }
    if (makeMaps) {
        if (width < 1 || height < 1 || width > kEqualizerMaxSide || height > kEqualizerMaxSide) {
            sendInfo(infoError, "can't allocate memory");
            return;
        }
        const map_settings s{or_default(dir, "."), prefix, or_default(suffix, ""), width, height,
                             fillBackground};
        make_maps(s, areas, areas[largest].area);
    }
    if (updateHair) updateEqualizer(hairFile, dir ? dir : ".", prefix, suffix);
}
