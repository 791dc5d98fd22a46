#include "driver.h"

#include <csignal>
#include <unistd.h>

#include "output.h"
#include "report.h"
#include "snapshot.h"

namespace kestrix::cli {

namespace {

// Prints the report; 0 on success, 1 when standard output failed.
int print_report(const ReportDocument& doc) {
  FdSink out(STDOUT_FILENO);
  render_report(doc, out);
  if (out.error() != 0) {
    report_write_failure(out.error());
    return 1;
  }
  return 0;
}

}  // namespace

int run(const std::vector<std::string>&) {
  // A reader that goes away ends us quietly, like any filter.
  std::signal(SIGPIPE, SIG_DFL);

  auto snapshot = read_saved_top_data(whole_seconds_now());
  if (!snapshot) {
    print_stderr(error_report(snapshot.error()));
    return 1;
  }

  ReportDocument doc;
  doc.timestamp = snapshot->timestamp;
  doc.users = std::move(snapshot->users);
  doc.resellers = std::move(snapshot->resellers);
  doc.warden.state = "disabled";
  doc.warden_mode = "none";
  return print_report(doc);
}

}  // namespace kestrix::cli
