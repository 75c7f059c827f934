// Opens the report of a small run in headless Chromium, without network:
// the SVG must survive the browser's parsing, the page must log nothing to
// the console, and a screenshot is kept for a person to look at.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "report_runner.h"

using namespace report_test;

namespace {

std::string chromium_path() {
    const char* env = std::getenv("FLUX_REPORT_CHROMIUM");
    return env != nullptr && *env != '\0' ? env : "/usr/bin/chromium";
}

struct BrowserRun {
    int status;
    std::string out, err;
};

// One headless run with a fresh profile; `action` is --dump-dom or --screenshot=...
BrowserRun browse(const fs::path& scratch, const fs::path& page, const std::string& action,
                  const std::string& window = "") {
    fs::path profile = scratch / ("profile" + std::to_string(std::rand()));
    fs::create_directories(profile);
    std::string command = "timeout 120 '" + chromium_path() +
                          "' --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
                          " --disable-background-networking --disable-component-update --disable-sync"
                          " --user-data-dir='" + profile.string() + "' --enable-logging=stderr --v=0 " + action +
                          (window.empty() ? "" : " --window-size=" + window) + " 'file://" + page.string() + "' >'" +
                          (scratch / "browser.out").string() + "' 2>'" + (scratch / "browser.err").string() + "'";
    int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_file(scratch / "browser.out"),
            read_file(scratch / "browser.err")};
}

// Console messages of the page, one per line of the browser's log.
std::string console_lines(const std::string& log) {
    std::string found;
    std::size_t at = 0;
    while (at < log.size()) {
        std::size_t end = log.find('\n', at);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(at, end - at);
        if (line.find(":CONSOLE") != std::string::npos) found += line + "\n";
        at = end + 1;
    }
    return found;
}

std::uint32_t big_endian(const std::string& s, std::size_t at) {
    return (std::uint32_t(std::uint8_t(s[at])) << 24) | (std::uint32_t(std::uint8_t(s[at + 1])) << 16) |
           (std::uint32_t(std::uint8_t(s[at + 2])) << 8) | std::uint32_t(std::uint8_t(s[at + 3]));
}

}  // namespace

TEST(FluxReportBrowser, ChromiumDrawsTheReportWithoutConsoleErrors) {
    ASSERT_TRUE(fs::exists(chromium_path())) << chromium_path() << " is missing: apt-get install -y chromium";
    RunFolder folder("run_16hz");
    ASSERT_EQ(folder.run_report().status, 0);
    fs::path page = folder.run / "flux_report.html";

    // The console check itself must see errors: a page that logs one.
    write_file(folder.root / "noisy.html", "<!DOCTYPE html><html><body><script>console.error('noisy-page')</script>"
                                           "</body></html>");
    BrowserRun noisy = browse(folder.root, folder.root / "noisy.html", "--dump-dom");
    ASSERT_NE(console_lines(noisy.err).find("noisy-page"), std::string::npos)
        << "the browser's console log could not be read:\n" << noisy.err;

    BrowserRun dom = browse(folder.root, page, "--dump-dom");
    ASSERT_EQ(dom.status, 0) << dom.err;
    EXPECT_EQ(console_lines(dom.err), "");
    EXPECT_EQ(count_of(dom.out, "<svg class=\"panel\""), 4u);
    EXPECT_EQ(count_of(dom.out, "<path class=\"curve cospectrum\""), 18u);
    for (const char* element : {"<path class=\"curve flux-l\"", "<path class=\"band lin-band\"",
                                "<path class=\"curve cumflux\"", "<path class=\"curve cumflux-shift\"",
                                "<line class=\"window-mark\"", "<path class=\"curve speed\"", "id=\"summary\"",
                                "id=\"skipped-note\""})
        EXPECT_NE(dom.out.find(element), std::string::npos) << element;

    fs::path shot = FLUX_REPORT_SCREENSHOT;
    fs::remove(shot);
    BrowserRun picture = browse(folder.root, page, "--screenshot=" + shot.string(), "1280,2000");
    ASSERT_EQ(picture.status, 0) << picture.err;
    EXPECT_EQ(console_lines(picture.err), "");
    std::string png = read_file(shot);
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(big_endian(png, 16), 1280u);
    EXPECT_EQ(big_endian(png, 20), 2000u);
    // A blank page compresses to almost nothing; the drawn one does not.
    EXPECT_GT(png.size(), 50000u);
    std::printf("screenshot: %s\n", shot.string().c_str());
}
