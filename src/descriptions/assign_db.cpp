#include "descriptions/assign_db.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "descriptions/hair_params.h"
#include "foundation/fur_exception.h"
#include "foundation/messages.h"

namespace {

// A block of the node pool.
struct node_block {
    assign_node nodes[ASSIGN_NODE_BLOCK];
    int used = 0;
    bool full = false;
    node_block* next = nullptr;
};

// A result array of a reader, kept from call to call.
template <typename T>
struct result_array {
    T** items = nullptr;
    int capacity = 0;

    // Room for n items (n of 0 keeps what there is). False when memory runs
    // out.
    bool reserve(int n) {
        if (n <= capacity) return true;
        T** grown = new (std::nothrow) T*[static_cast<std::size_t>(n)];
        if (!grown) return false;
        delete[] items;
        items = grown;
        capacity = n;
        return true;
    }
    void release() {
        delete[] items;
        items = nullptr;
        capacity = 0;
    }
};

struct assign_table {
    assign_entry* records = nullptr;
    int capacity = 0;
    int count = 0;
    int last = 0;  // index of the record found last
    // The node pool.
    node_block* first_block = nullptr;
    node_block* current_block = nullptr;
    int block_size = 0;
    // The readers' result arrays.
    result_array<hair_params> hair;
    result_array<hair_attract> attract;
    result_array<hair_curveAttract> curve_attract;
};

assign_table g_db;

// How to read the names of attractor and curve attractor sets, registered
// by hair generation when the library is loaded (null until then).
assdb_set_name_fn g_attract_name = nullptr;
assdb_set_name_fn g_curve_attract_name = nullptr;

const hair_name* set_name(assdb_set_name_fn name_of, const void* set) {
    return name_of && set ? name_of(set) : nullptr;
}

const char* text_of(const hair_name* n) {
    return n && n->name ? n->name : "";
}

[[noreturn]] void out_of_memory(const char* exception_text) {
    drv_display_mem_usage("ERROR: no more (internal) memory");
    throw FurEFailed(exception_text);
}

bool is_light(const assign_entry& e) {
    return (e.flags & (ASSIGN_SHADOW_LIGHT | ASSIGN_AUTOSHADE_LIGHT)) != 0;
}

// Frees a light's settings block.
void release_light_params(assign_entry& e) {
    if (e.flags & ASSIGN_SHADOW_LIGHT) {
        MapParams* p = static_cast<MapParams*>(e.hair_list);
        if (p) std::free(p->shadow_projector);
        delete p;
    } else if (e.flags & ASSIGN_AUTOSHADE_LIGHT) {
        delete static_cast<AutoParams*>(e.hair_list);
    }
    e.hair_list = nullptr;
    e.flags &= ~(ASSIGN_SHADOW_LIGHT | ASSIGN_AUTOSHADE_LIGHT);
}

// --- Records ----------------------------------------------------------------------

assign_entry* lookup(const hair_name* name) {
    if (!g_db.records || !name) return nullptr;
    const int last = g_db.last;
    if (last < g_db.count && g_db.records[last].name == name) return &g_db.records[last];
    if (last + 1 < g_db.count && g_db.records[last + 1].name == name) {
        g_db.last = last + 1;
        return &g_db.records[last + 1];
    }
    for (int i = 0; i < g_db.count; ++i) {
        if (g_db.records[i].name == name) {
            g_db.last = i;
            return &g_db.records[i];
        }
    }
    return nullptr;
}

assign_entry* find_or_create(hair_name* name) {
    if (assign_entry* e = lookup(name)) return e;
    if (!g_db.records || g_db.count >= g_db.capacity - 1) {
        furFail("Assignment table exceeded, use -hash option",
                "assignment table exceeded, use -hash option\n");
    }
    assign_entry& e = g_db.records[g_db.count];
    e = assign_entry{};
    e.name = names_use(name);
    e.density_mult = 1.0f;
    g_db.last = g_db.count++;
    return &e;
}

// --- Node pool ------------------------------------------------------------------------

assign_node* new_node() {
    if (!g_db.first_block) g_db.block_size = ASSIGN_NODE_BLOCK;
    node_block* b = g_db.current_block;
    if (!b || b->full) {
        node_block* fresh = new (std::nothrow) node_block;
        if (!fresh) out_of_memory("ERROR: no more (internal) memory");
        if (b)
            b->next = fresh;
        else
            g_db.first_block = fresh;
        g_db.current_block = b = fresh;
    }
    assign_node* n = &b->nodes[b->used++];
    if (b->used == g_db.block_size) b->full = true;
    *n = assign_node{nullptr, nullptr, 0.0f, false};
    return n;
}

// Pushes item at the head of list.
void push(assign_node*& list, void* item) {
    assign_node* n = new_node();
    n->item = item;
    n->next = list;
    list = n;
}

template <typename T>
void fill(result_array<T>& out, const assign_node* list, int count, int* n, T*** items) {
    *n = 0;
    if (!out.reserve(count)) {
        *items = out.items;
        return;
    }
    for (const assign_node* node = list; node && *n < count; node = node->next)
        out.items[(*n)++] = static_cast<T*>(node->item);
    *items = out.items;
}

// True when text ends with suffix.
bool ends_with(const char* text, const char* suffix) {
    const std::size_t t = std::strlen(text), s = std::strlen(suffix);
    return s <= t && std::memcmp(text + t - s, suffix, s) == 0;
}

bool excluded(const assign_entry& e, int smap) {
    return (e.flags & (smap ? ASSIGN_EXCLUDE_SMAP : ASSIGN_EXCLUDE_HAIR)) != 0;
}

bool is_listed_light(const assign_entry& e, int smap) {
    return is_light(e) && e.hair_list && !excluded(e, smap);
}

}  // namespace

// --- Settings records ---------------------------------------------------------------------

void init_mapparams(MapParams* p) {
    p->angle = 0.0f;
    p->lgt_filter_size = 3;
    p->obj_filter_size = 3;
    p->lgt_darkness = 1.0f;
    p->obj_darkness = 1.0f;
    p->low_hair_epsilon = 0.3f;
    p->high_hair_epsilon = 2.0f;
    p->geo_epsilon = 0.5f;
    p->threshold = 0.0f;
    p->shadow_projector = nullptr;
    p->projector = nullptr;
    p->map.encoding = -1;
    p->map.lines = 1024;
    p->map.cols = 1024;
    p->map.cone = 0.0f;
    for (float*& m : p->map.maps) m = nullptr;
}

void init_autoparams(AutoParams* p) {
    p->self_shade = 0.5f;
    p->self_shade_darkness = 1.0f;
    p->back_shadow_factor = 2.0f;
    p->back_shadow_darkness = 1.0f;
}

// --- Table and file ---------------------------------------------------------------------------

int assdb_init(int size) {
    assdb_done();
    if (size < 1) return 0;
    g_db.records = new (std::nothrow) assign_entry[static_cast<std::size_t>(size)]();
    if (!g_db.records) return 0;
    g_db.capacity = size;
    return 1;
}

bool assdb_register_set_names(assdb_set_name_fn attract, assdb_set_name_fn curve_attract) {
    g_attract_name = attract;
    g_curve_attract_name = curve_attract;
    return true;
}

bool assdb_ready() {
    return g_db.records != nullptr;
}

int assdb_reserve_results(int hair, int attract, int curve_attract) {
    return g_db.hair.reserve(hair) && g_db.attract.reserve(attract) &&
                   g_db.curve_attract.reserve(curve_attract)
               ? 1
               : 0;
}

namespace {

// A hair assignment waiting for the description of its name.
struct detached_hair {
    assign_entry* entry;
    assign_node* node;
    hair_name* name;  // one reference held
};
std::vector<detached_hair> g_detached;

}  // namespace

void assdb_done() {
    for (const detached_hair& d : g_detached) names_remove(d.name);
    g_detached.clear();
    for (int i = 0; i < g_db.count; ++i) {
        assign_entry& e = g_db.records[i];
        if (is_light(e)) release_light_params(e);
        names_remove(e.name);
    }
    delete[] g_db.records;
    for (node_block* b = g_db.first_block; b;) {
        node_block* next = b->next;
        delete b;
        b = next;
    }
    g_db.hair.release();
    g_db.attract.release();
    g_db.curve_attract.release();
    g_db = assign_table{};
}

void assdb_dump() {
    std::puts("**** Assign database *********************************\n");
    std::printf("assdb nb models = %d\n", g_db.count);
    for (int i = 0; i < g_db.count; ++i) {
        const assign_entry& e = g_db.records[i];
        std::printf("model %s {\n", text_of(e.name));
        std::printf("    exclude for render smaps = %d\n", (e.flags & ASSIGN_EXCLUDE_SMAP) ? 1 : 0);
        std::printf("    exclude for render hair = %d\n", (e.flags & ASSIGN_EXCLUDE_HAIR) ? 1 : 0);
        std::printf("    density_mutl = %f\n", e.density_mult);
        std::printf("    is_shadow_lgt = %d\n", (e.flags & ASSIGN_SHADOW_LIGHT) ? 1 : 0);
        std::printf("    is_autoshade_lgt = %d\n", (e.flags & ASSIGN_AUTOSHADE_LIGHT) ? 1 : 0);
        if (!is_light(e)) {
            std::printf("    nb of hair params = %d\n", e.nb_hair);
            for (auto* n = static_cast<const assign_node*>(e.hair_list); n; n = n->next)
                std::printf("      hair params %s\n",
                            text_of(static_cast<const hair_params*>(n->item)->name));
        }
        std::printf("    nb of attractors = %d\n", e.nb_attract);
        for (const assign_node* n = e.attract_list; n; n = n->next)
            std::printf("      attractor %s\n", text_of(set_name(g_attract_name, n->item)));
        std::puts("}");
    }
}

// --- Descriptions replaced by a new hair file ------------------------------------------------

void assdb_release_descriptions() {
    for (int i = 0; g_db.records && i < g_db.count; ++i) {
        assign_entry& e = g_db.records[i];
        if (is_light(e)) continue;
        for (auto* n = static_cast<assign_node*>(e.hair_list); n; n = n->next) {
            const auto* hp = static_cast<const hair_params*>(n->item);
            if (!hp) continue;
            g_detached.push_back({&e, n, names_use(hp->name)});
            n->item = nullptr;
        }
        e.nb_hair = 0;  // nothing to hand out until the names are resolved
    }
}

void assdb_resolve_descriptions() {
    for (const detached_hair& d : g_detached) {
        hair_params* hp = hair_params_list_find(d.name);
        if (hp) {
            d.node->item = hp;
            ++d.entry->nb_hair;
        } else {
            std::printf("WARNING: assignment hair description (\"%s\") doesn't exist!\n",
                        text_of(d.name));
            // Unlink the node; its memory stays in the pool.
            auto** link = reinterpret_cast<assign_node**>(&d.entry->hair_list);
            while (*link && *link != d.node) link = &(*link)->next;
            if (*link) *link = d.node->next;
        }
        names_remove(d.name);
    }
    g_detached.clear();
}

const assign_entry* assdb_find(const hair_name* name) {
    return lookup(name);
}

// --- Writers ------------------------------------------------------------------------------------

int assdb_assign_hair(const char* description, hair_name* model) {
    if (!model || !description) return 0;
    assign_entry* e = find_or_create(model);
    hair_params* hp = hair_params_list_find(names_find(description));
    if (!hp) {
        std::printf("WARNING: assignment hair description (\"%s\") doesn't exist!\n", description);
        return 0;
    }
    if (is_light(*e)) {
        std::printf("WARNING: %s is a light, hair description \"%s\" not assigned!\n",
                    text_of(model), description);
        return 0;
    }
    assign_node* list = static_cast<assign_node*>(e->hair_list);
    push(list, hp);
    e->hair_list = list;
    ++e->nb_hair;
    return 1;
}

void assdb_attach_attract(hair_name* model, void* set) {
    assign_entry* e = find_or_create(model);
    push(e->attract_list, set);
    ++e->nb_attract;
}

void assdb_attach_curve_attract(hair_name* model, void* set) {
    assign_entry* e = find_or_create(model);
    push(e->curve_attract_list, set);
    ++e->nb_curve_attract;
}

int assdb_exclude_smap_render(hair_name* name) {
    if (!name) return 0;
    find_or_create(name)->flags |= ASSIGN_EXCLUDE_SMAP;
    return 1;
}

int assdb_exclude_hair_render(hair_name* name) {
    if (!name) return 0;
    find_or_create(name)->flags |= ASSIGN_EXCLUDE_HAIR;
    return 1;
}

int assdb_set_density_mult(hair_name* model, float mult, const char* group) {
    if (!model) return 0;
    assign_entry* e = find_or_create(model);
    if (!group) {
        e->density_mult = mult;
        return 1;
    }
    if (is_light(*e)) return 0;
    const hair_name* g = names_find(group);
    int changed = 0;
    for (auto* n = static_cast<assign_node*>(e->hair_list); n && g; n = n->next) {
        if (static_cast<const hair_params*>(n->item)->area_group != g) continue;
        n->density_mult = mult;
        n->has_mult = true;
        ++changed;
    }
    return changed > 0 ? 1 : 0;
}

namespace {

// Makes e a light with settings of kind flag (dropping settings of the
// other kind); false when e has hair descriptions.
bool make_light(assign_entry* e, std::uint32_t flag) {
    if (!is_light(*e) && e->hair_list) {
        std::printf("WARNING: %s has hair descriptions, light settings ignored!\n",
                    text_of(e->name));
        return false;
    }
    if (is_light(*e) && !(e->flags & flag)) release_light_params(*e);
    return true;
}

}  // namespace

int assdb_set_shadmap_params(hair_name* light, const MapParams& params) {
    if (!light) return 0;
    assign_entry* e = find_or_create(light);
    if (!make_light(e, ASSIGN_SHADOW_LIGHT)) return 0;
    char* projector = nullptr;
    if (params.shadow_projector) {
        const std::size_t size = std::strlen(params.shadow_projector) + 1;
        projector = static_cast<char*>(std::malloc(size));
        if (!projector) out_of_memory("Internal memory failure");
        std::memcpy(projector, params.shadow_projector, size);
    }
    MapParams* p = static_cast<MapParams*>(e->hair_list);
    if (!p) {
        p = new (std::nothrow) MapParams;
        if (!p) {
            std::free(projector);
            out_of_memory("Internal memory failure");
        }
        p->shadow_projector = nullptr;
        e->hair_list = p;
    }
    std::free(p->shadow_projector);
    *p = params;
    p->shadow_projector = projector;
    e->flags |= ASSIGN_SHADOW_LIGHT;
    return 1;
}

int assdb_set_autoshade_params(hair_name* light, const AutoParams& params) {
    if (!light) return 0;
    assign_entry* e = find_or_create(light);
    if (!make_light(e, ASSIGN_AUTOSHADE_LIGHT)) return 0;
    AutoParams* p = static_cast<AutoParams*>(e->hair_list);
    if (!p) {
        p = new (std::nothrow) AutoParams;
        if (!p) out_of_memory("Internal memory failure");
        e->hair_list = p;
    }
    *p = params;
    e->flags |= ASSIGN_AUTOSHADE_LIGHT;
    return 1;
}

// --- Readers ------------------------------------------------------------------------------------

bool assdb_has_model_hair(const hair_name* name) {
    const assign_entry* e = lookup(name);
    return e && !is_light(*e) && e->nb_hair >= 1;
}

bool assdb_has_model_attract(const hair_name* name) {
    const assign_entry* e = lookup(name);
    return e && e->nb_attract >= 1;
}

bool assdb_has_model_curve_attract(const hair_name* name) {
    const assign_entry* e = lookup(name);
    return e && e->nb_curve_attract >= 1;
}

void assdb_get_model_hair(const hair_name* name, int* n, hair_params*** list) {
    const assign_entry* e = lookup(name);
    if (!e || is_light(*e)) {
        *n = 0;
        *list = g_db.hair.items;
        return;
    }
    fill(g_db.hair, static_cast<const assign_node*>(e->hair_list), e->nb_hair, n, list);
}

void assdb_get_model_attract(const hair_name* name, int* n, hair_attract*** list) {
    const assign_entry* e = lookup(name);
    if (!e) {
        *n = 0;
        *list = g_db.attract.items;
        return;
    }
    fill(g_db.attract, e->attract_list, e->nb_attract, n, list);
}

void assdb_get_model_curve_attract(const hair_name* name, int* n, hair_curveAttract*** list,
                                   const hair_params* description) {
    *n = 0;
    *list = g_db.curve_attract.items;
    const assign_entry* e = lookup(name);
    if (!e || !g_db.curve_attract.reserve(e->nb_curve_attract)) return;
    *list = g_db.curve_attract.items;
    const char* suffix = description ? text_of(description->name) : "";
    for (const assign_node* node = e->curve_attract_list; node && *n < e->nb_curve_attract;
         node = node->next) {
        auto* c = static_cast<hair_curveAttract*>(node->item);
        if (ends_with(text_of(set_name(g_curve_attract_name, c)), suffix)) (*list)[(*n)++] = c;
    }
}

int assdb_get_exclude(const hair_name* name, int smap) {
    if (!name) return 1;
    const assign_entry* e = lookup(name);
    if (!e) return 0;
    return excluded(*e, smap) ? 1 : 0;
}

float assdb_get_density_mult(const hair_name* model, const hair_name* description) {
    const assign_entry* e = lookup(model);
    if (!e) return 1.0f;
    if (!is_light(*e)) {
        for (auto* n = static_cast<const assign_node*>(e->hair_list); n; n = n->next) {
            if (static_cast<const hair_params*>(n->item)->name != description) continue;
            if (n->has_mult) return n->density_mult;
            break;
        }
    }
    return e->density_mult;
}

int assdb_has_shadow_map(const hair_name* light) {
    const assign_entry* e = lookup(light);
    return e && (e->flags & ASSIGN_SHADOW_LIGHT) ? 1 : 0;
}

int assdb_get_shadmap_params(const hair_name* light, MapParams* out) {
    const assign_entry* e = lookup(light);
    if (!e || !(e->flags & ASSIGN_SHADOW_LIGHT) || !e->hair_list) return 0;
    *out = *static_cast<const MapParams*>(e->hair_list);
    return 1;
}

int assdb_get_autoshade_params(const hair_name* light, AutoParams* out) {
    const assign_entry* e = lookup(light);
    if (!e || !(e->flags & ASSIGN_AUTOSHADE_LIGHT) || !e->hair_list) return 0;
    *out = *static_cast<const AutoParams*>(e->hair_list);
    return 1;
}

int assdb_has_light_params(const hair_name* light) {
    const assign_entry* e = lookup(light);
    if (!e) return 0;
    const std::uint32_t both = ASSIGN_EXCLUDE_SMAP | ASSIGN_EXCLUDE_HAIR;
    return is_light(*e) || (e->flags & both) == both ? 1 : 0;
}

int assdb_get_nb_shadow_lights(int smap) {
    int n = 0;
    for (int i = 0; i < g_db.count; ++i) {
        if (is_listed_light(g_db.records[i], smap)) ++n;
    }
    return n;
}

int assdb_get_shadow_lights_list(int max, hair_name** out, int smap) {
    int n = 0;
    for (int i = 0; i < g_db.count && n < max; ++i) {
        if (is_listed_light(g_db.records[i], smap)) out[n++] = g_db.records[i].name;
    }
    return n;
}
