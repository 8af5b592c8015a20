#include "generation/curve_attractors.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "descriptions/hair_params.h"
#include "generation/attract_support.h"
#include "descriptions/hair_records.h"

using attract_detail::name_text;

namespace {

// The sets, and the nearest-control search over their roots.
attract_detail::named_sets<hair_curveAttract, CURVE_ATTRACT_BUCKETS> g_table;
attract_detail::nearest_roots<double> g_nearest;

// Looks the control's curve up and takes its root and reference direction.
void resolve(hair_curveAttract_control& c) {
    c.path = korvo_curve_find(name_text(c.name));
    c.root = KorvoPoint();
    c.direction = KorvoVector();
    c.valid = c.path.isValid();
    if (!c.valid) return;
    c.root = c.path.firstControlVertex();
    c.path.referenceDirection(c.direction);
}

KorvoVector to_korvo(const kivVector& v) {
    return {v.x, v.y, v.z};
}
KorvoPoint to_korvo_point(const kivPoint& p) {
    return {p.x, p.y, p.z};
}
kivVector to_kiv(const KorvoVector& v) {
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

// f^power, or 1 - f^-power for a negative power.
double along_weight(double f, double power) {
    return power >= 0.0 ? std::pow(f, power) : 1.0 - std::pow(f, -power);
}

}  // namespace

// --- hair_curveAttract -----------------------------------------------------------------

hair_curveAttract::hair_curveAttract(hair_name* n) : name(names_use(n)) {}

hair_curveAttract::~hair_curveAttract() {
    alloc_controls(0);
    valid = 0;
    names_remove(name);
}

int hair_curveAttract::alloc_controls(int n) {
    for (int i = 0; i < nb_controls; ++i) names_remove(controls[i].name);
    delete[] controls;
    controls = nullptr;
    nb_controls = 0;
    if (n < 0 || n > INT16_MAX) return 0;
    if (n > 0) {
        controls = new (std::nothrow) hair_curveAttract_control[static_cast<std::size_t>(n)];
        if (!controls) return 0;
    }
    nb_controls = static_cast<std::int16_t>(n);
    valid = 1;
    return 1;
}

int hair_curveAttract::set_control(int i, hair_name* curve) {
    if (i < 0 || i >= nb_controls) return 0;
    hair_curveAttract_control& c = controls[i];
    hair_name* old = c.name;
    c.name = curve ? names_use(curve) : nullptr;
    names_remove(old);
    resolve(c);
    return 1;
}

// --- The table ---------------------------------------------------------------------------

int curveAttractdb_init() {
    g_table.clear();
    return 1;
}

hair_curveAttract* curveAttractdb_add(hair_name* name) {
    return g_table.add(name);
}

hair_curveAttract* curveAttractdb_get(const hair_name* name) {
    return g_table.get(name);
}

int curveAttractdb_count() {
    return g_table.count;
}

int curveAttractdb_frame_init() {
    // Controls are resolved when they are named: nothing to gather.
    return 1;
}

void curveAttractdb_done() {
    g_table.clear();
    g_nearest.release();
}

// --- Per hair ---------------------------------------------------------------------------------

bool curveAttractdb_applies(const hair_curveAttract* c, const hair_state& hs, float length) {
    return c->valid && c->nb_controls != 0 && length >= c->len_threshold.eval(hs) &&
           c->influence.eval(hs) != 0.0f;
}

int curveAttractdb_choose(const hair_curveAttract* c, const hair_state& hs, const kivPoint& root,
                          hair_curveAttract_work& work) {
    // The type comes from the last set that applies, whether or not it
    // finds a control within its radius.
    work.type = c->type;
    if (c->closest_nb <= 0 || !g_nearest.reserve(c->closest_nb)) return 0;
    // 1. The nearest valid control roots within the radius, in double
    //    precision.
    const int found = g_nearest.find(
        c->nb_controls,
        [c](int i) {
            const hair_curveAttract_control& control = c->controls[i];
            return control.valid ? &control.root : nullptr;
        },
        to_korvo_point(root), c->radius.eval(hs), c->closest_nb);
    if (found == 0) return 0;
    // 2. Weights as for attractors, and their sum for the shares.
    double sum = 0.0;
    for (int k = 0; k < found; ++k) sum += g_nearest.weight(k);
    // Controls that all sit on the root weigh nothing: they share equally.
    const auto share_of = [&](int k) {
        return sum > 0.0 ? g_nearest.weight(k) / sum : 1.0 / found;
    };
    // 3. With several controls, the offset of their weighted root average
    //    from the surface of the first one.
    KorvoVector offset;
    if (found >= 2) {
        KorvoPoint A(0.0, 0.0, 0.0);
        for (int k = 0; k < found; ++k) {
            const KorvoPoint& p = c->controls[g_nearest.index(k)].root;
            A += KorvoVector(p.x, p.y, p.z) * share_of(k);
        }
        KorvoPoint K;
        if (c->controls[g_nearest.index(0)].path.closestPoint(A, K)) offset = A - K;
    }
    // 4. One record per chosen control.
    const float scale = hs.params ? hs.params->width_scale : 1.0f;
    hair_curveAttract_curve rec;
    rec.valid = 1;
    rec.influence = c->influence.eval(hs) * 5.0f;
    rec.len_threshold = c->len_threshold.eval(hs) * scale;
    rec.len_beg_interp = c->len_beg_interp.eval(hs) * scale;
    rec.len_end_interp = c->len_end_interp.eval(hs) * scale;
    rec.power = c->power.eval(hs) * scale;
    rec.type = c->type;
    rec.offset = offset;
    for (int k = 0; k < found; ++k) {
        rec.control = &c->controls[g_nearest.index(k)];
        rec.weight = g_nearest.weight(k);
        rec.share = share_of(k);
        work.curves.push_back(rec);
    }
    return found;
}

int curveAttractdb_setup_hair(hair_curveAttract* const* sets, int n, const hair_state& hs,
                              const kivPoint& root, float length, hair_curveAttract_work& work) {
    work.reset();
    for (int i = 0; i < n; ++i) {
        if (sets[i] && curveAttractdb_applies(sets[i], hs, length))
            curveAttractdb_choose(sets[i], hs, root, work);
    }
    return work.count();
}

bool curveAttractdb_pull(const hair_curveAttract_work& work, const kivPoint& p_prev,
                         const kivPoint& p_cur, float s, float L, KorvoPointArray& remembered,
                         kivVector& pull) {
    // 1. The first record decides whether this segment is attracted.
    if (work.curves.empty()) return false;
    const hair_curveAttract_curve& first = work.curves.front();
    if (!first.valid || first.len_threshold >= L || s < first.len_beg_interp ||
        s > first.len_end_interp)
        return false;
    const double f = static_cast<double>(s) / L;
    const int n = work.count();
    const KorvoPoint prev = to_korvo_point(p_prev);
    // 2. Each curve at the same relative length.
    const auto point_on = [f](const hair_curveAttract_curve& r) {
        return r.control->path.pointAtParam(f * r.control->path.domainEnd());
    };
    if (work.type != 0) {
        // 3. Global: towards the curves' points.
        KorvoVector v;
        if (n == 1) {
            v = point_on(first) - prev;
        } else {
            for (const hair_curveAttract_curve& r : work.curves)
                v += (point_on(r) - r.offset - prev) * r.share;
        }
        const double w = along_weight(f, first.power);
        if (!(w > 0.0)) return false;
        pull = to_kiv(v.normal() * (w * first.influence));
        return true;
    }
    // 4. Local: turn the step as the curves turn from their reference
    //    directions.
    while (remembered.length() < static_cast<unsigned int>(n))
        remembered.append(work.curves[remembered.length()].control->path.firstControlVertex());
    KorvoQuaternion Q;
    for (int i = 0; i < n; ++i) {
        const hair_curveAttract_curve& r = work.curves[i];
        const KorvoPoint P = point_on(r);
        const KorvoVector D = (P - remembered[i]).normal();
        KorvoQuaternion q(r.control->direction, D);
        KorvoVector axis;
        double angle = 0.0;
        q.getAxisAngle(axis, angle);
        q.setAxisAngle(axis, angle * std::min(1.0, r.influence / 5.0));
        q.normalizeIt();
        if (n > 1) q.scaleIt(r.share);
        remembered[i] = P;
        Q = i == 0 ? q : slerp(Q, q, 0.5).normal();
    }
    pull = to_kiv(rotateBy(to_korvo(kivVector(p_prev, p_cur)), Q));
    return true;
}
