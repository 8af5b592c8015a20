%{
// Parser of the scene file.
//
// A scene file is a list of items: room for lights and models, includes,
// hair descriptions hidden or re-placed for this frame, and camera, light
// and model blocks. Each block takes its record from the database of the
// slot being read when its head is reduced and fills it statement by
// statement. The actions are calls to the reader (scene_reader.cpp),
// which holds the state of the read.
//
// A grammar error is reported with its line and ends the parse (the rest
// of the file is skipped); the error flag makes the read fail. When the
// databases have no room left (nb_lights, nb_models or a block finds no
// free record) the rest of the file is skipped quietly. A failure of the
// name table (FurEFailed) aborts the parse, which releases the strings
// still on the parser's stack, and is thrown on by scene_read_file.
#include <cstdlib>

#include "readers/scene_reader.h"
#include "geometry/model_database.h"
#include "render/lighting.h"

// The stack never grows: the lists are left-recursive and need little.
#define YYINITDEPTH 200
#define YYMAXDEPTH 200

// Applies an action's outcome.
#define ACT(call)                                  \
    do {                                           \
        switch (call) {                            \
            case scene_step::stop: YYACCEPT;       \
            case scene_step::fail: YYABORT;        \
            case scene_step::go: break;            \
        }                                          \
    } while (0)
%}

%code requires {
#include "readers/scene_reader.h"
}

%define api.pure full
%define api.prefix {scene_}
%define api.token.prefix {TOK_}
%param {void* scanner}
%parse-param {scene_reader& r}

%union {
    char* str;
    int integer;
    float number;
    bool flag;
    scene_vec vec;
    scene_corner corner;
}

%code {
int scene_lex(SCENE_STYPE* value, void* scanner);
void scene_error(void* scanner, scene_reader& r, const char* message);
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
    | NB_LIGHTS INT             { ACT(r.reserve_lights($2)); }
    | NB_MODELS INT             { ACT(r.reserve_models($2)); }
    | INCLUDE STRING            { ACT(r.include($2)); }
    | EXCLUDE_HAIR STRING       { r.exclude_hair($2); }
    | TRANSFORM_HAIR STRING vector vector vector vector { r.transform_hair($2, $3, $4, $5, $6); }
    ;

/* --- Camera --------------------------------------------------------------------------- */

camera_block
    : camera_head '{' camera_statements '}'
    ;

camera_head
    : CAMERA                    { r.begin_camera(); }
    ;

camera_statements
    : camera_statement
    | camera_statements camera_statement
    ;

camera_statement
    : ASPECT number             { r.camera_aspect($2); }
    | CLIP number number        { r.camera_clip($2, $3); }
    | FOV number                { r.camera_fov($2); }
    | FOCAL number              { r.camera_focal($2); }
    | APERTURE number           { r.camera_aperture($2); }
    | FRUSTUM number number number number { r.camera_frustum($2, $3, $4, $5); }
    | MATRIX vector vector vector vector  { r.camera_matrix($2, $3, $4, $5); }
    ;

/* --- Lights --------------------------------------------------------------------------- */

light_block
    : light_head '{' light_statements '}'
    ;

light_head
    : LIGHT light_type STRING   { ACT(r.begin_light($2, $3)); }
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
    : COLOR vector              { r.light_color($2); }
    | POSITION vector           { r.light_position($2); }
    | DIRECTION vector          { r.light_direction($2); }
    | FALLOFF number number     { r.light_falloff($2, $3); }
    | ANGLES number number      { r.light_angles($2, $3); }
    | DROPOFF number            { r.light_dropoff($2); }
    | SAMPLES INT INT           { r.light_samples($2, $3); }
    | WORLD_MATRIX vector vector vector vector { r.light_matrix($2, $3, $4, $5); }
    | AREA_MATRIX vector vector vector vector  { r.light_area_matrix($2, $3, $4, $5); }
    | AREA_TYPE area_shape      { r.light_area_shape($2); }
    | NB_LIGHTLINK INT          { ACT(r.light_link_count($2)); }
    | LINKED_OBJECT             { r.begin_links(); } linked_names
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
    : STRING                    { ACT(r.link_object($1)); }
    ;

/* --- Models --------------------------------------------------------------------------- */

model_block
    : poly_head '{' commons poly_statements '}'
    | nurb_head '{' commons nurb_statements '}'     { r.end_nurb(); }
    | null_head '{' commons '}'
    | dpnt_head '{' commons dpnt_statements '}'
    ;

poly_head
    : MODEL POLY STRING         { ACT(r.begin_model(MODEL_POLY, $3)); }
    ;
nurb_head
    : MODEL NURB STRING         { ACT(r.begin_model(MODEL_NURB, $3)); }
    ;
null_head
    : MODEL NULL_MODEL STRING   { ACT(r.begin_model(MODEL_NULL, $3)); }
    ;
dpnt_head
    : MODEL DPNT STRING         { ACT(r.begin_model(MODEL_DPNT, $3)); }
    ;

commons
    : %empty
    | commons common
    ;

common
    : MATRIX vector vector vector vector { r.model_matrix($2, $3, $4, $5); }
    | ROOT_SCALE number         { r.model_root_scale($2); }
    | DOUBLE_SIDED bool         { r.model_double_sided($2); }
    | OPPOSITE bool             { r.model_opposite($2); }
    ;

poly_statements
    : poly_statement
    | poly_statements poly_statement
    ;

poly_statement
    : NB_VERTICES INT           { ACT(r.poly_nb_vertices($2)); }
    | NB_NORMALS INT            { ACT(r.poly_nb_normals($2)); }
    | NB_UVS INT                { ACT(r.poly_nb_uvs($2)); }
    | NB_POLYS INT              { ACT(r.poly_nb_polys($2)); }
    | REFERENCE_EQUALMAP STRING { r.poly_reference_equalmap($2); }
    | PRIM_VISIBILITY bool      { r.poly_prim_visibility($2); }
    | CASTS_SHADOWS bool        { r.poly_casts_shadows($2); }
    | SURFACE_VISIBILITY bool   { r.poly_surface_visibility($2); }
    | V vector                  { r.poly_vertex($2); }
    | N vector                  { r.poly_normal($2); }
    | UV vector                 { r.poly_uv($2); }
    | P corner corner corner    {
                                    const scene_corner c[3] = {$2, $3, $4};
                                    r.polygon(c, 3);
                                }
    | P corner corner corner corner {
                                    const scene_corner c[4] = {$2, $3, $4, $5};
                                    r.polygon(c, 4);
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
    : NB_VERTICES INT INT       { ACT(r.nurb_nb_vertices($2, $3)); }
    | ORDER INT INT             { r.nurb_order($2, $3); }
    | CLOSED bool bool          { r.nurb_closed($2, $3); }
    | PRIM_VISIBILITY bool      { r.nurb_prim_visibility($2); }
    | CASTS_SHADOWS bool        { r.nurb_casts_shadows($2); }
    | SURFACE_VISIBILITY bool   { r.nurb_surface_visibility($2); }
    | REFERENCE_EQUALMAP STRING { r.nurb_reference_equalmap($2); }
    | V vector                  { r.nurb_vertex($2); }
    | U_KNOTS                   { r.begin_knots(true); }
      knots                     { r.end_knots(true); }
    | V_KNOTS                   { r.begin_knots(false); }
      knots                     { r.end_knots(false); }
    ;

knots
    : number                    { r.knot($1); }
    | knots number              { r.knot($2); }
    ;

dpnt_statements
    : dpnt_statement
    | dpnt_statements dpnt_statement
    ;

dpnt_statement
    : NB_PND INT                { ACT(r.dpnt_count($2)); }
    | PND INT number number number number number number number number number {
                                    const float f[9] = {$3, $4, $5, $6, $7, $8, $9, $10, $11};
                                    r.pnd($2, f);
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

void scene_error(void*, scene_reader& r, const char* message) {
    r.syntax_error(message);
}
