// The small system files and answers read as plain text: login.defs, the
// pid file, uid_map and the warden-mode answer, each against its rule.
#include <limits>

#include "checks.h"
#include "kestrix/core/daemon_status.h"
#include "kestrix/core/system_users.h"
#include "kestrix/core/user_namespace.h"
#include "kestrix/core/warden.h"
#include "kestrix/io.h"
#include "kestrix/json/record.h"
#include "oracle.h"

namespace kestrix::fuzz {
namespace {

std::optional<std::uint32_t> model_login_defs(std::string_view text, std::string_view key) {
  for (std::string_view raw : ref_lines(text)) {
    const std::string_view line = ref_trim(raw);
    if (!line.starts_with(key)) continue;
    const auto f = ref_fields(line);
    if (f.size() < 2) continue;
    if (auto v = ref_unsigned(f[1], std::numeric_limits<std::uint32_t>::max()))
      return static_cast<std::uint32_t>(*v);
  }
  return std::nullopt;
}

}  // namespace

const char* check_login_defs(std::string_view text) {
  const auto min = core::login_defs_value(text, "UID_MIN");
  const auto max = core::login_defs_value(text, "UID_MAX");
  if (!is_utf8(text)) return nullptr;  // the loader refuses such text
  if (min != model_login_defs(text, "UID_MIN") || max != model_login_defs(text, "UID_MAX"))
    return "login.defs value differs from the first usable line";
  return nullptr;
}

const char* check_pid_file(std::string_view text) {
  const auto pid = core::pid_in_pid_file(text);
  if (pid && *pid <= 0) return "a pid that is not positive";
  if (!is_utf8(text)) return nullptr;  // the loader refuses such text
  const auto expected =
      ref_signed(ref_trim(text), 1, std::numeric_limits<std::int32_t>::max());
  if (pid.has_value() != expected.has_value() || (pid && *pid != *expected))
    return "pid differs from the trimmed decimal";
  return nullptr;
}

const char* check_uid_map(std::string_view text) {
  const bool initial = core::uid_map_is_initial(text);
  if (!is_utf8(text)) return nullptr;  // the loader refuses such text
  std::vector<std::string_view> mapping;
  int mappings = 0;
  for (std::string_view line : ref_lines(text)) {
    auto f = ref_fields(line);
    if (f.empty()) continue;
    ++mappings;
    mapping = std::move(f);
  }
  const bool expected = mappings == 1 && mapping.size() == 3 && mapping[0] == "0" &&
                        mapping[1] == "0" && mapping[2] == "4294967295";
  return initial == expected ? nullptr : "uid_map verdict differs from the one-full-range rule";
}

const char* check_warden_mode(std::string_view text) {
  const std::string mode = core::warden_mode_from_answer(text);
  if (!is_utf8(mode)) return "mode is not UTF-8";
  if (!is_utf8(text)) return nullptr;  // replaced bytes: only what holds for any text
  const std::string_view trimmed = ref_trim(text);
  std::string expected(trimmed);
  if (json_judgeable(trimmed)) {
    const auto value = nlohmann::json::parse(trimmed, nullptr, false);
    if (value.is_string()) expected = value.get<std::string>();
  } else if (trimmed.find('\0') != std::string_view::npos) {
    // The reference parser stops at a NUL; a JSON string cannot hold one raw.
    if (auto quoted = json::decode<std::string>(trimmed); quoted) return "decoded a raw NUL";
    return mode == trimmed ? nullptr : "mode differs from the trimmed text";
  }
  return mode == expected ? nullptr : "mode differs from the answer's rule";
}

}  // namespace kestrix::fuzz
