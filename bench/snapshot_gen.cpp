#include "snapshot_gen.h"

#include <cmath>
#include <cstdint>
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

// As a sampler writes them: usage to two decimals, counters and limits whole,
// and members equal to their defaults (the limits' "mysql" parts) left out.
void sampled_figures(std::string& out, std::mt19937_64& rng, bool limits) {
  if (limits) {
    out += R"({"cpu":{"all":100},"io":{"all":1048576},"iops":1024,"ep":20,"mem":1073741824,"pno":100})";
    return;
  }
  std::uniform_real_distribution<double> usage_dist(0.0, 400.0);
  auto dec = [&](double scale) { json::append_f64(out, std::round(usage_dist(rng) * scale) / 100); };
  auto whole = [&](std::uint64_t v) { out += std::to_string(v); };
  out += R"({"cpu":{"all":)";
  dec(100);
  out += R"(,"mysql":)";
  dec(10);
  out += R"(},"io":{"all":)";
  whole(static_cast<std::uint64_t>(usage_dist(rng) * 1024));
  out += R"(,"mysql":)";
  whole(static_cast<std::uint64_t>(usage_dist(rng) * 100));
  out += R"(},"iops":)";
  dec(100);
  out += R"(,"ep":)";
  whole(rng() % 20);
  out += R"(,"mem":)";
  whole(rng() % 1073741824);
  out += R"(,"pno":)";
  whole(rng() % 100);
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
    // Rows the daemon could not place; the panel fills them in.
    const bool no_reseller = i % (kind == Figures::Sampled ? 10 : 50) == 0;
    out += no_reseller ? "" : "reseller" + std::to_string(i % 7);
    out += R"(","usage":)";
    if (kind == Figures::Sampled) {
      sampled_figures(out, rng, false);
      out += R"(,"limit":)";
      sampled_figures(out, rng, true);
    } else {
      figures(out, rng, false, kind);
      out += R"(,"limit":)";
      figures(out, rng, true, kind);
    }
    if (i % 97 == 0) {
      out += R"(,"restricted":true,"restriction":{"time":1765180000,"reason":"Violated the cpu limit"})";
    } else if (kind != Figures::Sampled) {
      out += R"(,"restricted":false)";
    }
    out += '}';
  }
  out += R"(],"resellers":[{"id":1000000002,"name":""},{"id":1003}]})";
  return out;
}

std::string generate_passwd(std::size_t accounts) {
  std::string out =
      "root:x:0:0:root:/root:/bin/sh\n"
      "daemon:x:1:1:daemon:/usr/sbin:/usr/sbin/nologin\n"
      "nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin\n";
  out.reserve(out.size() + accounts * 48);
  for (std::size_t i = 0; i < accounts; ++i) {
    const std::string n = std::to_string(i);
    const std::string id = std::to_string(1000 + i);
    out += "user" + n + ":x:" + id + ":" + id + "::/home/user" + n + ":/bin/sh\n";
  }
  return out;
}

std::string generate_user_info(std::size_t accounts) {
  std::string out = R"({"users": [)";
  out.reserve(accounts * 190 + 64);
  for (std::size_t i = 0; i < accounts; ++i) {
    if (i) out += ", ";
    const std::string n = std::to_string(i);
    out += R"({"uid": )" + std::to_string(1000 + i);
    out += R"(, "username": "user)" + n + R"(", "email": "user)" + n + R"(@example.test")";
    out += R"(, "domain": "site)" + n + R"(.example", "locale": "en_US", "reseller": ")";
    out += "reseller" + std::to_string(i % 7);  // also where the snapshot has none
    out += R"(", "display_name": "Account )" + n + R"("})";
  }
  out += R"(], "unresolved": []})";
  out += '\n';
  return out;
}

}  // namespace kestrix::bench
