// The signals that end the receiver (SIGINT, SIGTERM, SIGHUP; on Windows Ctrl+C, Ctrl+Break and
// the console being closed) or ask it to reopen its files (SIGUSR1), turned into flags that its
// loop looks at, and a wake-up for whatever it is waiting in.
#pragma once

#include <chrono>

#include "unique_handle.h"

namespace zentavol {

class ProcessSignals {
  public:
    // Takes the signals over from their default actions; the wake-up handle is then open.
    static void install();
    // The signal that asked the program to end, or 0.
    static int stop_requested();
    // True once after each SIGUSR1.
    static bool take_reopen_request();
    // Anything asked for and not yet taken: the loop is to look at the flags.
    static bool pending();
    // Sleeps for the duration, or until a signal comes; true when one came.
    static bool wait_for(std::chrono::milliseconds duration);
    // Readable while a signal is pending (POSIX; on Windows waits are cancelled instead). Read
    // by the port's waits beside the port itself.
    static NativeHandle wake_handle();
    // Ends the program as the signal would have: POSIX restores the default action and raises
    // it again, so that shells and service managers see what they expect.
    [[noreturn]] static void end_as_signalled(int signal);
};

}  // namespace zentavol
