#include <signal.h>
#include <sys/wait.h>

#include <string>
#include <string_view>

#include "kestrix/plugins/status_text.h"

namespace kestrix::plugins {
namespace {

// Names by the macros rather than by number, so that architectures whose
// numbering differs still name each signal correctly.
std::string_view signal_name(int sig) {
  switch (sig) {
    case SIGHUP: return "SIGHUP";
    case SIGINT: return "SIGINT";
    case SIGQUIT: return "SIGQUIT";
    case SIGILL: return "SIGILL";
    case SIGTRAP: return "SIGTRAP";
    case SIGABRT: return "SIGABRT";
    case SIGBUS: return "SIGBUS";
    case SIGFPE: return "SIGFPE";
    case SIGKILL: return "SIGKILL";
    case SIGUSR1: return "SIGUSR1";
    case SIGSEGV: return "SIGSEGV";
    case SIGUSR2: return "SIGUSR2";
    case SIGPIPE: return "SIGPIPE";
    case SIGALRM: return "SIGALRM";
    case SIGTERM: return "SIGTERM";
#ifdef SIGSTKFLT
    case SIGSTKFLT: return "SIGSTKFLT";
#endif
    case SIGCHLD: return "SIGCHLD";
    case SIGCONT: return "SIGCONT";
    case SIGSTOP: return "SIGSTOP";
    case SIGTSTP: return "SIGTSTP";
    case SIGTTIN: return "SIGTTIN";
    case SIGTTOU: return "SIGTTOU";
    case SIGURG: return "SIGURG";
    case SIGXCPU: return "SIGXCPU";
    case SIGXFSZ: return "SIGXFSZ";
    case SIGVTALRM: return "SIGVTALRM";
    case SIGPROF: return "SIGPROF";
    case SIGWINCH: return "SIGWINCH";
    case SIGIO: return "SIGIO";
    case SIGPWR: return "SIGPWR";
    case SIGSYS: return "SIGSYS";
    default: return {};
  }
}

}  // namespace

std::string status_text(int wait_status) {
  if (WIFEXITED(wait_status)) return "exit status: " + std::to_string(WEXITSTATUS(wait_status));
  if (WIFSIGNALED(wait_status)) {
    const int sig = WTERMSIG(wait_status);
    std::string text = "signal: " + std::to_string(sig);
    if (const auto name = signal_name(sig); !name.empty()) {
      text += " (";
      text += name;
      text += ")";
    }
    if (WCOREDUMP(wait_status)) text += " (core dumped)";
    return text;
  }
  // waitpid is never asked for stopped or continued children, so this
  // only guards against a status from elsewhere.
  return "unrecognised wait status: " + std::to_string(wait_status);
}

}  // namespace kestrix::plugins
