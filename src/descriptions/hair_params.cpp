#include "descriptions/hair_params.h"

#include <cstdio>

namespace {

struct description_list {
    hair_params* buckets[HAIR_PARAMS_BUCKETS] = {};
    int count = 0;
};

description_list g_list;
float g_wunits = 1.0f;

const char* text_of(const hair_name* n) {
    return n && n->name ? n->name : "";
}

void dump_scalar(const char* field, const hp_scalar& value) {
    std::printf("    %s = ", field);
    value.print();
    std::printf(" ;\n");
}

void dump_color(const char* field, const hp_color& value) {
    std::printf("    %s = ", field);
    value.print();
    std::printf(" ;\n");
}

void dump_int(const char* field, std::int32_t value) {
    std::printf("    %s = %d ;\n", field, value);
}

void dump_name(const char* field, const hair_name* value) {
    std::printf("    %s = %s ;\n", field, text_of(value));
}

// Prints the listed fields whose condition holds, in list order, then the
// defined variables.
void dump_one(const hair_params* hp) {
    std::printf("hair \"%s\"\n", text_of(hp->name));
    std::printf("{\n");
#define KORVO_DUMP_COLOR(ID, member, dumped, ...) \
    if (dumped) dump_color(#member, hp->member);
#define KORVO_DUMP_SCALAR(ID, member, dumped, ...) \
    if (dumped) dump_scalar(#member, hp->member);
#define KORVO_DUMP_NAME(ID, member, dumped, ...) \
    if (dumped) dump_name(#member, hp->member);
#define KORVO_DUMP_INT(member, dumped, ...) \
    if (dumped) dump_int(#member, hp->member);
    KORVO_HAIR_FIELDS(KORVO_DUMP_COLOR, KORVO_DUMP_SCALAR, KORVO_DUMP_NAME, KORVO_DUMP_INT,
                      KORVO_HAIR_FIELD_SKIP)
#undef KORVO_DUMP_COLOR
#undef KORVO_DUMP_SCALAR
#undef KORVO_DUMP_NAME
#undef KORVO_DUMP_INT

    for (int i = 0; i < HP_NUM_VARS; ++i) {
        if (!hp->var[i].defined()) continue;
        std::printf("    var[%d] = ", i);
        hp->var[i].print();
        std::printf(" ;\n");
    }
    std::printf("}\n\n");
}

}  // namespace

hair_params::~hair_params() {
    // The chain behind this description, without recursion.
    hair_params* rest = next;
    next = nullptr;
    while (rest) {
        hair_params* after = rest->next;
        rest->next = nullptr;
        delete rest;
        rest = after;
    }
}

// --- The description list -------------------------------------------------------

hair_params* hair_params_list_add(hair_name* name) {
    hair_params* hp = new hair_params(name);
    hair_params** link = &g_list.buckets[hash_it(HAIR_PARAMS_BUCKETS, text_of(name))];
    while (*link) link = &(*link)->next;
    *link = hp;
    ++g_list.count;
    return hp;
}

hair_params* hair_params_list_find(hair_name* name) {
    for (hair_params* hp = g_list.buckets[hash_it(HAIR_PARAMS_BUCKETS, text_of(name))]; hp;
         hp = hp->next)
        if (hp->name == name) return hp;
    return nullptr;
}

hair_params* hair_params_list_bucket(int i) {
    return i >= 0 && i < HAIR_PARAMS_BUCKETS ? g_list.buckets[i] : nullptr;
}

int hair_params_list_count() {
    return g_list.count;
}

void hair_params_list_clear() {
    for (hair_params*& head : g_list.buckets) {
        delete head;  // with its chain
        head = nullptr;
    }
    g_list.count = 0;
}

void hair_params_init_visibility() {
    for (hair_params* head : g_list.buckets)
        for (hair_params* hp = head; hp; hp = hp->next) hp->visibility = true;
}

// --- World units ------------------------------------------------------------------

void hair_params_set_wunits(float w) {
    g_wunits = w;
}

float hair_params_get_wunits() {
    return g_wunits;
}

// --- One description ----------------------------------------------------------------

void hair_params_dump(const hair_params* hp, int all) {
    if (!hp) return;
    dump_one(hp);
    if (all)
        for (const hair_params* p = hp->next; p; p = p->next) dump_one(p);
}

void hair_params_reset(hair_params* hp) {
    const hair_params defaults(hp->name);
    hair_params_assign(hp, &defaults);
}

void hair_params_assign(hair_params* hp, const hair_params* src) {
    if (hp == src) return;
#define KORVO_COPY(ID, member, ...) hp->member = src->member;
#define KORVO_COPY_INT(member, ...) hp->member = src->member;
#define KORVO_COPY_KEPT(type, member, ...) hp->member = src->member;
    KORVO_HAIR_FIELDS(KORVO_COPY, KORVO_COPY, KORVO_COPY, KORVO_COPY_INT, KORVO_COPY_KEPT)
#undef KORVO_COPY
#undef KORVO_COPY_INT
#undef KORVO_COPY_KEPT
    for (int i = 0; i < HP_NUM_VARS; ++i) hp->var[i] = src->var[i];
}

bool hair_params_valid(const hair_params* hp) {
    return hp->spawn_params != nullptr || hp->spawn_factor.eval_const() <= 0.0f;
}

// --- Evaluation at a hair --------------------------------------------------------------

void hair_params_eval_vars(const hair_params* hp, hair_state* hs) {
    for (int i = 0; i < HP_NUM_VARS; ++i)
        hs->vars[i] = hp->var[i].defined() ? hp->var[i].eval(*hs) : 0.0;
    if (hp->var[HP_NUM_VARS - 1].defined())
        std::printf("DEBUG: vars[%d] = %f\n", HP_NUM_VARS - 1, hs->vars[HP_NUM_VARS - 1]);
}

hair_vertex hair_params_eval_vertex(const hair_params* hp, const hair_state* hs, int tip) {
    hair_vertex out;
    const hair_state& h = *hs;
    if (!tip) {
        out.ambient = hp->ambient_base.eval(h);
        out.diffuse = hp->diffuse_base.eval(h);
        out.specular = hp->specular.eval(h);
        out.opacity = hp->opacity_base.eval(h);
        out.width = hp->width_base.eval(h) * hp->width_scale;
        return out;
    }
    out.ambient = (hp->ambient_tip.defined() ? hp->ambient_tip : hp->ambient_base).eval(h);
    out.diffuse = (hp->diffuse_tip.defined() ? hp->diffuse_tip : hp->diffuse_base).eval(h);
    out.specular = hp->specular.eval(h);
    out.opacity = (hp->opacity_tip.defined() ? hp->opacity_tip : hp->opacity_base).eval(h);
    out.width =
        (hp->width_tip.defined() ? hp->width_tip : hp->width_base).eval(h) * hp->width_scale;
    return out;
}

hair_vertex linterp(const hair_vertex& a, const hair_vertex& b, float t) {
    if (t < 0.0f || t > 1.0f) std::printf("WARNING: linterp val = %f\n", t);
    hair_vertex out;
    out.ambient = lerp_color(a.ambient, b.ambient, t);
    out.diffuse = lerp_color(a.diffuse, b.diffuse, t);
    out.specular = a.specular;
    out.width = a.width + (b.width - a.width) * t;
    out.opacity = a.opacity + (b.opacity - a.opacity) * t;
    return out;
}
