#include "readers/assign_file.h"

#include <cstdio>
#include <memory>
#include <string>

#include "descriptions/hair_params.h"
#include "foundation/fur_exception.h"
#include "foundation/messages.h"
#include "generation/attractors.h"
#include "generation/curve_attractors.h"
#include "readers/assign_reader.h"

int assdb_readfile(const char* path) {
    if (!assdb_ready()) return 0;
    std::FILE* f = path ? std::fopen(path, "r") : nullptr;
    if (!f) {
        const std::string text = std::string("Can't open data file ") + (path ? path : "");
        sendInfo(infoError, text.c_str());
        return 0;
    }
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(f, std::fclose);
    if (!assign_read_file(f)) {
        const std::string text = std::string("Parsing failed for data file ") + path;
        throw FurEFailed(text.c_str());
    }
    return assdb_reserve_results(hair_params_list_count(), attractdb_count(),
                                 curveAttractdb_count());
}

namespace {

// Finds the set named item with find and attaches it to model; "WARNING:
// assignment <kind> <item> doesn't exist!" and 0 when there is none.
template <class Set>
int assign_set(const char* item, hair_name* model, Set* (*find)(const hair_name*),
               void (*attach)(hair_name*, void*), const char* kind) {
    if (!model || !item) return 0;
    Set* set = find(names_find(item));
    if (!set) {
        std::printf("WARNING: assignment %s %s doesn't exist!\n", kind, item);
        return 0;
    }
    attach(model, set);
    return 1;
}

}  // namespace

int assdb_assign_attract(const char* attractor, hair_name* model) {
    return assign_set(attractor, model, attractdb_get, assdb_attach_attract, "attractor");
}

int assdb_assign_curve_attract(const char* curve_attractor, hair_name* model) {
    return assign_set(curve_attractor, model, curveAttractdb_get, assdb_attach_curve_attract,
                      "curve attractor");
}
