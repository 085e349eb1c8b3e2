// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>

// The user-interface thread is the thread that created the program's application object
// (TApplication over Qt, TWin32Application). Other threads reach it only through RunOnUiThread,
// which queues a call, has the toolkit wake that thread (UiThreadHost.h: an event or a message
// that the main loop and every nested loop deliver, modal dialogs included) and blocks until the
// call has run. The queue itself knows no toolkit.

// True on the user-interface thread; while no application object exists, on the program's main
// thread.
bool IsUiThread();

// Runs `call` on the user-interface thread and returns once it has returned. On that thread
// itself the call runs directly. Whatever `call` throws is rethrown here, in the caller's
// thread. Raises Exception when no TApplication exists, or when it is destroyed before it ran
// the call, rather than blocking for ever.
// A TThread body uses TThread::Synchronize instead: while the body waits there it counts as
// parked, so the user-interface thread can pause it without waiting for the call.
void RunOnUiThread(std::function<void()> call);

// Queues `call` to run on the user-interface thread and returns at once, for what must not keep
// the calling thread waiting (an error box that a receiver thread reports). On that thread itself
// it is queued all the same, to run from the event loop. Whatever `call` throws goes to the
// application-level handler. A call still queued when the application ends is dropped.
void PostToUiThread(std::function<void()> call);

// Runs the calls queued for the user-interface thread so far. User-interface thread only.
// Calls queued while it runs are left for the next round, so a thread that queues calls
// back to back cannot keep this from returning.
void ProcessPendingUiCalls();

// Number of calls whose threads wait for the user-interface thread (posted calls not counted).
std::size_t PendingUiCallCount();

// Waits on the user-interface thread until `ready` holds, running queued calls meanwhile, so a
// thread that is blocked in RunOnUiThread can go on to make `ready` true. `ready` is evaluated
// under the queue's lock and must only read (atomics, typically). Whoever makes it true must
// then call WakeUiThread. Returns whether `ready` held; false only when `deadline` passed.
bool WaitOnUiThreadUntil(const std::function<bool()>& ready,
                         std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);

// Wakes a WaitOnUiThreadUntil so that it evaluates its condition again.
void WakeUiThread();
