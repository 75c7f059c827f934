// Console interrupts: each of the four signals ends a running program with
// the event line and status 200, and every file it writes ends with a
// complete record. The flux program is caught in the middle of a long
// series; the despiking program while it waits at its pause.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "run_harness.h"

using namespace reliability;

namespace {

struct Event {
    int signal;
    const char* name;
};
const Event EVENTS[] = {{SIGINT, "control-C"}, {SIGQUIT, "control-BREAK"}, {SIGHUP, "menu-CLOSE"}, {SIGTERM, "menu-CLOSE"}};

std::string signal_name(int sig) {
    return sig == SIGINT ? "SIGINT" : sig == SIGQUIT ? "SIGQUIT" : sig == SIGHUP ? "SIGHUP" : "SIGTERM";
}
// Test names and listings show the signal, not the bytes of the struct.
void PrintTo(const Event& e, std::ostream* os) { *os << signal_name(e.signal); }

constexpr int RATE = 64;
constexpr long LARGE_SERIES = 2000000;

std::size_t records_of(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

// All records after the heading have the width of the first of them.
void expect_whole_rows(const std::string& text, std::size_t heading) {
    std::vector<std::string> rows;
    ASSERT_TRUE(whole_records(text, &rows)) << "ends inside a record";
    for (std::size_t i = heading + 1; i < rows.size(); ++i)
        ASSERT_EQ(rows[i].size(), rows[heading].size()) << "row " << i;
}

// Heading records of the results table and of the cumulative files, from a
// run over two whole intervals.
struct Headings {
    std::size_t results = 0, cumulative = 0;
};
Headings flux_headings() {
    static const Headings h = [] {
        const std::string dir = make_temp_dir();
        write_file(dir + "/ConfigTAVRIN.Dat", flux_configuration("series.dat", "results.dat", RATE, 10, 5));
        write_series(dir + "/series.dat", 2 * 640, RATE);
        Headings out;
        if (run_program(TAVRIN_PATH, dir).exit_status == 0) {
            out.results = records_of(read_file(dir + "/results.dat")) - 2;
            out.cumulative = records_of(read_file(dir + "/cumflux.out")) - 2 * 640;
        }
        remove_tree(dir);
        return out;
    }();
    return h;
}

class Interrupts : public ::testing::TestWithParam<Event> {};

TEST_P(Interrupts, FluxProgramStopsWithTheEventLineAndWholeRecords) {
    const Event ev = GetParam();
    const std::string series = cached_series(LARGE_SERIES, RATE);
    const std::string dir = make_temp_dir();
    ASSERT_EQ(symlink(series.c_str(), (dir + "/series.dat").c_str()), 0);
    write_file(dir + "/ConfigTAVRIN.Dat", flux_configuration("series.dat", "results.dat", RATE, 10, 5));

    Running run = start_run(TAVRIN_PATH, dir);
    // The heading and a few rows are out: the program is inside its interval loop.
    const bool busy = wait_until([&] { return records_of(read_file(dir + "/results.dat")) >= 6; },
                                 std::chrono::seconds(20));
    ASSERT_TRUE(busy) << "the run never reached its intervals";
    ASSERT_EQ(kill(run.pid, ev.signal), 0);
    Finished f = finish_run(run);
    EXPECT_EQ(f.exit_status, 200) << f.err;
    EXPECT_EQ(f.err, std::string("TAVRIN: error (200): program aborting due to ") + ev.name + " event\n");

    const std::string results = read_file(dir + "/results.dat");
    const std::string cumflux = read_file(dir + "/cumflux.out");
    const std::string shifted = read_file(dir + "/cumfluxSHIFT.out");
    EXPECT_TRUE(whole_records(read_file(dir + "/Cospectra.out")));
    EXPECT_LT(records_of(results), static_cast<std::size_t>(LARGE_SERIES / 640)) << "the run was not cut short";
    // Rows of every interval the results table shows are in both cumulative
    // files: 640 per interval in the zero-lag file, at least 640 less the
    // largest shift (2 s) in the shifted one.
    const Headings h = flux_headings();
    ASSERT_GT(h.results, 0u);
    ASSERT_GE(records_of(results), h.results);
    const std::size_t done = records_of(results) - h.results;
    EXPECT_GE(done, 1u);
    expect_whole_rows(results, h.results);
    expect_whole_rows(cumflux, h.cumulative);
    expect_whole_rows(shifted, h.cumulative);
    EXPECT_GE(records_of(cumflux), h.cumulative + done * 640);
    EXPECT_GE(records_of(shifted), h.cumulative + done * (640 - 2 * RATE));
    if (!f.out.empty()) {
        EXPECT_EQ(f.out.back(), '\n') << "the console ends inside a line";
    }
    remove_tree(dir);
}

TEST_P(Interrupts, DespikingProgramAtItsPauseStopsWithTheEventLine) {
#ifndef SCRUBBER_PATH
    GTEST_SKIP() << "the despiking program is not part of this build";
#else
    const Event ev = GetParam();
    // One sample more than the program holds: it warns and pauses.
    const std::string raw = cached_series(7000001, RATE);
    const std::string dir = make_temp_dir();
    ASSERT_EQ(symlink(raw.c_str(), (dir + "/raw.dat").c_str()), 0);
    write_file(dir + "/ConfigTAVRIN.Dat", scrubber_configuration("raw.dat", "clean.dat", RATE));
    write_file(dir + "/clean.dat", "an earlier cleaned file, longer than one heading record........................................................\r\n");

    RunOptions o;
    o.keep_stdin_open = true;  // nothing typed: the pause waits
    Running run = start_run(SCRUBBER_PATH, dir, o);
    const bool paused = wait_until([&] { return read_file(dir + "/.stdout").find("Enter") != std::string::npos; },
                                   std::chrono::seconds(25));
    ASSERT_TRUE(paused) << "no pause prompt";
    ASSERT_EQ(kill(run.pid, ev.signal), 0);
    Finished f = finish_run(run);
    EXPECT_EQ(f.exit_status, 200) << f.err;
    EXPECT_EQ(f.err, std::string("scrubber: error (200): program aborting due to ") + ev.name + " event\n");
    EXPECT_EQ(f.out.rfind(" Warning - did not reach end of file!\n", 0), 0u) << f.out;
    for (const char* name : {"clean.dat", "WARNING_LOG.DAT"}) {
        const std::string text = read_file(dir + "/" + name);
        EXPECT_TRUE(whole_records(text)) << name << " ends inside a record";
        EXPECT_LE(records_of(text), 1u) << name << ": at most the heading is complete at the pause";
    }
    remove_tree(dir);
#endif
}

INSTANTIATE_TEST_SUITE_P(Signals, Interrupts, ::testing::ValuesIn(EVENTS),
                         [](const ::testing::TestParamInfo<Event>& i) { return signal_name(i.param.signal); });

}  // namespace
