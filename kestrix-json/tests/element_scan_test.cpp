#include "kestrix/json/element_scan.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrix::json {
namespace {

using Verdict = ElementScan::Verdict;

const std::string MARGIN(ElementScan::MARGIN, ' ');

// The verdict on `text` given whole, which must be the verdict of the same
// text arriving a byte at a time, and More before.
Verdict verdict(ElementScan scan, const std::string& text) {
  ElementScan stepwise = scan;
  for (std::size_t n = 0; n < text.size(); ++n) {
    const Verdict early = stepwise.scan(std::string_view(text).substr(0, n));
    if (early != Verdict::More) {
      ADD_FAILURE() << "decided at " << n << " bytes of " << text;
      return early;
    }
  }
  const Verdict whole = scan.scan(text);
  EXPECT_EQ(stepwise.scan(text), whole) << text;
  return whole;
}

TEST(ElementScan, AnElementIsEnoughWithTheCommaTheNextByteAndTheMargin) {
  // Brackets and quotes inside strings, escapes, nesting, scalars.
  const std::string elements[] = {
      R"({"a": "]}\"{[", "b": [1, {"c": [2, "\\"]}], "d": null})",
      R"("text with \" and ]")",
      "-12.5e3",
      "true",
      R"([[], {}, [[{"x": "}"}]]])",
  };
  for (const std::string& element : elements) {
    for (const std::string& between : {std::string(","), std::string(" \n,\t ")}) {
      const std::string text = "  " + element + between + "{" + MARGIN;
      EXPECT_EQ(verdict(ElementScan::element(0), text), Verdict::Enough) << text;
    }
    // The last element: the reader goes on past the array.
    for (const char* after : {"]", " ]", "}", " x"}) {
      const std::string text = element + after;
      EXPECT_EQ(ElementScan::element(0).scan(text), Verdict::Rest) << text;
    }
  }
  // A scan may begin anywhere in a text.
  EXPECT_EQ(ElementScan::element(4).scan("[1, 2, 3" + MARGIN), Verdict::Enough);
}

TEST(ElementScan, TheStartOfAnArrayOrRecordIsEnoughWhereItsElementsBegin) {
  EXPECT_EQ(verdict(ElementScan::array_start(0), " [ {" + MARGIN), Verdict::Enough);
  EXPECT_EQ(ElementScan::array_start(0).scan("[ ]"), Verdict::Rest);
  EXPECT_EQ(ElementScan::array_start(0).scan("null"), Verdict::Rest);

  const auto record = [] { return ElementScan::record_start(0, "users"); };
  EXPECT_EQ(verdict(record(), "\n{ \"users\" :" + MARGIN), Verdict::Enough);
  EXPECT_EQ(verdict(record(), "[ [" + MARGIN), Verdict::Enough);
  // Any other first member, or the member's name spelled another way,
  // leaves the whole text to the reader.
  for (const char* other : {R"({"unresolved": [], "users": []})", R"({"\u0075sers": [])",
                            R"({"user": [])", R"({"users2": [])", "{}", "\"users\""})
    EXPECT_EQ(record().scan(other), Verdict::Rest) << other;
}

}  // namespace
}  // namespace kestrix::json
