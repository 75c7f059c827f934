// An InputFile over bytes held in an anonymous in-memory file, with a read
// buffer of a chosen size: small buffers drive the refill and grow paths that
// a 1 MB block never reaches on small inputs.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "text_records.h"

inline int memory_file_fd() {
    static int fd = [] {
        int f = memfd_create("fuzz_input", 0);
        if (f < 0) std::abort();
        return f;
    }();
    return fd;
}

inline void load_memory_input(flux::InputFile& f, const std::uint8_t* data, std::size_t size, std::size_t block) {
    int fd = memory_file_fd();
    if (ftruncate(fd, 0) != 0) std::abort();
    if (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    if (lseek(fd, 0, SEEK_SET) != 0) std::abort();
    f.fd = fd;
    f.unit = 8;
    f.path = "/fuzz/input";
    f.buffer.assign(block, 0);
    f.begin = f.end = 0;
    f.at_eof = f.read_error = false;
}

// The records as the reader must see them: ended at LF with a CR before it
// dropped; a record of byte 26 alone and an unterminated last line end the file.
inline std::vector<std::string_view> split_records(std::string_view s) {
    std::vector<std::string_view> out;
    std::size_t at = 0;
    for (;;) {
        std::size_t nl = s.find('\n', at);
        if (nl == std::string_view::npos) break;
        std::string_view r = s.substr(at, nl - at);
        if (!r.empty() && r.back() == '\r') r.remove_suffix(1);
        if (r == "\x1a") break;
        out.push_back(r);
        at = nl + 1;
    }
    return out;
}
