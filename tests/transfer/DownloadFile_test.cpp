#include "transfer/DownloadFile.h"

#include <QCryptographicHash>
#include <QList>
#include <QSet>
#include <QStringList>
#include <QTest>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/fakes/FakeHttpClient.h"
#include "support/fakes/FakeServices.h"
#include "support/fakes/RecordingProgressView.h"

using korvani::fakes::FakeHttpClient;
using korvani::fakes::FakeHttpScript;
using korvani::fakes::FakeRead;
using korvani::fakes::PatternBytes;
using korvani::fakes::RecordingProgressView;

using Reads = std::vector<FakeRead>;
Q_DECLARE_METATYPE(Reads)

namespace {

const std::string kUrl = "http://host/downloads/RUD.exe";
// The caller presets 0; a different value shows whether the fetch wrote it.
constexpr double kUntouched = 42;

// One fetch against fakes that share one log.
struct Rig : korvani::fakes::FakeServices {
  RecordingProgressView view{log};
  double byteCount = kUntouched;

  using FakeServices::FakeServices;

  void Fetch(const std::string& url = kUrl, const std::string& folder = "",
             const std::optional<korvani::Sha256Digest>& pin = std::nullopt) {
    korvani::transfer::DownloadFile(Transfer(), url, byteCount, folder, view, pin);
  }
  // What the view shows on screen is what it held at its last repaint.
  QString ShownProgress() const { return QString::fromStdString(view.Progress().Painted()); }
};

FakeHttpScript Serving(Reads reads) {
  FakeHttpScript script;
  script.reads = std::move(reads);
  return script;
}

QByteArray Bytes(const std::vector<std::byte>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())};
}

const QString kDestination = "/opt/korvani/RUD.exe";

// A fetch that saves nothing: what goes wrong, and what the fetch leaves behind.
struct FailureCase {
  QString url = QString::fromStdString(kUrl);
  bool folderHoldsFile = true;
  bool beginFails = false;
  bool openFails = false;
  bool openUrlFails = false;
  Reads reads{};
  std::optional<std::uint64_t> room{};  // bytes the file system takes before it is full
  bool saveFails = false;

  double expectedCount = 0;
  QString shownFile = "RUD.exe";
  QString shownProgress = "";
  QString message = "";
  QStringList httpCalls{};  // every call but the reads
  int httpReads = -1;       // -1: any number
  bool tones = false;
  QStringList fileCalls{};  // begin, save and abandon
};

// A fetch that saves the body.
struct BodyCase {
  Reads reads;
  QByteArray body;
  QString shownProgress;
  float shownValue = 0;
  int httpReads = 0;
};

// A body against a pin: the bytes the packager published, or none at all.
struct PinCase {
  Reads reads;
  std::optional<QByteArray> published;          // the pin is this body's SHA-256; none: unpinned
  std::optional<std::size_t> pinByteFlipped{};  // a byte in which the pin is wrong
  bool saved = false;
};

// Qt's own SHA-256, apart from the one the fetch uses.
korvani::Sha256Digest Sha256Of(const QByteArray& bytes) {
  const QByteArray digest = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
  korvani::Sha256Digest pin{};
  std::copy(digest.begin(), digest.end(), pin.begin());
  return pin;
}

}  // namespace

Q_DECLARE_METATYPE(FailureCase)
Q_DECLARE_METATYPE(BodyCase)
Q_DECLARE_METATYPE(PinCase)

class DownloadFileTest : public QObject {
  Q_OBJECT

 private slots:
  void failures_data();
  void failures();
  void successfulBodies_data();
  void successfulBodies();
  void onlyThePublishedBodyIsSaved_data();
  void onlyThePublishedBodyIsSaved();
  void everyStepInOrder();
  void folderPrefixJoinsTheNameWithoutSeparator();
  void repaintsArePacedButTheLastStateIsPainted();
  void aSilentServerLeavesTheLastBytesOnScreen();
  void readsAskForAtMostOneBufferAndReuseIt();
};

void DownloadFileTest::failures_data() {
  QTest::addColumn<FailureCase>("fault");

  const QString url = QString::fromStdString(kUrl);
  const QStringList urlOpened{"http.open VB Program", "http.url " + url, "http.closeUrl",
                              "http.close"};
  const QStringList abandoned{"begin " + kDestination, "abandon " + kDestination};
  const Reads cutShort{FakeRead::Data(PatternBytes(8162)), FakeRead::Data(PatternBytes(100)),
                       FakeRead::Failed()};
  const Reads throwsMidBody{FakeRead::Data(PatternBytes(8162)), FakeRead::Throws()};
  const QString connecting = "Connecting ... ";

  QTest::newRow("URL ends with slash")
      << FailureCase{.url = "http://host/downloads/", .shownFile = ""};
  QTest::newRow("name is the folder itself")
      << FailureCase{.url = "http://host/downloads/.", .shownFile = "."};
  QTest::newRow("name is the parent folder")
      << FailureCase{.url = "http://host/downloads/..", .shownFile = ".."};
  QTest::newRow("folder holds no file") << FailureCase{.folderHoldsFile = false};
  QTest::newRow("file cannot be made: nothing goes out") << FailureCase{
      .beginFails = true, .shownProgress = connecting, .fileCalls = {"begin " + kDestination}};
  QTest::newRow("client cannot be opened")
      << FailureCase{.openFails = true,
                     .expectedCount = kUntouched,
                     .shownProgress = connecting,
                     .message = "Error opening Internet connection",
                     .httpCalls = {"http.open VB Program"},
                     .fileCalls = abandoned};
  QTest::newRow("URL cannot be opened")
      << FailureCase{.openUrlFails = true,
                     .shownProgress = connecting,
                     .httpCalls = {"http.open VB Program", "http.url " + url, "http.close"},
                     .fileCalls = abandoned};
  QTest::newRow("empty URL gets a generated name and cannot be opened")
      << FailureCase{.url = "",
                     .openUrlFails = true,
                     .shownFile = "Download140509120626.tmp",
                     .shownProgress = connecting,
                     .httpCalls = {"http.open VB Program", "http.url ", "http.close"},
                     .fileCalls = {"begin /opt/korvani/Download140509120626.tmp",
                                   "abandon /opt/korvani/Download140509120626.tmp"}};
  QTest::newRow("read fails mid-body") << FailureCase{.reads = cutShort,
                                                      .shownProgress = "Downloading ... 8 KB",
                                                      .httpCalls = urlOpened,
                                                      .httpReads = 3,
                                                      .tones = true,
                                                      .fileCalls = abandoned};
  QTest::newRow("read throws mid-body") << FailureCase{.reads = throwsMidBody,
                                                       .shownProgress = "Downloading ... 8 KB",
                                                       .httpCalls = urlOpened,
                                                       .tones = true,
                                                       .fileCalls = abandoned};
  QTest::newRow("read throws before any byte")
      << FailureCase{.reads = {FakeRead::Throws()},
                     .shownProgress = "Downloading ... 0 KB",
                     .httpCalls = urlOpened,
                     .tones = true,
                     .fileCalls = abandoned};
  QTest::newRow("empty body") << FailureCase{.shownProgress = "Downloading ... 0 KB",
                                             .httpCalls = urlOpened,
                                             .httpReads = 1,
                                             .tones = true,
                                             .fileCalls = abandoned};
  // The second write finds the disk full: the third piece is never read.
  QTest::newRow("disk full mid-body: the rest is not read")
      << FailureCase{.reads = {FakeRead::Data(PatternBytes(std::size_t{3} * 8162))},
                     .room = 10000,
                     .shownProgress = "Downloading ... 8 KB",
                     .httpCalls = urlOpened,
                     .httpReads = 2,
                     .tones = true,
                     .fileCalls = abandoned};
  QTest::newRow("save fails") << FailureCase{
      .reads = {FakeRead::Data(PatternBytes(1536))},
      .saveFails = true,
      .shownProgress = "Downloading ... 2 KB",
      .httpCalls = urlOpened,
      .httpReads = 2,
      .tones = true,
      .fileCalls = {"begin " + kDestination, "save " + kDestination + " 1536 bytes",
                    "abandon " + kDestination}};
}

void DownloadFileTest::failures() {
  QFETCH(FailureCase, fault);

  FakeHttpScript script = Serving(fault.reads);
  script.openFails = fault.openFails;
  script.openUrlFails = fault.openUrlFails;
  Rig rig(std::move(script));
  rig.files.holdsOrdinaryFile = fault.folderHoldsFile;
  rig.files.beginFails = fault.beginFails;
  rig.files.room = fault.room;
  rig.files.saveFails = fault.saveFails;
  // A clock that stands still holds back every repaint but the first, so the
  // row also shows that the view is brought up to date on the way out.
  rig.Fetch(fault.url.toStdString());

  QCOMPARE(rig.byteCount, fault.expectedCount);
  QCOMPARE(QString::fromStdString(rig.view.File().Painted()), fault.shownFile);
  QCOMPARE(rig.ShownProgress(), fault.shownProgress);
  QCOMPARE(rig.view.Progress().Painted(), rig.view.Progress().Text());
  QCOMPARE(rig.view.Bar().Painted(), rig.view.Bar().Value());
  QCOMPARE(rig.log.StartingWith("message "),
           fault.message.isEmpty() ? QStringList{} : QStringList{"message " + fault.message});
  QCOMPARE(rig.log.StartingWith("http.").filter(QRegularExpression("^http\\.(?!read)")),
           fault.httpCalls);
  if (fault.httpReads >= 0) {
    QCOMPARE(rig.log.StartingWith("http.read").size(), fault.httpReads);
  }
  QCOMPARE(rig.log.StartingWith("beep ").isEmpty(), !fault.tones);
  QCOMPARE(rig.log.All().filter(QRegularExpression("^(begin|save|abandon) ")), fault.fileCalls);
  QVERIFY(rig.files.Saves().empty());
}

void DownloadFileTest::successfulBodies_data() {
  QTest::addColumn<BodyCase>("body");

  const auto chunk = [](std::size_t count, std::size_t offset) {
    return FakeRead::Data(PatternBytes(count, offset));
  };
  QTest::newRow("shorter than one read") << BodyCase{.reads = {chunk(100, 0)},
                                                     .body = Bytes(PatternBytes(100)),
                                                     .shownProgress = "Downloading ... 0 KB",
                                                     .shownValue = 100.0F / 1024,
                                                     .httpReads = 2};
  QTest::newRow("exactly one read") << BodyCase{.reads = {chunk(8162, 0)},
                                                .body = Bytes(PatternBytes(8162)),
                                                .shownProgress = "Downloading ... 8 KB",
                                                .shownValue = 8162.0F / 1024,
                                                .httpReads = 2};
  QTest::newRow("one read and a byte") << BodyCase{.reads = {chunk(8163, 0)},
                                                   .body = Bytes(PatternBytes(8163)),
                                                   .shownProgress = "Downloading ... 8 KB",
                                                   .shownValue = 8163.0F / 1024,
                                                   .httpReads = 3};
  QTest::newRow("small pieces kept in order")
      << BodyCase{.reads = {chunk(1000, 0), chunk(1, 1000), chunk(535, 1001)},
                  .body = Bytes(PatternBytes(1536)),
                  .shownProgress = "Downloading ... 2 KB",
                  .shownValue = 1.5F,
                  .httpReads = 4};
  QTest::newRow("explicit end of body")
      << BodyCase{.reads = {chunk(512, 0), FakeRead::End(), chunk(512, 512)},
                  .body = Bytes(PatternBytes(512)),
                  .shownProgress = "Downloading ... 1 KB",
                  .shownValue = 0.5F,
                  .httpReads = 2};
}

void DownloadFileTest::successfulBodies() {
  QFETCH(BodyCase, body);

  Rig rig(Serving(body.reads));
  rig.Fetch();

  QCOMPARE(rig.byteCount, double(body.body.size()));
  QCOMPARE(rig.files.Saves().size(), std::size_t{1});
  QCOMPARE(Bytes(rig.files.Saves().front().body), body.body);
  QCOMPARE(rig.ShownProgress(), body.shownProgress);
  QCOMPARE(rig.view.Bar().Painted(), body.shownValue);
  QCOMPARE(rig.log.StartingWith("http.read ").size(), body.httpReads);
  QVERIFY(rig.log.StartingWith("message ").isEmpty());
  QVERIFY(rig.log.StartingWith("abandon ").isEmpty());
}

void DownloadFileTest::onlyThePublishedBodyIsSaved_data() {
  QTest::addColumn<PinCase>("pin");

  // Long enough to reach the digest in several blocks, one of them cut short.
  const std::vector<std::byte> package = PatternBytes((std::size_t{1} << 20U) + 7);
  std::vector<std::byte> flipped = package;
  flipped[flipped.size() / 2] ^= std::byte{0xFF};
  const std::vector<std::byte> cut(package.begin(), package.begin() + 300'000);
  const QByteArray portal =
      "<!DOCTYPE html>\n<html><head><title>Welcome to Caf\xc3\xa9 Wi-Fi</title></head><body>"
      "<form action=\"/accept\"><button>Connect</button></form></body></html>\n";
  const auto portalBytes = std::as_bytes(std::span(portal.constData(), portal.size()));

  QTest::newRow("the published bytes")
      << PinCase{.reads = {FakeRead::Data(package)}, .published = Bytes(package), .saved = true};
  QTest::newRow("the published bytes in many small reads")
      << PinCase{.reads = {FakeRead::Data(std::vector(package.begin(), package.begin() + 1000)),
                           FakeRead::Data(std::vector(package.begin() + 1000, package.end()))},
                 .published = Bytes(package),
                 .saved = true};
  QTest::newRow("the published bytes, with a silence between two reads")
      << PinCase{.reads = {FakeRead::Data(std::vector(package.begin(), package.begin() + 500'000)),
                           FakeRead::Silence(),
                           FakeRead::Data(std::vector(package.begin() + 500'000, package.end()))},
                 .published = Bytes(package),
                 .saved = true};
  QTest::newRow("one byte flipped")
      << PinCase{.reads = {FakeRead::Data(flipped)}, .published = Bytes(package)};
  QTest::newRow("cut short, though the body ended cleanly")
      << PinCase{.reads = {FakeRead::Data(cut)}, .published = Bytes(package)};
  QTest::newRow("empty body") << PinCase{.reads = {}, .published = Bytes(package)};
  QTest::newRow("a captive portal's page under a 200")
      << PinCase{.reads = {FakeRead::Data({portalBytes.begin(), portalBytes.end()})},
                 .published = Bytes(package)};
  // The whole digest is compared, not a prefix of it, nor a suffix.
  QTest::newRow("a pin wrong in its last byte alone")
      << PinCase{.reads = {FakeRead::Data(package)},
                 .published = Bytes(package),
                 .pinByteFlipped = sizeof(korvani::Sha256Digest) - 1};
  QTest::newRow("a pin wrong in its first byte alone") << PinCase{
      .reads = {FakeRead::Data(package)}, .published = Bytes(package), .pinByteFlipped = 0};
  QTest::newRow("unpinned: any body is saved")
      << PinCase{.reads = {FakeRead::Data(flipped)}, .published = {}, .saved = true};
}

void DownloadFileTest::onlyThePublishedBodyIsSaved() {
  QFETCH(PinCase, pin);
  QByteArray served;
  for (const FakeRead& read : pin.reads) {
    served += Bytes(read.bytes);
  }

  std::optional<korvani::Sha256Digest> published;
  if (pin.published) {
    published = Sha256Of(*pin.published);
  }
  if (pin.pinByteFlipped) {
    published->at(*pin.pinByteFlipped) ^= 0x01U;
  }

  Rig rig(Serving(pin.reads));
  rig.Fetch(kUrl, "", published);

  QCOMPARE(rig.log.StartingWith("http.close"), (QStringList{"http.closeUrl", "http.close"}));
  if (pin.saved) {
    QCOMPARE(rig.byteCount, double(served.size()));
    QCOMPARE(rig.files.Saves().size(), std::size_t{1});
    QVERIFY(Bytes(rig.files.Saves().front().body) == served);
  } else {
    // Nothing is put in place: the old file stays, the new one is abandoned.
    QCOMPARE(rig.byteCount, 0.0);
    QVERIFY(rig.files.Saves().empty());
    QCOMPARE(rig.log.All().filter(QRegularExpression("^(save|abandon) ")),
             QStringList{"abandon " + kDestination});
  }
}

void DownloadFileTest::everyStepInOrder() {
  Rig rig(Serving({FakeRead::Data(PatternBytes(1536)), FakeRead::Data(PatternBytes(8162))}));
  // Readings a second apart: no repaint is held back.
  rig.clock.autoAdvance = std::chrono::seconds(1);
  rig.Fetch();

  const QStringList expected{
      "lblFile=RUD.exe",
      "lblFile.refresh",
      "list /opt/korvani/",
      "lblProgress=Connecting ... ",
      "lblProgress.refresh",
      "begin /opt/korvani/RUD.exe",
      "http.open VB Program",
      "http.url http://host/downloads/RUD.exe",
      "beep 1500 100",
      "beep 1800 200",
      "lblProgress=Downloading ... 0 KB",
      "lblProgress.refresh",
      "pgbDownload=0",
      "pgbDownload.refresh",
      "http.read 8162",
      "write 1536",
      "lblProgress=Downloading ... 2 KB",
      "lblProgress.refresh",
      "pgbDownload=1.5",
      "pgbDownload.refresh",
      "http.read 8162",
      "write 8162",
      "lblProgress=Downloading ... 9 KB",
      "lblProgress.refresh",
      "pgbDownload=9.4707",
      "pgbDownload.refresh",
      "http.read 8162",
      "save /opt/korvani/RUD.exe 9698 bytes",
      "http.closeUrl",
      "http.close",
  };
  QCOMPARE(rig.log.All(), expected);
  QCOMPARE(rig.byteCount, 9698.0);
  const std::vector<float> values{0.0F, 1.5F, 9698.0F / 1024};
  QCOMPARE(rig.view.Bar().Values(), values);
}

void DownloadFileTest::folderPrefixJoinsTheNameWithoutSeparator() {
  Rig rig(Serving({FakeRead::Data(PatternBytes(10))}));
  rig.Fetch(kUrl, "packages/");

  QCOMPARE(rig.log.StartingWith("list "), QStringList{"list /opt/korvani/packages/"});
  QCOMPARE(rig.files.Saves().size(), std::size_t{1});
  QCOMPARE(rig.files.Saves().front().destination.string(), "/opt/korvani/packages/RUD.exe");
  QCOMPARE(rig.view.File().Painted(), "RUD.exe");
}

void DownloadFileTest::repaintsArePacedButTheLastStateIsPainted() {
  constexpr std::size_t kBodySize = 100 * 8162 + 7;
  Rig rig(Serving({FakeRead::Data(PatternBytes(kBodySize))}));
  // A transfer far faster than the display: the clock never moves.
  rig.Fetch();

  QCOMPARE(rig.log.StartingWith("lblProgress=Downloading").size(), 102);
  QCOMPARE(rig.log.StartingWith("pgbDownload=").size(), 102);
  // "Connecting ... ", the first progress and the last one.
  QCOMPARE(rig.log.StartingWith("lblProgress.refresh").size(), 3);
  QCOMPARE(rig.log.StartingWith("pgbDownload.refresh").size(), 2);
  QCOMPARE(rig.ShownProgress(), "Downloading ... 797 KB");
  QCOMPARE(rig.view.Bar().Painted(), float(double(kBodySize) / 1024));
  // The last state is on screen before the file is written.
  QVERIFY(rig.log.All().lastIndexOf("pgbDownload.refresh") <
          rig.log.All().indexOf(QRegularExpression("save .*")));
  QCOMPARE(rig.byteCount, double(kBodySize));
}

void DownloadFileTest::aSilentServerLeavesTheLastBytesOnScreen() {
  // Two reads within one display frame: pacing holds the second one back.
  Rig rig(Serving({FakeRead::Data(PatternBytes(8162)), FakeRead::Data(PatternBytes(8162)),
                   FakeRead::Silence(), FakeRead::Data(PatternBytes(100))}));
  rig.Fetch();

  const QStringList events = rig.log.All();
  const qsizetype held = events.indexOf("lblProgress=Downloading ... 16 KB");
  const qsizetype nextRead = events.indexOf(QRegularExpression("http\\.read .*"), held);
  QVERIFY(held >= 0 && nextRead > held);
  QVERIFY2(events.mid(held, nextRead - held).contains("lblProgress.refresh"),
           "the held-back progress was not painted while the server was silent");
}

void DownloadFileTest::readsAskForAtMostOneBufferAndReuseIt() {
  const auto body = PatternBytes(50'000);
  Rig rig(Serving({FakeRead::Data(body)}));
  rig.Fetch();

  for (const std::size_t asked : rig.http.ReadSizesAsked()) {
    QVERIFY2(asked <= 8162, qPrintable(QString::number(asked)));
  }
  const auto& buffers = rig.http.ReadBuffers();
  QCOMPARE(QSet<const std::byte*>(buffers.begin(), buffers.end()).size(), 1);
  QCOMPARE(Bytes(rig.files.Saves().front().body), Bytes(body));
}

QTEST_APPLESS_MAIN(DownloadFileTest)
#include "DownloadFile_test.moc"
