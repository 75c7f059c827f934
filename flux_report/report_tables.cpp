#include "report_tables.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "text_records.h"

namespace flux_report {

namespace {

constexpr double NOT_DRAWN = std::numeric_limits<double>::quiet_NaN();

constexpr std::size_t RESULTS_RECORD = 163;
constexpr std::size_t CUMULATIVE_RECORD = 65;
constexpr std::size_t COSPECTRA_LEAD = 10;  // blank + FREQ or frequency
constexpr std::size_t COSPECTRA_FIELD = 9;
// A step between cumulative rows this many times the smallest step seen is a
// gap in the record (the rows an interval's best shift drops stay well below).
constexpr double GAP_FACTOR = 1000.0;

void note_problem(FileReport& f, std::string text) {
    if (f.problem.empty()) f.problem = std::move(text);
}

// Opens the report's view of a file; false (with the problem noted) when it
// cannot be read at all.
bool opened(FileReport& f, const RecordScan& scan, bool ok) {
    if (!ok) {
        f.present = false;
        f.problem = std::string("cannot be opened: ") + std::strerror(scan.open_error);
        return false;
    }
    f.present = true;
    return true;
}

void note_scan_end(FileReport& f, const RecordScan& scan, bool had_heading) {
    if (scan.read_error) note_problem(f, "read error before its end");
    if (scan.unterminated_tail > 0)
        note_problem(f, "cut short: the last " + std::to_string(scan.unterminated_tail) +
                            " bytes are a record without its line end");
    if (!had_heading) note_problem(f, "empty: not even the heading record is there");
}

}  // namespace

Field parse_field(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && text[b] == ' ') ++b;
    while (e > b && text[e - 1] == ' ') --e;
    if (b == e) return {FieldKind::unreadable, 0.0};
    const char* first = text.data() + b;
    const char* last = text.data() + e;
    if (*first == '*') {
        const char* p = first;
        while (p < last && *p == '*') ++p;
        return {p == last ? FieldKind::overflow : FieldKind::unreadable, 0.0};
    }
    double v = 0.0;
    auto [ptr, ec] = std::from_chars(first, last, v);
    if (ec != std::errc() || ptr != last) return {FieldKind::unreadable, 0.0};
    if (!std::isfinite(v)) return {FieldKind::non_finite, 0.0};
    return {FieldKind::value, v};
}

double take_field(std::string_view record, std::size_t first, std::size_t last, SkipCounts& skipped) {
    Field f = parse_field(record.substr(first - 1, last - first + 1));
    switch (f.kind) {
    case FieldKind::value: return f.value;
    case FieldKind::overflow: ++skipped.overflow; break;
    case FieldKind::non_finite: ++skipped.non_finite; break;
    case FieldKind::unreadable: ++skipped.unreadable; break;
    }
    return NOT_DRAWN;
}

std::string full_path_of(const std::string& name) { return flux::full_path(name); }

// ---- the results table -------------------------------------------------------------------

ResultsTable read_results_table(const std::string& name) {
    ResultsTable t;
    t.file.name = name;
    t.file.path = full_path_of(name);
    RecordScan scan;
    bool had_heading = false;
    long record_number = 0;
    bool ok = scan_records(name, scan, [&](std::string_view r) {
        ++record_number;
        if (!had_heading) {
            had_heading = true;
            return true;
        }
        if (r.size() < RESULTS_RECORD)
            note_problem(t.file, "record " + std::to_string(record_number) + " holds " + std::to_string(r.size()) +
                                     " of its " + std::to_string(RESULTS_RECORD) + " characters");
        SkipCounts& s = t.file.skipped;
        // Fields that the damage cut off are left out, not counted as skipped.
        auto field = [&](std::size_t first, std::size_t last) {
            return last <= r.size() ? take_field(r, first, last, s) : NOT_DRAWN;
        };
        IntervalRow row{};
        row.time = field(1, 12);
        row.speed = field(46, 52);
        row.direction = field(62, 66);
        row.flux_linear = field(84, 91);
        row.flux_running = field(93, 100);
        row.lin_min = field(102, 109);
        row.run_min = field(111, 118);
        row.lin_max = field(120, 127);
        row.run_max = field(129, 136);
        t.rows.push_back(row);
        ++t.file.records;
        return true;
    });
    if (opened(t.file, scan, ok)) note_scan_end(t.file, scan, had_heading);
    return t;
}

// ---- Cospectra.out ---------------------------------------------------------------------------

Cospectra read_cospectra(const std::string& name) {
    Cospectra c;
    c.file.name = name;
    c.file.path = full_path_of(name);
    RecordScan scan;
    bool had_heading = false;
    std::size_t intervals = 0;
    long record_number = 0;
    bool ok = scan_records(name, scan, [&](std::string_view r) {
        ++record_number;
        SkipCounts& s = c.file.skipped;
        if (!had_heading) {
            had_heading = true;
            if (r.size() < COSPECTRA_LEAD || (r.size() - COSPECTRA_LEAD) % COSPECTRA_FIELD != 0)
                note_problem(c.file, "heading record has " + std::to_string(r.size()) +
                                         " characters, not 10 plus nine per interval");
            intervals = r.size() < COSPECTRA_LEAD ? 0 : (r.size() - COSPECTRA_LEAD) / COSPECTRA_FIELD;
            for (std::size_t k = 0; k < intervals; ++k) {
                std::size_t first = COSPECTRA_LEAD + 1 + k * COSPECTRA_FIELD;
                c.interval_times.push_back(take_field(r, first, first + COSPECTRA_FIELD - 1, s));
            }
            c.fluxes.resize(intervals);
            return true;
        }
        std::size_t expected = COSPECTRA_LEAD + intervals * COSPECTRA_FIELD;
        if (r.size() < expected)
            note_problem(c.file, "record " + std::to_string(record_number) + " holds " + std::to_string(r.size()) +
                                     " of its " + std::to_string(expected) + " characters");
        c.frequencies.push_back(r.size() >= COSPECTRA_LEAD ? take_field(r, 2, COSPECTRA_LEAD, s) : NOT_DRAWN);
        for (std::size_t k = 0; k < intervals; ++k) {
            std::size_t first = COSPECTRA_LEAD + 1 + k * COSPECTRA_FIELD;
            std::size_t last = first + COSPECTRA_FIELD - 1;
            c.fluxes[k].push_back(last <= r.size() ? take_field(r, first, last, s) : NOT_DRAWN);
        }
        ++c.file.records;
        return true;
    });
    if (opened(c.file, scan, ok)) note_scan_end(c.file, scan, had_heading);
    return c;
}

// ---- cumulative flux files ---------------------------------------------------------------------

CumulativeCurve read_cumulative(const std::string& name, std::size_t columns) {
    CumulativeCurve curve;
    curve.file.name = name;
    curve.file.path = full_path_of(name);
    RecordScan scan;
    bool had_heading = false;
    long long row = 0;
    long long rows_per_column = 1;
    long long file_size = -1;
    ColumnThinner thinner;
    SkipCounts& s = curve.file.skipped;
    double smallest_step = std::numeric_limits<double>::infinity();
    bool ok = scan_records(
        name, scan,
        [&](std::string_view r) {
            if (!had_heading) {
                had_heading = true;
                // Rows are of one length, so the file size tells how many there are.
                long long rows = file_size / static_cast<long long>(CUMULATIVE_RECORD + 2);
                long long per = (rows + static_cast<long long>(columns) - 1) / static_cast<long long>(columns);
                rows_per_column = per < 1 ? 1 : per;
                return true;
            }
            long long column = row / rows_per_column;
            ++row;
            if (r.size() < CUMULATIVE_RECORD)
                note_problem(curve.file, "record " + std::to_string(row + 1) + " holds " + std::to_string(r.size()) +
                                             " of its " + std::to_string(CUMULATIVE_RECORD) + " characters");
            double t = r.size() >= 13 ? take_field(r, 2, 13, s) : NOT_DRAWN;
            double cum = r.size() >= 26 ? take_field(r, 15, 26, s) : NOT_DRAWN;
            if (std::isnan(t) || std::isnan(cum)) {
                thinner.skip(column);
                return true;
            }
            // A time going backwards (the time column restarting, a stray
            // sample) or leaping far beyond the sample spacing is not joined.
            if (curve.has_values) {
                double step = t - curve.last_time;
                if (step > 0.0 && step < smallest_step) smallest_step = step;
                if (step < 0.0 || step > GAP_FACTOR * smallest_step) thinner.cut();
            }
            if (!curve.has_values) curve.first_time = t;
            curve.last_time = t;
            curve.has_values = true;
            thinner.add(column, t, cum);
            return true;
        },
        &file_size);
    curve.file.records = static_cast<long>(row);
    curve.points = thinner.finish();
    if (opened(curve.file, scan, ok)) note_scan_end(curve.file, scan, had_heading);
    return curve;
}

}  // namespace flux_report
