#include "progress.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "korvofur/korvofur.h"

namespace furrender {

namespace {

using clock_type = std::chrono::steady_clock;

// What the display shows, shared by the library's callbacks, the relay
// thread and the frame loop.
struct display_state {
    std::mutex lock;
    bool drawn = false;    // the progress line is on the terminal
    bool partial = false;  // standard output left a line unfinished
    int frame = 0;
    std::string stage;  // shown instead of the hair counts when not empty
    int model = 0, models = 0;
    std::string model_name;
    long long hairs = 0, wanted = 0;
    bool counting = false;  // a frame's hairs are being counted
    clock_type::time_point last;

    int real_stdout = -1;  // the terminal, while standard output is relayed
    int pipe_read = -1;
    std::thread relay;
} g;

void write_all(int fd, const char* data, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w <= 0) return;
        data += w;
        n -= static_cast<std::size_t>(w);
    }
}

void erase_locked() {
    if (g.drawn) write_all(STDERR_FILENO, "\r\033[K", 4);
    g.drawn = false;
}

void draw_locked() {
    if (g.partial) return;
    char text[160];
    int n;
    if (!g.stage.empty()) {
        n = std::snprintf(text, sizeof text, "\rframe %d  %s", g.frame, g.stage.c_str());
    } else if (g.model >= g.models) {
        n = std::snprintf(text, sizeof text, "\rframe %d  %d models  hairs %lld  100%%", g.frame,
                          g.models, g.hairs);
    } else {
        const long long wanted = g.wanted > 0 ? g.wanted : 1;
        long long percent = g.hairs * 100 / wanted;
        if (percent > 99) percent = 99;
        n = std::snprintf(
            text, sizeof text, "\rframe %d  model %d/%d %.24s  hairs %lld of about %lld  %lld%%",
            g.frame, g.model + 1, g.models, g.model_name.c_str(), g.hairs, g.wanted, percent);
    }
    if (n < 0) return;
    std::string line(text, n < static_cast<int>(sizeof text) ? n : sizeof text - 1);
    line += "\033[K";
    write_all(STDERR_FILENO, line.data(), line.size());
    g.drawn = true;
    g.last = clock_type::now();
}

// Redraws at most ten times a second unless forced.
void update(bool force) {
    if (!force && clock_type::now() - g.last < std::chrono::milliseconds(100)) return;
    std::fflush(stdout);
    std::lock_guard<std::mutex> hold(g.lock);
    draw_locked();
}

void count_hair() {
    if ((++g.hairs & 255) == 0) update(false);
}

void counting_sink(hair_camera* cam, control_hair* hair, hair_state* state) {
    cam->zbuff_hair(hair, state);
    count_hair();
}

void on_progress(const mdldb_hair_progress& p) {
    {
        std::lock_guard<std::mutex> hold(g.lock);
        g.stage.clear();
        g.model = p.model;
        g.models = p.models;
        g.model_name = p.model_name ? p.model_name : "";
        g.wanted = p.wanted;
        // Each pass over the hairs (shadow maps, camera) counts from 0.
        if (p.model == 0 && p.model_name != nullptr) g.hairs = 0;
    }
    update(true);
}

// Copies what the library writes to standard output onto the terminal,
// erasing the progress line first.
void relay_loop() {
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(g.pipe_read, buf, sizeof buf);
        if (n <= 0) return;
        std::lock_guard<std::mutex> hold(g.lock);
        erase_locked();
        write_all(g.real_stdout, buf, static_cast<std::size_t>(n));
        g.partial = buf[n - 1] != '\n';
    }
}

}  // namespace

progress_display::progress_display(bool enabled) {
    active_ = enabled && ::isatty(STDERR_FILENO);
    if (active_ && ::isatty(STDOUT_FILENO)) start_relay();
}

progress_display::~progress_display() {
    end_frame();
    stop_relay();
}

void progress_display::start_relay() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    g.real_stdout = ::dup(STDOUT_FILENO);
    if (g.real_stdout < 0 || ::dup2(fds[1], STDOUT_FILENO) < 0) {
        if (g.real_stdout >= 0) ::close(g.real_stdout);
        ::close(fds[0]);
        ::close(fds[1]);
        g.real_stdout = -1;
        return;
    }
    ::close(fds[1]);
    g.pipe_read = fds[0];
    // Whole lines reach the relay as the library writes them.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    g.relay = std::thread(relay_loop);
    relaying_ = true;
}

void progress_display::stop_relay() {
    if (!relaying_) return;
    std::fflush(stdout);
    // Putting the terminal back closes the pipe's last writing end.
    ::dup2(g.real_stdout, STDOUT_FILENO);
    g.relay.join();
    ::close(g.real_stdout);
    ::close(g.pipe_read);
    g.real_stdout = g.pipe_read = -1;
    relaying_ = false;
}

void progress_display::begin_frame(int frame) {
    if (!active_) return;
    {
        std::lock_guard<std::mutex> hold(g.lock);
        g.frame = frame;
        g.stage = "reading the scene";
        g.model = g.models = 0;
        g.model_name.clear();
        g.hairs = g.wanted = 0;
        g.counting = true;
    }
    mdldb_set_hair_sink(counting_sink);
    mdldb_set_hair_progress(on_progress);
    update(true);
}

void progress_display::count_unshaped_hair() {
    if (g.counting) count_hair();
}

void progress_display::stage(const std::string& what) {
    if (!active_) return;
    {
        std::lock_guard<std::mutex> hold(g.lock);
        g.stage = what;
    }
    update(true);
}

void progress_display::end_frame() {
    if (!active_) return;
    g.counting = false;
    mdldb_set_hair_sink(nullptr);
    mdldb_set_hair_progress(nullptr);
    std::fflush(stdout);
    std::lock_guard<std::mutex> hold(g.lock);
    erase_locked();
}

}  // namespace furrender
