// Reading the flux program's output tables for the report: the results table,
// Cospectra.out and the two cumulative flux files. Every table is fixed-width,
// so values are taken from their columns; a field may hold asterisks (too wide
// for its field) or NaN / Infinity, and such values are skipped and counted,
// never turned into numbers. A missing or cut-short file is noted, and what
// was read before the damage is kept so the report can still draw it.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "thinning.h"

namespace flux_report {

// ---- fields ----------------------------------------------------------------------------
enum class FieldKind { value, overflow, non_finite, unreadable };

struct Field {
    FieldKind kind;
    double value;  // meaningful for FieldKind::value only
};

// Parses one fixed field (blanks around the number allowed).
Field parse_field(std::string_view text);

struct SkipCounts {
    long overflow = 0;    // asterisk fields
    long non_finite = 0;  // NaN, Infinity
    long unreadable = 0;  // blank or not a number
    long total() const { return overflow + non_finite + unreadable; }
};

// The value of columns [first, last] (1-based, inclusive) of a record, or NaN
// when the field is skipped (and then counted).
double take_field(std::string_view record, std::size_t first, std::size_t last, SkipCounts& skipped);

// ---- files -------------------------------------------------------------------------------
struct FileReport {
    std::string name;     // as configured or literal
    std::string path;     // full path, for messages
    bool present = false;
    std::string problem;  // empty when the file read whole and sound
    long records = 0;     // data records read (heading excluded)
    SkipCounts skipped;
};

std::string full_path_of(const std::string& name);

// Reads a file in large blocks and hands each complete record (line without
// its CR LF) to on_record. Returns false when the file cannot be opened (errno
// kept in open_error). A last line without a line end is reported through
// unterminated_tail and not handed over.
struct RecordScan {
    int open_error = 0;
    bool read_error = false;
    std::size_t unterminated_tail = 0;  // bytes after the last line end
    long long file_size = -1;
};

template <class OnRecord>
bool scan_records(const std::string& name, RecordScan& scan, OnRecord&& on_record, long long* size_hint = nullptr) {
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        scan.open_error = errno;
        return false;
    }
    {
        off_t size = ::lseek(fd, 0, SEEK_END);
        ::lseek(fd, 0, SEEK_SET);
        scan.file_size = size;
        if (size_hint != nullptr) *size_hint = size;
    }
    constexpr std::size_t BLOCK = std::size_t{8} << 20;
    std::vector<char> buffer(BLOCK + 4096);
    std::size_t held = 0;
    bool stop = false;
    while (!stop) {
        if (held == buffer.size()) buffer.resize(buffer.size() * 2);  // one huge line
        ssize_t got = ::read(fd, buffer.data() + held, buffer.size() - held);
        if (got < 0) {
            if (errno == EINTR) continue;
            scan.read_error = true;
            break;
        }
        if (got == 0) break;
        std::size_t end = held + static_cast<std::size_t>(got);
        const char* base = buffer.data();
        std::size_t begin = 0;
        while (begin < end) {
            const void* nl = std::memchr(base + begin, '\n', end - begin);
            if (nl == nullptr) break;
            std::size_t stop_at = static_cast<std::size_t>(static_cast<const char*>(nl) - base);
            std::size_t len = stop_at - begin;
            if (len > 0 && base[begin + len - 1] == '\r') --len;
            if (!on_record(std::string_view(base + begin, len))) {
                stop = true;
                break;
            }
            begin = stop_at + 1;
        }
        held = end - begin;
        if (held > 0 && begin > 0) std::memmove(buffer.data(), buffer.data() + begin, held);
    }
    if (!stop) scan.unterminated_tail = held;
    ::close(fd);
    return true;
}

// ---- the results table -------------------------------------------------------------------
// The values of one row that the report uses; NaN where the field was skipped.
struct IntervalRow {
    double time;          // hours
    double speed;         // MAG, cm/s
    double direction;     // DIR, degrees
    double flux_linear;   // FLUX-L, mmol m-2 d-1
    double flux_running;  // FLUX-R
    double lin_min, run_min, lin_max, run_max;
};

struct ResultsTable {
    FileReport file;
    std::vector<IntervalRow> rows;
};

ResultsTable read_results_table(const std::string& name);

// ---- Cospectra.out ---------------------------------------------------------------------------
struct Cospectra {
    FileReport file;
    std::vector<double> interval_times;      // column headings, hours (NaN when skipped)
    std::vector<double> frequencies;         // per row, Hz (NaN when skipped)
    std::vector<std::vector<double>> fluxes;  // [interval][row], NaN when skipped
};

Cospectra read_cospectra(const std::string& name);

// ---- cumulative flux files ---------------------------------------------------------------------
struct CumulativeCurve {
    FileReport file;
    std::vector<PlotPoint> points;  // thinned (time h, cumulative flux mmol m-2); NaN x = break
    double first_time = 0.0, last_time = 0.0;
    bool has_values = false;
};

// Reads TIME and CUMFLUX of every row, thinned to about `columns` drawing
// columns of consecutive rows.
CumulativeCurve read_cumulative(const std::string& name, std::size_t columns);

}  // namespace flux_report
