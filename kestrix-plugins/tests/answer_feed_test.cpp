#include "answer_feed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "arriving_panel_accounts.h"
#include "kestrix/testing/byte_changes.h"

namespace kestrix::plugins {
namespace {

// Hands a text over `chunk` bytes a read.
class ChunkedSource final : public ByteSource {
 public:
  ChunkedSource(std::string_view text, std::size_t chunk) : text_(text), chunk_(chunk) {}
  std::size_t read(char* at, std::size_t room) override {
    const std::size_t n = std::min({chunk_, room, text_.size() - pos_});
    std::memcpy(at, text_.data() + pos_, n);
    pos_ += n;
    return n;
  }

 private:
  std::string_view text_;
  std::size_t chunk_;
  std::size_t pos_ = 0;
};

struct Arrived {
  Result<PanelAccountsByUid> decoded;
  std::optional<utf8::Fault> fault;
  bool too_large;
};

Arrived arrive(std::string_view answer, std::size_t chunk, std::size_t space) {
  ChunkedSource source(answer, chunk);
  AnswerFeed feed(*ReservedBytes::reserve(space), source);
  auto decoded = decode_arriving_panel_accounts(feed, 16);
  return {std::move(decoded), feed.utf8_fault(), feed.too_large()};
}

std::string fault_text(const std::optional<utf8::Fault>& fault) {
  return fault ? utf8::fault_text(*fault) : "valid";
}

// Whichever way the answer arrives, the verdict is that of the whole text:
// its UTF-8 fault first, then the decode's table or message.
void expect_as_whole(std::string_view answer, std::initializer_list<std::size_t> chunks) {
  const auto fault = utf8::first_fault(answer);
  const auto whole = parse_panel_accounts(answer);
  for (const std::size_t chunk : chunks) {
    const Arrived got = arrive(answer, chunk, answer.size() + 4096);
    ASSERT_FALSE(got.too_large);
    ASSERT_EQ(fault_text(got.fault), fault_text(fault)) << answer << " in reads of " << chunk;
    if (fault) continue;
    ASSERT_EQ(got.decoded.has_value(), whole.has_value()) << answer << " in reads of " << chunk;
    if (whole)
      ASSERT_EQ(*got.decoded, *whole) << answer;
    else
      ASSERT_EQ(got.decoded.error().message, whole.error().message) << " in reads of " << chunk;
  }
}

const std::string USER =
    R"({"uid": 1000, "username": "u", "email": "e", "domain": "a.example", "locale": "en",)"
    R"( "reseller": "r\"]}", "display_name": "\u00c9 \ud83d\ude00", "extra": [{"k": "]"}, 1.5e3, null]})";

TEST(ArrivingAnswer, IsDecodedAsTheWholeText) {
  const std::string answers[] = {
      R"({"users": [)" + USER + ", " + USER + R"(], "unresolved": [{"uid": -5, "reason": "gone"}]})",
      "\n{ \"users\" :\n[\n" + USER + "\n,\n" + USER + "\n]\n,\n\"unresolved\": [] }\n",
      R"([[[1000, "alice", "a@x", "a.example", "en", "res", ""], [7, "b", "", "", "", "", ""]], []])",
      R"({"unresolved": [], "users": [)" + USER + "]}",
      // Past the array, more than a step's margin.
      R"({"users": [)" + USER + R"(], "unresolved": [{"uid": 1, "reason": "one"},)"
          R"( {"uid": 2, "reason": "two"}, {"uid": 3, "reason": "three"}]})",
      R"({"users": [)" + USER + "]" + std::string(100, ' ') + "x",
      R"({"\u0075sers": [)" + USER + R"(], "unresolved": []})",
      R"({"users": [], "unresolved": []})",
      R"({"users": []})",
      R"({"users": [)" + USER + R"(], "unresolved": []} x)",
      R"({"users": [)" + USER + R"(], "users": [], "unresolved": []})",
      R"({"users": [)" + USER + R"(,], "unresolved": []})",
      R"({"users": [, )" + USER + R"(], "unresolved": []})",
      R"({"users": [1, "two", [3], {"uid": 4}], "unresolved": []})",
      R"({"users": null, "unresolved": []})",
      R"({"users": {"uid": 1}, "unresolved": []})",
      R"({"users": [)" + USER + " " + USER + R"(], "unresolved": []})",
      "",
      "   ",
      "[",
      "{\"users\": [" + std::string(300, ' ') + "]",
  };
  for (const std::string& answer : answers) expect_as_whole(answer, {1, 2, 3, 7, 64, 4096});
}

// Every cut of an answer, and every byte of it changed into one that
// matters to the structure, to strings or to UTF-8.
TEST(ArrivingAnswer, EveryCutAndEveryChangedByteIsReadAsInTheWholeText) {
  const std::string answer = R"({"users": [)" + USER + ",\n" + USER + ", " + USER +
                             R"(], "unresolved": [{"uid": 1, "reason": "x"}]})";
  for (std::size_t n = 0; n <= answer.size(); ++n) expect_as_whole(answer.substr(0, n), {1, 5});
  testing::for_each_changed_byte(answer, "\"\\[]{},: x0\xFF\xC3\xE2",
                                 [](const std::string& changed) { expect_as_whole(changed, {1, 5}); });
}

TEST(ArrivingAnswer, ALargeAnswerIsDecodedInSteps) {
  std::string records;
  for (int i = 0; i < 20000; ++i) {
    if (i > 0) records += ",\n";
    records += R"({"uid": )" + std::to_string(1000 + i) + R"(, "username": "u", "email": "e",)"
               R"( "domain": "d)" + std::to_string(i) + R"(.example", "locale": "en",)"
               R"( "reseller": "r", "display_name": "User \u00c9"})";
  }
  const std::string whole = "{\"users\": [\n" + records + "\n], \"unresolved\": []}\n";
  std::string faulty = whole;
  faulty.replace(faulty.rfind("\"uid\": ") + 7, 4, "\"x\"");
  for (const std::string& answer : {whole, faulty, whole.substr(0, whole.size() - 30)})
    expect_as_whole(answer, {4096, 65536, 1 << 20});
  EXPECT_EQ(arrive(whole, 65536, whole.size() + 4096).decoded->size(), 20000u);
}

TEST(ArrivingAnswer, UnfinishedUtf8IsWaitedForAndFaultsAreThoseOfTheWholeText) {
  // A character split by every read is whole in the end.
  const std::string split = R"({"users": [], "unresolved": [{"uid": 1, "reason": "ü€😀"}]})";
  expect_as_whole(split, {1, 2, 3});
  EXPECT_FALSE(arrive(split, 1, 4096).fault);
  // A fault after the decode has failed, and one cut off by the end.
  for (const std::string& answer : {std::string(R"({"users": [x]})") + "   \xFF",
                                   std::string(R"({"users": [], "unresolved": []})") + "\xF0\x9F"}) {
    for (const std::size_t chunk : {1, 4096}) {
      const Arrived got = arrive(answer, chunk, 4096);
      EXPECT_EQ(fault_text(got.fault), fault_text(utf8::first_fault(answer)));
    }
  }
}

TEST(ArrivingAnswer, MoreThanTheSpaceHoldsIsTooLarge) {
  const std::string answer = R"({"users": [)" + std::string(10000, ' ') + R"(], "unresolved": []})";
  const Arrived got = arrive(answer, 100, 4096);
  EXPECT_TRUE(got.too_large);
  EXPECT_FALSE(got.decoded);
  EXPECT_FALSE(arrive(answer, 100, 16384).too_large);
}

}  // namespace
}  // namespace kestrix::plugins
