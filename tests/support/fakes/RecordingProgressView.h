#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/fakes/EventLog.h"
#include "transfer/DownloadFile.h"

namespace korvani::fakes {

// A progress view that logs every call under the control's name
// ("lblFile=<text>", "lblFile.refresh", "pgbDownload=<value>", "message <text>")
// and remembers, per control, what it holds and what was last painted.
class RecordingProgressView : public transfer::ProgressView {
 public:
  class RecordingCaption : public transfer::Caption {
   public:
    RecordingCaption(EventLog& log, QString name) : log_(log), name_(std::move(name)) {}
    void SetCaption(const std::string& text) override;
    void Refresh() override;

    const std::string& Text() const { return text_; }
    // The caption as of the last Refresh(); empty before the first.
    const std::string& Painted() const { return painted_; }

   private:
    EventLog& log_;
    QString name_;
    std::string text_;
    std::string painted_;
  };

  class RecordingBar : public transfer::ProgressBar {
   public:
    explicit RecordingBar(EventLog& log) : log_(log) {}
    void SetValue(float kilobytes) override;
    void Refresh() override;

    float Value() const { return value_; }
    float Painted() const { return painted_; }
    // Every value set, in order, exactly as passed.
    const std::vector<float>& Values() const { return values_; }

   private:
    EventLog& log_;
    float value_ = 0;
    float painted_ = 0;
    std::vector<float> values_;
  };

  explicit RecordingProgressView(EventLog& log)
      : file_(log, QStringLiteral("lblFile")),
        progress_(log, QStringLiteral("lblProgress")),
        bar_(log),
        log_(log) {}

  transfer::Caption& lblFile() override { return file_; }
  transfer::Caption& lblProgress() override { return progress_; }
  transfer::ProgressBar& pgbDownload() override { return bar_; }
  void ShowMessage(const std::string& text) override;
  // Not logged: how often the desktop is served is pacing, not an event to order.
  void ServeDesktopRequests() override {}

  const RecordingCaption& File() const { return file_; }
  const RecordingCaption& Progress() const { return progress_; }
  const RecordingBar& Bar() const { return bar_; }
  const std::vector<std::string>& Messages() const { return messages_; }

 private:
  RecordingCaption file_;
  RecordingCaption progress_;
  RecordingBar bar_;
  EventLog& log_;
  std::vector<std::string> messages_;
};

}  // namespace korvani::fakes
