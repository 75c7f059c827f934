// Missing-run filling, oxygen statistics, running means and the despiking sweep.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "missing_runs.h"
#include "spike_replacement.h"

namespace flux {
namespace {

struct Sample {
    double time, x, y, z, o21, o22;
};

// A series of the given samples in a small reservation; the guard slots after
// the last sample are set to `guard` so that a step reading them shows.
struct TestSeries {
    SampleSeries s;
    explicit TestSeries(const std::vector<Sample>& samples, double guard = 0.0) {
        s = reserve_series(64);
        s.sample_count = static_cast<std::int32_t>(samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const Sample& v = samples[i];
            s.time[i + 1] = v.time;
            s.x[i + 1] = v.x;
            s.y[i + 1] = v.y;
            s.z[i + 1] = v.z;
            s.o21[i + 1] = v.o21;
            s.o22[i + 1] = v.o22;
        }
        for (double* c : {s.time, s.x, s.y, s.z, s.o21, s.o22}) {
            c[s.sample_count + 1] = guard;
            c[s.sample_count + 2] = guard;
        }
    }
    ~TestSeries() { release_series(s); }
    std::vector<double> column(const double* c) const { return std::vector<double>(c + 1, c + 1 + s.sample_count); }
};

CleaningSettings settings_for(std::int32_t rate, double span_start, double span_end, double max_gap) {
    CleaningSettings c;
    c.samples_per_second = rate;
    c.mean_window_samples = 1;
    c.span_start_hours = span_start;
    c.span_end_hours = span_end;
    c.max_gap_seconds = max_gap;
    return c;
}

// Evenly spaced samples at `step` hours from `t0`; y = x + 10, z = x - 10
// where x is good, so every component's fill can be checked.
std::vector<Sample> series_of_x(const std::vector<double>& xs, double t0 = 1.0, double step = 1.0) {
    std::vector<Sample> out;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        double x = xs[i];
        bool missing = x <= MISSING_VALUE;
        out.push_back({t0 + step * static_cast<double>(i), x, missing ? 7.0 : x + 10.0, missing ? 7.0 : x - 10.0,
                       100.0 + static_cast<double>(i), 200.0 + static_cast<double>(i)});
    }
    return out;
}

struct FillCase {
    const char* name;
    std::vector<double> x_in;
    std::int32_t rate;
    double span_start, span_end, max_gap;
    std::vector<double> x_out;
    std::vector<GapViolation> violations;
    bool y_z_follow_x = true;  // filled y and z lie at x + 10 and x - 10
};
void PrintTo(const FillCase& c, std::ostream* os) { *os << c.name; }

class FillTable : public ::testing::TestWithParam<FillCase> {};

TEST_P(FillTable, FillsAndReports) {
    const FillCase& c = GetParam();
    TestSeries t(series_of_x(c.x_in), 0.0);
    std::vector<GapViolation> found;
    fill_missing_runs(t.s, settings_for(c.rate, c.span_start, c.span_end, c.max_gap), found);
    EXPECT_EQ(t.column(t.s.x), c.x_out);
    if (c.y_z_follow_x) {
        for (std::int32_t j = 1; j <= t.s.sample_count; ++j) {
            if (c.x_in[j - 1] > MISSING_VALUE || t.s.x[j] == c.x_in[j - 1]) continue;
            EXPECT_EQ(t.s.y[j], t.s.x[j] + 10.0) << "sample " << j;
            EXPECT_EQ(t.s.z[j], t.s.x[j] - 10.0) << "sample " << j;
        }
    }
    ASSERT_EQ(found.size(), c.violations.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i].start_time_hours, c.violations[i].start_time_hours) << i;
        EXPECT_EQ(found[i].length_seconds, c.violations[i].length_seconds) << i;
    }
    // Nothing is written past the last sample.
    EXPECT_EQ(t.s.x[t.s.sample_count + 1], 0.0);
    EXPECT_EQ(t.s.x[t.s.sample_count + 2], 0.0);
}

const double M = MISSING_VALUE;

INSTANTIATE_TEST_SUITE_P(
    MissingRuns, FillTable,
    ::testing::Values(
        // On the line through the neighbours; L = 1 / rate.
        FillCase{"one_missing", {2.0, M, 6.0, 8.0}, 4, 0.0, 100.0, 0.2, {2.0, 4.0, 6.0, 8.0}, {{1.0, 0.25}}},
        FillCase{"one_missing_no_violation", {2.0, M, 6.0}, 4, 0.0, 100.0, 0.25, {2.0, 4.0, 6.0}, {}},
        // At 16 Hz with 0.5 s allowed: 8 missing is 0.5 s (allowed), 9 is 0.5625 s.
        FillCase{"run_of_8_at_16hz", {0.0, M, M, M, M, M, M, M, M, 9.0}, 16, 0.0, 100.0, 0.5,
                 {0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0}, {}},
        FillCase{"run_of_9_at_16hz", {0.0, M, M, M, M, M, M, M, M, M, 10.0}, 16, 0.0, 100.0, 0.5,
                 {0.0, 1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0, 10.0}, {{1.0, 0.5625}}},
        FillCase{"negative_max_gap_reports_every_run", {0.0, M, 2.0, M, 4.0}, 1, 0.0, 100.0, -1.0,
                 {0.0, 1.0, 2.0, 3.0, 4.0}, {{1.0, 1.0}, {3.0, 1.0}}},
        // Only exactly -99 starts a run; below -99 after it belongs to the run.
        FillCase{"minus_100_alone_is_data", {1.0, -100.0, 3.0}, 1, 0.0, 100.0, 10.0, {1.0, -100.0, 3.0}, {}},
        FillCase{"minus_100_inside_a_run", {0.0, M, -100.0, 3.0}, 1, 0.0, 100.0, 10.0, {0.0, 1.0, 2.0, 3.0}, {}},
        // No good sample after the run: the start velocities held; nothing past the end.
        FillCase{"trailing_run", {1.0, 5.0, M, M}, 2, 0.0, 100.0, 0.9, {1.0, 5.0, 5.0, 5.0}, {{2.0, 1.0}}},
        // Run at sample 1: the end velocities held; start time is sample 1's.
        FillCase{"run_at_sample_1", {M, M, 4.0, 6.0}, 1, 0.0, 100.0, 1.5, {4.0, 4.0, 4.0, 6.0}, {{1.0, 2.0}}},
        // Neither end: left as read, reported once for its whole length.
        FillCase{"all_missing", {M, M, M}, 1, 0.0, 100.0, 2.5, {M, M, M}, {{1.0, 3.0}}, false},
        // Begun before the span (span from hour 2.5): from zero at the time of
        // the sample before the first in-span one (hour 2) to 9 at hour 5.
        FillCase{"begun_before_span", {1.0, M, M, M, 9.0}, 1, 2.5, 100.0, 10.0, {1.0, M, 3.0, 6.0, 9.0}, {}, false},
        // Begins after the span: untouched.
        FillCase{"after_span", {1.0, 2.0, M, 4.0}, 1, 0.0, 2.5, 10.0, {1.0, 2.0, M, 4.0}, {}},
        // Starts inside the span, filled on past its end.
        FillCase{"filled_past_span_end", {0.0, M, M, 3.0}, 1, 0.0, 2.5, 10.0, {0.0, 1.0, 2.0, 3.0}, {}}),
    [](const ::testing::TestParamInfo<FillCase>& info) { return std::string(info.param.name); });

TEST(MissingRuns, BegunBeforeSpanFillsYAndZFromZero) {
    TestSeries t(series_of_x({1.0, M, M, M, 9.0}));
    std::vector<GapViolation> found;
    fill_missing_runs(t.s, settings_for(1, 2.5, 100.0, 10.0), found);
    // y and z go from 0 at hour 2 to 19 and -1 at hour 5.
    EXPECT_EQ(t.column(t.s.y),
              (std::vector<double>{11.0, 7.0, (19.0 / 3.0) * (3.0 - 5.0) + 19.0, (19.0 / 3.0) * (4.0 - 5.0) + 19.0, 19.0}));
    EXPECT_EQ(t.s.z[3], (-1.0 / 3.0) * (3.0 - 5.0) + -1.0);
    EXPECT_EQ(t.s.z[4], (-1.0 / 3.0) * (4.0 - 5.0) + -1.0);
}

TEST(MissingRuns, SpanSumsCountInSpanSamplesInOrder) {
    TestSeries t(series_of_x({1.0, 2.0, 3.0, 4.0}));  // o21 = 100..103, o22 = 200..203
    std::vector<GapViolation> found;
    // Strict at both ends: hours 2 and 3 only.
    SpanSums sums = fill_missing_runs(t.s, settings_for(1, 1.0, 4.0, 10.0), found);
    EXPECT_EQ(sums.span_count, 2);
    EXPECT_EQ(sums.o21_sum, 101.0 + 102.0);
    EXPECT_EQ(sums.o22_sum, 201.0 + 202.0);
}

TEST(MissingRuns, EndSampleKeepsItsValue) {
    // Uneven times: the end sample is rewritten through the line and must come back unchanged.
    TestSeries t({{0.1, 0.3, 0.7, 1.1, 0, 0}, {0.37, M, 0, 0, 0, 0}, {0.93, 2.9, -3.3, 0.01, 0, 0}});
    std::vector<GapViolation> found;
    fill_missing_runs(t.s, settings_for(1, 0.0, 1.0, 10.0), found);
    EXPECT_EQ(t.s.x[3], 2.9);
    EXPECT_EQ(t.s.y[3], -3.3);
    EXPECT_EQ(t.s.z[3], 0.01);
    const double sx = (2.9 - 0.3) / (0.93 - 0.1);
    EXPECT_EQ(t.s.x[2], sx * (0.37 - 0.93) + 2.9);
}

// ---- oxygen statistics and running means -------------------------------------

TEST(OxygenStatistics, SampleDeviationOverInSpanSamples) {
    TestSeries t({{1, 0, 0, 0, 1.0, 10.0}, {2, 0, 0, 0, 2.0, 10.0}, {3, 0, 0, 0, 3.0, 10.0},
                  {4, 0, 0, 0, 4.0, 10.0}, {9, 0, 0, 0, 1000.0, 1000.0}});
    CleaningSettings c = settings_for(1, 0.0, 5.0, 10.0);
    std::vector<GapViolation> found;
    SpanSums sums = fill_missing_runs(t.s, c, found);
    OxygenStatistics stats = compute_oxygen_statistics(t.s, c, sums);
    ASSERT_TRUE(stats.formed);
    EXPECT_EQ(stats.o21_sd, std::sqrt(5.0 / 3.0));
    EXPECT_EQ(stats.o22_sd, 0.0);
}

TEST(OxygenStatistics, FewerThanTwoInSpanSamplesReplaceNoOxygen) {
    for (double span_end : {1.5, 0.5}) {  // one in-span sample, then none
        TestSeries t({{1, 0, 0, 0, 500.0, 7.0}, {2, 0, 0, 0, 1.0, 7.0}, {3, 0, 0, 0, 1.0, 7.0}});
        CleaningSettings c = settings_for(1, 0.0, span_end, 10.0);
        c.mean_window_samples = 3;
        c.oxygen_sd_factor = 0.0;
        std::vector<GapViolation> found;
        SpanSums sums = fill_missing_runs(t.s, c, found);
        OxygenStatistics stats = compute_oxygen_statistics(t.s, c, sums);
        EXPECT_FALSE(stats.formed);
        compute_running_means(t.s, c);
        despiking_pass(t.s, c, stats);
        EXPECT_EQ(t.s.o21[1], 500.0) << span_end;
    }
}

TEST(RunningMeans, EveryPositionOfBothColumns) {
    // W = 4 over 1..6: 2, 2.5, 3.5, 4.5, 5, 5.5, whatever the span.
    std::vector<Sample> v;
    for (int i = 1; i <= 6; ++i) v.push_back({static_cast<double>(i), 0, 0, 0, double(i), 10.0 * i});
    TestSeries t(v, 99.0);
    CleaningSettings c = settings_for(4, 100.0, 200.0, 1.0);
    c.mean_window_samples = 4;
    compute_running_means(t.s, c);
    EXPECT_EQ(t.column(t.s.o21_mean), (std::vector<double>{2.0, 2.5, 3.5, 4.5, 5.0, 5.5}));
    EXPECT_EQ(t.column(t.s.o22_mean), (std::vector<double>{20.0, 25.0, 35.0, 45.0, 50.0, 55.0}));
}

// ---- despiking ----------------------------------------------------------------------

CleaningSettings spike_settings(std::int32_t rate, double limit) {
    CleaningSettings c = settings_for(rate, 0.0, 1000.0, 10.0);
    c.acceleration_limit = limit;
    c.iteration_count = 1;
    return c;
}

std::vector<Sample> velocity_series(const std::vector<double>& xs) {
    std::vector<Sample> out;
    for (std::size_t i = 0; i < xs.size(); ++i) out.push_back({1.0 + double(i), xs[i], 0, 0, 0, 0});
    return out;
}

TEST(Despiking, SixteenHertzLimitThreeExample) {
    // 0 -> 20 cm/s in one sample at 16 Hz is 0.2 * 16 = 3.2 m/s2 > 3.
    TestSeries t(velocity_series({0.0, 20.0, 0.0, 0.0}));
    EXPECT_EQ(despiking_pass(t.s, spike_settings(16, 3.0), {}), 1);
    EXPECT_EQ(t.column(t.s.x), (std::vector<double>{0.0, 0.0, 0.0, 0.0}));
}

TEST(Despiking, ChangeEqualToLimitIsKept) {
    const double a = std::fabs(0.0 / 100.0 - 20.0 / 100.0) * 16.0;
    {
        TestSeries t(velocity_series({0.0, 20.0, 20.0, 20.0}));
        EXPECT_EQ(despiking_pass(t.s, spike_settings(16, a), {}), 0);
        EXPECT_EQ(t.s.x[2], 20.0);
    }
    {
        TestSeries t(velocity_series({0.0, 20.0, 20.0, 20.0}));
        EXPECT_EQ(despiking_pass(t.s, spike_settings(16, std::nextafter(a, 0.0)), {}), 1);
        EXPECT_EQ(t.s.x[2], 10.0);
    }
}

TEST(Despiking, EachComponentOnItsOwnAndInPlace) {
    // x spikes at sample 2; y steps at sample 3; z is quiet.
    TestSeries t({{1, 0.0, 0.0, 5.0, 0, 0}, {2, 90.0, 0.0, 5.0, 0, 0}, {3, 0.0, 80.0, 5.0, 0, 0},
                  {4, 0.0, 80.0, 5.0, 0, 0}, {5, 0.0, 80.0, 5.0, 0, 0}});
    CleaningSettings c = spike_settings(1, 0.5);
    EXPECT_EQ(despiking_pass(t.s, c, {}), 2);
    EXPECT_EQ(t.column(t.s.x), (std::vector<double>{0.0, 0.0, 0.0, 0.0, 0.0}));
    // y[3] = (y2 + y4) / 2 = 40; the test at j = 3 then sees 40 -> 80: 0.4, kept.
    EXPECT_EQ(t.column(t.s.y), (std::vector<double>{0.0, 0.0, 40.0, 80.0, 80.0}));
    EXPECT_EQ(t.column(t.s.z), (std::vector<double>{5.0, 5.0, 5.0, 5.0, 5.0}));
}

TEST(Despiking, LastTwoSamplesStayInsideTheSeries) {
    // The guard slots hold a huge value: reading them would count a spike.
    TestSeries t(velocity_series({0.0, 0.0, 0.0, 70.0}), 1.0e6);
    EXPECT_EQ(despiking_pass(t.s, spike_settings(1, 0.5), {}), 1);
    // A spike at the last sample takes its only neighbour's value.
    EXPECT_EQ(t.s.x[4], 0.0);
    EXPECT_EQ(t.s.x[5], 1.0e6);
    EXPECT_EQ(t.s.x[6], 1.0e6);
    // A last sample alone in the span is never tested.
    TestSeries single(velocity_series({5.0}), 1.0e6);
    EXPECT_EQ(despiking_pass(single.s, spike_settings(1, 0.5), {}), 0);
    EXPECT_EQ(single.s.x[1], 5.0);
    EXPECT_EQ(single.s.x[2], 1.0e6);
}

TEST(Despiking, SampleAfterTheSpanIsReplaced) {
    TestSeries t(velocity_series({0.0, 0.0, 90.0, 0.0}));
    CleaningSettings c = spike_settings(1, 0.5);
    c.span_end_hours = 2.5;  // samples 1 and 2 in span
    EXPECT_EQ(despiking_pass(t.s, c, {}), 1);
    EXPECT_EQ(t.s.x[3], 0.0);
}

TEST(Despiking, OxygenDeviationEqualToLimitIsKept) {
    TestSeries t({{1, 0, 0, 0, 12.0, 12.0}, {2, 0, 0, 0, 12.0, 12.0}, {3, 0, 0, 0, 50.0, 50.0}});
    t.s.o21_mean[1] = 10.0;  // deviation 2 = 2 x 1: kept
    t.s.o21_mean[2] = std::nextafter(10.0, 0.0);  // just beyond: replaced
    t.s.o21_mean[3] = std::nan("");  // a NaN deviation is not within the limit
    for (int j = 1; j <= 3; ++j) t.s.o22_mean[j] = 12.0;
    CleaningSettings c = spike_settings(1, 1000.0);
    c.oxygen_sd_factor = 2.0;
    OxygenStatistics stats{true, 1.0, 0.0};
    EXPECT_EQ(despiking_pass(t.s, c, stats), 0);  // oxygen replacements are not counted
    EXPECT_EQ(t.s.o21[1], 12.0);
    EXPECT_EQ(t.s.o21[2], std::nextafter(10.0, 0.0));
    EXPECT_TRUE(std::isnan(t.s.o21[3]));
    EXPECT_EQ(t.s.o22[3], 12.0);
}

}  // namespace
}  // namespace flux
