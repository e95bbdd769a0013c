#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "append_file.h"

namespace zentavol {

bool AppendFile::open(const char* name) {
    UniqueHandle file(::open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (!file.valid()) {
        return false;
    }
    handle_ = std::move(file);
    return true;
}

std::size_t AppendFile::append(std::span<const std::uint8_t> bytes) {
    const int fd = static_cast<int>(handle_.get());
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    return written;
}

std::uint64_t AppendFile::size() const {
    struct stat status {};
    if (::fstat(static_cast<int>(handle_.get()), &status) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(status.st_size);
}

}  // namespace zentavol
