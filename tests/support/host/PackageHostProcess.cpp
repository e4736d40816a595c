#include "support/host/PackageHostProcess.h"

#include <QDeadlineTimer>
#include <QFile>

#include "GeneratedContent.h"
#include "catalogue/SelectPackage.h"

namespace korvani::host {
namespace {

constexpr int kKillDeadlineMs = 5000;

QString LogPath(const QTemporaryDir& folder) {
  return folder.filePath("requests.log");
}

}  // namespace

PackageHostProcess::PackageHostProcess(const QStringList& arguments, int startDeadlineMs)
    : https_(arguments.contains("--tls-cert")) {
  if (const auto address = arguments.indexOf("--address"); address >= 0) {
    address_ = arguments.value(address + 1);
  }
  if (!logFolder_.isValid()) {
    failure_ = "cannot create a folder for the request log: " + logFolder_.errorString();
    return;
  }
  process_.setProgram(BinaryPath());
  process_.setArguments(arguments + QStringList{"--log", LogPath(logFolder_)});
  const QDeadlineTimer deadline(startDeadlineMs);
  process_.start(QIODevice::ReadOnly);
  if (!process_.waitForStarted(static_cast<int>(deadline.remainingTime()))) {
    failure_ = "cannot start " + BinaryPath() + ": " + process_.errorString();
    return;
  }
  while (!process_.canReadLine()) {
    if (deadline.hasExpired() ||
        !process_.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
      const bool exited = process_.state() == QProcess::NotRunning;
      failure_ =
          exited ? QString("korvani-package-host %1 exited with status %2 before printing its port")
                       .arg(arguments.join(' '))
                       .arg(process_.exitCode())
                 : QString("korvani-package-host %1 printed no port within %2 ms")
                       .arg(arguments.join(' '))
                       .arg(startDeadlineMs);
      failure_ += "; stderr: " + QString::fromLocal8Bit(process_.readAllStandardError());
      return;
    }
  }
  const QByteArray line = process_.readLine().trimmed();
  bool isNumber = false;
  const uint port = line.toUInt(&isNumber);
  if (!isNumber || port == 0 || port > 65535) {
    failure_ =
        "korvani-package-host printed \"" + QString::fromLatin1(line) + "\" where its port belongs";
    return;
  }
  port_ = static_cast<quint16>(port);
}

PackageHostProcess::~PackageHostProcess() {
  Stop();
}

QString PackageHostProcess::BaseUrl() const {
  return (https_ ? "https://" : "http://") + HostAndPort();
}

QString PackageHostProcess::HostAndPort() const {
  return QStringLiteral("%1:%2").arg(address_).arg(port_);
}

QString PackageHostProcess::Url(const QString& name) const {
  return BaseUrl() + "/downloads/" + name;
}

QStringList PackageHostProcess::RequestLog() const {
  QFile log(LogPath(logFolder_));
  if (!log.open(QIODevice::ReadOnly | QIODevice::Text)) {
    return {};
  }
  return QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
}

bool PackageHostProcess::Stop(int deadlineMs) {
  if (stopped_) {
    return stoppedCleanly_;
  }
  stopped_ = true;
  if (process_.state() == QProcess::NotRunning) {
    stoppedCleanly_ = false;
    return false;
  }
  process_.terminate();
  if (process_.waitForFinished(deadlineMs)) {
    stoppedCleanly_ = process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
    return stoppedCleanly_;
  }
  process_.kill();
  process_.waitForFinished(kKillDeadlineMs);
  return false;
}

QByteArray PackageHostProcess::GeneratedContent(const QString& name, qint64 size) {
  const std::string content =
      packagehost::GeneratedContent(name.toStdString(), static_cast<std::size_t>(size));
  return {content.data(), static_cast<qsizetype>(content.size())};
}

QByteArray PackageHostProcess::PlaceholderPackage(const QString& name) {
  for (const auto& package : catalogue::CataloguePackages()) {
    if (QLatin1StringView(package.fileName.data(),
                          static_cast<qsizetype>(package.fileName.size())) == name) {
      return GeneratedContent(name, qint64{package.kilobytes} * 1024);
    }
  }
  return {};
}

}  // namespace korvani::host
