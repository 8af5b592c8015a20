%{
// Parser of the scene file.
//
// A scene file is a list of items: room for lights and models, includes,
// hair descriptions hidden or re-placed for this frame, and camera, light
// and model blocks. Each block takes its record from the database of the
// slot being read when its head is reduced and fills it statement by
// statement.
//
// A grammar error is reported with its line and ends the parse (the rest
// of the file is skipped); the error flag makes the read fail. When the
// databases have no room left (nb_lights, nb_models or a block finds no
// free record) the rest of the file is skipped quietly. A failure of the
// name table (FurEFailed) aborts the parse, which releases the strings
// still on the parser's stack, and is thrown on by scene_read_file.
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <new>
#include <string>

#include "descriptions/hair_params.h"
#include "descriptions/scene_db.h"
#include "descriptions/scene_reader.h"
#include "foundation/names.h"
#include "geometry/model_database.h"
#include "render/camera.h"
#include "render/lighting.h"

// The stack never grows: the lists are left-recursive and need little.
#define YYINITDEPTH 200
#define YYMAXDEPTH 200

namespace {

// The outcome of an action: go on, skip the rest of the file quietly, or
// abort for a failure that scene_read_file throws on.
enum class step { go, stop, fail };

// Element counters of the current model; -1 until the count statement.
struct counters {
    int verts = -1, norms = -1, uvs = -1, polys = -1, cvs = -1, pnds = -1;
};

struct reader_state {
    int which = 0;                     // database slot being filled
    hair_camera* camera = nullptr;     // the current block's records
    hair_light* light = nullptr;
    hair_model* model = nullptr;
    kivPolygons* polys = nullptr;      // the current model's geometry by kind
    kivNurbSurface* nurb = nullptr;
    hair_datapoints* dpnt = nullptr;
    counters count;
    bool link_reported = false;        // this linkedObject statement has complained
    float* knots = nullptr;            // knot buffer (owned)
    long long knot_capacity = 0;
    long long knot_count = 0;
    bool error = false;                // a grammar error was found
    long long count_limit = 0;         // the largest element count the file can hold
    std::exception_ptr failure;        // a failure of the name table
};

reader_state g;

// An action's message, then the line it was found on.
void message(const char* text) {
    std::printf("%s\n", text);
    std::printf("scene file: syntax error at line %d\n", scene_scanner_line());
}

// Runs f, holding any exception for scene_read_file.
template <typename F>
step guarded(F f) {
    try {
        return f();
    } catch (...) {
        g.failure = std::current_exception();
        return step::fail;
    }
}

kivMatrix rows(const scene_vec& a, const scene_vec& b, const scene_vec& c, const scene_vec& d) {
    return kivMatrix(a.v[0], a.v[1], a.v[2], a.v[3], b.v[0], b.v[1], b.v[2], b.v[3], c.v[0],
                     c.v[1], c.v[2], c.v[3], d.v[0], d.v[1], d.v[2], d.v[3]);
}
kivPoint point(const scene_vec& a) {
    return kivPoint(a.v[0], a.v[1], a.v[2]);
}
kivVector vec3(const scene_vec& a) {
    return kivVector(a.v[0], a.v[1], a.v[2]);
}

// A count that no file of this size could fill means a damaged file: it is
// refused before anything is allocated for it.
step check_count(long long n) {
    if (n <= g.count_limit) return step::go;
    char text[128];
    std::snprintf(text, sizeof(text), "ERROR: count %lld is more than this scene file can hold", n);
    message(text);
    g.error = true;
    return step::fail;
}

// --- Items --------------------------------------------------------------------------------

// Most models, and most lights, one scene read may make room for.
constexpr long long kMaxSceneRecords = 1 << 17;

// nb_models and nb_lights only make room: models and lights may come from
// include files read later, so the count is not held against this file's
// size. The room is bounded instead: a list grows to at most
// kMaxSceneRecords records, beyond which a count is cut (with a message).
step make_room(int (*init)(int, int), int held, int n, const char* what) {
    if (n < 0) return init(n, g.which) ? step::go : step::stop;
    const long long room = std::max(0LL, kMaxSceneRecords - held);
    if (n > room) {
        char text[128];
        std::snprintf(text, sizeof(text), "WARNING: room for %lld more %s, not %d", room, what, n);
        std::printf("%s\n", text);
        n = static_cast<int>(room);
    }
    if (n == 0) return step::go;
    return init(n, g.which) ? step::go : step::stop;
}

// Orders outside 1 ... kMaxNurbOrder cannot be evaluated; they are refused
// before the knot buffer (count + order values) is sized by them.
void nurb_order(int ku, int kv) {
    if (!g.nurb) return;
    if (ku < 1 || kv < 1 || ku > kMaxNurbOrder || kv > kMaxNurbOrder) {
        char text[128];
        std::snprintf(text, sizeof(text), "ERROR: nurb order %d %d outside 1 ... %d", ku, kv,
                      kMaxNurbOrder);
        message(text);
        return;
    }
    g.nurb->set_order(ku, kv);
}

// Area light samples: at least one per direction and kMaxAreaLightSamples
// in all, else the statement is refused.
void area_samples(int nu, int nv) {
    if (nu < 1 || nv < 1 || static_cast<long long>(nu) * nv > kMaxAreaLightSamples) {
        char text[128];
        std::snprintf(text, sizeof(text), "ERROR: area light samples %d %d outside 1 ... %d in all",
                      nu, nv, kMaxAreaLightSamples);
        message(text);
        return;
    }
    g.light->area_usamples = nu;
    g.light->area_vsamples = nv;
}

step include(char* file) {
    const step s = guarded([&] {
        scndb_add_include(file);
        return step::go;
    });
    std::free(file);
    return s;
}

// The hair description named text, when that name and description exist.
hair_params* description(const char* text) {
    hair_name* n = names_find(text);
    return n ? hair_params_list_find(n) : nullptr;
}

// --- Blocks -------------------------------------------------------------------------------

step begin_light(int type, char* name) {
    g.light = lgtdb_get_new(g.which);
    const step s = !g.light ? step::stop : guarded([&] {
        hair_name* interned = names_add(name);
        names_remove(g.light->name);
        g.light->name = interned;
        g.light->type = type;
        return step::go;
    });
    std::free(name);
    return s;
}

// One name of a linkedObject statement: stored in the light's next free
// link entry; the statement complains once when nb_lightlink has not come.
step link_object(char* name) {
    step s = step::go;
    if (g.light->link_count > 0) {
        s = guarded([&] {
            g.light->add_link(names_add(name));
            return step::go;
        });
    } else if (!g.link_reported) {
        message("nb_lightlink construct needed before linkedObjects");
        g.link_reported = true;
    }
    std::free(name);
    return s;
}

step begin_model(int type, char* name) {
    g.model = mdldb_get_new(g.which);
    const step s = !g.model ? step::stop : guarded([&] {
        mdldb_set_type(g.model, type, name);
        return step::go;
    });
    std::free(name);
    if (s != step::go) return s;
    g.polys = g.model->polygons();
    g.nurb = g.model->nurbs();
    g.dpnt = g.model->datapoints();
    g.count = counters();
    return step::go;
}

// Stores an element at its counter, which then advances; complains when
// the count statement has not come yet.
template <typename F>
void element(int& counter, const char* missing, F store) {
    if (counter < 0) {
        message(missing);
        return;
    }
    store(counter);
    if (counter < INT_MAX) ++counter;
}

void polygon(const scene_corner* corners, int n) {
    if (!g.polys) return;
    element(g.count.polys, "nb_polys construct needed before polys", [&](int i) {
        kivPoly p{};
        p.nb_verts = n;
        for (int k = 0; k < n; ++k) {
            p.verts[k] = corners[k].v;
            p.norms[k] = corners[k].n;
            p.texs[k] = corners[k].t;
        }
        g.polys->set_poly(i, p);
    });
}

void nurb_vertex(const scene_vec& v) {
    if (!g.nurb) return;
    if (g.count.cvs < 0) {
        if (!g.nurb->alloc_lists()) {
            message("Invalid nurb description");
            return;
        }
        g.count.cvs = 0;
    }
    g.nurb->set_vert(g.count.cvs, kivPoint4(v.v[0], v.v[1], v.v[2], v.v[3]));
    if (g.count.cvs < INT_MAX) ++g.count.cvs;
}

// A knot list: the buffer grows to hold count + order values of the
// direction, then collects the numbers.
void begin_knots(long long needed) {
    g.knot_count = 0;
    if (needed <= g.knot_capacity || needed > INT_MAX) return;
    float* grown = new (std::nothrow) float[static_cast<std::size_t>(needed)];
    if (!grown) return;
    delete[] g.knots;
    g.knots = grown;
    g.knot_capacity = needed;
}
void knot(float k) {
    if (g.knot_count >= g.knot_capacity) {
        message("invalid (too many) number of knot vectors");
        return;
    }
    g.knots[g.knot_count++] = k;
}

void end_nurb() {
    if (!g.nurb) return;
    auto spans = [](long long n, long long order) {
        const long long s = n - order + 1;
        return static_cast<std::int32_t>(s > INT_MAX ? INT_MAX : s < INT_MIN ? INT_MIN : s);
    };
    g.nurb->utess = spans(g.nurb->nb_uverts, g.nurb->uorder);
    g.nurb->vtess = spans(g.nurb->nb_vverts, g.nurb->vorder);
}

void pnd(int id, const float* f) {
    if (!g.dpnt) return;
    element(g.count.pnds, "Invalid data point model description", [&](int i) {
        g.dpnt->set_point(i, kivPoint(f[0], f[1], f[2]), kivVector(f[3], f[4], f[5]),
                          kivVector(f[6], f[7], f[8]));
        g.dpnt->set_id(i, id);
    });
}

}  // namespace

int scene_lex();
void scene_error(const char* message);

// Applies an action's outcome.
#define ACT(call)                              \
    do {                                       \
        switch (call) {                        \
            case step::stop: YYACCEPT;         \
            case step::fail: YYABORT;          \
            case step::go: break;              \
        }                                      \
    } while (0)
%}

%code requires {
#include "descriptions/scene_reader.h"
}

%define api.prefix {scene_}
%define api.token.prefix {TOK_}

%union {
    char* str;
    int integer;
    float number;
    bool flag;
    scene_vec vec;
    scene_corner corner;
}

%token <str> STRING
%token <integer> INT
%token <number> FLOAT
%token CAMERA MODEL LIGHT NB_LIGHTS NB_MODELS INCLUDE MATRIX ASPECT CLIP FOV FOCAL APERTURE
%token FRUSTUM SPOT POINT INFINITE AREA_SPOT AREA_POINT COLOR POSITION FALLOFF DIRECTION
%token ANGLES DROPOFF RECT DISK SPHERE SAMPLES WORLD_MATRIX AREA_MATRIX AREA_TYPE POLY NURB
%token NULL_MODEL NB_VERTICES PRIM_VISIBILITY SURFACE_VISIBILITY REFERENCE_EQUALMAP
%token CASTS_SHADOWS NB_NORMALS NB_UVS NB_POLYS V N UV P ORDER U_KNOTS V_KNOTS CLOSED TRUE
%token FALSE ROOT_SCALE DPNT NB_PND PND DOUBLE_SIDED OPPOSITE NB_LIGHTLINK LINKED_OBJECT
%token EXCLUDE_HAIR TRANSFORM_HAIR
%token NO_MEMORY

%type <number> number
%type <vec> vector
%type <flag> bool
%type <integer> light_type area_shape
%type <corner> corner

%destructor { std::free($$); } <str>

/* Three numbers followed by a number (INT or FLOAT) inside a matrix: the
   number is the vector's fourth component (shift), never the start of the
   next vector. */
%expect 2

%%

file
    : items
    ;

items
    : item
    | items item
    ;

item
    : camera_block
    | light_block
    | model_block
    | NB_LIGHTS INT             { ACT(make_room(lgtdb_init, lgtdb_count(), $2, "lights")); }
    | NB_MODELS INT             { ACT(make_room(mdldb_init, mdldb_capacity(g.which), $2, "models")); }
    | INCLUDE STRING            { ACT(include($2)); }
    | EXCLUDE_HAIR STRING       {
                                    if (hair_params* hp = description($2))
                                        hp->set_visibility(false);
                                    std::free($2);
                                }
    | TRANSFORM_HAIR STRING vector vector vector vector {
                                    if (hair_params* hp = description($2))
                                        hp->matrix = rows($3, $4, $5, $6);
                                    std::free($2);
                                }
    ;

/* --- Camera --------------------------------------------------------------------------- */

camera_block
    : camera_head '{' camera_statements '}'
    ;

camera_head
    : CAMERA                    { g.camera = camdb_get(g.which); }
    ;

camera_statements
    : camera_statement
    | camera_statements camera_statement
    ;

camera_statement
    : ASPECT number             { g.camera->set_aspect($2); }
    | CLIP number number        { g.camera->set_clip($2, $3); }
    | FOV number                { g.camera->set_fov($2, 1); }
    | FOCAL number              { g.camera->set_focal($2); }
    | APERTURE number           { g.camera->set_aperture($2); }
    | FRUSTUM number number number number { g.camera->set_frustum($2, $3, $4, $5); }
    | MATRIX vector vector vector vector  { g.camera->set_matrix(rows($2, $3, $4, $5)); }
    ;

/* --- Lights --------------------------------------------------------------------------- */

light_block
    : light_head '{' light_statements '}'
    ;

light_head
    : LIGHT light_type STRING   { ACT(begin_light($2, $3)); }
    ;

light_type
    : SPOT                      { $$ = LIGHT_SPOT; }
    | POINT                     { $$ = LIGHT_POINT; }
    | INFINITE                  { $$ = LIGHT_INFINITE; }
    | AREA_SPOT                 { $$ = LIGHT_SPOT_AREA; }
    | AREA_POINT                { $$ = LIGHT_POINT_AREA; }
    ;

light_statements
    : light_statement
    | light_statements light_statement
    ;

light_statement
    : COLOR vector              { g.light->color = kivColor($2.v[0], $2.v[1], $2.v[2], 1.0f); }
    | POSITION vector           { g.light->position = point($2); }
    | DIRECTION vector          { g.light->direction = vec3($2); }
    | FALLOFF number number     {
                                    g.light->flags |= LIGHT_HAS_FALLOFF;
                                    g.light->falloff_start = $2;
                                    g.light->falloff_end = $3;
                                }
    | ANGLES number number      {
                                    g.light->cone = $2 * 0.5f;
                                    g.light->penumbra = $3;
                                }
    | DROPOFF number            { g.light->dropoff = $2; }
    | SAMPLES INT INT           { area_samples($2, $3); }
    | WORLD_MATRIX vector vector vector vector { g.light->matrix = rows($2, $3, $4, $5); }
    | AREA_MATRIX vector vector vector vector  { g.light->area_matrix = rows($2, $3, $4, $5); }
    | AREA_TYPE area_shape      { g.light->area_shape = $2; }
    | NB_LIGHTLINK INT          { ACT(check_count($2)); g.light->set_link_count($2); }
    | LINKED_OBJECT             { g.link_reported = false; } linked_names
    ;

area_shape
    : RECT                      { $$ = AREA_RECT; }
    | SPHERE                    { $$ = AREA_SPHERE; }
    | DISK                      { $$ = AREA_DISC; }
    ;

linked_names
    : linked_name
    | linked_names linked_name
    ;

linked_name
    : STRING                    { ACT(link_object($1)); }
    ;

/* --- Models --------------------------------------------------------------------------- */

model_block
    : poly_head '{' commons poly_statements '}'
    | nurb_head '{' commons nurb_statements '}'     { end_nurb(); }
    | null_head '{' commons '}'
    | dpnt_head '{' commons dpnt_statements '}'
    ;

poly_head
    : MODEL POLY STRING         { ACT(begin_model(MODEL_POLY, $3)); }
    ;
nurb_head
    : MODEL NURB STRING         { ACT(begin_model(MODEL_NURB, $3)); }
    ;
null_head
    : MODEL NULL_MODEL STRING   { ACT(begin_model(MODEL_NULL, $3)); }
    ;
dpnt_head
    : MODEL DPNT STRING         { ACT(begin_model(MODEL_DPNT, $3)); }
    ;

commons
    : %empty
    | commons common
    ;

common
    : MATRIX vector vector vector vector { g.model->matrix = rows($2, $3, $4, $5); }
    | ROOT_SCALE number         { g.model->root_scale = $2; }
    | DOUBLE_SIDED bool         { g.model->zbuffer_flag1 = $2; }
    | OPPOSITE bool             { g.model->zbuffer_flag2 = $2; }
    ;

poly_statements
    : poly_statement
    | poly_statements poly_statement
    ;

poly_statement
    : NB_VERTICES INT           { ACT(check_count($2)); if (g.polys) { g.polys->set_nb_verts($2); g.count.verts = 0; } }
    | NB_NORMALS INT            { ACT(check_count($2)); if (g.polys) { g.polys->set_nb_norms($2); g.count.norms = 0; } }
    | NB_UVS INT                { ACT(check_count($2)); if (g.polys) { g.polys->set_nb_texs($2); g.count.uvs = 0; } }
    | NB_POLYS INT              { ACT(check_count($2)); if (g.polys) { g.polys->set_nb_polys($2); g.count.polys = 0; } }
    | REFERENCE_EQUALMAP STRING {
                                    if (g.polys) g.polys->set_ref_equal_map($2);
                                    std::free($2);
                                }
    | PRIM_VISIBILITY bool      { if (g.polys) g.polys->set_prim_visibility($2); }
    | CASTS_SHADOWS bool        { if (g.polys) g.polys->set_casts_shadows($2); }
    | SURFACE_VISIBILITY bool   { if (g.polys) g.polys->set_visibility($2); }
    | V vector                  {
                                    if (g.polys)
                                        element(g.count.verts,
                                                "nb_vertices construct needed before vertices",
                                                [&](int i) { g.polys->set_vert(i, point($2)); });
                                }
    | N vector                  {
                                    if (g.polys)
                                        element(g.count.norms,
                                                "nb_normals construct needed before normals",
                                                [&](int i) { g.polys->set_norm(i, vec3($2)); });
                                }
    | UV vector                 {
                                    if (g.polys)
                                        element(g.count.uvs, "nb_uvs construct needed before uvs",
                                                [&](int i) { g.polys->set_tex(i, point($2)); });
                                }
    | P corner corner corner    {
                                    const scene_corner c[3] = {$2, $3, $4};
                                    polygon(c, 3);
                                }
    | P corner corner corner corner {
                                    const scene_corner c[4] = {$2, $3, $4, $5};
                                    polygon(c, 4);
                                }
    ;

corner
    : INT '/' INT '/' INT       { $$ = scene_corner{$1, $3, $5}; }
    ;

nurb_statements
    : nurb_statement
    | nurb_statements nurb_statement
    ;

nurb_statement
    : NB_VERTICES INT INT       { ACT(check_count(static_cast<long long>($2) * $3)); if (g.nurb) g.nurb->set_nb_verts($2, $3); }
    | ORDER INT INT             { nurb_order($2, $3); }
    | CLOSED bool bool          { if (g.nurb) g.nurb->set_closed($2, $3); }
    | PRIM_VISIBILITY bool      { if (g.nurb) g.nurb->set_prim_visibility($2); }
    | CASTS_SHADOWS bool        { if (g.nurb) g.nurb->set_cast_shadows($2); }
    | SURFACE_VISIBILITY bool   { if (g.nurb) g.nurb->set_visibility($2); }
    | REFERENCE_EQUALMAP STRING {
                                    if (g.nurb) g.nurb->set_ref_equal_map($2);
                                    std::free($2);
                                }
    | V vector                  { nurb_vertex($2); }
    | U_KNOTS                   {
                                    if (g.nurb)
                                        begin_knots(static_cast<long long>(g.nurb->uorder) +
                                                    g.nurb->nb_uverts);
                                }
      knots                     {
                                    if (g.nurb)
                                        g.nurb->set_uknots(static_cast<int>(g.knot_count),
                                                           g.knots);
                                }
    | V_KNOTS                   {
                                    if (g.nurb)
                                        begin_knots(static_cast<long long>(g.nurb->vorder) +
                                                    g.nurb->nb_vverts);
                                }
      knots                     {
                                    if (g.nurb)
                                        g.nurb->set_vknots(static_cast<int>(g.knot_count),
                                                           g.knots);
                                }
    ;

knots
    : number                    { if (g.nurb) knot($1); }
    | knots number              { if (g.nurb) knot($2); }
    ;

dpnt_statements
    : dpnt_statement
    | dpnt_statements dpnt_statement
    ;

dpnt_statement
    : NB_PND INT                { ACT(check_count($2)); if (g.dpnt) { g.dpnt->alloc($2); g.count.pnds = 0; } }
    | PND INT number number number number number number number number number {
                                    const float f[9] = {$3, $4, $5, $6, $7, $8, $9, $10, $11};
                                    pnd($2, f);
                                }
    ;

/* --- Values --------------------------------------------------------------------------- */

vector
    : number number number number { $$ = scene_vec{{$1, $2, $3, $4}}; }
    | number number number      { $$ = scene_vec{{$1, $2, $3, 1.0f}}; }
    ;

bool
    : TRUE                      { $$ = true; }
    | FALSE                     { $$ = false; }
    ;

number
    : INT                       { $$ = static_cast<float>($1); }
    | FLOAT                     { $$ = $1; }
    ;

%%

void scene_error(const char* message) {
    const std::string text = message ? message : "";
    std::puts(text == "memory exhausted" ? "parser stack overflow" : "parse error");
    std::printf("scene file: syntax error at line %d\n", scene_scanner_line());
    g.error = true;
}

// The size of the file in bytes; unbounded when it cannot be told (a pipe).
long long file_size(std::FILE* file) {
    struct stat st;
    if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode))
        return std::numeric_limits<long long>::max();
    return static_cast<long long>(st.st_size);
}

bool scene_read_file(std::FILE* file, int which) {
    g = reader_state();
    g.which = which;
    g.count_limit = file_size(file);
    scene_scanner_begin(file);
    scene_parse();
    scene_scanner_end();
    delete[] g.knots;
    const bool error = g.error;
    const std::exception_ptr failure = g.failure;
    g = reader_state();
    if (failure) std::rethrow_exception(failure);
    return !error;
}
