#include "bands.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <exception>
#include <vector>

#include "korvofur/korvofur.h"
#include "progress.h"

namespace furrender {

int processor_count() {
    const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
    return n < 1 ? 1 : static_cast<int>(n);
}

double processor_seconds() {
    struct rusage u;
    if (::getrusage(RUSAGE_SELF, &u) != 0) return 0.0;
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

namespace {

band_times g_times;

// The bound of the innermost hairs_in_reach and the hairs left unshaped.
unshaped_hair_bound* g_reach_bound = nullptr;
long long g_skipped = 0;

// The render region before the band's pass that runs in this process.
struct saved_region {
    int on = 0;
    int region[4] = {0, 0, 0, 0};
};
const saved_region* g_before_band = nullptr;

// The render region during a band's hair pass: the band's rows, within the
// user's region when there is one; restored when the pass ends.
class band_region {
  public:
    band_region(const hair_zbuffer& zb, const row_band& b) : on_(defs.region_on) {
        std::copy(defs.region, defs.region + 4, saved_);
        before_.on = on_;
        std::copy(saved_, saved_ + 4, before_.region);
        outer_ = g_before_band;
        g_before_band = &before_;
        if (!on_) {
            defs.region[0] = 0;
            defs.region[2] = zb.cols() - 1;
        }
        defs.region_on = 1;
        defs.region[1] = b.row0;
        defs.region[3] = b.row1 - 1;
    }
    ~band_region() {
        defs.region_on = on_;
        std::copy(saved_, saved_ + 4, defs.region);
        g_before_band = outer_;
    }
    band_region(const band_region&) = delete;
    band_region& operator=(const band_region&) = delete;

  private:
    int on_;
    int saved_[4];
    saved_region before_;
    const saved_region* outer_;
};

void to_null(int fd) {
    const int null_fd = ::open("/dev/null", O_WRONLY);
    if (null_fd < 0) return;
    ::dup2(null_fd, fd);
    ::close(null_fd);
}

// A worker: draws its band and writes the band's records into the pipe.
// Never returns; exits 0 when the band was handed over.
[[noreturn]] void run_worker(hair_camera& cam, const row_band& b, int fd, bool quiet,
                             const band_work& work) {
    to_null(STDOUT_FILENO);
    if (quiet) to_null(STDERR_FILENO);
    // What the worker would keep of its hairs dies with it, unless it hands
    // them back; its reaches die with it.
    if (!work.kept_hairs) mdldb_keep_no_more_hairs();
    mdldb_keep_no_more_reaches();
    const std::size_t kept_before = mdldb_kept_hair_points();
    int status = 1;
    const long long skipped_before = g_skipped;
    try {
        {
            band_region region(*cam.zbuffer(), b);
            work.draw(false);
        }
        // The band's rows, what else the pass hands back, then the worker's
        // processor time (a forked process starts at none) and the hairs it
        // left unshaped.
        FILE* f = ::fdopen(fd, "wb");
        if (f != nullptr && (!work.zbuffer_rows || cam.zbuffer()->save_rows(f, b.row0, b.row1)) &&
            (!work.save || work.save(f, b)) &&
            (!work.kept_hairs || mdldb_save_kept_hairs(f, kept_before))) {
            const double cpu = processor_seconds();
            const long long skipped = g_skipped - skipped_before;
            if (std::fwrite(&cpu, sizeof cpu, 1, f) == 1 &&
                std::fwrite(&skipped, sizeof skipped, 1, f) == 1)
                status = 0;
        }
        if (f != nullptr) std::fclose(f);
    } catch (...) {
        status = 1;
    }
    std::fflush(stderr);
    ::_exit(status);
}

struct worker {
    pid_t pid = -1;
    int fd = -1;
    row_band band;
    double cpu = 0.0;        // the processor time it reported
    long long unshaped = 0;  // and the hairs it left unshaped
};

// Workers that had handed back their whole band but were still exiting: a
// process's exit gives back its memory page by page (about 12 ms for a band
// of the demo's hair), which the first process need not wait for. A band
// read to its end is a worker's success (its processor time comes last,
// after every check), so they are reaped only before the next fork.
std::vector<pid_t> g_exiting;

void reap_exiting() {
    for (const pid_t pid : g_exiting) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    g_exiting.clear();
}

// Reads a worker's band and waits for it, unless it handed back its whole
// band and is still exiting. Returns an empty string or why it failed.
std::string collect(hair_camera& cam, worker& w, const band_work& work) {
    std::string error;
    FILE* f = ::fdopen(w.fd, "rb");
    if (f == nullptr ||
        (work.zbuffer_rows && !cam.zbuffer()->load_rows(f, w.band.row0, w.band.row1)) ||
        (work.load && !work.load(f, w.band)) || (work.kept_hairs && !mdldb_load_kept_hairs(f)) ||
        std::fread(&w.cpu, sizeof w.cpu, 1, f) != 1 ||
        std::fread(&w.unshaped, sizeof w.unshaped, 1, f) != 1)
        error = "a worker process drawing rows " + std::to_string(w.band.row0) + " to " +
                std::to_string(w.band.row1 - 1) + " handed back an incomplete band";
    if (f != nullptr)
        std::fclose(f);
    else
        ::close(w.fd);
    int status = 0;
    pid_t done;
    while ((done = ::waitpid(w.pid, &status, error.empty() ? WNOHANG : 0)) < 0 && errno == EINTR) {
    }
    if (done == 0) {
        g_exiting.push_back(w.pid);
        return error;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        error = "a worker process drawing rows " + std::to_string(w.band.row0) + " to " +
                std::to_string(w.band.row1 - 1) + " failed";
    return error;
}

bool in_reach(const hair_params& hp, const kivPoint& centre, float radius, float width) {
    if (g_reach_bound == nullptr || !g_reach_bound->skips(hp, centre, radius, width)) return true;
    ++g_skipped;
    progress_display::count_unshaped_hair();
    return false;
}

}  // namespace

hairs_in_reach::hairs_in_reach(hair_camera& cam) : bound_(cam), bound_before_(g_reach_bound) {
    // Over the whole image few hairs fall outside (a sixth of the demo's),
    // and bounding every hair costs about what shaping those would: the
    // filter is installed only while the samples drawn are part of the
    // image (a render region: a band, a tile, --region; or a crop).
    const cam_window& w = cam.get_window();
    installed_ = defs.region_on || w.Cols() < cam.get_cols() || w.Lines() < cam.get_lines();
    if (!installed_) return;
    // A guard inside another bounds by its own camera.
    filter_before_ = mdldb_set_hair_reach_filter(in_reach);
    g_reach_bound = &bound_;
}

hairs_in_reach::~hairs_in_reach() {
    if (!installed_) return;
    g_reach_bound = bound_before_;
    mdldb_set_hair_reach_filter(filter_before_);
}

band_times band_processor_times() {
    return g_times;
}

void reset_band_times() {
    g_times.bands.clear();
    g_times.unshaped.clear();
}

std::vector<row_band> balanced_bands(int first, int last, int n,
                                     const std::vector<double>& row_work, double first_extra) {
    std::vector<row_band> bands;
    if (n < 1 || last - first < n) return bands;
    auto work = [&row_work](int row) {
        const double w = row >= 0 && static_cast<std::size_t>(row) < row_work.size()
                             ? row_work[static_cast<std::size_t>(row)]
                             : 0.0;
        return w > 0.0 ? w : 0.0;
    };
    double total = 0.0;
    for (int r = first; r < last; ++r) total += work(r);
    if (!(total > 0.0) || !std::isfinite(total)) {
        for (int k = 0; k < n; ++k) bands.push_back(band_of(first, last, k, n));
        return bands;
    }
    const double extra = first_extra > 0.0 && std::isfinite(first_extra) ? first_extra : 0.0;
    total += extra;
    // Band k ends after the row where the running sum reaches (k + 1) ÷ n
    // of the total, leaving a row for each band after it.
    int row = first;
    double sum = extra;
    for (int k = 0; k < n; ++k) {
        const int row0 = row;
        if (k == n - 1) {
            row = last;
        } else {
            const double goal = total * (k + 1) / n;
            const int latest = last - (n - 1 - k);
            sum += work(row++);
            while (row < latest && sum < goal) sum += work(row++);
        }
        bands.push_back({row0, row});
    }
    return bands;
}

std::vector<row_band> balanced_bands(int first, int last, int n,
                                     const std::vector<double>& row_work, int unit,
                                     double first_extra) {
    if (unit <= 1 || first < 0 || first >= last)
        return balanced_bands(first, last, n, row_work, first_extra);
    const int u0 = first / unit, u1 = (last - 1) / unit + 1;
    // Every unit's work: the sum over its rows within first ... last - 1.
    std::vector<double> unit_work(static_cast<std::size_t>(u1), 0.0);
    for (int r = first; r < last && static_cast<std::size_t>(r) < row_work.size(); ++r)
        if (row_work[static_cast<std::size_t>(r)] > 0.0)
            unit_work[static_cast<std::size_t>(r / unit)] += row_work[static_cast<std::size_t>(r)];
    std::vector<row_band> bands =
        balanced_bands(u0, u1, std::min(n, u1 - u0), unit_work, first_extra);
    for (row_band& b : bands) b = {std::max(first, b.row0 * unit), std::min(last, b.row1 * unit)};
    return bands;
}

whole_frame::whole_frame() : on_(defs.region_on) {
    std::copy(defs.region, defs.region + 4, region_);
    if (g_before_band == nullptr) return;
    defs.region_on = g_before_band->on;
    std::copy(g_before_band->region, g_before_band->region + 4, defs.region);
}

whole_frame::~whole_frame() {
    defs.region_on = on_;
    std::copy(region_, region_ + 4, defs.region);
}

std::string draw_in_bands(hair_camera& cam, row_band rows, int workers, bool quiet_workers,
                          const std::function<void(bool first)>& draw) {
    band_work work;
    work.draw = draw;
    return draw_in_bands(cam, rows, workers, quiet_workers, work);
}

std::string draw_in_bands(hair_camera& cam, row_band rows, int workers, bool quiet_workers,
                          const band_work& work) {
    const std::function<void(bool)>& draw = work.draw;
    hair_zbuffer& zb = *cam.zbuffer();
    // The rows to share: those asked for within the user's region.
    int first = std::max(0, rows.row0), last = std::min(zb.lines(), rows.row1);
    if (defs.region_on) {
        first = std::max(first, defs.region[1]);
        last = std::min(last, defs.region[3] + 1);
    }
    if (first >= last) {
        // No row of the frame to share: one process does the pass, whose
        // hair the user's region keeps off the z-buffer.
        draw(true);
        return std::string();
    }
    const int unit = std::max(1, work.row_unit);
    const int n = std::max(1, std::min(workers, (last - 1) / unit - first / unit + 1));
    if (n == 1 && first == 0 && last == zb.lines()) {
        const double before = processor_seconds();
        const long long skipped_before = g_skipped;
        draw(true);
        const double own = processor_seconds() - before;
        g_times.own += own;
        g_times.longest += own;
        ++g_times.passes;
        g_times.bands.push_back({own});
        g_times.unshaped.push_back({g_skipped - skipped_before});
        return std::string();
    }

    const std::vector<row_band> bands =
        balanced_bands(first, last, n, work.row_work, unit, work.first_extra);

    // Start the workers of bands 1 ... n - 1; what is buffered is written
    // once, before the fork.
    reap_exiting();
    std::fflush(stdout);
    std::fflush(stderr);
    std::vector<worker> started;
    std::string error;
    for (int k = 1; k < n; ++k) {
        int fds[2];
        if (::pipe(fds) != 0) {
            error = "cannot create a pipe for a worker process";
            break;
        }
        worker w;
        w.band = bands[k];
        w.pid = ::fork();
        if (w.pid == 0) {
            ::close(fds[0]);
            for (const worker& o : started) ::close(o.fd);
            run_worker(cam, w.band, fds[1], quiet_workers, work);
        }
        ::close(fds[1]);
        if (w.pid < 0) {
            ::close(fds[0]);
            error = "cannot start a worker process";
            break;
        }
        w.fd = fds[0];
        started.push_back(w);
    }

    // This process draws the first band, then takes in the others'.
    double own = 0.0;
    const long long skipped_before = g_skipped;
    if (error.empty()) {
        try {
            band_region region(zb, bands[0]);
            const double before = processor_seconds();
            draw(true);
            if (work.finish_first && !work.finish_first(bands[0]))
                error = "cannot finish the rows " + std::to_string(bands[0].row0) + " to " +
                        std::to_string(bands[0].row1 - 1);
            own = processor_seconds() - before;
        } catch (...) {
            // The workers end on their closed pipes; none is left behind.
            for (worker& w : started) {
                ::close(w.fd);
                int status = 0;
                ::waitpid(w.pid, &status, 0);
            }
            throw;
        }
    }
    double longest = own;
    g_times.bands.push_back({own});
    g_times.unshaped.push_back({g_skipped - skipped_before});
    for (worker& w : started) {
        const std::string e = collect(cam, w, work);
        if (error.empty()) error = e;
        longest = std::max(longest, w.cpu);
        g_times.bands.back().push_back(w.cpu);
        g_times.unshaped.back().push_back(w.unshaped);
    }
    g_times.own += own;
    g_times.longest += longest;
    ++g_times.passes;
    return error;
}

}  // namespace furrender
