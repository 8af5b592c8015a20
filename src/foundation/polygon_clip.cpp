#include "foundation/polygon_clip.h"

namespace {

// Signed distance of v to the plane: <= 0 is inside.
inline double plane_value(const clip_vertex& v, int field, double sign, double k) {
    return sign * v.field(field) - k * v.sw;
}

// u + t (w - u) on the masked fields; the others are zero.
clip_vertex interpolate(const clip_vertex& u, const clip_vertex& w, double t, int mask) {
    clip_vertex out{};
    for (int f = 0; f < CLIP_FIELD_COUNT; ++f) {
        if (mask & (1 << f)) out.field(f) = u.field(f) + t * (w.field(f) - u.field(f));
    }
    return out;
}

struct Plane {
    int field;
    double sign;
    double k;
};

}  // namespace

void clip_half_space(const clip_poly& src, clip_poly& dst, int field, double sign, double k) {
    dst.n = 0;
    dst.mask = src.mask;
    if (src.n <= 0) return;
    const clip_vertex* u = &src.v[src.n - 1];
    double tu = plane_value(*u, field, sign, k);
    for (int i = 0; i < src.n && dst.n < CLIP_MAX_VERTICES; ++i) {
        const clip_vertex& w = src.v[i];
        const double tw = plane_value(w, field, sign, k);
        const bool u_in = tu <= 0.0;
        const bool w_in = tw <= 0.0;
        if (u_in != w_in) dst.v[dst.n++] = interpolate(*u, w, tu / (tu - tw), src.mask);
        if (w_in && dst.n < CLIP_MAX_VERTICES) dst.v[dst.n++] = w;
        u = &w;
        tu = tw;
    }
}

int clip_polygon(clip_poly& p, const clip_box& box) {
    if (p.n < 0 || p.n > CLIP_MAX_VERTICES) {
        p.n = 0;
        return 0;
    }
    // Count the vertices outside each of the six planes.
    int out[6] = {0, 0, 0, 0, 0, 0};
    for (int i = 0; i < p.n; ++i) {
        const clip_vertex& v = p.v[i];
        out[0] += v.sx < box.x0 * v.sw;
        out[1] += v.sx > box.x1 * v.sw;
        out[2] += v.sy < box.y0 * v.sw;
        out[3] += v.sy > box.y1 * v.sw;
        out[4] += v.sz < box.z0 * v.sw;
        out[5] += v.sz > box.z1 * v.sw;
    }
    bool inside = true;
    for (int c : out) {
        if (c == p.n && c > 0) {
            p.n = 0;
            return 0;
        }
        if (c) inside = false;
    }
    if (inside) return 2;

    // Clip against each crossed plane, alternating with a scratch polygon.
    const Plane planes[6] = {{CLIP_FIELD_SX, -1.0, -box.x0}, {CLIP_FIELD_SX, 1.0, box.x1},
                             {CLIP_FIELD_SY, -1.0, -box.y0}, {CLIP_FIELD_SY, 1.0, box.y1},
                             {CLIP_FIELD_SZ, -1.0, -box.z0}, {CLIP_FIELD_SZ, 1.0, box.z1}};
    clip_poly scratch;
    clip_poly* from = &p;
    clip_poly* to = &scratch;
    for (int i = 0; i < 6; ++i) {
        if (!out[i]) continue;
        clip_half_space(*from, *to, planes[i].field, planes[i].sign, planes[i].k);
        if (to->n == 0) {
            p.n = 0;
            return 0;
        }
        clip_poly* t = from;
        from = to;
        to = t;
    }
    if (from != &p) {
        p.n = from->n;
        for (int i = 0; i < from->n; ++i) p.v[i] = from->v[i];
    }
    return 1;
}
