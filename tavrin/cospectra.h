// Cospectra: for every interval, the zero-lag running-mean flux repeated with
// a ladder of running-mean windows, each standing for the frequency f / L.
//
// The ladder starts at L = 2 and grows by one sample below one second, by a
// quarter second (at least one sample) up to ten seconds, and by one second
// beyond; it stops before the interval length (L = 2 is always scanned).
// At 64 Hz: 2, 3, ..., 64, 80, 96, ..., 640, 656, 720, 784, ...; with
// 57,600-sample intervals that is 989 windows.
//
// The scan of an interval is the most expensive step of the flux program.
// Its results are only written at the end of the run, so intervals are
// gathered in blocks of SCAN_LANES and scanned together, one interval per
// vector lane: every lane runs exactly the sequence of operations of a plain
// scan of its own interval, so the results are bit-identical to it, whatever
// the number of threads.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "rate_division.h"
#include "text_records.h"

namespace flux {

constexpr int SCAN_LANES = 8;

std::int32_t next_scan_window(std::int32_t window, double rate);
std::vector<std::int32_t> scan_window_ladder(double rate, std::int32_t n);

// The plain scan of one interval: running means by the shared routine, then
// the product pass; out[m] is the flux of ladder[m] in mmol m-2 d-1.
void scan_windows_plain(const double* z, const double* o2, std::int32_t n, double rate,
                        const std::vector<std::int32_t>& ladder, double* out);

struct ScanBlock {
    std::vector<double> z, o2;          // position-major: [k * SCAN_LANES + lane]
    std::vector<std::int32_t> interval;  // 0-based interval index of each filled lane
};

// Gathers intervals into blocks and scans them on worker threads. The table
// of results grows by one column per interval.
struct CospectraScanner {
    std::int32_t n = 0;
    double rate = 0.0;
    RateDivider divider;
    std::vector<std::int32_t> ladder;
    std::vector<std::vector<double>> table;  // table[interval][m]

    std::unique_ptr<ScanBlock> filling;
    std::vector<std::unique_ptr<ScanBlock>> spare;
    std::deque<std::unique_ptr<ScanBlock>> pending;
    std::vector<std::thread> workers;
    std::mutex lock;
    std::condition_variable changed;
    bool closing = false;
    int busy = 0;

    // A run that ends before finish_scanner (a failure thrown back to an
    // in-process harness) still stops and joins its workers.
    ~CospectraScanner();
};

// threads = 0: no worker thread, every block is scanned by the caller.
void start_scanner(CospectraScanner& s, std::int32_t n, double rate, int threads);
// Copies the interval's z and O2 series (n values each) into the scan.
void scan_interval(CospectraScanner& s, const double* z, const double* o2);
// Scans whatever is left and stops the workers; the table is then complete.
void finish_scanner(CospectraScanner& s);

// Scans one block (exposed for tests and benchmarks).
void scan_block(const ScanBlock& block, std::int32_t n, const RateDivider& rate,
                const std::vector<std::int32_t>& ladder, double* out /* [m * SCAN_LANES + lane] */);

// Writes Cospectra.out: the heading of interval mean times, then one record
// per window with its frequency and the flux of every interval.
void write_cospectra(OutputFile* file, const std::vector<double>& interval_mean_times,
                     const std::vector<std::vector<double>>& table, const std::vector<std::int32_t>& ladder,
                     double rate);

}  // namespace flux
