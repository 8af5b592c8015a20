#include "readers/guide_curves.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "geometry/curve_registry.h"

double guide_curve_length(const guide_curve& curve) {
    double length = 0.0;
    for (std::size_t i = 1; i < curve.points.size(); ++i) {
        const KorvoPoint& a = curve.points[i - 1];
        const KorvoPoint& b = curve.points[i];
        length += std::sqrt((b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y) +
                            (b.z - a.z) * (b.z - a.z));
    }
    return length;
}

namespace {

// A failure at a line of the file.
struct bad_line {
    std::string reason;
};

// The blank-separated words of a line (comments removed).
std::vector<std::string> words_of(const char* line) {
    std::vector<std::string> words;
    const char* p = line;
    for (;;) {
        while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') ++p;
        if (*p == '\0' || *p == '#') return words;
        const char* start = p;
        while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n' && *p != '#') ++p;
        words.emplace_back(start, p);
    }
}

double number(const std::string& word) {
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(word.c_str(), &end);
    if (word.empty() || *end != '\0' || errno != 0 || !std::isfinite(v))
        throw bad_line{"\"" + word + "\" is not a number"};
    return v;
}

// A vertex number of an "l" line ("i" or "i/t") as an index into vertices.
std::size_t vertex_index(const std::string& word, std::size_t count) {
    const std::string head = word.substr(0, word.find('/'));
    errno = 0;
    char* end = nullptr;
    const long i = std::strtol(head.c_str(), &end, 10);
    if (head.empty() || *end != '\0' || errno != 0)
        throw bad_line{"\"" + word + "\" is not a vertex number"};
    const long n = static_cast<long>(count);
    if (i == 0 || i > n || i < -n)
        throw bad_line{"vertex " + head + " does not exist (" + std::to_string(count) +
                       " vertices so far)"};
    return static_cast<std::size_t>(i > 0 ? i - 1 : n + i);
}

// The state of one file being read.
struct obj_reader {
    std::vector<KorvoPoint> vertices;
    std::vector<guide_curve> curves;
    std::set<std::string> names;
    guide_curve* current = nullptr;  // the curve the next "l" line feeds

    void statement(const std::vector<std::string>& w, int line) {
        const std::string& key = w[0];
        if (key == "v") {
            if (w.size() < 4 || w.size() > 5) throw bad_line{"a vertex needs x y z"};
            if (vertices.size() >= static_cast<std::size_t>(kGuideMaxVertices))
                throw bad_line{"more than " + std::to_string(kGuideMaxVertices) + " vertices"};
            vertices.emplace_back(number(w[1]), number(w[2]), number(w[3]));
        } else if (key == "o" || key == "g") {
            name(w, line);
        } else if (key == "l") {
            polyline(w);
        } else if (key != "vn" && key != "vt" && key != "vp" && key != "s" && key != "usemtl" &&
                   key != "mtllib") {
            throw bad_line{"\"" + key + "\" is not a guide-curve statement (v, l, o, g)"};
        }
    }

    void name(const std::vector<std::string>& w, int line) {
        if (w.size() != 2) throw bad_line{"a curve name is one word"};
        if (w[1].size() > static_cast<std::size_t>(kGuideMaxName))
            throw bad_line{"a curve name is longer than " + std::to_string(kGuideMaxName)};
        if (!names.insert(w[1]).second) throw bad_line{"curve \"" + w[1] + "\" is named twice"};
        if (curves.size() >= static_cast<std::size_t>(kGuideMaxCurves))
            throw bad_line{"more than " + std::to_string(kGuideMaxCurves) + " curves"};
        curves.push_back({w[1], {}, line});
        current = &curves.back();
    }

    void polyline(const std::vector<std::string>& w) {
        if (current == nullptr) throw bad_line{"a polyline before any curve name (o or g)"};
        if (w.size() < 3) throw bad_line{"a polyline needs two vertices or more"};
        std::vector<KorvoPoint>& pts = current->points;
        std::size_t first = 1;
        if (!pts.empty()) {
            // A further line continues the curve from its last point.
            const KorvoPoint& start = vertices[vertex_index(w[1], vertices.size())];
            const KorvoPoint& end = pts.back();
            if (start.x != end.x || start.y != end.y || start.z != end.z)
                throw bad_line{"curve \"" + current->name +
                               "\" continues from a point where it did not end"};
            first = 2;
        }
        if (pts.size() + (w.size() - first) > static_cast<std::size_t>(kGuideMaxPoints))
            throw bad_line{"curve \"" + current->name + "\" has more than " +
                           std::to_string(kGuideMaxPoints) + " points"};
        for (std::size_t i = first; i < w.size(); ++i)
            pts.push_back(vertices[vertex_index(w[i], vertices.size())]);
    }

    // The checks of the finished curves; empty curves (a name without "l"
    // lines) are dropped.
    void finish(const std::string& path) {
        std::vector<guide_curve> kept;
        for (guide_curve& c : curves) {
            if (c.points.empty()) continue;
            if (c.points.size() < 2 || guide_curve_length(c) <= 0.0)
                throw bad_line{path + ":" + std::to_string(c.line) + ": curve \"" + c.name +
                               "\" has no length"};
            kept.push_back(std::move(c));
        }
        curves.swap(kept);
    }
};

// The whole file, its size checked against the cap before it is read.
bool read_file(const std::string& path, std::string& text, std::string& error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    struct stat info;
    if (::fstat(::fileno(f), &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fclose(f);
        error = path + ": not a regular file";
        return false;
    }
    long size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    if (size < 0 || size > kGuideMaxFileBytes || std::fseek(f, 0, SEEK_SET) != 0) {
        std::fclose(f);
        error = path + (size < 0 ? ": cannot read the file"
                                 : ": the file is larger than " +
                                       std::to_string(kGuideMaxFileBytes) + " bytes");
        return false;
    }
    text.resize(static_cast<std::size_t>(size));
    const bool ok = std::fread(&text[0], 1, text.size(), f) == text.size();
    std::fclose(f);
    if (!ok) error = path + ": cannot read the file";
    return ok;
}

}  // namespace

bool guide_curves_read(const char* path, std::vector<guide_curve>& curves, std::string& error) {
    curves.clear();
    const std::string name = path ? path : "";
    std::string text;
    if (!read_file(name, text, error)) return false;
    obj_reader reader;
    int number = 0;
    try {
        for (std::size_t start = 0; start < text.size();) {
            ++number;
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            if (end - start > static_cast<std::size_t>(kGuideMaxLine))
                throw bad_line{"the line is longer than " + std::to_string(kGuideMaxLine) +
                               " characters"};
            const std::string line = text.substr(start, end - start);
            if (line.find('\0') != std::string::npos)
                throw bad_line{"the line holds a NUL character"};
            const std::vector<std::string> words = words_of(line.c_str());
            if (!words.empty()) reader.statement(words, number);
            start = end + 1;
        }
        reader.finish(name);
    } catch (const bad_line& e) {
        error = e.reason.compare(0, name.size() + 1, name + ":") == 0
                    ? e.reason
                    : name + ":" + std::to_string(number) + ": " + e.reason;
        return false;
    }
    curves = std::move(reader.curves);
    return true;
}

bool guide_curves_register(const std::vector<guide_curve>& curves, std::string& error) {
    for (const guide_curve& c : curves) {
        KorvoCurveDesc desc;
        desc.curve.degree = 1;
        desc.curve.cvs = c.points;
        // Knots at the arc length of each point: 0 0 t1 ... t(n-2) 1 1.
        const double total = guide_curve_length(c);
        std::vector<double>& k = desc.curve.knots;
        k.reserve(c.points.size() + 2);
        k.push_back(0.0);
        double along = 0.0;
        for (std::size_t i = 0; i < c.points.size(); ++i) {
            if (i > 0) {
                const KorvoVector step = c.points[i] - c.points[i - 1];
                along += std::sqrt(step.x * step.x + step.y * step.y + step.z * step.z);
            }
            k.push_back(i + 1 == c.points.size() ? 1.0 : along / total);
        }
        k.push_back(1.0);
        // The first segment that has a length gives the reference direction.
        for (std::size_t i = 1; i < c.points.size(); ++i) {
            desc.direction = c.points[i] - c.points[0];
            if (desc.direction.x != 0.0 || desc.direction.y != 0.0 || desc.direction.z != 0.0)
                break;
        }
        if (!korvo_curve_register(c.name.c_str(), desc)) {
            error = "curve \"" + c.name + "\" cannot be registered";
            return false;
        }
    }
    return true;
}

int guide_curves_load(const char* path, std::string& error) {
    std::vector<guide_curve> curves;
    if (!guide_curves_read(path, curves, error)) return -1;
    if (!guide_curves_register(curves, error)) return -1;
    return static_cast<int>(curves.size());
}
