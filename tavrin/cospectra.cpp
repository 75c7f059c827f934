#include "cospectra.h"

#include <algorithm>
#include <csignal>
#include <cmath>
#include <string>

#include "running_mean.h"

namespace flux {

namespace {
constexpr double SECONDS_PER_DAY_COSPECTRA = 86400.0;
}

std::int32_t next_scan_window(std::int32_t window, double rate) {
    const double l = static_cast<double>(window);
    if (l < rate) return window + 1;
    if (l <= 10.0 * rate) {
        // Below 4 Hz a quarter second is less than one sample: step by one.
        auto step = static_cast<std::int32_t>(std::trunc(rate * 0.25));
        return window + std::max<std::int32_t>(step, 1);
    }
    return static_cast<std::int32_t>(std::trunc(l + rate));
}

std::vector<std::int32_t> scan_window_ladder(double rate, std::int32_t n) {
    std::vector<std::int32_t> ladder;
    std::int32_t l = 2;
    do {
        ladder.push_back(l);
        l = next_scan_window(l, rate);
    } while (l < n);
    return ladder;
}

void scan_windows_plain(const double* z, const double* o2, std::int32_t n, double rate,
                        const std::vector<std::int32_t>& ladder, double* out) {
    std::vector<double> rz(static_cast<std::size_t>(n)), ro(static_cast<std::size_t>(n));
    const RateDivider divider = make_rate_divider(rate);
    for (std::size_t m = 0; m < ladder.size(); ++m) {
        running_mean(z, n, ladder[m], rz.data());
        running_mean(o2, n, ladder[m], ro.data());
        double s = 0.0;
        for (std::int32_t i = 0; i < n; ++i) {
            const double zp = z[i] - rz[static_cast<std::size_t>(i)];
            const double op = o2[i] - ro[static_cast<std::size_t>(i)];
            s = s + per_rate(zp * op, divider);
        }
        out[m] = s / (static_cast<double>(n) / rate) * SECONDS_PER_DAY_COSPECTRA;
    }
}

// ---------------------------------------------------------------------------
// Block scan: one interval per lane. The four stages of the running mean
// are followed exactly per lane; the product of position k is added to the
// window's sum as soon as both means of k are known, in ascending k.
// ---------------------------------------------------------------------------

namespace {

using Lanes = double __attribute__((vector_size(SCAN_LANES * sizeof(double))));

__attribute__((always_inline)) inline Lanes load(const double* p) {
    Lanes v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}
__attribute__((always_inline)) inline Lanes splat(double x) {
    Lanes v;
    for (int l = 0; l < SCAN_LANES; ++l) v[l] = x;
    return v;
}

template <bool ExactInverse>
__attribute__((always_inline)) inline Lanes add_product(Lanes s, Lanes zp, Lanes op, Lanes rate_or_inverse) {
    if constexpr (ExactInverse)
        return s + (zp * op) * rate_or_inverse;
    else
        return s + (zp * op) / rate_or_inverse;
}

template <bool ExactInverse>
__attribute__((always_inline)) inline Lanes scan_one_window(const double* zt, const double* ot, std::int32_t n, std::int32_t w, Lanes r) {
    constexpr int L = SCAN_LANES;
    const std::int32_t h = w / 2;
    Lanes sz = splat(0.0), so = splat(0.0), acc = splat(0.0);
    auto emit = [&](std::int32_t k, Lanes mz, Lanes mo) {  // k is 1-based
        Lanes zp = load(zt + (k - 1) * L) - mz;
        Lanes op = load(ot + (k - 1) * L) - mo;
        acc = add_product<ExactInverse>(acc, zp, op, r);
    };
    // Head.
    for (std::int32_t j = 1; j <= h + 1; ++j) {
        sz = sz + load(zt + (j - 1) * L);
        so = so + load(ot + (j - 1) * L);
    }
    {
        Lanes c = splat(static_cast<double>(h + 1));
        emit(1, sz / c, so / c);
    }
    // Growth.
    for (std::int32_t j = h + 2; j <= w; ++j) {
        sz = sz + load(zt + (j - 1) * L);
        so = so + load(ot + (j - 1) * L);
        Lanes c = splat(static_cast<double>(j));
        emit(j - h, sz / c, so / c);
    }
    // Steady part.
    const Lanes full = splat(static_cast<double>(w));
    for (std::int32_t j = w + 1; j <= n; ++j) {
        sz = (sz + load(zt + (j - 1) * L)) - load(zt + (j - w - 1) * L);
        so = (so + load(ot + (j - 1) * L)) - load(ot + (j - w - 1) * L);
        emit(j - h, sz / full, so / full);
    }
    // Tail.
    for (std::int32_t q = 1; q <= h; ++q) {
        sz = sz - load(zt + (n - w + q - 1) * L);
        so = so - load(ot + (n - w + q - 1) * L);
        Lanes c = splat(static_cast<double>(w - q));
        emit(n - h + q, sz / c, so / c);
    }
    return acc;
}

// flatten puts the lane helpers inside each clone, so each is compiled for
// the clone's instruction set. clang refuses flatten beside target_clones,
// and without it the helpers would pass 512-bit vectors across baseline
// calls; clang builds (the fuzz targets) keep the baseline kernel alone,
// which gives the same results.
#if defined(__clang__)
#define SCAN_KERNEL_ATTRIBUTES
#else
#define SCAN_KERNEL_ATTRIBUTES __attribute__((target_clones("avx512f", "avx2", "default"), flatten))
#endif
SCAN_KERNEL_ATTRIBUTES
void scan_block_kernel(const double* zt, const double* ot, std::int32_t n, bool exact_inverse, double rate,
                       double inverse, const std::int32_t* ladder, std::size_t windows, double* out) {
    const double duration = static_cast<double>(n) / rate;
    for (std::size_t m = 0; m < windows; ++m) {
        Lanes acc = exact_inverse ? scan_one_window<true>(zt, ot, n, ladder[m], splat(inverse))
                                  : scan_one_window<false>(zt, ot, n, ladder[m], splat(rate));
        for (int l = 0; l < SCAN_LANES; ++l) out[m * SCAN_LANES + l] = acc[l] / duration * SECONDS_PER_DAY_COSPECTRA;
    }
}

}  // namespace

void scan_block(const ScanBlock& block, std::int32_t n, const RateDivider& rate,
                const std::vector<std::int32_t>& ladder, double* out) {
    // Every ladder window is at most n (L = 2 with n = 2 at the least), so
    // the four stages never reach outside the interval.
    scan_block_kernel(block.z.data(), block.o2.data(), n, rate.exact_inverse, rate.rate, rate.inverse,
                      ladder.data(), ladder.size(), out);
}

// ---------------------------------------------------------------------------
// Scanner: blocks go to worker threads; results land in the table by
// interval index, so the order of completion does not matter.
// ---------------------------------------------------------------------------

namespace {

void scan_and_store(CospectraScanner& s, ScanBlock& block, std::vector<double>& out) {
    scan_block(block, s.n, s.divider, s.ladder, out.data());
    std::lock_guard<std::mutex> g(s.lock);
    for (std::size_t lane = 0; lane < block.interval.size(); ++lane) {
        std::vector<double>& column = s.table[static_cast<std::size_t>(block.interval[lane])];
        for (std::size_t m = 0; m < s.ladder.size(); ++m) column[m] = out[m * SCAN_LANES + lane];
    }
}

void worker_loop(CospectraScanner* s) {
    std::vector<double> out(s->ladder.size() * SCAN_LANES);
    for (;;) {
        std::unique_ptr<ScanBlock> block;
        {
            std::unique_lock<std::mutex> g(s->lock);
            s->changed.wait(g, [&] { return s->closing || !s->pending.empty(); });
            if (s->pending.empty()) return;
            block = std::move(s->pending.front());
            s->pending.pop_front();
            ++s->busy;
        }
        scan_and_store(*s, *block, out);
        {
            std::lock_guard<std::mutex> g(s->lock);
            --s->busy;
            s->spare.push_back(std::move(block));
        }
        s->changed.notify_all();
    }
}

std::unique_ptr<ScanBlock> new_block(const CospectraScanner& s) {
    auto b = std::make_unique<ScanBlock>();
    b->z.assign(static_cast<std::size_t>(s.n) * SCAN_LANES, 0.0);
    b->o2.assign(static_cast<std::size_t>(s.n) * SCAN_LANES, 0.0);
    return b;
}

// Scans pending blocks on the calling thread until at most `keep` remain.
void drain(CospectraScanner& s, std::size_t keep) {
    std::vector<double> out(s.ladder.size() * SCAN_LANES);
    for (;;) {
        std::unique_ptr<ScanBlock> block;
        {
            std::lock_guard<std::mutex> g(s.lock);
            if (s.pending.size() <= keep) return;
            block = std::move(s.pending.back());
            s.pending.pop_back();
        }
        scan_and_store(s, *block, out);
        std::lock_guard<std::mutex> g(s.lock);
        s.spare.push_back(std::move(block));
    }
}

void submit_filling(CospectraScanner& s) {
    {
        std::lock_guard<std::mutex> g(s.lock);
        s.pending.push_back(std::move(s.filling));
    }
    s.changed.notify_all();
}

}  // namespace

void start_scanner(CospectraScanner& s, std::int32_t n, double rate, int threads) {
    s.n = n;
    s.rate = rate;
    s.divider = make_rate_divider(rate);
    s.ladder = scan_window_ladder(rate, n);
    // Console interrupts must reach the reading thread alone: it holds them
    // back while it writes or moves output buffers, and a handler running on
    // a worker at that moment could write a record twice or cut one short.
    // A new thread takes the mask of the thread that starts it.
    sigset_t interrupts, old;
    sigemptyset(&interrupts);
    for (int sig : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) sigaddset(&interrupts, sig);
    pthread_sigmask(SIG_BLOCK, &interrupts, &old);
    for (int t = 0; t < threads; ++t) s.workers.emplace_back(worker_loop, &s);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
}

void scan_interval(CospectraScanner& s, const double* z, const double* o2) {
    if (!s.filling) {
        std::lock_guard<std::mutex> g(s.lock);
        if (!s.spare.empty()) {
            s.filling = std::move(s.spare.back());
            s.spare.pop_back();
            s.filling->interval.clear();
        }
    }
    if (!s.filling) s.filling = new_block(s);
    ScanBlock& b = *s.filling;
    const auto lane = b.interval.size();
    {
        std::lock_guard<std::mutex> g(s.lock);
        b.interval.push_back(static_cast<std::int32_t>(s.table.size()));
        s.table.emplace_back(s.ladder.size(), 0.0);
    }
    for (std::int32_t k = 0; k < s.n; ++k) {
        b.z[static_cast<std::size_t>(k) * SCAN_LANES + lane] = z[k];
        b.o2[static_cast<std::size_t>(k) * SCAN_LANES + lane] = o2[k];
    }
    if (b.interval.size() == SCAN_LANES) {
        submit_filling(s);
        // Keep memory bounded: beyond one waiting block, the reader helps.
        drain(s, s.workers.empty() ? 0 : 1);
    }
}

void finish_scanner(CospectraScanner& s) {
    if (s.filling && !s.filling->interval.empty()) {
        // Unused lanes hold an earlier interval's values or zeros; their results are dropped.
        submit_filling(s);
    }
    drain(s, 0);
    {
        std::unique_lock<std::mutex> g(s.lock);
        s.closing = true;
        s.changed.notify_all();
    }
    for (std::thread& t : s.workers) t.join();
    s.workers.clear();
}

CospectraScanner::~CospectraScanner() {
    if (workers.empty()) return;
    {
        std::lock_guard<std::mutex> g(lock);
        pending.clear();
        closing = true;
    }
    changed.notify_all();
    for (std::thread& t : workers) t.join();
}

void write_cospectra(OutputFile* file, const std::vector<double>& mean_times,
                     const std::vector<std::vector<double>>& table, const std::vector<std::int32_t>& ladder,
                     double rate) {
    const std::size_t k = mean_times.size();
    // One record per line whatever the number of intervals.
    const std::string count = std::to_string(std::max<std::size_t>(k, 1));
    const Layout heading = parse_layout("1X,\"     FREQ\"," + count + "F9.4");
    const Layout row = parse_layout("1X,F9.6," + count + "F9.4");
    std::vector<FieldValue> values;
    values.reserve(k + 1);
    for (double t : mean_times) values.push_back(real_value(t));
    write_fields(file, heading, values.data(), values.size());
    if (k == 0) return;
    for (std::size_t m = 0; m < ladder.size(); ++m) {
        values.clear();
        values.push_back(real_value(1.0 / (static_cast<double>(ladder[m]) / rate)));
        for (std::size_t i = 0; i < k; ++i) values.push_back(real_value(table[i][m]));
        write_fields(file, row, values.data(), values.size());
    }
}

}  // namespace flux
