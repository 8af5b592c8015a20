// What the scanners of the three text files (hair description, scene,
// assignment) share: the line counter a reader hands its scanner, and the
// conversion of token text to values. Not part of the exported interface.
//
// Each scanner is reentrant: a reader creates one per file with a pointer
// to its own scan_position as the scanner's extra data, so readers can run
// one after the other, or interleaved, with no state left between them.
#pragma once

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

// The line a scanner is on, counted from 1; the reader that owns it prints
// it in its messages.
struct scan_position {
    int line = 1;
};

// The text between the quotes of a string token (length counts both
// quotes), as a new string from malloc; null when memory runs out. No
// escapes: every character between the quotes is kept.
inline char* scan_string(const char* text, int length) {
    const std::size_t n = length >= 2 ? static_cast<std::size_t>(length - 2) : 0;
    char* s = static_cast<char*>(std::malloc(n + 1));
    if (!s) return nullptr;
    std::memcpy(s, text + 1, n);
    s[n] = '\0';
    return s;
}

// Decimal digits with an optional sign as an int; values beyond the range
// stop at its ends.
inline int scan_int(const char* text) {
    const long v = std::strtol(text, nullptr, 10);
    return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

// A float whose exponent may also be written with d or D; an exponent
// without digits before it reads as 0.
inline float scan_float_d(const char* text) {
    std::string number(text);
    for (char& c : number)
        if (c == 'd' || c == 'D') c = 'e';
    return std::strtof(number.c_str(), nullptr);
}
