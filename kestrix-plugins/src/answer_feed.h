// A helper's answer decoded while it arrives. The answer goes into address
// space reserved for it, which never moves, so the reader's views stay
// valid as it grows; what the decode has passed is given back. However long
// the answer, memory holds the part not yet decoded and the start that
// failure messages quote.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "kestrix/json/element_scan.h"
#include "kestrix/pages.h"
#include "kestrix/utf8.h"
#include "stream_readers.h"

namespace kestrix::plugins {

class AnswerFeed {
 public:
  AnswerFeed(ReservedBytes space, ByteSource& source);

  // What has arrived, as far as it is known to be valid UTF-8: a decode
  // never sees a byte the check has not passed.
  std::string_view text() const { return {space_.data(), valid_}; }
  char* data() const { return space_.data(); }
  // Reads on until `scan` has enough, or to the end; then text().
  std::string_view ensure(json::ElementScan scan);
  // Gives back the memory of a part of the answer the decode has passed.
  // Its pages are moved on to take the reads to come, where there is room
  // for them: reading into pages the system hands out afresh costs it their
  // clearing, about as much as the read itself.
  void give_back(char* data, std::size_t bytes);
  // Reads to the end, for the checks of the whole answer, and gives back
  // the memory of everything but the first `keep` bytes.
  void finish(std::size_t keep);

  // More bytes came than the space could take; the rest was not read.
  bool too_large() const { return too_large_; }
  // The first UTF-8 fault, once finish() has read to the end.
  const std::optional<utf8::Fault>& utf8_fault() const { return fault_; }

 private:
  // One read; false at the end.
  bool pull();
  void check_utf8();

  ReservedBytes space_;
  ByteSource& source_;
  std::size_t filled_ = 0;
  std::size_t valid_ = 0;
  std::size_t moved_up_to_ = 0;  // where the pages moved on end
  bool ended_ = false;
  bool too_large_ = false;
  std::optional<utf8::Fault> fault_;
};

}  // namespace kestrix::plugins
