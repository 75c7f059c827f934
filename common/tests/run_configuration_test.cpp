#include "run_configuration.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>
#include <unistd.h>

using namespace flux;

namespace {

// A configuration of `count` records; values placed at column 24 (21 for record 4).
std::string configuration(std::vector<std::pair<int, std::string>> values, int count = 40) {
    std::vector<std::string> records(static_cast<std::size_t>(count), "label");
    for (auto& [record, text] : values) {
        std::string& r = records[static_cast<std::size_t>(record - 1)];
        r = std::string(record == 4 ? 20 : 23, '.') + text;
    }
    std::string out;
    for (auto& r : records) out += r + "\r\n";
    return out;
}

struct InFolder {
    std::string dir;
    InFolder(const std::string& content) {
        char tmpl[] = "/tmp/run_configuration_XXXXXX";
        dir = mkdtemp(tmpl);
        std::ofstream(dir + "/ConfigTAVRIN.Dat", std::ios::binary) << content;
    }
    ~InFolder() { std::system(("rm -rf " + dir).c_str()); }
    InputFile* open() const { return open_existing(dir + "/ConfigTAVRIN.Dat", CONFIGURATION_UNIT); }
};

}  // namespace

TEST(RunConfiguration, FluxRecords) {
    InFolder f(configuration({{29, "clean.dat"}, {32, "results.dat         trailing"}, {33, "  64"},
                              {34, "10.5"}, {35, ""}, {36, "     900"}, {37, "12"}, {38, "2"}, {39, "1800"}}));
    FluxSettings s;
    read_flux_records(f.open(), s);
    EXPECT_EQ(s.flux_input_file_name, "clean.dat           ");
    EXPECT_EQ(s.results_file_name, "results.dat         ");
    EXPECT_EQ(s.sample_rate_hz, 64.0);
    EXPECT_EQ(s.flux_start_time_hours, 10.5);
    EXPECT_EQ(s.flux_end_time_hours, 0.0);
    EXPECT_EQ(s.interval_seconds, 900);
    EXPECT_EQ(s.oxygen_select, 1);  // only column 24 is read
    EXPECT_EQ(s.vertical_select, 2);
    EXPECT_EQ(s.running_window_seconds, 1800);
}

TEST(RunConfiguration, ScrubberRecords) {
    InFolder f(configuration({{4, "raw.dat"}, {6, "64"}, {7, "4"}, {9, "1.5E1"}, {19, "out.dat"}, {20, "1.0015"},
                              {21, "1.0E4"}, {22, "2"}, {23, "3"}, {24, "0.5"}, {25, "3"}, {26, "1"}},
                             26));
    ScrubberSettings s;
    read_scrubber_records(f.open(), s);
    EXPECT_EQ(s.input_file_name, "raw.dat             ");
    EXPECT_EQ(s.sample_rate_numerator, 64);
    EXPECT_EQ(s.sample_rate_divisor, 4);
    EXPECT_EQ(s.unused_fields[0], 15.0f);
    EXPECT_EQ(s.output_file_name, "out.dat             ");
    EXPECT_EQ(s.span_start_hours, 1.0015);
    EXPECT_EQ(s.span_end_hours, 1e4);
    EXPECT_EQ(s.mean_window_seconds, 2);
    EXPECT_EQ(s.oxygen_sd_factor, 3.0);
    EXPECT_EQ(s.acceleration_limit, 0.5);
    EXPECT_EQ(s.iteration_count, 3);
    EXPECT_EQ(s.max_gap_seconds, 1.0);
}

TEST(RunConfigurationDeath, Failures) {
    FluxSettings fs;
    ScrubberSettings ss;
    InFolder short_file(configuration({}, 26));
    EXPECT_EXIT(read_flux_records(short_file.open(), fs), testing::ExitedWithCode(24), "severe \\(24\\)");
    InFolder point(configuration({{36, "900."}}));
    EXPECT_EXIT(read_flux_records(point.open(), fs), testing::ExitedWithCode(64), "severe \\(64\\)");
    InFolder unused_letter(configuration({{9, "abc"}}, 26));
    EXPECT_EXIT(read_scrubber_records(unused_letter.open(), ss), testing::ExitedWithCode(64), "severe \\(64\\)");
    std::string unterminated = configuration({}, 26);
    unterminated.resize(unterminated.size() - 2);
    InFolder last_unterminated(unterminated);
    EXPECT_EXIT(read_scrubber_records(last_unterminated.open(), ss), testing::ExitedWithCode(24), "severe \\(24\\)");
}
