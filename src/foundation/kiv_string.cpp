#include "foundation/kiv_string.h"

#include <cstring>

namespace {

// A new buffer holding a followed by b (either may be null or empty).
char* concat(const char* a, const char* b) {
    const std::size_t la = a ? std::strlen(a) : 0;
    const std::size_t lb = b ? std::strlen(b) : 0;
    char* out = new char[la + lb + 1];
    if (la) std::memcpy(out, a, la);
    if (lb) std::memcpy(out + la, b, lb);
    out[la + lb] = '\0';
    return out;
}

char* duplicate(const char* text) {
    if (!text) return nullptr;
    const std::size_t n = std::strlen(text) + 1;
    char* out = new char[n];
    std::memcpy(out, text, n);
    return out;
}

}  // namespace

string::string(int n) : s_(n < 0 ? nullptr : new char[n > 0 ? n : 1]()) {}

string::string(const char* text) : s_(duplicate(text)) {}

string::string(const string& other) : s_(duplicate(other.s_)) {}

string::~string() {
    delete[] s_;
}

string& string::operator=(const string& other) {
    if (this != &other && s_ != other.s_) {
        char* copy = duplicate(other.s_);
        delete[] s_;
        s_ = copy;
    }
    return *this;
}

string& string::operator=(string&& other) noexcept {
    if (this != &other) {
        delete[] s_;
        s_ = other.s_;
        other.s_ = nullptr;
    }
    return *this;
}

int string::operator==(const char* other) const {
    if (!s_ || !other) return s_ == other;
    return std::strcmp(s_, other) == 0;
}

int string::operator==(const string& other) const {
    return *this == static_cast<const char*>(other.s_);
}

string string::operator+(const char* other) const {
    string r;
    r.s_ = concat(s_, other);
    return r;
}

string string::operator+(const string& other) const {
    return *this + other.s_;
}

void string::operator+=(const char* other) {
    char* joined = concat(s_, other);
    delete[] s_;
    s_ = joined;
}

void string::operator+=(const string& other) {
    *this += other.s_;
}

void string::operator+=(int c) {
    const char one[2] = {static_cast<char>(c), '\0'};
    *this += one;
}

string string::rindex(int c) const {
    if (!s_) return string();
    const char* tail = std::strrchr(s_, c);
    return string(tail ? tail : s_);
}

string string::cond_append(const char* suffix) const {
    const std::size_t ls = s_ ? std::strlen(s_) : 0;
    const std::size_t lx = suffix ? std::strlen(suffix) : 0;
    if (ls >= lx && (lx == 0 || std::memcmp(s_ + ls - lx, suffix, lx) == 0)) return *this;
    return *this + suffix;
}
