// SPDX-License-Identifier: MIT
#include "BoundedCall.h"

#include <thread>

void bounded_call_detail::StartDetached(std::function<void()> body) {
    std::thread(std::move(body)).detach();
}
