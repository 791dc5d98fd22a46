#include "kestrix/plugins/helper_runner.h"

#include <chrono>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <type_traits>
#include <utility>

#include "child_guard.h"
#include "child_process.h"
#include "helper_reading.h"
#include "kestrix/log.h"
#include "kestrix/text.h"
#include "kestrix/utf8.h"
#include "started.h"
#include "stream_readers.h"

namespace kestrix::plugins {
namespace {

// How long the output may stay open after the helper has been reaped. Only
// a background process the helper left behind can hold the pipes that long;
// what arrived by then is the helper's output.
constexpr std::chrono::seconds PIPE_GRACE{1};

constexpr std::size_t STDERR_EXCERPT_BYTES = 500;

using Kind = HelperError::Kind;

// From this many arguments a list counts in the run's memory: a hundred
// thousand uids or names are megabytes, and their pointers as many again.
constexpr std::size_t LONG_LIST = 4096;

// Held by the call whose long list is being handed to the kernel.
std::mutex& long_list_turn() {
  static std::mutex turn;
  return turn;
}

// Why a child and its readers could not be started.
struct StartFailure {
  Kind kind;  // Spawn or Thread
  int err;
};

// Starts the child with its output pipes and their readers. Whatever was
// made before a failure is gone again when this returns.
template <class Args>
std::expected<ChildProcess, StartFailure> start_child(
    const std::string& program, const Args& args, Stdin input, StreamReaders& readers,
    const std::function<void(ByteSource&)>& read_out) {
  const auto failure = [](Kind kind, int err) { return std::unexpected(StartFailure{kind, err}); };
  auto out = make_pipe();
  if (!out) return failure(Kind::Spawn, out.error());
  auto err = make_pipe();
  if (!err) return failure(Kind::Spawn, err.error());
  widen_pipe(out->write_end);
  widen_pipe(err->write_end);

  auto child = ChildProcess::spawn(program, args, input, out->write_end.get(),
                                   err->write_end.get());
  // Our copies of the write ends must go, or the readers never see the end.
  out->write_end.reset();
  err->write_end.reset();
  if (!child) return failure(Kind::Spawn, child.error());
  if (auto ok = readers.start(std::move(out->read_end), std::move(err->read_end), read_out); !ok)
    return failure(Kind::Thread, ok.error());
  return std::move(*child);
}

// A list handed over (not const) is let go once the child has started: a
// hundred thousand arguments are megabytes, which the kernel has copied by
// then.
template <class Args>
HelperResult<HelperOutput> run_child(const std::string& program, Args& args,
                                     std::uint64_t limit_secs, Stdin input,
                                     const std::function<void(ByteSource&)>& read_out) try {
  // Until the kernel has copied a long list, we hold the list and its
  // pointers: calls that overlap hand theirs over one at a time, so that
  // the pointers of the next are made only once the last list is gone.
  // Taken before the place below, so that no call holds a place while it
  // waits for its turn, which a call short of resources would wait for.
  std::unique_lock<std::mutex> long_list;
  if (args.size() >= LONG_LIST) long_list = std::unique_lock(long_list_turn());
  // Released once the child is reaped and its readers are joined.
  ChildSlot slot;
  std::optional<ChildProcess> child;
  // Declared after the child: on an early return the readers are stopped
  // and joined first, then the child is killed and reaped.
  std::optional<StreamReaders> readers;
  for (;;) {
    readers.emplace();
    auto started = start_child(program, std::as_const(args), input, *readers, read_out);
    if (started) {
      child.emplace(std::move(*started));
      break;
    }
    readers.reset();
    const StartFailure why = started.error();
    // Short of descriptors, processes or memory while other calls of ours
    // run: what they hold comes free when they end.
    if (!is_shortage(why.err) || !slot.wait_for_another_to_end())
      return std::unexpected(HelperError{why.kind, program, os_error_text(why.err), 0, why.err});
    log::event(log::Level::Debug, "kestrix_plugins::helper_runner", [&] {
      return program + " started again after another call ended: " + os_error_text(why.err);
    });
  }
  if constexpr (!std::is_const_v<Args>) args = ArgList();
  if (long_list) long_list.unlock();

  auto status = child->wait_with_limit(program, limit_secs);
  if (!status) {
    child->kill_and_reap();
    // The output of a failed run is dropped: nothing to wait for.
    readers->stop();
    readers->join();
    return std::unexpected(std::move(status.error()));
  }
  readers->wait_until(StreamReaders::Clock::now() + PIPE_GRACE);
  readers->stop();
  auto streams = readers->join();
  if (readers->out_of_memory())
    return std::unexpected(HelperError{Kind::OutputTooLarge, program, {}});
  return HelperOutput{std::move(streams.out), std::move(streams.err), *status};
} catch (const std::bad_alloc&) {
  // By now the readers are joined and the child is reaped.
  return std::unexpected(HelperError{Kind::OutOfMemory, program, {}});
}

template <class Args>
HelperResult<HelperOutput> run_logged(const std::string& program, Args& args,
                                      std::uint64_t limit_secs, Stdin input,
                                      const std::function<void(ByteSource&)>& read_out) {
  const std::size_t count = args.size();
  const auto start = std::chrono::steady_clock::now();
  auto result = run_child(program, args, limit_secs, input, read_out);
  log::event(log::Level::Debug, "kestrix_plugins::helper_runner", [&] {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    std::string line = "ran " + program + " with " + std::to_string(count) +
                       (count == 1 ? " argument" : " arguments") + " in " +
                       std::to_string(ms.count()) + " ms: ";
    line += result ? status_text(result->status) : "failed: " + result.error().message();
    return line;
  });
  return result;
}

HelperError exited(const std::string& program, const HelperOutput& output) {
  const std::string stderr_text = text::decode_lossy(output.stderr_bytes);
  return HelperError{Kind::Exited, program,
                     std::string(excerpt(text::trim(stderr_text), STDERR_EXCERPT_BYTES)),
                     output.status};
}

}  // namespace

bool HelperError::short_of_resources() const {
  return kind == Kind::OutOfMemory ||
         ((kind == Kind::Spawn || kind == Kind::Thread) && is_shortage(os_error));
}

std::string HelperError::message() const {
  switch (kind) {
    case Kind::Spawn:
      return "failed to spawn " + program + ": " + detail;
    case Kind::Thread:
      return "failed to spawn thread: " + detail;
    case Kind::Wait:
      return "failed to wait for helper: " + detail;
    case Kind::TimedOut:
      return program + " timed out after " + detail + "s";
    case Kind::OutputTooLarge:
      return program + " wrote more output than memory can hold";
    case Kind::OutOfMemory:
      return program + " could not be run: out of memory";
    case Kind::Exited:
      return program + " exited with " + status_text(status) + ": " + detail;
    case Kind::NotUtf8:
      return "helper output is not valid UTF-8: " + detail;
  }
  return detail;
}

HelperResult<HelperOutput> run_with_timeout(const std::string& program, const ArgList& args,
                                            std::uint64_t limit_secs, Stdin input) {
  return run_logged(program, args, limit_secs, input, {});
}

HelperResult<std::string> run_helper(const std::string& program, const ArgList& args,
                                     std::uint64_t limit_secs, Stdin input) try {
  auto output = run_with_timeout(program, args, limit_secs, input);
  if (!output) return std::unexpected(std::move(output.error()));
  if (output->status != 0) return std::unexpected(exited(program, *output));
  if (auto fault = utf8::first_fault(output->stdout_bytes))
    return std::unexpected(HelperError{Kind::NotUtf8, program, utf8::fault_text(*fault)});
  return std::move(output->stdout_bytes);
} catch (const std::bad_alloc&) {
  return std::unexpected(HelperError{Kind::OutOfMemory, program, {}});
}

HelperResult<void> run_helper_reading(const std::string& program, ArgList args,
                                      std::uint64_t limit_secs,
                                      const std::function<OutputVerdict(ByteSource&)>& read_out) try {
  // Written on the reader's thread, which has been joined when the run ends.
  OutputVerdict verdict;
  auto output = run_logged(program, args, limit_secs, Stdin::Inherit,
                           [&](ByteSource& out) { verdict = read_out(out); });
  if (!output) return std::unexpected(std::move(output.error()));
  if (verdict.too_large) return std::unexpected(HelperError{Kind::OutputTooLarge, program, {}});
  if (output->status != 0) return std::unexpected(exited(program, *output));
  if (verdict.utf8_fault)
    return std::unexpected(
        HelperError{Kind::NotUtf8, program, utf8::fault_text(*verdict.utf8_fault)});
  return {};
} catch (const std::bad_alloc&) {
  return std::unexpected(HelperError{Kind::OutOfMemory, program, {}});
}

}  // namespace kestrix::plugins
