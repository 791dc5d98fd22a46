#include "snapshot_gen.h"

#include <cmath>
#include <random>

#include "kestrix/json/numbers.h"

namespace kestrix::bench {

namespace {

void figures(std::string& out, std::mt19937_64& rng, bool limits, Figures kind) {
  std::uniform_real_distribution<double> usage_dist(0.0, 400.0);
  auto usage = [&](std::mt19937_64& g) {
    double v = usage_dist(g);
    return kind == Figures::Rounded ? std::round(v * 100) / 100 : v;
  };
  auto num = [&](double v) { json::append_f64(out, v); };
  out += R"({"cpu":{"all":)";
  num(limits ? 100.0 : usage(rng));
  out += R"(,"mysql":)";
  num(limits ? 0.0 : usage(rng) / 10);
  out += R"(},"io":{"all":)";
  num(limits ? 1048576.0 : usage(rng) * 1024);
  out += R"(,"mysql":)";
  num(limits ? 0.0 : usage(rng) * 100);
  out += R"(},"iops":)";
  num(limits ? 1024.0 : usage(rng));
  out += R"(,"ep":)";
  num(limits ? 20.0 : static_cast<double>(rng() % 20));
  out += R"(,"mem":)";
  num(limits ? 1073741824.0 : static_cast<double>(rng() % 1073741824));
  out += R"(,"pno":)";
  num(limits ? 100.0 : static_cast<double>(rng() % 100));
  out += '}';
}

}  // namespace

std::string generate_snapshot(std::size_t rows, Figures kind) {
  std::mt19937_64 rng(20261208);
  std::string out;
  out.reserve(rows * 330 + 256);
  out += R"({"timestamp":1765180800.25,"users":[)";
  for (std::size_t i = 0; i < rows; ++i) {
    if (i) out += ',';
    const std::string n = std::to_string(i);
    out += R"({"id":)" + std::to_string(1000 + i);
    out += R"(,"username":"user)" + n + R"(","domain":"site)" + n + R"(.example","reseller":")";
    out += (i % 50 == 0) ? "" : "reseller" + std::to_string(i % 7);
    out += R"(","usage":)";
    figures(out, rng, false, kind);
    out += R"(,"limit":)";
    figures(out, rng, true, kind);
    if (i % 97 == 0) {
      out += R"(,"restricted":true,"restriction":{"time":1765180000,"reason":"Violated the cpu limit"})";
    } else {
      out += R"(,"restricted":false)";
    }
    out += '}';
  }
  out += R"(],"resellers":[{"id":1000000002,"name":""},{"id":1003}]})";
  return out;
}

}  // namespace kestrix::bench
