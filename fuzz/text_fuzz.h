// The library's tables for one fuzz input of a text reader, built and ended
// in the order of a host's renderer, and the failures a reader may give.
#pragma once

#include "descriptions/assign_db.h"
#include "readers/assign_file.h"
#include "descriptions/curve_data_cache.h"
#include "readers/hair_file.h"
#include "readers/scene_db.h"
#include "descriptions/texture_cache.h"
#include "foundation/fur_exception.h"
#include "foundation/names.h"
#include "foundation/render_settings.h"
#include "fuzz_support.h"
#include "generation/attractors.h"
#include "generation/curve_attractors.h"

namespace korvo_fuzz {

struct session {
    session() {
        quiet();
        opt_flags = 7;  // every warning and progress line: their code runs too
        names_init(1024);
        tmap_init(16);
        crvdata_init(16);
        attractdb_init();
        curveAttractdb_init();
        assdb_init(1024);
    }
    ~session() { korvo_tables_done(); }
    session(const session&) = delete;
    session& operator=(const session&) = delete;

    // Runs a reader; its refusals (a 0 result or a FurException) are
    // expected answers to hostile input.
    template <typename F>
    static void run(F&& read) {
        try {
            read();
        } catch (const FurException&) {
        }
    }
};

}  // namespace korvo_fuzz
