// Test fixture: one of the built programs, run as a user runs it, ended by the test by its pid.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace zentavol::test {

struct ChildOptions {
    std::vector<std::string> argv;
    std::filesystem::path cwd;
    std::filesystem::path stdout_path;  // standard output goes to this file ...
    int stdout_fd = -1;                 // ... or to this descriptor
    bool stdout_closed = false;         // ... or the program starts without one
    std::filesystem::path stderr_path;  // standard error goes to this file, or stays the test's
    long file_size_limit = -1;          // a soft RLIMIT_FSIZE in bytes (the hard one stays)
};

class ChildProcess {
  public:
    explicit ChildProcess(const ChildOptions& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    // The exit status, or nothing when the program is still running when the timeout runs out.
    std::optional<int> wait_exit(std::chrono::milliseconds timeout);
    // True when the program ended on this signal.
    bool ended_by_signal(int signal_number) const;
    bool running();
    void send_signal(int signal_number);
    // User and system CPU time used so far, all threads together.
    std::chrono::milliseconds cpu_time() const;
    // Context switches so far, all threads together: how often the program woke up.
    long wakeups() const;
    // The most memory the program has held at once (VmHWM).
    long peak_memory_kib() const;
    std::string output() const;  // what went to the stdout file

  private:
    pid_t pid_ = -1;
    std::optional<int> wait_status_;
    std::filesystem::path stdout_path_;
};

// Runs a program to its end and gives its status and its standard output.
struct RunResult {
    std::optional<int> status;
    std::string output;
    std::string errors;  // standard error, where stderr_path was not given
};
RunResult run_to_end(ChildOptions options, std::chrono::milliseconds timeout);

}  // namespace zentavol::test
