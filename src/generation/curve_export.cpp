#include "generation/curve_export.h"

#include <cctype>
#include <cstring>

#include "descriptions/hair_params.h"
#include "descriptions/hair_records.h"
#include "generation/hair_spawning.h"

namespace {

// A colour channel as written: clamped to 0 … 1.
float unit(float v) {
    return v > 1.0f ? 1.0f : (v > 0.0f ? v : 0.0f);
}

// Copies a temporary array file (its elements already separated by ", ")
// to out.
bool append(FILE* from, FILE* out) {
    if (std::fflush(from) != 0 || std::fseek(from, 0, SEEK_SET) != 0) return false;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, from)) > 0)
        if (std::fwrite(buf, 1, n, out) != n) return false;
    return std::ferror(from) == 0;
}

void close_file(FILE*& f) {
    if (f != nullptr) std::fclose(f);
    f = nullptr;
}

// The writer of the sink below, and the sink it hands the hairs on to.
curve_writer* g_writer = nullptr;
mdldb_hair_sink g_next = nullptr;

void recording_sink(hair_camera* cam, control_hair* hair, hair_state* state) {
    if (g_writer != nullptr && hair != nullptr && state != nullptr) g_writer->add(*hair, *state);
    if (g_next != nullptr) g_next(cam, hair, state);
}

// A sink that only records.
void record_only(hair_camera*, control_hair* hair, hair_state* state) {
    if (g_writer != nullptr && hair != nullptr && state != nullptr) g_writer->add(*hair, *state);
}

}  // namespace

curve_format curve_format_of(const char* path) {
    if (path == nullptr) return curve_format::none;
    const char* dot = std::strrchr(path, '.');
    if (dot == nullptr || std::strchr(dot, '/') != nullptr) return curve_format::none;
    char ext[8] = {0};
    for (int i = 0; i < 7 && dot[1 + i] != '\0'; ++i)
        ext[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(dot[1 + i])));
    if (std::strlen(dot + 1) >= 7) return curve_format::none;
    if (std::strcmp(ext, "usda") == 0) return curve_format::usda;
    if (std::strcmp(ext, "obj") == 0) return curve_format::obj;
    return curve_format::none;
}

curve_writer::~curve_writer() {
    close();
}

int curve_writer::open(const char* path) {
    close();
    curves_ = points_ = 0;
    failed_ = false;
    format_ = curve_format_of(path);
    if (format_ == curve_format::none) {
        std::printf("ERROR: curve file %s: the name must end in .usda or .obj\n",
                    path ? path : "(null)");
        return 0;
    }
    out_ = std::fopen(path, "w");
    if (out_ == nullptr) {
        std::printf("ERROR: cannot create curve file %s\n", path);
        return 0;
    }
    if (format_ == curve_format::usda) {
        counts_ = std::tmpfile();
        positions_ = std::tmpfile();
        widths_ = std::tmpfile();
        colors_ = std::tmpfile();
        if (!counts_ || !positions_ || !widths_ || !colors_) {
            std::printf("ERROR: curve file %s: cannot create temporary files\n", path);
            close();
            return 0;
        }
    } else {
        std::fprintf(out_, "# shaped hair as polylines: v x y z r g b, one l line per hair\n");
    }
    return 1;
}

void curve_writer::add(const control_hair& hair, const hair_state& state) {
    if (out_ == nullptr || hair.count < 2 || hair.points == nullptr || hair.vertices == nullptr)
        return;
    const hair_params* hp = state.params;
    const float wunits = hair_params_get_wunits();
    const bool usda = format_ == curve_format::usda;
    const char* sep = curves_ == 0 ? "" : ", ";
    if (usda) std::fprintf(counts_, "%s%d", sep, hair.count);
    for (int k = 0; k < hair.count; ++k) {
        kivPoint p = hair.points[k];
        if (hp != nullptr) p.post_mult(hp->matrix);
        const hair_vertex& v = hair.vertices[k];
        const float r = unit(v.diffuse.r), g = unit(v.diffuse.g), b = unit(v.diffuse.b);
        if (usda) {
            std::fprintf(positions_, "%s(%.9g, %.9g, %.9g)", sep, p.x, p.y, p.z);
            std::fprintf(widths_, "%s%.9g", sep, v.width * wunits);
            std::fprintf(colors_, "%s(%.6g, %.6g, %.6g)", sep, r, g, b);
        } else {
            std::fprintf(out_, "v %.9g %.9g %.9g %.6g %.6g %.6g\n", p.x, p.y, p.z, r, g, b);
        }
        sep = ", ";
    }
    if (!usda) {
        // OBJ indices count from 1 over the whole file.
        std::fputc('l', out_);
        for (int k = 0; k < hair.count; ++k) std::fprintf(out_, " %ld", points_ + 1 + k);
        std::fputc('\n', out_);
    }
    ++curves_;
    points_ += hair.count;
}

int curve_writer::close() {
    if (out_ == nullptr) return 0;
    bool ok = !failed_;
    if (format_ == curve_format::usda) {
        std::fprintf(out_,
                     "#usda 1.0\n(\n    defaultPrim = \"hair\"\n    upAxis = \"Y\"\n)\n\n"
                     "def BasisCurves \"hair\"\n{\n    uniform token type = \"linear\"\n"
                     "    int[] curveVertexCounts = [");
        ok = append(counts_, out_) && ok;
        std::fprintf(out_, "]\n    point3f[] points = [");
        ok = append(positions_, out_) && ok;
        std::fprintf(out_, "]\n    float[] widths = [");
        ok = append(widths_, out_) && ok;
        std::fprintf(out_, "] (\n        interpolation = \"vertex\"\n    )\n");
        std::fprintf(out_, "    color3f[] primvars:displayColor = [");
        ok = append(colors_, out_) && ok;
        std::fprintf(out_, "] (\n        interpolation = \"vertex\"\n    )\n}\n");
    }
    ok = std::ferror(out_) == 0 && ok;
    ok = std::fclose(out_) == 0 && ok;
    out_ = nullptr;
    close_file(counts_);
    close_file(positions_);
    close_file(widths_);
    close_file(colors_);
    if (!ok) std::printf("ERROR: could not write the whole curve file\n");
    return ok ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Recording the render's hairs

curve_recording::curve_recording(curve_writer& writer) {
    g_writer = &writer;
    g_next = mdldb_set_hair_sink(recording_sink);
}

curve_recording::~curve_recording() {
    mdldb_set_hair_sink(g_next);
    g_writer = nullptr;
    g_next = nullptr;
}

int mdldb_export_curves(const char* path, hair_camera& cam) {
    curve_writer writer;
    if (!writer.open(path)) return 0;
    // The recording sink goes, whatever the walk throws.
    struct only_recording {
        mdldb_hair_sink previous;
        explicit only_recording(curve_writer& w) {
            g_writer = &w;
            previous = mdldb_set_hair_sink(record_only);
        }
        ~only_recording() {
            mdldb_set_hair_sink(previous);
            g_writer = nullptr;
        }
    } recording(writer);
    mdldb_hair(cam);
    return writer.close();
}
