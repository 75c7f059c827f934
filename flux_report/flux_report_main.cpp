// flux_report: run in the folder of a finished flux run, it reads the run's
// configuration, results table, cumulative flux files and cospectra and
// writes flux_report.html there, then prints the report's full path.
//
// A data file that is missing or cut short gets one line on standard error
// naming it, and the exit status is 1; the report is still written with
// whatever could be read. The input files are only read, never changed.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

#include "report_page.h"
#include "report_tables.h"
#include "run_configuration.h"
#include "text_records.h"

namespace {

constexpr const char* REPORT_FILE_NAME = "flux_report.html";
constexpr std::size_t CUMULATIVE_COLUMNS = 1000;  // drawing columns of a cumulative curve
constexpr int EXIT_INPUT_TROUBLE = 1;
constexpr int EXIT_REPORT_NOT_WRITTEN = 2;

std::string trimmed(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return std::string(s);
}

void error_line(const std::string& text) {
    std::string line = "flux_report: " + text + "\n";
    std::fputs(line.c_str(), stderr);
}

// Writes the page next to its final name and renames it, so an old report is
// never left half overwritten.
bool write_report(const std::string& html, std::string& failure) {
    std::string temporary = std::string(REPORT_FILE_NAME) + ".partial";
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        failure = flux::full_path(temporary) + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < html.size()) {
        ssize_t n = ::write(fd, html.data() + done, html.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failure = flux::full_path(temporary) + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(temporary.c_str());
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 || std::rename(temporary.c_str(), REPORT_FILE_NAME) != 0) {
        failure = flux::full_path(REPORT_FILE_NAME) + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main() {
    flux::start_program("flux_report");
    flux::FluxSettings settings;
    flux::read_run_configuration(settings);

    using namespace flux_report;
    ReportInput in;
    in.input_file_name = trimmed(settings.flux_input_file_name);
    in.results_file_name = trimmed(settings.results_file_name);
    in.sample_rate_hz = settings.sample_rate_hz;
    in.interval_seconds = settings.interval_seconds;
    in.running_window_seconds = settings.running_window_seconds;

    if (in.results_file_name.empty()) {
        in.results.file.name = "(results table)";
        in.results.file.path = flux::full_path(flux::CONFIGURATION_FILE_NAME);
        in.results.file.problem = "no results table is named in record 32 of ConfigTAVRIN.Dat";
    } else {
        in.results = read_results_table(in.results_file_name);
    }
    in.cumulative = read_cumulative("cumflux.out", CUMULATIVE_COLUMNS);
    in.cumulative_shift = read_cumulative("cumfluxSHIFT.out", CUMULATIVE_COLUMNS);
    in.cospectra = read_cospectra("Cospectra.out");

    // Every completed interval writes all its samples to cumflux.out before its
    // results row, so fewer rows than that mean the file was cut at a record end.
    long long samples = static_cast<long long>(std::trunc(in.sample_rate_hz)) * in.interval_seconds;
    long long expected_rows = samples * static_cast<long long>(in.results.rows.size());
    FileReport& cum = in.cumulative.file;
    if (cum.present && cum.problem.empty() && samples > 0 && cum.records < expected_rows)
        cum.problem = "cut short: " + std::to_string(cum.records) + " rows where the " +
                      std::to_string(in.results.rows.size()) + " intervals of the results table need " +
                      std::to_string(expected_rows);
    // Cospectra.out is written when the run ends: an empty one means the run
    // stopped early, and fewer columns than results rows mean the same.
    FileReport& co = in.cospectra.file;
    if (co.present && co.problem.empty() && in.cospectra.fluxes.size() < in.results.rows.size())
        co.problem = "cut short: " + std::to_string(in.cospectra.fluxes.size()) + " interval columns where the " +
                     "results table has " + std::to_string(in.results.rows.size()) + " intervals";

    std::string html = render_report(in);

    int status = 0;
    for (const FileReport* f : {&in.results.file, &in.cumulative.file, &in.cumulative_shift.file, &in.cospectra.file}) {
        if (f->problem.empty()) continue;
        error_line(f->path + ": " + f->problem);
        status = EXIT_INPUT_TROUBLE;
    }
    std::string failure;
    if (!write_report(html, failure)) {
        error_line("cannot write the report " + failure);
        return EXIT_REPORT_NOT_WRITTEN;
    }
    std::printf("%s\n", flux::full_path(REPORT_FILE_NAME).c_str());
    return status;
}
