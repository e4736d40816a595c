// What a client on the wire sees from korvani-package-host, mode by mode. The requests
// are written by hand so that nothing between the test and the host (redirects,
// decompression, retries) hides what the host actually sent.

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include "GeneratedContent.h"
#include "catalogue/SelectPackage.h"
#include "support/host/PackageHostProcess.h"
#include "support/host/TestCertificates.h"

using korvani::catalogue::CataloguePackage;
using korvani::catalogue::CataloguePackages;
using korvani::host::PackageHostProcess;
using korvani::host::TestCertificates;

namespace {

constexpr int kResponseDeadlineMs = 20000;

QString FileName(const CataloguePackage& package) {
  return QString::fromLatin1(package.fileName.data(), qsizetype(package.fileName.size()));
}

// The package most cases fetch; any of the catalogue would do.
const CataloguePackage& kCataloguePackage = CataloguePackages().front();
const QString kPackage = FileName(kCataloguePackage);
const QByteArray kPackageTarget = "/downloads/" + kPackage.toLatin1();
const qint64 kPackageSize = qint64{kCataloguePackage.kilobytes} * 1024;
constexpr qint64 kBytesBeforeStall = qint64{64} * 1024;

struct RawResponse {
  bool closedByHost = false;  // false: the deadline passed first
  int status = 0;
  QMap<QByteArray, QByteArray> headers;  // names in lower case
  QByteArray body;                       // chunks already joined
  bool lastChunkArrived = false;         // chunked bodies only
  qint64 elapsedMs = 0;                  // from connecting to the host's close (Get only)
};

// Splits a chunked body into `response`; stops at the first incomplete chunk.
void DecodeChunks(const QByteArray& raw, RawResponse& response) {
  qsizetype at = 0;
  while (true) {
    const qsizetype lineEnd = raw.indexOf("\r\n", at);
    if (lineEnd < 0) {
      return;
    }
    bool isNumber = false;
    const qsizetype size = raw.mid(at, lineEnd - at).toLongLong(&isNumber, 16);
    if (!isNumber) {
      return;
    }
    if (size == 0) {
      response.lastChunkArrived = true;
      return;
    }
    const qsizetype dataStart = lineEnd + 2;
    response.body += raw.mid(dataStart, size);
    if (raw.size() < dataStart + size + 2) {
      return;
    }
    at = dataStart + size + 2;
  }
}

RawResponse Parse(const QByteArray& raw) {
  RawResponse response;
  const qsizetype headerEnd = raw.indexOf("\r\n\r\n");
  if (headerEnd < 0) {
    return response;
  }
  const QList<QByteArray> lines = raw.left(headerEnd).split('\n');
  response.status = lines.first().split(' ').value(1).toInt();
  for (qsizetype i = 1; i < lines.size(); ++i) {
    const qsizetype colon = lines[i].indexOf(':');
    response.headers.insert(lines[i].left(colon).trimmed().toLower(),
                            lines[i].mid(colon + 1).trimmed());
  }
  const QByteArray body = raw.mid(headerEnd + 4);
  if (response.headers.value("transfer-encoding") == "chunked") {
    DecodeChunks(body, response);
  } else {
    response.body = body;
  }
  return response;
}

// Connects and sends one GET. A client that accepts every compression: the host must still
// send the bytes as they are.
bool SendGet(QTcpSocket& socket, quint16 port, const QByteArray& target,
             const QByteArray& userAgent) {
  socket.connectToHost(QHostAddress::LocalHost, port);
  if (!socket.waitForConnected(kResponseDeadlineMs)) {
    return false;
  }
  socket.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: " + userAgent +
               "\r\nAccept-Encoding: gzip, deflate, br\r\n\r\n");
  return socket.waitForBytesWritten(kResponseDeadlineMs);
}

// Reads until the host closes the connection, the deadline passes, or (when `enoughBytes`
// >= 0) that many bytes past the headers have arrived.
RawResponse ReadResponse(QTcpSocket& socket, qint64 enoughBytes = -1) {
  const QDeadlineTimer deadline(kResponseDeadlineMs);
  QByteArray raw;
  bool closed = false;
  while (!deadline.hasExpired()) {
    if (enoughBytes >= 0) {
      const qsizetype headerEnd = raw.indexOf("\r\n\r\n");
      if (headerEnd >= 0 && raw.size() - headerEnd - 4 >= enoughBytes) {
        break;
      }
    }
    if (!socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
      closed = socket.state() != QAbstractSocket::ConnectedState ||
               socket.error() == QAbstractSocket::RemoteHostClosedError;
      raw += socket.readAll();
      break;
    }
    raw += socket.readAll();
  }
  RawResponse response = Parse(raw);
  response.closedByHost = closed;
  return response;
}

// One GET over a fresh connection, read until the host closes it.
RawResponse Get(quint16 port, const QByteArray& target, const QByteArray& userAgent = "tool test") {
  QElapsedTimer clock;
  clock.start();
  QTcpSocket socket;
  if (!SendGet(socket, port, target, userAgent)) {
    return {};
  }
  RawResponse response = ReadResponse(socket);
  response.elapsedMs = clock.elapsed();
  return response;
}

// Reads what is left on `socket` until the host closes it.
QByteArray ReadUntilClosed(QTcpSocket& socket) {
  QByteArray rest;
  const QDeadlineTimer deadline(kResponseDeadlineMs);
  while (!deadline.hasExpired() &&
         socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
    rest += socket.readAll();
  }
  return rest + socket.readAll();
}

enum class Body { kWhole, kFirstPart, kNothing, kErrorPage, kOneByteFlipped, kPortalPage };

// What the host answers to a request of kPackage in one fault mode.
struct FaultAnswer {
  QString fault;
  int status = 200;
  Body body = Body::kWhole;
  bool chunked = false;
  QByteArray location{};   // empty: no Location header
  int locationStatus = 0;  // what the host answers at `location`; 0: not asked
  int atLeastMs = 0;       // how long the host takes at the least
};

// What the host answers to one request target when it serves a folder and two
// generated files.
struct TargetAnswer {
  QByteArray target;
  int status = 404;
  QByteArray body{};  // checked for 200 only
};

}  // namespace

Q_DECLARE_METATYPE(FaultAnswer)
Q_DECLARE_METATYPE(TargetAnswer)

class PackageHostToolTest : public QObject {
  Q_OBJECT

 private slots:
  void answersEachFaultMode_data();
  void answersEachFaultMode();
  void stopsWhileHoldingAnAnswerBack_data();
  void stopsWhileHoldingAnAnswerBack();
  void servesHttpsWithTheGivenCertificate();
  void servesOnlyKnownNamesUnderDownloads_data();
  void servesOnlyKnownNamesUnderDownloads();
  void servesEveryCataloguePackage_data();
  void servesEveryCataloguePackage();
  void logsEachRequestOnArrival();
  void writesTheSumsOfWhatItServes();
  void refusesBadCommandLine_data();
  void refusesBadCommandLine();
  void generatedContentDependsOnNameAndOffsetOnly();
};

void PackageHostToolTest::answersEachFaultMode_data() {
  QTest::addColumn<FaultAnswer>("expected");

  const QByteArray moved = "/moved/" + kPackage.toLatin1();
  QTest::newRow("none") << FaultAnswer{.fault = "none"};
  QTest::newRow("status 404") << FaultAnswer{
      .fault = "status:404", .status = 404, .body = Body::kErrorPage};
  QTest::newRow("status 500") << FaultAnswer{
      .fault = "status:500", .status = 500, .body = Body::kErrorPage};
  QTest::newRow("short") << FaultAnswer{.fault = "short", .body = Body::kFirstPart};
  QTest::newRow("chunked short") << FaultAnswer{
      .fault = "chunked-short", .body = Body::kFirstPart, .chunked = true};
  QTest::newRow("stall") << FaultAnswer{.fault = "stall:0.5", .atLeastMs = 500};
  QTest::newRow("empty") << FaultAnswer{.fault = "empty", .body = Body::kNothing};
  QTest::newRow("redirect") << FaultAnswer{.fault = "redirect",
                                           .status = 302,
                                           .body = Body::kNothing,
                                           .location = moved,
                                           .locationStatus = 200};
  QTest::newRow("redirect to file") << FaultAnswer{.fault = "redirect-file",
                                                   .status = 302,
                                                   .body = Body::kNothing,
                                                   .location = "file:///etc/hostname"};
  QTest::newRow("redirect to another host")
      << FaultAnswer{.fault = "redirect-to:https://127.0.0.1:9",
                     .status = 302,
                     .body = Body::kNothing,
                     .location = "https://127.0.0.1:9" + kPackageTarget};
  QTest::newRow("redirect loop") << FaultAnswer{.fault = "redirect-loop",
                                                .status = 302,
                                                .body = Body::kNothing,
                                                .location = kPackageTarget,
                                                .locationStatus = 302};
  QTest::newRow("delayed headers") << FaultAnswer{.fault = "delay-headers:0.5", .atLeastMs = 500};
  // The last piece is due after (size - piece) / rate: 0.45 s at twice the size per second.
  QTest::newRow("trickle") << FaultAnswer{.fault = QString("trickle:%1").arg(2 * kPackageSize),
                                          .atLeastMs = 400};
  QTest::newRow("one byte flipped")
      << FaultAnswer{.fault = "flip-byte", .body = Body::kOneByteFlipped};
  QTest::newRow("captive portal") << FaultAnswer{.fault = "portal", .body = Body::kPortalPage};
}

void PackageHostToolTest::answersEachFaultMode() {
  QFETCH(FaultAnswer, expected);
  const auto& [fault, status, body, chunked, location, locationStatus, atLeastMs] = expected;

  PackageHostProcess host({"--generate", "--fault", fault});
  QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
  const RawResponse response = Get(host.Port(), kPackageTarget);
  const QByteArray package = PackageHostProcess::PlaceholderPackage(kPackage);

  QVERIFY(response.closedByHost);
  QCOMPARE(response.status, status);
  QVERIFY(!response.headers.contains("content-encoding"));
  QCOMPARE(response.headers.value("transfer-encoding") == "chunked", chunked);
  QCOMPARE(response.headers.value("location"), location);
  QVERIFY2(response.elapsedMs >= atLeastMs, qPrintable(QString::number(response.elapsedMs)));
  switch (body) {
    case Body::kWhole:
      QCOMPARE(response.headers.value("content-type"), "application/octet-stream");
      QCOMPARE(response.headers.value("content-length").toLongLong(), kPackageSize);
      QVERIFY(response.body == package);
      break;
    case Body::kFirstPart:
      if (!chunked) {
        QCOMPARE(response.headers.value("content-length").toLongLong(), kPackageSize);
      }
      QVERIFY(!response.lastChunkArrived);
      QVERIFY(!response.body.isEmpty());
      QVERIFY(response.body.size() < kPackageSize);
      QVERIFY(package.startsWith(response.body));
      break;
    case Body::kNothing:
      QCOMPARE(response.headers.value("content-length"), "0");
      QVERIFY(response.body.isEmpty());
      break;
    case Body::kErrorPage:
      QVERIFY(response.headers.value("content-type").startsWith("text/html"));
      QCOMPARE(response.headers.value("content-length").toLongLong(), response.body.size());
      QVERIFY(response.body.contains(QByteArray::number(status)));
      break;
    case Body::kOneByteFlipped: {
      QCOMPARE(response.headers.value("content-length").toLongLong(), kPackageSize);
      QCOMPARE(response.body.size(), package.size());
      qsizetype differing = 0;
      for (qsizetype i = 0; i < package.size(); ++i) {
        differing += response.body[i] != package[i] ? 1 : 0;
      }
      QCOMPARE(differing, 1);
      break;
    }
    case Body::kPortalPage:
      QVERIFY(response.headers.value("content-type").startsWith("text/html"));
      QCOMPARE(response.headers.value("content-length").toLongLong(), response.body.size());
      QVERIFY(response.body.startsWith("<!DOCTYPE html>"));
      QVERIFY(response.body.size() > 4000 && response.body.size() < 6000);
      break;
  }
  if (locationStatus != 0) {
    const RawResponse moved = Get(host.Port(), location);
    QCOMPARE(moved.status, locationStatus);
    if (locationStatus == 200) {
      QVERIFY(moved.body == package);
    }
  }
}

void PackageHostToolTest::stopsWhileHoldingAnAnswerBack_data() {
  QTest::addColumn<QString>("fault");
  QTest::addColumn<qint64>("bodyBeforeStop");  // -1: nothing, not even the headers

  QTest::newRow("stall") << "stall:600" << kBytesBeforeStall;
  QTest::newRow("delayed headers") << "delay-headers:600" << qint64{-1};
  QTest::newRow("trickle") << "trickle:10" << qint64{1};
}

// A held-back answer waits on the stop, so the host ends at once and cleanly instead of
// waiting out the delay or being killed.
void PackageHostToolTest::stopsWhileHoldingAnAnswerBack() {
  QFETCH(QString, fault);
  QFETCH(qint64, bodyBeforeStop);

  PackageHostProcess host({"--generate", "--fault", fault});
  QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
  QTcpSocket socket;
  QVERIFY(SendGet(socket, host.Port(), kPackageTarget, "tool test"));
  qint64 bodyReceived = 0;
  if (bodyBeforeStop < 0) {
    QTRY_COMPARE_WITH_TIMEOUT(host.RequestLog().size(), 1, kResponseDeadlineMs);
  } else {
    const RawResponse before = ReadResponse(socket, bodyBeforeStop);
    QCOMPARE(before.status, 200);
    QVERIFY(before.body.size() >= bodyBeforeStop);
    bodyReceived = before.body.size();
  }

  QVERIFY(host.Stop(5000));
  bodyReceived += ReadUntilClosed(socket).size();
  if (bodyBeforeStop == kBytesBeforeStall) {
    QCOMPARE(bodyReceived, kBytesBeforeStall);  // nothing was sent after the stall began
  }
}

// With --tls-cert the port speaks HTTPS only, with that certificate: a client that trusts
// only the test CA accepts it for 127.0.0.1 and gets the package; plain HTTP gets no answer.
void PackageHostToolTest::servesHttpsWithTheGivenCertificate() {
  const TestCertificates certificates;
  QVERIFY2(certificates.IsReady(), qPrintable(certificates.Failure()));
  PackageHostProcess host(QStringList{"--generate"} +
                          certificates.HostArguments(TestCertificates::Leaf::SignedByTestCa));
  QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
  const QByteArray& target = kPackageTarget;

  QSslSocket socket;
  QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
  tls.setCaCertificates(QSslCertificate::fromPath(certificates.CaCertificate()));
  tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
  socket.setSslConfiguration(tls);
  socket.connectToHostEncrypted("127.0.0.1", host.Port());
  QVERIFY2(socket.waitForEncrypted(kResponseDeadlineMs), qPrintable(socket.errorString()));
  socket.write("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
  const RawResponse response = ReadResponse(socket, kPackageSize);
  QCOMPARE(response.status, 200);
  QVERIFY(response.body == PackageHostProcess::PlaceholderPackage(kPackage));

  QCOMPARE(Get(host.Port(), target).status, 0);
  QCOMPARE(host.RequestLog().size(), 1);
  QVERIFY(host.Stop());
}

void PackageHostToolTest::servesOnlyKnownNamesUnderDownloads_data() {
  QTest::addColumn<TargetAnswer>("expected");

  const QByteArray inFolder = "bytes of a package that lies in the folder";
  QTest::newRow("file of the folder")
      << TargetAnswer{.target = "/downloads/pkg.exe", .status = 200, .body = inFolder};
  QTest::newRow("query ignored") << TargetAnswer{
      .target = "/downloads/pkg.exe?x=1", .status = 200, .body = inFolder};
  QTest::newRow("generated file") << TargetAnswer{
      .target = "/downloads/gen.bin",
      .status = 200,
      .body = PackageHostProcess::GeneratedContent("gen.bin", 1000)};
  QTest::newRow("empty generated file")
      << TargetAnswer{.target = "/downloads/none.bin", .status = 200};
  QTest::newRow("missing name") << TargetAnswer{.target = "/downloads/missing.exe"};
  QTest::newRow("folder in the folder") << TargetAnswer{.target = "/downloads/sub"};
  QTest::newRow("encoded parent folder") << TargetAnswer{.target = "/downloads/..%2Fsecret.txt"};
  QTest::newRow("encoded dot-dot") << TargetAnswer{.target = "/downloads/%2E%2E"};
  QTest::newRow("outside downloads") << TargetAnswer{.target = "/pkg.exe"};
  QTest::newRow("moved without redirect") << TargetAnswer{.target = "/moved/pkg.exe"};
  QTest::newRow("catalogue not asked for") << TargetAnswer{.target = kPackageTarget};
}

void PackageHostToolTest::servesOnlyKnownNamesUnderDownloads() {
  QFETCH(TargetAnswer, expected);
  const auto& [target, status, body] = expected;

  QTemporaryDir outer;
  QVERIFY(outer.isValid());
  QVERIFY(QDir(outer.path()).mkpath("served/sub"));
  const auto writeFile = [](const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
  };
  QVERIFY(
      writeFile(outer.filePath("served/pkg.exe"), "bytes of a package that lies in the folder"));
  QVERIFY(writeFile(outer.filePath("secret.txt"), "not to be served"));

  PackageHostProcess host(
      {"--root", outer.filePath("served"), "--file", "gen.bin=1000", "--file", "none.bin=0"});
  QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
  const RawResponse response = Get(host.Port(), target);
  QCOMPARE(response.status, status);
  if (status == 200) {
    QCOMPARE(response.headers.value("content-length").toLongLong(), body.size());
    QVERIFY(response.body == body);
  }
}

void PackageHostToolTest::servesEveryCataloguePackage_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<qint64>("kilobytes");

  for (const CataloguePackage& package : CataloguePackages()) {
    QTest::newRow(qPrintable(FileName(package))) << FileName(package) << qint64{package.kilobytes};
  }
}

void PackageHostToolTest::servesEveryCataloguePackage() {
  QFETCH(QString, name);
  QFETCH(qint64, kilobytes);

  PackageHostProcess host({"--generate"});
  QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
  const RawResponse response = Get(host.Port(), "/downloads/" + name.toLatin1());
  QCOMPARE(response.status, 200);
  QCOMPARE(response.body.size(), kilobytes * 1024);
  QVERIFY(response.body == PackageHostProcess::GeneratedContent(name, kilobytes * 1024));
}

// The sums are those of the bytes served, in sha256sum's format, and those of the
// placeholders are the ones the tests' builds pin.
void PackageHostToolTest::writesTheSumsOfWhatItServes() {
  QTemporaryDir folder;
  const QString sumsPath = folder.filePath("SHA256SUMS");

  {
    PackageHostProcess host({"--sums", sumsPath, "--file", "pkg.exe=100"});
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
  }
  QFile sums(sumsPath);
  QVERIFY(sums.open(QIODevice::ReadOnly));
  QCOMPARE(sums.readAll(),
           QCryptographicHash::hash(PackageHostProcess::GeneratedContent("pkg.exe", 100),
                                    QCryptographicHash::Sha256)
                   .toHex() +
               "  pkg.exe\n");
  sums.close();

  {
    PackageHostProcess host({"--generate", "--sums", sumsPath});
    QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
  }
  QFile placeholders(QStringLiteral(KORVANI_PLACEHOLDER_SUMS));
  QVERIFY(sums.open(QIODevice::ReadOnly) && placeholders.open(QIODevice::ReadOnly));
  QCOMPARE(sums.readAll(), placeholders.readAll());
}

void PackageHostToolTest::logsEachRequestOnArrival() {
  PackageHostProcess host({"--generate"});
  QVERIFY2(host.IsReady(), qPrintable(host.Failure()));
  QCOMPARE(Get(host.Port(), kPackageTarget + "?lang=de", "VB Program").status, 200);
  QCOMPARE(Get(host.Port(), "/nothing", "probe").status, 404);
  QCOMPARE(host.RequestLog(),
           QStringList({"GET " + kPackageTarget + "?lang=de VB Program", "GET /nothing probe"}));
}

void PackageHostToolTest::refusesBadCommandLine_data() {
  QTest::addColumn<QStringList>("arguments");

  QTest::newRow("unknown fault") << QStringList{"--fault", "sometimes"};
  QTest::newRow("status below 200") << QStringList{"--fault", "status:99"};
  QTest::newRow("negative stall") << QStringList{"--fault", "stall:-1"};
  QTest::newRow("trickle of nothing") << QStringList{"--fault", "trickle:0"};
  QTest::newRow("argument where none belongs") << QStringList{"--fault", "short:5"};
  QTest::newRow("port too large") << QStringList{"--port", "65536"};
  QTest::newRow("address off loopback") << QStringList{"--address", "0.0.0.0"};
  QTest::newRow("size not a number") << QStringList{"--file", "a.bin=12k"};
  QTest::newRow("name with a slash") << QStringList{"--file", "a/b.bin=12"};
  QTest::newRow("value missing") << QStringList{"--generate", "--root"};
  QTest::newRow("unknown option") << QStringList{"--verbose"};
}

void PackageHostToolTest::refusesBadCommandLine() {
  QFETCH(QStringList, arguments);

  const PackageHostProcess host(arguments);
  QVERIFY(!host.IsReady());
  QVERIFY2(host.Failure().contains("exited with status 2"), qPrintable(host.Failure()));
}

void PackageHostToolTest::generatedContentDependsOnNameAndOffsetOnly() {
  using korvani::packagehost::FillGeneratedContent;
  using korvani::packagehost::GeneratedContent;

  const std::string whole = GeneratedContent("a.exe", 4096);
  // Any slice, aligned or not, matches the whole stream at that offset.
  for (const auto& [offset, length] :
       {std::pair<std::size_t, std::size_t>{0, 1}, {3, 13}, {8, 8}, {1001, 2000}, {4095, 1}}) {
    std::string slice(length, '\0');
    FillGeneratedContent("a.exe", offset, slice.data(), length);
    QCOMPARE(slice, whole.substr(offset, length));
  }
  QCOMPARE(GeneratedContent("a.exe", 100), whole.substr(0, 100));
  QVERIFY(GeneratedContent("b.exe", 4096) != whole);
  QVERIFY(whole != std::string(4096, '\0'));
}

QTEST_GUILESS_MAIN(PackageHostToolTest)
#include "PackageHost_tool_test.moc"
