#include <fcntl.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cerrno>
#include <csignal>
#include <ctime>

#include "process_setup.h"

namespace zentavol {
namespace {

// Backlog blocks are this large (see byte_queue.h): from here on, glibc maps each allocation on
// its own and unmaps it when freed, instead of keeping freed heap for later.
constexpr int kMappedAllocationThreshold = 64 * 1024;

}  // namespace

void prepare_console() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);  // an append past a file size limit then fails with EFBIG
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            ::open("/dev/null", O_RDWR);  // takes the lowest free descriptor: this one
        }
    }
#if defined(__GLIBC__)
    // A fixed threshold also stops glibc from raising it after the first freed block.
    ::mallopt(M_MMAP_THRESHOLD, kMappedAllocationThreshold);
#endif
}

void pause_for(std::chrono::milliseconds duration) {
    timespec wake{};
    ::clock_gettime(CLOCK_MONOTONIC, &wake);
    const auto total_ns = duration.count() * 1'000'000LL + wake.tv_nsec;
    wake.tv_sec += static_cast<time_t>(total_ns / 1'000'000'000LL);
    wake.tv_nsec = static_cast<long>(total_ns % 1'000'000'000LL);
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR) {
    }
}

// clock_nanosleep to an absolute deadline is exact already.
PrecisePauses::PrecisePauses() = default;
PrecisePauses::~PrecisePauses() = default;

}  // namespace zentavol
