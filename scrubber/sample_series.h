// The despiking program's whole series in memory and the values the cleaning
// steps share.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flux {

constexpr std::int32_t MAX_SAMPLES = 7000000;
constexpr double MISSING_VALUE = -99.0;

// Eight parallel columns, positions 1 .. sample_count. Position 0 and the two
// positions after the capacity are zeroed guard slots, so a step that looks
// one sample past either end never leaves the storage.
struct SampleSeries {
    double* time = nullptr;
    double* x = nullptr;
    double* y = nullptr;
    double* z = nullptr;
    double* o21 = nullptr;
    double* o22 = nullptr;
    double* o21_mean = nullptr;
    double* o22_mean = nullptr;
    std::int32_t sample_count = 0;
    std::int32_t capacity = 0;
};

// Reserves zeroed columns for `capacity` samples once. Pages are only backed
// by memory when first touched, so a short file costs little.
SampleSeries reserve_series(std::int32_t capacity);
void release_series(SampleSeries& series);

// Run settings the cleaning steps use, after the derived values are formed.
struct CleaningSettings {
    std::int32_t samples_per_second = 1;
    std::int32_t mean_window_samples = 1;
    double span_start_hours = 0.0;
    double span_end_hours = 0.0;
    double oxygen_sd_factor = 0.0;
    double acceleration_limit = 0.0;
    std::int32_t iteration_count = 0;
    double max_gap_seconds = 0.0;
};

// Both comparisons strict.
inline bool in_span(const CleaningSettings& s, double time_hours) {
    return s.span_start_hours < time_hours && time_hours < s.span_end_hours;
}

struct GapViolation {
    double start_time_hours;
    double length_seconds;
};

// Gathered while the missing runs are filled, from the oxygen values as read.
struct SpanSums {
    std::int32_t span_count = 0;
    double o21_sum = 0.0;
    double o22_sum = 0.0;
};

}  // namespace flux
