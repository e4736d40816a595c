#pragma once

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdint>
#include <cstring>
#include <vector>

#include "support/ChildProcess.h"

namespace korvani::e2e {

// A PulseAudio server of the test's own, as a desktop has one: a null sink whose monitor
// a recorder listens to, fresh (nothing has played on it, so its first stream takes
// about two seconds to start, as a sink waking from suspend does), on a socket in a runtime folder
// of its own, open to any client (no cookie to share). The program reaches it through ALSA's pulse
// plugin, with only Unix sockets and memory it shares by descriptor: nothing it writes to a file.
class SoundServer {
 public:
  SoundServer() {
    for (const char* tool : {"pulseaudio", "parecord", "pactl"}) {
      if (QStandardPaths::findExecutable(tool).isEmpty()) {
        refusal_ = QString("%1 is not installed (Debian: pulseaudio, pulseaudio-utils)").arg(tool);
        return;
      }
    }
    if (!QFile::exists("/usr/lib/x86_64-linux-gnu/alsa-lib/libasound_module_pcm_pulse.so") &&
        !QFile::exists("/usr/lib/alsa-lib/libasound_module_pcm_pulse.so")) {
      refusal_ = "ALSA's pulse plugin is not installed (Debian: libasound2-plugins)";
      return;
    }
    // The client reads a cookie before it connects; the server asks for none.
    QFile cookie(Path("cookie"));
    QFile config(Path("asoundrc"));
    if (!cookie.open(QIODevice::WriteOnly) || cookie.write(QByteArray(256, '\0')) != 256 ||
        !config.open(QIODevice::WriteOnly) ||
        config.write("pcm.!default { type pulse }\nctl.!default { type pulse }\n") <= 0) {
      refusal_ = "cannot write the sound server's files";
      return;
    }
    server_.setProcessEnvironment(support::EnvironmentWith(OwnEnvironment()));
    server_.setProcessChannelMode(QProcess::MergedChannels);
    server_.start("pulseaudio",
                  {"--daemonize=no", "-n", "--exit-idle-time=-1", "--use-pid-file=no",
                   "--log-target=stderr", "-L", "module-null-sink sink_name=korvani", "-L",
                   "module-native-protocol-unix auth-anonymous=1 socket=" + Path("native")});
    if (!QTest::qWaitFor([&] { return Answers() || server_.state() == QProcess::NotRunning; },
                         kDeadlineMs) ||
        !Answers()) {
      refusal_ = "pulseaudio did not start: " + QString::fromLocal8Bit(server_.readAll());
    }
  }
  ~SoundServer() {
    for (QProcess* process : {&recorder_, &server_}) {
      process->terminate();
      if (!process->waitForFinished(kDeadlineMs)) {
        process->kill();
        process->waitForFinished(kDeadlineMs);
      }
    }
  }
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  // Why there is no server here; empty when it runs.
  QString refusal() const { return refusal_; }

  // What a client needs to play on this server through ALSA.
  QStringList ClientEnvironment() const {
    return {"ALSA_CONFIG_PATH=" + Path("asoundrc"), "PULSE_SERVER=unix:" + Path("native"),
            "PULSE_COOKIE=" + Path("cookie")};
  }

  // Starts recording what the sink plays; true once the recorder is on its monitor.
  bool StartListening() {
    recorder_.setProcessEnvironment(support::EnvironmentWith(OwnEnvironment()));
    recorder_.start("parecord",
                    {"--device=korvani.monitor", "--raw", "--format=s16le", "--rate=48000",
                     "--channels=1", "--latency-msec=20", Path("heard.raw")});
    return QTest::qWaitFor([&] { return Listeners() > 0; }, kDeadlineMs);
  }

  // Stops the recorder and returns what it heard: mono, 48 kHz.
  std::vector<std::int16_t> StopListening() {
    recorder_.terminate();
    recorder_.waitForFinished(kDeadlineMs);
    QFile heard(Path("heard.raw"));
    const QByteArray raw = heard.open(QIODevice::ReadOnly) ? heard.readAll() : QByteArray();
    std::vector<std::int16_t> samples(static_cast<std::size_t>(raw.size()) / 2);
    std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
  }

 private:
  static constexpr int kDeadlineMs = 10000;

  QString Path(const QString& name) const { return runtime_.filePath(name); }
  // Its state and the tools' settings stay in the runtime folder.
  QStringList OwnEnvironment() const {
    return {"HOME=" + runtime_.path(),
            "XDG_RUNTIME_DIR=" + runtime_.path(),
            "XDG_CONFIG_HOME=" + runtime_.path(),
            "PULSE_SERVER=unix:" + Path("native"),
            "PULSE_COOKIE=" + Path("cookie"),
            "DISPLAY"};
  }
  bool Answers() const {
    return support::RunChild("pactl", {"info"}, OwnEnvironment(), kDeadlineMs).EndedCleanly();
  }
  qsizetype Listeners() const {
    const support::ChildRun run =
        support::RunChild("pactl", {"list", "short", "source-outputs"}, OwnEnvironment());
    return run.EndedCleanly() ? run.output.count('\n') : 0;
  }

  QTemporaryDir runtime_;
  QProcess server_;
  QProcess recorder_;
  QString refusal_;
};

}  // namespace korvani::e2e
