// SPDX-License-Identifier: MIT
#pragma once

// Qt is not built with ThreadSanitizer, so TSan cannot see the ordering that Qt's own locks
// give, for instance between posting an event in one thread and its delivery in another.
// These annotations state such an ordering where our code relies on it; they cost nothing in
// other builds.
#if defined(__SANITIZE_THREAD__)
#define TAVRO_TSAN_ANNOTATIONS 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TAVRO_TSAN_ANNOTATIONS 1
#endif
#endif

#ifdef TAVRO_TSAN_ANNOTATIONS
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
inline void AnnotateHappensBefore(void* addr) {
    __tsan_release(addr);
}
inline void AnnotateHappensAfter(void* addr) {
    __tsan_acquire(addr);
}
#else
inline void AnnotateHappensBefore(void*) {}
inline void AnnotateHappensAfter(void*) {}
#endif
