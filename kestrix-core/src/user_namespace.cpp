#include "kestrix/core/user_namespace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kestrix/error.h"
#include "kestrix/log.h"
#include "kestrix/text.h"
#include "kestrix/unique_fd.h"
#include "kestrix/utf8.h"

namespace kestrix::core {
namespace {

constexpr decltype(statfs::f_type) PROCFS_MAGIC = 0x9FA0;
// A pid is at most a few digits; anything this long is not procfs talking.
constexpr std::size_t LINK_BUFFER_SIZE = 32;

Error os_failure(const char* what) { return Error(std::string(what) + ": " + os_error_text(errno)); }

Result<UniqueFd> open_at(int dir, const char* name, int flags) {
  UniqueFd fd(::openat(dir, name, flags | O_CLOEXEC));
  if (!fd) return std::unexpected(os_failure("openat"));
  return fd;
}

struct DirCloser {
  void operator()(DIR* stream) const { ::closedir(stream); }
};

Result<void> require_procfs(const UniqueFd& fd, const char* message) {
  struct statfs st {};
  if (::fstatfs(fd.get(), &st) != 0) return std::unexpected(os_failure("fstatfs"));
  if (st.f_type != PROCFS_MAGIC) return fail(message);
  return {};
}

Result<ino_t> inode_of(const UniqueFd& fd) {
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return std::unexpected(os_failure("fstat"));
  return st.st_ino;
}

// The inode the directory's own listing gives for `name`; a bind mount
// or a planted file shows up as a different inode than the one opened.
Result<std::optional<ino_t>> listed_inode(const UniqueFd& dir, const std::string& name) {
  // The listing gets its own descriptor so closedir leaves `dir` open.
  UniqueFd copy(::fcntl(dir.get(), F_DUPFD_CLOEXEC, 0));
  if (!copy) return std::unexpected(os_failure("dup"));
  const std::unique_ptr<DIR, DirCloser> stream(::fdopendir(copy.get()));
  if (!stream) return std::unexpected(os_failure("fdopendir"));
  (void)copy.release();  // closedir closes it now
  ::rewinddir(stream.get());
  std::optional<ino_t> found;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(stream.get());
    if (entry == nullptr) {
      if (errno != 0) return std::unexpected(os_failure("readdir"));
      break;
    }
    if (name == entry->d_name) {
      found = entry->d_ino;
      break;
    }
  }
  return found;
}

Result<void> require_listed(const UniqueFd& dir, const std::string& name, const UniqueFd& opened,
                            const char* message) {
  auto listed = listed_inode(dir, name);
  if (!listed) return std::unexpected(listed.error());
  auto actual = inode_of(opened);
  if (!actual) return std::unexpected(actual.error());
  if (!*listed || **listed != *actual) return fail(message);
  return {};
}

Result<std::string> read_all(const UniqueFd& fd) {
  std::string text;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(os_failure("read"));
    }
    if (n == 0) return text;
    text.append(buf, static_cast<std::size_t>(n));
  }
}

Result<std::string> read_own_uid_map() {
  auto proc = open_at(AT_FDCWD, "/proc", O_DIRECTORY);
  if (!proc) return std::unexpected(proc.error());
  if (auto ok = require_procfs(*proc, "/proc is not on procfs"); !ok)
    return std::unexpected(ok.error());

  char link[LINK_BUFFER_SIZE];
  ssize_t n = ::readlinkat(proc->get(), "self", link, sizeof link);
  if (n < 0) return std::unexpected(os_failure("readlinkat"));
  if (static_cast<std::size_t>(n) >= sizeof link) return fail("link target too long");
  std::string target(link, static_cast<std::size_t>(n));
  if (!is_utf8(target)) return fail("link target is not UTF-8");
  if (target.find('\0') != std::string::npos) return fail("name contains NUL");

  auto self = open_at(proc->get(), target.c_str(), O_DIRECTORY);
  if (!self) return std::unexpected(self.error());
  if (auto ok = require_procfs(*self, "/proc/self is not on procfs"); !ok)
    return std::unexpected(ok.error());
  if (auto ok = require_listed(*proc, target, *self, "/proc/self is not the directory procfs lists");
      !ok)
    return std::unexpected(ok.error());

  auto map = open_at(self->get(), "uid_map", O_RDONLY);
  if (!map) return std::unexpected(map.error());
  if (auto ok = require_procfs(*map, "/proc/self/uid_map is not on procfs"); !ok)
    return std::unexpected(ok.error());
  if (auto ok =
          require_listed(*self, "uid_map", *map, "/proc/self/uid_map is not the inode procfs lists");
      !ok)
    return std::unexpected(ok.error());

  auto text = read_all(*map);
  if (!text) return std::unexpected(text.error());
  if (!is_utf8(*text)) return fail("/proc/self/uid_map is not UTF-8");
  return text;
}

}  // namespace

bool uid_map_is_initial(std::string_view uid_map) {
  std::optional<std::vector<std::string_view>> mapping;
  for (std::string_view line : text::lines(uid_map)) {
    auto f = text::fields(line);
    if (f.empty()) continue;
    if (mapping) return false;  // a second range means the map is partial
    mapping = std::move(f);
  }
  if (!mapping) return false;
  const auto& f = *mapping;
  return f.size() == 3 && f[0] == "0" && f[1] == "0" && f[2] == "4294967295";
}

bool check_initial_user_namespace() {
  constexpr std::string_view target = "kestrix_core::user_namespace";
  auto text = read_own_uid_map();
  if (!text) {
    log::event(log::Level::Warn, target,
               [&] { return "initial user namespace not verified: " + text.error().message; });
    return false;
  }
  if (!uid_map_is_initial(*text)) {
    log::event(log::Level::Info, target, [&] {
      return "not the initial user namespace: uid_map is '" +
             std::string(text::trim(text::first_chars(*text, 200))) + "'";
    });
    return false;
  }
  return true;
}

}  // namespace kestrix::core
