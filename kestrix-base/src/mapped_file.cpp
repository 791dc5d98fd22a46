#include "kestrix/mapped_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>
#include <utility>

namespace kestrix {
namespace {

// What the SIGBUS handler reads, which is why it is global: the page size,
// the page ranges of the live mappings, each with the mark that it has lost
// pages, and the handler that was in place before ours.
//
// A slot's version is odd while its range changes and moves on with every
// change: a handler that read the same even version before and after the
// range read one range whole, even if the slot was freed and claimed again
// meanwhile. A range read whole stays mapped while the handler works on it:
// the fault came from a thread reading it, and a mapping is only unmapped
// once nobody reads it.
struct Slot {
  std::atomic<std::uint64_t> version{0};
  std::atomic<std::uintptr_t> begin{0};
  std::atomic<std::uintptr_t> end{0};  // 0 while free
  std::atomic<bool> lost{false};
};
std::array<Slot, 8> g_slots;
std::atomic<std::uintptr_t> g_page{4096};
struct sigaction g_previous {};
static_assert(std::atomic<std::uintptr_t>::is_always_lock_free &&
              std::atomic<std::uint64_t>::is_always_lock_free);

// Whether a fault at `addr` is one of our mappings losing pages to a file
// that shrank under it: from that page on, the mapping becomes zero pages of
// our own, and the access is made again there.
bool zero_lost_pages(std::uintptr_t addr) {
  for (Slot& slot : g_slots) {
    const std::uint64_t version = slot.version.load();
    const std::uintptr_t begin = slot.begin.load();
    const std::uintptr_t end = slot.end.load();
    if ((version & 1) != 0 || slot.version.load() != version) continue;
    if (end == 0 || addr < begin || addr >= end) continue;
    const std::uintptr_t page = addr & ~(g_page.load() - 1);
    void* at = ::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (at == MAP_FAILED) return false;
    slot.lost.store(true);
    return true;
  }
  return false;
}

void on_sigbus(int sig, siginfo_t* info, void* context) {
  const int saved_errno = errno;
  // Only a fault carries an address; a sent signal (si_code 0 or below)
  // carries a sender's pid and uid in the same place.
  if (info->si_code > 0 && zero_lost_pages(reinterpret_cast<std::uintptr_t>(info->si_addr))) {
    errno = saved_errno;
    return;
  }
  // Not a page of ours: SIGBUS does what it would have done without us.
  // A handler installed before ours (a library's, a sanitizer's) takes it.
  if ((g_previous.sa_flags & SA_SIGINFO) != 0) {
    g_previous.sa_sigaction(sig, info, context);
  } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
    g_previous.sa_handler(sig);
  } else if (g_previous.sa_handler == SIG_DFL || info->si_code > 0) {
    // The default action, also for a fault where SIGBUS was ignored (the
    // kernel would not let a fault be ignored). A fault strikes again when
    // the access is made again; a sent signal is sent again.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    if (info->si_code <= 0) ::raise(sig);
  }
  errno = saved_errno;
}

bool install_handler() {
  static std::once_flag once;
  static bool installed = false;
  std::call_once(once, [] {
    g_page.store(static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE)));
    struct sigaction act {};
    act.sa_sigaction = on_sigbus;
    act.sa_flags = SA_SIGINFO;
    sigemptyset(&act.sa_mask);
    installed = ::sigaction(SIGBUS, nullptr, &g_previous) == 0 &&
                ::sigaction(SIGBUS, &act, nullptr) == 0;
  });
  return installed;
}

// A claimed slot keeps an odd version, which the handler passes over, until
// publish() gives it a range or free_slot() gives it back.
int claim_slot() {
  for (std::size_t i = 0; i < g_slots.size(); ++i) {
    std::uint64_t version = g_slots[i].version.load();
    if ((version & 1) == 0 && g_slots[i].end.load() == 0 &&
        g_slots[i].version.compare_exchange_strong(version, version + 1))
      return static_cast<int>(i);
  }
  return -1;
}

void publish(int slot, std::uintptr_t begin, std::uintptr_t end) {
  Slot& s = g_slots[static_cast<std::size_t>(slot)];
  s.begin.store(begin);
  s.end.store(end);
  s.version.fetch_add(1);
}

void free_slot(int slot) {
  Slot& s = g_slots[static_cast<std::size_t>(slot)];
  if ((s.version.load() & 1) == 0) s.version.fetch_add(1);
  s.end.store(0);
  s.begin.store(0);
  s.lost.store(false);
  s.version.fetch_add(1);
}

bool same_time(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

Result<MappedFile> MappedFile::map(const std::string& path, std::size_t max_bytes) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) return fail(os_error_text(errno));
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return fail(os_error_text(errno));
  if (!S_ISREG(st.st_mode)) return fail("not a regular file");
  // An empty size may still hide contents (procfs): only a read tells.
  if (st.st_size <= 0) return fail("empty");
  const auto size = static_cast<std::size_t>(st.st_size);
  if (size > max_bytes) return fail("larger than " + std::to_string(max_bytes) + " bytes");
  if (!install_handler()) return fail("no SIGBUS handler");
  const int slot = claim_slot();
  if (slot < 0) return fail("too many files mapped");
  // Not populated: each page is mapped by whichever thread reads it first,
  // with its cached neighbours, so that threads reading parts of the file
  // share the cost of mapping it.
  void* at = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.get(), 0);
  if (at == MAP_FAILED) {
    const int err = errno;
    free_slot(slot);
    return fail(os_error_text(err));
  }
  const auto begin = reinterpret_cast<std::uintptr_t>(at);
  const std::uintptr_t page = g_page.load();
  publish(slot, begin, (begin + size + page - 1) & ~(page - 1));
  return MappedFile(std::move(fd), static_cast<char*>(at), size, st, slot);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : fd_(std::move(other.fd_)),
      data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(other.mapped_),
      slot_(std::exchange(other.slot_, -1)) {}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    unmap();
    fd_ = std::move(other.fd_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mapped_ = other.mapped_;
    slot_ = std::exchange(other.slot_, -1);
  }
  return *this;
}

MappedFile::~MappedFile() { unmap(); }

void MappedFile::unmap() noexcept {
  if (data_ == nullptr) return;
  free_slot(slot_);
  ::munmap(data_, size_);
  data_ = nullptr;
}

bool MappedFile::changed() const {
  if (data_ == nullptr) return false;
  if (g_slots[static_cast<std::size_t>(slot_)].lost.load()) return true;
  struct stat now {};
  if (::fstat(fd_.get(), &now) != 0) return true;
  if (now.st_size != mapped_.st_size || now.st_ino != mapped_.st_ino ||
      now.st_dev != mapped_.st_dev || !same_time(now.st_mtim, mapped_.st_mtim))
    return true;
  // The change time also catches a writer who put the old modification time
  // back; but a file replaced by another under its name (the way to write
  // one whole) has its own change time bumped as it loses that name, with
  // its contents left alone.
  return !same_time(now.st_ctim, mapped_.st_ctim) && now.st_nlink == mapped_.st_nlink;
}

}  // namespace kestrix
