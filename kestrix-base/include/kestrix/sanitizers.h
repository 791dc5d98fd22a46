// KESTRIX_SANITIZED is 1 in builds under AddressSanitizer or
// ThreadSanitizer. GCC says so with macros of its own; clang only answers
// __has_feature, which GCC 12 does not have.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KESTRIX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KESTRIX_SANITIZED 1
#endif
#endif
#ifndef KESTRIX_SANITIZED
#define KESTRIX_SANITIZED 0
#endif
