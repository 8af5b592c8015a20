%{
// Parser of the assignment file.
//
// Each statement names what it assigns (a hair description, an attractor
// or a curve attractor set, an exclusion, an area group) and then lists
// the models that get it. The statement's head is kept while its list is
// read, and every model name in the list is applied as it is reduced:
// interned for the call and given back afterwards. The actions are calls
// to the reader (assign_reader.cpp), which holds the state of the read.
//
// A syntax error is reported with its line and the parser recovers at
// the end of the statement; the reading goes on and the error flag makes
// the read fail at the end. A failure of the table (FurEFailed) aborts the
// parse, which releases the strings still on the parser's stack, and is
// thrown on by assign_read_file.
#include <cstdlib>

#include "readers/assign_reader.h"

// The stack never grows: 200 states, then "parser stack overflow".
#define YYINITDEPTH 200
#define YYMAXDEPTH 200
%}

%code requires {
#include "readers/assign_reader.h"
}

%define api.pure full
%define api.prefix {assign_}
%define api.token.prefix {TOK_}
%param {void* scanner}
%parse-param {assign_reader& r}

%union {
    char* str;
    int integer;
    float number;
}

%code {
int assign_lex(ASSIGN_STYPE* value, void* scanner);
void assign_error(void* scanner, assign_reader& r, const char* message);
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
    : STRING HAIR               { r.begin_statement(assign_statement::hair, $1); }
    | STRING ATTRACT            { r.begin_statement(assign_statement::attract, $1); }
    | STRING CURVE_ATTRACT      { r.begin_statement(assign_statement::curve_attract, $1); }
    | EXCLUDE                   { r.begin_statement(assign_statement::exclude_both, nullptr); }
    | EXCLUDE_SMAPS             { r.begin_statement(assign_statement::exclude_smap, nullptr); }
    | EXCLUDE_HAIR              { r.begin_statement(assign_statement::exclude_hair, nullptr); }
    ;

area_head
    : STRING AREA               { r.begin_statement(assign_statement::area, $1); }
    | AREA                      { r.begin_statement(assign_statement::area, nullptr); }
    ;

model_names
    : %empty
    | model_names STRING        {
                                    if (!r.apply($2, nullptr)) YYABORT;
                                }
    ;

area_entries
    : %empty
    | area_entries STRING number {
                                    if (!r.apply($2, &$3)) YYABORT;
                                }
    ;

number
    : INT                       { $$ = static_cast<float>($1); }
    | FLOAT                     { $$ = $1; }
    ;

%%

void assign_error(void*, assign_reader& r, const char* message) {
    r.syntax_error(message);
}
