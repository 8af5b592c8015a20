#include "generation/hair_shaping.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "descriptions/hair_params.h"
#include "foundation/noise.h"
#include "generation/attractors.h"
#include "generation/curve_attractors.h"
#include "host/korvo_quaternion.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// --- Work records ------------------------------------------------------------
control_hair g_work[2];
int g_room[2] = {0, 0};                  // points allocated per work hair
int g_prepared = 0;                      // points asked for by the last prepare
hair_attract_curve* g_active = nullptr;  // active attractor curves of a hair
int g_active_capacity = 0;

// The attractor sets of the model being haired, and the curve attractor
// sets of the model and description. Copies of the assignment table's
// arrays; they only grow.
std::vector<hair_attract*> g_attract_sets;
std::vector<hair_curveAttract*> g_curve_sets;

// Curve-attractor work of one hair and its remembered points, emptied for
// every hair; their storage is kept, so they allocate only while growing.
hair_curveAttract_work g_curve_work;
KorvoPointArray g_remembered;

// The clump centres of the assignment being haired, in a grid.
clump_index g_clumps;

// Makes the work hair of sample s hold at least n points. The record grows
// (with fresh arrays) when a description asks for more segments than were
// prepared, so that no hair is ever cut short; only the record of that
// sample is replaced, so a hair of the other sample stays valid.
bool room_for(int s, int n) {
    if (g_room[s] >= n) return true;
    if (!g_work[s].allocate(n)) {
        g_room[s] = 0;
        return false;
    }
    g_room[s] = n;
    return true;
}

// The active-attractor table holds one curve per set of the model.
bool active_room(int n) {
    if (g_active_capacity >= n) return true;
    auto* table = new (std::nothrow) hair_attract_curve[static_cast<std::size_t>(n)];
    if (!table) return false;
    delete[] g_active;
    g_active = table;
    g_active_capacity = n;
    return true;
}

// Normalises v when it is at least 1e-5 long; a shorter vector is kept.
inline void normalise(kivVector& v) {
    v.norm();
}

// Whether v comes out of a turn through angle 0 as it went in: every term
// that the matrix adds to a component is then a zero, which leaves a
// finite non-zero component as it is. (A zero component could take the
// sign of those zeros and an infinite one give a NaN: those take the matrix.)
inline bool unturned(const kivVector& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && v.x != 0.0f &&
           v.y != 0.0f && v.z != 0.0f;
}

// v and w times the matrix of axis_rotation(axis, angle), skipping the
// matrix when it cannot change them (most hairs neither roll nor curl).
void turn_both(const kivVector& axis, float angle, kivVector& v, kivVector& w) {
    if (angle == 0.0f && std::isfinite(axis.x) && std::isfinite(axis.y) && std::isfinite(axis.z) &&
        unturned(v) && unturned(w))
        return;
    kivMatrix M;
    axis_rotation(axis, angle, M);
    v = v * M;
    w = w * M;
}

// --- Root frame ----------------------------------------------------------------

// What the walk of a hair starts from: its point count, length, growth
// direction G and bending axis B.
struct root_frame {
    int count = 2;
    float length = 0.0f;
    kivVector G, B;
};

// The point count of a hair: segments + 1 when the segments value
// truncates to 1 or more (clamped to the largest segment count), else 2.
int point_count(float segments) {
    if (!(segments >= 1.0f)) return 2;
    if (segments >= static_cast<float>(HAIR_SHAPE_MAX_SEGMENTS)) return HAIR_SHAPE_MAX_SEGMENTS + 1;
    return static_cast<int>(segments + 1.0f);
}

// Length, flip and the three root rotations (inclination, roll, polar).
// False when the hair is too short; hs's normal of the sample is negated
// for a negative length.
bool grow_root(hair_state* hs, const hair_params* hp, root_frame& rf) {
    const int s = hs->sample;
    // Length, and the flip of a negative length.
    float length = hp->length.eval(*hs) * hp->width_scale;
    kivVector& normal = s ? hs->normal_mb : hs->normal;
    const kivVector N0 = normal;
    bool flipped = false;
    if (length < 0.0f) {
        normal = -normal;
        length = -length;
        flipped = true;
    }
    if (!(length >= rf.count * 1e-5)) return false;
    rf.length = length;

    const kivVector N = normal;
    const kivVector D = s ? hs->dir_mb : hs->dir;
    const kivVector D2 = hs->dir2;
    kivVector B = D ^ N;

    // Inclination about B.
    double angle = -0.5 * kPi * hp->erectness.eval(*hs);
    if (angle < -0.5 * kPi) angle = -0.5 * kPi;
    if (angle > 0.5 * kPi) angle = 0.5 * kPi;
    kivMatrix M;
    axis_rotation(B, static_cast<float>(angle), M);
    kivVector G = N * M;

    // Roll about the surface direction.
    turn_both(D, static_cast<float>((0.5 - hp->roll.eval(*hs)) * kPi), B, G);

    // Polar turn about the normal, mirrored on left-handed frames and on
    // flipped hairs.
    double p = hp->polar.eval(*hs);
    if (N0 * (D2 ^ D) < 0.0f) p = 1.0 - p;
    if (flipped) p = 1.0 - p;
    angle = ((hs->rand[2] - 0.5) * hp->orient_var.eval(*hs) + (1.0 - p)) * 2.0 * kPi;
    M = kivMatrix();
    axis_rotation(N, static_cast<float>(angle), M);
    rf.B = B * M;
    rf.G = G * M;
    return true;
}

// Point 0: the sample's position moved along its normal by the offset.
kivPoint root_point(const hair_state* hs, const hair_params* hp) {
    const kivPoint& pos = hs->sample ? hs->pos_mb : hs->pos;
    const kivVector& n = hs->sample ? hs->normal_mb : hs->normal;
    return pos + kivPoint(n * hp->offset.eval(*hs));
}

// Root, tip and interpolated attributes of every point.
void fill_appearance(const hair_state* hs, const hair_params* hp, control_hair* hair) {
    const int count = hair->count;
    const hair_vertex root = hair_params_eval_vertex(hp, hs, 0);
    const hair_vertex tip = hair_params_eval_vertex(hp, hs, 1);
    hair->vertices[0] = root;
    hair->vertices[count - 1] = tip;
    for (int i = 1; i < count - 1; ++i)
        hair->vertices[i] =
            linterp(root, tip, static_cast<float>(i) / static_cast<float>(count - 1));
}

// The bending values of one hair, evaluated once.
struct bend_values {
    float curl_base, curl_tip, scraggle, correlation, frequency, clumpshape, clump;
    float attractors;
    const clump_centre* clump_to = nullptr;  // the clump followed, if any
    dnoise3_line* own = nullptr;             // the hair's own scraggle line; null: plain dnoise3
    int active = 0;                          // active attractor curves
    bool curves = false;                     // curve attractors apply
};

// The scraggle curve that all hairs share, dnoise3 at (ft, 0, 0). The hairs
// of a description ask for the same few points (one per segment), so the
// last ones asked for are kept, keyed by the bits of ft. A point may sit in
// either slot of a pair, so that two points whose keys fall on one pair do
// not keep evicting each other.
kivVector shared_scraggle(float ft) {
    struct entry {
        std::uint32_t bits = 0;
        bool set = false;
        kivVector w;
    };
    static entry cache[128];
    std::uint32_t bits;
    std::memcpy(&bits, &ft, sizeof bits);
    // Every bit of the key moves the slot: segment positions such as 1/8 and
    // 5/8 differ in a few high mantissa bits only.
    const std::uint32_t slot = ((bits * 0x9E3779B1u) >> 25) & ~1u;
    entry* pair = &cache[slot];
    for (int k = 0; k < 2; ++k)
        if (pair[k].set && pair[k].bits == bits) return pair[k].w;
    // The newer point goes first; the one it displaces moves to the second slot.
    pair[1] = pair[0];
    pair[0].bits = bits;
    pair[0].set = true;
    pair[0].w = dnoise3(kivVector(ft, 0.0f, 0.0f));
    return pair[0].w;
}

// One segment's direction: scraggle noise, curl, clump and attractor pulls.
kivVector segment_direction(const hair_state* hs, const bend_values& b, root_frame& rf,
                            const kivPoint& prev, int i, int count, float seglen) {
    const float t = static_cast<float>(i - 1) / static_cast<float>(count - 1);
    kivVector dir = rf.G;

    // Scraggle noise: a curve shared by all hairs blended with this hair's.
    const float ft = t * b.frequency;
    const kivVector W1 = shared_scraggle(ft);
    const kivVector W2 =
        b.own ? b.own->at(ft)
              : dnoise3(kivVector(ft, static_cast<float>(hs->rand[3] * 10000.0), 0.0f));
    kivVector S = W2 * (1.0f - b.correlation) + W1 * b.correlation;
    normalise(S);
    dir = dir * (1.0f - b.scraggle) + S * b.scraggle;
    normalise(dir);

    // Curl: turns this step and every later one about the bending axis.
    const float c = b.curl_base + (b.curl_tip - b.curl_base) * (3.0f * t * t - 2.0f * t * t * t);
    turn_both(rf.B, static_cast<float>(((c - 0.5) * 2.0 * kPi) / (count - 1)), dir, rf.G);

    const float s = static_cast<float>(i) * seglen;
    // Clump pull towards the centre hair at the same distance.
    if (b.clump_to) {
        const float w = std::pow(s / rf.length, b.clumpshape);
        if (w > 0.0f) {
            const kivPoint target = b.clump_to->root + kivPoint(b.clump_to->direction * s);
            kivVector pull(prev, target);
            normalise(pull);
            dir = dir + pull * (w * (b.clump * 5.0f));
            normalise(dir);
        }
    }
    // Attractor pull.
    if (b.active > 0) {
        kivVector sum;
        if (attractdb_pull(g_active, b.active, prev, s, rf.length, sum)) {
            dir = dir + sum * b.attractors;
            normalise(dir);
        }
    }
    return dir;
}

// The step from prev: plain, or bent by the curve attractors.
kivPoint segment_step(const bend_values& b, const kivPoint& prev, kivVector dir, float s,
                      float length, float seglen) {
    if (b.curves) {
        const kivPoint candidate = prev + kivPoint(dir * seglen);
        kivVector pull;
        if (curveAttractdb_pull(g_curve_work, prev, candidate, s, length, g_remembered, pull)) {
            if (g_curve_work.type == 0) return prev + kivPoint(pull);  // the rotated step
            dir = dir + pull * b.attractors;
            normalise(dir);
        }
    }
    return prev + kivPoint(dir * seglen);
}

}  // namespace

// --- Work records ------------------------------------------------------------

bool hair_shape_prepare(int max_segments) {
    hair_shape_release();
    if (max_segments > HAIR_SHAPE_MAX_SEGMENTS) max_segments = HAIR_SHAPE_MAX_SEGMENTS;
    const int points = (max_segments > 0 ? max_segments : 0) + 1;
    if (!room_for(0, points) || !room_for(1, points)) {
        hair_shape_release();
        return false;
    }
    g_prepared = points;
    const int curves = attractdb_count();
    if (curves > 0 && !active_room(curves)) {
        hair_shape_release();
        return false;
    }
    return true;
}

void hair_shape_release() {
    for (int s = 0; s < 2; ++s) {
        g_work[s].release();
        g_room[s] = 0;
    }
    g_prepared = 0;
    delete[] g_active;
    g_active = nullptr;
    g_active_capacity = 0;
    // The set lists and the curve work are the tables' scratch: free them too.
    std::vector<hair_attract*>().swap(g_attract_sets);
    std::vector<hair_curveAttract*>().swap(g_curve_sets);
    std::vector<hair_curveAttract_curve>().swap(g_curve_work.curves);
    g_curve_work.type = -1;
    g_remembered = KorvoPointArray();
    g_clumps = clump_index();
}

control_hair* hair_shape_work_hair(int sample) {
    const int s = sample ? 1 : 0;
    if (g_room[s] == 0) return nullptr;
    return &g_work[s];
}

int hair_shape_capacity() {
    return g_prepared;
}

void hair_shape_set_attractors(hair_attract* const* sets, int n) {
    g_attract_sets.clear();
    if (sets && n > 0) g_attract_sets.assign(sets, sets + n);
}

void hair_shape_set_curve_attractors(hair_curveAttract* const* sets, int n) {
    g_curve_sets.clear();
    if (sets && n > 0) g_curve_sets.assign(sets, sets + n);
}

// --- Shaping -----------------------------------------------------------------

void axis_rotation(const kivVector& a, float angle, kivMatrix& m) {
    const double c = std::cos(angle), s = std::sin(angle), k = 1.0 - c;
    const double x = a.x, y = a.y, z = a.z;
    m[0][0] = static_cast<float>(k * x * x + c);
    m[0][1] = static_cast<float>(k * x * y - s * z);
    m[0][2] = static_cast<float>(k * x * z + s * y);
    m[1][0] = static_cast<float>(k * x * y + s * z);
    m[1][1] = static_cast<float>(k * y * y + c);
    m[1][2] = static_cast<float>(k * y * z - s * x);
    m[2][0] = static_cast<float>(k * x * z - s * y);
    m[2][1] = static_cast<float>(k * y * z + s * x);
    m[2][2] = static_cast<float>(k * z * z + c);
}

control_hair* hair_shape(hair_state* hs, const clump_centre* centres, int n, float clump_radius) {
    const hair_params* hp = hs->params;
    const int s = hs->sample ? 1 : 0;
    hs->sample = s;

    // 1. The point count, into the work record of the sample.
    root_frame rf;
    rf.count = point_count(hp->segments.eval(*hs));
    if (!room_for(s, rf.count)) return nullptr;
    control_hair* hair = &g_work[s];
    hair->count = rf.count;

    // 2-9. Length and the root rotations; too short a hair ends here.
    if (!grow_root(hs, hp, rf)) return nullptr;
    fill_appearance(hs, hp, hair);

    // 10. The bending values.
    bend_values b;
    b.curl_base = hp->curl_base.eval(*hs);
    b.curl_tip = hp->curl_tip.eval(*hs);
    b.scraggle = hp->scraggle.eval(*hs);
    b.correlation = hp->correlation.eval(*hs);
    b.frequency = hp->frequency.eval(*hs);
    b.clumpshape = hp->clumpshape.eval(*hs);
    b.clump = hp->clump.eval(*hs);

    // 11-14. Root, active attractors, clump and curve attractors.
    kivPoint* pts = hair->points;
    pts[0] = root_point(hs, hp);
    b.attractors = hp->attractors.eval(*hs);
    const int nsets = static_cast<int>(g_attract_sets.size());
    if (b.attractors > 0.0f && nsets > 0 && active_room(nsets)) {
        b.active = attractdb_setup_hair(g_attract_sets.data(), nsets, *hs, pts[0], rf.length,
                                        g_active, g_active_capacity);
    }
    if (n > 0 && b.clump * 5.0f != 0.0f) {
        int k;
        try {
            g_clumps.hold(centres, n);
            k = g_clumps.nearest(pts[0], clump_radius);
        } catch (const std::bad_alloc&) {
            // No room for the grid: the plain search gives the same centre.
            g_clumps = clump_index();
            k = hair_shape_select_clump(pts[0], centres, n, clump_radius);
        }
        if (k >= 0) b.clump_to = &centres[k];
    }
    g_curve_work.reset();
    g_remembered.clear();
    if (b.attractors > 0.0f && !g_curve_sets.empty()) {
        b.curves =
            curveAttractdb_setup_hair(g_curve_sets.data(), static_cast<int>(g_curve_sets.size()),
                                      *hs, pts[0], rf.length, g_curve_work) > 0;
    }

    // 15-16. The segment walk. The hair's scraggle noise lies on one line.
    dnoise3_line own(static_cast<float>(hs->rand[3] * 10000.0), 0.0f);
    b.own = &own;
    const float seglen = rf.length / static_cast<float>(rf.count - 1);
    for (int i = 1; i < rf.count; ++i) {
        const kivVector dir = segment_direction(hs, b, rf, pts[i - 1], i, rf.count, seglen);
        pts[i] =
            segment_step(b, pts[i - 1], dir, static_cast<float>(i) * seglen, rf.length, seglen);
    }

    // 17. The curve-attractor work is emptied for the next hair.
    g_curve_work.reset();
    g_remembered.clear();
    return hair;
}

control_hair* hair_shape_replay(hair_state* hs, const kivPoint* points, int count, bool flipped) {
    const int s = hs->sample ? 1 : 0;
    hs->sample = s;
    if (count < 2 || !room_for(s, count)) return nullptr;
    control_hair* hair = &g_work[s];
    hair->count = count;
    // The flip of a negative length comes before the attributes, as in
    // grow_root.
    if (flipped) {
        kivVector& normal = s ? hs->normal_mb : hs->normal;
        normal = -normal;
    }
    fill_appearance(hs, hs->params, hair);
    for (int i = 0; i < count; ++i) hair->points[i] = points[i];
    return hair;
}

namespace {

// The factor by which axis_rotation about an axis of squared length a2 can
// lengthen a vector: 1 for an axis no longer than 1 (a rotation, or one
// that shortens), else 2 a2 - 1 (along the axis at a half turn).
float rotation_stretch(float a2) {
    return a2 > 1.0f ? 2.0f * a2 - 1.0f : 1.0f;
}

}  // namespace

bool hair_shape_reach(const hair_state& hs, kivPoint& centre, float& radius, float& max_width) {
    const hair_params* hp = hs.params;
    if (hp == nullptr) return false;
    if (hp->attractors.eval(hs) > 0.0f && !g_curve_sets.empty()) return false;
    const int s = hs.sample ? 1 : 0;

    // The length and root of grow_root and root_point; a negative length
    // flips the normal the offset moves along.
    float length = hp->length.eval(hs) * hp->width_scale;
    const kivVector& N = s ? hs.normal_mb : hs.normal;
    const kivVector& D = s ? hs.dir_mb : hs.dir;
    const kivVector n = length < 0.0f ? -N : N;
    length = std::fabs(length);
    const kivPoint& pos = s ? hs.pos_mb : hs.pos;
    centre = pos + kivPoint(n * hp->offset.eval(hs));

    // Each step is a normalised direction (or one shorter than 1e-5) turned
    // by the curl about the bending axis B = D x N, itself turned about D and
    // N: rotations keep lengths when these axes are unit vectors, and can
    // stretch by rotation_stretch when they are not.
    const float d2 = D.sqrd_length(), n2 = N.sqrd_length();
    const float b2 = d2 * n2 * rotation_stretch(d2) * rotation_stretch(d2) * rotation_stretch(n2) *
                     rotation_stretch(n2);
    const float reach = length * rotation_stretch(b2);

    // Margins: a relative one for the normalised steps, and one per point
    // for the rounding of coordinates as large as the root's.
    const int count = point_count(hp->segments.eval(hs));
    const float size =
        std::fmax(std::fmax(std::fabs(centre.x), std::fabs(centre.y)), std::fabs(centre.z)) + reach;
    radius = reach * 1.001f + static_cast<float>(count + 2) * size * 4e-7f + 1e-6f;

    // The widths of fill_appearance: root and tip, and between them.
    const float w0 = hp->width_base.eval(hs) * hp->width_scale;
    const float w1 =
        (hp->width_tip.defined() ? hp->width_tip : hp->width_base).eval(hs) * hp->width_scale;
    max_width = std::fmax(std::fabs(w0), std::fabs(w1)) * 1.0001f;
    return std::isfinite(radius) && std::isfinite(max_width) && std::isfinite(centre.x) &&
           std::isfinite(centre.y) && std::isfinite(centre.z);
}

bool hair_shape_clump_centre(hair_state* hs, clump_centre& out) {
    const hair_params* hp = hs->params;
    hs->sample = hs->sample ? 1 : 0;
    root_frame rf;
    rf.count = point_count(hp->segments.eval(*hs));
    if (!grow_root(hs, hp, rf)) return false;
    out.root = root_point(hs, hp);
    out.direction = rf.G;
    return true;
}

int hair_shape_select_clump(const kivPoint& root, const clump_centre* centres, int n,
                            float radius) {
    int best = -1;
    float best_d2 = 0.0f;
    const float r2 = radius * radius;
    for (int i = 0; i < n; ++i) {
        const kivPoint d = centres[i].root - root;
        if (std::fabs(d.x) > radius || std::fabs(d.y) > radius || std::fabs(d.z) > radius) continue;
        const float d2 = d.x * d.x + d.y * d.y + d.z * d.z;
        if (d2 > r2) continue;
        if (best < 0 || d2 < best_d2) {
            best = i;
            best_d2 = d2;
        }
    }
    return best;
}

// --- Clump index -------------------------------------------------------------

namespace {

// Fewer centres than this are searched one by one.
constexpr int kGridFrom = 16;
// Relative and absolute slack of the stopping bound: far larger than the
// rounding of a float squared distance, so that a centre the search stops
// before is surely farther than the best one found.
constexpr double kSlack = 1e-4;
constexpr double kTiny = 1e-30;

inline double coord(const kivPoint& p, int k) {
    return k == 0 ? p.x : k == 1 ? p.y : p.z;
}

}  // namespace

bool clump_index::hold(const clump_centre* centres, int n) {
    n = centres ? std::max(n, 0) : 0;
    if (static_cast<std::size_t>(n) == centres_.size() &&
        (n == 0 ||
         std::memcmp(centres, centres_.data(), static_cast<std::size_t>(n) * sizeof *centres) == 0))
        return false;
    centres_.assign(centres, centres + n);
    grid_ = false;
    start_.clear();
    order_.clear();

    // The bounds of the roots; a coordinate that is not finite, or too few
    // centres, leave the one-by-one search.
    double lo[3], hi[3];
    for (int k = 0; k < 3; ++k) lo[k] = hi[k] = n > 0 ? coord(centres[0].root, k) : 0.0;
    for (const clump_centre& c : centres_) {
        for (int k = 0; k < 3; ++k) {
            const double v = coord(c.root, k);
            if (!std::isfinite(v)) return true;
            lo[k] = std::min(lo[k], v);
            hi[k] = std::max(hi[k], v);
        }
    }
    if (n < kGridFrom) return true;

    // Centres grow on surfaces: about sqrt(n / 8) cells along the longest
    // side puts a few in each cell that a surface crosses; at most 4n cells.
    double extent = 0.0, reach = 0.0;
    for (int k = 0; k < 3; ++k) {
        extent = std::max(extent, hi[k] - lo[k]);
        reach = std::max({reach, std::fabs(lo[k]), std::fabs(hi[k])});
    }
    const int m = std::max(1, static_cast<int>(std::min(std::sqrt(n / 8.0), std::cbrt(4.0 * n))));
    const double cell = extent / m;
    // Cells far smaller than the coordinates would be placed with rounding
    // errors that the stopping bound does not allow for.
    if (!(cell > 1e-12) || reach / cell > 1e8) return true;
    std::size_t cells = 1;
    for (int k = 0; k < 3; ++k) {
        lo_[k] = lo[k];
        dim_[k] = std::min(m, static_cast<int>((hi[k] - lo[k]) / cell) + 1);
        cells *= static_cast<std::size_t>(dim_[k]);
    }
    cell_ = cell;

    // Counting sort of the indices by cell, ascending within each cell.
    std::vector<int> cell_of(static_cast<std::size_t>(n));
    start_.assign(cells + 1, 0);
    for (int i = 0; i < n; ++i) {
        int at[3];
        for (int k = 0; k < 3; ++k) {
            const double t = (coord(centres_[i].root, k) - lo_[k]) / cell_;
            at[k] = static_cast<int>(std::min(std::max(t, 0.0), dim_[k] - 1.0));
        }
        cell_of[i] = (at[2] * dim_[1] + at[1]) * dim_[0] + at[0];
        ++start_[cell_of[i] + 1];
    }
    for (std::size_t c = 0; c < cells; ++c) start_[c + 1] += start_[c];
    order_.resize(static_cast<std::size_t>(n));
    std::vector<int> fill(start_.begin(), start_.end() - 1);
    for (int i = 0; i < n; ++i) order_[fill[cell_of[i]]++] = i;
    grid_ = true;
    return true;
}

// Centre i against the best so far, with the plain search's tests; an
// equally near centre wins when its index is lower.
void clump_index::consider(int i, const kivPoint& root, float radius, int& best,
                           float& best_d2) const {
    const kivPoint d = centres_[i].root - root;
    if (std::fabs(d.x) > radius || std::fabs(d.y) > radius || std::fabs(d.z) > radius) return;
    const float d2 = d.x * d.x + d.y * d.y + d.z * d.z;
    if (d2 > radius * radius) return;
    if (best < 0 || d2 < best_d2 || (d2 == best_d2 && i < best)) {
        best = i;
        best_d2 = d2;
    }
}

void clump_index::search_ring(int r, const int* at, const kivPoint& root, float radius, int& best,
                              float& best_d2) const {
    const int z0 = std::max(at[2] - r, 0), z1 = std::min(at[2] + r, dim_[2] - 1);
    const int y0 = std::max(at[1] - r, 0), y1 = std::min(at[1] + r, dim_[1] - 1);
    for (int z = z0; z <= z1; ++z) {
        for (int y = y0; y <= y1; ++y) {
            // Inside the ring's faces in z and y only its two x ends belong to it.
            const bool face = z == at[2] - r || z == at[2] + r || y == at[1] - r || y == at[1] + r;
            const int step = face || r == 0 ? 1 : 2 * r;
            for (int x = at[0] - r; x <= at[0] + r; x += step) {
                if (x < 0 || x >= dim_[0]) continue;
                const int c = (z * dim_[1] + y) * dim_[0] + x;
                for (int e = start_[c]; e < start_[c + 1]; ++e)
                    consider(order_[e], root, radius, best, best_d2);
            }
        }
    }
}

int clump_index::nearest(const kivPoint& root, float radius) const {
    const int n = static_cast<int>(centres_.size());
    if (!grid_ || !std::isfinite(root.x) || !std::isfinite(root.y) || !std::isfinite(root.z))
        return hair_shape_select_clump(root, centres_.data(), n, radius);
    int at[3];
    for (int k = 0; k < 3; ++k) {
        const double t = (coord(root, k) - lo_[k]) / cell_;
        at[k] = static_cast<int>(std::min(std::max(t, 0.0), dim_[k] - 1.0));
    }
    // Rings of cells outwards until every centre left lies farther than the
    // best one (or than the radius, when no centre is within it yet). A
    // NaN radius bounds nothing.
    const float r2 = radius * radius;
    int best = -1;
    float best_d2 = 0.0f;
    for (int r = 0;; ++r) {
        search_ring(r, at, root, radius, best, best_d2);
        bool all = true;
        for (int k = 0; k < 3; ++k) all = all && at[k] - r <= 0 && at[k] + r >= dim_[k] - 1;
        if (all) break;
        // A cell of a later ring is at least r cells from the root.
        const double gap = r * cell_, lower = gap * gap * (1.0 - kSlack);
        const double bound = best >= 0 ? best_d2 : r2;
        if (!(best < 0 && radius != radius) && lower > bound * (1.0 + kSlack) + kTiny) break;
    }
    return best;
}
