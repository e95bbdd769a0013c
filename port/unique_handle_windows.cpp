#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "unique_handle.h"

namespace zentavol {

void close_native_handle(NativeHandle handle) {
    ::CloseHandle(reinterpret_cast<HANDLE>(handle));
}

}  // namespace zentavol
