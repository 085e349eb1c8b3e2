// SPDX-License-Identifier: MIT
#include "BoundedCall.h"

#include <set>

namespace bounded_call_detail {
namespace {

struct Registry {
    std::mutex mutex;
    std::set<std::string> running;
};

// Never destroyed: a call given up on may return while the process exits.
Registry& TheRegistry() {
    static auto* registry = new Registry;
    return *registry;
}

} // namespace

bool Begin(const std::string& key) {
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.mutex);
    return registry.running.insert(key).second;
}

void End(const std::string& key) {
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.mutex);
    registry.running.erase(key);
}

bool Running(const std::string& key) {
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.mutex);
    return registry.running.contains(key);
}

} // namespace bounded_call_detail
