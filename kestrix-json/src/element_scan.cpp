#include "kestrix/json/element_scan.h"

#include "reader_bytes.h"

namespace kestrix::json {

using detail::is_ws;

ElementScan ElementScan::record_start(std::size_t from, std::string_view member) {
  ElementScan scan(from, State::RecordOpen);
  scan.member_ = member;
  return scan;
}

ElementScan ElementScan::array_start(std::size_t from) { return {from, State::ArrayOpen}; }

ElementScan ElementScan::element(std::size_t from) { return {from, State::Value}; }

ElementScan ElementScan::after_element(std::size_t end) { return {end, State::Separator}; }

void ElementScan::value_ended(std::size_t end) {
  pos_ = end;
  state_ = State::Separator;
}

ElementScan::Verdict ElementScan::scan(std::string_view text) {
  const std::size_t size = text.size();
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  // White space never decides anything: every state but the inner ones
  // skips it first.
  const auto skip_ws = [&] {
    while (pos_ < size && is_ws(byte(pos_))) ++pos_;
    return pos_ < size;
  };
  for (;;) {
    switch (state_) {
      case State::RecordOpen:
        if (!skip_ws()) return Verdict::More;
        if (text[pos_] == '[') {
          ++pos_;
          state_ = State::ArrayFirst;
        } else if (text[pos_] == '{') {
          ++pos_;
          state_ = State::RecordKey;
        } else {
          state_ = State::Rest;
        }
        break;
      case State::RecordKey:
        // `"member"` spelled plainly, right after the brace; any other first
        // member, or an escape in its name, leaves the reader the whole text.
        if (matched_ == 0 && !skip_ws()) return Verdict::More;
        while (matched_ < member_.size() + 2) {
          if (pos_ >= size) return Verdict::More;
          const char want = matched_ == 0 || matched_ == member_.size() + 1 ? '"'
                                                                            : member_[matched_ - 1];
          if (text[pos_] != want) {
            state_ = State::Rest;
            break;
          }
          ++pos_;
          ++matched_;
        }
        if (state_ == State::RecordKey) state_ = State::RecordColon;
        break;
      case State::RecordColon:
        if (!skip_ws()) return Verdict::More;
        if (text[pos_] != ':') {
          state_ = State::Rest;
          break;
        }
        needed_ = pos_;
        state_ = State::Needs;
        break;
      case State::ArrayOpen:
        if (!skip_ws()) return Verdict::More;
        if (text[pos_] != '[') {
          state_ = State::Rest;
          break;
        }
        ++pos_;
        state_ = State::ArrayFirst;
        break;
      case State::ArrayFirst:
        if (!skip_ws()) return Verdict::More;
        // An empty array ends the elements before any has begun.
        if (text[pos_] == ']') {
          state_ = State::Rest;
          break;
        }
        needed_ = pos_;
        state_ = State::Needs;
        break;
      case State::Value:
        if (!skip_ws()) return Verdict::More;
        if (text[pos_] == '{' || text[pos_] == '[') {
          depth_ = 1;
          state_ = State::Container;
        } else if (text[pos_] == '"') {
          in_string_ = true;
          state_ = State::String;
        } else {
          state_ = State::Scalar;
        }
        ++pos_;
        break;
      case State::Container:
      case State::String:
        for (; pos_ < size; ++pos_) {
          const char c = text[pos_];
          if (in_string_) {
            if (escaped_) {
              escaped_ = false;
            } else if (c == '\\') {
              escaped_ = true;
            } else if (c == '"') {
              in_string_ = false;
              if (depth_ == 0) break;
            }
          } else if (c == '"') {
            in_string_ = true;
          } else if (c == '{' || c == '[') {
            ++depth_;
          } else if ((c == '}' || c == ']') && --depth_ == 0) {
            break;
          }
        }
        if (pos_ >= size) return Verdict::More;
        value_ended(pos_ + 1);
        break;
      case State::Scalar:
        while (pos_ < size && !is_ws(byte(pos_)) && text[pos_] != ',' && text[pos_] != ']' &&
               text[pos_] != '}' && text[pos_] != '[' && text[pos_] != '{' && text[pos_] != '"' &&
               text[pos_] != ':')
          ++pos_;
        if (pos_ >= size) return Verdict::More;
        value_ended(pos_);
        break;
      case State::Separator:
        if (!skip_ws()) return Verdict::More;
        // After the last element the reader goes on to whatever follows the
        // array; only a comma promises another element.
        if (text[pos_] != ',') {
          state_ = State::Rest;
          break;
        }
        ++pos_;
        state_ = State::NextElement;
        break;
      case State::NextElement:
        if (!skip_ws()) return Verdict::More;
        needed_ = pos_;
        state_ = State::Needs;
        break;
      case State::Needs:
        return size > needed_ + MARGIN ? Verdict::Enough : Verdict::More;
      case State::Rest:
        return Verdict::Rest;
    }
  }
}

}  // namespace kestrix::json
