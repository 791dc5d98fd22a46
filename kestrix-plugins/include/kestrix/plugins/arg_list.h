// A helper's arguments, laid out as the kernel takes them: each argument's
// bytes and a NUL, one after another in one buffer. A list of a hundred
// thousand uids or names is then two allocations, not one per argument,
// and their offsets take four bytes each: no program can be given 4 GiB of
// arguments, and a list that grows beyond fails as out of memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::plugins {

class ArgList {
 public:
  ArgList() = default;
  ArgList(std::initializer_list<std::string_view> args);

  void reserve(std::size_t args, std::size_t bytes);
  void push_back(std::string_view arg);
  // A number as a helper takes it: in decimal.
  void push_decimal(std::int64_t number);
  // `count` arguments of `other` from its `first`.
  void append(const ArgList& other, std::size_t first, std::size_t count);
  // All of `front` before the arguments held.
  void prepend(const ArgList& front);

  std::size_t size() const { return starts_.size(); }
  bool empty() const { return starts_.empty(); }
  // An argument up to its NUL: what the helper receives of it.
  const char* c_str(std::size_t i) const { return bytes_.data() + starts_[i]; }
  // An argument as it was given, NULs within included.
  std::string_view operator[](std::size_t i) const {
    const std::size_t end = i + 1 < starts_.size() ? starts_[i + 1] : bytes_.size();
    return std::string_view(bytes_).substr(starts_[i], end - starts_[i] - 1);
  }

  bool operator==(const ArgList& other) const {
    return starts_ == other.starts_ && bytes_ == other.bytes_;
  }

 private:
  std::uint32_t next_start() const;

  std::string bytes_;
  std::vector<std::uint32_t> starts_;
};

}  // namespace kestrix::plugins
