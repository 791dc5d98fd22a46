// Decoding time stays linear in the input. The input is a template: a head,
// a member and a tail, split at the first two NUL bytes. The member is
// repeated until the document is a quarter of a megabyte, with every "@" in
// it replaced by the member's number, so distinct keys come cheap. Each
// decoder must then take CPU time within a fixed multiple of the reference
// parser's linear pass over the same text: a quadratic walk over tens of
// thousands of members misses that bound by orders of magnitude.
#include <time.h>

#include <string>

#include "checks.h"
#include "kestrix/core/dbpeek.h"
#include "kestrix/json/record.h"
#include "kestrix/plugins/pnx.h"
#include "kestrix/plugins/ward_helper.h"
#include "oracle.h"
#include "snapshot.h"

namespace kestrix::fuzz {
namespace {

constexpr std::size_t DOCUMENT_BYTES = 256 * 1024;
// Generous: the bound must hold on a loaded machine and in any build.
constexpr double TIMES_REFERENCE = 40.0;
constexpr double SLACK_SECONDS = 0.05;

double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

template <class F>
double timed(F&& f) {
  const double start = cpu_seconds();
  f();
  return cpu_seconds() - start;
}

std::string expand(std::string_view input) {
  const std::size_t a = input.find('\0');
  if (a == std::string_view::npos) return std::string();
  const std::size_t b = input.find('\0', a + 1);
  if (b == std::string_view::npos) return std::string();
  const std::string_view head = input.substr(0, a), member = input.substr(a + 1, b - a - 1),
                         tail = input.substr(b + 1);
  std::string doc(head);
  if (member.empty()) return doc.append(tail);
  for (std::size_t n = 0; doc.size() < DOCUMENT_BYTES; ++n) {
    for (char c : member) {
      if (c == '@') doc += std::to_string(n);
      else doc += c;
    }
  }
  return doc.append(tail);
}

}  // namespace

const char* check_decode_growth(std::string_view input) {
  const std::string doc = expand(input);
  // The reference parser stops at a NUL or a bad UTF-8 byte where the
  // decoders, which only ever see checked text, read on: no bound there.
  if (doc.empty() || !json_judgeable(doc)) return nullptr;
  // Best of two for the reference, so that a stall there cannot tighten the bound.
  const double reference = std::min(timed([&] { (void)nlohmann::json::accept(doc); }),
                                    timed([&] { (void)nlohmann::json::accept(doc); }));
  const double bound = TIMES_REFERENCE * reference + SLACK_SECONDS;
  if (timed([&] { (void)cli::decode_snapshot(doc); }) > bound) return "snapshot decoding not linear";
  if (timed([&] { (void)core::decode_dbpeek_file(doc); }) > bound)
    return "usage file decoding not linear";
  if (timed([&] { (void)plugins::parse_user_lookup(doc); }) > bound)
    return "user-info-sys decoding not linear";
  if (timed([&] { (void)plugins::parse_ward_limits(doc); }) > bound)
    return "limits decoding not linear";
  if (timed([&] { (void)plugins::parse_name_list(doc, "admins"); }) > bound)
    return "name list decoding not linear";
  if (timed([&] { (void)json::decode<nlohmann::json>(doc); }) > bound)
    return "value decoding not linear";
  return nullptr;
}

}  // namespace kestrix::fuzz
