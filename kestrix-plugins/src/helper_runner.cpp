#include "kestrix/plugins/helper_runner.h"

#include <chrono>
#include <functional>
#include <new>
#include <type_traits>

#include "child_process.h"
#include "helper_reading.h"
#include "kestrix/log.h"
#include "kestrix/text.h"
#include "kestrix/utf8.h"
#include "stream_readers.h"

namespace kestrix::plugins {
namespace {

// How long the output may stay open after the helper has been reaped. Only
// a background process the helper left behind can hold the pipes that long;
// what arrived by then is the helper's output.
constexpr std::chrono::seconds PIPE_GRACE{1};

constexpr std::size_t STDERR_EXCERPT_BYTES = 500;

using Kind = HelperError::Kind;

// A list handed over (not const) is let go once the child has started: a
// hundred thousand arguments are megabytes, which the kernel has copied by
// then.
template <class Args>
HelperResult<HelperOutput> run_child(const std::string& program, Args& args,
                                     std::uint64_t limit_secs, Stdin input,
                                     const std::function<void(ByteSource&)>& read_out) try {
  const auto failure = [&program](Kind kind, std::string detail = {}) {
    return std::unexpected(HelperError{kind, program, std::move(detail)});
  };
  auto out = make_pipe();
  if (!out) return failure(Kind::Spawn, std::move(out.error().message));
  auto err = make_pipe();
  if (!err) return failure(Kind::Spawn, std::move(err.error().message));
  widen_pipe(out->write_end);
  widen_pipe(err->write_end);

  auto child = ChildProcess::spawn(program, args, input, out->write_end.get(),
                                   err->write_end.get());
  // Our copies of the write ends must go, or the readers never see the end.
  out->write_end.reset();
  err->write_end.reset();
  if (!child) return failure(Kind::Spawn, std::move(child.error().message));
  if constexpr (!std::is_const_v<Args>) args = ArgList();

  // Declared after the child: on an early return the readers are stopped
  // and joined first, then the child is killed and reaped.
  StreamReaders readers;
  if (auto ok = readers.start(std::move(out->read_end), std::move(err->read_end), read_out); !ok)
    return failure(Kind::Thread, std::move(ok.error().message));

  auto status = child->wait_with_limit(program, limit_secs);
  if (!status) {
    child->kill_and_reap();
    // The output of a failed run is dropped: nothing to wait for.
    readers.stop();
    readers.join();
    return std::unexpected(std::move(status.error()));
  }
  readers.wait_until(StreamReaders::Clock::now() + PIPE_GRACE);
  readers.stop();
  auto streams = readers.join();
  if (readers.out_of_memory()) return failure(Kind::OutputTooLarge);
  return HelperOutput{std::move(streams.out), std::move(streams.err), *status};
} catch (const std::bad_alloc&) {
  // By now the child is reaped and the readers are joined.
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
