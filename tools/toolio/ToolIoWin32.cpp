// SPDX-License-Identifier: MIT
#include "ToolIo.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace toolio {

void UseBinaryStandardStreams() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

// The name goes to the C runtime as the command line gave it, in the ANSI code page, the same
// way std::ifstream opens a file.
int OpenForReading(const std::string& path) {
    return _open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

} // namespace toolio
