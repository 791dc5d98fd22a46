// Splitting a long argument list over several runs of a helper when one
// command line would exceed the system's limit on argument size (E2BIG).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kestrix/error.h"
#include "kestrix/log.h"
#include "kestrix/plugins/arg_list.h"

namespace kestrix::plugins {

// What one argument costs the kernel: its bytes, the terminating NUL and
// the pointer to it.
inline std::size_t arg_cost(std::string_view arg) { return arg.size() + 1 + sizeof(char*); }

// A run of consecutive items: `count` of them from `first`.
struct Batch {
  std::size_t first;
  std::size_t count;
};

// Splits `items` into runs of consecutive items, in order, each of which
// fits into `room` bytes (counted with arg_cost), using as few runs as
// possible. An item too large for `room`, or for the kernel's limit on a
// single argument, forms a run of one: it is tried, and only its own run
// fails.
std::vector<Batch> split_batches(const ArgList& items, std::size_t room);

// Bytes left for further arguments of one run of `program` with `fixed`
// leading arguments, under this process's limits and environment.
std::size_t argument_room(const std::string& program, const ArgList& fixed);

// Runs `run(args)` once per batch of `items`, each time with `fixed` in
// front, and folds the answers in order with `join(total, answer)`. A
// failed batch loses only its own answer; when every batch fails, the
// first error is returned. No items, no run. Each argument list is handed
// to `run` to keep or drop, and when one run takes them all, `items` itself
// becomes its list: with a hundred thousand items a list is megabytes,
// which need not be held twice, nor while the answer is read.
template <class T, class Run, class Join>
Result<T> run_in_batches(const std::string& program, const ArgList& fixed, ArgList items,
                         Run&& run, Join&& join) {
  constexpr std::string_view target = "kestrix_plugins::arg_batches";
  std::optional<T> total;
  std::optional<Error> first_error;
  const auto batches = split_batches(items, argument_room(program, fixed));
  const std::string_view request = fixed.empty() ? std::string_view() : fixed[0];
  log::event(log::Level::Debug, target, [&] {
    return program + " " + std::string(request) + ": " + std::to_string(items.size()) +
           " items in " + std::to_string(batches.size()) + " batches";
  });
  for (std::size_t i = 0; i < batches.size(); ++i) {
    ArgList args;
    if (batches.size() == 1) {
      items.prepend(fixed);
      args = std::move(items);
    } else {
      args = fixed;
      args.append(items, batches[i].first, batches[i].count);
    }
    Result<T> answer = run(std::move(args));
    if (!answer) {
      // With several batches the others still count: say what this one lost.
      if (batches.size() > 1)
        log::event(log::Level::Warn, target, [&] {
          return program + " " + std::string(request) + ": batch " + std::to_string(i + 1) +
                 " of " + std::to_string(batches.size()) + " (" +
                 std::to_string(batches[i].count) + " items) failed: " + answer.error().message;
        });
      if (!first_error) first_error = std::move(answer.error());
    } else if (!total) {
      total = std::move(*answer);
    } else {
      join(*total, std::move(*answer));
    }
  }
  if (total) return std::move(*total);
  if (first_error) return std::unexpected(std::move(*first_error));
  return T{};
}

}  // namespace kestrix::plugins
