#include "child_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "pty_pair.h"

namespace zentavol::test {

namespace {

// Cross-built, the target's programs run through its emulator wherever a command names one
// (first, or after setpriv and the like).
constexpr const char* kEmulator = ZENTAVOL_EMULATOR;

bool is_program_under_test(const std::string& arg) {
    const auto name = std::filesystem::path(arg).filename();
    return name == "zentavol" || name == "zentavol-send" || name == "zentavol-show";
}

}  // namespace

ChildProcess::ChildProcess(const ChildOptions& options) : stdout_path_(options.stdout_path) {
    std::vector<char*> argv;
    for (const auto& arg : options.argv) {
        if (*kEmulator != '\0' && is_program_under_test(arg)) {
            argv.push_back(const_cast<char*>(kEmulator));
        }
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        // As from a terminal, whatever started the tests: a background job starts with Ctrl+C
        // ignored.
        std::signal(SIGINT, SIG_DFL);
        if (options.file_size_limit >= 0) {
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = static_cast<rlim_t>(options.file_size_limit);
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) {
            ::_exit(126);
        }
        const int null_fd = ::open("/dev/null", O_RDWR);
        ::dup2(null_fd, STDIN_FILENO);
        int out = options.stdout_fd;
        if (out < 0 && !options.stdout_path.empty()) {
            out = ::open(options.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        }
        ::dup2(out >= 0 ? out : null_fd, STDOUT_FILENO);
        if (options.stdout_closed) {
            ::close(STDOUT_FILENO);
        }
        if (!options.stderr_path.empty()) {
            const int err = ::open(options.stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            ::dup2(err, STDERR_FILENO);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
}

ChildProcess::~ChildProcess() {
    if (!wait_status_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

std::optional<int> ChildProcess::wait_exit(std::chrono::milliseconds timeout) {
    eventually([this] { return !running(); }, timeout);
    if (!wait_status_ || !WIFEXITED(*wait_status_)) {
        return std::nullopt;
    }
    return WEXITSTATUS(*wait_status_);
}

bool ChildProcess::ended_by_signal(int signal_number) const {
    return wait_status_ && WIFSIGNALED(*wait_status_) && WTERMSIG(*wait_status_) == signal_number;
}

bool ChildProcess::running() {
    if (wait_status_) {
        return false;
    }
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        wait_status_ = status;
        return false;
    }
    return true;
}

void ChildProcess::send_signal(int signal_number) {
    if (!wait_status_) {
        ::kill(pid_, signal_number);
    }
}

std::chrono::milliseconds ChildProcess::cpu_time() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string line;
    std::getline(stat, line);
    // Fields after the command name, which is in parentheses and may hold blanks.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14 || index == 15) {
            ticks += std::stol(field);
        }
    }
    return std::chrono::milliseconds(ticks * 1000 / ::sysconf(_SC_CLK_TCK));
}

namespace {

// A number from a /proc status file, or 0.
long status_field(const std::filesystem::path& status_file, const std::string& key) {
    std::ifstream status(status_file);
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(key + ":")) {
            return std::stol(line.substr(key.size() + 1));
        }
    }
    return 0;
}

}  // namespace

long ChildProcess::wakeups() const {
    long total = 0;
    std::error_code error;
    for (const auto& task :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/task", error)) {
        total += status_field(task.path() / "status", "voluntary_ctxt_switches") +
                 status_field(task.path() / "status", "nonvoluntary_ctxt_switches");
    }
    return total;
}

long ChildProcess::peak_memory_kib() const {
    return status_field("/proc/" + std::to_string(pid_) + "/status", "VmHWM");
}

std::string ChildProcess::output() const {
    return file_bytes(stdout_path_);
}

RunResult run_to_end(ChildOptions options, std::chrono::milliseconds timeout) {
    TempDir out_dir;
    if (options.stdout_path.empty() && options.stdout_fd < 0) {
        options.stdout_path = out_dir / "stdout";
    }
    const bool collect_errors = options.stderr_path.empty();
    if (collect_errors) {
        options.stderr_path = out_dir / "stderr";
    }
    ChildProcess child(options);
    RunResult result;
    result.status = child.wait_exit(timeout);
    result.output = child.output();
    if (collect_errors) {
        result.errors = file_bytes(options.stderr_path);
    }
    return result;
}

}  // namespace zentavol::test
