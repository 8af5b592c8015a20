// Helpers shared by the libFuzzer targets.
//
// Each target feeds one input to one reader of untrusted data. The readers
// that take a path get the input through a per-process scratch file; their
// console output goes to /dev/null so that the fuzzer runs at full speed
// (libFuzzer reports on standard error). A reader may refuse an input with
// its message, a 0 result or a FurException; anything else (a sanitizer
// report, an allocator exception, a process exit, a time-out or memory past
// the limits make fuzz sets) is a finding.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace korvo_fuzz {

// Sends the library's console output to /dev/null, once per process.
inline void quiet() {
    static const bool done = [] {
        std::fflush(stdout);
        return std::freopen("/dev/null", "w", stdout) != nullptr;
    }();
    (void)done;
}

// Writes the input to this process's scratch file whose name ends in
// suffix and returns its path.
inline std::string scratch_file(const uint8_t* data, std::size_t size, const char* suffix) {
    // Memory-backed when the machine has it: rewriting a file on a disk
    // overlay costs milliseconds, a hundred times the reading.
    static const std::string dir = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    const std::string path =
        dir + "/korvofur-fuzz-" + std::to_string(::getpid()) + "-" + std::string(suffix);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return path;
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
    return path;
}

}  // namespace korvo_fuzz
