#include "kestrix/plugins/helper_runner.h"

#include <chrono>
#include <new>

#include "child_process.h"
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

Result<HelperOutput> run_child(const std::string& program, const std::vector<std::string>& args,
                               std::uint64_t limit_secs, Stdin input) try {
  const auto spawn_failure = [&program](const Error& e) {
    return fail("failed to spawn " + program + ": " + e.message);
  };
  auto out = make_pipe();
  if (!out) return spawn_failure(out.error());
  auto err = make_pipe();
  if (!err) return spawn_failure(err.error());

  auto child = ChildProcess::spawn(program, args, input, out->write_end.get(),
                                   err->write_end.get());
  // Our copies of the write ends must go, or the readers never see the end.
  out->write_end.reset();
  err->write_end.reset();
  if (!child) return spawn_failure(child.error());

  // Declared after the child: on an early return the readers are stopped
  // and joined first, then the child is killed and reaped.
  StreamReaders readers;
  if (auto ok = readers.add(std::move(out->read_end)); !ok) return std::unexpected(ok.error());
  if (auto ok = readers.add(std::move(err->read_end)); !ok) return std::unexpected(ok.error());

  auto status = child->wait_with_limit(program, limit_secs);
  if (!status) {
    child->kill_and_reap();
    // The output of a failed run is dropped: nothing to wait for.
    readers.stop();
    readers.join();
    return std::unexpected(status.error());
  }
  readers.wait_until(StreamReaders::Clock::now() + PIPE_GRACE);
  readers.stop();
  auto buffers = readers.join();
  if (readers.out_of_memory()) return fail(program + " wrote more output than memory can hold");
  return HelperOutput{std::move(buffers[0]), std::move(buffers[1]), *status};
} catch (const std::bad_alloc&) {
  // By now the child is reaped and the readers are joined.
  return fail(program + " could not be run: out of memory");
}

}  // namespace

Result<HelperOutput> run_with_timeout(const std::string& program,
                                      const std::vector<std::string>& args,
                                      std::uint64_t limit_secs, Stdin input) {
  const auto start = std::chrono::steady_clock::now();
  auto result = run_child(program, args, limit_secs, input);
  log::event(log::Level::Debug, "kestrix_plugins::helper_runner", [&] {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    std::string line = "ran " + program + " with " + std::to_string(args.size()) +
                       (args.size() == 1 ? " argument" : " arguments") + " in " +
                       std::to_string(ms.count()) + " ms: ";
    line += result ? status_text(result->status) : "failed: " + result.error().message;
    return line;
  });
  return result;
}

Result<std::string> run_helper(const std::string& program, const std::vector<std::string>& args,
                               std::uint64_t limit_secs, Stdin input) try {
  auto output = run_with_timeout(program, args, limit_secs, input);
  if (!output) return std::unexpected(output.error());
  if (output->status != 0) {
    const std::string stderr_text = text::decode_lossy(output->stderr_bytes);
    return fail(program + " exited with " + status_text(output->status) + ": " +
                std::string(excerpt(text::trim(stderr_text), STDERR_EXCERPT_BYTES)));
  }
  if (auto fault = utf8::first_fault(output->stdout_bytes))
    return fail("helper output is not valid UTF-8: " + utf8::fault_text(*fault));
  return std::move(output->stdout_bytes);
} catch (const std::bad_alloc&) {
  return fail(program + " could not be run: out of memory");
}

}  // namespace kestrix::plugins
