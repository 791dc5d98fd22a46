// How much of a JSON text that arrives in pieces a Reader must have before
// its next step, so that it never meets the end of what has arrived where
// the whole text goes on.
//
// A long array is read an element at a time: before each one the scan finds
// where the element ends, the comma behind it and the first byte of the next
// element; after the last one the reader needs the rest of the text. The
// scan knows only strings, escapes and brackets. A reader takes no more of
// an element than the scan does, since it stops at the first fault, and it
// looks ahead of its position by a few bytes at most (an escape's digits, a
// literal's letters), which MARGIN covers.
#pragma once

#include <cstddef>
#include <string_view>

namespace kestrix::json {

class ElementScan {
 public:
  static constexpr std::size_t MARGIN = 64;

  enum class Verdict {
    More,    // the text must grow before anything can be said
    Enough,  // the step can be read from the text as it is
    Rest,    // the step needs the whole text, to its end
  };

  // At the start of a record whose first member is `member` (object form)
  // or of any array (array form): enough once the reader can reach the
  // member's value or the array's first element.
  static ElementScan record_start(std::size_t from, std::string_view member);
  // Before an array: enough once its first element has begun.
  static ElementScan array_start(std::size_t from);
  // At an element of the array (white space may come first).
  static ElementScan element(std::size_t from);
  // Behind an element that has arrived whole and ends at `end`.
  static ElementScan after_element(std::size_t end);

  // Scans on from where the last call stopped; `text` is the same text each
  // time, longer or as long.
  Verdict scan(std::string_view text);

 private:
  enum class State {
    RecordOpen,
    RecordKey,
    RecordColon,
    ArrayOpen,
    ArrayFirst,
    Value,
    Container,
    String,
    Scalar,
    Separator,
    NextElement,
    Needs,  // `needed_` is known
    Rest,
  };
  ElementScan(std::size_t from, State state) : pos_(from), state_(state) {}
  // The value that began at pos_ has ended at `end`.
  void value_ended(std::size_t end);

  std::size_t pos_;
  State state_;
  std::string_view member_;
  std::size_t matched_ = 0;  // bytes of `"member"` seen
  std::size_t depth_ = 0;
  bool in_string_ = false;
  bool escaped_ = false;
  std::size_t needed_ = 0;  // the text must hold this byte, and MARGIN more
};

}  // namespace kestrix::json
