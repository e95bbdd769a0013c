// A small helper for the tests that run inside the emulated machine, linked statically:
//   probe mcr BASE             the UART's modem control register: "dtr=D rts=R"
//   probe lcr BASE             the UART's line control register and divisor latch:
//                              "lcr=0xNN divisor=N"
//   probe open-as UID PATH     opens PATH as that user: "ok" or the error's name
//   probe exec-default CMD...  runs CMD with Ctrl+C at its default, as from a terminal
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

int modem_control(const char* base_text) {
    const long base = std::strtol(base_text, nullptr, 0);
    const int port = ::open("/dev/port", O_RDONLY);
    unsigned char mcr = 0;
    if (port < 0 || ::pread(port, &mcr, 1, base + 4) != 1) {
        std::perror("/dev/port");
        return 1;
    }
    std::printf("dtr=%d rts=%d\n", mcr & 1, (mcr >> 1) & 1);
    return 0;
}

// The divisor latch shares its addresses with the data registers: it is read with the latch
// access bit set for the moment, and the line control register is put back as it was.
int line_control(const char* base_text) {
    const long base = std::strtol(base_text, nullptr, 0);
    const int port = ::open("/dev/port", O_RDWR);
    unsigned char lcr = 0;
    if (port < 0 || ::pread(port, &lcr, 1, base + 3) != 1) {
        std::perror("/dev/port");
        return 1;
    }
    const unsigned char latch = lcr | 0x80;
    unsigned char low = 0;
    unsigned char high = 0;
    const bool read = ::pwrite(port, &latch, 1, base + 3) == 1 &&
                      ::pread(port, &low, 1, base) == 1 && ::pread(port, &high, 1, base + 1) == 1;
    ::pwrite(port, &lcr, 1, base + 3);
    if (!read) {
        std::perror("divisor latch");
        return 1;
    }
    std::printf("lcr=0x%02x divisor=%d\n", lcr, low | (high << 8));
    return 0;
}

int open_as(const char* uid_text, const char* path) {
    const auto id = static_cast<uid_t>(std::strtoul(uid_text, nullptr, 10));
    if (::setgid(id) != 0 || ::setuid(id) != 0) {
        std::perror("setuid");
        return 1;
    }
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        std::puts(errno == EBUSY ? "EBUSY" : std::strerror(errno));
        return 0;
    }
    std::puts("ok");
    ::close(fd);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::string_view command = argc >= 2 ? argv[1] : "";
    if (command == "mcr" && argc == 3) {
        return modem_control(argv[2]);
    }
    if (command == "lcr" && argc == 3) {
        return line_control(argv[2]);
    }
    if (command == "open-as" && argc == 4) {
        return open_as(argv[2], argv[3]);
    }
    if (command == "exec-default" && argc >= 3) {
        std::signal(SIGINT, SIG_DFL);
        ::execvp(argv[2], argv + 2);
        std::perror(argv[2]);
        return 127;
    }
    std::fputs("usage: probe mcr BASE | lcr BASE | open-as UID PATH | exec-default CMD...\n",
               stderr);
    return 2;
}
