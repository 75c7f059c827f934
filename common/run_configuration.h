// The run settings of both programs, read once from "ConfigTAVRIN.Dat" in the
// working directory with one fixed-field read each. The despiking program
// reads records 4 to 26, the flux program records 29 to 39; every other
// record is free text. A missing file, too few records or an unreadable field
// ends the run (messages 29, 24, 64) before any other file is opened.
#pragma once

#include <cstdint>
#include <string>

#include "text_records.h"

namespace flux {

constexpr int CONFIGURATION_UNIT = 2030;
inline constexpr const char* CONFIGURATION_FILE_NAME = "ConfigTAVRIN.Dat";

struct ScrubberSettings {
    std::string input_file_name;   // record 4, 20 characters
    std::int32_t sample_rate_numerator = 0;
    std::int32_t sample_rate_divisor = 0;
    float unused_fields[7] = {};   // records 9, 10, 12-16: read, never used
    std::string output_file_name;  // record 19, 20 characters
    double span_start_hours = 0.0;
    double span_end_hours = 0.0;
    std::int32_t mean_window_seconds = 0;
    double oxygen_sd_factor = 0.0;
    double acceleration_limit = 0.0;
    std::int32_t iteration_count = 0;
    double max_gap_seconds = 0.0;
};

struct FluxSettings {
    std::string flux_input_file_name;  // record 29, 20 characters
    std::string results_file_name;     // record 32, 20 characters
    double sample_rate_hz = 0.0;
    double flux_start_time_hours = 0.0;
    double flux_end_time_hours = 0.0;
    std::int32_t interval_seconds = 0;
    std::int32_t oxygen_select = 0;
    std::int32_t vertical_select = 0;
    std::int32_t running_window_seconds = 0;
};

// Opens the configuration (kept open, unread, until the program ends) and
// fills the settings. Fatal on any failure.
void read_run_configuration(ScrubberSettings& settings);
void read_run_configuration(FluxSettings& settings);

// The same reads from an already opened file (for tests and tools).
void read_scrubber_records(InputFile* file, ScrubberSettings& settings);
void read_flux_records(InputFile* file, FluxSettings& settings);

}  // namespace flux
