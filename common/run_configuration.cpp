#include "run_configuration.h"

namespace flux {

void read_scrubber_records(InputFile* file, ScrubberSettings& s) {
    static const Layout layout = parse_layout(
        "/,/,/,20X,A20,/,/,23X,I20,/,23X,I20,/,/,23X,F12.0,/,23X,F12.0,/,/,23X,F12.0,/,23X,F12.0,/,"
        "23X,F12.0,/,23X,F12.0,/,23X,F12.0,/,/,/,23X,A20,/,23X,F12.0,/,23X,F12.0,/,23X,I20,/,23X,F12.0,/,"
        "23X,F12.0,/,23X,I20,/,23X,F12.0");
    std::vector<FieldTarget> targets = {
        text_target(s.input_file_name, 20),
        integer_target(s.sample_rate_numerator),
        integer_target(s.sample_rate_divisor),
    };
    for (float& unused : s.unused_fields) targets.push_back(single_target(unused));
    targets.push_back(text_target(s.output_file_name, 20));
    targets.push_back(real_target(s.span_start_hours));
    targets.push_back(real_target(s.span_end_hours));
    targets.push_back(integer_target(s.mean_window_seconds));
    targets.push_back(real_target(s.oxygen_sd_factor));
    targets.push_back(real_target(s.acceleration_limit));
    targets.push_back(integer_target(s.iteration_count));
    targets.push_back(real_target(s.max_gap_seconds));
    read_fields(file, layout, targets);
}

void read_flux_records(InputFile* file, FluxSettings& s) {
    static const Layout layout =
        parse_layout("28/,23X,A20,/,/,/,23X,A20,/,23X,F8.0,/,23X,F8.0,/,23X,F8.0,/,23X,I8,/,23X,I1,/,23X,I1,/,23X,I4");
    read_fields(file, layout,
                {text_target(s.flux_input_file_name, 20), text_target(s.results_file_name, 20),
                 real_target(s.sample_rate_hz), real_target(s.flux_start_time_hours),
                 real_target(s.flux_end_time_hours), integer_target(s.interval_seconds),
                 integer_target(s.oxygen_select), integer_target(s.vertical_select),
                 integer_target(s.running_window_seconds)});
}

void read_run_configuration(ScrubberSettings& settings) {
    read_scrubber_records(open_existing(CONFIGURATION_FILE_NAME, CONFIGURATION_UNIT), settings);
}

void read_run_configuration(FluxSettings& settings) {
    read_flux_records(open_existing(CONFIGURATION_FILE_NAME, CONFIGURATION_UNIT), settings);
}

}  // namespace flux
