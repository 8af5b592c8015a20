// The curve-data cache: text files of per-frame values that parameter
// values read, each read on first use and kept until it is evicted (least
// recently used first) or the cache is released.
//
// A curve-data file holds one value per line: scalars, three- or
// four-component colours, or strings, whichever its first line holds.
// Lines starting with '#' are comments. Names that start with '$' are
// expanded first ($F, $f, $M, $m; the model name is used as it is).
#pragma once

#include "foundation/vector_types.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// What a curve-data file holds.
enum crvdata_kind : unsigned short {
    CRVDATA_SCALARS = 0,
    CRVDATA_COLORS3 = 1,
    CRVDATA_COLORS4 = 2,
    CRVDATA_STRINGS = 3,
    CRVDATA_INVALID = 65535,
};

// Builds an empty cache that holds up to n files (n >= 1). Returns 1, or 0
// when n is below 1 or memory runs out. A cache that exists is released.
int crvdata_init(int n);
// Releases every file and the cache.
void crvdata_done();

// The element for frame current of a file whose first element belongs to
// frame first: element current - first, limited to the last element, and
// element 0 for frames up to first. Throws FurEBadParameter when the file
// cannot be read or is not a curve-data file.

// A scalar; 0 (with a warning) for a file of another kind.
float crvdata_lookup(const char* name, int first, int current);
// A colour: a scalar gives (value, 0, 0, 0), a three-component colour has
// matte 0, strings give (0, 0, 0, 0).
kivColor crvdata_lookup_clr(const char* name, int first, int current);
// A string, valid until the file leaves the cache; the empty string (with
// a warning) for a file of another kind.
const char* crvdata_lookup_str(const char* name, int first, int current);

KORVO_EXPORT_END
