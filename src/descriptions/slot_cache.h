// The slot array shared by the texture-map and curve-data caches.
//
// A cache of size n has 2n entries: entries 0 ... n-1 are the home slots
// of the n hash buckets, entries n ... 2n-1 are overflow slots chained
// behind a home slot. An entry is free when its name is empty. At most n
// entries are loaded; a most-recently-used list runs through the loaded
// entries (head = most recent), and when the cache is full the tail is
// evicted before a new file is read.
//
// Entry must provide: char name[kCacheNameSize]; Entry *previous, *next,
// *chain; void release() (frees the data and empties the name); and
// void take_data(Entry& from) (moves the data and the name, leaving from
// free). Used only by the two cache modules.
#pragma once

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "foundation/fur_exception.h"
#include "foundation/names.h"

constexpr int kCacheNameSize = 1024;

template <class Entry>
class slot_cache {
  public:
    // Messages of the two programming errors.
    struct errors {
        const char* swap_line;  // printed when an evicted entry is not in its bucket
        const char* swap_text;  // text of the FurEFailed that follows
        const char* slot_line;  // printed when no slot is free
        const char* slot_text;  // text of the FurEFailed that follows
    };

    explicit slot_cache(const errors& e) : errors_(e) {}

    // Allocates 2n free entries (n >= 1); a cache that exists is released.
    bool init(int n) {
        done();
        if (n < 1) return false;
        entries_.reset(new (std::nothrow) Entry[2 * static_cast<std::size_t>(n)]());
        if (!entries_) return false;
        size_ = n;
        return true;
    }
    // Releases every entry and the array.
    void done() {
        if (entries_)
            for (int i = 0; i < 2 * size_; ++i) entries_[i].release();
        entries_.reset();
        size_ = 0;
        loaded_ = 0;
        head_ = tail_ = nullptr;
    }

    bool ready() const { return size_ > 0; }
    int size() const { return size_; }
    int loaded() const { return loaded_; }
    int bucket(const char* key) const { return hash_it(size_, key); }

    // The loaded entry named key in bucket b, or null.
    Entry* find(const char* key, int b) const {
        Entry* e = &entries_[b];
        if (e->name[0] == '\0') return nullptr;
        for (; e; e = e->chain)
            if (std::strcmp(e->name, key) == 0) return e;
        return nullptr;
    }

    // Makes room for one more entry of bucket b and returns the free slot
    // it goes into; the slot is linked only by insert().
    Entry* make_room(int b) {
        if (loaded_ >= size_) evict_tail();
        Entry* home = &entries_[b];
        if (home->name[0] == '\0') return home;
        for (int i = size_; i < 2 * size_; ++i)
            if (entries_[i].name[0] == '\0') return &entries_[i];
        fail(errors_.slot_line, errors_.slot_text);
    }

    // Links a freshly read entry (its name set) into bucket b and makes it
    // the most recent.
    void insert(Entry* e, int b) {
        Entry* home = &entries_[b];
        e->chain = nullptr;
        if (e != home) {
            Entry* last = home;
            while (last->chain) last = last->chain;
            last->chain = e;
        }
        e->previous = nullptr;
        e->next = head_;
        if (head_) head_->previous = e;
        head_ = e;
        if (!tail_) tail_ = e;
        ++loaded_;
    }

    // Moves a loaded entry to the head of the most-recently-used list.
    void touch(Entry* e) {
        if (e == head_) return;
        // Unlink (e is not the head, so it has a previous entry).
        e->previous->next = e->next;
        if (e->next)
            e->next->previous = e->previous;
        else
            tail_ = e->previous;
        e->previous = nullptr;
        e->next = head_;
        head_->previous = e;
        head_ = e;
    }

    // The entry named key, made the most recent. A name not loaded yet is
    // read into a free slot by read(entry) first; read throws when the file
    // cannot be read.
    template <class Read>
    Entry* lookup(const char* key, Read&& read) {
        const int b = bucket(key);
        Entry* e = find(key, b);
        if (!e) {
            e = make_room(b);
            read(e);
            insert(e, b);
        }
        touch(e);
        return e;
    }

  private:
    [[noreturn]] static void fail(const char* line, const char* text) { furFail(text, "%s", line); }

    // Puts `to` in place of `from` in the most-recently-used list.
    void relink(Entry* from, Entry* to) {
        to->previous = from->previous;
        to->next = from->next;
        if (to->previous)
            to->previous->next = to;
        else
            head_ = to;
        if (to->next)
            to->next->previous = to;
        else
            tail_ = to;
    }

    // Evicts the least recently used entry.
    void evict_tail() {
        Entry* victim = tail_;
        if (!victim) fail(errors_.swap_line, errors_.swap_text);
        Entry* home = &entries_[bucket(victim->name)];

        // Take it out of its bucket, checking that it is there.
        Entry* moved = nullptr;  // chained entry that moves into the home slot
        if (home == victim) {
            moved = victim->chain;
        } else {
            Entry* p = home->name[0] != '\0' ? home : nullptr;
            while (p && p->chain != victim) p = p->chain;
            if (!p) fail(errors_.swap_line, errors_.swap_text);
            p->chain = victim->chain;
        }

        // Out of the list, data released.
        if (victim->previous)
            victim->previous->next = nullptr;
        else
            head_ = nullptr;
        tail_ = victim->previous;
        victim->release();
        victim->previous = victim->next = victim->chain = nullptr;
        --loaded_;

        // The next entry of the chain takes over the home slot.
        if (moved) {
            home->take_data(*moved);
            home->chain = moved->chain;
            relink(moved, home);
            moved->previous = moved->next = moved->chain = nullptr;
        }
    }

    errors errors_;
    std::unique_ptr<Entry[]> entries_;
    int size_ = 0;
    int loaded_ = 0;
    Entry* head_ = nullptr;
    Entry* tail_ = nullptr;
};

// Expands the $ tokens of a cache name into out (kCacheNameSize bytes). A
// name that does not start with '$' is copied unchanged; otherwise the
// first '$' is dropped and, in the rest, $F becomes the frame number as
// "%04d", $f the frame number as "%d", $M and $m the name of the model
// being haired (with '|' and ':' replaced by '_' when model_underscores is
// set), and any other $x stays as it is. Returns false when the result does
// not fit (out then holds a truncated name).
bool cache_expand_name(const char* name, bool model_underscores, char* out);

// The key of a cache name: the name itself, or its expansion in expanded
// (kCacheNameSize bytes) when it starts with '$' or is too long. Null, after
// an ERROR line, when the expansion does not fit.
const char* cache_key(const char* name, bool model_underscores, char* expanded);
