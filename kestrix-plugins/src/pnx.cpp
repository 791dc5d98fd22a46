#include "kestrix/plugins/pnx.h"

#include "arg_batches.h"
#include "kestrix/json/record.h"
#include "kestrix/plugins/helper_runner.h"

#include <new>

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
}  // namespace

Result<std::string> run_pnx_helper(const std::vector<std::string>& args,
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
  if (!doc)
    return fail("failed to parse user-info-sys JSON: " + doc.error() + ": output=" +
                std::string(excerpt(answer, OUTPUT_EXCERPT_BYTES)));
  return std::move(*doc);
}

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

Result<UserLookupResult> user_info_sys(const std::vector<std::int64_t>& uids,
                                       const std::string& program) try {
  if (uids.empty()) return UserLookupResult{};
  std::vector<std::string> numbers;
  numbers.reserve(uids.size());
  for (const std::int64_t uid : uids) numbers.push_back(std::to_string(uid));
  return run_in_batches<UserLookupResult>(
      program, {"user-info-sys"}, numbers,
      [&program](const std::vector<std::string>& args) -> Result<UserLookupResult> {
        auto text = run_pnx_helper(args, program);
        if (!text) return std::unexpected(text.error());
        return parse_user_lookup(*text);
      },
      [](UserLookupResult& total, UserLookupResult&& more) {
        total.users.insert(total.users.end(), std::make_move_iterator(more.users.begin()),
                           std::make_move_iterator(more.users.end()));
        total.unresolved.insert(total.unresolved.end(),
                                std::make_move_iterator(more.unresolved.begin()),
                                std::make_move_iterator(more.unresolved.end()));
      });
} catch (const std::bad_alloc&) {
  return fail("out of memory");
}

}  // namespace kestrix::plugins
