#include <unistd.h>

#include "unique_handle.h"

namespace zentavol {

void close_native_handle(NativeHandle handle) {
    ::close(static_cast<int>(handle));
}

}  // namespace zentavol
