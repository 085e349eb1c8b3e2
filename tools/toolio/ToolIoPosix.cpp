// SPDX-License-Identifier: MIT
#include "ToolIo.h"

#include <fcntl.h>

namespace toolio {

// POSIX streams have no text mode.
void UseBinaryStandardStreams() {}

int OpenForReading(const std::string& path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

} // namespace toolio
