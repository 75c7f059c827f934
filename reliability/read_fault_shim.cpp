/* Preloaded into a program under test: reads of the file whose name ends
 * with $READ_FAULT_NAME fail with EIO once the file offset reaches
 * $READ_FAULT_AFTER bytes (a read that would cross it is shortened to end
 * there), as a disk that fails in the middle of a file does. */
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

namespace {
int faulty(int fd) {
    const char* want = getenv("READ_FAULT_NAME");
    if (want == nullptr || *want == '\0') return 0;
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) return 0;
    path[n] = '\0';
    size_t lp = static_cast<size_t>(n), lw = strlen(want);
    return lp >= lw && strcmp(path + lp - lw, want) == 0;
}

}  // namespace

extern "C" ssize_t read(int fd, void* buf, size_t count) {
    static ssize_t (*real_read)(int, void*, size_t);
    if (real_read == nullptr) real_read = reinterpret_cast<ssize_t (*)(int, void*, size_t)>(dlsym(RTLD_NEXT, "read"));
    if (faulty(fd)) {
        const char* after = getenv("READ_FAULT_AFTER");
        off_t limit = after ? static_cast<off_t>(strtoll(after, nullptr, 10)) : 0;
        off_t pos = lseek(fd, 0, SEEK_CUR);
        if (pos >= limit) {
            errno = EIO;
            return -1;
        }
        if (pos + static_cast<off_t>(count) > limit) count = static_cast<size_t>(limit - pos);
    }
    return real_read(fd, buf, count);
}
