// Host string, status and localisable string resources.
//
// The library hands every text meant for the host through KorvoString. Outside
// the host these are small value types of our own; resources have no
// translations here, so a lookup returns the default text it was given.
#pragma once

#include <cstddef>
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// An owned, NUL-terminated text.
class KorvoString {
  public:
    KorvoString();
    KorvoString(const char* text);  // NOLINT: implicit by design, like the host's type
    KorvoString(const KorvoString& other);
    KorvoString(KorvoString&& other) noexcept;
    ~KorvoString();

    KorvoString& operator=(const KorvoString& other);
    KorvoString& operator=(KorvoString&& other) noexcept;
    KorvoString& operator=(const char* text);

    KorvoString operator+(const KorvoString& other) const;
    KorvoString& operator+=(const KorvoString& other);
    bool operator==(const KorvoString& other) const;
    bool operator!=(const KorvoString& other) const { return !(*this == other); }

    // Never null: a moved-from string reads as the empty text.
    const char* asChar() const { return text_ ? text_ : ""; }
    std::size_t length() const { return length_; }

    // Returns the template with its first "^1s" replaced by the argument.
    static KorvoString format(const KorvoString& templ, const KorvoString& arg);

  private:
    void assign(const char* text, std::size_t length);

    char* text_;
    std::size_t length_;
};

// Result of a host call: a code and, for failures, a text.
class KorvoStatus {
  public:
    enum StatusCode { kSuccess = 0, kFailure = 1, kInvalidParameter = 2 };

    KorvoStatus() : code_(kSuccess) {}
    explicit KorvoStatus(StatusCode code, const KorvoString& text = KorvoString())
        : code_(code), text_(text) {}

    StatusCode statusCode() const { return code_; }
    bool error() const { return code_ != kSuccess; }
    // The text of the failure; a generic word when none was given.
    KorvoString errorString() const;
    // Writes "<caption>: <error string>" and a newline to standard error.
    void perror(const char* caption) const;

  private:
    StatusCode code_;
    KorvoString text_;
};

// Identifies a localisable text: its group, its id and the default text.
struct KorvoStringResourceId {
    KorvoStringResourceId(const char* group, const char* id, const char* defaultText)
        : group(group), id(id), defaultText(defaultText) {}
    const char* group;
    const char* id;
    const char* defaultText;
};

class KorvoStringResource {
  public:
    // The localised text of the resource; without translations, its default.
    static KorvoString getString(const KorvoStringResourceId& id, KorvoStatus& status);
};

KORVO_EXPORT_END
