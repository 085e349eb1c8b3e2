// SPDX-License-Identifier: MIT
#include "PortWatch.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

// Windows tells no device events to a program without a window of its own, so the ports are
// looked at again on a clock: every second, as the receiver always did. A port another program
// holds is tried at the next look too; an extra look at once would loop, as every look that
// finds it still held asks for another.
namespace {

constexpr auto rescanInterval = std::chrono::seconds(1);

} // namespace

struct TPortWatch::Impl {
    std::function<void()> changed;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;

    void Run() {
        std::unique_lock lock(mutex);
        while (!stopping) {
            if (wake.wait_for(lock, rescanInterval, [this] { return stopping; }))
                break;
            lock.unlock();
            changed();
            lock.lock();
        }
    }
};

TPortWatch::TPortWatch(const TPortRoots&, std::function<void()> changed) : impl(std::make_unique<Impl>()) {
    impl->changed = std::move(changed);
    impl->thread = std::thread([this] { impl->Run(); });
}

TPortWatch::~TPortWatch() {
    {
        std::lock_guard lock(impl->mutex);
        impl->stopping = true;
    }
    impl->wake.notify_all();
    impl->thread.join();
}

void TPortWatch::RetryLater() {}

bool TPortWatch::Watching() const {
    return false;
}
