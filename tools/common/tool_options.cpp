#include "tool_options.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "korvofur/korvofur.h"

namespace korvo_tools {

std::string unreadable_input(const std::string& path, const char* what) {
    const std::string name = std::string("cannot read ") + what + " \"" + path + "\": ";
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return name + std::strerror(errno);
    if (!S_ISREG(info.st_mode)) return name + "not a regular file";
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return name + std::strerror(errno);
    std::fclose(f);
    return std::string();
}

bool read_int(const std::string& s, long lo, long hi, int& out) {
    if (s.empty() || std::isspace(static_cast<unsigned char>(s[0]))) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

bool read_float(const std::string& s, float& out) {
    if (s.empty() || std::isspace(static_cast<unsigned char>(s[0]))) return false;
    errno = 0;
    char* end = nullptr;
    const float v = std::strtof(s.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
    out = v;
    return true;
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = s.find(sep, start);
        parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

bool read_size(const std::string& s, int max, int& width, int& height) {
    const std::vector<std::string> p = split(s, 'x');
    return p.size() == 2 && read_int(p[0], 1, max, width) && read_int(p[1], 1, max, height);
}

bool read_vector(const std::string& s, float out[3]) {
    const std::vector<std::string> p = split(s, ',');
    return p.size() == 3 && read_float(p[0], out[0]) && read_float(p[1], out[1]) &&
           read_float(p[2], out[2]);
}

const option_entry kCurvesOption = {
    "curves", "FILE", "guide curves: OBJ polylines named by o or g lines (repeatable)"};

bool load_guide_curves(const std::vector<std::string>& files, std::string& error) {
    for (const std::string& f : files)
        if (guide_curves_load(f.c_str(), error) < 0) return false;
    return true;
}

bool option_value(const option_entry& entry, const std::string& arg, int& i, int argc, char** argv,
                  std::string& value, std::string& error) {
    const std::size_t eq = arg.find('=');
    if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
    } else if (i + 1 < argc) {
        value = argv[++i];
    } else {
        error = std::string("--") + entry.name + " needs a value " + entry.value;
        return false;
    }
    return true;
}

std::string option_lines(const option_entry* options, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        const option_entry& o = options[i];
        std::string head = std::string("  --") + o.name;
        if (o.value) head += std::string(" ") + o.value;
        if (head.size() < 24)
            head.resize(24, ' ');
        else
            head += "  ";
        text += head + o.help + "\n";
    }
    return text;
}

row_band band_of(int first, int last, int band, int bands) {
    const int rows = last - first, base = rows / bands, more = rows % bands;
    row_band b;
    b.row0 = first + band * base + (band < more ? band : more);
    b.row1 = b.row0 + base + (band < more ? 1 : 0);
    return b;
}

}  // namespace korvo_tools
