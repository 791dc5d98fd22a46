#include "kestrix/core/system_users.h"

#include <pwd.h>
#include <sys/types.h>

#include "growing_buffer.h"
#include "kestrix/io.h"
#include "kestrix/log.h"
#include "kestrix/text.h"

namespace kestrix::core {
namespace {

constexpr std::string_view TARGET = "kestrix_core::system_users";

std::uint32_t read_login_defs(const std::string& path, std::string_view key,
                              std::uint32_t fallback) {
  const auto content = load_text_file(path);
  if (!content) {
    log::event(log::Level::Info, TARGET, [&] {
      return "cannot read " + path + ": " + content.error().message + "; " + std::string(key) +
             " is " + std::to_string(fallback);
    });
    return fallback;
  }
  const auto value = login_defs_value(*content, key);
  if (!value) {
    log::event(log::Level::Info, TARGET, [&] {
      return path + " gives no usable " + std::string(key) + "; it is " + std::to_string(fallback);
    });
  }
  return value.value_or(fallback);
}

}  // namespace

std::optional<std::uint32_t> login_defs_value(std::string_view content, std::string_view key) {
  for (std::string_view raw : text::lines(content)) {
    const std::string_view line = text::trim(raw);
    if (!line.starts_with(key)) continue;
    const auto parts = text::fields(line);
    if (parts.size() < 2) continue;
    // Lines that do not give a number are passed over, not fatal: the
    // first usable line wins.
    if (auto value = text::parse_decimal<std::uint32_t>(parts[1])) return *value;
  }
  return std::nullopt;
}

std::uint32_t read_uid_min(const std::string& path) {
  return read_login_defs(path, "UID_MIN", DEFAULT_UID_MIN);
}

std::uint32_t read_uid_max(const std::string& path) {
  return read_login_defs(path, "UID_MAX", DEFAULT_UID_MAX);
}

std::vector<RegularUser> regular_users() {
  const std::uint32_t uid_min = read_uid_min();
  return regular_users(password_entries(), uid_min);
}

std::vector<RegularUser> regular_users(std::vector<RegularUser> entries, std::uint32_t uid_min) {
  std::erase_if(entries, [uid_min](const RegularUser& user) { return user.uid < uid_min; });
  return entries;
}

std::vector<RegularUser> password_entries() {
  std::vector<RegularUser> users;
  std::vector<char> buffer;

  ::setpwent();
  for (;;) {
    struct passwd entry {};
    struct passwd* result = nullptr;
    // glibc rewinds to the same entry after ERANGE, so a retry with a
    // larger buffer does not skip it.
    const int rc = call_with_growing_buffer(buffer, [&](char* data, std::size_t size) {
      return ::getpwent_r(&entry, data, size, &result);
    });
    if (rc != 0 || result == nullptr) break;
    const std::string_view name = result->pw_name ? result->pw_name : "";
    if (!is_utf8(name)) continue;
    users.push_back(RegularUser{result->pw_uid, std::string(name)});
  }
  ::endpwent();
  return users;
}

std::optional<std::string> user_name_by_uid(std::uint32_t uid) {
  std::vector<char> buffer;
  struct passwd entry {};
  struct passwd* result = nullptr;
  const int rc = call_with_growing_buffer(buffer, [&](char* data, std::size_t size) {
    return ::getpwuid_r(static_cast<uid_t>(uid), &entry, data, size, &result);
  });
  if (rc != 0 || result == nullptr || result->pw_name == nullptr) return std::nullopt;
  const std::string_view name = result->pw_name;
  if (!is_utf8(name)) return std::nullopt;
  return std::string(name);
}

}  // namespace kestrix::core
