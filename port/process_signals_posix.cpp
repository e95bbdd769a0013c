#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "process_signals.h"

namespace zentavol {
namespace {

std::atomic<int> stop_signal{0};
std::atomic<bool> reopen_asked{false};
// The self-pipe: a handler writes a byte, and every wait of the program polls the read end.
int wake_read = -1;
int wake_write = -1;

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void on_signal(int signal) {
    const int saved_errno = errno;
    if (signal == SIGUSR1) {
        reopen_asked.store(true);
    } else {
        int none = 0;
        stop_signal.compare_exchange_strong(none, signal);
    }
    const char byte = 1;
    // A full pipe already wakes every wait.
    [[maybe_unused]] const auto ignored = ::write(wake_write, &byte, 1);
    errno = saved_errno;
}

// Empties the pipe once what it woke for is being looked at.
void drain_wake() {
    char bytes[64];
    while (::read(wake_read, bytes, sizeof bytes) > 0) {
    }
}

}  // namespace

void ProcessSignals::install() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;  // without it signals still end the program by their default actions
    }
    wake_read = ends[0];
    wake_write = ends[1];
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocked call returns and the loop looks
    for (const int signal : kStopSignals) {
        ::sigaction(signal, &action, nullptr);
    }
    ::sigaction(SIGUSR1, &action, nullptr);
}

int ProcessSignals::stop_requested() {
    return stop_signal.load();
}

bool ProcessSignals::take_reopen_request() {
    if (!reopen_asked.exchange(false)) {
        return false;
    }
    drain_wake();
    return true;
}

bool ProcessSignals::pending() {
    return stop_signal.load() != 0 || reopen_asked.load();
}

bool ProcessSignals::wait_for(std::chrono::milliseconds duration) {
    if (pending()) {
        return true;
    }
    pollfd wake{wake_read, POLLIN, 0};
    ::poll(&wake, wake_read < 0 ? 0 : 1, static_cast<int>(duration.count()));
    return pending();
}

NativeHandle ProcessSignals::wake_handle() {
    return wake_read;
}

void ProcessSignals::end_as_signalled(int signal) {
    std::signal(signal, SIG_DFL);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
    ::raise(signal);
    // Only if the default action let it live (a signal that is ignored by default).
    std::_Exit(128 + signal);  // cppcheck-suppress unreachableCode
}

}  // namespace zentavol
