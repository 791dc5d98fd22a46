#include "kestrix/plugins/arg_list.h"

namespace kestrix::plugins {

ArgList::ArgList(std::initializer_list<std::string_view> args) {
  for (const std::string_view arg : args) push_back(arg);
}

void ArgList::reserve(std::size_t args, std::size_t bytes) {
  starts_.reserve(args);
  bytes_.reserve(bytes);
}

void ArgList::push_back(std::string_view arg) {
  starts_.push_back(bytes_.size());
  bytes_ += arg;
  bytes_ += '\0';
}

void ArgList::append(const ArgList& other, std::size_t first, std::size_t count) {
  if (count == 0) return;
  const std::size_t from = other.starts_[first];
  const std::size_t to =
      first + count < other.starts_.size() ? other.starts_[first + count] : other.bytes_.size();
  starts_.reserve(starts_.size() + count);
  for (std::size_t i = first; i < first + count; ++i)
    starts_.push_back(bytes_.size() + other.starts_[i] - from);
  bytes_.append(other.bytes_, from, to - from);
}

void ArgList::prepend(const ArgList& front) {
  for (std::size_t& start : starts_) start += front.bytes_.size();
  starts_.insert(starts_.begin(), front.starts_.begin(), front.starts_.end());
  bytes_.insert(0, front.bytes_);
}

}  // namespace kestrix::plugins
