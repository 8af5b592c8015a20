#include "foundation/growable_array.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "foundation/fur_exception.h"

namespace {

constexpr int kIncrementKeep = -1;

[[noreturn]] void allocationFailed(long long elements) {
    furFail("Memory allocation failed", "FATAL: Could not allocate an array of %lld elements\n",
            elements);
}

// A zeroed block of n elements.
std::uint64_t* allocateZeroed(long long n) {
    if (n > INT_MAX) allocationFailed(n);
    auto* block = static_cast<std::uint64_t*>(std::calloc(static_cast<std::size_t>(n), 8));
    if (block == nullptr) allocationFailed(n);
    return block;
}

}  // namespace

FurArray64::FurArray64(const FurArray64& other) : growIncrement(other.growIncrement) {
    assign(other);
}

FurArray64::FurArray64(FurArray64&& other) noexcept
    : data(other.data),
      length(other.length),
      capacity(other.capacity),
      growIncrement(other.growIncrement) {
    other.data = nullptr;
    other.length = other.capacity = 0;
}

FurArray64& FurArray64::operator=(const FurArray64& other) {
    assign(other);
    return *this;
}

FurArray64& FurArray64::operator=(FurArray64&& other) noexcept {
    if (this != &other) {
        std::free(data);
        data = std::exchange(other.data, nullptr);
        length = std::exchange(other.length, 0);
        capacity = std::exchange(other.capacity, 0);
        growIncrement = other.growIncrement;
    }
    return *this;
}

FurArray64::~FurArray64() {
    std::free(data);
}

void FurArray64::setLength(int n, int increment) {
    if (increment != kIncrementKeep) growIncrement = increment;
    if (n < 0) return;

    if (n == 0) {
        std::free(data);
        data = nullptr;
        length = capacity = 0;
    } else if (data == nullptr) {
        data = allocateZeroed(n);
        length = capacity = n;
    } else if (n > capacity) {
        long long step =
            growIncrement != 0 ? growIncrement : std::min(1024, std::max(4, length / 8));
        long long newCapacity = std::max<long long>(n, capacity + step);
        std::uint64_t* block = allocateZeroed(newCapacity);
        std::memcpy(block, data, static_cast<std::size_t>(length) * 8);
        std::free(data);
        data = block;
        capacity = static_cast<std::int32_t>(newCapacity);
        length = n;
    } else {
        if (n > length) std::memset(data + length, 0, static_cast<std::size_t>(n - length) * 8);
        length = n;
    }
}

int FurArray64::append(const FurArray64& other) {
    int old = length;
    int count = other.length;  // read first: other may be this array
    if (count > 0) {
        if (static_cast<long long>(old) + count > INT_MAX)
            allocationFailed(static_cast<long long>(old) + count);
        setLength(old + count);
        std::memmove(data + old, other.data, static_cast<std::size_t>(count) * 8);
    }
    return old;
}

void FurArray64::assign(const FurArray64& other) {
    if (this == &other) return;
    setLength(other.length);
    if (other.length > 0) std::memcpy(data, other.data, static_cast<std::size_t>(other.length) * 8);
}

void FurArray64::compact() {
    if (length == capacity) return;
    if (length == 0) {
        std::free(data);
        data = nullptr;
        capacity = 0;
        return;
    }
    std::uint64_t* block = allocateZeroed(length);
    std::memcpy(block, data, static_cast<std::size_t>(length) * 8);
    std::free(data);
    data = block;
    capacity = length;
}

void FurArray64::set(int i, std::uint64_t value) {
    if (i < 0) return;
    if (i >= length) {
        if (i == INT_MAX) allocationFailed(static_cast<long long>(i) + 1);
        setLength(i + 1);
    }
    data[i] = value;
}

bool FurArray64::openGap(int i, int count) {
    if (i < 0 || count < 0) return false;
    long long old = length;
    long long end = std::max<long long>(old, i) + count;
    if (end > INT_MAX) allocationFailed(end);
    if (i < old) {
        setLength(static_cast<int>(end));
        std::memmove(data + i + count, data + i, static_cast<std::size_t>(old - i) * 8);
    } else {
        setLength(static_cast<int>(end));
    }
    return true;
}

void FurArray64::insert(int i, std::uint64_t value, int count) {
    if (!openGap(i, count)) return;
    std::fill(data + i, data + i + count, value);
}

void FurArray64::remove(int i, int count) {
    if (i < 0 || count <= 0 || i >= length) return;
    count = std::min(count, length - i);
    std::memmove(data + i, data + i + count, static_cast<std::size_t>(length - i - count) * 8);
    length -= count;
}

void FurArray64::insertArray(int i, const FurArray64& other) {
    int count = other.length;
    // Inserting an array into itself: take its elements before they move.
    std::vector<std::uint64_t> own;
    const std::uint64_t* source = other.data;
    if (&other == this && count > 0) {
        own.assign(other.data, other.data + count);
        source = own.data();
    }
    if (!openGap(i, count)) return;
    if (count > 0) std::memcpy(data + i, source, static_cast<std::size_t>(count) * 8);
}
