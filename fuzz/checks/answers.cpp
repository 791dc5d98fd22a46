// The typed JSON decoders (usage file, panel and warden helper answers)
// against a model built on the reference parser's value. For every input:
// either a value or a message whose position lies inside the input; a value
// only for JSON the reference parser accepts; and for texts without
// repeated keys, exactly the values the record rules give.
#include <algorithm>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "checks.h"
#include "kestrix/core/dbpeek.h"
#include "kestrix/json/record.h"
#include "arriving_panel_accounts.h"
#include "kestrix/pages.h"
#include "kestrix/plugins/pnx.h"
#include "kestrix/utf8.h"
#include "kestrix/plugins/ward_helper.h"
#include "oracle.h"

namespace kestrix::fuzz {
namespace {

using nlohmann::json;

// Whether the reference parser may judge the text, and its value when it
// can be compared member by member. Out-of-range numbers are refused by the
// reference parser but may pass inside skipped members here.
struct Judgement {
  bool judge = false;               // the text is one the reference can speak for
  bool well_formed = false;         // the reference parser accepts it
  std::optional<json> comparable;   // no repeated keys, not too deep
};

Judgement judge(std::string_view text) {
  Judgement j;
  if (!json_judgeable(text)) return j;
  auto generic = kestrix::json::decode<json>(text);
  if (!generic && generic.error().starts_with("number out of range")) return j;
  j.judge = true;
  j.well_formed = json::accept(text);
  // "-0" is read as the float -0.0, as serde-style decoders do, so it is no
  // integer here while the reference parser calls it one.
  if (j.well_formed && text.find("-0") == std::string_view::npos) {
    j.comparable = json_without_repeats(text);
    if (j.comparable && json_depth(*j.comparable) >= kestrix::json::MAX_DEPTH)
      j.comparable.reset();
  }
  return j;
}

// The common part of every decoder's verdict.
const char* common(const Judgement& j, bool accepted, std::string_view detail,
                   std::string_view text) {
  if (!accepted && !position_inside(detail, text)) return "error position outside the input";
  if (accepted && j.judge && !j.well_formed) return "decoded malformed JSON";
  return nullptr;
}

// A message "<prefix><reader message>[<suffix>]": the reader message, or
// nothing when the frame is wrong.
std::optional<std::string_view> framed(std::string_view message, std::string_view prefix,
                                       std::string_view suffix) {
  if (!message.starts_with(prefix) || !message.ends_with(suffix) ||
      message.size() < prefix.size() + suffix.size())
    return std::nullopt;
  return message.substr(prefix.size(), message.size() - prefix.size() - suffix.size());
}

// The reader's message inside "<prefix><message>: output=<excerpt>", where
// the excerpt is the answer's first 200 bytes, cut short (by three bytes at
// most) rather than split a character.
std::optional<std::string_view> framed_with_output(std::string_view message,
                                                   std::string_view prefix,
                                                   std::string_view text) {
  const std::size_t whole = std::min<std::size_t>(text.size(), 200);
  for (std::size_t cut = whole; cut + 3 >= whole && cut > 0; --cut)
    if (auto inner = framed(message, prefix, ": output=" + std::string(text.substr(0, cut))))
      return inner;
  return framed(message, prefix, ": output=");
}

// --- Record models: the expected value, or nothing when the rules refuse.

std::optional<double> number(const json& j) {
  if (!j.is_number()) return std::nullopt;
  return j.get<double>();
}

std::optional<std::int64_t> integer(const json& j) {
  if (!json_is_i64(j)) return std::nullopt;
  return j.get<std::int64_t>();
}

// Object members by name, or array elements by position; `names` in field
// order; `least` fields an array must give.
template <std::size_t N>
std::optional<std::array<const json*, N>> fields(const json& j,
                                                 const std::array<const char*, N>& names,
                                                 std::size_t least) {
  std::array<const json*, N> out{};
  if (j.is_object()) {
    for (std::size_t i = 0; i < N; ++i)
      if (auto it = j.find(names[i]); it != j.end()) out[i] = &*it;
  } else if (j.is_array()) {
    if (j.size() < least || j.size() > N) return std::nullopt;
    for (std::size_t i = 0; i < j.size(); ++i) out[i] = &j[i];
  } else {
    return std::nullopt;
  }
  return out;
}

std::optional<core::DbUsageTable> model_dbpeek(const json& top) {
  auto f = fields<1>(top, {"dbward_data"}, 0);
  if (!f) return std::nullopt;
  core::DbUsageTable table;
  if (!(*f)[0]) return table;
  if (!(*f)[0]->is_object()) return std::nullopt;
  for (const auto& [name, value] : (*f)[0]->items()) {
    auto s = fields<4>(value, {"cpu", "io", "cause_of_restrict", "time_of_restrict"}, 0);
    if (!s) return std::nullopt;
    core::DbWardStats stats;
    const auto& [cpu, io, cause, time] = *s;
    if (cpu && !number(*cpu)) return std::nullopt;
    if (io && !number(*io)) return std::nullopt;
    if (cause && !cause->is_string()) return std::nullopt;
    if (time && !integer(*time)) return std::nullopt;
    if (cpu) stats.cpu = *number(*cpu);
    if (io) stats.io = *number(*io);
    if (cause) stats.cause_of_restrict = cause->get<std::string>();
    if (time) stats.time_of_restrict = *integer(*time);
    table[name] = stats;
  }
  return table;
}

std::optional<plugins::WardLimitsMap> model_limits(const json& top) {
  if (!top.is_object()) return std::nullopt;
  plugins::WardLimitsMap map;
  for (const auto& [name, value] : top.items()) {
    auto s = fields<4>(value, {"cpu", "io", "error", "absent"}, 3);
    if (!s) return std::nullopt;
    plugins::WardLimits limits;
    const auto& [cpu, io, error, absent] = *s;
    for (auto [from, to] : {std::pair{cpu, &limits.cpu}, std::pair{io, &limits.io}}) {
      if (!from || from->is_null()) continue;
      if (!number(*from)) return std::nullopt;
      *to = *number(*from);
    }
    if (error && !error->is_null()) {
      if (!error->is_string()) return std::nullopt;
      limits.error = error->get<std::string>();
    }
    if (absent) {
      if (!absent->is_boolean()) return std::nullopt;
      limits.absent = absent->get<bool>();
    }
    map[name] = limits;
  }
  return map;
}

std::optional<std::vector<std::string>> model_names(const json& top) {
  if (!top.is_array()) return std::nullopt;
  std::vector<std::string> names;
  for (const auto& e : top) {
    if (!e.is_string()) return std::nullopt;
    names.push_back(e.get<std::string>());
  }
  return names;
}

std::optional<plugins::UserLookupResult> model_lookup(const json& top) {
  auto halves = fields<2>(top, {"users", "unresolved"}, 2);
  if (!halves || !(*halves)[0] || !(*halves)[1]) return std::nullopt;
  const json& users = *(*halves)[0];
  const json& unresolved = *(*halves)[1];
  if (!users.is_array() || !unresolved.is_array()) return std::nullopt;
  plugins::UserLookupResult out;
  for (const auto& u : users) {
    auto f = fields<7>(
        u, {"uid", "username", "email", "domain", "locale", "reseller", "display_name"}, 7);
    if (!f) return std::nullopt;
    for (const json* p : *f)
      if (!p) return std::nullopt;
    if (!integer(*(*f)[0])) return std::nullopt;
    for (std::size_t i = 1; i < 7; ++i)
      if (!(*f)[i]->is_string()) return std::nullopt;
    auto text = [&](std::size_t i) { return (*f)[i]->get<std::string>(); };
    out.users.push_back(plugins::UserInfo{*integer(*(*f)[0]), text(1), text(2), text(3), text(4),
                                          text(5), text(6)});
  }
  for (const auto& u : unresolved) {
    auto f = fields<2>(u, {"uid", "reason"}, 2);
    if (!f || !(*f)[0] || !(*f)[1] || !integer(*(*f)[0]) || !(*f)[1]->is_string())
      return std::nullopt;
    out.unresolved.push_back(plugins::UnresolvedUid{*integer(*(*f)[0]), (*f)[1]->get<std::string>()});
  }
  return out;
}

// --- Comparisons of decoded values with the model's.

bool same(const core::DbWardStats& a, const core::DbWardStats& b) {
  return same_double(a.cpu, b.cpu) && same_double(a.io, b.io) &&
         a.cause_of_restrict == b.cause_of_restrict && a.time_of_restrict == b.time_of_restrict;
}

bool same(const plugins::WardLimits& a, const plugins::WardLimits& b) {
  auto same_opt = [](const std::optional<double>& x, const std::optional<double>& y) {
    return x.has_value() == y.has_value() && (!x || same_double(*x, *y));
  };
  return same_opt(a.cpu, b.cpu) && same_opt(a.io, b.io) && a.error == b.error &&
         a.absent == b.absent;
}

template <class Map>
bool same_map(const Map& a, const Map& b) {
  if (a.size() != b.size()) return false;
  for (const auto& [k, v] : a) {
    auto it = b.find(k);
    if (it == b.end() || !same(v, it->second)) return false;
  }
  return true;
}

bool same(const plugins::UserLookupResult& a, const plugins::UserLookupResult& b) {
  if (a.users.size() != b.users.size() || a.unresolved.size() != b.unresolved.size()) return false;
  for (std::size_t i = 0; i < a.users.size(); ++i) {
    const auto &x = a.users[i], &y = b.users[i];
    if (x.uid != y.uid || x.username != y.username || x.email != y.email ||
        x.domain != y.domain || x.locale != y.locale || x.reseller != y.reseller ||
        x.display_name != y.display_name)
      return false;
  }
  for (std::size_t i = 0; i < a.unresolved.size(); ++i)
    if (a.unresolved[i].uid != b.unresolved[i].uid ||
        a.unresolved[i].reason != b.unresolved[i].reason)
      return false;
  return true;
}

// The verdict on one decoder: `got` its result, `detail` the reader's part
// of its message, `expected` the model's value.
template <class T, class Same>
const char* verdict(std::string_view text, const Judgement& j, const std::optional<T>& got,
                    std::string_view detail, const std::optional<T>& expected, Same&& same_value) {
  if (const char* why = common(j, got.has_value(), detail, text)) return why;
  if (!j.comparable) return nullptr;
  if (got.has_value() != expected.has_value())
    return got ? "accepted what the record rules refuse" : "refused what the record rules accept";
  if (got && !same_value(*got, *expected)) return "values differ from the record rules";
  return nullptr;
}

template <class T>
std::optional<T> value_of(auto&& result) {
  if (!result) return std::nullopt;
  return std::move(*result);
}

const char* check_name_list(std::string_view text, std::string_view request) {
  const Judgement j = judge(text);
  auto got = plugins::parse_name_list(text, request);
  std::string_view detail;
  if (!got) {
    auto inner = framed(got.error().message, "failed to parse " + std::string(request) + " JSON: ", "");
    if (!inner) return "message frame";
    detail = *inner;
  }
  std::optional<std::vector<std::string>> expected;
  if (j.comparable) expected = model_names(*j.comparable);
  return verdict(text, j, value_of<std::vector<std::string>>(got), detail, expected,
                 [](const auto& a, const auto& b) { return a == b; });
}

}  // namespace

const char* check_dbpeek_file(std::string_view text) {
  const Judgement j = judge(text);
  auto got = core::decode_dbpeek_file(text);
  if (!got && !core::parse_dbpeek_file(text).empty()) return "a refused file left entries";
  std::optional<core::DbUsageTable> expected;
  if (j.comparable) expected = model_dbpeek(*j.comparable);
  return verdict(text, j, value_of<core::DbUsageTable>(got), got ? "" : got.error(), expected,
                 [](const auto& a, const auto& b) { return same_map(a, b); });
}

const char* check_admins(std::string_view text) { return check_name_list(text, "admins"); }

const char* check_reseller_users(std::string_view text) {
  return check_name_list(text, "reseller-users");
}

namespace {

// Hands a text over a few bytes a read, the number taken from the text.
class ChunkedSource final : public plugins::ByteSource {
 public:
  explicit ChunkedSource(std::string_view text) : text_(text), chunk_(1 + text.size() % 7) {}
  std::size_t read(char* at, std::size_t room) override {
    const std::size_t n = std::min({chunk_, room, text_.size() - pos_});
    std::memcpy(at, text_.data() + pos_, n);
    pos_ += n;
    return n;
  }

 private:
  std::string_view text_;
  std::size_t chunk_;
  std::size_t pos_ = 0;
};

const char* check_arriving(std::string_view text,
                           const Result<plugins::PanelAccountsByUid>& whole) {
  auto space = ReservedBytes::reserve(text.size() + 4096);
  if (!space) return nullptr;
  ChunkedSource source(text);
  plugins::AnswerFeed feed(std::move(*space), source);
  auto got = plugins::decode_arriving_panel_accounts(feed, 16);
  const auto fault = utf8::first_fault(text);
  if (feed.too_large()) return "arriving answer too large";
  if (fault.has_value() != feed.utf8_fault().has_value() ||
      (fault && utf8::fault_text(*fault) != utf8::fault_text(*feed.utf8_fault())))
    return "arriving answer UTF-8 verdict";
  if (fault) return nullptr;
  if (got.has_value() != whole.has_value()) return "arriving answer verdict";
  if (got ? *got != *whole : got.error().message != whole.error().message)
    return "arriving answer differs";
  return nullptr;
}

}  // namespace

const char* check_user_info_sys(std::string_view text) {
  const Judgement j = judge(text);
  auto got = plugins::parse_user_lookup(text);
  std::string detail;
  if (!got) {
    auto inner =
        framed_with_output(got.error().message, "failed to parse user-info-sys JSON: ", text);
    if (!inner) return "message frame";
    detail = *inner;
  }
  // The run decodes the answer straight into its table: the same verdict,
  // the same message, and the table the whole records would give.
  auto table = plugins::parse_panel_accounts(text);
  if (table.has_value() != got.has_value()) return "panel table and records disagree";
  if (!table && table.error().message != got.error().message) return "panel table message";
  if (table) {
    std::map<std::uint32_t, std::pair<std::string, std::string>> from_records;
    for (const plugins::UserInfo& user : got->users)
      from_records.insert_or_assign(static_cast<std::uint32_t>(user.uid),
                                    std::pair(user.domain, user.reseller));
    if (table->size() != from_records.size()) return "panel table differs from the records";
    for (const auto& [uid, account] : from_records)
      if (table->find(uid) != plugins::PanelAccount{account.first, account.second})
        return "panel table differs from the records";
  }
  // The run decodes the answer as it arrives; reads of any size must give
  // the same verdict as the whole text.
  if (const char* fault = check_arriving(text, table)) return fault;
  std::optional<plugins::UserLookupResult> expected;
  if (j.comparable) expected = model_lookup(*j.comparable);
  return verdict(text, j, value_of<plugins::UserLookupResult>(got), detail, expected,
                 [](const auto& a, const auto& b) { return same(a, b); });
}

const char* check_limits(std::string_view text) {
  const Judgement j = judge(text);
  auto got = plugins::parse_ward_limits(text);
  std::string detail;
  if (!got) {
    auto inner =
        framed_with_output(got.error().message, "failed to parse ward-helper JSON: ", text);
    if (!inner) return "message frame";
    detail = *inner;
  }
  std::optional<plugins::WardLimitsMap> expected;
  if (j.comparable) expected = model_limits(*j.comparable);
  return verdict(text, j, value_of<plugins::WardLimitsMap>(got), detail, expected,
                 [](const auto& a, const auto& b) { return same_map(a, b); });
}

}  // namespace kestrix::fuzz
