#include "kestrix/plugins/panel_accounts.h"

#include <algorithm>
#include <utility>

#include "kestrix/last_by_key.h"

namespace kestrix::plugins {

void PanelAccountsByUid::Builder::reserve(std::size_t accounts, std::size_t text_bytes) {
  slots_.reserve(accounts);
  text_.reserve(text_bytes);
}

void PanelAccountsByUid::Builder::add(std::uint32_t uid, std::string_view domain,
                                      std::string_view reseller) {
  slots_.push_back({uid, text_.size(), domain.size(), reseller.size()});
  text_ += domain;
  text_ += reseller;
}

PanelAccountsByUid PanelAccountsByUid::Builder::build() && {
  keep_last_by_key(slots_, [](const Slot& slot) { return slot.uid; });
  PanelAccountsByUid table;
  table.slots_ = std::move(slots_);
  table.text_ = std::move(text_);
  return table;
}

PanelAccount PanelAccountsByUid::account(const Slot& slot) const {
  const std::string_view text = text_;
  return {text.substr(slot.at, slot.domain_bytes),
          text.substr(slot.at + slot.domain_bytes, slot.reseller_bytes)};
}

std::optional<PanelAccount> PanelAccountsByUid::find(std::uint32_t uid) const {
  const auto it = std::lower_bound(slots_.begin(), slots_.end(), uid,
                                   [](const Slot& s, std::uint32_t u) { return s.uid < u; });
  if (it == slots_.end() || it->uid != uid) return std::nullopt;
  return account(*it);
}

void PanelAccountsByUid::merge(PanelAccountsByUid&& later) {
  const std::size_t shift = text_.size();
  text_ += later.text_;
  std::vector<Slot> merged;
  merged.reserve(slots_.size() + later.slots_.size());
  auto ours = slots_.begin();
  for (Slot slot : later.slots_) {
    while (ours != slots_.end() && ours->uid < slot.uid) merged.push_back(*ours++);
    if (ours != slots_.end() && ours->uid == slot.uid) ++ours;
    slot.at += shift;
    merged.push_back(slot);
  }
  merged.insert(merged.end(), ours, slots_.end());
  slots_ = std::move(merged);
  later = {};
}

bool PanelAccountsByUid::operator==(const PanelAccountsByUid& other) const {
  return std::equal(slots_.begin(), slots_.end(), other.slots_.begin(), other.slots_.end(),
                    [&](const Slot& a, const Slot& b) {
                      return a.uid == b.uid && account(a) == other.account(b);
                    });
}

}  // namespace kestrix::plugins
