#include "driver.h"

#include <unistd.h>

#include <csignal>
#include <memory>
#include <utility>
#include <variant>

#include "caller.h"
#include "cli.h"
#include "kestrix/core/config.h"
#include "kestrix/core/daemon_status.h"
#include "kestrix/core/dbpeek.h"
#include "kestrix/core/kro_check.h"
#include "kestrix/core/system_users.h"
#include "kestrix/core/warden.h"
#include "kestrix/log.h"
#include "kestrix/plugins/child_guard.h"
#include "kestrix/plugins/pnx.h"
#include "kestrix/plugins/ward_helper.h"
#include "lookups.h"
#include "meanwhile.h"
#include "mysql_data.h"
#include "output.h"
#include "report.h"
#include "resellers.h"
#include "selection.h"
#include "snapshot.h"

namespace kestrix::cli {

namespace {

constexpr std::string_view TARGET = "kestrix_cli::driver";

// A failed lookup leaves its table empty; the log says why.
void log_lookup_failure(std::string_view what, const Error& error) {
  log::event(log::Level::Warn, TARGET, [&] { return std::string(what) + error.message; });
}

// A document is the last thing a run prints: its exit status stands unless
// standard output failed.
int print_document(std::string_view text, int status) { return print_stdout(text) ? status : 1; }

int print_report(const ReportDocument& doc) {
  FdSink out(STDOUT_FILENO);
  render_report(doc, out);
  if (out.error() != 0) {
    report_write_failure(out.error());
    return 1;
  }
  return 0;
}

PanelInfoByUid panel_info_for(plugins::ArgList uids) {
  if (uids.empty()) return {};
  auto lookup = plugins::user_info_sys(std::move(uids));
  if (!lookup) {
    log_lookup_failure("user-info-sys failed, no domains or resellers from the panel: ",
                       lookup.error());
    return {};
  }
  return std::move(*lookup);
}

NamesByUid regular_user_names() {
  NamesByUid names = names_by_uid(core::password_entries());
  keep_regular_users(names, core::read_uid_min());
  return names;
}

NameSet admin_names_for(const Caller& caller) {
  if (!caller.is_root) return {};
  auto names = plugins::admins();
  if (!names) {
    log_lookup_failure("admins failed, no administrator is hidden: ", names.error());
    return {};
  }
  return NameSet(names->begin(), names->end());
}

core::DbUsageTable db_usage_for(bool merge_mysql) {
  core::DbUsageTable table = core::load_dbpeek_file();
  if (merge_mysql) core::merge_dbpeek_command(table);
  return table;
}

// An empty list asks nothing.
plugins::WardLimitsMap ward_limits_for(plugins::ArgList names) {
  auto limits = plugins::ward_limits(std::move(names));
  if (!limits) {
    log_lookup_failure("limits failed, no MySQL limits: ", limits.error());
    return {};
  }
  return std::move(*limits);
}

// What a report run holds until its document is out: at scale the
// snapshot's text and an entry per row, the password database and the
// panel's answer.
struct RunTables {
  SavedTopData snapshot;
  NamesByUid names;
  PanelInfoByUid panel_info;
  NameSet admin_names;
  core::DbUsageTable db_usage;
  std::optional<std::vector<std::string>> allowed;
  plugins::WardLimitsMap ward_limits;
  ReportOrder order;
};

// Rows new in a copy of the snapshot get the lookups of their own version:
// one more call each, for what the first answers did not cover.
void look_up_rows_again(RunTables& t, bool merge_mysql) {
  const std::vector<RowEntry>& rows = t.snapshot.users;
  plugins::ArgList uids = uids_not_in(rows, t.panel_info);
  plugins::ArgList names =
      merge_mysql ? limit_names_not_in(rows, t.names, t.ward_limits) : plugins::ArgList();
  log::event(log::Level::Info, TARGET, [&] {
    return "asking again about " + std::to_string(uids.size()) + " uids and " +
           std::to_string(names.size()) +
           " names of the copy's rows; the file is not read a third time";
  });
  const bool ask_limits = !names.empty();
  auto more_limits =
      meanwhile([&names] { return ward_limits_for(std::move(names)); }, ask_limits);
  t.panel_info.merge(panel_info_for(std::move(uids)));
  for (auto& [name, limits] : more_limits.get())
    t.ward_limits.insert_or_assign(name, std::move(limits));
}

std::expected<std::vector<TopUser>, std::string> order_and_select(RunTables& t, const Cli& cli,
                                                                  const SelectionInputs& inputs) {
  t.order = sort_order(t.snapshot.users, cli.order_by, t.db_usage, t.names);
  return select_rows(t.snapshot.users, t.order, inputs);
}

// The process ends right after the report, and freeing the tables piece
// by piece would cost a good share of the run. They stay reachable from
// here instead, so leak checkers see memory in use, not lost; a second run
// in the same process frees the first one's.
void keep_until_exit(std::unique_ptr<RunTables> tables) {
  static RunTables* kept = nullptr;
  delete std::exchange(kept, tables.release());
}

}  // namespace

int run(const std::vector<std::string>& argv) {
  // A reader that goes away ends us quietly, like any filter. An ignored
  // SIGCHLD inherited from the caller would make every helper unwaitable.
  std::signal(SIGPIPE, SIG_DFL);
  std::signal(SIGCHLD, SIG_DFL);
  plugins::guard_children_against_termination();
  // Fixes the log's level while standard error is still what we were given.
  (void)log::process_logger();

  // The KRO check gates the run: nothing else starts before it answers.
  const auto kro = core::kro_supported();
  if (!kro) {
    print_stderr(error_report(kro.error()));
    return 1;
  }
  if (!*kro) return print_document(core::KRO_NOTICE, 0);

  auto parsed = parse(argv);
  if (auto* done = std::get_if<ParseExit>(&parsed)) {
    print_stderr(done->err);
    return done->out.empty() || print_stdout(done->out) ? done->status : 1;
  }
  const Cli& cli = std::get<Cli>(parsed);
  if (!cli.json) {
    print_stderr("Error: --json flag is required\n");
    return 1;
  }

  auto identity = identify_caller(cli);
  if (auto* denial = std::get_if<Denial>(&identity))
    return print_document(render_denial(denial->message, whole_seconds_now()), 1);
  const Caller& caller = std::get<Caller>(identity);

  core::DaemonStatus daemon = core::daemon_status(core::DAEMON_PID_PATH);
  if (daemon != core::DaemonStatus::Running)
    return print_document(
        render_daemon_document(core::daemon_status_text(daemon), whole_seconds_now()), 0);

  // From here on every helper and tool starts, on a thread of its own, as
  // soon as what it needs is known, and is waited for where its answer is
  // used. What each one waits for:
  //   the snapshot's decode   nothing; the run's costliest work at scale
  //   dbadm list (root)       the timestamp touched (root and resellers)
  //   warden-mode             nothing
  //   user-info-sys           the rows left after the UID_MAX step
  //   admins (root)           the snapshot decoded, like reseller-users: a
  //   reseller-users          snapshot that fails makes no more calls than before
  //   dbpeek -c, limits       the service's state, which only root has to
  //                           ask dbadm for; limits also the rows and the
  //                           password database's names
  // A root run thus waits for the KRO check, dbadm list, then dbpeek -c or
  // limits; anyone else's for the KRO check, then all the rest at once.
  const UsageKey key = usage_key(cli.order_by);
  auto in_place = meanwhile([key] { return read_in_place(key); });
  if (cli.for_reseller || caller.is_root) core::touch_warden_timestamp();
  auto warden = meanwhile([] { return core::query_warden_status(); });
  auto mode = meanwhile([] { return core::query_warden_mode(plugins::WARD_HELPER_PATH); });

  ReportDocument doc;
  auto snapshot = read_saved_top_data(in_place.get(), whole_seconds_now(), key);
  if (!snapshot) {
    print_stderr(error_report(snapshot.error()));
    return 1;
  }
  auto tables = std::make_unique<RunTables>();
  RunTables& t = *tables;
  t.snapshot = std::move(*snapshot);
  std::vector<RowEntry>& rows = t.snapshot.users;
  const bool limit_uids = core::load_config().hide_kro_more_than_maxuid;
  const std::uint32_t uid_max = limit_uids ? core::read_uid_max() : 0;
  if (limit_uids) drop_rows_above_uid_max(rows, uid_max);

  // The rows stay as they are until every call that reads them has ended.
  auto panel_info = meanwhile([&rows] { return panel_info_for(row_uids(rows)); }, !rows.empty());
  auto admin_names = meanwhile([&caller] { return admin_names_for(caller); }, caller.is_root);
  auto allowed = meanwhile(
      [&caller, &cli] {
        return allowed_names_for(caller, cli, [](const std::string& reseller) {
          return plugins::reseller_users(reseller);
        });
      },
      cli.for_reseller.has_value());
  t.names = regular_user_names();

  doc.warden = warden.get();
  const bool merge_mysql = doc.warden.state == "enabled" && !cli.hide_mysql;
  auto db_usage = meanwhile([merge_mysql] { return db_usage_for(merge_mysql); }, merge_mysql);
  auto ward_limits = meanwhile(
      [merge_mysql, &rows, &t] {
        return merge_mysql ? ward_limits_for(ward_limit_names(rows, t.names))
                           : plugins::WardLimitsMap();
      },
      merge_mysql);

  t.db_usage = db_usage.get();
  t.order = sort_order(rows, cli.order_by, t.db_usage, t.names);
  t.panel_info = panel_info.get();
  t.admin_names = admin_names.get();
  t.allowed = allowed.get();
  t.ward_limits = ward_limits.get();
  doc.warden_mode = mode.get();

  const SelectionInputs inputs{cli,        t.names,       t.panel_info, t.admin_names,  t.allowed,
                               t.db_usage, t.ward_limits, merge_mysql,  doc.warden_mode};
  auto selected = select_rows(rows, t.order, inputs);
  // The daemon wrote its file while this run read it in place: the rows are
  // chosen again from a copy of it, with their own lookups.
  if (text_changed(t.snapshot)) {
    log::event(log::Level::Info, TARGET, [] {
      return std::string(SNAPSHOT_PATH) + " was written during the run; its rows are taken from a copy";
    });
    auto copy = read_saved_top_data(whole_seconds_now(), key, SNAPSHOT_PATH, Reading::Copy);
    if (!copy) {
      print_stderr(error_report(copy.error()));
      return 1;
    }
    t.snapshot = std::move(*copy);
    if (limit_uids) drop_rows_above_uid_max(rows, uid_max);
    look_up_rows_again(t, merge_mysql);
    selected = order_and_select(t, cli, inputs);
  }
  if (!selected) {
    print_stderr(error_report(decode_failure(std::move(selected.error()))));
    return 1;
  }
  doc.users = std::move(*selected);
  doc.resellers =
      shape_resellers(std::move(t.snapshot.resellers), caller.is_root, cli.for_reseller, t.names);
  if (cli.hide_mysql) hide_mysql_data(doc.users);

  doc.timestamp = t.snapshot.timestamp;
  const int status = print_report(doc);
  keep_until_exit(std::move(tables));
  return status;
}

}  // namespace kestrix::cli
