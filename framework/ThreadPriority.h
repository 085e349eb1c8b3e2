// SPDX-License-Identifier: MIT
#pragma once

// Raises the calling thread's scheduling priority as far as the system allows without
// privileges; leaves it as it is when it cannot be raised. Never lowers it.
void RaiseCurrentThreadPriority();
