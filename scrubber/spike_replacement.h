// Velocity and oxygen spike replacement inside the span, and the oxygen
// running means written with the cleaned series.
#pragma once

#include <cstdint>

#include "sample_series.h"
#include "text_records.h"

namespace flux {

struct OxygenStatistics {
    // False with fewer than two in-span samples: no deviation can be formed
    // and no oxygen sample is replaced.
    bool formed = false;
    double o21_sd = 0.0;
    double o22_sd = 0.0;
};

// Sample standard deviations of o21 and o22 over the in-span samples, from
// the span sums of the filling pass. A NaN variance ends the run (domain error).
OxygenStatistics compute_oxygen_statistics(const SampleSeries& series, const CleaningSettings& settings,
                                           const SpanSums& sums);

// o21_mean and o22_mean of every sample, window mean_window_samples.
void compute_running_means(SampleSeries& series, const CleaningSettings& settings);

// One sweep over the in-span samples, in place; returns the number of
// velocity replacements (oxygen replacements are not counted).
std::int32_t despiking_pass(SampleSeries& series, const CleaningSettings& settings, const OxygenStatistics& stats);

// iteration_count sweeps, one console line each.
void remove_spikes(SampleSeries& series, const CleaningSettings& settings, const OxygenStatistics& stats,
                   OutputFile* console_file);

}  // namespace flux
