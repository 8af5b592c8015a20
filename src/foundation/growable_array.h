// FurArray64: a growable array of 64-bit elements.
//
// The fields are open, as callers walk data[0 .. length) directly. Growing
// past the capacity adds the grow increment, or, when that is 0, an automatic
// step of length / 8 clamped to 4 .. 1024 elements; the new capacity is at
// least the length asked for. Elements that come into use are zero.
//
// Negative indexes and counts are ignored by the operations that change the
// array; get does no bound check.
#pragma once

#include <cstdint>
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

class FurArray64 {
  public:
    std::uint64_t* data = nullptr;   // the elements, or null
    std::int32_t length = 0;         // elements in use
    std::int32_t capacity = 0;       // elements allocated
    std::int32_t growIncrement = 0;  // 0: automatic step

    FurArray64() = default;
    FurArray64(const FurArray64& other);
    FurArray64(FurArray64&& other) noexcept;
    FurArray64& operator=(const FurArray64& other);
    FurArray64& operator=(FurArray64&& other) noexcept;
    ~FurArray64();

    // Element i, without bound check.
    std::uint64_t get(int i) const { return data[i]; }

    // Sets the number of elements in use. An increment other than -1 (all
    // ones) becomes the grow increment first. Length 0 frees the elements;
    // a smaller length keeps the block.
    void setLength(int n, int increment = -1);

    // Appends the other array's elements; returns the length before.
    int append(const FurArray64& other);
    // Makes this array's elements a copy of the other's (the grow increment
    // stays).
    void assign(const FurArray64& other);
    // Shrinks the block to exactly the length (none for length 0).
    void compact();
    // Stores the value at i, growing the array to i + 1 when needed.
    void set(int i, std::uint64_t value);
    // Places count copies of the value at i: within the array the elements
    // from i move up; past its end the length becomes i + count.
    void insert(int i, std::uint64_t value, int count = 1);
    // Removes count elements from i (as many as there are); the rest move down.
    void remove(int i, int count = 1);
    // Places the other array's elements at i, as insert does.
    void insertArray(int i, const FurArray64& other);

  private:
    // Makes room for count elements at i (see insert); returns false when
    // i or count is negative.
    bool openGap(int i, int count);
};

KORVO_EXPORT_END
