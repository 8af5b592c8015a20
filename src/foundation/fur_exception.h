// The exception family of the library. The library throws these and never
// catches them itself: they reach the caller, which catches FurException.
#pragma once

#include "host/korvo_string.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

#include <cstdarg>

class FurException {
  public:
    explicit FurException(const char* text);
    virtual ~FurException();
    // The text of the failure, as a new host string.
    virtual KorvoString message() const;

  protected:
    KorvoString text_;
};

// An operation that cannot go on: a file that cannot be parsed, created or
// written, exhausted memory or table space, an internal inconsistency.
class FurEFailed : public FurException {
  public:
    explicit FurEFailed(const char* text) : FurException(text) {}
};

// An argument or parameter value that cannot be used.
class FurEBadParameter : public FurException {
  public:
    explicit FurEBadParameter(const char* text) : FurException(text) {}
};

// A failed host call; its message is the status's own error string.
class FurEStatus : public FurException {
  public:
    FurEStatus(const KorvoStatus& status, const char* text) : FurException(text), status_(status) {}
    explicit FurEStatus(const char* text) : FurException(text) {}
    KorvoString message() const override;
    const KorvoStatus& status() const { return status_; }

  private:
    KorvoStatus status_;
};

// A matrix failure. Nothing in the library raises it; furRaiseMatrixError is
// there for callers.
class FurEMatrix : public FurException {
  public:
    explicit FurEMatrix(const char* text) : FurException(text) {}
};

[[noreturn]] void furRaiseMatrixError(const char* text);

// Prints a console line (printf format; the caller supplies any newline) on
// standard output and flushes it, so that the line is out before the
// exception unwinds the caller.
void furConsoleLine(const char* format, std::va_list args);

// The library's one way to fail loudly: prints the console line, flushes
// standard output, then throws E (a FurException) with text. Every failure
// that tells the console before it throws goes through here.
template <class E = FurEFailed>
[[noreturn]] [[gnu::format(printf, 2, 3)]] void furFail(const char* text, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    furConsoleLine(format, args);
    va_end(args);
    throw E(text);
}

// The value of the environment variable FUREXCEPTION as read by the first
// exception constructed in the process (null when unset or not read yet).
// Nothing in the library acts on it; a debugging build may.
const char* furExceptionDebugSetting();

KORVO_EXPORT_END
