// SPDX-License-Identifier: MIT
#include "ApplicationCore.h"

#include "Exceptions.h"

#include <cstdio>

TApplicationCore* ApplicationCore = nullptr;

void CallGuarded(const std::function<void()>& call) {
    try {
        call();
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        if (ApplicationCore)
            ApplicationCore->ShowException(error);
        else
            std::fprintf(stderr, "%s\n", ExceptionMessage(error).c_str());
    }
}
