#include "report_page.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace flux_report;

namespace {

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

ReportInput with_cospectra(std::size_t intervals) {
    ReportInput in;
    in.sample_rate_hz = 64.0;
    in.interval_seconds = 900;
    in.running_window_seconds = 2;
    constexpr int ROWS = 100;
    for (int m = 0; m < ROWS; ++m) in.cospectra.frequencies.push_back(32.0 * std::pow(0.9, m));
    for (std::size_t k = 0; k < intervals; ++k) {
        in.cospectra.interval_times.push_back(0.125 + 0.25 * k);
        std::vector<double> column;
        for (int m = 0; m < ROWS; ++m) column.push_back(-20.0 * m / ROWS + static_cast<double>((k * 7 + m) % 5));
        in.cospectra.fluxes.push_back(column);
    }
    return in;
}

}  // namespace

// Up to 300 intervals get one cospectrum curve each; more would swell the
// page, so their spread is drawn as bands around the median instead.
TEST(RenderReport, CospectraCurvesGiveWayToBandsForManyIntervals) {
    std::string few = render_report(with_cospectra(300));
    EXPECT_EQ(count_of(few, "<path class=\"curve cospectrum\""), 300u);
    EXPECT_EQ(count_of(few, "cospectrum-outer\" d="), 0u);
    EXPECT_EQ(count_of(few, "<path class=\"curve cospectrum-median\""), 1u);

    std::string many = render_report(with_cospectra(301));
    EXPECT_EQ(count_of(many, "<path class=\"curve cospectrum\""), 0u);
    EXPECT_EQ(count_of(many, "<path class=\"band cospectrum-outer\""), 1u);
    EXPECT_EQ(count_of(many, "<path class=\"band cospectrum-inner\""), 1u);
    EXPECT_EQ(count_of(many, "<path class=\"curve cospectrum-median\""), 1u);
    EXPECT_NE(many.find("301 intervals"), std::string::npos);
    EXPECT_LT(many.size(), few.size() / 10);
}

TEST(MeanAndError, SkipsNonFiniteValues) {
    MeanAndError m = mean_and_error({1.0, NAN, 3.0, INFINITY, 5.0});
    EXPECT_EQ(m.n, 3);
    EXPECT_DOUBLE_EQ(m.mean, 3.0);
    EXPECT_DOUBLE_EQ(m.standard_error, 2.0 / std::sqrt(3.0));
    EXPECT_EQ(mean_and_error({NAN}).n, 0);
    EXPECT_TRUE(std::isnan(mean_and_error({4.0}).standard_error));
}
