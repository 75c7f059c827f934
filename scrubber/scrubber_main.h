// The despiking program's run sequence and its three files.
#pragma once

#include <string>
#include <vector>

#include "run_configuration.h"
#include "sample_series.h"
#include "text_records.h"

namespace flux {

constexpr int RAW_SERIES_UNIT = 8;
constexpr int CLEANED_SERIES_UNIT = 5;
constexpr int WARNING_LOG_UNIT = 99;
inline constexpr const char* WARNING_LOG_NAME = "WARNING_LOG.DAT";

// Forms samples per second and the window in samples. A zero divisor ends the
// run with message 164; a rate or window below 1, or one that overflows 32
// bits, ends it with message 78, before any other file is opened.
CleaningSettings derive_cleaning_settings(const ScrubberSettings& settings);

// Samples after the heading, into positions 1, 2, ...; stops at the first
// read that does not complete, or after MAX_SAMPLES (warning and pause).
void read_raw_series(InputFile* raw, SampleSeries& series, std::int32_t max_samples);

// One record per sample, positions 1 .. sample_count.
void write_cleaned_series(OutputFile* cleaned, const SampleSeries& series);

// The count line on the console, then the warning log.
void write_violation_report(OutputFile* log, const std::vector<GapViolation>& violations);

}  // namespace flux
