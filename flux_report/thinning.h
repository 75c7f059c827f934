// Thinning a long curve for drawing without losing its shape: points arrive in
// order, each tagged with the drawing column it falls in; of every column only
// the first, lowest, highest and last point are kept, in their original order.
// A spike of one sample therefore still reaches its full height on the page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

namespace flux_report {

struct PlotPoint {
    double x;
    double y;
};

// A point with a NaN x separates two pieces of a curve that must not be joined.
inline constexpr PlotPoint BREAK_POINT{std::numeric_limits<double>::quiet_NaN(), 0.0};
bool is_break(const PlotPoint& p);

class ColumnThinner {
public:
    // Adds a drawable point; columns must not decrease.
    void add(long long column, double x, double y);
    // A value in this column could not be drawn. A column that ends with no
    // drawable point at all breaks the curve there.
    void skip(long long column);
    // The curve must not be joined across this point: what came before ends
    // here and what follows starts a new piece, even within one column.
    void cut();
    // Ends the last column and hands over the kept points.
    std::vector<PlotPoint> finish();

private:
    struct Kept {
        std::uint64_t order;
        PlotPoint point;
    };
    void start_column(long long column);
    void close_column();

    std::vector<PlotPoint> out_;
    long long column_ = std::numeric_limits<long long>::min();
    bool column_open_ = false;
    bool column_has_point_ = false;
    bool column_skipped_ = false;
    std::uint64_t order_ = 0;
    Kept first_{}, last_{}, low_{}, high_{};
};

}  // namespace flux_report
