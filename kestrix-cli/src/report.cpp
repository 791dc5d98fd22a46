#include "report.h"

#include "kestrix/json/record.h"

namespace kestrix::cli {

namespace {

namespace kj = kestrix::json;
using kj::field;
using kj::Need;
using kj::written;

// The warden's context and message are printed only with its error state.
std::optional<nlohmann::json> warden_context(const ReportDocument& doc) {
  if (doc.warden.state != "error") return std::nullopt;
  return doc.warden.context;
}

std::optional<std::string> warden_warning(const ReportDocument& doc) {
  if (doc.warden.state != "error") return std::nullopt;
  return doc.warden.message;
}

constexpr kj::RecordType<ReportDocument, 8> REPORT{
    "ReportDocument",
    {{written<warden_context>("context"),
      written<[](const ReportDocument& d) -> const std::string& { return d.warden.state; }>(
          "mySqlWard"),
      field<&ReportDocument::warden_mode>("mySqlWardMode", Need::Required),
      field<&ReportDocument::resellers>("resellers", Need::Required),
      written<[](const ReportDocument&) { return std::string_view("success"); }>("result"),
      field<&ReportDocument::timestamp>("timestamp", Need::Required),
      field<&ReportDocument::users>("users", Need::Required),
      written<warden_warning>("warning")}}};
static_assert(kj::writes_all(REPORT));

}  // namespace

void render_report(const ReportDocument& doc, json::Sink& sink) {
  json::Writer w(sink);
  kj::write_record(w, REPORT, doc);
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
