#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>
#include <csignal>

#include "process_signals.h"

namespace zentavol {
namespace {

std::atomic<int> stop_signal{0};
HANDLE wake_event = nullptr;
HANDLE main_thread = nullptr;
HANDLE ended_event = nullptr;
// How long a console event waits for the program to end cleanly before it lets Windows end it.
constexpr DWORD kCleanEndWait = 4000;

BOOL WINAPI on_console_event(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT &&
        event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT) {
        return FALSE;
    }
    int none = 0;
    // The console's events stand for the signals the POSIX build takes.
    stop_signal.compare_exchange_strong(none, event == CTRL_C_EVENT ? SIGINT : SIGTERM);
    ::SetEvent(wake_event);
    // The main thread may be blocked in a wait for the port: that wait is cancelled, and the
    // loop then finds the request.
    ::CancelSynchronousIo(main_thread);
    // Windows ends the process when this returns (for a closed console) or leaves it running
    // (Ctrl+C): either way, the program ends itself once it has stored what it holds.
    ::WaitForSingleObject(ended_event, kCleanEndWait);
    return TRUE;
}

}  // namespace

void ProcessSignals::install() {
    wake_event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ended_event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                      &main_thread, 0, FALSE, DUPLICATE_SAME_ACCESS);
    ::SetConsoleCtrlHandler(on_console_event, TRUE);
}

int ProcessSignals::stop_requested() {
    return stop_signal.load();
}

// Windows has no SIGUSR1; a capture file is rotated there by stopping and starting the program.
bool ProcessSignals::take_reopen_request() {
    return false;
}

bool ProcessSignals::pending() {
    return stop_signal.load() != 0;
}

bool ProcessSignals::wait_for(std::chrono::milliseconds duration) {
    if (pending()) {
        return true;
    }
    ::WaitForSingleObject(wake_event, static_cast<DWORD>(duration.count()));
    return pending();
}

NativeHandle ProcessSignals::wake_handle() {
    return reinterpret_cast<NativeHandle>(wake_event);
}

void ProcessSignals::end_as_signalled(int /*signal*/) {
    // What Windows' own handling of Ctrl+C ends a console program with.
    constexpr UINT kControlCExit = 0xC000013A;
    ::SetEvent(ended_event);
    ::ExitProcess(kControlCExit);
}

}  // namespace zentavol
