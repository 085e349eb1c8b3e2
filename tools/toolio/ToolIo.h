// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace toolio {

// Makes standard input and output carry bytes unchanged. Call first thing in main, before
// anything is read or written. On Windows the C runtime would otherwise write LF as CR LF,
// read CR LF as LF and stop reading at the first Ctrl+Z; reports, tables and captures must
// come out byte for byte as on Linux.
void UseBinaryStandardStreams();

// Opens a file for reading its bytes unchanged, not inherited by child processes. Returns a
// descriptor for read() and close(), or -1 with errno set.
int OpenForReading(const std::string& path);

} // namespace toolio
