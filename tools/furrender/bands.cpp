#include "bands.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <thread>
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

// The zones that the bands of a pass share at their cuts, and the claims
// on their units in memory every process maps (made before the fork).
class band_zones {
  public:
    // The zones of bands cut from row_work (rows alike when it is empty):
    // about `share` of a band's work on each side of every cut, in units of
    // about unit_rows rows (whole multiples of row_unit), leaving each band at
    // least half its rows of its own, each with kSharedRowsBytes of address
    // space for its copies (pages taken as they are written). None when the
    // memory cannot be had.
    band_zones(const std::vector<row_band>& bands, const std::vector<double>& row_work,
               int row_unit, double share, int unit_rows);
    ~band_zones() { release(); }
    bool on() const { return claims_ != nullptr; }
    band_zones(const band_zones&) = delete;
    band_zones& operator=(const band_zones&) = delete;

    // The rows band k's process walks: its band and the zone below it.
    row_band walk(int k) const { return band(k, false, true); }
    // The rows it may draw in the end: its band and both zones.
    row_band reach(int k) const { return band(k, true, true); }
    // Band k less its zones.
    row_band own(int k) const { return band(k, false, false); }
    // The zones band k's process shares: the one above its band, then the
    // one below it (either may be missing).
    std::vector<shared_rows> of(int k) const;

  private:
    // Band k with the zone above it and the one below it taken in or left
    // out.
    row_band band(int k, bool above, bool below) const;
    void release();

    std::vector<row_band> bands_;
    std::vector<shared_rows> zones_;  // between band k and k + 1, as band k sees it
    shared_row_claims* claims_ = nullptr;
    std::size_t bytes_ = 0;
};

void band_zones::release() {
    for (const shared_rows& z : zones_)
        if (z.polys != nullptr) ::munmap(z.polys, z.poly_bytes);
    zones_.clear();
    if (claims_ != nullptr) ::munmap(claims_, bytes_);
    claims_ = nullptr;
}

band_zones::band_zones(const std::vector<row_band>& bands, const std::vector<double>& row_work,
                       int row_unit, double share, int unit_rows)
    : bands_(bands) {
    const std::size_t cuts = bands.size() > 1 ? bands.size() - 1 : 0;
    if (cuts == 0) return;
    bytes_ = sizeof(shared_row_claims) * cuts;
    void* p = ::mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return;
    claims_ = static_cast<shared_row_claims*>(p);
    auto work = [&row_work](int row) {
        if (row_work.empty()) return 1.0;
        const double w = row >= 0 && static_cast<std::size_t>(row) < row_work.size()
                             ? row_work[static_cast<std::size_t>(row)]
                             : 0.0;
        return w > 0.0 ? w : 0.0;
    };
    double total = 0.0;
    for (int r = bands.front().row0; r < bands.back().row1; ++r) total += work(r);
    const double goal = share * total / static_cast<double>(bands.size());
    const int unit = row_unit * ((std::max(1, unit_rows) + row_unit - 1) / row_unit);
    // The work of rows a ... b - 1.
    auto sum = [&work](int a, int b) {
        double t = 0.0;
        for (int r = a; r < b; ++r) t += work(r);
        return t;
    };
    for (std::size_t k = 0; k < cuts; ++k) {
        const row_band& up = bands[k];
        const row_band& down = bands[k + 1];
        const int cut = up.row1;
        int row0 = cut, row1 = cut;
        for (double w = 0.0; w < goal && row0 - unit >= up.row0 + (up.row1 - up.row0) / 2;)
            w += sum(row0 - unit, row0), row0 -= unit;
        for (double w = 0.0; w < goal && row1 + unit <= down.row1 - (down.row1 - down.row0) / 2;)
            w += sum(row1, row1 + unit), row1 += unit;
        shared_rows z;
        z.row0 = row0;
        z.row1 = row1;
        z.unit = unit;
        z.above = true;
        z.claims = ::new (static_cast<void*>(claims_ + k)) shared_row_claims;
        shared_rows_reset(*z.claims, shared_rows_units(z));
        void* polys = ::mmap(nullptr, kSharedRowsBytes, PROT_READ | PROT_WRITE,
                             MAP_SHARED | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (polys == MAP_FAILED) {
            release();
            return;
        }
        z.polys = polys;
        z.poly_bytes = kSharedRowsBytes;
        zones_.push_back(z);
    }
}

row_band band_zones::band(int k, bool above, bool below) const {
    const std::size_t i = static_cast<std::size_t>(k);
    row_band b = bands_[i];
    if (zones_.empty()) return b;
    if (k > 0) b.row0 = above ? zones_[i - 1].row0 : zones_[i - 1].row1;
    if (i < zones_.size()) b.row1 = below ? zones_[i].row1 : zones_[i].row0;
    return b;
}

std::vector<shared_rows> band_zones::of(int k) const {
    std::vector<shared_rows> mine;
    if (zones_.empty()) return mine;
    if (k > 0 && shared_rows_units(zones_[static_cast<std::size_t>(k) - 1]) > 0) {
        mine.push_back(zones_[static_cast<std::size_t>(k) - 1]);
        mine.back().above = false;
    }
    if (static_cast<std::size_t>(k) < zones_.size() &&
        shared_rows_units(zones_[static_cast<std::size_t>(k)]) > 0)
        mine.push_back(zones_[static_cast<std::size_t>(k)]);
    return mine;
}

// The band of this process in a pass with shared zones: its zones while
// the pass draws, and the rows it drew once settled.
struct shared_band {
    bool active = false;
    bool settled = false;
    int above = -1, below = -1;              // the zones above and below the band, as installed
    row_band rows;                           // its own rows, then the rows it drew
    shared_row_claims* walks = nullptr;      // the zone below, which this process walks
    shared_row_claims* waits_for = nullptr;  // the zone above, when the pass waits for it
};
shared_band g_shared;

// Before this process takes units: the zone it walks is marked walked when
// no hair pass did (one that did marked it), so that the process below
// waits no longer; with zones_wait, the zone above is waited for until the
// process above has walked it.
void ready_for_units() {
    if (g_shared.walks != nullptr) {
        std::uint32_t walking = kZoneWalking;
        g_shared.walks->state.compare_exchange_strong(walking, kZoneTaken);
    }
    if (g_shared.waits_for == nullptr) return;
    while (g_shared.waits_for->state.load(std::memory_order_acquire) == kZoneWalking)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    g_shared.waits_for = nullptr;
}

// Installs band k's zones for its pass (nothing without zones) and takes
// them down at the end.
class band_share {
  public:
    band_share(const band_zones* zones, int k, const hair_zbuffer* zb, bool wait) {
        if (zones == nullptr) return;
        const std::vector<shared_rows> mine = zones->of(k);
        if (mine.empty() || !mdldb_share_rows(mine.data(), static_cast<int>(mine.size()), zb))
            return;
        g_shared = shared_band();
        g_shared.active = true;
        g_shared.rows = zones->own(k);
        for (std::size_t i = 0; i < mine.size(); ++i) {
            (mine[i].above ? g_shared.below : g_shared.above) = static_cast<int>(i);
            if (mine[i].above)
                g_shared.walks = mine[i].claims;
            else if (wait)
                g_shared.waits_for = mine[i].claims;
        }
    }
    ~band_share() {
        if (!g_shared.active) return;
        g_shared.waits_for = nullptr;
        ready_for_units();
        mdldb_share_rows(nullptr, 0);
        g_shared = shared_band();
    }
    band_share(const band_share&) = delete;
    band_share& operator=(const band_share&) = delete;
    // The rows drawn (settling them), or b without zones.
    row_band rows(const row_band& b) const {
        if (!g_shared.active) return b;
        settle_shared_band();
        return g_shared.rows;
    }
};

// A worker: draws its band and writes the band's records into the pipe.
// Never returns; exits 0 when the band was handed over.
[[noreturn]] void run_worker(hair_camera& cam, const row_band& band, int fd, bool quiet,
                             const band_work& work, const band_zones* zones, int k) {
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
        row_band b = band;
        {
            band_region region(*cam.zbuffer(), zones ? zones->walk(k) : band);
            const band_share share(zones, k, cam.zbuffer(), work.zones_wait);
            work.draw(false);
            b = share.rows(band);
        }
        // The rows drawn (with shared zones), the band's rows, what else the
        // pass hands back, then the worker's processor time (a forked
        // process starts at none) and the hairs it left unshaped.
        FILE* f = ::fdopen(fd, "wb");
        const std::int32_t rows[2] = {b.row0, b.row1};
        if (f != nullptr && (zones == nullptr || std::fwrite(rows, sizeof rows, 1, f) == 1) &&
            (!work.zbuffer_rows || cam.zbuffer()->save_rows(f, b.row0, b.row1)) &&
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
    row_band reach;          // the rows it may draw: its band and zones
    bool shared = false;     // it hands back the rows it drew first
    double cpu = 0.0;        // the processor time it reported
    long long unshaped = 0;  // and the hairs it left unshaped
};

// The size asked for a worker's pipe (the system's largest by default).
constexpr int kPipeBytes = 1 << 20;

// Workers that had handed back their whole band but were still exiting: a
// process's exit gives back its memory page by page (about 4 ms for a
// band of the demo's shadow map, 12 ms for one of its hair), which the
// first process need not wait for. A band read to its end is a worker's
// success (its processor time comes last, after every check). Before the
// next fork those that are gone are reaped and the others left to exit
// beside the next pass; only when more than kMaxExiting are still exiting
// is the oldest waited for, so that a long run of frames leaves few.
std::vector<pid_t> g_exiting;
constexpr std::size_t kMaxExiting = 64;

void reap_exiting() {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < g_exiting.size(); ++i) {
        const bool wait = g_exiting.size() - i > kMaxExiting;
        int status = 0;
        pid_t done;
        while ((done = ::waitpid(g_exiting[i], &status, wait ? 0 : WNOHANG)) < 0 &&
               errno == EINTR) {
        }
        if (done == 0) g_exiting[kept++] = g_exiting[i];
    }
    g_exiting.resize(kept);
}

// Reads a worker's band and waits for it, unless it handed back its whole
// band and is still exiting. Returns an empty string or why it failed.
std::string collect(hair_camera& cam, worker& w, const band_work& work) {
    std::string error;
    FILE* f = ::fdopen(w.fd, "rb");
    std::int32_t rows[2] = {w.band.row0, w.band.row1};
    if (f != nullptr && w.shared &&
        (std::fread(rows, sizeof rows, 1, f) != 1 || rows[0] < w.reach.row0 ||
         rows[1] > w.reach.row1 || rows[0] > rows[1]))
        rows[0] = rows[1] = -1;
    const row_band b{rows[0], rows[1]};
    if (f == nullptr || b.row0 < 0 ||
        (work.zbuffer_rows && !cam.zbuffer()->load_rows(f, b.row0, b.row1)) ||
        (work.load && !work.load(f, b)) || (work.kept_hairs && !mdldb_load_kept_hairs(f)) ||
        std::fread(&w.cpu, sizeof w.cpu, 1, f) != 1 ||
        std::fread(&w.unshaped, sizeof w.unshaped, 1, f) != 1)
        error = "a worker process drawing rows " + std::to_string(w.band.row0) + " to " +
                std::to_string(w.band.row1 - 1) + " handed back an incomplete band";
    w.band = b;
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

void settle_shared_band() {
    if (!g_shared.active || g_shared.settled) return;
    ready_for_units();
    g_shared.settled = true;
    int r0 = 0, r1 = 0;
    if (g_shared.above >= 0 && mdldb_shared_rows_drawn(g_shared.above, &r0, &r1) && r1 > r0)
        g_shared.rows.row0 = r0;
    if (g_shared.below >= 0 && mdldb_shared_rows_drawn(g_shared.below, &r0, &r1) && r1 > r0)
        g_shared.rows.row1 = r1;
    defs.region[1] = g_shared.rows.row0;
    defs.region[3] = g_shared.rows.row1 - 1;
}

void finish_shared_band(const std::function<void()>& finish) {
    if (!g_shared.active || g_shared.settled) return finish();
    // finish() on rows r0 ... r1 - 1 as the region's rows, when there are any.
    auto finish_rows = [&finish](int r0, int r1) {
        if (r0 >= r1) return;
        defs.region[1] = r0;
        defs.region[3] = r1 - 1;
        finish();
    };
    finish_rows(g_shared.rows.row0, g_shared.rows.row1);
    ready_for_units();
    for (int r0 = 0, r1 = 0; mdldb_draw_shared_unit(&r0, &r1);) finish_rows(r0, r1);
    settle_shared_band();
}

band_times band_processor_times() {
    return g_times;
}

void reset_band_times() {
    g_times.bands.clear();
    g_times.unshaped.clear();
    g_times.rows.clear();
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
        g_times.rows.push_back({{first, last}});
        return std::string();
    }

    const std::vector<row_band> bands =
        balanced_bands(first, last, n, work.row_work, unit, work.first_extra);
    std::unique_ptr<band_zones> shared;
    if (work.shared_zones && bands.size() > 1) {
        shared.reset(
            new band_zones(bands, work.row_work, unit, work.zone_share, work.zone_unit_rows));
        if (!shared->on()) shared.reset();
    }

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
        w.reach = shared ? shared->reach(k) : w.band;
        w.shared = shared != nullptr;
        w.pid = ::fork();
        if (w.pid == 0) {
            ::close(fds[0]);
            for (const worker& o : started) ::close(o.fd);
            run_worker(cam, w.band, fds[1], quiet_workers, work, shared.get(), k);
        }
        ::close(fds[1]);
        if (w.pid < 0) {
            ::close(fds[0]);
            error = "cannot start a worker process";
            break;
        }
        w.fd = fds[0];
        // Room for a worker's last writes (its kept hairs, its rows), so
        // that it hands them over in fewer turns.
        ::fcntl(w.fd, F_SETPIPE_SZ, kPipeBytes);
        started.push_back(w);
    }

    // This process draws the first band, then takes in the others'.
    double own = 0.0;
    const long long skipped_before = g_skipped;
    row_band mine = bands[0];
    if (error.empty()) {
        try {
            band_region region(zb, shared ? shared->walk(0) : bands[0]);
            const band_share share(shared.get(), 0, &zb, work.zones_wait);
            const double before = processor_seconds();
            draw(true);
            mine = share.rows(bands[0]);
            if (work.finish_first && !work.finish_first(mine))
                error = "cannot finish the rows " + std::to_string(mine.row0) + " to " +
                        std::to_string(mine.row1 - 1);
            own = processor_seconds() - before;
        } catch (...) {
            // The workers are stopped; none is left behind.
            for (worker& w : started) {
                ::kill(w.pid, SIGKILL);
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
    // With shared zones the rows drawn must meet band after band.
    int next = mine.row1;
    for (std::size_t i = 0; i < started.size(); ++i) {
        worker& w = started[i];
        const std::string e = collect(cam, w, work);
        // The frame fails: the workers after it, which may wait for its
        // zone, are stopped.
        if (!e.empty())
            for (std::size_t j = i + 1; j < started.size(); ++j) ::kill(started[j].pid, SIGKILL);
        if (error.empty()) error = e;
        if (error.empty() && w.band.row0 != next)
            error = "the rows drawn by the processes do not meet at row " + std::to_string(next);
        next = w.band.row1;
    }
    if (error.empty() && !started.empty() && next != bands.back().row1)
        error = "the rows drawn by the processes do not meet at row " + std::to_string(next);
    g_times.rows.push_back({mine});
    for (worker& w : started) {
        g_times.rows.back().push_back(w.band);
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
