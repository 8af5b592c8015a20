%{
// Parser of the assignment file.
//
// Each statement names what it assigns (a hair description, an attractor
// or a curve attractor set, an exclusion, an area group) and then lists
// the models that get it. The statement's head is kept while its list is
// read, and every model name in the list is applied as it is reduced:
// interned for the call and given back afterwards.
//
// A syntax error is reported with its line and the parser recovers at
// the end of the statement; the reading goes on and the error flag makes
// the read fail at the end. A failure of the table (FurEFailed) aborts the
// parse, which releases the strings still on the parser's stack, and is
// thrown on by assign_read_file.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "descriptions/assign_db.h"
#include "readers/assign_file.h"
#include "readers/assign_reader.h"
#include "foundation/names.h"

// The stack never grows: 200 states, then "parser stack overflow".
#define YYINITDEPTH 200
#define YYMAXDEPTH 200

namespace {

// What the statement being read assigns.
enum class statement_kind { none, hair, attract, curve_attract, exclude_both, exclude_smap,
                            exclude_hair, area };

struct reader_state {
    statement_kind kind = statement_kind::none;
    std::string item;        // the statement's string: description, set or area group
    bool has_item = false;   // false for an area statement without group
    bool error = false;      // a syntax error was found
    std::exception_ptr failure;  // a failure of the table, thrown on after the parse
};

reader_state g_reader;

void begin_statement(statement_kind kind, char* item) {
    g_reader.kind = kind;
    g_reader.has_item = item != nullptr;
    g_reader.item = item ? item : "";
    std::free(item);
}

// Applies the statement to one model; false when the table failed.
bool apply(const char* model, const float* mult) {
    hair_name* name = nullptr;
    try {
        name = names_add(model);
        const char* item = g_reader.item.c_str();
        switch (g_reader.kind) {
            case statement_kind::hair: assdb_assign_hair(item, name); break;
            case statement_kind::attract: assdb_assign_attract(item, name); break;
            case statement_kind::curve_attract: assdb_assign_curve_attract(item, name); break;
            case statement_kind::exclude_both:
                assdb_exclude_smap_render(name);
                assdb_exclude_hair_render(name);
                break;
            case statement_kind::exclude_smap: assdb_exclude_smap_render(name); break;
            case statement_kind::exclude_hair: assdb_exclude_hair_render(name); break;
            case statement_kind::area:
                assdb_set_density_mult(name, mult ? *mult : 1.0f,
                                       g_reader.has_item ? item : nullptr);
                break;
            case statement_kind::none: break;
        }
    } catch (...) {
        // Held for assign_read_file, which throws it on after clean-up.
        g_reader.failure = std::current_exception();
        names_remove(name);
        return false;
    }
    names_remove(name);
    return true;
}

}  // namespace

int assign_lex();
void assign_error(const char* message);
%}

%define api.prefix {assign_}
%define api.token.prefix {TOK_}

%union {
    char* str;
    int integer;
    float number;
}

%token <str> STRING
%token <integer> INT
%token <number> FLOAT
%token EXCLUDE EXCLUDE_SMAPS EXCLUDE_HAIR AREA HAIR ATTRACT CURVE_ATTRACT
%token NO_MEMORY

%type <number> number

%destructor { std::free($$); } <str>

%%

file
    : statements
    ;

statements
    : statement
    | statements statement
    ;

statement
    : item_head '{' model_names '}'
    | area_head '{' area_entries '}'
    | error '}'                 { yyerrok; }
    ;

item_head
    : STRING HAIR               { begin_statement(statement_kind::hair, $1); }
    | STRING ATTRACT            { begin_statement(statement_kind::attract, $1); }
    | STRING CURVE_ATTRACT      { begin_statement(statement_kind::curve_attract, $1); }
    | EXCLUDE                   { begin_statement(statement_kind::exclude_both, nullptr); }
    | EXCLUDE_SMAPS             { begin_statement(statement_kind::exclude_smap, nullptr); }
    | EXCLUDE_HAIR              { begin_statement(statement_kind::exclude_hair, nullptr); }
    ;

area_head
    : STRING AREA               { begin_statement(statement_kind::area, $1); }
    | AREA                      { begin_statement(statement_kind::area, nullptr); }
    ;

model_names
    : %empty
    | model_names STRING        {
                                    const bool ok = apply($2, nullptr);
                                    std::free($2);
                                    if (!ok) YYABORT;
                                }
    ;

area_entries
    : %empty
    | area_entries STRING number {
                                    const bool ok = apply($2, &$3);
                                    std::free($2);
                                    if (!ok) YYABORT;
                                }
    ;

number
    : INT                       { $$ = static_cast<float>($1); }
    | FLOAT                     { $$ = $1; }
    ;

%%

void assign_error(const char* message) {
    const std::string text = message ? message : "";
    std::puts(text == "memory exhausted" ? "parser stack overflow" : "parse error");
    std::printf("assignment file: syntax error at line %d\n", assign_scanner_line());
    g_reader.error = true;
}

bool assign_read_file(std::FILE* file) {
    g_reader = reader_state();
    assign_scanner_begin(file);
    assign_parse();
    assign_scanner_end();
    const reader_state done = g_reader;
    g_reader = reader_state();
    if (done.failure) std::rethrow_exception(done.failure);
    return !done.error;
}
