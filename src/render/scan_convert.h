// The exact-area scan converter shared by the hair and the geometry fills.
//
// A convex screen polygon (window-relative pixels, y up) arrives as two
// boundary chains that both rise from its lowest to its highest vertex.
// Each pixel it touches receives the exact area of the polygon inside the
// pixel and the average, over the vertices of that clipped piece, of the
// values carried by the vertices (depth and colour for hairs, the
// camera-space position for geometry), interpolated linearly along edges.
//
// How it works: every row y is cut out of the polygon as the strip
// y <= Y <= y + 1 (the chains clipped to the band, one rising, one falling).
// The strip is convex: its lower and its upper side run left to right, and
// a column's piece is what lies between the two sides' cuts at x and at
// x + 1. Its area is the difference of the strip's area left of the two
// cuts (running sums of the trapezoids under each side) and its vertices
// are the cut points and the sides' vertices between them, so each piece
// shares its cut points exactly with its neighbours and the pieces tile the
// polygon without gaps or overlaps: the coverages of a polygon sum to its
// area up to float rounding. A piece depends on its column alone, not on
// where a sweep starts. Columns that the strip covers completely (between
// the two boundaries over the whole row height) skip the cutting and get a
// coverage of exactly 1.
//
// Everything lives in fixed-size arrays on the stack: a polygon costs no
// allocation. The pixel sink is a template parameter so that the per-pixel
// call inlines. A vertex is held in lane vectors of four floats, or of eight
// in a function built for AVX2; the helpers are always inlined so that such
// a function builds the whole fill for it, and the pixels get the same bits
// at either width.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "foundation/vector_lanes.h"

namespace scan {

// A polygon vertex: pixel position and K values interpolated along edges.
template <int K>
struct vertex {
    float x, y;
    float v[K];
};

// Where pixels may be written: columns 0 … cols − 1 and rows 0 … lines − 1
// of the window, further limited to the inclusive render region when on.
struct limits {
    int cols = 0;
    int lines = 0;
    bool region_on = false;
    int region[4] = {0, 0, 0, 0};  // low x, low y, high x, high y
    // The first column given to the sink; those before it are not cut at
    // all (a column's piece does not depend on them): a tile of the hair
    // pass starts here.
    int emit_lo = 0;

    // The window extent, limited by the render region of defs when it is on.
    static limits window(int cols, int lines);
    // First and last column and row that may be written (empty when low > high).
    int col_lo() const { return region_on && region[0] > 0 ? region[0] : 0; }
    int col_hi() const { return region_on && region[2] < cols - 1 ? region[2] : cols - 1; }
    int row_lo() const { return region_on && region[1] > 0 ? region[1] : 0; }
    int row_hi() const { return region_on && region[3] < lines - 1 ? region[3] : lines - 1; }
};

// The width of the vectors fill_widest (the hair's fill) holds vertices in:
// eight floats where the processor has AVX2 and limit is 8 or more, else
// four; returns the width now in use. Eight is the default where it
// exists. The pixels are the same to the bit at either width.
int use_lanes(int limit);
// The width in use.
int lanes();

// ⌊f⌋ as an int, clamped to ±2^30 so that far-away vertices cannot
// overflow (NaN gives the low bound).
inline int pixel_floor(float f) {
    constexpr float kBound = 1073741824.0f;  // 2^30
    if (!(f > -kBound)) return -1073741824;
    if (f >= kBound) return 1073741824;
    const int i = static_cast<int>(f);
    return static_cast<float>(i) > f ? i - 1 : i;
}
// box = the smallest and largest pixel_floor of the x and y of n >= 1
// points (min x, min y, max x, max y), without a branch per point.
template <class V>
void pixel_box(int n, const V* v, int* box) {
    box[0] = box[2] = pixel_floor(v[0].x);
    box[1] = box[3] = pixel_floor(v[0].y);
    for (int i = 1; i < n; ++i) {
        const int px = pixel_floor(v[i].x), py = pixel_floor(v[i].y);
        box[0] = px < box[0] ? px : box[0];
        box[1] = py < box[1] ? py : box[1];
        box[2] = px > box[2] ? px : box[2];
        box[3] = py > box[3] ? py : box[3];
    }
}
// Whether every coordinate of a vertex is finite.
inline bool finite_xy(float x, float y) {
    return std::isfinite(x) && std::isfinite(y);
}

// order = the indices 0 … n − 1 sorted by y ascending; equal y keep their
// index order. n is at most 4.
template <class V>
void sort_by_y(int n, const V* v, int* order) {
    for (int i = 0; i < n; ++i) order[i] = i;
    for (int i = 1; i < n; ++i) {
        const int k = order[i];
        int j = i;
        while (j > 0 && v[order[j - 1]].y > v[k].y) {
            order[j] = order[j - 1];
            --j;
        }
        order[j] = k;
    }
}

// Splits a polygon of n vertices (3 or 4, order from sort_by_y) into a
// left and a right chain rising from the bottom to the top vertex. The
// right chain follows the polygon's vertex order forward from its start;
// for a clockwise polygon it is the one on the left, which the fill
// accepts as well.
// With strict, y must rise strictly along each chain. False when the
// polygon is degenerate (a chain of fewer than two vertices, or a flat
// edge with strict); left and right need room for n vertices each.
template <class V>
bool split_chains(int n, const V* v, const int* order, bool strict, V* left, int& nl, V* right,
                  int& nr) {
    nl = nr = 0;
    if (n < 3) return false;
    // Starting points: a flat bottom puts the vertex with the smaller x on
    // the left (the first in order when x is equal too). A clockwise
    // polygon, whose right bottom vertex is followed by the left one, starts
    // the other way round so that the forward chain still climbs a side.
    int k = 1;
    int right_start = order[0];
    if (v[order[0]].y == v[order[1]].y) {
        const bool first_left = v[order[0]].x <= v[order[1]].x;
        int a = first_left ? order[0] : order[1];
        int b = first_left ? order[1] : order[0];
        if ((b + 1) % n == a) {
            const int t = a;
            a = b;
            b = t;
        }
        left[nl++] = v[a];
        right_start = b;
        right[nr++] = v[b];
        k = 2;
    } else {
        left[nl++] = v[order[0]];
        right[nr++] = v[order[0]];
    }
    // The vertices between: the right chain takes its next vertex in
    // polygon order, the left chain the others.
    int next = (right_start + 1) % n;
    for (; k < n - 1; ++k) {
        const int i = order[k];
        if (i == next) {
            right[nr++] = v[i];
            next = (next + 1) % n;
        } else {
            left[nl++] = v[i];
        }
    }
    // The top vertex ends both chains, unless one already ends at its height.
    const V& top = v[order[n - 1]];
    if (left[nl - 1].y == top.y) {
        right[nr++] = top;
    } else if (right[nr - 1].y == top.y) {
        left[nl++] = top;
    } else {
        left[nl++] = top;
        right[nr++] = top;
    }
    if (nl < 2 || nr < 2) return false;
    if (strict) {
        for (int i = 1; i < nl; ++i)
            if (!(left[i].y > left[i - 1].y)) return false;
        for (int i = 1; i < nr; ++i)
            if (!(right[i].y > right[i - 1].y)) return false;
    }
    return true;
}

namespace detail {

using simd::splat;
using simd::with_lane;

// A vertex as the clipping works on it: x, y and the K values in whole
// vectors (lane 0 of the first is x, lane 1 y, then the values; lanes after
// the last value hold zeros), so that a vertex is copied, interpolated and
// summed with whole-vector moves.
template <int K, int W>
struct pvert {
    using V = simd::floats<W>;
    static constexpr int kVectors = (K + 2 + W - 1) / W;
    V c[kVectors];
    KORVO_LANES float x() const { return c[0][0]; }
    KORVO_LANES float y() const { return c[0][1]; }
};

template <int K, int W>
KORVO_LANES pvert<K, W> padded(const vertex<K>& q) {
    float f[pvert<K, W>::kVectors * W] = {};
    f[0] = q.x;
    f[1] = q.y;
    for (int k = 0; k < K; ++k) f[k + 2] = q.v[k];
    pvert<K, W> r;
    for (int j = 0; j < pvert<K, W>::kVectors; ++j) std::memcpy(&r.c[j], f + W * j, sizeof r.c[j]);
    return r;
}

// The K values of a vertex into out.
template <int K, int W>
KORVO_LANES void values_of(const pvert<K, W>& q, float* out) {
    for (int k = 0; k < K; ++k) out[k] = q.c[(k + 2) / W][(k + 2) % W];
}

// p + t (q − p), lane by lane.
template <int K, int W>
KORVO_LANES pvert<K, W> lerp(const pvert<K, W>& p, const pvert<K, W>& q, float t) {
    const auto tv = splat<typename pvert<K, W>::V>(t);
    pvert<K, W> r;
    for (int j = 0; j < pvert<K, W>::kVectors; ++j) r.c[j] = p.c[j] + tv * (q.c[j] - p.c[j]);
    return r;
}

// Whether a and b lie at the same x and y: both lanes compared at once.
template <int K, int W>
KORVO_LANES bool same_point(const pvert<K, W>& a, const pvert<K, W>& b) {
    const auto eq = a.c[0] == b.c[0];
    return (eq[0] & eq[1]) != 0;
}

// A small polygon on the stack; consecutive equal points are kept once.
template <int K, int W>
struct ring {
    static constexpr int kMax = 24;
    int n = 0;
    pvert<K, W> p[kMax];

    KORVO_LANES void push(const pvert<K, W>& q) {
        if (n > 0 && same_point(p[n - 1], q)) return;
        push_new(q);
    }
    // Adds q, known to differ from the last point.
    KORVO_LANES void push_new(const pvert<K, W>& q) {
        if (n < kMax) p[n++] = q;
    }
    // Drops closing points equal to the first.
    KORVO_LANES void close() {
        while (n > 1 && p[n - 1].x() == p[0].x() && p[n - 1].y() == p[0].y()) --n;
    }
};

// The point of edge a → b at height Y (a.y < Y < b.y), interpolated from
// the nearer end: edges clipped at the near plane can reach millions of
// pixels off screen, and the error then stays proportional to the distance
// from the end that lies near the window.
template <int K, int W>
KORVO_LANES pvert<K, W> at_y(const pvert<K, W>& a, const pvert<K, W>& b, float Y) {
    const bool from_a = Y - a.y() <= b.y() - Y;
    const pvert<K, W>& p = from_a ? a : b;
    const pvert<K, W>& q = from_a ? b : a;
    pvert<K, W> r = lerp(p, q, (Y - p.y()) / (q.y() - p.y()));
    r.c[0] = with_lane(r.c[0], 1, Y);
    return r;
}

// The point of edge a → b at column boundary X (X strictly between), from
// the nearer end as well.
template <int K, int W>
KORVO_LANES pvert<K, W> at_x(const pvert<K, W>& a, const pvert<K, W>& b, float X) {
    const bool from_a = std::fabs(X - a.x()) <= std::fabs(b.x() - X);
    const pvert<K, W>& p = from_a ? a : b;
    const pvert<K, W>& q = from_a ? b : a;
    pvert<K, W> r = lerp(p, q, (X - p.x()) / (q.x() - p.x()));
    r.c[0] = with_lane(r.c[0], 0, X);
    return r;
}

// Where a chain's walk through the rows stands: js, the last vertex below
// the next row's bottom (or the first vertex), and the last crossing worked
// out at a row's top, which the next row's bottom reuses (at_y of the same
// edge and height, so the same bits as working it out again).
template <int K, int W>
struct chain_walk {
    int js = 0;
    int edge = -1;  // the edge js → js + 1 that the crossing lies on, -1 for none
    float y = 0.0f;
    pvert<K, W> at{};
};

// The part of a rising chain inside the band Y0 <= Y <= Y1, in order. The
// chain is read from vertex w.js, the last one below Y0 (or its first),
// and w.js moves on to the last one below Y1, where the next band starts.
template <int K, int W>
KORVO_LANES int band(const pvert<K, W>* c, int n, float Y0, float Y1, pvert<K, W>* out,
                     chain_walk<K, W>& w) {
    int& js = w.js;
    // Most rows: one edge spans the whole band.
    if (js + 1 < n && (int(c[js].y() < Y0) & int(c[js + 1].y() > Y1))) {
        out[0] = w.edge == js && w.y == Y0 ? w.at : at_y(c[js], c[js + 1], Y0);
        out[1] = at_y(c[js], c[js + 1], Y1);
        w.edge = js;
        w.y = Y1;
        w.at = out[1];
        return 2;
    }
    int m = 0;
    for (int j = js; j < n; ++j) {
        if (j > 0) {
            const pvert<K, W>& a = c[j - 1];
            const pvert<K, W>& b = c[j];
            if (a.y() < Y0 && b.y() > Y0) out[m++] = at_y(a, b, Y0);
            if (a.y() < Y1 && b.y() > Y1) out[m++] = at_y(a, b, Y1);
        }
        if (c[j].y() >= Y0 && c[j].y() <= Y1) out[m++] = c[j];
        // Beyond Y1 no edge reaches into the band.
        if (c[j].y() > Y1) break;
    }
    while (js + 1 < n && c[js + 1].y() < Y1) ++js;
    return m;
}

// A strip's lower or upper side, left to right (x never falls): its
// points, and the area between the side and the row's bottom Y0 from its
// first point to each of them.
template <int K, int W>
struct side {
    static constexpr int kMax = 24;
    int m = 0;
    const pvert<K, W>* p[kMax];
    float area[kMax];

    KORVO_LANES void add(const pvert<K, W>* q, float Y0) {
        if (m > 0 && same_point(*p[m - 1], *q)) return;
        if (m == kMax) return;
        area[m] = m == 0 ? 0.0f : area[m - 1] + trapezoid(*p[m - 1], *q, Y0);
        p[m++] = q;
    }
    // The area between edge a → b and the height Y0.
    KORVO_LANES static float trapezoid(const pvert<K, W>& a, const pvert<K, W>& b, float Y0) {
        return 0.5f * (b.x() - a.x()) * ((a.y() - Y0) + (b.y() - Y0));
    }
};

// The strip's sides from its left boundary lb and right boundary rb (both
// rising): the lower side runs from the left boundary's lowest leftmost
// point down to its foot, across the bottom and up the right boundary to
// its lowest rightmost point; the upper side from the left boundary's
// highest leftmost point up to its top, across and down to the right
// boundary's highest rightmost point.
template <int K, int W>
KORVO_LANES void sides_of(const pvert<K, W>* lb, int ml, const pvert<K, W>* rb, int mr, float Y0,
                          side<K, W>& lower, side<K, W>& upper) {
    lower.m = upper.m = 0;
    // Most rows: each boundary is one edge from Y0 to Y1; the same points
    // in the same order as below.
    if (ml == 2 && mr == 2) {
        if (lb[1].x() < lb[0].x()) lower.add(&lb[1], Y0);
        lower.add(&lb[0], Y0);
        lower.add(&rb[0], Y0);
        if (rb[1].x() > rb[0].x()) lower.add(&rb[1], Y0);
        if (!(lb[1].x() <= lb[0].x())) upper.add(&lb[0], Y0);
        upper.add(&lb[1], Y0);
        upper.add(&rb[1], Y0);
        if (!(rb[1].x() >= rb[0].x())) upper.add(&rb[0], Y0);
        return;
    }
    int l_lo = 0, l_hi = 0, r_lo = 0, r_hi = 0;
    for (int i = 1; i < ml; ++i) {
        if (lb[i].x() < lb[l_lo].x()) l_lo = i;
        if (lb[i].x() <= lb[l_hi].x()) l_hi = i;
    }
    for (int i = 1; i < mr; ++i) {
        if (rb[i].x() > rb[r_lo].x()) r_lo = i;
        if (rb[i].x() >= rb[r_hi].x()) r_hi = i;
    }
    for (int i = l_lo; i >= 0; --i) lower.add(&lb[i], Y0);
    for (int i = 0; i <= r_lo; ++i) lower.add(&rb[i], Y0);
    for (int i = l_hi; i < ml; ++i) upper.add(&lb[i], Y0);
    for (int i = mr - 1; i >= r_hi; --i) upper.add(&rb[i], Y0);
}

// Where a vertical line x = X meets a side: the point (a vertex on the
// line, the side's end when X lies beyond it, or the crossing of the edge
// that spans X), the last vertex before it and the first after it, and
// the area under the side up to it.
template <int K, int W>
struct cut {
    pvert<K, W> at;
    int before, after;
    float area;
};

// The cut of side s at X; k is the edge to start looking from, and moves
// on (the columns are cut left to right).
template <int K, int W>
KORVO_LANES void cut_side(const side<K, W>& s, float X, float Y0, int& k, cut<K, W>& out) {
    if (!(X > s.p[0]->x())) {
        out.at = *s.p[0];
        out.before = -1;
        out.after = 1;
        out.area = 0.0f;
        return;
    }
    if (!(X < s.p[s.m - 1]->x())) {
        out.at = *s.p[s.m - 1];
        out.before = s.m - 2;
        out.after = s.m;
        out.area = s.area[s.m - 1];
        return;
    }
    while (k + 2 < s.m && !(s.p[k + 1]->x() >= X)) ++k;
    const pvert<K, W>& a = *s.p[k];
    const pvert<K, W>& b = *s.p[k + 1];
    out.before = k;
    if (b.x() == X) {
        out.at = b;
        out.after = k + 2;
        out.area = s.area[k + 1];
    } else {
        out.at = at_x(a, b, X);
        out.after = k + 1;
        out.area = s.area[k] + side<K, W>::trapezoid(a, out.at, Y0);
    }
}

// Both sides cut at one column boundary: the cut points, their sum (a
// point where the sides meet counted once) and the strip's area left of X.
template <int K, int W>
struct boundary {
    cut<K, W> lo, up;
    pvert<K, W> sum;
    int count;
    float area;
};

template <int K, int W>
KORVO_LANES void cut_boundary(const side<K, W>& lower, const side<K, W>& upper, float X, float Y0,
                              int& kl, int& ku, boundary<K, W>& b) {
    cut_side(lower, X, Y0, kl, b.lo);
    cut_side(upper, X, Y0, ku, b.up);
    b.sum = b.lo.at;
    b.count = 1;
    if (!same_point(b.lo.at, b.up.at)) {
        for (int j = 0; j < pvert<K, W>::kVectors; ++j) b.sum.c[j] += b.up.at.c[j];
        b.count = 2;
    }
    b.area = b.up.area - b.lo.area;
}

// The piece of the strip between the boundaries b0 and b1: its area (at
// most 1) and the average of its vertices (the cut points and the sides'
// vertices between them).
template <int K, int W>
KORVO_LANES float column_piece(const side<K, W>& lower, const side<K, W>& upper,
                               const boundary<K, W>& b0, const boundary<K, W>& b1, float* avg) {
    float a = b1.area - b0.area;
    if (a > 1.0f) a = 1.0f;
    if (!(a > 0.0f)) return 0.0f;
    pvert<K, W> sum = b0.sum;
    int n = b0.count + b1.count;
    for (int j = 0; j < pvert<K, W>::kVectors; ++j) sum.c[j] += b1.sum.c[j];
    for (int i = b0.lo.after; i <= b1.lo.before; ++i, ++n)
        for (int j = 0; j < pvert<K, W>::kVectors; ++j) sum.c[j] += lower.p[i]->c[j];
    for (int i = b0.up.after; i <= b1.up.before; ++i, ++n)
        for (int j = 0; j < pvert<K, W>::kVectors; ++j) sum.c[j] += upper.p[i]->c[j];
    const auto inv = splat<typename pvert<K, W>::V>(1.0f / static_cast<float>(n));
    for (int j = 0; j < pvert<K, W>::kVectors; ++j) sum.c[j] *= inv;
    values_of(sum, avg);
    return a;
}

// Twice the signed area, with coordinates taken relative to (ox, oy).
template <int K, int W>
KORVO_LANES float twice_area(const ring<K, W>& r, float ox, float oy) {
    float s = 0.0f;
    for (int i = 0; i < r.n; ++i) {
        const pvert<K, W>& p = r.p[i];
        const pvert<K, W>& q = r.p[i + 1 == r.n ? 0 : i + 1];
        s += (p.x() - ox) * (q.y() - oy) - (q.x() - ox) * (p.y() - oy);
    }
    return s;
}

// The area of a piece (at most 1) and the average of its vertex values.
template <int K, int W>
KORVO_LANES float piece(const ring<K, W>& r, float ox, float oy, float* avg) {
    if (r.n < 3) return 0.0f;
    float a = 0.5f * std::fabs(twice_area(r, ox, oy));
    if (a > 1.0f) a = 1.0f;
    if (!(a > 0.0f)) return 0.0f;
    pvert<K, W> sum;
    for (int j = 0; j < pvert<K, W>::kVectors; ++j) sum.c[j] = typename pvert<K, W>::V{};
    for (int i = 0; i < r.n; ++i)
        for (int j = 0; j < pvert<K, W>::kVectors; ++j) sum.c[j] += r.p[i].c[j];
    const auto inv = splat<typename pvert<K, W>::V>(1.0f / static_cast<float>(r.n));
    for (int j = 0; j < pvert<K, W>::kVectors; ++j) sum.c[j] *= inv;
    values_of(sum, avg);
    return a;
}

// The closed polygon: the right chain rising, the left chain falling.
template <int K, int W>
KORVO_LANES void outline(const pvert<K, W>* left, int nl, const pvert<K, W>* right, int nr,
                         ring<K, W>& r) {
    r.n = 0;
    for (int i = 0; i < nr; ++i) r.push(right[i]);
    for (int i = nl - 1; i >= 0; --i) r.push(left[i]);
    r.close();
}

// Columns c … i1 of a row, covered completely: each unit square's values
// average its four corners on the strip's bottom (bl → br) and top
// (tl → tr) edges.
template <int K, int W, class Sink>
KORVO_LANES void fill_covered(int row, int c, int i1, const pvert<K, W>& bl, const pvert<K, W>& br,
                              const pvert<K, W>& tl, const pvert<K, W>& tr, float* values,
                              Sink& sink) {
    const float bw = 1.0f / (br.x() - bl.x()), tw = 1.0f / (tr.x() - tl.x());
    using V = typename pvert<K, W>::V;
    const V half = splat<V>(0.5f);
    for (; c <= i1; ++c) {
        const float xc = static_cast<float>(c) + 0.5f;
        const V tb = splat<V>((xc - bl.x()) * bw), tt = splat<V>((xc - tl.x()) * tw);
        pvert<K, W> m;
        for (int j = 0; j < pvert<K, W>::kVectors; ++j)
            m.c[j] =
                half * (bl.c[j] + tb * (br.c[j] - bl.c[j]) + tl.c[j] + tt * (tr.c[j] - tl.c[j]));
        values_of(m, values);
        sink(c, row, 1.0f, values);
    }
}

// The pixels of one row of a polygon whose geometric left and right chains
// are lc and rc: the strip Y0 <= Y <= Y1 cut at every column boundary;
// jl and jr are where the chains' bands start (band).
template <int K, int W, class Sink>
KORVO_LANES void fill_row(int row, const pvert<K, W>* lc, int nlc, chain_walk<K, W>& jl,
                          const pvert<K, W>* rc, int nrc, chain_walk<K, W>& jr, const limits& lim,
                          float* values, Sink& sink) {
    const float Y0 = static_cast<float>(row), Y1 = Y0 + 1.0f;
    // The strip of this row: its left and right boundaries, both rising.
    pvert<K, W> lb[12], rb[12];
    const int ml = band(lc, nlc, Y0, Y1, lb, jl);
    const int mr = band(rc, nrc, Y0, Y1, rb, jr);
    if (ml == 0 || mr == 0) return;
    side<K, W> lower, upper;
    sides_of(lb, ml, rb, mr, Y0, lower, upper);
    if (lower.m < 2 || upper.m < 2) return;
    const float xmin = lower.p[0]->x(), xmax = lower.p[lower.m - 1]->x();
    const int c_first = pixel_floor(xmin);
    int c_last = pixel_floor(xmax);
    if (c_last > c_first && static_cast<float>(c_last) == xmax) --c_last;
    const int c0 = c_first > lim.col_lo() ? c_first : lim.col_lo();
    const int c1 = c_last < lim.col_hi() ? c_last : lim.col_hi();
    if (c0 > c1) return;

    // Columns i0 … i1 lie between the two boundaries over the whole
    // row height: their pixels are covered completely.
    int i0 = c1 + 1, i1 = c1;
    // (One test of the four comparisons: only a polygon's first and last
    // rows fail it.)
    const int spanned = int(lc[0].y() <= Y0) & int(rc[0].y() <= Y0) & int(lc[nlc - 1].y() >= Y1) &
                        int(rc[nrc - 1].y() >= Y1);
    if (spanned) {
        float xl = lb[0].x(), xr = rb[0].x();
        for (int i = 1; i < ml; ++i) xl = lb[i].x() > xl ? lb[i].x() : xl;
        for (int i = 1; i < mr; ++i) xr = rb[i].x() < xr ? rb[i].x() : xr;
        // A column covered completely needs a pixel's width between them.
        if (xr - xl >= 1.0f) {
            const int a = pixel_floor(std::ceil(xl)), b = pixel_floor(xr) - 1;
            i0 = a > c0 ? a : c0;
            i1 = b < c1 ? b : c1;
        }
    }

    // Each column's piece lies between the cuts of the strip's sides at its
    // two boundaries; a column's right boundary is the next one's left, so
    // neighbouring pieces share their cut points exactly, and a column is
    // cut the same wherever the sweep starts.
    int kl = 0, ku = 0;
    boundary<K, W> bounds[2];
    boundary<K, W>* b0 = &bounds[0];
    boundary<K, W>* b1 = &bounds[1];
    int c = c0 > lim.emit_lo ? c0 : lim.emit_lo;
    bool left_cut = false;  // b0 holds the cuts at column c
    while (c <= c1) {
        if (c >= i0 && c <= i1) {
            fill_covered(row, c, i1, lb[0], rb[0], lb[ml - 1], rb[mr - 1], values, sink);
            c = i1 + 1;
            left_cut = false;
            continue;
        }
        const float X0 = static_cast<float>(c);
        if (!left_cut) cut_boundary(lower, upper, X0, Y0, kl, ku, *b0);
        cut_boundary(lower, upper, X0 + 1.0f, Y0, kl, ku, *b1);
        const float cov = column_piece(lower, upper, *b0, *b1, values);
        if (cov > 0.0f) sink(c, row, cov, values);
        std::swap(b0, b1);
        left_cut = true;
        ++c;
    }
}

}  // namespace detail

// Scan-converts the polygon given by its chains (at most 8 vertices each)
// with box = min x, min y, max x, max y in whole pixels. For every pixel
// with a positive coverage: sink(column, row, coverage, values), values
// being the K averages. A polygon whose box is one pixel is written as one
// piece; its values from index keep_first on are those of the left
// chain's first vertex rather than averages (K for none). W is the width
// of the vectors a vertex is held in: 4, or 8 within a KORVO_BY_8 function.
template <int K, int W = 4, class Sink>
KORVO_LANES void fill(const int* box, int nl, const vertex<K>* left, int nr, const vertex<K>* right,
                      const limits& lim, int keep_first, Sink&& sink) {
    using pvert = detail::pvert<K, W>;
    using ring = detail::ring<K, W>;
    if (nl < 2 || nr < 2 || nl > 8 || nr > 8) return;
    float values[K] = {};
    pvert pl[8], pr[8];
    for (int i = 0; i < nl; ++i) pl[i] = detail::padded<K, W>(left[i]);
    for (int i = 0; i < nr; ++i) pr[i] = detail::padded<K, W>(right[i]);

    // One pixel: the whole polygon is the piece.
    if (box[0] == box[2] && box[1] == box[3]) {
        const int c = box[0], row = box[1];
        if (c < lim.col_lo() || c < lim.emit_lo || c > lim.col_hi() || row < lim.row_lo() ||
            row > lim.row_hi())
            return;
        ring r;
        detail::outline(pl, nl, pr, nr, r);
        const float cov = detail::piece(r, static_cast<float>(c), static_cast<float>(row), values);
        if (!(cov > 0.0f)) return;
        for (int k = keep_first; k < K; ++k) values[k] = left[0].v[k];
        sink(c, row, cov, values);
        return;
    }

    // Orientation: the chain that is geometrically on the left is "lc".
    ring whole;
    detail::outline(pl, nl, pr, nr, whole);
    const float orient = detail::twice_area(whole, whole.p[0].x(), whole.p[0].y());
    if (!(orient != 0.0f)) return;
    const pvert* lc = orient > 0.0f ? pl : pr;
    const pvert* rc = orient > 0.0f ? pr : pl;
    const int nlc = orient > 0.0f ? nl : nr;
    const int nrc = orient > 0.0f ? nr : nl;

    const int row_first = box[1] > lim.row_lo() ? box[1] : lim.row_lo();
    const int row_last = box[3] < lim.row_hi() ? box[3] : lim.row_hi();
    detail::chain_walk<K, W> jl, jr;  // where each chain's next band starts
    for (int row = row_first; row <= row_last; ++row)
        detail::fill_row(row, lc, nlc, jl, rc, nrc, jr, lim, values, sink);
}

// fill with the widest vectors in use (lanes()): where that is eight, the
// whole fill, the sink included, is built for AVX2, and a vertex of more
// than four floats takes one eight-lane vector instead of two. The pixels
// are the same to the bit either way.
#if KORVO_HAVE_BY_8
template <int K, class Sink>
KORVO_BY_8 void fill_by_8(const int* box, int nl, const vertex<K>* left, int nr,
                          const vertex<K>* right, const limits& lim, int keep_first, Sink& sink) {
    constexpr int kWidth = K + 2 > 4 ? 8 : 4;
    fill<K, kWidth>(box, nl, left, nr, right, lim, keep_first, sink);
}
#endif
template <int K, class Sink>
void fill_widest(const int* box, int nl, const vertex<K>* left, int nr, const vertex<K>* right,
                 const limits& lim, int keep_first, Sink&& sink) {
#if KORVO_HAVE_BY_8
    if (lanes() == 8) {
        fill_by_8<K>(box, nl, left, nr, right, lim, keep_first, sink);
        return;
    }
#endif
    fill<K, 4>(box, nl, left, nr, right, lim, keep_first, sink);
}

}  // namespace scan
