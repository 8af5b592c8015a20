#include "descriptions/hair_records.h"

#include <cstdio>
#include <new>
#include <utility>

#include "descriptions/hair_params.h"
#include "foundation/render_settings.h"

// --- hair_vertex -------------------------------------------------------------

void hair_vertex::print() const {
    std::printf("ambient( %f %f %f), diffuse( %f %f %f), opacity( %f )\n", ambient.r, ambient.g,
                ambient.b, diffuse.r, diffuse.g, diffuse.b, opacity);
    std::printf("width( %f )\n", width);
}

// --- control_hair ------------------------------------------------------------

bool control_hair::allocate(int n) {
    release();
    if (n <= 0) return true;
    points = new (std::nothrow) kivPoint[static_cast<std::size_t>(n)];
    vertices = new (std::nothrow) hair_vertex[static_cast<std::size_t>(n)];
    if (!points || !vertices) {
        release();
        return false;
    }
    count = n;
    return true;
}

void control_hair::release() {
    delete[] points;
    delete[] vertices;
    points = nullptr;
    vertices = nullptr;
    count = 0;
}

control_hair::control_hair(const control_hair& other) {
    *this = other;
}

control_hair::control_hair(control_hair&& other) noexcept
    : count(other.count), points(other.points), vertices(other.vertices) {
    other.count = 0;
    other.points = nullptr;
    other.vertices = nullptr;
}

control_hair& control_hair::operator=(const control_hair& other) {
    if (this == &other) return *this;
    if (!allocate(other.count)) throw std::bad_alloc();
    for (int i = 0; i < count; ++i) {
        points[i] = other.points[i];
        vertices[i] = other.vertices[i];
    }
    return *this;
}

control_hair& control_hair::operator=(control_hair&& other) noexcept {
    if (this == &other) return *this;
    release();
    std::swap(count, other.count);
    std::swap(points, other.points);
    std::swap(vertices, other.vertices);
    return *this;
}

void control_hair::print() const {
    std::printf("\nControl hairs contains %d points\n", count);
    for (int i = 0; i < count; ++i) {
        std::printf("%f %f %f\n", points[i].x, points[i].y, points[i].z);
        vertices[i].print();
    }
}

// --- follicle ----------------------------------------------------------------

void follicle::print() const {
    std::printf("Follicle contents...\n");
    std::printf("p1 (xyz) = %f %f %f\n", p1.x, p1.y, p1.z);
    std::printf("p2 (xyz) = %f %f %f\n", p2.x, p2.y, p2.z);
    attr1.print();
    attr2.print();
    std::printf("lcalc_pos = %f %f %f\n", lcalc_pos.x, lcalc_pos.y, lcalc_pos.z);
    std::printf("lcalc_tan = %f %f %f\n", lcalc_tan.x, lcalc_tan.y, lcalc_tan.z);
    std::printf("zdepth = %f %f\n", zdepth[0], zdepth[1]);
    const kivColor& d = mtl_components[0];
    const kivColor& s = mtl_components[1];
    std::printf("mtl_components[0] (diffuse) = %f %f %f %f\n", d.r, d.g, d.b, d.a);
    std::printf("mtl_components[1] (specular) = %f %f %f %f\n", s.r, s.g, s.b, s.a);
}

// --- Vertex colour -------------------------------------------------------------

kivColor hair_vertex_color(const hair_vertex& a, int light_model, const kivColor& d,
                           const kivColor& s) {
    if (defs.shadows.shadow_pass) return kivColor(0.0f, 0.0f, 0.0f, 1.0f);
    kivColor c;
    switch (light_model) {
        case 0:
            c = a.ambient;
            c.a = a.opacity;
            break;
        case 1:
            c = a.ambient + a.diffuse * d;
            c.a = a.opacity;
            break;
        case 2:
            c = a.ambient + a.diffuse * d + a.specular * s;
            c.a = a.opacity;
            break;
        case 3:
            c = a.specular * s;
            c.a = (c.r + c.g + c.b) * 0.3333f * a.opacity;
            break;
        default:
            c = kivColor(0.0f, 0.0f, 0.0f, 0.0f);
            break;
    }
    c.clamp();
    return c;
}

// --- motion_blur_pnt -----------------------------------------------------------

motion_blur_pnt::motion_blur_pnt(const follicle& f, const hair_params* hp, float x1, float y1,
                                 float x2, float y2, int end) {
    const bool first = end == 1;
    x = first ? x1 : x2;
    y = first ? y1 : y2;
    z = first ? f.zdepth[0] : f.zdepth[1];
    // Without a description the default light model applies.
    const int model = hp ? hp->light_model : 2;
    set_color(hair_vertex_color(first ? f.attr1 : f.attr2, model, f.mtl_components[0],
                                f.mtl_components[1]));
}
