#include "thinning.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using namespace flux_report;

namespace {

bool contains(const std::vector<PlotPoint>& points, double x, double y) {
    return std::any_of(points.begin(), points.end(), [&](const PlotPoint& p) { return p.x == x && p.y == y; });
}

}  // namespace

// Noise with single-sample spikes up and down: every column's lowest and
// highest sample, and the first and last sample, must survive, in order, with
// at most four points a column.
TEST(ColumnThinner, KeepsEveryColumnsExtremesInOrder) {
    constexpr long long ROWS = 100000, PER_COLUMN = 97;
    std::mt19937 random(11);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<double> y(ROWS);
    for (long long i = 0; i < ROWS; ++i) y[i] = std::sin(i * 1e-4) + 0.1 * noise(random);
    for (long long i : {5LL, 12345LL, 54321LL, 99998LL}) y[i] = 50.0;
    for (long long i : {777LL, 60000LL}) y[i] = -40.0;

    ColumnThinner thinner;
    for (long long i = 0; i < ROWS; ++i) thinner.add(i / PER_COLUMN, static_cast<double>(i), y[i]);
    std::vector<PlotPoint> kept = thinner.finish();

    long long columns = (ROWS + PER_COLUMN - 1) / PER_COLUMN;
    EXPECT_LE(static_cast<long long>(kept.size()), 4 * columns);
    EXPECT_GE(static_cast<long long>(kept.size()), 2 * columns - 1);
    for (long long c = 0; c < columns; ++c) {
        long long b = c * PER_COLUMN, e = std::min(ROWS, b + PER_COLUMN);
        auto lo = std::min_element(y.begin() + b, y.begin() + e) - y.begin();
        auto hi = std::max_element(y.begin() + b, y.begin() + e) - y.begin();
        ASSERT_TRUE(contains(kept, static_cast<double>(lo), y[lo])) << "column " << c << " lost its minimum";
        ASSERT_TRUE(contains(kept, static_cast<double>(hi), y[hi])) << "column " << c << " lost its maximum";
    }
    EXPECT_EQ(kept.front().x, 0.0);
    EXPECT_EQ(kept.back().x, static_cast<double>(ROWS - 1));
    for (std::size_t i = 1; i < kept.size(); ++i) ASSERT_LT(kept[i - 1].x, kept[i].x) << "order lost at " << i;
    for (long long spike : {5LL, 12345LL, 54321LL, 99998LL, 777LL, 60000LL})
        EXPECT_TRUE(contains(kept, static_cast<double>(spike), y[spike]));
}

// A column with nothing drawable breaks the curve; a value skipped inside a
// column that still has points does not, and no break is left at either end.
TEST(ColumnThinner, BreaksOnlyWhereAWholeColumnIsMissing) {
    ColumnThinner thinner;
    thinner.skip(0);  // leading gap: no break before the first point
    thinner.add(1, 1.0, 1.0);
    thinner.skip(1);
    thinner.add(1, 2.0, 2.0);
    thinner.skip(2);
    thinner.skip(3);
    thinner.add(4, 5.0, 5.0);
    thinner.add(5, 6.0, 6.0);
    thinner.cut();  // a cut inside a column splits it
    thinner.add(5, 7.0, 7.0);
    thinner.skip(6);  // trailing gap
    std::vector<PlotPoint> kept = thinner.finish();
    ASSERT_EQ(kept.size(), 7u);
    EXPECT_EQ(kept[0].x, 1.0);
    EXPECT_EQ(kept[1].x, 2.0);
    EXPECT_TRUE(is_break(kept[2]));
    EXPECT_EQ(kept[3].x, 5.0);
    EXPECT_EQ(kept[4].x, 6.0);
    EXPECT_TRUE(is_break(kept[5]));
    EXPECT_EQ(kept[6].x, 7.0);
}
