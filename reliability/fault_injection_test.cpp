// Fault injection, end to end: the flux program runs on a small series while
// an output device is full, a file grows past its limit, an input cannot be
// read, descriptors run out, or its folder disappears. Each case checks the
// one failure line and status, and that the files hold every record completed
// before the failure and no partial one: each file must be a record-aligned
// prefix of what an undisturbed run writes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "run_harness.h"

using namespace reliability;

namespace {

constexpr int RATE = 64;
constexpr int INTERVAL = 10;  // seconds: 640 samples
constexpr long ROWS_PER_INTERVAL = RATE * INTERVAL;
constexpr long INTERVALS = 20;
constexpr long SAMPLES = INTERVALS * ROWS_PER_INTERVAL + 100;  // the last interval stays incomplete
const char* const OUTPUTS[] = {"results.dat", "Cospectra.out", "cumflux.out", "cumfluxSHIFT.out"};

std::string line(int number, const std::string& text, int unit, const std::string& path) {
    return "TAVRIN: severe (" + std::to_string(number) + "): " + text + ", unit " + std::to_string(unit) +
           ", file " + path + "\n";
}

std::size_t count_records(const std::string& text) {
    std::vector<std::string> r;
    whole_records(text, &r);
    return r.size();
}

class FluxFaults : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        reference_dir_ = make_temp_dir();
        prepare(reference_dir_);
        Finished f = run_program(TAVRIN_PATH, reference_dir_);
        ASSERT_EQ(f.exit_status, 0) << f.err;
        for (const char* name : OUTPUTS) reference_[name] = read_file(reference_dir_ + "/" + name);
        ASSERT_EQ(count_records(reference_["results.dat"]) , results_heading() + INTERVALS);
    }
    static void TearDownTestSuite() { remove_tree(reference_dir_); }

    void SetUp() override {
        dir_ = make_temp_dir();
        prepare(dir_);
    }
    void TearDown() override { remove_tree(dir_); }

    static void prepare(const std::string& dir, const std::string& results = "results.dat") {
        write_file(dir + "/ConfigTAVRIN.Dat", flux_configuration("series.dat", results, RATE, INTERVAL, 5));
        write_series(dir + "/series.dat", SAMPLES, RATE);
    }
    static std::size_t results_heading() { return count_records(reference_["results.dat"]) - INTERVALS; }
    static std::size_t cumulative_heading() {
        return count_records(reference_["cumflux.out"]) - INTERVALS * ROWS_PER_INTERVAL;
    }

    // Every output present is a record-aligned prefix of the undisturbed
    // run's file, and every file but the failing ones holds, as a prefix,
    // what a run over exactly the completed intervals writes. Returns the
    // number of completed intervals.
    std::size_t check_nothing_partial_nothing_lost(const Finished& f, const std::vector<std::string>& failing = {}) {
        const std::size_t done = count_records(regular_text(dir_ + "/results.dat")) > results_heading()
                                     ? count_records(regular_text(dir_ + "/results.dat")) - results_heading()
                                     : 0;
        const std::string upto = make_temp_dir();
        write_file(upto + "/ConfigTAVRIN.Dat", flux_configuration("series.dat", "results.dat", RATE, INTERVAL, 5));
        write_series(upto + "/series.dat", static_cast<long>(done) * ROWS_PER_INTERVAL, RATE);
        EXPECT_EQ(run_program(TAVRIN_PATH, upto).exit_status, 0);
        for (const char* name : OUTPUTS) {
            SCOPED_TRACE(name);
            const std::string text = regular_text(dir_ + "/" + name);
            EXPECT_TRUE(whole_records(text)) << "ends inside a record: " << text.size() << " bytes";
            EXPECT_EQ(reference_[name].compare(0, text.size(), text), 0) << "not a prefix of the full run's file";
            const bool failed = std::find(failing.begin(), failing.end(), name) != failing.end();
            if (std::string(name) != "Cospectra.out" && !failed) {
                const std::string completed = read_file(upto + "/" + name);
                EXPECT_EQ(text.compare(0, completed.size(), completed), 0)
                    << "records of the " << done << " completed intervals are missing";
            }
        }
        remove_tree(upto);
        EXPECT_EQ(static_cast<std::size_t>(std::count(f.out.begin(), f.out.end(), '\n')), done)
            << "one progress line per completed interval";
        return done;
    }

    // A file's text; empty when it is absent or not a regular file (a device).
    static std::string regular_text(const std::string& path) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
        return read_file(path);
    }

    static inline std::string reference_dir_;
    static inline std::map<std::string, std::string> reference_;
    std::string dir_;
};

TEST_F(FluxFaults, OutputOnFullDeviceFailsWithWriteErrorOfThatFile) {
    struct Row {
        const char* name;
        int unit;
    };
    for (Row row : {Row{"cumflux.out", 43}, Row{"results.dat", 9}, Row{"cumfluxSHIFT.out", 889},
                    Row{"Cospectra.out", 40}}) {
        SCOPED_TRACE(row.name);
        remove_tree(dir_);
        dir_ = make_temp_dir();
        prepare(dir_);
        ASSERT_EQ(symlink("/dev/full", (dir_ + "/" + row.name).c_str()), 0);
        Finished f = run_program(TAVRIN_PATH, dir_);
        EXPECT_EQ(f.exit_status, 38);
        EXPECT_EQ(f.err, line(38, "error during write", row.unit, dir_ + "/" + row.name));
        check_nothing_partial_nothing_lost(f, {row.name});
    }
}

TEST_F(FluxFaults, FileSizeLimitMidRunCutsBackToTheLastWholeRecord) {
    // The limit falls inside a record of the two cumulative files, after
    // several intervals: the system takes part of the buffered records and
    // refuses the rest.
    const long limit = static_cast<long>(reference_["cumflux.out"].size() / 2 + 7);
    RunOptions o;
    o.file_size_limit = limit;
    Finished f = run_program(TAVRIN_PATH, dir_, o);
    EXPECT_EQ(f.exit_status, 38);
    EXPECT_EQ(f.err, line(38, "error during write", 43, dir_ + "/cumflux.out"));
    const std::size_t done = check_nothing_partial_nothing_lost(f, {"cumflux.out", "cumfluxSHIFT.out"});
    EXPECT_GE(done, static_cast<std::size_t>(INTERVALS / 2 - 2));
    EXPECT_LT(done, static_cast<std::size_t>(INTERVALS));
}

TEST_F(FluxFaults, FolderGivenAsInputFailsWithReadError) {
    ASSERT_EQ(mkdir((dir_ + "/adir").c_str(), 0755), 0);
    write_file(dir_ + "/ConfigTAVRIN.Dat", flux_configuration("adir", "results.dat", RATE, INTERVAL, 5));
    Finished f = run_program(TAVRIN_PATH, dir_);
    EXPECT_EQ(f.exit_status, 39);
    EXPECT_EQ(f.err, line(39, "error during read", 8, dir_ + "/adir"));
    for (const char* name : OUTPUTS) EXPECT_NE(access((dir_ + "/" + name).c_str(), F_OK), 0) << name;
}

TEST_F(FluxFaults, FolderGivenAsConfigurationFailsWithReadError) {
    unlink((dir_ + "/ConfigTAVRIN.Dat").c_str());
    ASSERT_EQ(mkdir((dir_ + "/ConfigTAVRIN.Dat").c_str(), 0755), 0);
    Finished f = run_program(TAVRIN_PATH, dir_);
    EXPECT_EQ(f.exit_status, 39);
    EXPECT_EQ(f.err, line(39, "error during read", 2030, dir_ + "/ConfigTAVRIN.Dat"));
}

TEST_F(FluxFaults, SeriesUnreadableMidwayFailsWithReadErrorAfterTheCompletedIntervals) {
    const std::string series = read_file(dir_ + "/series.dat");
    const std::size_t cut = series.size() / 2;
    // Samples whose line lies whole before the failing byte; the heading is not one.
    const long readable = static_cast<long>(std::count(series.begin(), series.begin() + static_cast<long>(cut), '\n')) - 1;
    RunOptions o;
    o.environment = {std::string("LD_PRELOAD=") + READ_FAULT_SHIM, "READ_FAULT_NAME=/series.dat",
                     "READ_FAULT_AFTER=" + std::to_string(cut)};
    Finished f = run_program(TAVRIN_PATH, dir_, o);
    EXPECT_EQ(f.exit_status, 39);
    EXPECT_EQ(f.err, line(39, "error during read", 8, dir_ + "/series.dat"));
    EXPECT_EQ(check_nothing_partial_nothing_lost(f), static_cast<std::size_t>(readable / ROWS_PER_INTERVAL));
}

TEST_F(FluxFaults, SeriesWithoutReadPermissionFailsWithPermissionDenied) {
    // Root reads through permission bits, so the run drops to an unprivileged user.
    ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
    ASSERT_EQ(chmod((dir_ + "/ConfigTAVRIN.Dat").c_str(), 0644), 0);
    ASSERT_EQ(chmod((dir_ + "/series.dat").c_str(), 0), 0);
    RunOptions o;
    o.as_unprivileged = true;
    Finished f = run_program(TAVRIN_PATH, dir_, o);
    EXPECT_EQ(f.exit_status, 9);
    EXPECT_EQ(f.err, line(9, "permission to access file denied", 8, dir_ + "/series.dat"));
}

TEST_F(FluxFaults, TooManyOpenFilesFailsWithOpenFailureAndLeavesUnwrittenFilesAlone) {
    // Descriptors 0-2 are the console; the program opens the configuration,
    // the series and then the outputs in order, one descriptor each. (A limit
    // of 3 stops the loader before the program starts, so the configuration
    // itself cannot be reached this way.)
    struct Row {
        long limit;
        int unit;
        const char* name;
    };
    for (Row row : {Row{4, 8, "series.dat"}, Row{5, 9, "results.dat"},
                    Row{6, 40, "Cospectra.out"}, Row{7, 43, "cumflux.out"}, Row{8, 889, "cumfluxSHIFT.out"}}) {
        SCOPED_TRACE(row.name);
        const std::string old_text = "an earlier run's results\r\n";
        write_file(dir_ + "/results.dat", old_text);
        RunOptions o;
        o.open_files_limit = row.limit;
        Finished f = run_program(TAVRIN_PATH, dir_, o);
        EXPECT_EQ(f.exit_status, 30);
        EXPECT_EQ(f.err, line(30, "open failure", row.unit, dir_ + "/" + row.name));
        EXPECT_EQ(read_file(dir_ + "/results.dat"), old_text) << "an output opened but never written keeps its text";
        for (const char* name : {"Cospectra.out", "cumflux.out", "cumfluxSHIFT.out"}) unlink((dir_ + "/" + name).c_str());
    }
}

}  // namespace

namespace {

std::string read_descriptor(int fd) {
    std::string text;
    char buf[1 << 16];
    off_t at = 0;
    for (;;) {
        ssize_t k = pread(fd, buf, sizeof buf, at);
        if (k <= 0) break;
        text.append(buf, static_cast<std::size_t>(k));
        at += k;
    }
    return text;
}

TEST(FluxFolderRemoved, RunGoesOnAndItsOpenFilesHoldEveryRecord) {
    // The files stay open, so the run completes into them after their folder
    // is gone; the test keeps its own descriptors to read them afterwards.
    constexpr long SAMPLES_LONG = 300000;
    const std::string outer = make_temp_dir();
    const std::string dir = outer + "/run";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    ASSERT_EQ(symlink(cached_series(SAMPLES_LONG, RATE).c_str(), (dir + "/series.dat").c_str()), 0);
    write_file(dir + "/ConfigTAVRIN.Dat", flux_configuration("series.dat", "results.dat", RATE, INTERVAL, 5));
    RunOptions o;
    o.capture_dir = outer;
    Running run = start_run(TAVRIN_PATH, dir, o);
    ASSERT_TRUE(wait_until([&] { return count_records(read_file(dir + "/results.dat")) >= 6; },
                           std::chrono::seconds(20)));
    std::map<std::string, int> fds;
    for (const char* name : OUTPUTS) fds[name] = open((dir + "/" + name).c_str(), O_RDONLY);
    remove_tree(dir);
    Finished f = finish_run(run);
    EXPECT_EQ(f.exit_status, 0);
    EXPECT_EQ(f.err, "");
    const long intervals = SAMPLES_LONG / ROWS_PER_INTERVAL;
    const std::string results = read_descriptor(fds["results.dat"]);
    const std::string cumflux = read_descriptor(fds["cumflux.out"]);
    EXPECT_TRUE(whole_records(results));
    EXPECT_TRUE(whole_records(cumflux));
    EXPECT_TRUE(whole_records(read_descriptor(fds["cumfluxSHIFT.out"])));
    EXPECT_TRUE(whole_records(read_descriptor(fds["Cospectra.out"])));
    EXPECT_FALSE(read_descriptor(fds["Cospectra.out"]).empty()) << "the cospectra are written at the end";
    EXPECT_GE(count_records(results), static_cast<std::size_t>(intervals));
    EXPECT_EQ(count_records(cumflux) % ROWS_PER_INTERVAL, count_records(results) - static_cast<std::size_t>(intervals))
        << "heading records of both files";
    EXPECT_EQ(static_cast<std::size_t>(std::count(f.out.begin(), f.out.end(), '\n')), static_cast<std::size_t>(intervals));
    for (auto& [name, fd] : fds) close(fd);
    remove_tree(outer);
}

}  // namespace
