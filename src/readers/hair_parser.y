%{
// Parser of the hair description file.
//
// A file is a sequence of blocks: hair descriptions, the world-units
// factor, attractor and curve attractor sets, light settings and the fog.
// Each construct calls its action on the reader (hair_file.cpp) as it is
// reduced, so the actions run in file order: a block's head creates its record, the
// statements fill it, the closing brace hands it over.
//
// Parameter values are sequences of terms, each term possibly followed by
// an operator. A group opens only before a term that carries an operator
// and closes after any later term; groups do not nest, and two terms may
// stand side by side (the value is then refused as invalid). Each term
// becomes one element of the value's chain with its operator and its
// group flags.
//
// A grammar error is reported once and ends the parse; an action that
// fails with an exception aborts it. Either way bison releases the strings,
// terms and chains still on its stack.
#include <cstdlib>

#include "descriptions/hair_params.h"
#include "readers/hair_reader.h"
%}

%code requires {
#include "readers/hair_reader.h"
}

%define api.pure full
%define api.prefix {hair_}
%define api.token.prefix {TOK_}
%param {void* scanner}
%parse-param {hair_reader& r}

// Nine shift/reduce conflicts, all resolved by shifting: a "-" after a term
// is an operator, not the sign of a number that starts the next term (six
// states), and a number after three numbers of a vector is its fourth
// component, not the start of the next vector (three tokens).
%expect 9

%union {
    char* str;
    int integer;
    float number;
    hair_vec4 vec;
    hair_larg larg;
    hp_scalar* sterm;
    hp_color* cterm;
    hair_scalar_chain schain;
    hair_color_chain cchain;
}

%code {
int hair_lex(HAIR_STYPE* value, void* scanner);
void hair_error(void* scanner, hair_reader& r, const char* message);
}

%token <str> STRING
%token <integer> INT
%token <number> FLOAT
%token NO_MEMORY
%token WIDTH_UNITS IMAGE NOISE LINSTEP IMAGESTEP CRVDATA HAIR LIGHT_MODEL AMBIENT_BASE
%token AMBIENT_TIP DIFFUSE_BASE DIFFUSE_TIP SPECULAR SHARPNESS OPACITY_BASE OPACITY_TIP
%token DENSITY USAMPLES VSAMPLES BALDNESS EQUALIZER WIDTH_BASE WIDTH_TIP LENGTH SEGMENTS
%token OFFSET CUSTOM_EQUALIZER EQUALMAP_TYPE FREQUENCY CLUMP CLUMPFREQUENCY CLUMPSHAPE
%token CURL_BASE CURL_TIP SCRAGGLE CORRELATION ERECTNESS POLAR ROLL ORIENT_VAR ATTRACTORS
%token SPAWN_FACTOR SPAWN_PARAMS SPAWN_SEGMENT AREA_GROUP REFERENCE_EQUALMAP ATTRACTOR
%token INFLUENCE START_LENGTH END_LENGTH POWER NB_CONTROLS CONTROL TYPE LOCAL GLOBAL
%token CLOSEST_NB RADIUS CURVEATTRACTOR CINFLUENCE CSTART_LENGTH CEND_LENGTH CPOWER
%token CNB_CONTROLS CCONTROL CTYPE CLOCAL CGLOBAL CCLOSEST_NB CRADIUS CTHRESHOLD LIGHT
%token SHADOW_TYPE SELF_SHADE SELF_SHADE_DARKNESS BACK_SHADOW_FACTOR BACK_SHADOW_DARKNESS
%token SHADOW_CONE MAP_SIZE THRESHOLD LGT_FILTER_SIZE OBJ_FILTER_SIZE LGT_DARKNESS
%token OBJ_DARKNESS LOW_HAIR_EPSILON HIGH_HAIR_EPSILON GEO_EPSILON FOG Z_MIN Z_MAX COLOR
%token TRANSP MATRIX CASTS_SHADOWS PRIM_VISIBILITY TRUE FALSE VAR SHADOW_PROJECTOR

%type <number> number
%type <integer> sint op bool colour_field scalar_field sample_field a_field c_field
%type <vec> vector
%type <larg> larg
%type <sterm> scalar_term
%type <cterm> colour_term
%type <schain> scalar_expr
%type <cchain> colour_expr

%destructor { std::free($$); } <str>
%destructor { delete $$; } <sterm> <cterm>
%destructor { delete $$.head; } <schain> <cchain>

%%

file
    : block
    | file block
    ;

block
    : hair_head hair_body '}'           { if (!r.end()) YYABORT; }
    | WIDTH_UNITS '=' number ';'        { hair_params_set_wunits($3); }
    | attractor_head attractor_statements '}' { r.attract_end(false); }
    | curve_head curve_statements '}'   { r.attract_end(true); }
    | light_head light_statements '}'   { if (!r.light_end()) YYABORT; }
    | fog_head fog_statements '}'       { r.fog_end(); }
    ;

/* ---- Hair blocks ---------------------------------------------------------------- */

hair_head
    : HAIR STRING '{'                   { if (!r.begin($2)) YYABORT; }
    ;

hair_body
    : %empty                            { r.scratch_reset(); }
    | hair_statements
    ;

hair_statements
    : hair_statement
    | hair_statements hair_statement
    ;

hair_statement
    : LIGHT_MODEL '=' INT ';'           { r.set_light_model($3); }
    | SPAWN_PARAMS '=' STRING ';'       { if (!r.set_name(HNF_SPAWN_PARAMS, $3)) YYABORT; }
    | AREA_GROUP '=' STRING ';'         { if (!r.set_name(HNF_AREA_GROUP, $3)) YYABORT; }
    | REFERENCE_EQUALMAP '=' STRING ';' {
                                            if (!r.set_name(HNF_REFERENCE_EQUALMAP, $3))
                                                YYABORT;
                                        }
    | EQUALMAP_TYPE '=' INT ';'         { r.set_equalmap_type($3); }
    | MATRIX vector vector vector vector { r.set_matrix($2, $3, $4, $5); }
    | CASTS_SHADOWS bool                { r.set_casts_shadows($2 != 0); }
    | PRIM_VISIBILITY bool              { r.set_prim_visibility($2 != 0); }
    | colour_field '=' colour_expr ';'  { r.set_color($1, $3); }
    | scalar_field '=' scalar_expr ';'  { r.set_scalar($1, $3); }
    | sample_field '=' number ';'       {
                                            hp_scalar* t = r.new_term<hp_scalar>(
                                                [&](hp_scalar& s) { s.set_constant($3); });
                                            if (!t) YYABORT;
                                            r.set_sample($1, t);
                                        }
    | sample_field '=' LINSTEP '(' sint ',' sint ',' number ',' number ')' ';' {
                                            hp_scalar* t = r.new_term<hp_scalar>(
                                                [&](hp_scalar& s) {
                                                    s.set_linstep(static_cast<float>($5),
                                                                  static_cast<float>($7), $9, $11);
                                                });
                                            if (!t) YYABORT;
                                            r.set_sample($1, t);
                                        }
    ;

colour_field
    : AMBIENT_BASE                      { $$ = HCF_AMBIENT_BASE; }
    | AMBIENT_TIP                       { $$ = HCF_AMBIENT_TIP; }
    | DIFFUSE_BASE                      { $$ = HCF_DIFFUSE_BASE; }
    | DIFFUSE_TIP                       { $$ = HCF_DIFFUSE_TIP; }
    | SPECULAR                          { $$ = HCF_SPECULAR; }
    ;

scalar_field
    : EQUALIZER                         { $$ = HSF_EQUALIZER; }
    | BALDNESS                          { $$ = HSF_BALDNESS; }
    | WIDTH_BASE                        { $$ = HSF_WIDTH_BASE; }
    | WIDTH_TIP                         { $$ = HSF_WIDTH_TIP; }
    | OPACITY_BASE                      { $$ = HSF_OPACITY_BASE; }
    | OPACITY_TIP                       { $$ = HSF_OPACITY_TIP; }
    | CURL_BASE                         { $$ = HSF_CURL_BASE; }
    | CURL_TIP                          { $$ = HSF_CURL_TIP; }
    | SCRAGGLE                          { $$ = HSF_SCRAGGLE; }
    | CORRELATION                       { $$ = HSF_CORRELATION; }
    | POLAR                             { $$ = HSF_POLAR; }
    | ROLL                              { $$ = HSF_ROLL; }
    | ORIENT_VAR                        { $$ = HSF_ORIENT_VAR; }
    | FREQUENCY                         { $$ = HSF_FREQUENCY; }
    | CLUMP                             { $$ = HSF_CLUMP; }
    | CLUMPFREQUENCY                    { $$ = HSF_CLUMPFREQUENCY; }
    | CLUMPSHAPE                        { $$ = HSF_CLUMPSHAPE; }
    | SEGMENTS                          { $$ = HSF_SEGMENTS; }
    | ATTRACTORS                        { $$ = HSF_ATTRACTORS; }
    | SPAWN_FACTOR                      { $$ = HSF_SPAWN_FACTOR; }
    | SPAWN_SEGMENT                     { $$ = HSF_SPAWN_SEGMENT; }
    | SHARPNESS                         { $$ = HSF_SHARPNESS; }
    | ERECTNESS                         { $$ = HSF_ERECTNESS; }
    | LENGTH                            { $$ = HSF_LENGTH; }
    | OFFSET                            { $$ = HSF_OFFSET; }
    | CUSTOM_EQUALIZER                  { $$ = HSF_CUSTOM_EQUALIZER; }
    | VAR '[' INT ']'                   { $$ = r.var_field($3); }
    ;

sample_field
    : DENSITY                           { $$ = HSF_DENSITY; }
    | USAMPLES                          { $$ = HSF_USAMPLES; }
    | VSAMPLES                          { $$ = HSF_VSAMPLES; }
    ;

/* ---- Attractor and curve attractor blocks --------------------------------------- */

attractor_head
    : ATTRACTOR STRING '{'              { if (!r.attract_begin(false, $2)) YYABORT; }
    ;

attractor_statements
    : attractor_statement
    | attractor_statements attractor_statement
    ;

attractor_statement
    : a_field '=' scalar_expr ';'       { r.attract_set(false, $1, $3); }
    | CLOSEST_NB '=' INT ';'            { r.attract_closest(false, $3); }
    | TYPE '=' GLOBAL ';'               { r.attract_type(false, 1); }
    | TYPE '=' LOCAL ';'                { r.attract_type(false, 0); }
    | NB_CONTROLS '=' INT ';'           { r.attract_nb_controls(false, $3); }
    | CONTROL '=' '(' STRING ',' STRING ',' STRING ')' ';' {
                                            if (!r.attract_control(false, $4, $6, $8))
                                                YYABORT;
                                        }
    ;

a_field
    : INFLUENCE                         { $$ = HAF_INFLUENCE; }
    | START_LENGTH                      { $$ = HAF_START_LENGTH; }
    | END_LENGTH                        { $$ = HAF_END_LENGTH; }
    | POWER                             { $$ = HAF_POWER; }
    | RADIUS                            { $$ = HAF_RADIUS; }
    | THRESHOLD                         { $$ = HAF_THRESHOLD; }
    ;

curve_head
    : CURVEATTRACTOR STRING '{'         { if (!r.attract_begin(true, $2)) YYABORT; }
    ;

curve_statements
    : curve_statement
    | curve_statements curve_statement
    ;

curve_statement
    : c_field '=' scalar_expr ';'       { r.attract_set(true, $1, $3); }
    | CCLOSEST_NB '=' INT ';'           { r.attract_closest(true, $3); }
    | CTYPE '=' CGLOBAL ';'             { r.attract_type(true, 1); }
    | CTYPE '=' CLOCAL ';'              { r.attract_type(true, 0); }
    | CNB_CONTROLS '=' INT ';'          { r.attract_nb_controls(true, $3); }
    | CCONTROL '=' '(' STRING ')' ';'   {
                                            if (!r.attract_control(true, $4, nullptr, nullptr))
                                                YYABORT;
                                        }
    ;

c_field
    : CINFLUENCE                        { $$ = HAF_INFLUENCE; }
    | CSTART_LENGTH                     { $$ = HAF_START_LENGTH; }
    | CEND_LENGTH                       { $$ = HAF_END_LENGTH; }
    | CPOWER                            { $$ = HAF_POWER; }
    | CRADIUS                           { $$ = HAF_RADIUS; }
    | CTHRESHOLD                        { $$ = HAF_THRESHOLD; }
    ;

/* ---- Light blocks --------------------------------------------------------------- */

light_head
    : LIGHT STRING '{'                  { if (!r.light_begin($2)) YYABORT; }
    ;

light_statements
    : light_statement
    | light_statements light_statement
    ;

light_statement
    : SHADOW_TYPE '=' INT ';'           { r.light_type($3); }
    | map_statement
    | auto_statement
    ;

map_statement
    : SHADOW_CONE '=' number ';'        { r.light_map().map.cone = $3; }
    | MAP_SIZE '=' INT ';'              {
                                            r.light_map().map.lines = $3;
                                            r.light_map().map.cols = $3;
                                        }
    | THRESHOLD '=' number ';'          { r.light_map().threshold = $3; }
    | LGT_FILTER_SIZE '=' INT ';'       { r.light_map().lgt_filter_size = $3 | 1; }
    | OBJ_FILTER_SIZE '=' INT ';'       { r.light_map().obj_filter_size = $3 | 1; }
    | LGT_DARKNESS '=' number ';'       { r.light_map().lgt_darkness = $3; }
    | OBJ_DARKNESS '=' number ';'       { r.light_map().obj_darkness = $3; }
    | LOW_HAIR_EPSILON '=' number ';'   { r.light_map().low_hair_epsilon = $3; }
    | HIGH_HAIR_EPSILON '=' number ';'  { r.light_map().high_hair_epsilon = $3; }
    | GEO_EPSILON '=' number ';'        { r.light_map().geo_epsilon = $3; }
    | SHADOW_PROJECTOR '=' STRING ';'   { r.light_projector($3); }
    ;

auto_statement
    : SELF_SHADE '=' number ';'         { r.light_auto().self_shade = $3; }
    | SELF_SHADE_DARKNESS '=' number ';' { r.light_auto().self_shade_darkness = $3; }
    | BACK_SHADOW_FACTOR '=' number ';' { r.light_auto().back_shadow_factor = $3; }
    | BACK_SHADOW_DARKNESS '=' number ';' { r.light_auto().back_shadow_darkness = $3; }
    ;

/* ---- The fog block -------------------------------------------------------------- */

fog_head
    : FOG '{'                           { if (!r.fog_begin()) YYABORT; }
    ;

fog_statements
    : fog_statement
    | fog_statements fog_statement
    ;

fog_statement
    : Z_MIN '=' scalar_expr ';'         { r.fog_scalar(HFF_Z_MIN, $3); }
    | Z_MAX '=' scalar_expr ';'         { r.fog_scalar(HFF_Z_MAX, $3); }
    | COLOR '=' colour_expr ';'         { r.fog_color($3); }
    | TRANSP '=' scalar_expr ';'        { r.fog_scalar(HFF_TRANSP, $3); }
    ;

/* ---- Parameter values ----------------------------------------------------------- */

scalar_expr
    : scalar_term                       {
                                            $$ = hair_chain_start<hair_scalar_chain>($1, HP_OP_NONE,
                                                                                     0);
                                        }
    | scalar_term op                    { $$ = hair_chain_start<hair_scalar_chain>($1, $2, 0); }
    | '(' scalar_term op                {
                                            $$ = hair_chain_start<hair_scalar_chain>($2, $3,
                                                                                     HP_OPEN_GROUP);
                                        }
    | scalar_expr scalar_term           { $$ = hair_chain_link($1, $2, HP_OP_NONE, 0); }
    | scalar_expr scalar_term op        { $$ = hair_chain_link($1, $2, $3, 0); }
    | scalar_expr scalar_term ')'       {
                                            $$ = hair_chain_link($1, $2, HP_OP_NONE,
                                                                 HP_CLOSE_GROUP);
                                        }
    | scalar_expr scalar_term ')' op    { $$ = hair_chain_link($1, $2, $4, HP_CLOSE_GROUP); }
    | scalar_expr '(' scalar_term op    { $$ = hair_chain_link($1, $3, $4, HP_OPEN_GROUP); }
    ;

colour_expr
    : colour_term                       {
                                            $$ = hair_chain_start<hair_color_chain>($1, HP_OP_NONE,
                                                                                    0);
                                        }
    | colour_term op                    { $$ = hair_chain_start<hair_color_chain>($1, $2, 0); }
    | '(' colour_term op                {
                                            $$ = hair_chain_start<hair_color_chain>($2, $3,
                                                                                    HP_OPEN_GROUP);
                                        }
    | colour_expr colour_term           { $$ = hair_chain_link($1, $2, HP_OP_NONE, 0); }
    | colour_expr colour_term op        { $$ = hair_chain_link($1, $2, $3, 0); }
    | colour_expr colour_term ')'       {
                                            $$ = hair_chain_link($1, $2, HP_OP_NONE,
                                                                 HP_CLOSE_GROUP);
                                        }
    | colour_expr colour_term ')' op    { $$ = hair_chain_link($1, $2, $4, HP_CLOSE_GROUP); }
    | colour_expr '(' colour_term op    { $$ = hair_chain_link($1, $3, $4, HP_OPEN_GROUP); }
    ;

scalar_term
    : number                            {
                                            $$ = r.new_term<hp_scalar>(
                                                [&](hp_scalar& t) { t.set_constant($1); });
                                            if (!$$) YYABORT;
                                        }
    | IMAGE '(' STRING ',' STRING ')'   {
                                            const hair_string f($3), c($5);
                                            $$ = r.new_term<hp_scalar>([&](hp_scalar& t) {
                                                t.set_image(f.get(), c.get());
                                            });
                                            if (!$$) YYABORT;
                                        }
    | IMAGE '(' STRING ',' STRING ',' sint ')' {
                                            const hair_string f($3), c($5);
                                            $$ = r.new_term<hp_scalar>([&](hp_scalar& t) {
                                                t.set_image_crvdata(f.get(), c.get(), $7);
                                            });
                                            if (!$$) YYABORT;
                                        }
    | IMAGE '(' STRING ',' STRING ',' number ',' number ')' {
                                            const hair_string f($3), c($5);
                                            $$ = r.new_term<hp_scalar>([&](hp_scalar& t) {
                                                t.set_image_range(f.get(), c.get(), $7, $9);
                                            });
                                            if (!$$) YYABORT;
                                        }
    | NOISE '(' number ',' number ',' number ')' {
                                            $$ = r.new_term<hp_scalar>(
                                                [&](hp_scalar& t) { t.set_noise($3, $5, $7); });
                                            if (!$$) YYABORT;
                                        }
    | LINSTEP '(' larg ',' larg ',' larg ',' larg ')' {
                                            const hair_larg a[4] = {$3, $5, $7, $9};
                                            unsigned flags = 0;
                                            for (int i = 0; i < 4; ++i)
                                                if (a[i].is_var) flags |= 1u << i;
                                            $$ = r.new_term<hp_scalar>([&](hp_scalar& t) {
                                                t.set_linstep(a[0].value, a[1].value, a[2].value,
                                                              a[3].value, flags);
                                            });
                                            if (!$$) YYABORT;
                                        }
    | IMAGESTEP '(' STRING ',' STRING ',' sint ',' sint ',' INT ',' number ',' number ')' {
                                            const hair_string f($3), c($5);
                                            $$ = r.new_term<hp_scalar>([&](hp_scalar& t) {
                                                t.set_imagestep(f.get(), c.get(), $7, $9, $11,
                                                                $13, $15);
                                            });
                                            if (!$$) YYABORT;
                                        }
    | CRVDATA '(' STRING ',' sint ')'   {
                                            const hair_string f($3);
                                            $$ = r.new_term<hp_scalar>(
                                                [&](hp_scalar& t) { t.set_crvdata(f.get(), $5); });
                                            if (!$$) YYABORT;
                                        }
    | VAR '[' INT ']'                   {
                                            $$ = r.new_term<hp_scalar>(
                                                [&](hp_scalar& t) { t.set_var($3); });
                                            if (!$$) YYABORT;
                                        }
    ;

larg
    : number                            { $$ = hair_larg{$1, false}; }
    | VAR '[' INT ']'                   { $$ = hair_larg{static_cast<float>($3), true}; }
    ;

colour_term
    : vector                            {
                                            $$ = r.new_term<hp_color>([&](hp_color& t) {
                                                t.set_constant(hair_color_of($1));
                                            });
                                            if (!$$) YYABORT;
                                        }
    | IMAGE '(' STRING ',' STRING ')'   {
                                            const hair_string f($3), c($5);
                                            $$ = r.new_term<hp_color>([&](hp_color& t) {
                                                t.set_image(f.get(), c.get());
                                            });
                                            if (!$$) YYABORT;
                                        }
    | IMAGE '(' STRING ',' STRING ',' sint ')' {
                                            const hair_string f($3), c($5);
                                            $$ = r.new_term<hp_color>([&](hp_color& t) {
                                                t.set_image_crvdata(f.get(), c.get(), $7);
                                            });
                                            if (!$$) YYABORT;
                                        }
    | IMAGE '(' STRING ',' STRING ',' vector ',' vector ')' {
                                            const hair_string f($3), c($5);
                                            $$ = r.new_term<hp_color>([&](hp_color& t) {
                                                t.set_image_range(f.get(), c.get(),
                                                                  hair_color_of($7),
                                                                  hair_color_of($9));
                                            });
                                            if (!$$) YYABORT;
                                        }
    | NOISE '(' number ',' vector ',' vector ')' {
                                            $$ = r.new_term<hp_color>([&](hp_color& t) {
                                                t.set_noise($3, hair_color_of($5),
                                                            hair_color_of($7));
                                            });
                                            if (!$$) YYABORT;
                                        }
    | LINSTEP '(' sint ',' sint ',' vector ',' vector ')' {
                                            $$ = r.new_term<hp_color>([&](hp_color& t) {
                                                t.set_linstep($3, $5, hair_color_of($7),
                                                              hair_color_of($9));
                                            });
                                            if (!$$) YYABORT;
                                        }
    | CRVDATA '(' STRING ',' sint ')'   {
                                            const hair_string f($3);
                                            $$ = r.new_term<hp_color>(
                                                [&](hp_color& t) { t.set_crvdata(f.get(), $5); });
                                            if (!$$) YYABORT;
                                        }
    ;

op
    : '+'                               { $$ = HP_OP_ADD; }
    | '-'                               { $$ = HP_OP_SUB; }
    | '*'                               { $$ = HP_OP_MUL; }
    | '/'                               { $$ = HP_OP_DIV; }
    ;

vector
    : '<' number ',' number ',' number '>' { $$ = hair_vec4_of($2, $4, $6, 1.0f); }
    | number number number number       { $$ = hair_vec4_of($1, $2, $3, $4); }
    | number number number              { $$ = hair_vec4_of($1, $2, $3, 1.0f); }
    ;

number
    : FLOAT                             { $$ = $1; }
    | INT                               { $$ = static_cast<float>($1); }
    | '-' FLOAT                         { $$ = -$2; }
    | '-' INT                           { $$ = -static_cast<float>($2); }
    ;

sint
    : INT                               { $$ = $1; }
    | '-' INT                           { $$ = -$2; }
    ;

bool
    : TRUE                              { $$ = 1; }
    | FALSE                             { $$ = 0; }
    ;

%%

void hair_error(void*, hair_reader& r, const char* message) {
    r.syntax_error(message);
}
