// An InputFile over bytes held in an anonymous in-memory file, with a read
// buffer of a chosen size: small buffers drive the refill and grow paths that
// a 1 MB block never reaches on small inputs.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

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
