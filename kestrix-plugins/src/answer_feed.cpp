#include "answer_feed.h"

#include <unistd.h>

#include <algorithm>
#include <utility>

namespace kestrix::plugins {
namespace {
// A read takes up to a widened pipe's worth.
constexpr std::size_t READ_BYTES = 1024 * 1024;
}  // namespace

AnswerFeed::AnswerFeed(ReservedBytes space, ByteSource& source)
    : space_(std::move(space)), source_(source) {}

bool AnswerFeed::pull() {
  if (ended_) return false;
  const std::size_t room = std::min(space_.capacity() - filled_, READ_BYTES);
  if (room == 0) {
    // Like a buffer that could not grow: the pipe closes behind us, which
    // stops the writer.
    too_large_ = true;
    ended_ = true;
    return false;
  }
  const std::size_t got = source_.read(space_.data() + filled_, room);
  if (got == 0) ended_ = true;
  filled_ += got;
  check_utf8();
  return got != 0;
}

void AnswerFeed::check_utf8() {
  if (fault_) return;
  const auto fault = utf8::first_fault({space_.data() + valid_, filled_ - valid_});
  if (!fault) {
    valid_ = filled_;
    return;
  }
  // A sequence cut off by the end of a read may still be finished.
  if (!fault->error_len && !ended_) {
    valid_ += fault->valid_up_to;
    return;
  }
  fault_ = utf8::Fault{valid_ + fault->valid_up_to, fault->error_len};
  valid_ += fault->valid_up_to;
}

std::string_view AnswerFeed::ensure(json::ElementScan scan) {
  // Past a fault nothing is decoded that could count.
  while (scan.scan(text()) != json::ElementScan::Verdict::Enough && !fault_ && pull()) {
  }
  return text();
}

void AnswerFeed::give_back(char* data, std::size_t bytes) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  // Past every byte read and every page moved on before.
  const std::size_t to = std::max((filled_ + page - 1) / page * page, moved_up_to_);
  if (bytes <= space_.capacity() - to) {
    if (const std::size_t moved = move_pages(data, bytes, space_.data() + to); moved != 0) {
      moved_up_to_ = to + moved;
      return;
    }
  }
  release_pages(data, bytes);
}

void AnswerFeed::finish(std::size_t keep) {
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  std::size_t released = keep;
  for (;;) {
    // Only the bytes still to be checked (a sequence cut off by a read)
    // must stay beside the kept start.
    const std::size_t upto = fault_ ? filled_ : valid_;
    if (upto > released) {
      release_pages(space_.data() + released, upto - released);
      released = std::max(released, upto / page * page);
    }
    if (!pull()) break;
  }
}

}  // namespace kestrix::plugins
