// The results table: a heading and one 20-field row per completed interval.
// Row: F12.4, six times 1X,F7.3, 1X,F5.1, two times 1X,F7.3, seven times
// 1X,F8.2, three times 1X,F5.2 (163 characters).
#pragma once

#include "flux_estimation.h"
#include "interval_stats.h"
#include "text_records.h"

namespace flux {

void write_results_heading(OutputFile* file);
// Takes the square roots of the variances in field order (Z-STD, MAG-STD,
// O2-STD); a NaN variance ends the run with the domain error.
void write_results_row(OutputFile* file, const IntervalStats& stats, const IntervalFluxes& fluxes);

}  // namespace flux
