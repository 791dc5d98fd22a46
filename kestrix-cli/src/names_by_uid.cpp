#include "names_by_uid.h"

#include <algorithm>

#include "kestrix/last_by_key.h"

namespace kestrix::cli {

NamesByUid::NamesByUid(std::span<const core::RegularUser> users) {
  std::size_t bytes = 0;
  for (const auto& user : users) bytes += user.name.size();
  text_.reserve(bytes);
  slots_.reserve(users.size());
  for (const auto& user : users) {
    slots_.push_back({user.uid, static_cast<std::uint32_t>(user.name.size()), text_.size()});
    text_ += user.name;
  }
  keep_last_by_key(slots_, [](const Slot& slot) { return slot.uid; });
}

std::optional<std::string_view> NamesByUid::find(std::uint32_t uid) const {
  const auto it = std::lower_bound(slots_.begin(), slots_.end(), uid,
                                   [](const Slot& s, std::uint32_t u) { return s.uid < u; });
  if (it == slots_.end() || it->uid != uid) return std::nullopt;
  return name(*it);
}

void NamesByUid::drop_below(std::uint32_t uid_min) {
  const auto first = std::lower_bound(slots_.begin(), slots_.end(), uid_min,
                                      [](const Slot& s, std::uint32_t u) { return s.uid < u; });
  slots_.erase(slots_.begin(), first);
}

bool NamesByUid::operator==(const NamesByUid& other) const {
  return std::equal(slots_.begin(), slots_.end(), other.slots_.begin(), other.slots_.end(),
                    [&](const Slot& a, const Slot& b) {
                      return a.uid == b.uid && name(a) == other.name(b);
                    });
}

}  // namespace kestrix::cli
