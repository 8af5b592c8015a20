#include "host/korvo_string.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

KorvoString::KorvoString() : text_(nullptr), length_(0) {
    assign("", 0);
}

KorvoString::KorvoString(const char* text) : text_(nullptr), length_(0) {
    if (text == nullptr) text = "";
    assign(text, std::strlen(text));
}

KorvoString::KorvoString(const KorvoString& other) : text_(nullptr), length_(0) {
    assign(other.asChar(), other.length_);
}

KorvoString::KorvoString(KorvoString&& other) noexcept
    : text_(other.text_), length_(other.length_) {
    other.text_ = nullptr;
    other.length_ = 0;
}

KorvoString::~KorvoString() {
    std::free(text_);
}

KorvoString& KorvoString::operator=(const KorvoString& other) {
    if (this != &other) assign(other.asChar(), other.length_);
    return *this;
}

KorvoString& KorvoString::operator=(KorvoString&& other) noexcept {
    if (this != &other) {
        std::free(text_);
        text_ = other.text_;
        length_ = other.length_;
        other.text_ = nullptr;
        other.length_ = 0;
    }
    return *this;
}

KorvoString& KorvoString::operator=(const char* text) {
    if (text == nullptr) text = "";
    // The text may point into our own buffer: copy before freeing.
    KorvoString copy(text);
    *this = std::move(copy);
    return *this;
}

KorvoString KorvoString::operator+(const KorvoString& other) const {
    KorvoString result(*this);
    result += other;
    return result;
}

KorvoString& KorvoString::operator+=(const KorvoString& other) {
    std::size_t total = length_ + other.length_;
    char* joined = static_cast<char*>(std::malloc(total + 1));
    if (joined == nullptr) throw std::bad_alloc();
    if (length_) std::memcpy(joined, asChar(), length_);
    if (other.length_) std::memcpy(joined + length_, other.asChar(), other.length_);
    joined[total] = '\0';
    std::free(text_);
    text_ = joined;
    length_ = total;
    return *this;
}

bool KorvoString::operator==(const KorvoString& other) const {
    return length_ == other.length_ && std::memcmp(asChar(), other.asChar(), length_) == 0;
}

KorvoString KorvoString::format(const KorvoString& templ, const KorvoString& arg) {
    const char* t = templ.asChar();
    const char* at = std::strstr(t, "^1s");
    if (at == nullptr) return templ;
    KorvoString head;
    head.assign(t, static_cast<std::size_t>(at - t));
    return head + arg + KorvoString(at + 3);
}

void KorvoString::assign(const char* text, std::size_t length) {
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy == nullptr) throw std::bad_alloc();
    if (length) std::memcpy(copy, text, length);
    copy[length] = '\0';
    std::free(text_);
    text_ = copy;
    length_ = length;
}

KorvoString KorvoStatus::errorString() const {
    if (text_.length() > 0) return text_;
    switch (code_) {
        case kSuccess:
            return KorvoString("Success");
        case kInvalidParameter:
            return KorvoString("Invalid parameter");
        default:
            return KorvoString("Unexpected internal failure");
    }
}

void KorvoStatus::perror(const char* caption) const {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", errorString().asChar());
}

KorvoString KorvoStringResource::getString(const KorvoStringResourceId& id, KorvoStatus& status) {
    status = KorvoStatus();
    return KorvoString(id.defaultText);
}
