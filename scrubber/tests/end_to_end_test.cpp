// Runs the real scrubber binary in a temporary folder and compares whole files.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const char* const COUNT_TEXT = " INTERPOLATION VIOLATIONS WRITTEN TO WARNING_LOG.DAT";
const char* const HEADING =
    " TIME(HOURS)    X(CM/S)    Y(CM/S)    Z(CM/S)     O21(uM)     O22(uM)     O21MEAN     O22MEAN\r\n";
const char* const PROMPT = " Enter a command, or press Enter to continue\n";

struct Settings {
    std::string input = "raw.dat";
    std::string numerator = "1", divisor = "1";
    std::string output = "out.dat";
    std::string span_start = "0.5", span_end = "10.0";
    std::string window = "3", factor = "1", limit = "0.5", iterations = "2", max_gap = "0.5";
};

std::string pad(const std::string& label, std::size_t width) {
    std::string s = label;
    s.resize(width, ' ');
    return s;
}
std::string real_record(const char* label, const std::string& v) {
    return pad(label, 23) + std::string(12 - v.size(), ' ') + v + "   ! label";
}
std::string integer_record(const char* label, const std::string& v) {
    return pad(label, 23) + std::string(20 - v.size(), ' ') + v;
}

// Records 1 to 26 in their columns; `flux_records` adds 27 and on.
std::string config_text(const Settings& s, const std::vector<std::string>& flux_records = {}) {
    std::vector<std::string> r = {
        "test configuration", "despiking", "raw file:", pad("Raw data file name", 20) + s.input, "rate",
        integer_record("Sample rate numerator", s.numerator), integer_record("Sample rate divisor", s.divisor),
        "unused", real_record("r9", "0"), real_record("r10", "1.5"), "unused", real_record("r12", ""),
        real_record("r13", "2"), real_record("r14", "0"), real_record("r15", "0"), real_record("r16", "0"),
        "cleaning", "output:", pad("Cleaned file name", 23) + s.output, real_record("Span start", s.span_start),
        real_record("Span end", s.span_end), integer_record("Mean window (s)", s.window),
        real_record("O2 SD factor", s.factor), real_record("Acceleration", s.limit),
        integer_record("Iterations", s.iterations), real_record("Max gap (s)", s.max_gap)};
    r.insert(r.end(), flux_records.begin(), flux_records.end());
    std::string text;
    for (const std::string& line : r) text += line + "\r\n";
    return text;
}

std::string row(double t, double x, double y, double z, double o21, double o22, double m21, double m22) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%12.8f %10.6f %10.6f %10.6f %11.5f %11.5f %11.5f %11.5f\r\n", t, x, y, z, o21, o22,
                  m21, m22);
    return buf;
}

std::string pass_line(int pass, int removed) {
    char buf[64];
    std::snprintf(buf, sizeof buf, " ITERATION = %4d  %8d SPIKES REMOVED\n", pass, removed);
    return buf;
}

std::string count_line(int count, const char* end) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%12d%s%s", count, COUNT_TEXT, end);
    return buf;
}

std::string log_text(const std::vector<std::string>& rows) {
    std::string s = count_line(static_cast<int>(rows.size()), "\r\n") + " STARTTIME(HR) LENGTH(S)\r\n";
    for (const std::string& r : rows) s += r + "\r\n";
    return s;
}

struct Result {
    int status = -1;
    std::string out, err;
};

class Folder {
public:
    Folder() {
        std::string templ = (fs::temp_directory_path() / "scrubber-e2e-XXXXXX").string();
        if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp");
        root_ = fs::canonical(templ);
        dir_ = root_ / "run";
        fs::create_directory(dir_);
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    const fs::path& dir() const { return dir_; }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream f(dir_ / name, std::ios::binary);
        f << text;
    }
    std::string read(const std::string& name) const {
        std::ifstream f(dir_ / name, std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    bool exists(const std::string& name) const { return fs::exists(dir_ / name); }

    Result run(const std::string& stdin_text = "") const {
        {
            std::ofstream f(root_ / "stdin", std::ios::binary);
            f << stdin_text;
        }
        std::string command = "cd '" + dir_.string() + "' && '" SCRUBBER_PATH "' < '" + (root_ / "stdin").string() +
                              "' > '" + (root_ / "stdout").string() + "' 2> '" + (root_ / "stderr").string() + "'";
        int raw = std::system(command.c_str());
        Result r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = slurp(root_ / "stdout");
        r.err = slurp(root_ / "stderr");
        return r;
    }

    static std::string slurp(const fs::path& p) {
        std::ifstream f(p, std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

private:
    fs::path root_, dir_;
};

// ---- the main path -------------------------------------------------------------

TEST(ScrubberRun, FillsDespikesAndWritesEveryFile) {
    Folder f;
    f.write("ConfigTAVRIN.Dat", config_text(Settings{}));
    // Sample 2 missing; x of sample 5 and o21 of sample 5 are spikes; sample 7
    // lies after the span. The seventh and eighth values never reach the output.
    f.write("raw.dat",
            "TIME X Y Z O21 O22 N T\r\n"
            "1.0 1.0 2.0 3.0 10 20 1 0.5\r\n"
            "2.0 -99.0 0 0 10 20 2 0.5\r\n"
            "3.0\t3.0\t4.0\t5.0\t10\t20\t3\t0.5\r\n"
            "4.0, 4.0, 5.0, 6.0, 10, 20, 4, 0.5\r\n"
            "5.0 200 5 6 100 20 5\r\n 0.5\r\n"
            "6.0 6 5 6 10 20 6 0.5 extra values 1 2 3\r\n"
            "20.0 -99 5 6 10 20 7 0.5\r\n");
    f.write("out.dat", std::string(5000, 'o'));  // an older, longer file is replaced whole
    Result r = f.run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, pass_line(1, 2) + pass_line(2, 0) + count_line(1, "\n"));
    // Filled on the line 1 -> 3; o21 spike replaced by its running mean (window
    // of 3: 10,10,10,40,40,40,10) since 60 > 1 x sd (36.7); sample 6's 30 is
    // not; the x spike takes (4 + 6) / 2; the x of sample 7 is tested against
    // sample 6 (the last in span) and, being the last sample, takes x of 6.
    EXPECT_EQ(f.read("out.dat"), std::string(HEADING) + row(1, 1, 2, 3, 10, 20, 10, 20) +
                                     row(2, 2, 3, 4, 10, 20, 10, 20) + row(3, 3, 4, 5, 10, 20, 10, 20) +
                                     row(4, 4, 5, 6, 10, 20, 40, 20) + row(5, 5, 5, 6, 40, 20, 40, 20) +
                                     row(6, 6, 5, 6, 10, 20, 40, 20) + row(20, 6, 5, 6, 10, 20, 10, 20));
    EXPECT_EQ(f.read("WARNING_LOG.DAT"), log_text({"      1.00000       1.0"}));
}

TEST(ScrubberRun, OneInSpanSampleCompletes) {
    Folder f;
    Settings s;
    s.span_start = "1.5";
    s.span_end = "2.5";
    s.window = "1";
    s.iterations = "1";
    f.write("ConfigTAVRIN.Dat", config_text(s));
    f.write("raw.dat", "h\r\n1 1 1 1 10 20 0 0\r\n2 1 1 1 99 20 0 0\r\n3 1 1 1 10 20 0 0\r\n");
    Result r = f.run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, pass_line(1, 0) + count_line(0, "\n"));
    EXPECT_EQ(f.read("out.dat"), std::string(HEADING) + row(1, 1, 1, 1, 10, 20, 10, 20) +
                                     row(2, 1, 1, 1, 99, 20, 99, 20) + row(3, 1, 1, 1, 10, 20, 10, 20));
}

// ---- bad input ----------------------------------------------------------------------

struct SampleFileCase {
    const char* name;
    std::string raw;
    std::string rows;  // expected cleaned rows after the heading
};
void PrintTo(const SampleFileCase& c, std::ostream* os) { *os << c.name; }

class SampleFiles : public ::testing::TestWithParam<SampleFileCase> {};

TEST_P(SampleFiles, ReadsUpToTheFirstIncompleteSample) {
    const SampleFileCase& c = GetParam();
    Folder f;
    Settings s;
    s.window = "1";
    s.iterations = "1";
    f.write("ConfigTAVRIN.Dat", config_text(s));
    f.write("raw.dat", c.raw);
    Result r = f.run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, pass_line(1, 0) + count_line(0, "\n"));
    EXPECT_EQ(f.read("out.dat"), HEADING + c.rows);
    EXPECT_EQ(f.read("WARNING_LOG.DAT"), log_text({}));
}

const std::string TWO_SAMPLES = "1 1 2 3 10 20 0 0\r\n2 1 2 3 10 20 0 0\r\n";
const std::string TWO_ROWS = row(1, 1, 2, 3, 10, 20, 10, 20) + row(2, 1, 2, 3, 10, 20, 10, 20);

INSTANTIATE_TEST_SUITE_P(
    BadInput, SampleFiles,
    ::testing::Values(SampleFileCase{"heading_only", "heading\r\n", ""},
                      SampleFileCase{"last_sample_cut_short", "h\r\n" + TWO_SAMPLES + "3 1 2 3 10\r\n", TWO_ROWS},
                      SampleFileCase{"letter_inside_samples",
                                     "h\r\n" + TWO_SAMPLES + "3 1 2 3x 10 20 0 0\r\n4 1 2 3 10 20 0 0\r\n", TWO_ROWS},
                      SampleFileCase{"unterminated_last_line", "h\r\n" + TWO_SAMPLES + "3 1 2 3 10 20 0 0",
                                     TWO_ROWS},
                      // A null leaves 0.0; the seventh value may be of any size.
                      SampleFileCase{"null_values", "h\r\n1,2*,3,,20,1e300,0\r\n2 1 2 3 10 /\r\n",
                                     row(1, 0, 0, 3, 0, 20, 0, 20) + row(2, 1, 2, 3, 10, 0, 10, 0)}),
    [](const ::testing::TestParamInfo<SampleFileCase>& info) { return std::string(info.param.name); });

TEST(ScrubberRun, MissingRawFileCreatesNoOutput) {
    Folder f;
    f.write("ConfigTAVRIN.Dat", config_text(Settings{}));
    Result r = f.run();
    EXPECT_EQ(r.status, 29);
    EXPECT_EQ(r.err, "scrubber: severe (29): file not found, unit 8, file " + (f.dir() / "raw.dat").string() + "\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(f.exists("out.dat"));
    EXPECT_FALSE(f.exists("WARNING_LOG.DAT"));
}

TEST(ScrubberRun, RawFileWithoutHeadingWritesNothing) {
    Folder f;
    f.write("ConfigTAVRIN.Dat", config_text(Settings{}));
    f.write("raw.dat", "");
    f.write("out.dat", "earlier cleaned series\r\n");
    Result r = f.run();
    EXPECT_EQ(r.status, 24);
    EXPECT_EQ(r.err,
              "scrubber: severe (24): end-of-file during read, unit 8, file " + (f.dir() / "raw.dat").string() + "\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(f.read("out.dat"), "earlier cleaned series\r\n");
    EXPECT_EQ(f.read("WARNING_LOG.DAT"), "");
}

struct ConfigCase {
    const char* name;
    std::string numerator, divisor, window;
    int status;
};
void PrintTo(const ConfigCase& c, std::ostream* os) { *os << c.name; }

class BadConfiguration : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(BadConfiguration, EndsBeforeAnyOutputIsTouched) {
    const ConfigCase& c = GetParam();
    Folder f;
    Settings s;
    s.numerator = c.numerator;
    s.divisor = c.divisor;
    s.window = c.window;
    f.write("ConfigTAVRIN.Dat", config_text(s));
    f.write("raw.dat", "h\r\n" + TWO_SAMPLES);
    f.write("out.dat", "old out\r\n");
    f.write("WARNING_LOG.DAT", "old log\r\n");
    Result r = f.run();
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    if (c.status == 164) {
        EXPECT_EQ(r.err, "scrubber: severe (164): Program Exception - integer divide by zero\n");
    } else {
        const std::string prefix = "scrubber: severe (78): invalid configuration, unit 2030, file " +
                                   (f.dir() / "ConfigTAVRIN.Dat").string() + ": ";
        EXPECT_EQ(r.err.substr(0, prefix.size()), prefix);
        EXPECT_GT(r.err.size(), prefix.size() + 1);
        EXPECT_EQ(r.err.back(), '\n');
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1);  // one line
    }
    EXPECT_EQ(f.read("out.dat"), "old out\r\n");
    EXPECT_EQ(f.read("WARNING_LOG.DAT"), "old log\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Settings, BadConfiguration,
    ::testing::Values(ConfigCase{"divisor_zero", "16", "0", "3", 164},
                      ConfigCase{"divisor_zero_before_window", "16", "0", "0", 164},
                      ConfigCase{"rate_below_one", "1", "2", "3", 78},
                      ConfigCase{"negative_rate", "16", "-1", "3", 78},
                      ConfigCase{"most_negative_over_minus_one", "-2147483648", "-1", "1", 78},
                      ConfigCase{"window_zero", "16", "1", "0", 78},
                      ConfigCase{"window_negative", "16", "1", "-2", 78},
                      ConfigCase{"window_overflows", "64", "1", "33554432", 78},
                      ConfigCase{"window_overflows_negative", "64", "1", "-33554433", 78}),
    [](const ::testing::TestParamInfo<ConfigCase>& info) { return std::string(info.param.name); });

TEST(BadConfigurationEdge, LargestWindowThatFitsRuns) {
    Folder f;
    Settings s;
    s.numerator = "64";
    s.window = "33554431";  // x 64 = 2,147,483,584
    f.write("ConfigTAVRIN.Dat", config_text(s));
    f.write("raw.dat", "h\r\n" + TWO_SAMPLES);
    Result r = f.run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
}

// ---- the sample limit -------------------------------------------------------------

constexpr long LIMIT = 7000000;

class SampleLimit : public ::testing::Test {
protected:
    // Zero samples up to the limit, written as the repeat form to keep the
    // file small; the last stored sample and the one after it are distinct.
    static void SetUpTestSuite() {
        shared_ = new Folder;
        std::string text = "heading\r\n";
        text.reserve(9 + 5 * LIMIT + 64);
        for (long i = 1; i < LIMIT; ++i) text += "8*0\r\n";
        text += "7 1 2 3 4 5 6 7\r\n";
        shared_->write("exact.dat", text);
        text += "9 9 9 9 9 9 9 9\r\n";
        shared_->write("over.dat", text);
    }
    static void TearDownTestSuite() {
        delete shared_;
        shared_ = nullptr;
    }

    // Runs over the given series; returns the result after checking the output.
    Result run_limit(const char* series, const std::string& stdin_text, Folder& f) {
        Settings s;
        s.window = "1";
        s.iterations = "1";
        f.write("ConfigTAVRIN.Dat", config_text(s));
        fs::create_symlink(shared_->dir() / series, f.dir() / "raw.dat");
        Result r = f.run(stdin_text);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
        // Every stored sample is written; the one past the limit is not.
        const fs::path out = f.dir() / "out.dat";
        const std::string zero_row = row(0, 0, 0, 0, 0, 0, 0, 0);
        const std::string last_row = row(7, 1, 2, 3, 4, 5, 4, 5);
        EXPECT_EQ(fs::file_size(out), std::string(HEADING).size() + zero_row.size() * LIMIT);
        std::ifstream in(out, std::ios::binary);
        std::string head(std::string(HEADING).size() + zero_row.size(), '\0');
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        EXPECT_EQ(head, HEADING + zero_row);
        std::string tail(last_row.size(), '\0');
        in.seekg(-static_cast<std::streamoff>(last_row.size()), std::ios::end);
        in.read(tail.data(), static_cast<std::streamsize>(tail.size()));
        EXPECT_EQ(tail, last_row);
        return r;
    }

    static Folder* shared_;
};
Folder* SampleLimit::shared_ = nullptr;

const std::string WARNING = " Warning - did not reach end of file!\n";
const std::string AFTER_PAUSE = pass_line(1, 0) + count_line(0, "\n");

TEST_F(SampleLimit, EmptyLineGoesOn) {
    Folder f;
    Result r = run_limit("over.dat", "\n", f);
    EXPECT_EQ(r.out, WARNING + PROMPT + AFTER_PAUSE);
}

TEST_F(SampleLimit, CommandLineIsRunThenPromptRepeats) {
    Folder f;
    Result r = run_limit("over.dat", "touch ran_by_pause\n\n", f);
    EXPECT_EQ(r.out, WARNING + PROMPT + PROMPT + AFTER_PAUSE);
    EXPECT_TRUE(f.exists("ran_by_pause"));
}

TEST_F(SampleLimit, EndOfStandardInputGoesOn) {
    Folder f;
    Result r = run_limit("over.dat", "", f);
    EXPECT_EQ(r.out, WARNING + PROMPT + AFTER_PAUSE);
}

TEST_F(SampleLimit, FileEndingExactlyAtTheLimitStillPauses) {
    Folder f;
    Result r = run_limit("exact.dat", "\n", f);
    EXPECT_EQ(r.out, WARNING + PROMPT + AFTER_PAUSE);
}

// ---- the cleaned file as the flux program's input ------------------------------------

#ifdef TAVRIN_PATH
TEST(ScrubberThenFluxProgram, CleanedSeriesIsReadable) {
    Folder f;
    Settings s;
    s.numerator = "4";
    s.span_start = "0";
    s.span_end = "100";
    s.window = "2";
    s.iterations = "1";
    s.limit = "5";
    // Flux program: clean.dat at 4 Hz, intervals of 10 s (40 samples).
    const std::vector<std::string> flux = {
        "flux program", "input:", pad("Flux input file", 23) + "out.dat", "unused", "output:",
        pad("Results file", 23) + "results.dat", pad("Sample rate (Hz)", 23) + "     4.0",
        pad("Start time (h)", 23) + "     0.0", pad("End time (h)", 23) + "     0.0",
        pad("Interval (s)", 23) + "      10", pad("Oxygen select", 23) + "1", pad("Vertical select", 23) + "2",
        pad("Running window (s)", 23) + "   5"};
    f.write("ConfigTAVRIN.Dat", config_text(s, flux));
    std::string raw = "TIME X Y Z O21 O22 N T\r\n";
    for (int i = 0; i < 100; ++i) {
        char line[160];
        std::snprintf(line, sizeof line, "%.8f %.3f %.3f %.3f %.3f %.3f 0 0\r\n", 10.0 + i / 14400.0,
                      (i % 7 == 3) ? -99.0 : 3.0 + (i % 5) * 0.1, 1.0 - (i % 3) * 0.2, 0.1 * ((i % 4) - 1.5),
                      250.0 + (i % 6) * 0.3, 240.0 - (i % 5) * 0.2);
        raw += line;
    }
    f.write("raw.dat", raw);
    Result r = f.run();
    ASSERT_EQ(r.status, 0) << r.err;
    std::string command = "cd '" + f.dir().string() + "' && '" TAVRIN_PATH "' > tavrin.out 2> tavrin.err < /dev/null";
    int raw_status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw_status));
    EXPECT_EQ(WEXITSTATUS(raw_status), 0) << f.read("tavrin.err");
    EXPECT_EQ(f.read("tavrin.err"), "");
    // 100 samples make two whole intervals of 40: one progress line each.
    const std::string progress = f.read("tavrin.out");
    EXPECT_EQ(std::count(progress.begin(), progress.end(), '\n'), 2) << progress;
    EXPECT_TRUE(f.exists("results.dat"));
}
#endif

}  // namespace
