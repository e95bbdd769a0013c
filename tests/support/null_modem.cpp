#include "null_modem.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>

namespace zentavol::test {

NullModem::NullModem() : own_dir_(std::make_unique<TempDir>()), dir_(own_dir_->path()) {
    start();
}

NullModem::NullModem(std::filesystem::path dir) : dir_(std::move(dir)) {
    start();
}

NullModem::~NullModem() = default;

void NullModem::start() {
    socat_ = std::make_unique<ChildProcess>(
        ChildOptions{.argv = {kSocat, "pty,raw,echo=0,link=" + a(), "pty,raw,echo=0,link=" + b()}});
    EXPECT_TRUE(eventually(
        [&] { return std::filesystem::exists(a()) && std::filesystem::exists(b()); }, 5s))
        << "socat made no ptys";
}

void NullModem::stop() {
    socat_->send_signal(SIGTERM);
    EXPECT_TRUE(socat_->wait_exit(5s).has_value());
    socat_.reset();
}

void NullModem::send(std::string_view bytes) const {
    const int fd = ::open(b().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

}  // namespace zentavol::test
