// A move-only owner of one operating-system handle (a descriptor on POSIX, a HANDLE on Windows),
// closed when its owner goes. Classes that hold one get their moves for free.
#pragma once

#include <cstdint>
#include <utility>

namespace zentavol {

// The platform's handle as an integer: a file descriptor, or a HANDLE's bits. -1 is "none" on
// both (INVALID_HANDLE_VALUE has all bits set).
using NativeHandle = std::intptr_t;
inline constexpr NativeHandle kNoHandle = -1;

// Closes a handle of this platform; defined by each backend.
void close_native_handle(NativeHandle handle);

class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(NativeHandle handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, kNoHandle)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.handle_, kNoHandle));
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    NativeHandle get() const { return handle_; }
    bool valid() const { return handle_ != kNoHandle; }
    // Closes what is held, then holds the given handle.
    void reset(NativeHandle handle = kNoHandle) {
        if (handle_ != kNoHandle) {
            close_native_handle(handle_);
        }
        handle_ = handle;
    }

  private:
    NativeHandle handle_ = kNoHandle;
};

}  // namespace zentavol
