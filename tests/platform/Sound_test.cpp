#include "platform/Sound.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "support/ChildProcess.h"

// The tones are played by a helper program (KORVANI_TONE_PLAYER, "HZ MS ..." on its
// command line) so that each run reads an ALSA configuration of the test's own.

namespace {

constexpr int kSampleRate = 48000;  // what DesktopSound plays at
constexpr int kPlayerDeadlineMs = 30000;

// alsa-lib reads this file instead of its whole configuration tree. The "file" and
// "null" PCM types are built into the library, so nothing else is needed: the default
// PCM writes what it is given into a raw file and discards it. With truncate off, every
// opening of the PCM gets a file of its own (tone.raw, tone.raw.0001, ...).
QByteArray CaptureConfig(const QString& folder) {
  return QStringLiteral(
             "pcm.!default {\n"
             "  type file\n"
             "  slave.pcm { type null }\n"
             "  file \"%1/tone.raw\"\n"
             "  format \"raw\"\n"
             "  truncate false\n"
             "}\n")
      .arg(folder)
      .toUtf8();
}

// Plays `tones` under the ALSA configuration at `configPath`.
korvani::support::ChildRun RunPlayer(const QString& configPath, const QStringList& tones) {
  return korvani::support::RunChild(QStringLiteral(KORVANI_TONE_PLAYER), tones,
                                    {"ALSA_CONFIG_PATH=" + configPath}, kPlayerDeadlineMs);
}

bool WriteText(const QString& path, const QByteArray& text) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

std::vector<std::int16_t> ReadSamples(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    return {};
  }
  const QByteArray raw = file.readAll();
  std::vector<std::int16_t> samples(static_cast<std::size_t>(raw.size()) / 2);
  std::memcpy(samples.data(), raw.data(), samples.size() * 2);  // S16_LE on a little-endian host
  return samples;
}

// A pure tone crosses zero twice per period; samples that are exactly 0 (the faded
// ends) are skipped rather than counted.
double FrequencyFromZeroCrossings(const std::vector<std::int16_t>& samples) {
  int crossings = 0;
  int lastSign = 0;
  for (const std::int16_t sample : samples) {
    const int sign = (sample > 0) - (sample < 0);
    if (sign != 0) {
      crossings += static_cast<int>(lastSign != 0 && sign != lastSign);
      lastSign = sign;
    }
  }
  return crossings / 2.0 * kSampleRate / static_cast<double>(samples.size());
}

double RootMeanSquare(const std::vector<std::int16_t>& samples) {
  double sum = 0;
  for (const std::int16_t sample : samples) {
    sum += static_cast<double>(sample) * sample;
  }
  return samples.empty() ? 0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

}  // namespace

class DesktopSoundTest : public QObject {
  Q_OBJECT

  QTemporaryDir capture_;
  korvani::support::ChildRun captureRun_;

 private slots:
  void initTestCase();
  void playsEachToneAtItsPitchForItsLength_data();
  void playsEachToneAtItsPitchForItsLength();
  void playsOnlyTheTonesAskedFor();
  void withoutDeviceReturnsPromptlyAndPrintsNothing_data();
  void withoutDeviceReturnsPromptlyAndPrintsNothing();
  void stuckDeviceHoldsTheTonesNoLongerThanTheirSlack();
};

// Both tones the download plays, captured once.
void DesktopSoundTest::initTestCase() {
  QVERIFY(capture_.isValid());
  const QString config = capture_.filePath("asoundrc");
  QVERIFY(WriteText(config, CaptureConfig(capture_.path())));
  captureRun_ = RunPlayer(config, {"1500", "100", "1800", "200"});
  QVERIFY(captureRun_.finished);
  QCOMPARE(captureRun_.exitCode, 0);
  QCOMPARE(captureRun_.Printed(), QByteArray());
}

void DesktopSoundTest::playsEachToneAtItsPitchForItsLength_data() {
  QTest::addColumn<QString>("file");
  QTest::addColumn<double>("frequencyHz");
  QTest::addColumn<int>("durationMs");

  QTest::newRow("first: 1500 Hz, 100 ms") << "tone.raw" << 1500.0 << 100;
  QTest::newRow("second: 1800 Hz, 200 ms") << "tone.raw.0001" << 1800.0 << 200;
}

void DesktopSoundTest::playsEachToneAtItsPitchForItsLength() {
  QFETCH(QString, file);
  QFETCH(double, frequencyHz);
  QFETCH(int, durationMs);

  const std::vector<std::int16_t> samples = ReadSamples(capture_.filePath(file));

  QCOMPARE(samples.size(), static_cast<std::size_t>(kSampleRate / 1000 * durationMs));
  const double measured = FrequencyFromZeroCrossings(samples);
  QVERIFY2(std::abs(measured - frequencyHz) < 0.01 * frequencyHz,
           qPrintable(QString::number(measured)));
  // Loud enough to hear: far above silence, and not clipped to a square wave.
  const double rms = RootMeanSquare(samples);
  QVERIFY2(rms > 3000 && rms < 0.8 * 32767 / std::sqrt(2.0), qPrintable(QString::number(rms)));
}

void DesktopSoundTest::playsOnlyTheTonesAskedFor() {
  const QStringList tones = QDir(capture_.path()).entryList({"tone.raw*"}, QDir::Files, QDir::Name);
  QCOMPARE(tones, (QStringList{"tone.raw", "tone.raw.0001"}));
}

void DesktopSoundTest::withoutDeviceReturnsPromptlyAndPrintsNothing_data() {
  QTest::addColumn<QByteArray>("config");

  QTest::newRow("no default PCM configured") << QByteArray();
  QTest::newRow("default PCM on a missing card")
      << QByteArray("pcm.!default { type hw card 31 }\n");
  QTest::newRow("default PCM of an unknown type")
      << QByteArray("pcm.!default { type no_such_plugin }\n");
}

// ALSA's file plugin opens its file when the PCM opens; a FIFO without a reader
// holds that open for good, as a device that never answers would.
void DesktopSoundTest::stuckDeviceHoldsTheTonesNoLongerThanTheirSlack() {
  QTemporaryDir dir;
  const QString fifo = dir.filePath("tone.fifo");
  QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const QString configPath = dir.filePath("asoundrc");
  QVERIFY(WriteText(configPath, QStringLiteral("pcm.!default {\n"
                                               "  type file\n"
                                               "  slave.pcm { type null }\n"
                                               "  file \"%1\"\n"
                                               "  format \"raw\"\n"
                                               "}\n")
                                    .arg(fifo)
                                    .toUtf8()));

  const korvani::support::ChildRun run =
      RunPlayer(configPath, {"--print-ms", "1500", "100", "1800", "200"});

  QVERIFY(run.finished);
  QCOMPARE(run.exitCode, 0);
  bool isNumber = false;
  const int tookMs = run.Printed().trimmed().toInt(&isNumber);
  QVERIFY2(isNumber, run.Printed().constData());
  // The first tone waits out its length and the whole slack, the second none.
  constexpr auto kBound = std::chrono::milliseconds(100 + 200 + 500);
  QVERIFY2(
      tookMs >= 100 + korvani::platform::DesktopSound::kSlack.count() && tookMs < kBound.count(),
      qPrintable(QString("%1 ms").arg(tookMs)));
}

void DesktopSoundTest::withoutDeviceReturnsPromptlyAndPrintsNothing() {
  QFETCH(QByteArray, config);
  QTemporaryDir dir;
  const QString configPath = dir.filePath("asoundrc");
  QVERIFY(WriteText(configPath, config));
  constexpr int kToneMs = 5000;

  const korvani::support::ChildRun run = RunPlayer(configPath, {"1500", QString::number(kToneMs)});

  QVERIFY(run.finished);
  QCOMPARE(run.exitCode, 0);
  QCOMPARE(run.Printed(), QByteArray());
  // A tone that is skipped is not waited out.
  QVERIFY2(run.elapsedMs < kToneMs, qPrintable(QString::number(run.elapsedMs)));
}

QTEST_GUILESS_MAIN(DesktopSoundTest)
#include "Sound_test.moc"
