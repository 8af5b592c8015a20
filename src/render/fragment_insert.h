// A hair fragment into its sample's record: hair_zbuffer::add_hair_inline,
// the body of add_hair, inline so that the hair fill's per-sample sink makes
// no call for the fragment itself, only for what a record rarely needs (a
// new record, growing one, sorting the hair it replaces into the list,
// motion blur).
#pragma once

#include <algorithm>
#include <cstdint>

#include "foundation/render_settings.h"
#include "render/fragment_fractions.h"
#include "render/fragment_list.h"

inline void hair_zbuffer::add_hair_inline(pixel_slot*& cell, float coverage, const kivColor& rgba,
                                          float depth, std::uint32_t timeslices) {
    if (cell == nullptr) record_for(cell);
    pixel_slot* rec = cell;
    const pixel_zbuff& s0 = rec[0].zb;
    // A new hair moves the current one into the list, at the far end of the
    // record: start loading it while the fragment is being made.
    __builtin_prefetch(reinterpret_cast<const char*>(rec) + 64);
    __builtin_prefetch(reinterpret_cast<const char*>(rec + last_) + 15);

    // The fraction of the fragment that moving geometry leaves visible.
    const float v = defs.motion_blur ? blurred_share(rec, depth, timeslices) : 1.0f;
    const float a = coverage * rgba.a * v;
    const frac4::floats colour = {rgba.r, rgba.g, rgba.b, 1.0f};
    pixel_hair h;
    frac4::store(h, colour * a);
    h.z = depth;
    h.id = defs.hair_id;

    // The same hair again merges into the current slot; another hair first
    // moves the current one into the sorted list.
    const int nz = s0.nb_zbuff();
    pixel_hair* current = &rec[nz <= 1 ? 1 : std::min(nz, list_size_)].hair;
    if (current->id != 0) {
        if (current->id == h.id) {
            fragment_merge_same_hair(*current, h);
            return;
        }
        const pixel_hair moving = *current;
        // A small record whose list has two entries grows to take a third.
        if (s0.list_nb() == 2 && is_small(rec)) {
            rec = grow(cell);
            current = &rec[1].hair;
        }
        insert_sorted(rec, layout_of(rec), moving);
    }
    *current = h;
}
