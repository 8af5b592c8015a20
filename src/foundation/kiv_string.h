// string: a small owned, NUL-terminated byte string whose buffer may be null.
//
// The library's own file and model name handling uses it; it lives in the
// global namespace under this name as part of the exported interface.
#pragma once

#include <cstddef>
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

class string {
  public:
    // --- Construction -----------------------------------------------------
    // A null string.
    string() : s_(nullptr) {}
    // An n-byte buffer (at least one byte), zero-filled; a negative n gives null.
    explicit string(int n);
    // An owned copy of text; null stays null.
    string(const char* text);  // NOLINT: implicit, texts convert freely
    string(const string& other);
    string(string&& other) noexcept : s_(other.s_) { other.s_ = nullptr; }
    ~string();

    // Owned copy; self-assignment leaves the string unchanged.
    string& operator=(const string& other);
    string& operator=(string&& other) noexcept;

    // --- Access -----------------------------------------------------------
    // The buffer pointer (may be null).
    operator char*() const { return s_; }  // NOLINT: implicit by design
    char& operator[](int i) { return s_[i]; }
    char operator[](int i) const { return s_[i]; }
    char& operator[](std::size_t i) { return s_[i]; }
    char operator[](std::size_t i) const { return s_[i]; }

    // 1 when both texts are equal byte for byte (or both null), else 0.
    int operator==(const string& other) const;
    int operator==(const char* other) const;
    int operator==(char* other) const { return *this == static_cast<const char*>(other); }

    // --- Concatenation ----------------------------------------------------
    // This text followed by other (a null text counts as empty).
    string operator+(const string& other) const;
    string operator+(const char* other) const;
    void operator+=(const string& other);
    void operator+=(const char* other);
    // Appends the single character c.
    void operator+=(int c);

    // --- Queries ----------------------------------------------------------
    // The tail from the last occurrence of c (inclusive) to the end; a copy
    // of the whole string when c does not occur or the string is null.
    string rindex(int c) const;
    // A copy with suffix appended unless the text already ends with it.
    string cond_append(const char* suffix) const;

  private:
    char* s_;
};

KORVO_EXPORT_END
