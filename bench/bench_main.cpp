// Throughput of the snapshot path on a 100,000-row snapshot.
#include <benchmark/benchmark.h>
#include <simdjson.h>

#include "kestrix/json/writer.h"
#include "report.h"
#include "selection.h"
#include "snapshot.h"
#include "snapshot_gen.h"

namespace {

constexpr std::size_t ROWS = 100000;

const std::string& snapshot_text(kestrix::bench::Figures kind = kestrix::bench::Figures::FullPrecision) {
  static const std::string full = kestrix::bench::generate_snapshot(ROWS);
  static const std::string rounded =
      kestrix::bench::generate_snapshot(ROWS, kestrix::bench::Figures::Rounded);
  return kind == kestrix::bench::Figures::Rounded ? rounded : full;
}

// Arg 0: figures of full precision; arg 1: figures rounded to two decimals.
kestrix::bench::Figures figures_of(const benchmark::State& state) {
  return state.range(0) ? kestrix::bench::Figures::Rounded
                        : kestrix::bench::Figures::FullPrecision;
}

void BM_DecodeSnapshot(benchmark::State& state) {
  const std::string& text = snapshot_text(figures_of(state));
  for (auto _ : state) {
    auto data = kestrix::cli::decode_snapshot(text);
    if (!data) state.SkipWithError(data.error().c_str());
    benchmark::DoNotOptimize(data);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_DecodeSnapshot)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The yardstick: a fresh DOM parser each time, so allocation is included.
void BM_SimdjsonFirstDomParse(benchmark::State& state) {
  const simdjson::padded_string padded(snapshot_text(figures_of(state)));
  for (auto _ : state) {
    simdjson::dom::parser parser;
    simdjson::dom::element doc;
    auto error = parser.parse(padded).get(doc);
    if (error) state.SkipWithError(simdjson::error_message(error));
    benchmark::DoNotOptimize(doc);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * padded.size()));
}
BENCHMARK(BM_SimdjsonFirstDomParse)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

class NullSink final : public kestrix::json::Sink {
 public:
  void write(std::string_view text) override { bytes += text.size(); }
  std::size_t bytes = 0;
};

void BM_RenderReport(benchmark::State& state) {
  kestrix::cli::ReportDocument doc;
  const auto data = kestrix::cli::decode_snapshot(snapshot_text());
  for (const auto& entry : data->users)
    doc.users.push_back(kestrix::cli::decode_row(entry.text).value());
  doc.warden.state = "enabled";
  doc.warden_mode = "all";
  std::size_t bytes = 0;
  for (auto _ : state) {
    NullSink sink;
    kestrix::cli::render_report(doc, sink);
    bytes = sink.bytes;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_RenderReport)->Unit(benchmark::kMillisecond);

// Sorting all rows, then walking them until --max rows are accepted.
void BM_SortAndSelect(benchmark::State& state) {
  kestrix::cli::Cli cli;
  cli.json = true;
  cli.order_by = "io";
  const auto rows =
      kestrix::cli::decode_snapshot(snapshot_text(), kestrix::cli::usage_key(cli.order_by))->users;
  cli.max = static_cast<std::uint64_t>(state.range(0));
  kestrix::cli::NamesByUid names;
  kestrix::cli::PanelInfoByUid panel;
  kestrix::cli::NameSet admins;
  std::optional<std::vector<std::string>> allowed;
  kestrix::core::DbUsageTable db;
  kestrix::plugins::WardLimitsMap limits;
  std::string mode = "all";
  const kestrix::cli::SelectionInputs in{cli, names, panel, admins, allowed, db, limits, true, mode};
  for (auto _ : state) {
    state.PauseTiming();
    auto copy = rows;
    state.ResumeTiming();
    auto order = kestrix::cli::sort_order(copy, cli.order_by, db, names);
    auto out = kestrix::cli::select_rows(copy, order, in);
    benchmark::DoNotOptimize(out);
  }
}
BENCHMARK(BM_SortAndSelect)->Arg(25)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
