#include "kestrix/plugins/pnx.h"

#include "arg_batches.h"
#include "arriving_panel_accounts.h"
#include "helper_reading.h"
#include "kestrix/json/element_scan.h"
#include "kestrix/json/record.h"
#include "kestrix/json/skim.h"
#include "kestrix/pages.h"
#include "kestrix/plugins/helper_runner.h"

#include <new>
#include <optional>

namespace kestrix::plugins {

namespace kj = kestrix::json;

// Found by the list decoders through argument-dependent lookup.
bool read(kj::Reader& r, UserInfo& v) {
  static constexpr kj::RecordType<UserInfo, 7> type{
      "UserInfo",
      {{kj::field<&UserInfo::uid>("uid", kj::Need::Required),
        kj::field<&UserInfo::username>("username", kj::Need::Required),
        kj::field<&UserInfo::email>("email", kj::Need::Required),
        kj::field<&UserInfo::domain>("domain", kj::Need::Required),
        kj::field<&UserInfo::locale>("locale", kj::Need::Required),
        kj::field<&UserInfo::reseller>("reseller", kj::Need::Required),
        kj::field<&UserInfo::display_name>("display_name", kj::Need::Required)}}};
  return kj::read_record(r, type, v);
}

bool read(kj::Reader& r, UnresolvedUid& v) {
  static constexpr kj::RecordType<UnresolvedUid, 2> type{
      "UnresolvedUid",
      {{kj::field<&UnresolvedUid::uid>("uid", kj::Need::Required),
        kj::field<&UnresolvedUid::reason>("reason", kj::Need::Required)}}};
  return kj::read_record(r, type, v);
}

bool read(kj::Reader& r, UserLookupResult& v) {
  static constexpr kj::RecordType<UserLookupResult, 2> type{
      "UserLookupResult",
      {{kj::field<&UserLookupResult::users>("users", kj::Need::Required),
        kj::field<&UserLookupResult::unresolved>("unresolved", kj::Need::Required)}}};
  return kj::read_record(r, type, v);
}

namespace {

constexpr std::size_t OUTPUT_EXCERPT_BYTES = 200;

// The answer names every account of a large server. Its records are read
// one after another into the same scratch record, so the members nobody
// uses reuse one buffer each instead of costing an allocation per record;
// the record types, and with them the rules and messages, stay those of
// the full decode.
struct PanelAccountsField {
  PanelAccountsByUid::Builder* accounts;
  // The answer's own buffer when it may be given back as it is read.
  char* consumed = nullptr;
  // The answer as it arrives, when it is decoded that way, and the number of
  // accounts asked for.
  AnswerFeed* feed = nullptr;
  std::size_t asked = 0;
};

// The answer's first bytes stay for the excerpt of a failure message; after
// that the text read so far is given back in steps of this size.
constexpr std::size_t KEEP_BYTES = 4096;
constexpr std::size_t RELEASE_STEP = std::size_t{2} << 20;

struct UnresolvedField {};

// The member an answer usually begins with, and the one decoded as it arrives.
constexpr std::string_view USERS = "users";

struct PanelAnswer {
  PanelAccountsField users;
  UnresolvedField unresolved;
};

// What a report keeps of a record: its uid, domain and reseller.
struct AccountFields {
  std::int64_t uid = 0;
  std::string_view domain;
  std::string_view reseller;
};

// A record in the panel's own layout, checked and taken in one pass (see
// kestrix/json/skim.h); any other is left to the full decoder.
bool skim_account(kj::Skim& s, AccountFields& out) {
  return s.piece("{\"uid\":") && s.i64(&out.uid) && s.piece(",\"username\":") && s.string() &&
         s.piece(",\"email\":") && s.string() && s.piece(",\"domain\":") &&
         s.string(out.domain) && s.piece(",\"locale\":") && s.string() &&
         s.piece(",\"reseller\":") && s.string(out.reseller) && s.piece(",\"display_name\":") &&
         s.string() && s.piece("}");
}

bool read(kj::Reader& r, PanelAccountsField& v) {
  *v.accounts = {};
  UserInfo scratch;
  std::size_t records = 0;
  std::size_t text_bytes = 0;
  const std::size_t start = r.offset();
  std::size_t released = KEEP_BYTES;
  if (v.feed != nullptr) r.extend(v.feed->ensure(kj::ElementScan::array_start(r.offset())));
  return kj::read_seq(r, [&](kj::Reader& rr) {
    const auto add = [&](std::int64_t uid, std::string_view domain, std::string_view reseller) {
      text_bytes += domain.size() + reseller.size();
      v.accounts->add(static_cast<std::uint32_t>(uid), domain, reseller);
    };
    // Between records nothing refers to the text read so far: once its
    // lines are counted for the messages, its memory can go.
    if (v.consumed != nullptr && rr.offset() >= released + RELEASE_STEP) {
      rr.count_lines_to(rr.offset());
      if (v.feed != nullptr)
        v.feed->give_back(v.consumed + released, rr.offset() - released);
      else
        release_pages(v.consumed + released, rr.offset() - released);
      released = rr.offset();
    }
    // After a few records their average size in the text tells how many
    // more the answer can hold, and how much of it the table keeps. Of an
    // answer still arriving only the question tells how many may follow.
    if (++records == 16) {
      const std::size_t used = rr.offset() - start;
      const std::size_t more = v.feed != nullptr ? (v.asked > records ? v.asked - records : 0)
                                                 : rr.remaining() / (used / records + 1);
      v.accounts->reserve(records + more, text_bytes + more * (text_bytes / records + 1));
    }
    // A record that has already arrived whole needs no scan of its own; the
    // reader's next step needs what follows it.
    kj::Skim s(rr.text(), rr.offset());
    AccountFields account;
    if (skim_account(s, account)) {
      if (v.feed != nullptr) rr.extend(v.feed->ensure(kj::ElementScan::after_element(s.offset())));
      rr.step_over(s.offset());
      add(account.uid, account.domain, account.reseller);
      return true;
    }
    if (v.feed != nullptr) rr.extend(v.feed->ensure(kj::ElementScan::element(rr.offset())));
    if (!read(rr, scratch)) return false;
    add(scratch.uid, scratch.domain, scratch.reseller);
    return true;
  });
}

bool read(kj::Reader& r, UnresolvedField&) {
  UnresolvedUid scratch;
  return kj::read_seq(r, [&](kj::Reader& rr) { return read(rr, scratch); });
}

bool read(kj::Reader& r, PanelAnswer& v) {
  static constexpr kj::RecordType<PanelAnswer, 2> type{
      "UserLookupResult",
      {{kj::field<&PanelAnswer::users>(USERS, kj::Need::Required),
        kj::field<&PanelAnswer::unresolved>("unresolved", kj::Need::Required)}}};
  return kj::read_record(r, type, v);
}

Error user_lookup_failure(std::string_view answer, const std::string& reason) {
  return Error("failed to parse user-info-sys JSON: " + reason + ": output=" +
               std::string(excerpt(answer, OUTPUT_EXCERPT_BYTES)));
}

}  // namespace

Result<std::string> run_pnx_helper(const ArgList& args,
                                   const std::string& program) {
  auto text = run_helper(program, args, PNX_HELPER_TIMEOUT_SECS);
  if (!text) return std::unexpected(text.error().to_error());
  return std::move(*text);
}

Result<std::vector<std::string>> parse_name_list(std::string_view answer,
                                                 std::string_view request) {
  auto doc = kj::decode<std::vector<std::string>>(answer);
  if (!doc) return fail("failed to parse " + std::string(request) + " JSON: " + doc.error());
  return std::move(*doc);
}

Result<UserLookupResult> parse_user_lookup(std::string_view answer) {
  auto doc = kj::decode<UserLookupResult>(answer);
  if (!doc) return std::unexpected(user_lookup_failure(answer, doc.error()));
  return std::move(*doc);
}

namespace {
Result<PanelAccountsByUid> decode_panel_accounts(std::string_view answer, char* consumed) {
  PanelAccountsByUid::Builder accounts;
  auto doc = kj::decode<PanelAnswer>(answer, [&](kj::Reader& r, PanelAnswer& out) {
    out.users = {&accounts, consumed};
    return read(r, out);
  });
  if (!doc) return std::unexpected(user_lookup_failure(answer, doc.error()));
  return std::move(accounts).build();
}
}  // namespace

Result<PanelAccountsByUid> parse_panel_accounts(std::string_view answer) {
  return decode_panel_accounts(answer, nullptr);
}

Result<PanelAccountsByUid> take_panel_accounts(std::string answer) {
  return decode_panel_accounts(answer, answer.data());
}

Result<PanelAccountsByUid> decode_arriving_panel_accounts(AnswerFeed& feed, std::size_t asked) {
  PanelAccountsByUid::Builder accounts;
  auto doc = kj::decode<PanelAnswer>(
      feed.ensure(kj::ElementScan::record_start(0, USERS)), [&](kj::Reader& r, PanelAnswer& out) {
        out.users = {&accounts, feed.data(), &feed, asked};
        return read(r, out);
      });
  // Read to the end whatever the decode found: the checks of the whole
  // output come first. The message is made after, from the kept start, so
  // that it quotes the same bytes however the answer arrived.
  feed.finish(KEEP_BYTES);
  if (!doc)
    return std::unexpected(user_lookup_failure(feed.text().substr(0, KEEP_BYTES), doc.error()));
  return std::move(accounts).build();
}

namespace {

// Room for an answer of any size a server could hold; reserved, not had.
constexpr std::size_t ANSWER_SPACE = std::size_t{1} << 40;

// One run of user-info-sys. Its answer is decoded as it arrives, unless no
// space can be reserved for it: then it is read whole first.
Result<PanelAccountsByUid> ask_panel_accounts(const std::string& program, ArgList args) {
  auto space = ReservedBytes::reserve(ANSWER_SPACE);
  if (!space) {
    auto text = run_pnx_helper(args, program);
    args = ArgList();
    if (!text) return std::unexpected(text.error());
    return take_panel_accounts(std::move(*text));
  }
  std::optional<Result<PanelAccountsByUid>> decoded;
  const std::size_t asked = args.size() - 1;  // behind the request
  auto ran = run_helper_reading(
      program, std::move(args), PNX_HELPER_TIMEOUT_SECS, [&](ByteSource& out) {
        AnswerFeed feed(std::move(*space), out);
        decoded = decode_arriving_panel_accounts(feed, asked);
        return OutputVerdict{feed.too_large(), feed.utf8_fault()};
      });
  if (!ran) return std::unexpected(ran.error().to_error());
  // A reader that could not finish has failed the run as too large.
  if (!decoded)
    return std::unexpected(HelperError{HelperError::Kind::OutputTooLarge, program, {}}.to_error());
  return std::move(*decoded);
}

}  // namespace

// Exhaustion while building an answer fails the lookup like any other
// fault; no exception leaves the library.
Result<std::vector<std::string>> admins(const std::string& program) try {
  auto text = run_pnx_helper({"admins"}, program);
  if (!text) return std::unexpected(text.error());
  return parse_name_list(*text, "admins");
} catch (const std::bad_alloc&) {
  return fail("out of memory");
}

Result<std::vector<std::string>> reseller_users(const std::string& reseller,
                                                const std::string& program) try {
  auto text = run_pnx_helper({"reseller-users", reseller}, program);
  if (!text) return std::unexpected(text.error());
  return parse_name_list(*text, "reseller-users");
} catch (const std::bad_alloc&) {
  return fail("out of memory");
}

Result<PanelAccountsByUid> user_info_sys(std::vector<std::int64_t> uids,
                                         const std::string& program) try {
  ArgList numbers;
  numbers.reserve(uids.size() + 1, uids.size() * 8);  // and the request, in front
  for (const std::int64_t uid : uids) numbers.push_decimal(uid);
  std::vector<std::int64_t>().swap(uids);
  return user_info_sys(std::move(numbers), program);
} catch (const std::bad_alloc&) {
  return fail("out of memory");
}

Result<PanelAccountsByUid> user_info_sys(ArgList uids, const std::string& program) try {
  if (uids.empty()) return PanelAccountsByUid{};
  return run_in_batches<PanelAccountsByUid>(
      program, {"user-info-sys"}, std::move(uids),
      [&program](ArgList args) { return ask_panel_accounts(program, std::move(args)); },
      // Later batches answer later uids: their records win, as in one answer.
      [](PanelAccountsByUid& total, PanelAccountsByUid&& more) { total.merge(std::move(more)); });
} catch (const std::bad_alloc&) {
  return fail("out of memory");
}

}  // namespace kestrix::plugins
