// The window scan of one 900 s interval at 64 Hz (57,600 samples, 989
// windows): the plain per-window scan (running-mean pass, then product
// pass) against the block scan of SCAN_LANES intervals at once, per interval.
//   build/bench/window_scan_bench
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "cospectra.h"

using namespace flux;

namespace {
constexpr std::int32_t N = 57600;
constexpr double RATE = 64.0;

std::vector<double> noise(std::uint64_t seed, double mean, double sd) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> g(mean, sd);
    std::vector<double> v(N);
    for (double& x : v) x = g(rng);
    return v;
}
}  // namespace

static void BM_ScanPlainPerInterval(benchmark::State& state) {
    std::vector<double> z = noise(1, 0.0, 0.01), o2 = noise(2, 250.0, 3.0);
    std::vector<std::int32_t> ladder = scan_window_ladder(RATE, N);
    std::vector<double> out(ladder.size());
    for (auto _ : state) {
        scan_windows_plain(z.data(), o2.data(), N, RATE, ladder, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["windows"] = static_cast<double>(ladder.size());
}
BENCHMARK(BM_ScanPlainPerInterval)->Unit(benchmark::kMillisecond)->Iterations(3);

static void BM_ScanBlockPerInterval(benchmark::State& state) {
    std::vector<double> z = noise(1, 0.0, 0.01), o2 = noise(2, 250.0, 3.0);
    std::vector<std::int32_t> ladder = scan_window_ladder(RATE, N);
    ScanBlock block;
    block.z.resize(static_cast<std::size_t>(N) * SCAN_LANES);
    block.o2.resize(static_cast<std::size_t>(N) * SCAN_LANES);
    for (std::int32_t k = 0; k < N; ++k)
        for (int l = 0; l < SCAN_LANES; ++l) {
            block.z[static_cast<std::size_t>(k) * SCAN_LANES + l] = z[k] * (1 + l);
            block.o2[static_cast<std::size_t>(k) * SCAN_LANES + l] = o2[k] + l;
        }
    std::vector<double> out(ladder.size() * SCAN_LANES);
    const RateDivider divider = make_rate_divider(RATE);
    for (auto _ : state) {
        scan_block(block, N, divider, ladder, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    // One iteration scans SCAN_LANES intervals: report the time per interval.
    state.counters["intervals_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * SCAN_LANES), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ScanBlockPerInterval)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
