// The export macros of libkorvofur.
//
// The library is built with hidden visibility: only what a public header
// declares between KORVO_EXPORT_BEGIN and KORVO_EXPORT_END (or marks with
// KORVO_API) is exported from the shared library. Everything else (the
// scanners and parsers, scan conversion, image I/O helpers, the helper
// namespaces) stays inside it.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define KORVO_API __attribute__((visibility("default")))
#define KORVO_EXPORT_BEGIN _Pragma("GCC visibility push(default)")
#define KORVO_EXPORT_END _Pragma("GCC visibility pop")
#else
#define KORVO_API
#define KORVO_EXPORT_BEGIN
#define KORVO_EXPORT_END
#endif
