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

void dump_one(const hair_params* hp) {
    std::printf("hair \"%s\"\n", text_of(hp->name));
    std::printf("{\n");
    std::printf("    light_model = %d ;\n", hp->light_model);

    // Colours, as far as the light model uses them.
    dump_color("ambient_base", hp->ambient_base);
    if (hp->ambient_tip.defined()) dump_color("ambient_tip", hp->ambient_tip);
    if (hp->light_model > 0) {
        dump_color("diffuse_base", hp->diffuse_base);
        if (hp->diffuse_tip.defined()) dump_color("diffuse_tip", hp->diffuse_tip);
    }
    if (hp->light_model > 1) {
        dump_color("specular", hp->specular);
        dump_scalar("sharpness", hp->sharpness);
    }
    if (hp->opacity_base.defined()) {
        dump_scalar("opacity_base", hp->opacity_base);
        if (hp->opacity_tip.defined()) dump_scalar("opacity_tip", hp->opacity_tip);
    }

    // Spawning and size.
    dump_scalar("density", hp->density);
    if (hp->equalizer.defined()) dump_scalar("equalizer", hp->equalizer);
    if (hp->baldness.defined()) dump_scalar("baldness", hp->baldness);
    dump_scalar("width_base", hp->width_base);
    if (hp->width_tip.defined()) dump_scalar("width_tip", hp->width_tip);
    dump_scalar("length", hp->length);
    dump_scalar("frequency", hp->frequency);

    // Shape.
    const struct {
        const char* field;
        const hp_scalar& value;
    } shape[] = {{"curl_base", hp->curl_base}, {"curl_tip", hp->curl_tip},
                 {"scraggle", hp->scraggle},   {"correlation", hp->correlation},
                 {"erectness", hp->erectness}, {"polar", hp->polar},
                 {"roll", hp->roll},           {"orient_var", hp->orient_var},
                 {"segments", hp->segments},   {"attractors", hp->attractors},
                 {"offset", hp->offset},       {"custom_equalizer", hp->custom_equalizer}};
    for (const auto& s : shape) dump_scalar(s.field, s.value);
    std::printf("    equalizer_type = %d ;\n", hp->equalizer_type);

    dump_scalar("spawn_factor", hp->spawn_factor);
    if (hp->spawn_params) std::printf("    spawn_params = %s ;\n", text_of(hp->spawn_params));
    dump_scalar("spawn_segment", hp->spawn_segment);

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
    hp->area_group = src->area_group;
    hp->matrix = src->matrix;
    hp->prim_visibility = src->prim_visibility;
    hp->casts_shadows = src->casts_shadows;
    hp->reference_equalmap = src->reference_equalmap;
    hp->light_model = src->light_model;
    hp->ambient_base = src->ambient_base;
    hp->ambient_tip = src->ambient_tip;
    hp->diffuse_base = src->diffuse_base;
    hp->diffuse_tip = src->diffuse_tip;
    hp->specular = src->specular;
    hp->sharpness = src->sharpness;
    hp->density = src->density;
    hp->equalizer = src->equalizer;
    hp->baldness = src->baldness;
    hp->width_base = src->width_base;
    hp->width_tip = src->width_tip;
    hp->length = src->length;
    hp->frequency = src->frequency;
    hp->opacity_base = src->opacity_base;
    hp->opacity_tip = src->opacity_tip;
    hp->curl_base = src->curl_base;
    hp->curl_tip = src->curl_tip;
    hp->scraggle = src->scraggle;
    hp->correlation = src->correlation;
    hp->erectness = src->erectness;
    hp->polar = src->polar;
    hp->roll = src->roll;
    hp->orient_var = src->orient_var;
    hp->segments = src->segments;
    hp->attractors = src->attractors;
    hp->offset = src->offset;
    hp->custom_equalizer = src->custom_equalizer;
    hp->equalizer_type = src->equalizer_type;
    hp->clump = src->clump;
    hp->clumpfrequency = src->clumpfrequency;
    hp->clumpshape = src->clumpshape;
    hp->usamples = src->usamples;
    hp->vsamples = src->vsamples;
    hp->spawn_factor = src->spawn_factor;
    hp->spawn_segment = src->spawn_segment;
    hp->spawn_params = src->spawn_params;
    for (int i = 0; i < HP_NUM_VARS; ++i) hp->var[i] = src->var[i];
    hp->visibility = src->visibility;
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
