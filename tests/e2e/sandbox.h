#pragma once
// A private fixture tree for one run of the real binary, and the runner that
// shows it at the real system paths inside a throw-away mount namespace.
// Set E2E_KEEP=1 to keep the trees (under /tmp/nimbrel-e2e.*) for a look.

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace e2e {

// Names the stand-ins are installed under; their calls are logged with them.
inline constexpr std::string_view PNX = "kestrix-pnx-helper";
inline constexpr std::string_view WARD = "kestrix-ward-helper";
inline constexpr std::string_view DBADM = "dbadm";
inline constexpr std::string_view DBPEEK = "dbpeek";

inline constexpr std::string_view SNAPSHOT = "/var/kro/nimbrel_top.json";
inline constexpr std::string_view DBPEEK_FILE = "/var/kro/nimbrel_dbpeek.json";
inline constexpr std::string_view WARDEN_TS = "/var/kro/warden.ts";
inline constexpr std::string_view PID_FILE = "/run/kestrix.pid";
inline constexpr std::string_view CONFIG = "/etc/sysconfig/kestrix2";
inline constexpr std::string_view LOGIN_DEFS = "/etc/login.defs";

// The fixture's accounts (see the default /etc/passwd in sandbox.cpp).
inline constexpr unsigned ALICE = 1001;   // ordinary user of reseller rita
inline constexpr unsigned BOB = 1002;     // ordinary user of reseller rita
inline constexpr unsigned RITA = 1003;    // reseller
inline constexpr unsigned CAROL = 1004;   // ordinary user, no reseller
inline constexpr unsigned ADMIN = 1005;   // panel administrator
inline constexpr unsigned NO_ENTRY = 1010; // uid without a password entry

enum class Proc { Real, Tmpfs, PlainDir, Foreign };

struct RunOptions {
  std::optional<unsigned> uid;  // drop to this uid/gid before the run
  bool userns = false;          // run inside a new user namespace (mapped root)
  Proc proc = Proc::Real;
  bool ro_kro = false;          // /var/kro mounted read-only
  std::optional<mode_t> umask;
  std::optional<unsigned> stack_kib;  // soft stack limit, which bounds ARG_MAX
  std::optional<unsigned> address_space_kib;  // limit on the program's address space
  std::string stdout_path;      // redirect standard output to this file (e.g. /dev/full)
  bool stdout_closed_pipe = false;  // standard output is a pipe nobody reads; SIGPIPE ignored
  std::vector<std::string> env;  // "NAME=value" entries added to the program's environment
  std::string stderr_path;       // redirect standard error to this file; "-" closes it
  bool stderr_closed_pipe = false;  // standard error is a pipe nobody reads; SIGPIPE default
  std::chrono::seconds timeout{20};
  int signal = 0;               // sent to the program once every `signal_when` exists
  std::vector<std::string> signal_when;  // paths as the program sees them
};

struct RunResult {
  int status = -1;   // exit status, or -1 when killed by a signal
  int signal = 0;    // the terminating signal, if any
  bool timed_out = false;
  std::string out;
  std::string err;
};

std::ostream& operator<<(std::ostream& os, const RunResult& r);

class Sandbox {
 public:
  Sandbox();
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  // Fixture files, addressed by the path the program sees.
  std::string host_path(std::string_view path) const;
  void write(std::string_view path, std::string_view content, mode_t mode = 0644);
  void remove(std::string_view path);  // also hides the host's file of that name
  void symlink(std::string_view target, std::string_view path);
  void fifo(std::string_view path);
  bool exists(std::string_view path) const;
  std::string read(std::string_view path) const;
  struct stat lstat(std::string_view path) const;

  // Stand-in answers: TOOL.REQ.{out,rc,err}, and the tables users.tsv,
  // resellers.tsv and limits.tsv (see standin.sh).
  void answer(std::string_view tool, std::string_view request, std::string_view out,
              int rc = 0, std::string_view err = {});
  void data(std::string_view name, std::string_view content);
  void hang(std::string_view tool, std::string_view request);  // never answers
  void install_dbadm();
  // Every stand-in call so far, as "tool|arg|arg..."; optionally of one tool.
  std::vector<std::string> calls(std::string_view tool = {}) const;

  // Runs the program. Every JSON document it prints is kept for
  // check_documents(), which the fixture calls after each test and the
  // destructor calls at the latest.
  RunResult run(const std::vector<std::string>& args, const RunOptions& opts = {}) const;
  // Checks the documents kept since the last check against the output
  // contract (schema, number kinds, layout); a broken one fails the test.
  void check_documents() const;
  // Runs any program inside the sandbox (used to probe the machine).
  RunResult exec(const std::vector<std::string>& argv, const RunOptions& opts = {}) const;

  // What breaks the output contract in `text`; empty when nothing does.
  std::string document_faults(std::string_view text) const;

  const std::string& dir() const { return dir_; }

 private:
  void install_standin(std::string_view path) const;
  std::string dir_;
  struct Kept {
    std::string path, command;
  };
  mutable std::vector<Kept> kept_;
};

// Whether this machine lets us build sandboxes; `why` says what is missing.
bool sandbox_usable(std::string& why);

// Base fixture: skips (or, under CI, fails) when sandboxes cannot be built.
class E2E : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  Sandbox& sb() { return *box_; }
  std::unique_ptr<Sandbox> box_;
};

// Current time in whole seconds, for checking "timestamp" members.
double now_seconds();

}  // namespace e2e
