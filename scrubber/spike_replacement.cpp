#include "spike_replacement.h"

#include <cmath>

#include "running_mean.h"

namespace flux {

OxygenStatistics compute_oxygen_statistics(const SampleSeries& s, const CleaningSettings& settings,
                                           const SpanSums& sums) {
    OxygenStatistics stats;
    // One sample gives 0/0; with none there is nothing to replace either.
    if (sums.span_count < 2) return stats;
    const double count = static_cast<double>(sums.span_count);
    const double mean21 = sums.o21_sum / count;
    const double mean22 = sums.o22_sum / count;
    double ss21 = 0.0, ss22 = 0.0;
    for (std::int32_t j = 1; j <= s.sample_count; ++j) {
        if (!in_span(settings, s.time[j])) continue;
        const double d21 = s.o21[j] - mean21;
        const double d22 = s.o22[j] - mean22;
        ss21 += d21 * d21;
        ss22 += d22 * d22;
    }
    const double denominator = static_cast<double>(sums.span_count - 1);
    stats.o21_sd = checked_sqrt(ss21 / denominator);
    stats.o22_sd = checked_sqrt(ss22 / denominator);
    stats.formed = true;
    return stats;
}

void compute_running_means(SampleSeries& s, const CleaningSettings& settings) {
    running_mean_pair(s.o21 + 1, s.o22 + 1, s.sample_count, settings.mean_window_samples, s.o21_mean + 1,
                      s.o22_mean + 1);
}

namespace {

// Replaces v[j+1] when the change from v[j] exceeds the limit. The last
// sample has one neighbour only and takes v[j].
inline bool replace_velocity(double* v, std::int32_t j, std::int32_t n, double acceleration, double limit) {
    if (!(acceleration > limit)) return false;
    v[j + 1] = j + 1 < n ? (v[j] + v[j + 2]) * 0.5 : v[j];
    return true;
}

// Unless the deviation is within the limit (a NaN is not), the running mean
// takes the sample's place.
inline void replace_oxygen(double* o, const double* mean, std::int32_t j, double limit) {
    if (!(std::fabs(mean[j] - o[j]) <= limit)) o[j] = mean[j];
}

}  // namespace

std::int32_t despiking_pass(SampleSeries& s, const CleaningSettings& settings, const OxygenStatistics& stats) {
    const std::int32_t n = s.sample_count;
    const double rate = static_cast<double>(settings.samples_per_second);
    const double limit = settings.acceleration_limit;
    const double limit21 = settings.oxygen_sd_factor * stats.o21_sd;
    const double limit22 = settings.oxygen_sd_factor * stats.o22_sd;
    std::int32_t removed = 0;
    for (std::int32_t j = 1; j <= n; ++j) {
        if (!in_span(settings, s.time[j])) continue;
        // The last sample has no successor to test.
        if (j < n) {
            // All three before anything changes at this sample; each value in
            // m/s before the difference.
            const double ax = std::fabs(s.x[j] / 100.0 - s.x[j + 1] / 100.0) * rate;
            const double ay = std::fabs(s.y[j] / 100.0 - s.y[j + 1] / 100.0) * rate;
            const double az = std::fabs(s.z[j] / 100.0 - s.z[j + 1] / 100.0) * rate;
            removed += replace_velocity(s.x, j, n, ax, limit);
            removed += replace_velocity(s.y, j, n, ay, limit);
            removed += replace_velocity(s.z, j, n, az, limit);
        }
        if (stats.formed) {
            replace_oxygen(s.o21, s.o21_mean, j, limit21);
            replace_oxygen(s.o22, s.o22_mean, j, limit22);
        }
    }
    return removed;
}

void remove_spikes(SampleSeries& s, const CleaningSettings& settings, const OxygenStatistics& stats,
                   OutputFile* console_file) {
    static const Layout pass_line = parse_layout(R"(1X,"ITERATION = ",I4,2X,I8,1X,"SPIKES REMOVED")");
    for (std::int32_t pass = 1; pass <= settings.iteration_count; ++pass) {
        const std::int32_t removed = despiking_pass(s, settings, stats);
        const FieldValue values[2] = {integer_value(pass), integer_value(removed)};
        write_fields(console_file, pass_line, values, 2);
        flush_all();
    }
}

}  // namespace flux
