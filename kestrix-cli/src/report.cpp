#include "report.h"

namespace kestrix::cli {

namespace {

// Members are written in ascending byte order of their keys.

template <class Pair>
void write_pair(json::Writer& w, const Pair& p) {
  w.begin_object();
  w.key("all");
  w.f64(p.all);
  if (!p.mysql.is_null()) {
    w.key("mysql");
    w.value(p.mysql);
  }
  w.end_object();
}

template <class Figures>
void write_figures(json::Writer& w, const Figures& f) {
  w.begin_object();
  w.key("cpu");
  write_pair(w, f.cpu);
  w.key("ep");
  w.f64(f.ep);
  w.key("io");
  write_pair(w, f.io);
  w.key("iops");
  w.f64(f.iops);
  w.key("mem");
  w.f64(f.mem);
  w.key("pno");
  w.f64(f.pno);
  w.end_object();
}

void write_row(json::Writer& w, const TopUser& row) {
  w.begin_object();
  w.key("domain");
  w.string(row.domain);
  w.key("id");
  w.u64(row.id);
  w.key("limit");
  write_figures(w, row.limit);
  w.key("reseller");
  w.string(row.reseller);
  w.key("restricted");
  w.boolean(row.restricted);
  if (row.restriction) {
    w.key("restriction");
    w.begin_object();
    w.key("reason");
    w.string(row.restriction->reason);
    w.key("time");
    w.i64(row.restriction->time);
    w.end_object();
  }
  w.key("usage");
  write_figures(w, row.usage);
  w.key("username");
  w.string(row.username);
  w.end_object();
}

}  // namespace

void render_report(const ReportDocument& doc, json::Sink& sink) {
  const bool error = doc.warden.state == "error";
  json::Writer w(sink);
  w.begin_object();
  if (error && doc.warden.context) {
    w.key("context");
    w.value(*doc.warden.context);
  }
  w.key("mySqlWard");
  w.string(doc.warden.state);
  w.key("mySqlWardMode");
  w.string(doc.warden_mode);
  w.key("resellers");
  w.begin_array();
  for (const auto& entry : doc.resellers) w.value(entry);
  w.end_array();
  w.key("result");
  w.string("success");
  w.key("timestamp");
  w.f64(doc.timestamp);
  w.key("users");
  w.begin_array();
  for (const auto& row : doc.users) write_row(w, row);
  w.end_array();
  if (error && doc.warden.message) {
    w.key("warning");
    w.string(*doc.warden.message);
  }
  w.end_object();
  w.finish();
}

std::string render_report(const ReportDocument& doc) {
  json::StringSink sink;
  render_report(doc, sink);
  return std::move(sink.text());
}

std::string render_denial(std::string_view message, double now) {
  json::StringSink sink;
  json::Writer w(sink);
  w.begin_object();
  w.key("context");
  w.begin_object();
  w.end_object();
  w.key("result");
  w.string(message);
  w.key("timestamp");
  w.f64(now);
  w.end_object();
  w.finish();
  return std::move(sink.text());
}

std::string render_daemon_document(std::string_view message, double now) {
  json::StringSink sink;
  json::Writer w(sink);
  w.begin_object();
  w.key("result");
  w.string(message);
  w.key("timestamp");
  w.f64(now);
  w.end_object();
  w.finish();
  return std::move(sink.text());
}

}  // namespace kestrix::cli
