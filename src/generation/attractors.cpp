#include "generation/attractors.h"

#include <cmath>
#include <cstdio>
#include <new>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "generation/attract_support.h"
#include "generation/curve_attractors.h"
#include "descriptions/hair_records.h"
#include "geometry/model_database.h"

using attract_detail::name_text;

namespace {

// The sets, and the nearest-curve search over their guide roots.
attract_detail::named_sets<hair_attract, ATTRACT_BUCKETS> g_table;
attract_detail::nearest_roots<float> g_nearest;

// The assignment table, below this layer, stores the sets of both kinds
// and reads their names through these.
const hair_name* attract_name(const void* set) {
    return static_cast<const hair_attract*>(set)->name;
}
const hair_name* curve_attract_name(const void* set) {
    return static_cast<const hair_curveAttract*>(set)->name;
}
[[maybe_unused]] const bool g_names_registered =
    assdb_register_set_names(attract_name, curve_attract_name);

// --- Gathering ------------------------------------------------------------------

// Checks control c against the chosen list; returns its curve count, or -1
// (with a warning) when it cannot be used.
int control_curves(const hair_attract_control& c, int which) {
    for (hair_name* n : c.names) {
        if (!n) return -1;
    }
    bool points = false;
    int count = 0;
    for (int k = 0; k < 3; ++k) {
        const hair_model* m = mdldb_get_model(c.names[k], which);
        if (!m) {
            std::printf("WARNING: attractor references inexistent model: %s\n",
                        name_text(c.names[k]));
            return -1;
        }
        const hair_datapoints* dp = m->datapoints();
        if (k == 0) {
            points = dp != nullptr;
            count = dp ? dp->count : 1;
        } else if ((dp != nullptr) != points) {
            std::printf("WARNING: attractor references inconsistent model types: %s\n",
                        name_text(c.names[k]));
            return -1;
        } else if (dp && dp->count != count) {
            std::printf("WARNING: attractor references inconsistent datapoint models: %s\n",
                        name_text(c.names[k]));
            return -1;
        }
    }
    return count;
}

// Copies the guide points of a valid control into the three sets of the
// list from offset.
void gather_control(const hair_attract_control& c, int which, hair_datapoints* const sets[3],
                    int offset) {
    for (int k = 0; k < 3; ++k) {
        const hair_model* m = mdldb_get_model(c.names[k], which);
        hair_datapoints* to = sets[k];
        if (const hair_datapoints* dp = m->datapoints()) {
            for (int i = 0; i < dp->count; ++i) {
                to->set_point(offset + i, dp->positions[i], dp->normals[i], dp->directions[i]);
                to->set_id(offset + i, dp->ids[i]);
            }
        } else {
            const float* t = m->matrix.m;
            to->set_point(offset, kivPoint(t[12], t[13], t[14]), kivVector(), kivVector());
        }
    }
}

int frame_init_set(hair_attract* a, int which) {
    const int list = which == 0 ? 0 : 1;
    // 1. Validate the controls and count their curves.
    int total = 0;
    for (int i = 0; i < a->nb_controls; ++i) {
        const int n = control_curves(a->controls[i], which);
        a->controls[i].valid = n >= 0;
        if (n > 0) total += n;
    }
    // 2. The second list must hold as many curves as the current one.
    if (list == 1) {
        const hair_datapoints* roots = a->points[0][0];
        if (total != (roots ? roots->count : 0)) {
            std::printf("WARNING: invalid hair attractor (%s)\n", name_text(a->name));
            a->valid_frame = false;
            return 0;
        }
    }
    // 3. Size the three point sets.
    for (hair_datapoints*& set : a->points[list]) {
        if (!set) set = new (std::nothrow) hair_datapoints;
        if (!set || !set->alloc(total)) {
            a->valid_frame = false;
            return 0;
        }
    }
    // 4. Copy the guide points, control by control.
    int offset = 0;
    for (int i = 0; i < a->nb_controls; ++i) {
        const hair_attract_control& c = a->controls[i];
        if (!c.valid) continue;
        gather_control(c, which, a->points[list], offset);
        const hair_datapoints* dp = mdldb_get_model(c.names[0], which)->datapoints();
        offset += dp ? dp->count : 1;
    }
    a->valid_frame = true;
    return 1;
}

}  // namespace

// --- hair_attract ---------------------------------------------------------------------

hair_attract::hair_attract(hair_name* n) : name(names_use(n)) {}

hair_attract::~hair_attract() {
    alloc_controls(0);
    for (auto& list : points) {
        for (hair_datapoints*& set : list) {
            delete set;
            set = nullptr;
        }
    }
    names_remove(name);
}

int hair_attract::alloc_controls(int n) {
    for (int i = 0; i < nb_controls; ++i) {
        for (hair_name*& m : controls[i].names) names_remove(m);
    }
    delete[] controls;
    controls = nullptr;
    nb_controls = 0;
    if (n <= 0 || n > INT16_MAX) return n == 0 ? 1 : 0;
    controls = new (std::nothrow) hair_attract_control[static_cast<std::size_t>(n)];
    if (!controls) return 0;
    nb_controls = static_cast<std::int16_t>(n);
    return 1;
}

int hair_attract::set_control(int i, hair_name* root, hair_name* middle, hair_name* tip) {
    if (i < 0 || i >= nb_controls) return 0;
    hair_attract_control& c = controls[i];
    hair_name* given[3] = {root, middle, tip};
    for (int k = 0; k < 3; ++k) {
        hair_name* old = c.names[k];
        c.names[k] = given[k] ? names_use(given[k]) : nullptr;
        names_remove(old);
    }
    return 1;
}

// --- The table ---------------------------------------------------------------------------

int attractdb_init() {
    g_table.clear();
    return 1;
}

hair_attract* attractdb_add(hair_name* name) {
    return g_table.add(name);
}

hair_attract* attractdb_get(const hair_name* name) {
    return g_table.get(name);
}

int attractdb_count() {
    return g_table.count;
}

int attractdb_frame_init(int which) {
    for (hair_attract* head : g_table.buckets) {
        for (hair_attract* a = head; a; a = a->next) {
            // The scratch is sized here so that shaping allocates nothing.
            g_nearest.reserve(a->closest_nb);
            if (!frame_init_set(a, which)) return 0;
        }
    }
    return 1;
}

void attractdb_done() {
    g_table.clear();
    g_nearest.release();
}

void attractdb_dump() {
    std::puts("\n*** attract database ***");
    std::printf("   has a hash table of %d buckets\n", ATTRACT_BUCKETS);
    const auto field = [](const char* label, const hp_scalar& value) {
        std::printf("      %s = ", label);
        value.print();
        std::printf(" ;\n");
    };
    // Every bucket is announced, empty ones included.
    for (int b = 0; b < ATTRACT_BUCKETS; ++b) {
        std::printf("   bucket %d contains...\n", b);
        for (const hair_attract* a = g_table.buckets[b]; a; a = a->next) {
            std::printf("   attractor %s {\n", name_text(a->name));
            std::printf("      valid_frame = %d\n", a->valid_frame ? 1 : 0);
            std::printf("      closest_nb = %d\n", a->closest_nb);
            std::printf("      type = %s\n", a->type == 1 ? "global" : "local");
            field("influence", a->influence);
            field("radius", a->radius);
            field("len_threshold", a->len_threshold);
            field("len_beg_interp", a->len_beg_interp);
            field("len_end_interp", a->len_end_interp);
            field("power", a->power);
            std::printf("      nb_controls = %d\n", a->nb_controls);
            for (int i = 0; i < a->nb_controls; ++i) {
                hair_name* const* n = a->controls[i].names;
                if (!n[0] || !n[1] || !n[2]) break;
                std::printf("      control %d = %s %s %s\n", i, name_text(n[0]), name_text(n[1]),
                            name_text(n[2]));
            }
            std::printf("      has next is %s\n", a->next ? "true" : "false");
            std::puts("   }");
        }
    }
}

// --- Per hair ---------------------------------------------------------------------------------

bool attractdb_applies(const hair_attract* a, const hair_state& hs, float length) {
    return a->valid_frame && a->nb_controls != 0 && length >= a->len_threshold.eval(hs) &&
           a->influence.eval(hs) != 0.0f;
}

bool attractdb_build_curve(const hair_attract* a, const hair_state& hs, const kivPoint& root,
                           hair_attract_curve& curve) {
    curve.valid = 0;
    // 1. The guide points of the hair's time sample.
    hair_datapoints* const* sets = a->points[hs.sample == 0 ? 0 : 1];
    if (!sets[0] || !sets[1] || !sets[2] || a->closest_nb <= 0) return false;
    if (!g_nearest.reserve(a->closest_nb)) return false;
    // 2. The nearest guide roots within the radius.
    const hair_datapoints& roots = *sets[0];
    const int found = g_nearest.find(
        roots.count, [&roots](int i) { return &roots.positions[i]; }, root, a->radius.eval(hs),
        a->closest_nb);
    if (found == 0) return false;
    // 3. Blend: weights (S - d_i) / S, plus 1 for a single curve.
    kivPoint R, M, T;
    for (int k = 0; k < found; ++k) {
        const float w = g_nearest.weight(k);
        const int i = g_nearest.index(k);
        R += sets[0]->positions[i] * w;
        M += sets[1]->positions[i] * w;
        T += sets[2]->positions[i] * w;
    }
    // 4. A local set follows the hair's root.
    if (a->type == 0) {
        const kivPoint shift = root - R;
        R = root;
        M += shift;
        T += shift;
    }
    // 5. Lengths and the parameters at this hair.
    const float scale = hs.params ? hs.params->width_scale : 1.0f;
    curve.R = R;
    curve.M = M;
    curve.T = T;
    curve.len_rm = R.distance(M);
    curve.len_mt = M.distance(T);
    curve.influence = a->influence.eval(hs);
    curve.len_threshold = a->len_threshold.eval(hs) * scale;
    curve.len_beg_interp = a->len_beg_interp.eval(hs) * scale;
    curve.len_end_interp = a->len_end_interp.eval(hs) * scale;
    curve.power = a->power.eval(hs);
    curve.valid = 1;
    return true;
}

int attractdb_setup_hair(hair_attract* const* sets, int n, const hair_state& hs,
                         const kivPoint& root, float length, hair_attract_curve* table,
                         int capacity) {
    int count = 0;
    for (int i = 0; i < n && count < capacity; ++i) {
        if (!sets[i] || !attractdb_applies(sets[i], hs, length)) continue;
        if (attractdb_build_curve(sets[i], hs, root, table[count])) ++count;
    }
    return count;
}

bool attractdb_curve_pull(const hair_attract_curve& c, const kivPoint& p, float s, float L,
                          kivVector& pull) {
    // 1. Only hairs long enough, and only inside the attracted stretch.
    if (!c.valid || c.len_threshold >= L || s < c.len_beg_interp || s > c.len_end_interp)
        return false;
    // 2. The target at the same relative length along R -> M -> T.
    const float f = s / L;
    const float total = c.len_rm + c.len_mt;
    kivPoint target = c.R;
    if (total > 0.0f) {
        const float r = c.len_rm / total;
        if (r >= f) {
            if (r > 0.0f) target = c.R + (c.M - c.R) * (f / r);
        } else if (c.len_mt > 0.0f) {
            target = c.M + (c.T - c.M) * ((f - r) / (c.len_mt / total));
        } else {
            target = c.M;
        }
    }
    // 3. The weight along the hair.
    const float w = c.power >= 0.0f ? std::pow(f, c.power) : 1.0f - std::pow(f, -c.power);
    if (!(w > 0.0f)) return false;
    // 4. Towards the target.
    kivVector to(p, target);
    to.norm();
    pull = to * (w * c.influence);
    return true;
}

bool attractdb_pull(const hair_attract_curve* curves, int n, const kivPoint& p, float s, float L,
                    kivVector& sum) {
    sum = kivVector();
    bool any = false;
    for (int i = 0; i < n; ++i) {
        kivVector v;
        if (attractdb_curve_pull(curves[i], p, s, L, v)) {
            sum += v;
            any = true;
        }
    }
    return any;
}
