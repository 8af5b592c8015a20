// The assignment file reader: the actions of the grammar, applied to the
// assignment table.
#include "readers/assign_reader.h"

#include <cstdio>
#include <cstdlib>

#include "descriptions/assign_db.h"
#include "readers/assign_file.h"
#include "foundation/names.h"

void assign_reader::begin_statement(assign_statement kind, char* item) {
    kind_ = kind;
    has_item_ = item != nullptr;
    item_ = item ? item : "";
    std::free(item);
}

bool assign_reader::apply(char* model, const float* mult) {
    hair_name* name = nullptr;
    try {
        name = names_add(model);
        const char* item = item_.c_str();
        switch (kind_) {
            case assign_statement::hair:
                assdb_assign_hair(item, name);
                break;
            case assign_statement::attract:
                assdb_assign_attract(item, name);
                break;
            case assign_statement::curve_attract:
                assdb_assign_curve_attract(item, name);
                break;
            case assign_statement::exclude_both:
                assdb_exclude_smap_render(name);
                assdb_exclude_hair_render(name);
                break;
            case assign_statement::exclude_smap:
                assdb_exclude_smap_render(name);
                break;
            case assign_statement::exclude_hair:
                assdb_exclude_hair_render(name);
                break;
            case assign_statement::area:
                assdb_set_density_mult(name, mult ? *mult : 1.0f, has_item_ ? item : nullptr);
                break;
            case assign_statement::none:
                break;
        }
    } catch (...) {
        // Held for assign_read_file, which throws it on after clean-up.
        failure_ = std::current_exception();
        names_remove(name);
        std::free(model);
        return false;
    }
    names_remove(name);
    std::free(model);
    return true;
}

void assign_reader::syntax_error(const char* message) {
    const std::string text = message ? message : "";
    std::puts(text == "memory exhausted" ? "parser stack overflow" : "parse error");
    std::printf("assignment file: syntax error at line %d\n", position_.line);
    error_ = true;
}

bool assign_read_file(std::FILE* file) {
    assign_reader reader;
    assign_parse_file(file, reader);
    if (reader.failure()) std::rethrow_exception(reader.failure());
    return !reader.had_error();
}
