#include "kestrix/plugins/arg_list.h"

#include <charconv>
#include <iterator>
#include <new>

namespace kestrix::plugins {

ArgList::ArgList(std::initializer_list<std::string_view> args) {
  for (const std::string_view arg : args) push_back(arg);
}

void ArgList::reserve(std::size_t args, std::size_t bytes) {
  starts_.reserve(args);
  bytes_.reserve(bytes);
}

std::uint32_t ArgList::next_start() const {
  if (bytes_.size() > UINT32_MAX) throw std::bad_alloc();
  return static_cast<std::uint32_t>(bytes_.size());
}

void ArgList::push_back(std::string_view arg) {
  starts_.push_back(next_start());
  bytes_ += arg;
  bytes_ += '\0';
}

void ArgList::push_decimal(std::int64_t number) {
  char digits[20];
  const auto end = std::to_chars(std::begin(digits), std::end(digits), number).ptr;
  push_back({digits, static_cast<std::size_t>(end - digits)});
}

void ArgList::append(const ArgList& other, std::size_t first, std::size_t count) {
  if (count == 0) return;
  const std::size_t from = other.starts_[first];
  const std::size_t to =
      first + count < other.starts_.size() ? other.starts_[first + count] : other.bytes_.size();
  const std::uint32_t at = next_start();
  if (to - from > UINT32_MAX - at) throw std::bad_alloc();
  starts_.reserve(starts_.size() + count);
  for (std::size_t i = first; i < first + count; ++i)
    starts_.push_back(static_cast<std::uint32_t>(at + other.starts_[i] - from));
  bytes_.append(other.bytes_, from, to - from);
}

void ArgList::prepend(const ArgList& front) {
  const std::uint32_t shift = front.next_start();
  if (bytes_.size() > UINT32_MAX - shift) throw std::bad_alloc();
  for (std::uint32_t& start : starts_) start += shift;
  starts_.insert(starts_.begin(), front.starts_.begin(), front.starts_.end());
  bytes_.insert(0, front.bytes_);
}

}  // namespace kestrix::plugins
