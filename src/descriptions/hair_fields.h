// The fields of a hair description, listed once.
//
// KORVO_HAIR_FIELDS expands one macro per field; the caller gives one macro
// per kind of field and picks the columns it needs. From this list come the
// members of hair_params with their defaults, the field enums the hair file
// reader uses (HCF_*, HSF_*, HNF_*), the reader's member table, the dump and
// the copy. Adding a field to a description means a line here (plus its
// keyword in the hair file's scanner and grammar when the file sets it).
//
// Kinds and columns:
//   COLOR(ID, member, dumped, default...)   hp_color, enum HCF_ID
//   SCALAR(ID, member, dumped, default...)  hp_scalar, enum HSF_ID
//   NAME(ID, member, dumped, default...)    hair_name*, enum HNF_ID
//   INT(member, dumped, default...)         std::int32_t, printed as a number
//   KEPT(type, member, default...)          copied, never printed
// "dumped" is a condition over `const hair_params* hp` under which the dump
// prints the field; the dump prints the printed fields in the order of this
// list, so the list is in dump order. The default is the member's
// initialiser (last, so that it may contain commas).
//
// Not listed: next and name (identity of the description), width_scale (set
// per model, neither copied nor reset) and the variables var[i] (an array).
#pragma once

#define KORVO_HAIR_FIELDS(COLOR, SCALAR, NAME, INT, KEPT)                                         \
    /* Placement and visibility, never printed. */                                                \
    NAME(AREA_GROUP, area_group, false, nullptr) /* the own name at creation */                   \
    KEPT(kivMatrix, matrix, kivMatrix())         /* identity */                                   \
    KEPT(bool, prim_visibility, true)                                                             \
    KEPT(bool, casts_shadows, true)                                                               \
    NAME(REFERENCE_EQUALMAP, reference_equalmap, false, nullptr) /* the own name too */           \
    KEPT(bool, visibility, true) /* set per frame by the scene file */                            \
    /* Lighting: 0 ambient, 1 + diffuse, 2 + specular, 3 specular only. */                        \
    INT(light_model, true, 2)                                                                     \
    COLOR(AMBIENT_BASE, ambient_base, true, kivColor(0.0f, 0.0f, 0.0f, 0.0f))                     \
    COLOR(AMBIENT_TIP, ambient_tip, hp->ambient_tip.defined(), hp_color()) /* base */             \
    COLOR(DIFFUSE_BASE, diffuse_base, hp->light_model > 0, kivColor(0.0f, 0.0f, 0.0f, 0.0f))      \
    COLOR(DIFFUSE_TIP, diffuse_tip, hp->light_model > 0 && hp->diffuse_tip.defined(), hp_color()) \
    COLOR(SPECULAR, specular, hp->light_model > 1, kivColor(1.0f, 1.0f, 1.0f, 1.0f))              \
    SCALAR(SHARPNESS, sharpness, hp->light_model > 1, 5.0f)                                       \
    SCALAR(OPACITY_BASE, opacity_base, hp->opacity_base.defined(), 1.0f)                          \
    SCALAR(OPACITY_TIP, opacity_tip, hp->opacity_base.defined() && hp->opacity_tip.defined(),     \
           hp_scalar())                                                                           \
    /* Spawning and size. */                                                                      \
    SCALAR(DENSITY, density, true, 100.0f)                                                        \
    SCALAR(EQUALIZER, equalizer, hp->equalizer.defined(), hp_scalar())                            \
    SCALAR(BALDNESS, baldness, hp->baldness.defined(), hp_scalar())                               \
    SCALAR(WIDTH_BASE, width_base, true, 1.0f)                                                    \
    SCALAR(WIDTH_TIP, width_tip, hp->width_tip.defined(), hp_scalar())                            \
    SCALAR(LENGTH, length, true, 1.0f)                                                            \
    SCALAR(FREQUENCY, frequency, true, 1.0f)                                                      \
    /* Shape. */                                                                                  \
    SCALAR(CURL_BASE, curl_base, true, 0.5f)                                                      \
    SCALAR(CURL_TIP, curl_tip, true, 0.5f)                                                        \
    SCALAR(SCRAGGLE, scraggle, true, 0.0f)                                                        \
    SCALAR(CORRELATION, correlation, true, 0.0f)                                                  \
    SCALAR(ERECTNESS, erectness, true, 0.5f)                                                      \
    SCALAR(POLAR, polar, true, 0.0f)                                                              \
    SCALAR(ROLL, roll, true, 0.5f)                                                                \
    SCALAR(ORIENT_VAR, orient_var, true, 0.0f)                                                    \
    SCALAR(SEGMENTS, segments, true, 1.0f)                                                        \
    SCALAR(ATTRACTORS, attractors, true, 0.0f)                                                    \
    SCALAR(OFFSET, offset, true, 0.0f)                                                            \
    SCALAR(CUSTOM_EQUALIZER, custom_equalizer, true, 1.0f)                                        \
    /* Keyword "equalmap_type"; 2 uses custom_equalizer. */                                       \
    INT(equalizer_type, true, -1)                                                                 \
    SCALAR(CLUMP, clump, false, 0.0f)                                                             \
    SCALAR(CLUMPFREQUENCY, clumpfrequency, false, 0.0f)                                           \
    SCALAR(CLUMPSHAPE, clumpshape, false, 0.0f)                                                   \
    SCALAR(USAMPLES, usamples, false, 0.0f)                                                       \
    SCALAR(VSAMPLES, vsamples, false, 0.0f)                                                       \
    /* Spawned descriptions. */                                                                   \
    SCALAR(SPAWN_FACTOR, spawn_factor, true, 0.0f)                                                \
    NAME(SPAWN_PARAMS, spawn_params, hp->spawn_params != nullptr, nullptr)                        \
    SCALAR(SPAWN_SEGMENT, spawn_segment, true, 0.0f)

// A kind the expansion does not want.
#define KORVO_HAIR_FIELD_SKIP(...)
