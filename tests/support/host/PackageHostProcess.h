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
//   QVERIFY2(host.isReady(), qPrintable(host.failure()));
//   ... fetch host.url("RUD_UZ7_de.exe") ...
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
  bool isReady() const { return port_ != 0; }
  // Why the host is not ready, with what it wrote to stderr; empty when it is.
  QString failure() const { return failure_; }

  quint16 port() const { return port_; }
  // "http://127.0.0.1:PORT", or "https://..." when started with --tls-cert
  QString baseUrl() const;
  // "127.0.0.1:PORT"
  QString hostAndPort() const;
  // baseUrl() + "/downloads/" + `name`
  QString url(const QString& name) const;

  // One line per request received so far, "<METHOD> <target> <User-Agent>", oldest first.
  QStringList requestLog() const;

  // Sends SIGTERM and waits at most `deadlineMs`; kills the host when it is still there.
  // True when it ended on its own with exit status 0. Later calls return the same.
  bool stop(int deadlineMs = 10000);

  // The bytes the host serves for a generated file (--generate or --file) of that size.
  static QByteArray generatedContent(const QString& name, qint64 size);
  // The bytes of one of the packages --generate serves; empty for any other name.
  static QByteArray placeholderPackage(const QString& name);
  static QString binaryPath() { return QStringLiteral(KORVANI_PACKAGE_HOST_BINARY); }

 private:
  QTemporaryDir logFolder_;
  QProcess process_;
  quint16 port_ = 0;
  bool https_ = false;
  QString failure_;
  bool stopped_ = false;
  bool stoppedCleanly_ = false;
};

}  // namespace korvani::host
