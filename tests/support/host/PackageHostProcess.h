#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace korvani::host {

// korvani-package-host run as a child process for one test, on a port of its own.
//
//   PackageHostProcess host({"--generate", "--fault", "short"});
//   QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
//   ... fetch host.Url("RUD_UZ7_de.exe") ...
//
// The host is stopped when the object goes. It also ends by itself when the thread that
// started it ends, so create it on the thread that runs the test.
class PackageHostProcess {
 public:
  // Starts the host with `arguments` and a --log of its own, and waits at most
  // `startDeadlineMs` for the port line.
  explicit PackageHostProcess(const QStringList& arguments = {}, int startDeadlineMs = 10000);
  ~PackageHostProcess();
  PackageHostProcess(const PackageHostProcess&) = delete;
  PackageHostProcess& operator=(const PackageHostProcess&) = delete;

  // True once the host has said which port it listens on.
  bool IsReady() const { return port_ != 0; }
  // Why the host is not ready, with what it wrote to stderr; empty when it is.
  QString Failure() const { return failure_; }

  quint16 Port() const { return port_; }
  // "http://ADDRESS:PORT", or "https://..." when started with --tls-cert
  QString BaseUrl() const;
  // "ADDRESS:PORT": 127.0.0.1, or the address given with --address
  QString HostAndPort() const;
  // BaseUrl() + "/downloads/" + `name`
  QString Url(const QString& name) const;

  // One line per request received so far, "<METHOD> <target> <User-Agent>", oldest first.
  QStringList RequestLog() const;

  // Sends SIGTERM and waits at most `deadlineMs`; kills the host when it is still there.
  // True when it ended on its own with exit status 0. Later calls return the same.
  bool Stop(int deadlineMs = 10000);

  // The bytes the host serves for a generated file (--generate or --file) of that size.
  static QByteArray GeneratedContent(const QString& name, qint64 size);
  // The bytes of one of the packages --generate serves; empty for any other name.
  static QByteArray PlaceholderPackage(const QString& name);
  static QString BinaryPath() { return QStringLiteral(KORVANI_PACKAGE_HOST_BINARY); }

 private:
  QTemporaryDir logFolder_;
  QProcess process_;
  QString address_ = "127.0.0.1";
  quint16 port_ = 0;
  bool https_ = false;
  QString failure_;
  bool stopped_ = false;
  bool stoppedCleanly_ = false;
};

}  // namespace korvani::host
