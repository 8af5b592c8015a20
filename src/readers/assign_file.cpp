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

int assdb_assign_attract(const char* attractor, hair_name* model) {
    if (!model || !attractor) return 0;
    hair_attract* a = attractdb_get(names_find(attractor));
    if (!a) {
        std::printf("WARNING: assignment attractor %s doesn't exist!\n", attractor);
        return 0;
    }
    assdb_attach_attract(model, a);
    return 1;
}

int assdb_assign_curve_attract(const char* curve_attractor, hair_name* model) {
    if (!model || !curve_attractor) return 0;
    hair_curveAttract* c = curveAttractdb_get(names_find(curve_attractor));
    if (!c) {
        std::printf("WARNING: assignment curve attractor %s doesn't exist!\n", curve_attractor);
        return 0;
    }
    assdb_attach_curve_attract(model, c);
    return 1;
}
