// What the end-to-end tests share: reading a whole file and running a tool
// as a program with what it prints kept.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

// The bytes of a file; empty when it cannot be read.
inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A program's exit status (-1 when it did not exit) and what it printed.
struct run_result {
    int status;
    std::string out, err;
};

// Runs the shell command with its standard output and error sent to the
// files out and err, which are read back and removed.
inline run_result run_capturing(const std::string& command, const std::string& out,
                                const std::string& err) {
    const int s = std::system((command + " >" + out + " 2>" + err).c_str());
    run_result r{WIFEXITED(s) ? WEXITSTATUS(s) : -1, slurp(out), slurp(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
}
