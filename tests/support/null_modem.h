// A virtual null modem: socat links two pseudo-terminals under names in a folder of the test's.
// Its far end can go away and come back under the same names.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "child_process.h"
#include "pty_pair.h"

namespace zentavol::test {

inline constexpr const char* kSocat = "/usr/bin/socat";

class NullModem {
  public:
    // Its names in a folder of its own, or in the given one (names that a program under test
    // may be told before they exist).
    NullModem();
    explicit NullModem(std::filesystem::path dir);
    ~NullModem();
    NullModem(const NullModem&) = delete;
    NullModem& operator=(const NullModem&) = delete;

    void start();
    void stop();
    std::string a() const { return (dir_ / "a").string(); }
    std::string b() const { return (dir_ / "b").string(); }
    // Writes into the far end, as a device on the other side of the line would.
    void send(std::string_view bytes) const;

  private:
    std::unique_ptr<TempDir> own_dir_;
    std::filesystem::path dir_;
    std::unique_ptr<ChildProcess> socat_;
};

}  // namespace zentavol::test
