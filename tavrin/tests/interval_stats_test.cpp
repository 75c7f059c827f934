#include "interval_stats.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace flux;

TEST(Direction, Quadrants) {
    const struct { double x, y, dir; } cases[] = {
        {1, 1, 45.0},    {1, -1, 135.0},   {-1, -1, 225.0}, {-1, 1, 315.0},  {0, -1, 180.0},
        {1, 0, 90.0},    {-1, 0, 270.0},   {0, 1, 0.0},     {1e-9, 1, 5.729577951308233e-08},
    };
    for (const auto& c : cases) EXPECT_NEAR(direction_degrees(c.x, c.y), c.dir, 1e-12) << c.x << "," << c.y;
    // Just past +x toward -y, and its mirror, to one decimal as the row shows them.
    EXPECT_NEAR(direction_degrees(1.0, -0.01), 90.57, 0.01);
    EXPECT_NEAR(direction_degrees(-1.0, 0.01), 270.57, 0.01);
    EXPECT_TRUE(std::isnan(direction_degrees(0.0, 0.0)));
    EXPECT_TRUE(std::isnan(direction_degrees(-0.0, 0.0)));
}

TEST(IntervalStats, SpeedSpreadIsAboutTheMeanVector) {
    // Samples alternating (3, 4) and (-3, 4) cm/s: every speed is 5 cm/s,
    // but the spread is taken about the magnitude of the mean vector, 4 cm/s.
    IntervalSums sums;
    const double xs[4] = {0.03, -0.03, 0.03, -0.03};
    for (double x : xs) {
        sums.x += x;
        sums.y += 0.04;
    }
    IntervalStats s;
    form_interval_means(sums, 4, s);
    EXPECT_EQ(s.mean_x, 0.0);
    EXPECT_DOUBLE_EQ(s.mag, 0.04);
    EXPECT_EQ(s.dir, 0.0);
    for (int i = 0; i < 4; ++i) accumulate_deviations(s, 0.0, 0.05, 250.0);
    finish_variances(4, s);
    EXPECT_NEAR(std::sqrt(s.var_speed) * 100.0, std::sqrt(4.0 / 3.0), 1e-12);
    EXPECT_EQ(s.var_z, 0.0);
}
