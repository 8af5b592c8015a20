// FurList: a doubly linked list of 64-bit values (pointers in practice) with
// a cursor for walking it forwards or backwards.
//
// Every operation that hands back a value returns the stored value, or 0 when
// there is none. The list owns its nodes, not what the values point to.
#pragma once

#include <cstdint>
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

class FurList {
  public:
    FurList() = default;
    virtual ~FurList();
    FurList(const FurList&) = delete;
    FurList& operator=(const FurList&) = delete;

    // --- Building ---
    // Adds a node at the tail; returns the value.
    std::uint64_t append(std::uint64_t value);
    // Unlinks the tail node and returns its value (0 on an empty list).
    std::uint64_t removeLast();
    // Frees every node; the list is empty and the cursor cleared.
    void clear();

    // --- Walking ---
    // The head's value; the cursor moves to the node after the head.
    std::uint64_t first();
    // The cursor's value; the cursor moves to the next node.
    std::uint64_t next();
    // The tail's value; the cursor moves to the node before the tail.
    std::uint64_t last();
    // The cursor's value; the cursor moves to the previous node.
    std::uint64_t previous();
    // The value i steps from the head; 0 when i < 0 or i >= count.
    std::uint64_t at(int i) const;

    int count() const { return count_; }

  private:
    struct Node {
        std::uint64_t value;
        Node* next;
        Node* previous;
    };

    Node* head_ = nullptr;
    Node* tail_ = nullptr;
    Node* cursor_ = nullptr;
    std::int32_t count_ = 0;
};

KORVO_EXPORT_END
