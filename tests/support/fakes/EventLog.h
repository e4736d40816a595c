#pragma once

#include <QStringList>
#include <string>

namespace korvani::fakes {

// One ordered record of everything the fakes were asked to do, shared by all
// fakes of a test so that the order across them can be checked. Entries are
// short texts, one per call:
//   view:  "lblFile=<text>", "lblFile.refresh", "lblProgress=<text>",
//          "lblProgress.refresh", "pgbDownload=<kilobytes>", "pgbDownload.refresh",
//          "message <text>"
//   http:  "http.open <agent>", "http.url <url>", "http.read <bytes asked>",
//          "http.closeUrl", "http.close"
//   sound: "beep <hz> <ms>", "defaultBeep"
//   files: "list <folder>", "begin <path>", "write <n>", "save <path> <n> bytes",
//          "abandon <path>"
class EventLog {
 public:
  void Add(const QString& event);
  void Add(const std::string& event);

  const QStringList& All() const { return events_; }
  // The entries that start with `prefix`, in order.
  QStringList StartingWith(const QString& prefix) const;
  // The entries that start with none of `prefixes`, in order.
  QStringList Without(const QStringList& prefixes) const;
  void Clear() { events_.clear(); }

 private:
  QStringList events_;
};

}  // namespace korvani::fakes
