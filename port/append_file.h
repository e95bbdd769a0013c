// A file opened for appending whose writes report exactly how many bytes went in, so that what
// a failing disk did not take can be kept and tried again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "unique_handle.h"

namespace zentavol {

class AppendFile {
  public:
    // Opens the file for binary appending, created when missing, never truncated.
    bool open(const char* name);
    // Appends at the end of the file; gives the number of bytes that went in (fewer than asked
    // when the file refused the rest).
    std::size_t append(std::span<const std::uint8_t> bytes);
    // The file's size now; 0 when it cannot be told.
    std::uint64_t size() const;

  private:
    UniqueHandle handle_;
};

}  // namespace zentavol
