// The port's fixed timeouts and driver queues, with the meaning of the Windows COMMTIMEOUTS record
// and SetupComm; the POSIX backend maps them onto termios and poll.
#pragma once

#include <cstdint>

namespace zentavol {

// In milliseconds: a read returns at once with whatever is waiting (up to the asked count), or
// after about one second with nothing; a write of n bytes may take at most 2*n ms.
inline constexpr std::uint32_t kReadIntervalTimeout = 0xFFFFFFFF;
inline constexpr std::uint32_t kReadTotalTimeoutMultiplier = 0;
inline constexpr std::uint32_t kReadTotalTimeoutConstant = 1000;
inline constexpr std::uint32_t kWriteTotalTimeoutMultiplier = 2;
inline constexpr std::uint32_t kWriteTotalTimeoutConstant = 0;

// The driver's input and output queues, where the platform lets a program size them: what the
// standard Windows serial driver uses.
inline constexpr std::uint32_t kInputQueueSize = 4096;
inline constexpr std::uint32_t kOutputQueueSize = 4096;

}  // namespace zentavol
