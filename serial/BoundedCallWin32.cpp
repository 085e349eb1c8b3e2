// SPDX-License-Identifier: MIT
#include "BoundedCall.h"

#include <windows.h>

#include <system_error>

namespace {

DWORD WINAPI RunBody(LPVOID parameter) {
    const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(parameter));
    (*body)();
    return 0;
}

} // namespace

// A thread of the system's own, not a detached std::thread: MinGW-w64's winpthreads (10.0, the
// cross compiler's) now and then loses a detached thread before it runs, or starts it with a
// null argument, when short-lived detached threads follow each other as the ports' opens do.
// The open then waits for a call that never comes, or the program crashes at start. Joined
// threads are not affected.
void bounded_call_detail::StartDetached(std::function<void()> body) {
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    const HANDLE thread = CreateThread(nullptr, 0, RunBody, owned.get(), 0, nullptr);
    if (thread == nullptr)
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), "CreateThread");
    owned.release();
    CloseHandle(thread);
}
