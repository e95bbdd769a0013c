// Shared pieces of the tests that run the built programs.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bytes.h"
#include "child_process.h"
#include "pty_pair.h"

namespace zentavol::test {

inline constexpr const char* kReceiver = ZENTAVOL_RECEIVER;
inline constexpr const char* kSender = ZENTAVOL_SENDER;
inline constexpr const char* kShow = ZENTAVOL_SHOW;
inline constexpr const char* kAnnouncement = "result in zentavol.dat   Press CtrlC to break;\n";

// One record as it arrives at the far end, with the time its first byte came.
struct Arrival {
    std::string bytes;
    Clock::duration at;
};

// Collects what the far end receives until the sender ends; chunks that come closer together than
// half a second belong to one record.
inline std::vector<Arrival> arrivals_until_exit(PtyPair& line, ChildProcess& sender,
                                                std::chrono::seconds timeout) {
    std::vector<Arrival> arrivals;
    const auto start = Clock::now();
    auto last = start - 1h;
    while (sender.running() && Clock::now() - start < timeout) {
        const std::string chunk = line.receive_for(20ms);
        if (chunk.empty()) {
            continue;
        }
        const auto now = Clock::now();
        if (now - last > 500ms) {
            arrivals.push_back({"", now - start});
        }
        arrivals.back().bytes += chunk;
        last = now;
    }
    return arrivals;
}

inline std::vector<std::string> records_of(const std::vector<Arrival>& arrivals) {
    std::vector<std::string> records;
    records.reserve(arrivals.size());
    for (const auto& arrival : arrivals) {
        records.push_back(arrival.bytes);
    }
    return records;
}

inline double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// A receiver started in its own folder on a pty, waited for until it has configured the port.
class RunningReceiver {
  public:
    explicit RunningReceiver(const std::string& port, const std::filesystem::path& cwd,
                             PtyPair* line = nullptr)
        : cwd_(cwd),
          child_(ChildOptions{.argv = {kReceiver, port}, .cwd = cwd, .stdout_path = out_ / "out"}) {
        EXPECT_TRUE(eventually([&] { return output() == kAnnouncement; }, 5s)) << output();
        if (line != nullptr) {
            EXPECT_TRUE(eventually([&] { return is_configured_line(line->slave_termios()); }, 5s));
        }
    }
    std::string output() const { return child_.output(); }
    std::string echo() const { return output().substr(std::string(kAnnouncement).size()); }
    std::string capture() const { return file_bytes(cwd_ / "zentavol.dat"); }
    ChildProcess& process() { return child_; }

  private:
    TempDir out_;
    std::filesystem::path cwd_;
    ChildProcess child_;
};

}  // namespace zentavol::test
