// The flux program: reads its settings from ConfigTAVRIN.Dat, cuts the input
// series into intervals of a fixed number of samples, and for every complete
// interval writes a results row, the cumulative flux rows and a console
// line; the cospectra of all intervals are written when the input ends.
#include <algorithm>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "cospectra.h"
#include "cumulative_flux.h"
#include "flux_estimation.h"
#include "interval_series.h"
#include "interval_stats.h"
#include "results_table.h"
#include "run_configuration.h"
#include "text_records.h"

using namespace flux;

namespace {

constexpr int INPUT_UNIT = 8;
constexpr int RESULTS_UNIT = 9;
constexpr int COSPECTRA_UNIT = 40;
constexpr int CUMFLUX_UNIT = 43;
constexpr int CUMFLUX_SHIFT_UNIT = 889;

std::string number_text(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

[[noreturn]] void reject_configuration(const std::string& reason) {
    fail_run(FAIL_INVALID_CONFIGURATION, "invalid configuration", CONFIGURATION_UNIT,
             full_path(CONFIGURATION_FILE_NAME) + ": " + reason);
}

// Checked before any other file is opened, so a bad configuration never
// touches earlier outputs. Returns the samples per interval.
std::int32_t checked_samples_per_interval(const FluxSettings& s) {
    if (!(s.sample_rate_hz >= 1.0))
        reject_configuration("sample rate " + number_text(s.sample_rate_hz) + " Hz is below 1");
    if (s.interval_seconds < 1)
        reject_configuration("interval of " + std::to_string(s.interval_seconds) + " s is below 1");
    const double whole_rate = std::trunc(s.sample_rate_hz);
    const double samples = whole_rate * static_cast<double>(s.interval_seconds);
    if (samples < 2.0 || samples > static_cast<double>(MAX_INTERVAL_SAMPLES))
        reject_configuration("interval of " + std::to_string(s.interval_seconds) + " s at " +
                             number_text(whole_rate) + " Hz gives " + number_text(samples) +
                             " samples, outside 2 .. " + std::to_string(MAX_INTERVAL_SAMPLES));
    return static_cast<std::int32_t>(samples);
}

struct InputValues {
    double v[7] = {0, 0, 0, 0, 0, 0, 0};  // persist from sample to sample: a null keeps the last value
};

// Fills the series with n accepted samples and forms the reading sums.
// Returns false when the input ended, or a sample lay beyond the end time,
// before the n-th sample was accepted.
bool read_interval(InputFile* input, const FluxSettings& cfg, std::int32_t n, InputValues& in,
                   IntervalSeries& series, IntervalSums& sums) {
    sums = IntervalSums{};
    const int oxygen_index = cfg.oxygen_select == 1 ? 5 : 6;
    const int vertical_index = cfg.vertical_select == 1 ? 4 : 3;
    for (std::int32_t i = 0; i < n;) {
        if (read_free(input, in.v, 7) == ReadStatus::ended) return false;
        const double t = in.v[0];
        if (cfg.flux_start_time_hours > 0.0 && t < cfg.flux_start_time_hours) continue;
        if (cfg.flux_end_time_hours > 0.0 && t > cfg.flux_end_time_hours) return false;
        const auto k = static_cast<std::size_t>(i);
        series.time[k] = t;
        series.x[k] = in.v[1] / 100.0;
        series.y[k] = in.v[2] / 100.0;
        series.z[k] = in.v[vertical_index] / 100.0;
        series.oxygen[k] = in.v[oxygen_index];
        series.speed[k] = checked_sqrt(series.x[k] * series.x[k] + series.y[k] * series.y[k]);
        sums.x = sums.x + series.x[k];
        sums.y = sums.y + series.y[k];
        sums.z = sums.z + series.z[k];
        sums.time = sums.time + t;
        sums.oxygen = sums.oxygen + series.oxygen[k];
        sums.count = ++i;
    }
    return true;
}

void write_progress_line(const IntervalStats& s, const IntervalFluxes& f) {
    static const Layout line = parse_layout("F12.9,1X,F8.2,1X,F8.2,1X,F8.2");
    const FieldValue values[4] = {real_value(s.interval_mean_time), real_value(f.flux_mean),
                                  real_value(f.flux_linear), real_value(f.flux_running)};
    write_fields(console(), line, values, 4);
}

}  // namespace

int main() {
    start_program("TAVRIN");
    console();

    FluxSettings cfg;
    read_run_configuration(cfg);
    const std::int32_t n = checked_samples_per_interval(cfg);
    if (cfg.running_window_seconds > cfg.interval_seconds) cfg.running_window_seconds = cfg.interval_seconds;

    InputFile* input = open_existing(cfg.flux_input_file_name, INPUT_UNIT);
    skip_record(input);
    OutputFile* results = open_for_writing(cfg.results_file_name, RESULTS_UNIT);
    OutputFile* cospectra_file = open_for_writing("Cospectra.out", COSPECTRA_UNIT);
    CumulativeFile cumflux{open_for_writing("cumflux.out", CUMFLUX_UNIT)};
    CumulativeFile cumflux_shift{open_for_writing("cumfluxSHIFT.out", CUMFLUX_SHIFT_UNIT)};
    write_cumulative_heading(cumflux.file);
    write_cumulative_heading(cumflux_shift.file);

    const double rate = cfg.sample_rate_hz;
    const double window = std::trunc(static_cast<double>(cfg.running_window_seconds) * rate);
    const auto running_window = static_cast<std::int32_t>(std::clamp(window, -2147483648.0, 2147483647.0));
    write_results_heading(results);
    flush_all();

    IntervalSeries series;
    size_interval_series(series, n);
    FluxWorkspace ws;
    size_flux_workspace(ws, n, rate, running_window);
    CospectraScanner scanner;
    start_scanner(scanner, n, rate, std::thread::hardware_concurrency() > 1 ? 1 : 0);
    std::vector<double> mean_times;
    InputValues values;

    for (std::int32_t interval_index = 1;; ++interval_index) {
        IntervalSums sums;
        if (!read_interval(input, cfg, n, values, series, sums)) break;
        IntervalStats stats;
        form_interval_means(sums, n, stats);
        mean_times.push_back(stats.interval_mean_time);
        IntervalFluxes fluxes = estimate_fluxes(series, stats, ws, cumflux);
        write_shifted_rows(cumflux_shift, series.time.data(), ws.z_prime_running.data(),
                           ws.o2_prime_running.data(), n, fluxes.best_running_lag, ws.divider);
        scan_interval(scanner, series.z.data(), series.oxygen.data());
        write_results_row(results, stats, fluxes);
        write_progress_line(stats, fluxes);
        flush_all();
    }

    finish_scanner(scanner);
    write_cospectra(cospectra_file, mean_times, scanner.table, scanner.ladder, rate);
    flush_all();
    return 0;
}
