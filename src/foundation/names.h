// The name table: every name the library handles is interned once in a
// module-wide hash table of reference-counted hair_name records. Two names
// are the same name exactly when they are the same record.
//
// The table has nbuckets bucket heads, each holding the first name of its
// bucket itself, and a pool of nbuckets overflow records chained behind the
// heads. Between nbuckets + 1 and 2 * nbuckets distinct names fit; running
// out is fatal ("use -hash option" to raise the size).
#pragma once

#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

struct hair_name {
    int size;         // bytes allocated for the text: length + 9
    int refs;         // reference count; 1 when first added
    hair_name* next;  // next record of the bucket chain or of the free list
    char* name;       // the owned text; null when the record is empty
};

// Bucket index of s in a table of size buckets: the ELF string hash with
// the bytes taken as signed chars, modulo size. The empty string gives 0.
int hash_it(int size, const char* s);

// Builds the table with size buckets and 2 * size records. Returns 1, or 0
// when the table cannot be allocated (size below 1 or out of memory); the
// table is then absent. A table that already exists is rebuilt when it holds
// no name; one that still holds names stays as it is and the call prints an
// error and returns 0 (the records may be held by other databases).
int names_init(int size);
// The record of s with one more reference; s is added when not present.
// Throws FurEFailed when the table is full, a text cannot be allocated or
// the table does not exist.
hair_name* names_add(const char* s);
// The record of s, or null; the count does not change.
hair_name* names_find(const char* s);
// Adds one reference to n and returns it.
hair_name* names_use(hair_name* n);
// Gives back one reference; at zero the text is freed and an overflow
// record returns to the free list. Null and empty records are ignored.
void names_remove(hair_name* n);
// Frees every text and the table; the table becomes absent.
void names_done();
// Prints the table, bucket by bucket, to standard output.
void names_dump();

KORVO_EXPORT_END
