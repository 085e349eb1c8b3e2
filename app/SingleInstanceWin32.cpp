// SPDX-License-Identifier: MIT
#include "SingleInstance.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>
#include <windows.h>

namespace {

// The Local\ namespace is the user's logon session, so another user's copy never counts. The
// journal folder is hashed: object names may not hold backslashes, and Windows's paths ignore
// the case of ASCII letters.
std::string ObjectName(const char* kind, const std::string& key) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : key) {
        hash ^= static_cast<unsigned char>(c == '/' ? '\\' : std::tolower(c));
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return std::string("Local\\tavro-") + kind + "-" + text;
}

void CloseIfOpen(HANDLE& handle) {
    if (handle)
        CloseHandle(handle);
    handle = nullptr;
}

} // namespace

class TSingleInstance::Impl {
public:
    explicit Impl(const std::string& key) {
        claim = CreateMutexA(nullptr, FALSE, ObjectName("instance", key).c_str());
        if (!claim)
            return; // the system refused the name: run
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            first = false;
            CloseIfOpen(claim);
            AskFirstToRaise(ObjectName("raise", key));
            return;
        }
        // Auto-reset: one knock, one raise.
        knock = CreateEventA(nullptr, FALSE, FALSE, ObjectName("raise", key).c_str());
        stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (knock && stop)
            listener = std::thread([this] { Serve(); });
    }

    ~Impl() {
        if (stop)
            SetEvent(stop);
        if (listener.joinable())
            listener.join();
        CloseIfOpen(stop);
        CloseIfOpen(knock);
        CloseIfOpen(claim); // releases the claim
    }

    void SetRaise(std::function<void()> handler) {
        const std::lock_guard lock(mutex);
        raise = std::move(handler);
    }

    bool first = true;

private:
    // Sleeps until a later start knocks or the instance ends.
    void Serve() {
        const HANDLE events[2] = {stop, knock};
        while (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
            const std::lock_guard lock(mutex);
            if (raise)
                raise();
        }
    }

    // The first start makes its event just after its claim: a start that comes in between
    // tries for a moment before it gives up.
    static void AskFirstToRaise(const std::string& name) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            if (HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name.c_str())) {
                SetEvent(event);
                CloseHandle(event);
                return;
            }
            Sleep(50);
        }
    }

    HANDLE claim = nullptr;
    HANDLE knock = nullptr;
    HANDLE stop = nullptr;
    std::thread listener;
    std::mutex mutex;
    std::function<void()> raise;
};

TSingleInstance::TSingleInstance(const std::string& key) : impl(std::make_unique<Impl>(key)) {}

TSingleInstance::~TSingleInstance() = default;

bool TSingleInstance::IsFirst() const {
    return impl->first;
}

void TSingleInstance::OnRaise(std::function<void()> raise) {
    impl->SetRaise(std::move(raise));
}
