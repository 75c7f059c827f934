#include "missing_runs.h"

namespace flux {

namespace {

// Samples first .. last (inclusive) take constant velocities.
void hold_constant(SampleSeries& s, std::int32_t first, std::int32_t last, double vx, double vy, double vz) {
    for (std::int32_t i = first; i <= last; ++i) {
        s.x[i] = vx;
        s.y[i] = vy;
        s.z[i] = vz;
    }
}

}  // namespace

SpanSums fill_missing_runs(SampleSeries& s, const CleaningSettings& settings, std::vector<GapViolation>& violations) {
    SpanSums sums;
    const std::int32_t n = s.sample_count;
    const double rate = static_cast<double>(settings.samples_per_second);
    // A run left as read (no good sample on either side) is not started again
    // at each of its samples.
    std::int32_t left_as_read_until = 0;

    for (std::int32_t j = 1; j <= n; ++j) {
        if (!in_span(settings, s.time[j])) continue;
        sums.span_count += 1;

        if (s.x[j] == MISSING_VALUE && j > left_as_read_until) {
            // First good sample after the run; anything at or below -99 counts as missing.
            std::int32_t k = j + 1;
            while (k <= n && !(s.x[k] > MISSING_VALUE)) ++k;
            const bool has_end = k <= n;
            const bool has_start = j > 1;
            const std::int32_t missing = has_end ? k - j : n - j + 1;

            double t0 = 0.0, x0 = 0.0, y0 = 0.0, z0 = 0.0;
            if (has_start) {
                t0 = s.time[j - 1];
                if (s.x[j - 1] != MISSING_VALUE) {
                    x0 = s.x[j - 1];
                    y0 = s.y[j - 1];
                    z0 = s.z[j - 1];
                }
            } else {
                t0 = s.time[1];
            }

            const double length = static_cast<double>(missing) / rate;
            if (length > settings.max_gap_seconds) violations.push_back({t0, length});

            if (has_start && has_end) {
                const double t1 = s.time[k];
                const double x1 = s.x[k], y1 = s.y[k], z1 = s.z[k];
                const double sx = (x1 - x0) / (t1 - t0);
                const double sy = (y1 - y0) / (t1 - t0);
                const double sz = (z1 - z0) / (t1 - t0);
                // The end sample is rewritten by the same line and keeps its value.
                for (std::int32_t i = j; i <= k; ++i) {
                    s.x[i] = sx * (s.time[i] - t1) + x1;
                    s.y[i] = sy * (s.time[i] - t1) + y1;
                    s.z[i] = sz * (s.time[i] - t1) + z1;
                }
            } else if (has_end) {
                hold_constant(s, j, k - 1, s.x[k], s.y[k], s.z[k]);
            } else if (has_start) {
                hold_constant(s, j, n, x0, y0, z0);
            } else {
                left_as_read_until = n;
            }
        }

        sums.o21_sum += s.o21[j];
        sums.o22_sum += s.o22[j];
    }
    return sums;
}

}  // namespace flux
