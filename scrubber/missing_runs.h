// Filling of missing velocity samples (x exactly -99.0) inside the span.
#pragma once

#include <vector>

#include "sample_series.h"

namespace flux {

// One pass over samples 1 .. sample_count in order. A run of missing samples
// that begins at an in-span sample is filled along the straight line in time
// between the sample before it and the first good sample after it:
//  - run at sample 1: the end velocities held constant, start time = time[1];
//  - no good sample after the run: the start velocities held constant;
//  - a run with neither end is left as read;
//  - the sample before the run missing too (the run began before the span):
//    the line starts from zero velocities at that sample's time.
// Every run longer than max_gap_seconds is appended to `violations`.
// Returns the in-span count and the in-span oxygen sums (ascending order).
SpanSums fill_missing_runs(SampleSeries& series, const CleaningSettings& settings,
                           std::vector<GapViolation>& violations);

}  // namespace flux
