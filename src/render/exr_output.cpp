#include "render/exr_output.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "foundation/render_settings.h"
#include "render/camera.h"
#include "render/fragment_list.h"
#include "render/surface_shading.h"

namespace {

// Contributions one z-buffer sample can give: the list, two overflows and
// the shaded surface.
constexpr int kMaxPerSample = kMaxListSize + 3;

// Whether the data window, placed at the origin, lies inside the z-buffer.
bool frame_fits(const hair_camera& cam, const exr_frame& fr, const char* pass) {
    const hair_zbuffer* zb = cam.zbuffer();
    const int f = camera_subpixel_factor();
    const exr_box& d = fr.windows.data;
    const bool ok = zb != nullptr && fr.windows.valid() && d.x0 >= fr.origin_x &&
                    d.y0 >= fr.origin_y &&
                    static_cast<long long>(d.x1 - fr.origin_x + 1) * f <= zb->cols() &&
                    static_cast<long long>(d.y1 - fr.origin_y + 1) * f <= zb->lines();
    if (!ok)
        std::printf("ERROR: %s: the pixels %d,%d to %d,%d do not fit the z-buffer\n", pass, d.x0,
                    d.y0, d.x1, d.y1);
    return ok;
}

// Depth and coverage of the geometry of sample (row, col) with record rec,
// as hair_zbuffer::geometry_depth gives them; without motion blur read from
// the record's first slot or the geometry array, with no second lookup.
inline void sample_geometry(const hair_zbuffer& zb, const pixel_slot* rec, int row, int col,
                            float& depth, float& coverage) {
    if (rec != nullptr && defs.motion_blur) {
        zb.geometry_depth(row, col, depth, coverage);
        return;
    }
    // Without a record the geometry array holds what there is (nothing
    // with motion blur); with one, its first slot does.
    const std::uint32_t control =
        rec != nullptr ? rec[0].zb.control : zb.geometry_at(row, col).control;
    const bool used = (control & pixel_zbuff::kIsUsed) != 0;
    depth = !used ? 0.0f : rec != nullptr ? rec[0].zb.z : zb.geometry_at(row, col).z;
    coverage =
        used ? frac_decode(static_cast<std::uint16_t>(control & pixel_zbuff::kAreaMask)) : 0.0f;
}

// The shaded surface of sample (row, col), whose record is rec, as it
// shows through the hair in front of it (front_alpha): false where no
// surface was drawn or the geometry does not cover the sample.
inline bool surface_part(const hair_zbuffer& zb, const pixel_slot* rec, const float* rgb, int row,
                         int col, float front_alpha, fragment_contribution& out) {
    if (rgb == nullptr) return false;
    float depth = 0.0f, coverage = 0.0f;
    sample_geometry(zb, rec, row, col, depth, coverage);
    if (!(coverage > 0.0f)) return false;
    const float a = (1.0f - front_alpha) * std::min(coverage, 1.0f);
    out = {depth, rgb[0] * a, rgb[1] * a, rgb[2] * a, a};
    return true;
}

// What one z-buffer sample holds: its fragments' contributions to the
// resolved colour, and with surfaces the shaded surface at the geometry's
// depth, which shows through the hair in front of it.
int gather(hair_zbuffer& zb, const surface_layer* surfaces, int row, int col,
           fragment_contribution* out) {
    pixel_slot* rec = zb.record(row, col);
    // A sample without a record has no fragments, but may have geometry.
    float front_alpha = 0.0f;
    // out has room for list_size + 3: the fragments and the surface.
    int n = zb.resolve_contributions(rec, out, zb.list_size() + 2, front_alpha);
    if (surfaces != nullptr &&
        surface_part(zb, rec, surfaces->color(row, col), row, col, front_alpha, out[n]))
        ++n;
    return n;
}

// The resolved premultiplied colour of one sample: gather's contributions
// added in its order.
kivColor sample_color(hair_zbuffer& zb, const surface_layer* surfaces, pixel_slot* rec, int row,
                      int col, fragment_contribution* scratch) {
    if (surfaces == nullptr) return zb.resolve_color(rec);
    kivColor sum;
    float front_alpha = 0.0f;
    if (rec != nullptr) {
        const int n = zb.resolve_contributions(rec, scratch, zb.list_size() + 2, front_alpha);
        for (int i = 0; i < n; ++i)
            sum += kivColor(scratch[i].r, scratch[i].g, scratch[i].b, scratch[i].a);
    }
    fragment_contribution s;
    if (surface_part(zb, rec, surfaces->color(row, col), row, col, front_alpha, s))
        sum += kivColor(s.r, s.g, s.b, s.a);
    return sum;
}

// The sum of the f × f samples of pixel (r, c), which must lie in the
// z-buffer and becomes the current pixel (defs.pixel_x, defs.pixel_y)
// while they are resolved.
kivColor pixel_color(hair_zbuffer& zb, const surface_layer* surfaces, int r, int c, int f,
                     fragment_contribution* scratch) {
    defs.pixel_x = c;
    defs.pixel_y = r;
    const std::size_t record_bytes = sizeof(pixel_slot) * zb.record_slots();
    const bool next_fits = (c + 2) * f <= zb.cols();
    kivColor sum;
    for (int y = r * f; y < r * f + f; ++y)
        for (int x = c * f; x < c * f + f; ++x) {
            // The records of the next pixel lie far apart in the record
            // chunks: start loading them while this one is resolved.
            if (const pixel_slot* next = next_fits ? zb.cell_at(y, x + f) : nullptr) {
                const char* bytes = reinterpret_cast<const char*>(next);
                __builtin_prefetch(bytes);
                __builtin_prefetch(bytes + 64);
                __builtin_prefetch(bytes + record_bytes - 1);
            }
            sum += sample_color(zb, surfaces, zb.cell_at(y, x), y, x, scratch);
        }
    return sum;
}

// The nearest non-zero distance of hair or geometry in one sample, 0 for none.
float sample_depth(hair_zbuffer& zb, int row, int col) {
    float geo = 0.0f, coverage = 0.0f, hair = 0.0f, alpha = 0.0f;
    zb.geometry_depth(row, col, geo, coverage);
    zb.resolve_depth(zb.record(row, col), hair, alpha);
    if (geo > 0.0f && (hair <= 0.0f || geo < hair)) return geo;
    return hair > 0.0f ? hair : 0.0f;
}

// Rows Y0 ... Y1 - 1 of the depth plane over the data window: per pixel the
// nearest sample depth, row Y0 first at depth.
void depth_rows(hair_zbuffer& zb, const exr_frame& fr, int Y0, int Y1, float* depth) {
    const int f = camera_subpixel_factor();
    const exr_box& d = fr.windows.data;
    for (int Y = Y0; Y < Y1; ++Y)
        for (int X = d.x0; X <= d.x1; ++X) {
            const int r = Y - fr.origin_y, c = X - fr.origin_x;
            float nearest = 0.0f;
            for (int y = r * f; y < r * f + f; ++y)
                for (int x = c * f; x < c * f + f; ++x) {
                    const float z = sample_depth(zb, y, x);
                    if (z > 0.0f && (nearest == 0.0f || z < nearest)) nearest = z;
                }
            depth[static_cast<std::size_t>(Y - Y0) * d.cols() + (X - d.x0)] = nearest;
        }
}

// The depth plane over the whole data window.
void depth_plane(hair_zbuffer& zb, const exr_frame& fr, std::vector<float>& depth) {
    const exr_box& d = fr.windows.data;
    depth.assign(static_cast<std::size_t>(d.cols()) * d.lines(), 0.0f);
    depth_rows(zb, fr, d.y0, d.y1 + 1, depth.data());
}

// Rows Y0 ... Y1 - 1 of the flat picture over the data window, 4 floats a
// pixel, row Y0 first at rgba.
void color_rows(hair_zbuffer& zb, const exr_frame& fr, const surface_layer* surfaces, int Y0,
                int Y1, float* rgba) {
    const int f = camera_subpixel_factor();
    const float share = 1.0f / static_cast<float>(f * f);
    const exr_box& d = fr.windows.data;
    fragment_contribution scratch[kMaxPerSample];
    for (int Y = Y0; Y < Y1; ++Y) {
        const int r = Y - fr.origin_y;
        for (int X = d.x0; X <= d.x1; ++X) {
            const kivColor sum = pixel_color(zb, surfaces, r, X - fr.origin_x, f, scratch);
            float* p = &rgba[(static_cast<std::size_t>(Y - Y0) * d.cols() + (X - d.x0)) * 4];
            p[0] = sum.r * share;
            p[1] = sum.g * share;
            p[2] = sum.b * share;
            p[3] = sum.a * share;
        }
    }
}

// Turns a pixel's contributions, sorted by depth, into deep samples that
// composite with "over" to their sum: equal depths are combined, empty
// ones dropped, and each sample is divided by the transmission in front of
// it. Returns the number of samples written to out.
int to_deep_samples(fragment_contribution* c, int n, exr_deep_sample* out) {
    std::sort(c, c + n, [](const fragment_contribution& a, const fragment_contribution& b) {
        return a.z < b.z;
    });
    int m = 0;
    float transmission = 1.0f;
    for (int i = 0; i < n;) {
        fragment_contribution s = {c[i].z, 0.0f, 0.0f, 0.0f, 0.0f};
        for (; i < n && c[i].z == s.z; ++i) {
            s.r += std::max(c[i].r, 0.0f);
            s.g += std::max(c[i].g, 0.0f);
            s.b += std::max(c[i].b, 0.0f);
            s.a += std::max(c[i].a, 0.0f);
        }
        if (s.r == 0.0f && s.g == 0.0f && s.b == 0.0f && s.a == 0.0f) continue;
        const float t = std::max(transmission, 1e-6f);
        out[m++] = {s.r / t, s.g / t, s.b / t, std::min(s.a / t, 1.0f), s.z, s.z};
        transmission = std::max(transmission - s.a, 0.0f);
    }
    return m;
}

}  // namespace

exr_frame exr_frame::whole_output() {
    exr_frame fr;
    fr.windows = exr_windows::whole(defs.image_cols, defs.image_lines);
    return fr;
}

// ---------------------------------------------------------------------------
// Flat

int render_exr(hair_camera& cam, const char* file, const exr_frame& fr, bool with_z,
               const surface_layer* surfaces) {
    if (!frame_fits(cam, fr, "render_exr")) return 0;
    hair_zbuffer& zb = *cam.zbuffer();
    const exr_box& d = fr.windows.data;
    std::vector<float> rgba, depth;
    try {
        rgba.assign(static_cast<std::size_t>(d.cols()) * d.lines() * 4, 0.0f);
    } catch (const std::bad_alloc&) {
        std::printf("ERROR: render_exr: out of memory\n");
        return 0;
    }
    color_rows(zb, fr, surfaces, d.y0, d.y1 + 1, rgba.data());
    exr_flat_image image;
    image.windows = fr.windows;
    image.rgba = rgba.data();
    if (with_z) {
        depth_plane(zb, fr, depth);
        image.z = depth.data();
    }
    return exr_write_flat(file, image);
}

int render_exr_rows(hair_camera& cam, const exr_frame& fr, const surface_layer* surfaces, int Y0,
                    int Y1, float* rgba, float* depth) {
    if (!frame_fits(cam, fr, "render_exr") || Y0 < fr.windows.data.y0 ||
        Y1 > fr.windows.data.y1 + 1)
        return 0;
    if (rgba != nullptr) color_rows(*cam.zbuffer(), fr, surfaces, Y0, Y1, rgba);
    if (depth != nullptr) depth_rows(*cam.zbuffer(), fr, Y0, Y1, depth);
    return 1;
}

int render_exr_depth(hair_camera& cam, const char* file, const exr_frame& fr) {
    if (!frame_fits(cam, fr, "render_exr_depth")) return 0;
    std::vector<float> depth;
    depth_plane(*cam.zbuffer(), fr, depth);
    exr_flat_image image;
    image.windows = fr.windows;
    image.z = depth.data();
    return exr_write_flat(file, image);
}

// ---------------------------------------------------------------------------
// Deep

int render_deep_exr(hair_camera& cam, const char* file, const exr_frame& fr,
                    const surface_layer* surfaces) {
    if (!frame_fits(cam, fr, "render_deep_exr")) return 0;
    hair_zbuffer& zb = *cam.zbuffer();
    const int f = camera_subpixel_factor();
    const float share = 1.0f / static_cast<float>(f * f);
    const exr_box& d = fr.windows.data;

    // Work arrays for one row, sized for the most a pixel can hold.
    const std::size_t per_pixel = static_cast<std::size_t>(f) * f * (zb.list_size() + 3);
    std::vector<std::uint32_t> counts(d.cols());
    std::vector<exr_deep_sample> samples;
    std::vector<fragment_contribution> pixel;
    try {
        samples.resize(per_pixel * d.cols());
        pixel.resize(per_pixel);
    } catch (const std::bad_alloc&) {
        std::printf("ERROR: render_deep_exr: out of memory\n");
        return 0;
    }
    exr_deep_writer writer;
    if (!writer.open(file, fr.windows)) return 0;

    for (int Y = d.y0; Y <= d.y1; ++Y) {
        const int r = Y - fr.origin_y;
        std::size_t used = 0;
        for (int X = d.x0; X <= d.x1; ++X) {
            const int c = X - fr.origin_x;
            defs.pixel_x = c;
            defs.pixel_y = r;
            // Every sample's contributions, scaled by its share of the pixel.
            int n = 0;
            for (int y = r * f; y < r * f + f; ++y)
                for (int x = c * f; x < c * f + f; ++x) {
                    const int k = gather(zb, surfaces, y, x, &pixel[n]);
                    for (int i = n; i < n + k; ++i) {
                        pixel[i].r *= share;
                        pixel[i].g *= share;
                        pixel[i].b *= share;
                        pixel[i].a *= share;
                    }
                    n += k;
                }
            const int m = to_deep_samples(pixel.data(), n, &samples[used]);
            counts[X - d.x0] = static_cast<std::uint32_t>(m);
            used += m;
        }
        if (!writer.write_row(counts.data(), samples.data())) return 0;
    }
    return writer.close();
}

// ---------------------------------------------------------------------------
// 8-bit picture over the surfaces

int render_rgba_over_surfaces(hair_camera& cam, const surface_layer& surfaces,
                              std::vector<unsigned char>& rgba) {
    rgba.clear();
    const exr_frame fr = exr_frame::whole_output();
    if (!frame_fits(cam, fr, "render_rgba")) return 0;
    rgba.resize(static_cast<std::size_t>(defs.image_cols) * defs.image_lines * 4);
    return render_rgba_rows(cam, &surfaces, 0, defs.image_lines, rgba.data());
}

int render_rgba_rows(hair_camera& cam, const surface_layer* surfaces, int row0, int row1,
                     unsigned char* rgba) {
    const exr_frame fr = exr_frame::whole_output();
    if (!frame_fits(cam, fr, "render_rgba") || row0 < 0 || row1 > defs.image_lines) return 0;
    hair_zbuffer& zb = *cam.zbuffer();
    const int f = camera_subpixel_factor();
    const float scale = 255.0f / static_cast<float>(f * f);
    const int cols = defs.image_cols;
    fragment_contribution scratch[kMaxPerSample];
    auto to_byte = [](float v) -> unsigned char {
        if (!(v > 0.0f)) return 0;
        if (v > 255.0f) return 255;
        return static_cast<unsigned char>(v + 0.5f);
    };
    for (int r = row0; r < row1; ++r)
        for (int c = 0; c < cols; ++c) {
            const kivColor sum = pixel_color(zb, surfaces, r, c, f, scratch);
            unsigned char* p = &rgba[(static_cast<std::size_t>(r - row0) * cols + c) * 4];
            p[0] = to_byte(sum.r * scale);
            p[1] = to_byte(sum.g * scale);
            p[2] = to_byte(sum.b * scale);
            p[3] = to_byte(sum.a * scale);
        }
    return 1;
}
