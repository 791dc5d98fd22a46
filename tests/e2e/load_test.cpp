// Runs side by side on a machine kept busy by the test's own hogs: each
// run prints its whole document, every time.
#include <atomic>
#include <mutex>
#include <thread>

#include "fixtures.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

using Load = E2E;

TEST_F(Load, EveryRunPrintsItsWholeDocumentOnABusyMachine) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> hogs;
  for (unsigned i = 0; i < 2 * std::max(1u, std::thread::hardware_concurrency()); ++i)
    hogs.emplace_back([&stop] {
      while (!stop.load(std::memory_order_relaxed)) {
      }
    });

  struct Caller {
    std::optional<unsigned> uid;
    std::vector<std::string> args;
  };
  const std::vector<Caller> callers = {{std::nullopt, {"--json"}},
                                       {std::nullopt, {"--json", "--for-reseller", "rita"}},
                                       {ALICE, {"--json"}}};
  const auto until = std::chrono::steady_clock::now() + 8s;
  std::mutex lock;
  std::vector<std::string> faults;
  std::vector<int> runs(callers.size());
  std::vector<std::thread> runners;
  for (std::size_t i = 0; i < callers.size(); ++i)
    runners.emplace_back([&, i] {
      Sandbox box;
      box.write(SNAPSHOT,
                snapshot({row(ALICE, "alice", 3), row(BOB, "bob", 2), row(RITA, "rita", 1)}));
      box.install_dbadm();
      box.data("users.tsv", "1001\talice\talice.test\trita\n1002\tbob\tbob.test\trita\n");
      box.data("resellers.tsv", "rita\talice\nrita\tbob\n");
      box.data("limits.tsv", "alice\t10\t20\nbob\t11\t21\n");
      box.data("answer-after", "0.02");
      const RunOptions opts{.uid = callers[i].uid, .timeout = 60s};
      std::string expected;
      do {
        const RunResult r = box.run(callers[i].args, opts);
        if (expected.empty() && r.status == 0 && r.out.ends_with("}\n")) expected = r.out;
        ++runs[i];
        if (r.status != 0 || r.out != expected) {
          std::lock_guard hold(lock);
          faults.push_back(::testing::PrintToString(r));
        }
      } while (std::chrono::steady_clock::now() < until);
    });
  for (auto& t : runners) t.join();
  stop = true;
  for (auto& t : hogs) t.join();

  for (std::size_t i = 0; i < callers.size(); ++i) EXPECT_GE(runs[i], 2) << "caller " << i;
  EXPECT_TRUE(faults.empty()) << faults.size() << " runs went wrong; the first:\n"
                              << faults.front();
}

}  // namespace
}  // namespace e2e
