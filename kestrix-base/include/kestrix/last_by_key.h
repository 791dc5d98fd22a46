// Tables made from entries in order, in which a later entry for a key
// replaces an earlier one.
#pragma once

#include <algorithm>
#include <vector>

namespace kestrix {

// Orders `entries` by `key_of` and keeps, of the entries with one key, the
// one that came last. Entries already in key order, as most sources list
// them, are only checked.
template <class T, class KeyOf>
void keep_last_by_key(std::vector<T>& entries, KeyOf key_of) {
  const auto by_key = [&](const T& a, const T& b) { return key_of(a) < key_of(b); };
  if (!std::is_sorted(entries.begin(), entries.end(), by_key))
    std::stable_sort(entries.begin(), entries.end(), by_key);
  const auto last = std::unique(entries.rbegin(), entries.rend(),
                                [&](const T& a, const T& b) { return key_of(a) == key_of(b); });
  entries.erase(entries.begin(), last.base());
}

}  // namespace kestrix
