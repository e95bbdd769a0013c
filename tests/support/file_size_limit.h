// A soft file size limit on the test process while it lives: appends past it fail with EFBIG.
#pragma once

#include <sys/resource.h>

#include <csignal>

namespace zentavol::test {

class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { lift(); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    void lift() { ::setrlimit(RLIMIT_FSIZE, &saved_); }

  private:
    rlimit saved_{};
};

}  // namespace zentavol::test
