#include "foundation/names.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/fur_exception.h"

namespace {

struct NameTable {
    int nbuckets = 0;
    int nentries = 0;
    hair_name* entries = nullptr;  // heads first, then the overflow pool
    hair_name* free_list = nullptr;
};

NameTable g_table;

// Fills an empty record with a copy of s and one reference.
void store(hair_name* rec, const char* s) {
    const std::size_t length = std::strlen(s);
    if (length > static_cast<std::size_t>(INT_MAX - 9)) {
        char text[64];
        std::snprintf(text, sizeof text, "Could not allocate name of length %d", INT_MAX);
        furFail(text, "FATAL: could not allocate name of length %d\n", INT_MAX);
    }
    const int size = static_cast<int>(length) + 9;
    char* copy = static_cast<char*>(std::malloc(static_cast<std::size_t>(size)));
    if (!copy) {
        char text[64];
        std::snprintf(text, sizeof text, "Could not allocate name of length %d", size);
        furFail(text, "FATAL: could not allocate name of length %d\n", size);
    }
    std::memcpy(copy, s, length + 1);
    rec->size = size;
    rec->refs = 1;
    rec->name = copy;
}

}  // namespace

int hash_it(int size, const char* s) {
    if (size <= 0 || !s) return 0;
    std::uint32_t h = 0;
    for (; *s; ++s) {
        // Bytes count as signed chars: 0x80..0xFF add negative values.
        const int c = static_cast<signed char>(*s);
        h = (h << 4) + static_cast<std::uint32_t>(c);
        const std::uint32_t g = h & 0xF0000000u;
        if (g) h = h ^ (g >> 24) ^ g;
    }
    return static_cast<int>(h % static_cast<std::uint32_t>(size));
}

int names_init(int size) {
    // Other databases hold plain pointers to the records, so a table that
    // still holds names is never freed here: a second call leaves it as it
    // is and fails. An empty table is rebuilt with the new size.
    if (g_table.entries) {
        int held = 0;
        for (int i = 0; i < g_table.nentries; ++i) held += g_table.entries[i].name ? 1 : 0;
        if (held > 0) {
            std::printf("ERROR: names_init: the name table still holds %d names\n", held);
            return 0;
        }
    }
    names_done();
    if (size <= 0 || size > INT_MAX / 2) return 0;
    const int nentries = 2 * size;
    auto* entries =
        static_cast<hair_name*>(std::calloc(static_cast<std::size_t>(nentries), sizeof(hair_name)));
    if (!entries) return 0;
    // The overflow pool, chained in order.
    for (int i = size; i < nentries - 1; ++i) entries[i].next = &entries[i + 1];
    g_table.nbuckets = size;
    g_table.nentries = nentries;
    g_table.entries = entries;
    g_table.free_list = &entries[size];
    return 1;
}

hair_name* names_find(const char* s) {
    if (!g_table.entries || !s) return nullptr;
    for (hair_name* n = &g_table.entries[hash_it(g_table.nbuckets, s)]; n; n = n->next) {
        if (n->name && std::strcmp(n->name, s) == 0) return n;
    }
    return nullptr;
}

hair_name* names_add(const char* s) {
    if (!g_table.entries) {
        furFail("Name table used before names_init", "FATAL: name table used before names_init\n");
    }
    if (!s) return nullptr;
    hair_name* head = &g_table.entries[hash_it(g_table.nbuckets, s)];

    // Already present: one more reference.
    hair_name* last = head;
    for (hair_name* n = head; n; n = n->next) {
        if (n->name && std::strcmp(n->name, s) == 0) {
            ++n->refs;
            return n;
        }
        last = n;
    }

    // An empty head takes the name; its chain stays behind it.
    if (!head->name) {
        store(head, s);
        return head;
    }

    // Otherwise an overflow record joins the end of the chain.
    hair_name* rec = g_table.free_list;
    if (!rec) {
        furFail("Exceeded name hash table entries, use -hash option",
                "FATAL: exceeded name hash table entries, use -hash option\n");
    }
    store(rec, s);  // may throw; the record is still on the free list then
    g_table.free_list = rec->next;
    rec->next = nullptr;
    last->next = rec;
    return rec;
}

hair_name* names_use(hair_name* n) {
    if (n) ++n->refs;
    return n;
}

void names_remove(hair_name* n) {
    if (!n || !n->name || !g_table.entries) return;
    hair_name* head = &g_table.entries[hash_it(g_table.nbuckets, n->name)];
    if (--n->refs > 0) return;

    std::free(n->name);
    n->name = nullptr;
    n->size = 0;
    n->refs = 0;
    if (n == head) return;  // the head keeps its chain

    // Unlink the overflow record and return it to the free list.
    for (hair_name* prev = head; prev; prev = prev->next) {
        if (prev->next == n) {
            prev->next = n->next;
            n->next = g_table.free_list;
            g_table.free_list = n;
            return;
        }
    }
}

void names_done() {
    if (!g_table.entries) return;
    for (int i = 0; i < g_table.nentries; ++i) std::free(g_table.entries[i].name);
    std::free(g_table.entries);
    g_table = NameTable();
}

void names_dump() {
    std::printf("Name Hash Table Contents\n");
    std::printf("------------------------\n");
    for (int b = 0; b < g_table.nbuckets; ++b) {
        std::printf("bucket %4d : ", b);
        const hair_name* head = &g_table.entries[b];
        if (head->name) {
            for (const hair_name* n = head; n; n = n->next) {
                if (n->name) std::printf("(%s, %d) ", n->name, n->refs);
            }
        }
        std::printf("\n");
    }
    std::printf("------------------------\n");
    std::fflush(stdout);
}
