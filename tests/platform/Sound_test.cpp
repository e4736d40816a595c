#include "platform/Sound.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/UniqueFd.h"
#include "support/ChildProcess.h"

// The tones are played by a helper program (KORVANI_TONE_PLAYER, "HZ MS ..." on its
// command line) so that each run reads an ALSA configuration of the test's own.

namespace {

constexpr int kSampleRate = 48000;  // what DesktopSound plays at
constexpr int kPlayerDeadlineMs = 30000;

// alsa-lib reads this file instead of its whole configuration tree. The "file" and
// "null" PCM types are built into the library, so nothing else is needed: the default
// PCM writes what it is given into a raw file and discards it. With truncate off, every
// opening of the PCM would get a file of its own (tone.raw, tone.raw.0001, ...).
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

std::vector<std::int16_t> Samples(const QByteArray& raw) {
  std::vector<std::int16_t> samples(static_cast<std::size_t>(raw.size()) / 2);
  std::memcpy(samples.data(), raw.data(), samples.size() * 2);  // S16_LE on a little-endian host
  return samples;
}

std::vector<std::int16_t> ReadSamples(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? Samples(file.readAll()) : std::vector<std::int16_t>();
}

// The samples from `startMs` on, for `durationMs`; fewer where the recording ends sooner.
std::vector<std::int16_t> Slice(const std::vector<std::int16_t>& samples, int startMs,
                                int durationMs) {
  const std::size_t start = std::min<std::size_t>(samples.size(), kSampleRate / 1000 * startMs);
  const std::size_t end =
      std::min<std::size_t>(samples.size(), start + kSampleRate / 1000 * durationMs);
  return {samples.begin() + static_cast<std::ptrdiff_t>(start),
          samples.begin() + static_cast<std::ptrdiff_t>(end)};
}

// What a reader of the FIFO at `path` gets until the writer closes it, its first
// `wantedBytes` or `deadlineMs` pass. The FIFO is opened without blocking, which
// releases a writer blocked in opening it.
QByteArray ReadFifo(const QString& path, qsizetype wantedBytes, int deadlineMs) {
  const korvani::platform::UniqueFd fifo(
      ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  QByteArray read;
  const QDeadlineTimer deadline(deadlineMs);
  while (fifo.IsOpen() && read.size() < wantedBytes && !deadline.hasExpired()) {
    pollfd watched{.fd = fifo.Get(), .events = POLLIN, .revents = 0};
    ::poll(&watched, 1, static_cast<int>(deadline.remainingTime()));
    char buffer[4096];
    const ssize_t count = ::read(fifo.Get(), buffer, sizeof buffer);
    if (count == 0) {
      break;  // the writer has closed it
    }
    if (count > 0) {
      read.append(buffer, count);
    }
  }
  return read;
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
  void playsOnlyTheTonesAskedForOnOneDevice();
  void withoutDeviceReturnsPromptlyAndPrintsNothing_data();
  void withoutDeviceReturnsPromptlyAndPrintsNothing();
  void lateDeviceHoldsTheTonesNoLongerThanTheirSlack_data();
  void lateDeviceHoldsTheTonesNoLongerThanTheirSlack();
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
  QTest::addColumn<int>("startMs");
  QTest::addColumn<double>("frequencyHz");
  QTest::addColumn<int>("durationMs");

  QTest::newRow("first: 1500 Hz, 100 ms") << 0 << 1500.0 << 100;
  QTest::newRow("then: 1800 Hz, 200 ms") << 100 << 1800.0 << 200;
}

void DesktopSoundTest::playsEachToneAtItsPitchForItsLength() {
  QFETCH(int, startMs);
  QFETCH(double, frequencyHz);
  QFETCH(int, durationMs);

  const std::vector<std::int16_t> samples =
      Slice(ReadSamples(capture_.filePath("tone.raw")), startMs, durationMs);

  QCOMPARE(samples.size(), static_cast<std::size_t>(kSampleRate / 1000 * durationMs));
  const double measured = FrequencyFromZeroCrossings(samples);
  QVERIFY2(std::abs(measured - frequencyHz) < 0.01 * frequencyHz,
           qPrintable(QString::number(measured)));
  // Loud enough to hear: far above silence, and not clipped to a square wave.
  const double rms = RootMeanSquare(samples);
  QVERIFY2(rms > 3000 && rms < 0.8 * 32767 / std::sqrt(2.0), qPrintable(QString::number(rms)));
}

void DesktopSoundTest::playsOnlyTheTonesAskedForOnOneDevice() {
  const QStringList tones = QDir(capture_.path()).entryList({"tone.raw*"}, QDir::Files, QDir::Name);
  QCOMPARE(tones, QStringList{"tone.raw"});
  QCOMPARE(ReadSamples(capture_.filePath("tone.raw")).size(),
           static_cast<std::size_t>(kSampleRate / 1000 * (100 + 200)));
}

void DesktopSoundTest::withoutDeviceReturnsPromptlyAndPrintsNothing_data() {
  QTest::addColumn<QByteArray>("config");

  QTest::newRow("no default PCM configured") << QByteArray();
  QTest::newRow("default PCM on a missing card")
      << QByteArray("pcm.!default { type hw card 31 }\n");
  QTest::newRow("default PCM of an unknown type")
      << QByteArray("pcm.!default { type no_such_plugin }\n");
}

void DesktopSoundTest::lateDeviceHoldsTheTonesNoLongerThanTheirSlack_data() {
  QTest::addColumn<bool>("answers");

  QTest::newRow("a device that never answers") << false;
  QTest::newRow("a device that answers once the callers have gone on") << true;
}

// ALSA's file plugin opens its file when the PCM opens; a FIFO without a reader
// holds that open, as a sound server does that never answers, or answers late (a
// fresh or suspended sink, a Bluetooth headset waking up) once a reader comes.
void DesktopSoundTest::lateDeviceHoldsTheTonesNoLongerThanTheirSlack() {
  QFETCH(bool, answers);
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
  QProcess player;
  player.setProcessEnvironment(
      korvani::support::EnvironmentWith({"ALSA_CONFIG_PATH=" + configPath}));
  player.start(QStringLiteral(KORVANI_TONE_PLAYER),
               {"--print-ms", "--stay", "1500", "100", "1800", "200"});
  QVERIFY(QTest::qWaitFor([&] { return player.canReadLine(); }, kPlayerDeadlineMs));
  bool isNumber = false;
  const int tookMs = player.readLine().trimmed().toInt(&isNumber);
  QVERIFY(isNumber);

  // Neither tone ends in time: the first waits out its length and the whole slack, and
  // both together no more than their lengths and the slack. What more is allowed
  // goes to starting the worker and to a busy machine's scheduling.
  constexpr int kLengths = 100 + 200;
  constexpr int kSlackMs = static_cast<int>(korvani::platform::DesktopSound::kSlack.count());
  QVERIFY2(tookMs >= 100 + kSlackMs && tookMs < kLengths + kSlackMs + 200,
           qPrintable(QString("%1 ms").arg(tookMs)));
  constexpr qsizetype kBytes = qsizetype{kSampleRate} / 1000 * kLengths * 2;
  const QByteArray heard = answers ? ReadFifo(fifo, kBytes, kPlayerDeadlineMs) : QByteArray();
  // The worker, blocked for good or not, holds up neither the player's end nor its status.
  player.closeWriteChannel();
  QVERIFY(player.waitForFinished(kPlayerDeadlineMs));
  QCOMPARE(player.exitStatus(), QProcess::NormalExit);
  QCOMPARE(player.exitCode(), 0);
  QCOMPARE(player.readAllStandardOutput() + player.readAllStandardError(), QByteArray());

  if (answers) {
    // Late, not lost: both, in order, each whole.
    QCOMPARE(heard.size(), kBytes);
    const std::vector<std::int16_t> samples = Samples(heard);
    for (const auto& [startMs, durationMs, frequencyHz] :
         {std::tuple{0, 100, 1500.0}, std::tuple{100, 200, 1800.0}}) {
      const double measured = FrequencyFromZeroCrossings(Slice(samples, startMs, durationMs));
      QVERIFY2(std::abs(measured - frequencyHz) < 0.01 * frequencyHz,
               qPrintable(QString("%1 Hz at %2 ms").arg(measured).arg(startMs)));
    }
  }
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
