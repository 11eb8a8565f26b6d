#pragma once

#include <sys/resource.h>

#include <csignal>

namespace vemlis::testing {

// Files may grow only to `bytes` in this process while it lives: writes beyond fail (EFBIG)
// as on a full disk, without a file system of that size.
class FileSizeLimit final {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &old);
        previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previous);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old{};
    void (*previous)(int) = nullptr;
};

}  // namespace vemlis::testing
