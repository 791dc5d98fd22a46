// The output contract: every document run() receives is checked against the
// published schema; these tests show the check is wired in and has teeth.
#include <filesystem>

#include "fixtures.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// Needs no root: the check runs on the host, outside any sandbox.
TEST(OutputContract, CheckRejectsWhatBreaksTheContract) {
  Sandbox box;
  const std::string daemon = "{\n  \"result\": \"Kestrix is stopped\",\n  \"timestamp\": 1700000000.0\n}\n";
  EXPECT_EQ(box.document_faults(daemon), "");

  const struct {
    std::string text, fault;
  } broken[] = {
      {"{\n  \"result\": \"Kestrix is stopped\"\n}\n", "timestamp"},
      {"{\n  \"result\": \"Kestrix is stopped\",\n  \"timestamp\": 1700000000\n}\n", "written as an integer"},
      {"{\n  \"context\": {},\n  \"result\": \"Kestrix is stopped\",\n  \"timestamp\": 1700000000.0\n}\n", "context"},
      {"{\n  \"result\": \"Kestrix is stopped\",\n  \"timestamp\": 1700000000.0\n}", "final line feed"},
      {"{\"result\": \"Kestrix is stopped\", \"timestamp\": 1700000000.0}\n", "layout"},
  };
  for (const auto& b : broken) {
    const std::string faults = box.document_faults(b.text);
    EXPECT_NE(faults.find(b.fault), std::string::npos) << b.text << "gave:\n" << faults;
  }
}

using OutputContractE2E = E2E;

// The bundled demo environment, as scripts/demo shows it; run() checks each
// document, the test only makes sure there was a full report to check.
TEST_F(OutputContractE2E, DemoReportsKeepTheContract) {
  fs::copy(E2E_DEMO_DIR, sb().dir() + "/fs", fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  sb().install_dbadm();
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--json"}, {"--json", "--for-reseller", "hostco", "--order-by", "io"}, {"--json", "--hide-mysql"}}) {
    const RunResult r = sb().run(args);
    ASSERT_EQ(r.status, 0) << r;
    const json doc = report(r);
    EXPECT_EQ(doc.value("result", ""), "success") << r;
    EXPECT_FALSE(doc["users"].empty()) << r;
  }
}

}  // namespace
}  // namespace e2e
