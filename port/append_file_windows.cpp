#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>

#include "append_file.h"

namespace zentavol {

bool AppendFile::open(const char* name) {
    // Append access alone puts every write at the end, as "ab" does; readers may look meanwhile.
    const HANDLE file = ::CreateFileA(name, FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    handle_.reset(reinterpret_cast<NativeHandle>(file));
    return true;
}

std::size_t AppendFile::append(std::span<const std::uint8_t> bytes) {
    const auto file = reinterpret_cast<HANDLE>(handle_.get());
    std::size_t written = 0;
    while (written < bytes.size()) {
        DWORD count = 0;
        const auto chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - written, 1u << 30));
        if (::WriteFile(file, bytes.data() + written, chunk, &count, nullptr) == FALSE ||
            count == 0) {
            break;
        }
        written += count;
    }
    return written;
}

std::uint64_t AppendFile::size() const {
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(reinterpret_cast<HANDLE>(handle_.get()), &size) == FALSE) {
        return 0;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

}  // namespace zentavol
