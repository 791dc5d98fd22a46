#include "kestrix/plugins/ward_helper.h"

#include "arg_batches.h"
#include "kestrix/json/record.h"
#include "kestrix/plugins/helper_runner.h"

#include <new>

namespace kestrix::plugins {

namespace kj = kestrix::json;

// Found by the map decoder through argument-dependent lookup.
bool read(kj::Reader& r, WardLimits& v) {
  // A member may be left out of the object form, but the array form must
  // give the first three values; only `absent` may be dropped from its end.
  static constexpr kj::RecordType<WardLimits, 4> type{
      "WardLimits",
      {{kj::field<&WardLimits::cpu>("cpu", kj::Need::Optional),
        kj::field<&WardLimits::io>("io", kj::Need::Optional),
        kj::field<&WardLimits::error>("error", kj::Need::Optional),
        kj::field<&WardLimits::absent>("absent", kj::Need::Defaulted)}}};
  return kj::read_record(r, type, v);
}

namespace {
constexpr std::size_t OUTPUT_EXCERPT_BYTES = 200;
}  // namespace

Result<WardLimitsMap> parse_ward_limits(std::string_view answer) {
  auto doc = kj::decode<WardLimitsMap>(answer);
  if (!doc)
    return fail("failed to parse ward-helper JSON: " + doc.error() + ": output=" +
                std::string(excerpt(answer, OUTPUT_EXCERPT_BYTES)));
  return std::move(*doc);
}

Result<WardLimitsMap> ward_limits(ArgList names,
                                  const std::string& program) try {
  if (names.empty()) return WardLimitsMap{};
  return run_in_batches<WardLimitsMap>(
      program, {"limits"}, std::move(names),
      [&program](ArgList args) -> Result<WardLimitsMap> {
        auto text = run_helper(program, args, WARD_HELPER_TIMEOUT_SECS);
        args = ArgList();
        if (!text) return std::unexpected(text.error().to_error());
        return parse_ward_limits(*text);
      },
      // A name answered by two batches keeps the later answer, as a name
      // given twice in one answer does.
      [](WardLimitsMap& total, WardLimitsMap&& more) {
        for (auto& [name, limits] : more) total.insert_or_assign(name, std::move(limits));
      });
} catch (const std::bad_alloc&) {
  return fail("out of memory");
}

}  // namespace kestrix::plugins
