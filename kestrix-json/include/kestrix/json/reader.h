// A streaming JSON reader that decodes straight into typed records.
//
// The reader walks the text once, validating as it goes, and reports the
// first fault with the messages and positions of a typed, serde-style
// decoder ("missing field `id` at line 3 column 7"). Records, sequences and
// maps are read with the helpers in record.h; arbitrary values are built as
// nlohmann::json. Nesting of arrays and objects is limited to MAX_DEPTH.
//
// Every bool function returns false, and every step Step::Failed, after
// recording the first failure; once a read has failed the reader is only
// good for error() / message().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace kestrix::json {

inline constexpr int MAX_DEPTH = 128;

// The message of a decode that ran out of memory; reader messages always
// end in a position, so it cannot be mistaken for one.
inline constexpr std::string_view OUT_OF_MEMORY = "out of memory";

struct DecodeError {
  std::string description;  // "missing field `id`"
  std::size_t offset = 0;   // the position is that of this byte offset
};

// Where a byte offset lies: its line (from 1) and the offset that line
// starts at.
struct LinePosition {
  std::size_t offset = 0;
  std::size_t line = 1;
  std::size_t line_start = 0;
};

// "<description> at line L column C": lines from 1, C bytes read on line L.
// Counting starts at `from`, so the text before it need not be there any more.
std::string describe(std::string_view text, const DecodeError& error, LinePosition from = {});

// What read_f64 gives for `number`, which holds one number in JSON's
// syntax; false when it is too large for a double.
bool f64_of(std::string_view number, double& out);

class Reader {
 public:
  // A number as the text has it: an unsigned or negative integer when it
  // has neither fraction nor exponent and fits 64 bits, otherwise a float.
  struct Number {
    enum Kind { U64, I64, F64 } kind = U64;
    std::uint64_t u = 0;
    std::int64_t i = 0;
    double f = 0;
  };

  explicit Reader(std::string_view text) : text_(text) {}

  bool read_f64(double& out);
  bool read_u32(std::uint32_t& out);
  bool read_i64(std::int64_t& out);
  bool read_bool(bool& out);
  bool read_string(std::string& out);
  // Any JSON value, kept whole (a later duplicate key replaces an earlier).
  bool read_value(nlohmann::json& out);
  // Any JSON value, validated and dropped.
  bool skip_value();
  // Consumes a `null` if one comes next; otherwise consumes nothing.
  bool take_null(bool& was_null);
  // Only white space may follow the document.
  bool finish();

  // Bytes read so far, and bytes left; the whole text, which a caller may
  // keep views into (an element's text lies between two offsets).
  std::size_t offset() const { return pos_; }
  std::string_view text() const { return text_; }
  std::size_t remaining() const { return text_.size() - pos_; }
  // For a text that arrives in pieces: `text` has the same start and holds
  // all of the old one, and more (see element_scan.h for when to call).
  void extend(std::string_view text) { text_ = text; }
  // Steps over a value that the caller has checked by other means (skim.h)
  // and that ends at `end`.
  void step_over(std::size_t end) {
    pos_ = end;
    first_ = false;
  }
  // A reader of the same text that goes on at `offset`, within the array
  // this one is in, as at its first element: next_element() takes no comma
  // before it. For reading a long array's second half on another thread.
  Reader resumed_at(std::size_t offset) const {
    Reader other(text_);
    other.pos_ = offset;
    other.remaining_depth_ = remaining_depth_;
    return other;
  }
  // Fails with the fault `other` found, as if this reader had found it.
  bool fail_as(const Reader& other) { return fail_at(other.error_.offset, other.error_.description); }

  // Name comparisons made by the duplicate checks of unknown members.
  std::size_t key_comparisons() const { return key_comparisons_; }
  void count_key_comparison() { ++key_comparisons_; }

  const DecodeError& error() const { return error_; }
  std::string message() const { return describe(text_, error_, counted_); }

  // Counts the lines up to `offset`, which must not lie past the current
  // position, so that messages no longer need the text before it: a caller
  // that owns the text may then give that part's memory back.
  void count_lines_to(std::size_t offset);

  // --- Building blocks for record.h -------------------------------------
  enum class Accept { Array, Object, Both };
  enum class Container { None, Array, Object };  // None: the open failed
  // One step through an open container: another member follows, the
  // container ends, or the text is at fault (recorded).
  enum class Step { More, End, Failed };

  // Opens the next value as an array or object (one nesting level deeper)
  // when that form is accepted. Anything else fails with "invalid type:
  // <found>, expected <expected_prefix><expected_name>", or with the
  // reader's own errors for malformed input, end of input and depth.
  Container open(Accept accept, std::string_view expected_prefix,
                 std::string_view expected_name = {});
  // Steps to the next element of the array opened last.
  Step next_element() { return step(']', false); }
  // Steps to the next member of the object opened last and sets `key`,
  // which stays valid until the next call; colon() then leads to the value.
  Step next_key(std::string_view& key) { return step_key(key, false); }
  bool colon();
  // Close the array or object opened last. With a `pending` description (an
  // error the record visitor raised) closing is still attempted, and the
  // pending error is recorded at the offset where closing stopped.
  bool close_array(const std::string* pending = nullptr);
  bool close_object(const std::string* pending = nullptr);

 private:
  int peek_ws();  // the next byte after white space, or -1 at the end
  bool fail_at(std::size_t offset, std::string description);
  bool fail_here(std::string description) { return fail_at(pos_, std::move(description)); }
  bool fail_peek(std::string description);
  Step failed(std::string description) {
    fail_peek(std::move(description));
    return Step::Failed;
  }
  // null, true or false, told apart by its first byte `c`, which is next.
  bool literal(int c);
  // Members of arrays and objects are separated alike. Inside a skipped
  // value, what follows an opening bracket or a comma is left for the
  // member's own read to judge, which words some faults differently.
  Step step(char close, bool skipping);
  Step step_key(std::string_view& key, bool skipping);
  // Any value: built into `out`, or only validated when it is null.
  bool walk(nlohmann::json* out);
  bool scan_number(Number& n, bool convert);
  bool scan_string(std::string* out);
  bool invalid_type(std::string_view expected_prefix, std::string_view expected_name);
  bool read_number(Number& n, std::string_view expected);
  bool enter();
  // Steps over the closing bracket of the container entered last; the
  // container around it now has a member behind it.
  bool leave() {
    ++pos_;
    ++remaining_depth_;
    first_ = false;
    return true;
  }
  bool end_seq();
  bool end_map();

  std::string_view text_;
  std::size_t pos_ = 0;
  int remaining_depth_ = MAX_DEPTH;
  bool first_ = true;  // nothing read yet in the container opened last
  DecodeError error_;
  std::string scratch_;  // keys that hold escapes
  LinePosition counted_;
  std::size_t key_comparisons_ = 0;
};

}  // namespace kestrix::json
