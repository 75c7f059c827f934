#include "scrubber_main.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "missing_runs.h"
#include "spike_replacement.h"

namespace flux {

namespace {

[[noreturn]] void invalid_configuration(const std::string& reason) {
    fail_run(FAIL_INVALID_CONFIGURATION, "invalid configuration", CONFIGURATION_UNIT,
             full_path(CONFIGURATION_FILE_NAME) + ": " + reason);
}

constexpr char HEADING[] =
    " TIME(HOURS)    X(CM/S)    Y(CM/S)    Z(CM/S)     O21(uM)     O22(uM)     O21MEAN     O22MEAN";

}  // namespace

CleaningSettings derive_cleaning_settings(const ScrubberSettings& in) {
    if (in.sample_rate_divisor == 0) fail_integer_divide();
    // In 64 bits, so that the most negative numerator over -1 cannot trap.
    const std::int64_t rate =
        static_cast<std::int64_t>(in.sample_rate_numerator) / static_cast<std::int64_t>(in.sample_rate_divisor);
    const std::string rate_text = "sample rate " + std::to_string(in.sample_rate_numerator) + " / " +
                                  std::to_string(in.sample_rate_divisor) + " = " + std::to_string(rate);
    if (rate < 1) invalid_configuration(rate_text + " samples per second, below 1");
    if (rate > std::numeric_limits<std::int32_t>::max())
        invalid_configuration(rate_text + " samples per second, beyond 32 bits");
    const std::int64_t window = static_cast<std::int64_t>(in.mean_window_seconds) * rate;
    const std::string window_text = "mean window " + std::to_string(in.mean_window_seconds) + " s x " +
                                    std::to_string(rate) + " samples per second = " + std::to_string(window) +
                                    " samples";
    if (window > std::numeric_limits<std::int32_t>::max() || window < std::numeric_limits<std::int32_t>::min())
        invalid_configuration(window_text + ", beyond 32 bits");
    if (window < 1) invalid_configuration(window_text + ", below 1");

    CleaningSettings out;
    out.samples_per_second = static_cast<std::int32_t>(rate);
    out.mean_window_samples = static_cast<std::int32_t>(window);
    out.span_start_hours = in.span_start_hours;
    out.span_end_hours = in.span_end_hours;
    out.oxygen_sd_factor = in.oxygen_sd_factor;
    out.acceleration_limit = in.acceleration_limit;
    out.iteration_count = in.iteration_count;
    out.max_gap_seconds = in.max_gap_seconds;
    return out;
}

void read_raw_series(InputFile* raw, SampleSeries& s, std::int32_t max_samples) {
    std::int32_t n = 0;
    while (n < max_samples) {
        // A null value leaves 0.0, as in the zeroed columns.
        double v[8] = {};
        if (read_free(raw, v, 8) != ReadStatus::ok) break;
        ++n;
        s.time[n] = v[0];
        s.x[n] = v[1];
        s.y[n] = v[2];
        s.z[n] = v[3];
        s.o21[n] = v[4];
        s.o22[n] = v[5];
    }
    s.sample_count = n;
    if (n == max_samples) {
        // The rest of the file is never read, even when nothing is left.
        write_free(console(), {free_text("Warning - did not reach end of file!")});
        pause_for_user();
    }
}

void write_cleaned_series(OutputFile* cleaned, const SampleSeries& s) {
    constexpr std::size_t RECORD = 93;
    for (std::int32_t j = 1; j <= s.sample_count; ++j) {
        char* r = record_space(cleaned, RECORD);
        render_fixed(r, s.time[j], 12, 8);
        r[12] = ' ';
        render_fixed(r + 13, s.x[j], 10, 6);
        r[23] = ' ';
        render_fixed(r + 24, s.y[j], 10, 6);
        r[34] = ' ';
        render_fixed(r + 35, s.z[j], 10, 6);
        r[45] = ' ';
        render_fixed(r + 46, s.o21[j], 11, 5);
        r[57] = ' ';
        render_fixed(r + 58, s.o22[j], 11, 5);
        r[69] = ' ';
        render_fixed(r + 70, s.o21_mean[j], 11, 5);
        r[81] = ' ';
        render_fixed(r + 82, s.o22_mean[j], 11, 5);
        end_record(cleaned, r + RECORD);
    }
}

void write_violation_report(OutputFile* log, const std::vector<GapViolation>& violations) {
    static const Layout row = parse_layout("1X,F12.5,4X,F6.1");
    const auto count = static_cast<std::int32_t>(violations.size());
    const std::vector<FreeItem> count_line = {free_integer(count),
                                              free_text(" INTERPOLATION VIOLATIONS WRITTEN TO WARNING_LOG.DAT")};
    write_free(console(), count_line);
    write_free(log, count_line);
    write_free(log, {free_text("STARTTIME(HR) LENGTH(S)")});
    for (const GapViolation& v : violations) {
        const FieldValue values[2] = {real_value(v.start_time_hours), real_value(v.length_seconds)};
        write_fields(log, row, values, 2);
    }
}

}  // namespace flux

int main() {
    using namespace flux;
    start_program("scrubber");

    ScrubberSettings settings;
    read_run_configuration(settings);
    // Checked before any other file is opened, so a bad configuration never
    // clobbers an earlier cleaned file.
    const CleaningSettings cleaning = derive_cleaning_settings(settings);

    InputFile* raw = open_existing(settings.input_file_name, RAW_SERIES_UNIT);
    OutputFile* cleaned = open_for_writing(settings.output_file_name, CLEANED_SERIES_UNIT);
    OutputFile* log = open_for_writing(WARNING_LOG_NAME, WARNING_LOG_UNIT);
    OutputFile* screen = console();

    skip_record(raw);
    {
        char* r = record_space(cleaned, sizeof HEADING - 1);
        std::memcpy(r, HEADING, sizeof HEADING - 1);
        end_record(cleaned, r + sizeof HEADING - 1);
    }

    SampleSeries series = reserve_series(MAX_SAMPLES);
    // Given back on every way out, also when a failure returns to an in-process harness.
    struct Release {
        SampleSeries& s;
        ~Release() { release_series(s); }
    } release{series};
    read_raw_series(raw, series, MAX_SAMPLES);

    std::vector<GapViolation> violations;
    const SpanSums sums = fill_missing_runs(series, cleaning, violations);
    const OxygenStatistics stats = compute_oxygen_statistics(series, cleaning, sums);
    compute_running_means(series, cleaning);
    remove_spikes(series, cleaning, stats, screen);

    write_cleaned_series(cleaned, series);
    write_violation_report(log, violations);

    flush_all();
    return 0;
}
