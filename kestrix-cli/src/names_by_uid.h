// The login names of the password database by uid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kestrix/core/system_users.h"

namespace kestrix::cli {

// A large server's database names a hundred thousand users: their names
// lie in one buffer and their index in one array sorted by uid, instead of
// a node and a string for every user.
class NamesByUid {
 public:
  NamesByUid() = default;
  // A later entry for the same uid wins.
  explicit NamesByUid(std::span<const core::RegularUser> users);
  NamesByUid(std::initializer_list<core::RegularUser> users)
      : NamesByUid(std::span(users.begin(), users.size())) {}

  // A view into the table.
  std::optional<std::string_view> find(std::uint32_t uid) const;
  std::size_t size() const { return slots_.size(); }
  bool empty() const { return slots_.empty(); }
  // Forgets the names of the uids below `uid_min`.
  void drop_below(std::uint32_t uid_min);
  // The same names for the same uids.
  bool operator==(const NamesByUid& other) const;

 private:
  struct Slot {
    std::uint32_t uid;
    std::uint32_t bytes;
    std::size_t at;
  };
  std::string_view name(const Slot& slot) const {
    return std::string_view(text_).substr(slot.at, slot.bytes);
  }

  std::vector<Slot> slots_;  // by uid, one per uid
  std::string text_;
};

}  // namespace kestrix::cli
