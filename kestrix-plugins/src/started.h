// What starting a child and its readers gives back on failure: the system's
// errno, which tells a shortage of descriptors, processes or memory (worth
// waiting out while other calls of ours run) from a program that cannot run.
#pragma once

#include <cerrno>
#include <expected>

namespace kestrix::plugins {

template <class T>
using Started = std::expected<T, int>;

inline bool is_shortage(int err) {
  return err == EMFILE || err == ENFILE || err == EAGAIN || err == ENOMEM;
}

}  // namespace kestrix::plugins
