// Rows are taken in one of three ways: by the skim when they have the
// daemon's own layout, by the full decoder otherwise, and in a large
// snapshot the second half of them on a thread of its own.
#include "snapshot_rows.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <list>
#include <optional>
#include <new>
#include <system_error>
#include <thread>

#include "kestrix/json/bytes.h"
#include "kestrix/json/record.h"
#include "kestrix/json/skim.h"
#include "kestrix/pages.h"

namespace kestrix::cli {

namespace kj = kestrix::json;

namespace {

double usage_figure(const TopUsage& usage, UsageKey key) {
  switch (key) {
    case UsageKey::Io: return usage.io.all;
    case UsageKey::Ep: return usage.ep;
    case UsageKey::Iops: return usage.iops;
    case UsageKey::Mem: return usage.mem;
    case UsageKey::Pno: return usage.pno;
    case UsageKey::None: return 0.0;
    case UsageKey::Cpu: break;
  }
  return usage.cpu.all;
}

// A name as bytes of its row's text. Names hold no escapes in practice,
// and then the decoded name stands in the text as it is; memmem takes time
// linear in the row whatever the bytes.
std::string_view name_in(std::string&& name, std::string_view text,
                         std::list<std::string>& spelled) {
  if (name.empty()) return {};
  if (const void* at = ::memmem(text.data(), text.size(), name.data(), name.size()))
    return {static_cast<const char*>(at), name.size()};
  return spelled.emplace_back(std::move(name));
}

// The daemon's own layout of a row, checked and taken in one pass: the
// tables' members in their order, "mysql" figures that are scalars,
// strings of ASCII without escapes. Any other row is left to the full
// decoder. Each table's closing brace is taken by the piece that follows.
[[gnu::always_inline]] inline bool skim_pair(kj::Skim& s, double* figure) {
  return s.f64(figure) && (!s.piece(",\"mysql\":") || s.scalar());
}

[[gnu::always_inline]] inline bool skim_figures(kj::Skim& s, UsageKey key, double& figure) {
  auto want = [&](UsageKey k) { return key == k ? &figure : nullptr; };
  return s.piece("{\"cpu\":{\"all\":") && skim_pair(s, want(UsageKey::Cpu)) &&
         s.piece("},\"io\":{\"all\":") && skim_pair(s, want(UsageKey::Io)) &&
         s.piece("},\"iops\":") && s.f64(want(UsageKey::Iops)) && s.piece(",\"ep\":") &&
         s.f64(want(UsageKey::Ep)) && s.piece(",\"mem\":") && s.f64(want(UsageKey::Mem)) &&
         s.piece(",\"pno\":") && s.f64(want(UsageKey::Pno)) && s.piece("}");
}

[[gnu::always_inline]] inline bool skim_restriction(kj::Skim& s) {
  return s.null() ||
         (s.piece("{\"time\":") && s.i64() && s.piece(",\"reason\":") && s.string() &&
          s.piece("}"));
}

[[gnu::always_inline]] inline bool skim_entry(kj::Skim& s, RowEntry& entry, UsageKey key) {
  double limit = 0.0;
  return s.piece("{\"id\":") && s.u32(entry.id) &&
         (!s.piece(",\"username\":") || s.string(entry.username)) &&
         (!s.piece(",\"domain\":") || s.string()) && (!s.piece(",\"reseller\":") || s.string()) &&
         s.piece(",\"usage\":") && skim_figures(s, key, entry.key) && s.piece(",\"limit\":") &&
         skim_figures(s, UsageKey::None, limit) && (!s.piece(",\"restricted\":") || s.boolean()) &&
         (!s.piece(",\"restriction\":") || skim_restriction(s)) && s.piece("}");
}

// Each row is decoded whole, so that its faults are found where they lie,
// and then dropped but for what the entry keeps.
bool read_entry(kj::Reader& r, RowEntry& entry, SavedTopData& data) {
  const std::size_t start = r.offset();
  if (data.decoding == RowDecoding::Fast) {
    kj::Skim s(r.text(), start, kj::detail::Run::Ascii);
    entry = RowEntry{};
    if (skim_entry(s, entry, data.key)) {
      entry.text = r.text().substr(start, s.offset() - start);
      r.step_over(s.offset());
      return true;
    }
  }
  data.all_skimmed = false;
  TopUser row;
  if (!read(r, row)) return false;
  std::string_view text = r.text().substr(start, r.offset() - start);
  text.remove_prefix(std::min(text.find_first_not_of(" \t\n\r"), text.size()));
  entry = RowEntry{text, row.id, name_in(std::move(row.username), text, data.spelled_names),
                   usage_figure(row.usage, data.key)};
  return true;
}



// Reading back from the end of a text. Inside a string every quote is
// escaped, so going back from outside strings, an unescaped quote closes a
// string and the next one back opens it.
std::size_t skip_ws_back(std::string_view text, std::size_t end) {
  while (end > 0 && kj::detail::is_ws(static_cast<unsigned char>(text[end - 1]))) --end;
  return end;
}

std::size_t opening_quote(std::string_view text, std::size_t closing) {
  for (std::size_t i = closing; i > 0;) {
    i = text.rfind('"', i - 1);
    if (i == std::string_view::npos) break;
    std::size_t slashes = 0;
    while (i > slashes && text[i - slashes - 1] == '\\') ++slashes;
    if (slashes % 2 == 0) return i;
  }
  return std::string_view::npos;
}

// The start of the value whose last byte is text[end - 1], or npos where
// the text is not JSON.
std::size_t value_start(std::string_view text, std::size_t end) {
  std::size_t depth = 0;
  for (std::size_t i = end; i > 0;) {
    const char c = text[--i];
    if (c == '"') {
      i = opening_quote(text, i);
      if (i == std::string_view::npos) break;
    } else if (c == '}' || c == ']') {
      ++depth;
    } else if (c == '{' || c == '[') {
      if (depth-- == 0) break;
    } else if (depth == 0) {
      while (i > 0 && std::strchr("+-.0123456789Eaeflnrstu", text[i - 1]) != nullptr) --i;
    }
    if (depth == 0) return i;
  }
  return std::string_view::npos;
}

}  // namespace

std::size_t rows_end(std::string_view text, std::size_t first) {
  std::size_t end = skip_ws_back(text, text.size());
  if (end == 0 || text[end - 1] != '}') return text.size();
  for (--end;; --end) {
    end = skip_ws_back(text, end);
    if (end <= first) break;
    if (text[end - 1] == ']') {
      const std::size_t last_end = skip_ws_back(text, end - 1);
      const std::size_t last = value_start(text, last_end);
      if (last != std::string_view::npos && last >= first &&
          decode_row(text.substr(last, last_end - last)))
        return end;
    }
    // Not the rows, or rows ending in a fault: a member further back.
    const std::size_t start = value_start(text, end);
    if (start == std::string_view::npos) break;
    if (start < first) return end;
    end = skip_ws_back(text, start);
    if (end == 0 || text[end - 1] != ':') break;
    end = skip_ws_back(text, end - 1);
    const std::size_t key = end > 0 && text[end - 1] == '"' ? opening_quote(text, end - 1)
                                                              : std::string_view::npos;
    if (key == std::string_view::npos) break;
    end = skip_ws_back(text, key);
    if (end == 0 || text[end - 1] != ',') break;
  }
  return text.size();
}

namespace {

// Where a row is likely to begin near the middle of what is left: a `{`
// behind the `}` and `,` of the row before. Text inside a string may look
// the same; then the guess is wrong, which only costs the work.
std::size_t guess_row_start(std::string_view text, std::size_t from) {
  const auto skip_ws = [&](std::size_t i) {
    while (i < text.size() && kj::detail::is_ws(static_cast<unsigned char>(text[i]))) ++i;
    return i;
  };
  for (std::size_t close = text.find('}', from); close != std::string_view::npos;
       close = text.find('}', close + 1)) {
    std::size_t i = skip_ws(close + 1);
    if (i >= text.size() || text[i] != ',') continue;
    i = skip_ws(i + 1);
    if (i < text.size() && text[i] == '{') return i;
  }
  return std::string_view::npos;
}

// The second half of a long row array, read on a thread of its own from a
// row start guessed near the middle. The guess is right exactly when the
// first half's reading arrives at that offset for its next row: the second
// half then holds what reading on would have given, rows or the first
// fault, and is taken over. Otherwise it is dropped, and the first half
// reads on alone.
class SecondHalf {
 public:
  // `r` stands at the first row. Nothing starts for a short array, where
  // no row start is found, or when no thread can be had.
  SecondHalf(const kj::Reader& r, const SavedTopData& data) {
    if (r.remaining() < data.halves_from) return;
    const std::size_t end = rows_end(r.text(), r.offset());
    if (end - r.offset() < data.halves_from) return;
    const std::size_t at = guess_row_start(r.text(), r.offset() + (end - r.offset()) / 2);
    if (at >= end) return;
    first_ = r.offset();
    end_ = end;
    start_ = at;
    reader_ = r.resumed_at(at);
    half_.key = data.key;
    half_.decoding = data.decoding;
    try {
      thread_ = std::thread([this] {
        read();
        done_.store(true, std::memory_order_release);
      });
    } catch (const std::system_error&) {
    }
  }
  SecondHalf(const SecondHalf&) = delete;
  SecondHalf& operator=(const SecondHalf&) = delete;
  ~SecondHalf() { drop(); }

  bool starts_at(std::size_t offset) const { return thread_.joinable() && offset == start_; }
  // The first half has read past the guess: it was wrong.
  void check_passed(std::size_t offset) {
    if (thread_.joinable() && offset > start_) drop();
  }

  // Takes the second half over at its start: its rows, and `r` on to the
  // end of the array; or its fault.
  bool take(kj::Reader& r, SavedTopData& data) {
    // While the second half is still being read, the memory its rows are
    // about to take behind ours is made ready, which the copy would
    // otherwise fault in page by page.
    if (!done_.load(std::memory_order_acquire)) make_room_ready(data.users);
    thread_.join();
    if (out_of_memory_) throw std::bad_alloc();
    if (!read_) return r.fail_as(reader_);
    data.users.insert(data.users.end(), std::make_move_iterator(half_.users.begin()),
                      std::make_move_iterator(half_.users.end()));
    data.spelled_names.splice(data.spelled_names.end(), half_.spelled_names);
    data.all_skimmed = data.all_skimmed && half_.all_skimmed;
    r.step_over(reader_.offset());
    return true;
  }

 private:
  void read() {
    try {
      kj::Reader::Step step = kj::Reader::Step::Failed;
      while (!dropped_.load(std::memory_order_relaxed) &&
             (step = reader_.next_element()) == kj::Reader::Step::More) {
        kj::make_room(half_.users, reader_.offset() - start_, reader_.remaining());
        if (!read_entry(reader_, half_.users.emplace_back(), half_)) return;
      }
      read_ = step == kj::Reader::Step::End;
    } catch (const std::bad_alloc&) {
      out_of_memory_ = true;
    } catch (const std::length_error&) {
      out_of_memory_ = true;
    }
  }

  // For as many rows as the second half holds at the first half's average
  // size, as far as the capacity goes.
  void make_room_ready(std::vector<RowEntry>& users) const {
    if (users.empty()) return;
    const std::size_t average = (start_ - first_) / users.size() + 1;
    const std::size_t rows = std::min((end_ - start_) / average, users.capacity() - users.size());
    prepare_pages(reinterpret_cast<char*>(users.data() + users.size()), rows * sizeof(RowEntry));
  }

  void drop() {
    if (!thread_.joinable()) return;
    dropped_.store(true, std::memory_order_relaxed);
    thread_.join();
  }

  std::size_t first_ = 0;  // the first half's first row
  std::size_t start_ = 0;
  std::size_t end_ = 0;  // where the rows are likely to end
  kj::Reader reader_{{}};
  SavedTopData half_;  // its rows, and the names spelled in them
  bool read_ = false;  // to the end of the array
  bool out_of_memory_ = false;
  std::atomic<bool> dropped_{false};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

}  // namespace

bool read_entries(kj::Reader& r, SavedTopData& data) {
  data.users.clear();
  data.all_skimmed = data.decoding == RowDecoding::Fast;
  const std::size_t start = r.offset();
  std::optional<SecondHalf> second;
  const bool read = kj::read_seq(r, [&](kj::Reader& rr) {
    if (!second) second.emplace(rr, data);
    if (second->starts_at(rr.offset())) return second->take(rr, data);
    second->check_passed(rr.offset());
    kj::make_room(data.users, rr.offset() - start, rr.remaining());
    return read_entry(rr, data.users.emplace_back(), data);
  });
  // Between the rows the array holds only white space and punctuation.
  if (read && data.all_skimmed) {
    data.ascii_begin = start;
    data.ascii_end = r.offset();
  }
  return read;
}

}  // namespace kestrix::cli
