// The output passes of a camera: each reduces the f × f samples of the
// z-buffer under an output pixel (f the sub-pixel factor) to one value and
// writes the image scanline by scanline, row 0 (the bottom) first.
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "foundation/render_settings.h"
#include "imagefile/image_library.h"
#include "imagefile/image_file.h"
#include "render/atmosphere.h"
#include "render/camera.h"

namespace {

// A reduced channel as a byte: 0 below 0 (and for NaN), 255 above 255,
// else rounded.
unsigned char to_byte(float v) {
    if (!(v > 0.0f)) return 0;
    if (v > 255.0f) return 255;
    return static_cast<unsigned char>(v + 0.5f);
}

// The output pixel (column c, row r) being computed.
void set_current_pixel(int c, int r) {
    defs.pixel_x = c;
    defs.pixel_y = r;
}

// Reads one line of at most 512 characters from standard input into line;
// false at its end. The rest of a longer line is skipped.
bool read_line(char (&line)[513]) {
    if (std::fgets(line, sizeof line, stdin) == nullptr) return false;
    if (std::strchr(line, '\n') == nullptr) {
        int ch;
        while ((ch = std::fgetc(stdin)) != EOF && ch != '\n') {
        }
    }
    return true;
}

// Asks for a pixel until one inside cols × lines is given; false at the end
// of standard input.
bool ask_pixel(int cols, int lines, int& x, int& y) {
    char line[513];
    for (;;) {
        std::printf("ENTER an x y pixel: ");
        std::fflush(stdout);
        if (!read_line(line)) return false;
        if (std::sscanf(line, "%d %d", &x, &y) != 2) continue;
        std::printf("got %d %d\n", x, y);
        if (x >= 0 && x < cols && y >= 0 && y < lines) return true;
    }
}

}  // namespace

bool hair_camera::output_fits(const char* pass) const {
    if (arr == nullptr) {
        std::printf("ERROR: %s: the camera has no z-buffer\n", pass);
        return false;
    }
    const int f = camera_subpixel_factor();
    const long long need_lines = static_cast<long long>(defs.image_lines) * f;
    const long long need_cols = static_cast<long long>(defs.image_cols) * f;
    if (defs.image_lines <= 0 || defs.image_cols <= 0 || need_lines > arr->lines() ||
        need_cols > arr->cols()) {
        std::printf(
            "ERROR: %s: an output of %d x %d pixels at sub-pixel factor %d does not fit the "
            "z-buffer of %d x %d samples\n",
            pass, defs.image_cols, defs.image_lines, f, arr->cols(), arr->lines());
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// The hair image

void hair_camera::reduce_color_row(int r, unsigned char* rgba) {
    const int out_cols = defs.image_cols;
    const int f = camera_subpixel_factor();
    const float scale = 255.0f / static_cast<float>(f * f);
    for (int c = 0; c < out_cols; ++c) {
        set_current_pixel(c, r);
        kivColor sum;
        for (int y = r * f; y < r * f + f; ++y) {
            for (int x = c * f; x < c * f + f; ++x) sum += arr->resolve_color(arr->record(y, x));
        }
        unsigned char* p = rgba + static_cast<std::size_t>(c) * 4;
        p[0] = to_byte(sum.r * scale);
        p[1] = to_byte(sum.g * scale);
        p[2] = to_byte(sum.b * scale);
        p[3] = to_byte(sum.a * scale);
    }
}

void hair_camera::render(const char* file) {
    if (!output_fits("render")) return;
    const int out_lines = defs.image_lines, out_cols = defs.image_cols;

    // RLA with depth range, else the host's image library.
    std::unique_ptr<rx_rla> rla;
    ILimage* il = nullptr;
    if (hasdepth()) {
        rla = std::make_unique<rx_rla>(file, out_lines, out_cols, 8, defs.gamma, 1);
    } else {
        il = ILopen(file, "w");
        if (il == nullptr) return;
        ILsetsize(il, out_cols, out_lines);
        ILsetbpp(il, 1);
        ILsettype(il, IL_TYPE_COLOUR);
        ILctrl(il, IL_CTRL_ROWS_AS_GIVEN, 0);
    }
    u_char_buf buf(out_cols);
    std::vector<unsigned char> row(static_cast<std::size_t>(out_cols) * 4);

    for (int r = 0; r < out_lines; ++r) {
        reduce_color_row(r, row.data());
        if (rla) {
            for (int c = 0; c < out_cols; ++c) {
                const unsigned char* p = &row[static_cast<std::size_t>(c) * 4];
                for (int ch = 0; ch < 4; ++ch) buf(ch, c) = p[ch];
                buf.z(c) = 0;
            }
            rla->writescan(buf.address(), r);
        } else {
            // The host image takes blue, green, red, matte.
            for (int c = 0; c < out_cols; ++c) std::swap(row[c * 4 + 0], row[c * 4 + 2]);
            ILwriteline(il, row.data(), nullptr);
        }
    }
    if (il != nullptr) ILclose(il);
    // The RLA image is written when rla goes.
}

int hair_camera::render_rgba(std::vector<unsigned char>& rgba) {
    rgba.clear();
    if (!output_fits("render_rgba")) return 0;
    const std::size_t row = static_cast<std::size_t>(defs.image_cols) * 4;
    rgba.resize(row * static_cast<std::size_t>(defs.image_lines));
    for (int r = 0; r < defs.image_lines; ++r) reduce_color_row(r, rgba.data() + row * r);
    return 1;
}

// ---------------------------------------------------------------------------
// Depth images

void hair_camera::render_z(const char* file) {
    if (!output_fits("render_z")) return;
    const int out_lines = defs.image_lines, out_cols = defs.image_cols;
    const int f = camera_subpixel_factor();

    // The nearer non-zero one of the geometry and hair depths of a sample.
    auto combined = [this](int y, int x) {
        float gz, gc, hz, ha;
        arr->geometry_depth(y, x, gz, gc);
        arr->resolve_depth(arr->record(y, x), hz, ha);
        if (gz == 0.0f) return hz;
        if (hz == 0.0f) return gz;
        return gz < hz ? gz : hz;
    };

    bool any = false;
    for (int y = 0; y < arr->lines() && !any; ++y) {
        for (int x = 0; x < arr->cols() && !any; ++x) any = combined(y, x) != 0.0f;
    }
    if (!any) std::printf("MESSAGE: nothing to write into zhair file!\n");

    ILimage* il = ILopen(file, "w");
    if (il == nullptr) return;
    ILsetsize(il, out_cols, out_lines);
    ILsetbpp(il, 1);
    ILsettype(il, IL_TYPE_DEPTH);
    ILctrl(il, IL_CTRL_ROWS_AS_GIVEN, 0);
    std::vector<float> row(static_cast<std::size_t>(out_cols));
    for (int r = 0; r < out_lines; ++r) {
        for (int c = 0; c < out_cols; ++c) {
            set_current_pixel(c, r);
            float nearest = 0.0f;
            for (int y = r * f; y < r * f + f; ++y) {
                for (int x = c * f; x < c * f + f; ++x) {
                    const float d = combined(y, x);
                    if (d != 0.0f && (nearest == 0.0f || d < nearest)) nearest = d;
                }
            }
            row[c] = nearest != 0.0f ? -1.0f / nearest : 0.0f;
        }
        ILwriteline(il, nullptr, row.data());
    }
    ILclose(il);
}

void hair_camera::render_zbuff(const char* file) {
    if (!output_fits("render_zbuff")) return;
    const int out_lines = defs.image_lines, out_cols = defs.image_cols;
    const int f = camera_subpixel_factor();

    // Depth range of the geometry.
    float near_z = 0.0f, far_z = 0.0f;
    for (int y = 0; y < arr->lines(); ++y) {
        for (int x = 0; x < arr->cols(); ++x) {
            float d, c;
            arr->geometry_depth(y, x, d, c);
            if (d == 0.0f) continue;
            if (near_z == 0.0f || d < near_z) near_z = d;
            if (far_z == 0.0f || d > far_z) far_z = d;
        }
    }
    if (near_z == 0.0f) std::printf("MESSAGE: nothing to write into zfile!\n");
    // With all geometry at one depth every pixel is near (grey 1).
    const float range = far_z > near_z ? far_z - near_z : 0.0f;

    rx_rla rla(file, out_lines, out_cols, 8, defs.gamma, 0);
    u_char_buf buf(out_cols);
    const float samples = static_cast<float>(f * f);
    for (int r = 0; r < out_lines; ++r) {
        for (int c = 0; c < out_cols; ++c) {
            set_current_pixel(c, r);
            float nearest = 0.0f, coverage = 0.0f;
            for (int y = r * f; y < r * f + f; ++y) {
                for (int x = c * f; x < c * f + f; ++x) {
                    float d, cov;
                    arr->geometry_depth(y, x, d, cov);
                    coverage += cov;
                    if (d != 0.0f && (nearest == 0.0f || d < nearest)) nearest = d;
                }
            }
            if (nearest == 0.0f) {
                buf.rgbm(c, 0);
            } else {
                const float t = range > 0.0f ? (nearest - near_z) / range : 0.0f;
                const unsigned char grey = to_byte(t * 254.0f + 1.0f);
                buf(0, c) = buf(1, c) = buf(2, c) = grey;
                buf(3, c) = to_byte(coverage / samples * 255.0f);
            }
            buf.z(c) = 0;
        }
        rla.writescan(buf.address(), r);
    }
}

// ---------------------------------------------------------------------------
// The atmosphere image

void hair_camera::render_atm(const char* file) {
    if (!output_fits("render_atm")) return;
    const int out_lines = defs.image_lines, out_cols = defs.image_cols;
    const int f = camera_subpixel_factor();
    const float scale = 255.0f / static_cast<float>(f * f);
    const double u_span = static_cast<double>(f) * out_cols;
    const double v_span = static_cast<double>(f) * out_lines;

    rx_rla rla(file, out_lines, out_cols, 8, defs.gamma, 0);
    u_char_buf buf(out_cols);
    float depths[kMaxAtmosSteps], alphas[kMaxAtmosSteps];
    for (int r = 0; r < out_lines; ++r) {
        for (int c = 0; c < out_cols; ++c) {
            set_current_pixel(c, r);
            kivColor sum;
            for (int y = r * f; y < r * f + f; ++y) {
                for (int x = c * f; x < c * f + f; ++x) {
                    float gz, gc;
                    arr->geometry_depth(y, x, gz, gc);
                    const int n =
                        arr->resolve_atmosphere(arr->record(y, x), depths, alphas, kMaxAtmosSteps);
                    atmosdb_init_eval(x / u_span, y / v_span);
                    sum += atmosdb_eval(n, depths, alphas, gz, gc);
                }
            }
            buf(0, c) = to_byte(sum.r * scale);
            buf(1, c) = to_byte(sum.g * scale);
            buf(2, c) = to_byte(sum.b * scale);
            buf(3, c) = to_byte(sum.a * scale);
            buf.z(c) = 0;
        }
        rla.writescan(buf.address(), r);
    }
}

// ---------------------------------------------------------------------------
// Interactive inspection

void hair_camera::debug_pixels() {
    if (arr == nullptr) {
        std::printf("ERROR: debug_pixels: the camera has no z-buffer\n");
        return;
    }
    int x, y;
    while (ask_pixel(window.Cols(), window.Lines(), x, y)) {
        pixel_slot** cell = arr->cell(y, x);
        if (cell == nullptr) continue;
        arr->print_pixel(*cell, y, x);
        const kivColor c = arr->resolve_color_debug(*cell);
        std::printf("result color = %f %f %f %f\n\n", c.r, c.g, c.b, c.a);
    }
    std::printf("\n");
}

void hair_camera::debug_zbuffer() {
    if (arr == nullptr) {
        std::printf("ERROR: debug_zbuffer: the camera has no z-buffer\n");
        return;
    }
    int x, y;
    while (ask_pixel(window.Cols(), window.Lines(), x, y)) {
        pixel_slot** cell = arr->cell(y, x);
        if (cell == nullptr) continue;
        std::printf("\nZbuffer contents:\n");
        arr->print_pixel(*cell, y, x);
        if (defs.motion_blur) {
            arr->post_mb_debug(*cell, y, x, true);
            arr->print_pixel(*cell, y, x);
        }
        float z, area;
        arr->geometry_depth(y, x, z, area);
        std::printf("Final z = %f, area = %f\n\n", z, area);
    }
    std::printf("\n");
}
