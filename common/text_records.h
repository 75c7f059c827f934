// The text layer of both programs: fixed-width field layouts, how values are
// rendered into fields and read back, free-form sample reading, file opening,
// the console, and the one-line failure reports.
//
// Records written to files end with CR LF; console lines end with LF alone.
// A record read ends at LF (a CR right before it is dropped); a record made of
// byte 26 alone is the end of the file; an unterminated last line is not read.
//
// Rendering of Fw.d, worked examples (the exact binary value is rounded, ties
// away from zero):
//   0.125  F5.2 -> " 0.13"     2.675 F5.2 -> " 2.67" (stored slightly below)
//   -0.004 F5.2 -> " 0.00"     -0.005 F5.2 -> "-0.01"
//   0.5    F4.2 -> "0.50"      -0.5  F4.2 -> "-.50"    -0.5 F3.2 -> "***"
//   9.996  F5.2 -> "10.00"     NaN   F8.2 -> " NaN    " inf  F8.2 -> "********"
//
// Failures: every failure of opening, fixed-field reading, skipping a record
// or writing ends the process through fail_run (message on standard error,
// every completed record handed to the system first, exit status = message
// number). read_free returns ReadStatus::ended at the end of the data or at
// a value it cannot read; only a read the system fails is fatal (39).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace flux {

// ---- failure numbers -------------------------------------------------------
enum FailureNumber : int {
    FAIL_END_OF_FILE = 24,
    FAIL_NOT_FOUND = 29,
    FAIL_PERMISSION = 9,
    FAIL_NAME = 43,
    FAIL_NO_DEVICE = 42,
    FAIL_OPEN = 30,
    FAIL_CONVERSION = 64,
    FAIL_READ = 39,
    FAIL_WRITE = 38,
    FAIL_INVALID_CONFIGURATION = 78,
    FAIL_INTEGER_DIVIDE = 164,
};
constexpr int EXIT_DOMAIN_ERROR = 3;
constexpr int EXIT_INTERRUPT = 200;

// ---- process set-up ----------------------------------------------------------
// Names the program in failure lines and installs the console-interrupt
// handlers (SIGINT control-C, SIGQUIT control-BREAK, SIGHUP/SIGTERM menu-CLOSE).
void start_program(const char* tag);

// ---- layouts -------------------------------------------------------------------
enum class CodeKind : std::uint8_t { real, integer, text, skip, next_record, literal };

struct FieldCode {
    CodeKind kind;
    int width = 0;     // Fw.d, Iw, Aw: w; nX: n; n/: n
    int decimals = 0;  // Fw.d: d
    std::string literal;
};

// A parsed layout; repeat counts are expanded except for large runs of one
// data code, which are kept as a repeat so that "10000F9.4" stays small.
struct Layout {
    std::vector<FieldCode> codes;
    std::vector<int> repeat;  // parallel to codes
};

// Parses layout notation such as  1X,"ITERATION = ",I4,2X,I8  or  28/,23X,A20.
// Throws std::invalid_argument on a malformed layout (a programming error).
Layout parse_layout(std::string_view notation);

struct FieldValue {
    bool is_integer;
    double real;
    std::int32_t integer;
};
inline FieldValue real_value(double v) { return {false, v, 0}; }
inline FieldValue integer_value(std::int32_t v) { return {true, 0.0, v}; }

// ---- rendering -------------------------------------------------------------------
// Writes v as Fw.d into out[0..w). Exact for every double, 1 <= w, 0 <= d.
void render_fixed(char* out, double v, int w, int d);
// The same result by a plain decimal expansion of the exact value; slower.
void render_fixed_plain(char* out, double v, int w, int d);
// Writes v as Iw into out[0..w).
void render_integer(char* out, std::int64_t v, int w);

// ---- files -------------------------------------------------------------------------
struct InputFile {
    int fd = -1;
    int unit = 0;
    std::string path;  // full path, for messages
    std::vector<char> buffer;
    std::size_t begin = 0;  // first unread byte
    std::size_t end = 0;    // one past the last byte held
    bool at_eof = false;    // the system reported the end of the file
    bool read_error = false;
};

struct OutputFile;  // owned by the text layer; handles stay valid until exit

// Opens a file for reading; it must exist. The name is trimmed of blanks.
InputFile* open_existing(std::string_view name, int unit);
// Opens or creates a file for writing; an existing file keeps its contents
// until the first record is written, then holds only the new records.
OutputFile* open_for_writing(std::string_view name, int unit);
// The console (unit 6); its lines end with LF.
OutputFile* console();

// Full path of a name as a failure message shows it.
std::string full_path(std::string_view name);

// ---- fixed-field reading ---------------------------------------------------------
enum class TargetKind : std::uint8_t { real, single, integer, text };
struct FieldTarget {
    TargetKind kind;
    void* variable;
    int text_length = 0;
};
inline FieldTarget real_target(double& v) { return {TargetKind::real, &v, 0}; }
inline FieldTarget single_target(float& v) { return {TargetKind::single, &v, 0}; }
inline FieldTarget integer_target(std::int32_t& v) { return {TargetKind::integer, &v, 0}; }
inline FieldTarget text_target(std::string& v, int length) { return {TargetKind::text, &v, length}; }

// Reads records through the layout into the targets, in order. Fatal on
// the end of the file (24), a read error (39) or an unreadable field (64).
void read_fields(InputFile* file, const Layout& layout, const std::vector<FieldTarget>& targets);

// Parses one fixed field's text. Returns false on a conversion error.
bool parse_real_field(std::string_view field, int decimals, double& out);
bool parse_single_field(std::string_view field, int decimals, float& out);
bool parse_integer_field(std::string_view field, std::int32_t& out);

// ---- free-form reading --------------------------------------------------------------
enum class ReadStatus { ok, ended };
// One free-form read of count values into values[0..count). Null values leave
// their variable unchanged; a slash ends the read. Fatal only when the system
// fails a read (39); the end of the file and unreadable values give ended.
ReadStatus read_free(InputFile* file, double* values, int count);
// Reads and discards one record; fatal at the end of the file (24).
void skip_record(InputFile* file);

// ---- writing ------------------------------------------------------------------------
// Writes one record (or more, when values outrun the layout's data codes).
void write_fields(OutputFile* file, const Layout& layout, const FieldValue* values, std::size_t count);

struct FreeItem {
    bool is_integer;
    std::string_view text;
    std::int32_t integer;
};
inline FreeItem free_text(std::string_view t) { return {false, t, 0}; }
inline FreeItem free_integer(std::int32_t v) { return {true, {}, v}; }
void write_free(OutputFile* file, const std::vector<FreeItem>& items);

// Low-level record assembly for hot paths: reserve room for bytes, write them,
// then end the record. The record becomes visible to interrupts and failures
// only once it is ended.
char* record_space(OutputFile* file, std::size_t bytes);
void end_record(OutputFile* file, char* record_end);

// Hands every completed record of every open file to the operating system.
void flush_all();

// ---- console pause -------------------------------------------------------------------
// Prompts, reads a line; an empty line (or the end of standard input) goes on,
// any other line is run by the command interpreter and the prompt repeats.
void pause_for_user();

// ---- failures ---------------------------------------------------------------------------
// Writes "<tag>: severe (<number>): <text>" (with ", unit U, file P" when
// unit >= 0), flushes every file and exits with the number as status.
[[noreturn]] void fail_run(int number, std::string_view text, int unit, std::string_view path);
// Same for message 164 (no unit and file).
[[noreturn]] void fail_integer_divide();

// ---- runs inside another process -------------------------------------------------------
// Built with FLUX_RUNS_RETURN (the whole-program fuzz targets), a run's end
// throws RunEnded carrying the exit status instead of ending the process, so
// that a harness can drive thousands of runs a second. The normal build exits.
struct RunEnded {
    int status;
};
// Closes every file the text layer opened and frees its buffers, without
// writing anything; afterwards a new run can start in the same process.
void close_run_files();

// The three checked mathematical functions: a NaN argument, a square root of a
// value below zero, an arc cosine outside -1..1 end the run with status 3.
double checked_sqrt(double x);
double checked_acos(double x);
double checked_atan(double x);

}  // namespace flux
