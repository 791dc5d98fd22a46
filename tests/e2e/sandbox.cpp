#include "sandbox.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "kestrix/testing/ci.h"

namespace fs = std::filesystem;

namespace e2e {
namespace {

constexpr std::string_view DATA_DIR = "/usr/share/kestrix3/standin";
constexpr std::string_view CALL_LOG = "/run/standin.log";
constexpr std::string_view TIMES_LOG = "/run/standin.times";
constexpr std::string_view SCRIPTS = "/usr/share/kestrix3/scripts/";

// Only these trees are overlaid by sandbox.sh; anything else would land on
// the host or be invisible to the program.
constexpr std::string_view OVERLAID[] = {"/etc/", "/var/", "/run/", "/usr/sbin/", "/usr/share/"};

constexpr std::string_view PASSWD =
    "root:x:0:0:root:/root:/bin/sh\n"
    "daemon:x:1:1:daemon:/usr/sbin:/usr/sbin/nologin\n"
    "alice:x:1001:1001::/home/alice:/bin/sh\n"
    "bob:x:1002:1002::/home/bob:/bin/sh\n"
    "rita:x:1003:1003::/home/rita:/bin/sh\n"
    "carol:x:1004:1004::/home/carol:/bin/sh\n"
    "admin:x:1005:1005::/home/admin:/bin/sh\n"
    "nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin\n";

constexpr std::string_view GROUP =
    "root:x:0:\n"
    "daemon:x:1:\n"
    "alice:x:1001:\n"
    "bob:x:1002:\n"
    "rita:x:1003:\n"
    "carol:x:1004:\n"
    "admin:x:1005:\n"
    "nogroup:x:65534:\n";

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

[[noreturn]] void die(const std::string& what) {
  throw std::runtime_error("sandbox: " + what + ": " + std::strerror(errno));
}

// Checks documents with validate_output.py in one run, which writes its
// findings, each line led by the file's path, to `report_path`; empty when
// every document keeps the contract.
std::string check_files(const std::vector<std::string>& paths, const std::string& report_path) {
  std::vector<std::string> args{"/usr/bin/python3", E2E_VALIDATOR, "--schema", E2E_OUTPUT_SCHEMA};
  args.insert(args.end(), paths.begin(), paths.end());
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, report_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return "cannot run " + args[1] + ": " + std::strerror(rc) + "\n";
  int ws = 0;
  while (::waitpid(pid, &ws, 0) < 0) {
    if (errno != EINTR) return std::string("waitpid: ") + std::strerror(errno) + "\n";
  }
  if (WIFEXITED(ws) && WEXITSTATUS(ws) == 0) return {};
  std::string report = slurp(report_path);
  if (report.empty()) report = "validate_output.py ended with wait status " + std::to_string(ws) + "\n";
  return report;
}

}  // namespace

std::ostream& operator<<(std::ostream& os, const RunResult& r) {
  os << "status " << r.status;
  if (r.signal) os << " signal " << r.signal;
  if (r.timed_out) os << " (timed out)";
  return os << "\n--- stdout ---\n" << r.out << "--- stderr ---\n" << r.err;
}

Sandbox::Sandbox() {
  char templ[] = "/tmp/nimbrel-e2e.XXXXXX";
  if (!mkdtemp(templ)) die("mkdtemp");
  dir_ = templ;
  // Ordinary users run the program and the stand-ins: they must reach the tree.
  ::chmod(dir_.c_str(), 0755);
  fs::create_directories(dir_ + "/io");

  write("/etc/passwd", PASSWD);
  write("/etc/group", GROUP);
  write(LOGIN_DEFS, "UID_MIN 1000\nUID_MAX 60000\n");
  write(PID_FILE, std::to_string(getpid()) + "\n");
  fs::create_directories(host_path("/var/kro"));
  ::chmod(host_path("/var/kro").c_str(), 0755);
  write(CALL_LOG, "", 0666);
  write(TIMES_LOG, "", 0666);
  fs::create_directories(host_path(DATA_DIR));
  install_standin(std::string(SCRIPTS) + std::string(PNX));
  install_standin(std::string(SCRIPTS) + std::string(WARD));
  install_standin("/usr/sbin/dbpeek");
}

Sandbox::~Sandbox() {
  check_documents();
  if (std::getenv("E2E_KEEP")) return;
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::string Sandbox::host_path(std::string_view path) const {
  bool ok = false;
  for (auto p : OVERLAID) ok = ok || path.starts_with(p);
  if (!ok) throw std::invalid_argument("sandbox: path outside the overlaid trees: " + std::string(path));
  return dir_ + "/fs" + std::string(path);
}

void Sandbox::write(std::string_view path, std::string_view content, mode_t mode) {
  const std::string p = host_path(path);
  fs::create_directories(fs::path(p).parent_path());
  ::unlink(p.c_str());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) die("write " + p);
  if (::chmod(p.c_str(), mode) != 0) die("chmod " + p);
}

void Sandbox::remove(std::string_view path) {
  const std::string p = host_path(path);
  ::unlink(p.c_str());
  struct stat st;
  if (::lstat(std::string(path).c_str(), &st) == 0) {
    // An overlay whiteout hides the host's file inside the sandbox only.
    fs::create_directories(fs::path(p).parent_path());
    if (::mknod(p.c_str(), S_IFCHR | 0000, makedev(0, 0)) != 0) die("whiteout " + p);
  }
}

void Sandbox::symlink(std::string_view target, std::string_view path) {
  const std::string p = host_path(path);
  fs::create_directories(fs::path(p).parent_path());
  ::unlink(p.c_str());
  if (::symlink(std::string(target).c_str(), p.c_str()) != 0) die("symlink " + p);
}

void Sandbox::fifo(std::string_view path) {
  const std::string p = host_path(path);
  fs::create_directories(fs::path(p).parent_path());
  ::unlink(p.c_str());
  if (::mkfifo(p.c_str(), 0666) != 0) die("mkfifo " + p);
}

bool Sandbox::exists(std::string_view path) const {
  struct stat st;
  return ::lstat(host_path(path).c_str(), &st) == 0;
}

std::string Sandbox::read(std::string_view path) const { return slurp(host_path(path)); }

struct stat Sandbox::lstat(std::string_view path) const {
  struct stat st {};
  if (::lstat(host_path(path).c_str(), &st) != 0) die("lstat " + host_path(path));
  return st;
}

void Sandbox::install_standin(std::string_view path) const {
  const std::string p = host_path(path);
  fs::create_directories(fs::path(p).parent_path());
  fs::copy_file(E2E_STANDIN_SCRIPT, p, fs::copy_options::overwrite_existing);
  ::chmod(p.c_str(), 0755);
}

void Sandbox::install_dbadm() { install_standin("/usr/sbin/dbadm"); }

void Sandbox::answer(std::string_view tool, std::string_view request, std::string_view out,
                     int rc, std::string_view err) {
  const std::string base = std::string(DATA_DIR) + "/" + std::string(tool) + "." + std::string(request);
  remove(base + ".rc");
  remove(base + ".err");
  write(base + ".out", out);
  if (rc != 0) write(base + ".rc", std::to_string(rc) + "\n");
  if (!err.empty()) write(base + ".err", err);
}

void Sandbox::hang(std::string_view tool, std::string_view request) {
  write(std::string(DATA_DIR) + "/" + std::string(tool) + "." + std::string(request) + ".hang", "");
}

void Sandbox::data(std::string_view name, std::string_view content) {
  write(std::string(DATA_DIR) + "/" + std::string(name), content);
}

std::vector<std::string> Sandbox::calls(std::string_view tool) const {
  std::vector<std::string> lines;
  std::istringstream in(read(CALL_LOG));
  for (std::string line; std::getline(in, line);) {
    if (tool.empty() || line == tool || line.starts_with(std::string(tool) + "|")) lines.push_back(line);
  }
  return lines;
}

RunResult Sandbox::run(const std::vector<std::string>& args, const RunOptions& opts) const {
  std::vector<std::string> argv{NIMBREL_TOP_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  RunResult r = exec(argv, opts);
  // One validator run per sandbox, not per run: starting it costs more than
  // most runs of the program.
  if (r.out.starts_with('{')) {
    Kept doc{dir_ + "/io/document-" + std::to_string(kept_.size() + 1) + ".json", "nimbrel-top"};
    for (const auto& a : args) doc.command += " " + a;
    if (opts.uid) doc.command += " (as uid " + std::to_string(*opts.uid) + ")";
    std::ofstream out(doc.path, std::ios::binary | std::ios::trunc);
    out << r.out;
    if (!out) die("write " + doc.path);
    kept_.push_back(std::move(doc));
  }
  return r;
}

void Sandbox::check_documents() const {
  if (kept_.empty()) return;
  std::vector<std::string> paths;
  for (const auto& k : kept_) paths.push_back(k.path);
  const std::string faults = check_files(paths, dir_ + "/io/validate");
  if (!faults.empty()) {
    std::string shown;
    for (const auto& k : kept_)
      if (faults.find(k.path + ":") != std::string::npos)
        shown += "--- " + k.path + ", printed by " + k.command + " ---\n" + slurp(k.path);
    ADD_FAILURE() << "a document on standard output breaks the output contract:\n" << faults << shown;
  }
  kept_.clear();
}

RunResult Sandbox::exec(const std::vector<std::string>& program, const RunOptions& opts) const {
  std::vector<std::string> argv{"/bin/sh", E2E_SANDBOX_SCRIPT};
  if (opts.uid) argv.insert(argv.end(), {"--as", std::to_string(*opts.uid)});
  if (opts.userns) argv.push_back("--userns");
  if (opts.ro_kro) argv.push_back("--ro-kro");
  if (opts.umask) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%03o", static_cast<unsigned>(*opts.umask));
    argv.insert(argv.end(), {"--umask", buf});
  }
  if (opts.stack_kib) argv.insert(argv.end(), {"--stack", std::to_string(*opts.stack_kib)});
  if (opts.address_space_kib)
    argv.insert(argv.end(), {"--address-space", std::to_string(*opts.address_space_kib)});
  switch (opts.proc) {
    case Proc::Real: break;
    case Proc::Tmpfs: argv.insert(argv.end(), {"--proc", "tmpfs"}); break;
    case Proc::PlainDir: argv.insert(argv.end(), {"--proc", "dir"}); break;
    case Proc::Foreign: argv.insert(argv.end(), {"--proc", "foreign"}); break;
  }
  argv.push_back(dir_);
  argv.push_back("--");
  argv.insert(argv.end(), program.begin(), program.end());

  std::vector<char*> cargv;
  for (auto& a : argv) cargv.push_back(const_cast<char*>(a.c_str()));
  cargv.push_back(nullptr);

  const std::string out_path = dir_ + "/io/stdout", err_path = dir_ + "/io/stderr";
  const std::string& stdout_target = opts.stdout_path.empty() ? out_path : opts.stdout_path;

  int pipe_fds[2] = {-1, -1};
  if ((opts.stdout_closed_pipe || opts.stderr_closed_pipe) && ::pipe2(pipe_fds, O_CLOEXEC) != 0)
    die("pipe2");
  if (pipe_fds[0] >= 0) ::close(pipe_fds[0]);

  const pid_t pid = ::fork();
  if (pid < 0) die("fork");
  if (pid == 0) {
    ::setpgid(0, 0);
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(stdout_target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(opts.stderr_path.empty() || opts.stderr_path == "-" ? err_path.c_str()
                                                                        : opts.stderr_path.c_str(),
                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    ::dup2(in, 0);
    ::dup2(opts.stdout_closed_pipe ? pipe_fds[1] : out, 1);
    ::dup2(opts.stderr_closed_pipe ? pipe_fds[1] : err, 2);
    if (opts.stderr_path == "-") ::close(2);
    for (const auto& e : opts.env) ::putenv(const_cast<char*>(e.c_str()));
    // An ignored SIGPIPE survives exec: the program must restore it itself.
    ::signal(SIGPIPE, opts.stdout_closed_pipe ? SIG_IGN : SIG_DFL);
    ::execv(cargv[0], cargv.data());
    _exit(127);
  }

  if (pipe_fds[1] >= 0) ::close(pipe_fds[1]);
  RunResult r;
  const auto deadline = std::chrono::steady_clock::now() + opts.timeout;
  int ws = 0;
  bool signalled = false;
  for (;;) {
    const pid_t w = ::waitpid(pid, &ws, WNOHANG);
    if (w == pid) break;
    if (opts.signal != 0 && !signalled &&
        std::ranges::all_of(opts.signal_when, [this](const auto& p) { return exists(p); }))
      signalled = ::kill(pid, opts.signal) == 0;
    if (w < 0 && errno != EINTR) die("waitpid");
    if (std::chrono::steady_clock::now() >= deadline) {
      r.timed_out = true;
      ::kill(-pid, SIGKILL);
      ::waitpid(pid, &ws, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(ws)) r.status = WEXITSTATUS(ws);
  if (WIFSIGNALED(ws)) r.signal = WTERMSIG(ws);
  if (opts.stdout_path.empty() && !opts.stdout_closed_pipe) r.out = slurp(out_path);
  if (opts.stderr_path.empty() && !opts.stderr_closed_pipe) r.err = slurp(err_path);
  return r;
}

std::string Sandbox::document_faults(std::string_view text) const {
  const std::string path = dir_ + "/io/document";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out) die("write " + path);
  }
  return check_files({path}, dir_ + "/io/validate");
}

bool sandbox_usable(std::string& why) {
  static const std::string reason = [] {
    if (::geteuid() != 0) return std::string("end-to-end tests need root (mount namespaces, overlays, setpriv)");
    try {
      Sandbox probe;
      RunResult r = probe.exec({"/bin/true"});
      if (r.status != 0) return "cannot build a sandbox here: " + r.err;
    } catch (const std::exception& e) {
      return std::string(e.what());
    }
    return std::string();
  }();
  why = reason;
  return reason.empty();
}

void E2E::TearDown() {
  if (box_) box_->check_documents();
}

void E2E::SetUp() {
  std::string why;
  if (!sandbox_usable(why)) KESTRIX_SKIP(why);
  box_ = std::make_unique<Sandbox>();
}

double now_seconds() { return static_cast<double>(std::time(nullptr)); }

}  // namespace e2e
