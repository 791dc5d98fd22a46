// What a report uses of the panel's account records: uid → domain and
// reseller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::plugins {

// An account's domain and reseller, views into the table that holds them.
struct PanelAccount {
  std::string_view domain;
  std::string_view reseller;
  bool operator==(const PanelAccount&) const = default;
};

// Keyed by the low 32 bits of the panel's uid, the width of a row's uid.
// The panel of a large server names a hundred thousand accounts: their text
// lies in one buffer and their index in one sorted array, instead of a node
// and a string or two for every account.
class PanelAccountsByUid {
 public:
  class Builder {
   public:
    // Room for `accounts` accounts with `text_bytes` of domains and
    // resellers between them.
    void reserve(std::size_t accounts, std::size_t text_bytes);
    // A later account for the same uid replaces the earlier one.
    void add(std::uint32_t uid, std::string_view domain, std::string_view reseller);
    PanelAccountsByUid build() &&;

   private:
    friend class PanelAccountsByUid;
    struct Slot {
      std::uint32_t uid;
      std::size_t at;  // the domain, the reseller right behind it
      std::size_t domain_bytes;
      std::size_t reseller_bytes;
    };
    std::vector<Slot> slots_;
    std::string text_;
  };

  std::optional<PanelAccount> find(std::uint32_t uid) const;
  std::size_t size() const { return slots_.size(); }
  bool empty() const { return slots_.empty(); }
  // Every account of `later` replaces ours for its uid.
  void merge(PanelAccountsByUid&& later);
  // The same accounts with the same texts.
  bool operator==(const PanelAccountsByUid& other) const;

 private:
  using Slot = Builder::Slot;
  PanelAccount account(const Slot& slot) const;

  std::vector<Slot> slots_;  // by uid, one per uid
  std::string text_;
};

}  // namespace kestrix::plugins
