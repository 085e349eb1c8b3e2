// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

// For tests of the POSIX port, which play a USB adapter whose driver keeps close() waiting.
namespace comm_port_testing {
// `close` is called in place of close() for the descriptor of an open port that is being
// closed, on the thread that closes it, and returns what close() would (setting errno). An
// empty function brings close() back.
void SetCloseCall(std::function<int(int fd)> close);
} // namespace comm_port_testing
