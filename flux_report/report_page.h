// The report page: one self-contained HTML file with a header table, four
// inline SVG panels and a note on what could not be drawn. No script, no
// external resource: it opens offline in any browser.
#pragma once

#include <string>
#include <vector>

#include "report_tables.h"

namespace flux_report {

struct ReportInput {
    std::string input_file_name;    // series the flux program read
    std::string results_file_name;  // its results table
    double sample_rate_hz = 0.0;
    int interval_seconds = 0;
    int running_window_seconds = 0;  // as configured; limited to the interval here
    ResultsTable results;
    Cospectra cospectra;
    CumulativeCurve cumulative;        // cumflux.out
    CumulativeCurve cumulative_shift;  // cumfluxSHIFT.out
};

struct MeanAndError {
    double mean;            // NaN when n = 0
    double standard_error;  // NaN when n < 2
    long n;
};
// Mean of the finite values and its standard error (sample standard
// deviation over sqrt(n)).
MeanAndError mean_and_error(const std::vector<double>& values);

std::string render_report(const ReportInput& in);

}  // namespace flux_report
