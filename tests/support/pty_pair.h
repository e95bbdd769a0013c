// Test fixtures: a pseudo-terminal pair standing in for a serial line, and a scratch folder.
#pragma once

#include <termios.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace zentavol::test {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Polls the condition every few milliseconds until it holds or the timeout runs out.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// Reads a whole file as bytes; empty when it is missing.
std::string file_bytes(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, std::string_view bytes);

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// The program under test opens the slave by its path; the test plays the far end on the master.
// The test keeps a slave descriptor of its own open so that the line outlives the program.
class PtyPair {
  public:
    enum class Start { kRaw, kTerminalDefaults };
    explicit PtyPair(Start start = Start::kRaw);
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& slave_path() const { return slave_path_; }
    int master() const { return master_; }
    int slave() const { return slave_; }

    void send(std::string_view bytes);  // into the program's port
    // As much of the bytes as the port takes within the time; gives how many it took.
    std::size_t send_for(std::string_view bytes, std::chrono::milliseconds timeout);
    // Everything that arrives at the far end until `count` bytes are in or the timeout runs out.
    std::string receive(std::size_t count, std::chrono::milliseconds timeout);
    // Everything that arrives within the given time.
    std::string receive_for(std::chrono::milliseconds duration);
    termios slave_termios() const;
    // Ends the far end: the program's side of the line hangs up.
    void hang_up();

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slave_path_;
};

// A pipe for a program's standard output, read by the test when it chooses to.
class Pipe {
  public:
    Pipe();
    ~Pipe();
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    int write_end() const { return write_end_; }
    void close_write_end();
    // Reads what comes until the condition holds for everything read so far, or the time runs
    // out; gives everything read so far.
    const std::string& read_until(const std::function<bool(const std::string&)>& done,
                                  std::chrono::milliseconds timeout);
    // Everything read so far, with what is waiting now.
    const std::string& read_available();

  private:
    int read_end_ = -1;
    int write_end_ = -1;
    std::string got_;
};

// The line settings that a configured port must show: 9600 bit/s, 8N1, XON/XOFF, raw.
bool carries_line_settings(const termios& tio);
// The line settings and the read timeouts that the POSIX backend gives a configured port.
bool is_configured_line(const termios& tio);

}  // namespace zentavol::test
