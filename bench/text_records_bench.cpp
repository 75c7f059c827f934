// Speed of the text layer: fixed-point rendering and free-form sample reading.
//   build/bench/text_records_bench
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "text_records.h"

using namespace flux;

static void BM_RenderF12_8(benchmark::State& state) {
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> mag(-3.0, 3.0);
    std::vector<double> values(4096);
    for (double& v : values) v = std::pow(10.0, mag(rng)) * (rng() & 1 ? 1 : -1);  // 0.001 .. 999
    char out[12];
    std::size_t i = 0;
    for (auto _ : state) {
        render_fixed(out, values[i++ & 4095], 12, 8);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RenderF12_8);

static void BM_RenderF12_8_Plain(benchmark::State& state) {
    char out[12];
    double v = 12.34567891234;
    for (auto _ : state) {
        render_fixed_plain(out, v, 12, 8);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RenderF12_8_Plain);

// Cleaned-series lines: eight values each, as the flux program reads them.
static void BM_ReadFreeSampleLines(benchmark::State& state) {
    const std::string path = "/tmp/text_records_bench_series.txt";
    std::size_t bytes = 0;
    {
        std::ofstream out(path, std::ios::binary);
        std::mt19937_64 rng(2);
        std::normal_distribution<double> g;
        char line[160];
        for (int i = 0; i < 200000; ++i) {
            int n = std::snprintf(line, sizeof line, "%12.8f %10.6f %10.6f %10.6f %11.5f %11.5f %11.5f %11.5f\r\n",
                                  10.0 + i / 230400.0, g(rng), g(rng), g(rng) * 0.1, 250 + g(rng), 240 + g(rng),
                                  250.0, 240.0);
            out.write(line, n);
            bytes += static_cast<std::size_t>(n);
        }
    }
    for (auto _ : state) {
        InputFile* f = open_existing(path, 8);
        double v[7];
        int samples = 0;
        while (read_free(f, v, 7) == ReadStatus::ok) ++samples;
        benchmark::DoNotOptimize(samples);
        close(f->fd);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    unlink(path.c_str());
}
BENCHMARK(BM_ReadFreeSampleLines)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
