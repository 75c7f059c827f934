#include "thinning.h"

#include <algorithm>
#include <cmath>

namespace flux_report {

bool is_break(const PlotPoint& p) { return std::isnan(p.x); }

void ColumnThinner::start_column(long long column) {
    if (column_open_ && column == column_) return;
    close_column();
    column_ = column;
    column_open_ = true;
    column_has_point_ = false;
    column_skipped_ = false;
}

void ColumnThinner::add(long long column, double x, double y) {
    start_column(column);
    Kept k{order_++, {x, y}};
    if (!column_has_point_) {
        first_ = last_ = low_ = high_ = k;
        column_has_point_ = true;
        return;
    }
    last_ = k;
    if (y < low_.point.y) low_ = k;
    if (y > high_.point.y) high_ = k;
}

void ColumnThinner::skip(long long column) {
    start_column(column);
    column_skipped_ = true;
}

void ColumnThinner::close_column() {
    if (!column_open_) return;
    column_open_ = false;
    if (!column_has_point_) {
        if (column_skipped_) cut();
        return;
    }
    Kept kept[4] = {first_, low_, high_, last_};
    std::sort(std::begin(kept), std::end(kept), [](const Kept& a, const Kept& b) { return a.order < b.order; });
    std::uint64_t previous = UINT64_MAX;
    for (const Kept& k : kept) {
        if (k.order == previous) continue;
        previous = k.order;
        out_.push_back(k.point);
    }
}

void ColumnThinner::cut() {
    close_column();
    if (!out_.empty() && !is_break(out_.back())) out_.push_back(BREAK_POINT);
}

std::vector<PlotPoint> ColumnThinner::finish() {
    close_column();
    while (!out_.empty() && is_break(out_.back())) out_.pop_back();
    return std::move(out_);
}

}  // namespace flux_report
