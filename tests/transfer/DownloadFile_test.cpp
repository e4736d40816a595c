#include "transfer/DownloadFile.h"

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

#include "support/fakes/EventLog.h"
#include "support/fakes/FakeClock.h"
#include "support/fakes/FakeFileSystem.h"
#include "support/fakes/FakeHttpClient.h"
#include "support/fakes/FakeSound.h"
#include "support/fakes/RecordingProgressView.h"

using korvani::fakes::EventLog;
using korvani::fakes::FakeClock;
using korvani::fakes::FakeFileSystem;
using korvani::fakes::FakeHttpClient;
using korvani::fakes::FakeHttpScript;
using korvani::fakes::FakeRead;
using korvani::fakes::FakeSound;
using korvani::fakes::PatternBytes;
using korvani::fakes::RecordingProgressView;

using Reads = std::vector<FakeRead>;
Q_DECLARE_METATYPE(Reads)

namespace {

const std::string kUrl = "http://host/downloads/RUD.exe";
// The caller presets 0; a different value shows whether the fetch wrote it.
constexpr double kUntouched = 42;

// One fetch against fakes that share one log.
struct Rig {
  EventLog log;
  FakeHttpClient http;
  FakeSound sound{log};
  FakeFileSystem files{log};
  FakeClock clock;
  RecordingProgressView view{log};
  double byteCount = kUntouched;

  explicit Rig(FakeHttpScript script) : http(log, std::move(script)) {}

  void Fetch(const std::string& url = kUrl, const std::string& folder = "") {
    korvani::transfer::DownloadFile({http, sound, files, clock}, url, byteCount, folder, view);
  }
  // What the view shows on screen is what it held at its last repaint.
  QString ShownProgress() const { return QString::fromStdString(view.Progress().Painted()); }
};

FakeHttpScript Serving(Reads reads, std::optional<std::uint64_t> announced = std::nullopt) {
  FakeHttpScript script;
  script.reads = std::move(reads);
  script.announcedLength = announced;
  return script;
}

QByteArray Bytes(const std::vector<std::byte>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())};
}

}  // namespace

class DownloadFileTest : public QObject {
  Q_OBJECT

 private slots:
  void failures_data();
  void failures();
  void successfulBodies_data();
  void successfulBodies();
  void everyStepInOrder();
  void folderPrefixJoinsTheNameWithoutSeparator();
  void repaintsArePacedButTheLastStateIsPainted();
  void readsAskForAtMostOneBufferAndReuseIt();
  void announcedLengthIsOnlyAHint_data();
  void announcedLengthIsOnlyAHint();
};

void DownloadFileTest::failures_data() {
  QTest::addColumn<QString>("url");
  QTest::addColumn<bool>("folderHoldsFile");
  QTest::addColumn<bool>("openFails");
  QTest::addColumn<bool>("openUrlFails");
  QTest::addColumn<Reads>("reads");
  QTest::addColumn<bool>("saveFails");
  QTest::addColumn<double>("expectedCount");
  QTest::addColumn<QString>("shownFile");
  QTest::addColumn<QString>("shownProgress");
  QTest::addColumn<QString>("message");
  QTest::addColumn<QStringList>("httpCalls");
  QTest::addColumn<bool>("tones");
  QTest::addColumn<bool>("saveTried");

  const QString url = QString::fromStdString(kUrl);
  const QStringList urlOpened{"http.open VB Program", "http.url " + url, "http.closeUrl",
                              "http.close"};
  const Reads cutShort{FakeRead::Data(PatternBytes(8162)), FakeRead::Data(PatternBytes(100)),
                       FakeRead::Failed()};
  const Reads throwsMidBody{FakeRead::Data(PatternBytes(8162)), FakeRead::Throws()};

  QTest::newRow("URL ends with slash")
      << "http://host/downloads/" << true << false << false << Reads{} << false << 0.0 << ""
      << ""
      << "" << QStringList{} << false << false;
  QTest::newRow("name is the folder itself")
      << "http://host/downloads/." << true << false << false << Reads{} << false << 0.0 << "."
      << ""
      << "" << QStringList{} << false << false;
  QTest::newRow("name is the parent folder")
      << "http://host/downloads/.." << true << false << false << Reads{} << false << 0.0 << ".."
      << ""
      << "" << QStringList{} << false << false;
  QTest::newRow("folder holds no file")
      << url << false << false << false << Reads{} << false << 0.0 << "RUD.exe"
      << ""
      << "" << QStringList{} << false << false;
  QTest::newRow("client cannot be opened")
      << url << true << true << false << Reads{} << false << kUntouched << "RUD.exe"
      << "Connecting ... "
      << "Error opening Internet connection" << QStringList{"http.open VB Program"} << false
      << false;
  QTest::newRow("URL cannot be opened")
      << url << true << false << true << Reads{} << false << 0.0 << "RUD.exe"
      << "Connecting ... "
      << "" << QStringList{"http.open VB Program", "http.url " + url, "http.close"} << false
      << false;
  QTest::newRow("empty URL gets a generated name and cannot be opened")
      << "" << true << false << true << Reads{} << false << 0.0 << "Download140509120626.tmp"
      << "Connecting ... "
      << "" << QStringList{"http.open VB Program", "http.url ", "http.close"} << false << false;
  QTest::newRow("read fails mid-body")
      << url << true << false << false << cutShort << false << 0.0 << "RUD.exe"
      << "Downloading ... 8 KB"
      << "" << urlOpened << true << false;
  QTest::newRow("read throws mid-body")
      << url << true << false << false << throwsMidBody << false << 0.0 << "RUD.exe"
      << "Downloading ... 8 KB"
      << "" << urlOpened << true << false;
  QTest::newRow("read throws before any byte")
      << url << true << false << false << Reads{FakeRead::Throws()} << false << 0.0 << "RUD.exe"
      << "Downloading ... 0 KB"
      << "" << urlOpened << true << false;
  QTest::newRow("empty body") << url << true << false << false << Reads{} << false << 0.0
                              << "RUD.exe"
                              << "Downloading ... 0 KB"
                              << "" << urlOpened << true << false;
  QTest::newRow("save fails") << url << true << false << false
                              << Reads{FakeRead::Data(PatternBytes(1536))} << true << 0.0
                              << "RUD.exe"
                              << "Downloading ... 2 KB"
                              << "" << urlOpened << true << true;
}

void DownloadFileTest::failures() {
  QFETCH(QString, url);
  QFETCH(bool, folderHoldsFile);
  QFETCH(bool, openFails);
  QFETCH(bool, openUrlFails);
  QFETCH(Reads, reads);
  QFETCH(bool, saveFails);
  QFETCH(double, expectedCount);
  QFETCH(QString, shownFile);
  QFETCH(QString, shownProgress);
  QFETCH(QString, message);
  QFETCH(QStringList, httpCalls);
  QFETCH(bool, tones);
  QFETCH(bool, saveTried);

  FakeHttpScript script = Serving(reads);
  script.openFails = openFails;
  script.openUrlFails = openUrlFails;
  Rig rig(std::move(script));
  rig.files.holdsOrdinaryFile = folderHoldsFile;
  rig.files.saveFails = saveFails;
  // A clock that stands still holds back every repaint but the first, so the
  // row also shows that the view is brought up to date on the way out.
  rig.Fetch(url.toStdString());

  QCOMPARE(rig.byteCount, expectedCount);
  QCOMPARE(QString::fromStdString(rig.view.File().Painted()), shownFile);
  QCOMPARE(rig.ShownProgress(), shownProgress);
  QCOMPARE(rig.view.Progress().Painted(), rig.view.Progress().Text());
  QCOMPARE(rig.view.Bar().Painted(), rig.view.Bar().Value());
  QCOMPARE(rig.log.StartingWith("message "),
           message.isEmpty() ? QStringList{} : QStringList{"message " + message});
  QCOMPARE(rig.log.StartingWith("http.").filter(QRegularExpression("^http\\.(?!read)")), httpCalls);
  QCOMPARE(rig.log.StartingWith("beep ").isEmpty(), !tones);
  QCOMPARE(rig.log.StartingWith("save ").isEmpty(), !saveTried);
  QVERIFY(rig.files.Saves().empty());
}

void DownloadFileTest::successfulBodies_data() {
  QTest::addColumn<Reads>("reads");
  QTest::addColumn<QByteArray>("body");
  QTest::addColumn<QString>("shownProgress");
  QTest::addColumn<float>("shownValue");
  QTest::addColumn<int>("readCount");

  const auto chunk = [](std::size_t count, std::size_t offset) {
    return FakeRead::Data(PatternBytes(count, offset));
  };
  QTest::newRow("shorter than one read") << Reads{chunk(100, 0)} << Bytes(PatternBytes(100))
                                         << "Downloading ... 0 KB" << 100.0F / 1024 << 2;
  QTest::newRow("exactly one read") << Reads{chunk(8162, 0)} << Bytes(PatternBytes(8162))
                                    << "Downloading ... 8 KB" << 8162.0F / 1024 << 2;
  QTest::newRow("one read and a byte") << Reads{chunk(8163, 0)} << Bytes(PatternBytes(8163))
                                       << "Downloading ... 8 KB" << 8163.0F / 1024 << 3;
  QTest::newRow("small pieces kept in order")
      << Reads{chunk(1000, 0), chunk(1, 1000), chunk(535, 1001)} << Bytes(PatternBytes(1536))
      << "Downloading ... 2 KB" << 1.5F << 4;
  QTest::newRow("explicit end of body")
      << Reads{chunk(512, 0), FakeRead::End(), chunk(512, 512)} << Bytes(PatternBytes(512))
      << "Downloading ... 1 KB" << 0.5F << 2;
}

void DownloadFileTest::successfulBodies() {
  QFETCH(Reads, reads);
  QFETCH(QByteArray, body);
  QFETCH(QString, shownProgress);
  QFETCH(float, shownValue);
  QFETCH(int, readCount);

  Rig rig(Serving(reads));
  rig.Fetch();

  QCOMPARE(rig.byteCount, double(body.size()));
  QCOMPARE(rig.files.Saves().size(), std::size_t{1});
  QCOMPARE(Bytes(rig.files.Saves().front().body), body);
  QCOMPARE(rig.ShownProgress(), shownProgress);
  QCOMPARE(rig.view.Bar().Painted(), shownValue);
  QCOMPARE(rig.log.StartingWith("http.read ").size(), readCount);
  QVERIFY(rig.log.StartingWith("message ").isEmpty());
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
      "http.open VB Program",
      "http.url http://host/downloads/RUD.exe",
      "beep 1500 100",
      "beep 1800 200",
      "lblProgress=Downloading ... 0 KB",
      "lblProgress.refresh",
      "pgbDownload=0",
      "pgbDownload.refresh",
      "http.read 8162",
      "lblProgress=Downloading ... 2 KB",
      "lblProgress.refresh",
      "pgbDownload=1.5",
      "pgbDownload.refresh",
      "http.read 8162",
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

void DownloadFileTest::readsAskForAtMostOneBufferAndReuseIt() {
  const auto body = PatternBytes(50'000);
  Rig rig(Serving({FakeRead::Data(body)}, body.size()));
  rig.Fetch();

  for (const std::size_t asked : rig.http.ReadSizesAsked()) {
    QVERIFY2(asked <= 8162, qPrintable(QString::number(asked)));
  }
  const auto& buffers = rig.http.ReadBuffers();
  QCOMPARE(QSet<const std::byte*>(buffers.begin(), buffers.end()).size(), 1);
  QCOMPARE(Bytes(rig.files.Saves().front().body), Bytes(body));
}

void DownloadFileTest::announcedLengthIsOnlyAHint_data() {
  QTest::addColumn<std::optional<std::uint64_t>>("announced");

  QTest::newRow("none") << std::optional<std::uint64_t>{};
  QTest::newRow("exact") << std::optional<std::uint64_t>{20'000};
  QTest::newRow("too small") << std::optional<std::uint64_t>{10};
  QTest::newRow("zero") << std::optional<std::uint64_t>{0};
  QTest::newRow("far more than memory") << std::optional<std::uint64_t>{std::uint64_t{1} << 62};
  QTest::newRow("largest") << std::optional<std::uint64_t>{UINT64_MAX};
}

void DownloadFileTest::announcedLengthIsOnlyAHint() {
  QFETCH(std::optional<std::uint64_t>, announced);
  const auto body = PatternBytes(20'000);
  Rig rig(Serving({FakeRead::Data(body)}, announced));
  rig.Fetch();

  QCOMPARE(rig.byteCount, 20'000.0);
  QCOMPARE(Bytes(rig.files.Saves().front().body), Bytes(body));
}

QTEST_APPLESS_MAIN(DownloadFileTest)
#include "DownloadFile_test.moc"
