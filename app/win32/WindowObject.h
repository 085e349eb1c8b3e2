// SPDX-License-Identifier: MIT
#pragma once

#include <windows.h>

// The object behind a window that was created with the object as its creation parameter:
// from WM_NCCREATE on it sits in the window's user data, and its `handle` member names the
// window. Null for the few messages before WM_NCCREATE, and after the object let go.
template <class T>
T* WindowObject(HWND hwnd, UINT message, LPARAM lParam, HWND T::*handle) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<T*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        self->*handle = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    return reinterpret_cast<T*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}
