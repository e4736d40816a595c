#include "support/fakes/RecordingProgressView.h"

namespace korvani::fakes {

void RecordingProgressView::RecordingCaption::SetCaption(const std::string& text) {
  text_ = text;
  log_.Add(name_ + QLatin1Char('=') + QString::fromStdString(text));
}

void RecordingProgressView::RecordingCaption::Refresh() {
  painted_ = text_;
  log_.Add(name_ + QStringLiteral(".refresh"));
}

void RecordingProgressView::RecordingBar::SetValue(float kilobytes) {
  value_ = kilobytes;
  values_.push_back(kilobytes);
  log_.Add(QStringLiteral("pgbDownload=") + QString::number(kilobytes));
}

void RecordingProgressView::RecordingBar::Refresh() {
  painted_ = value_;
  log_.Add(QStringLiteral("pgbDownload.refresh"));
}

void RecordingProgressView::ShowMessage(const std::string& text) {
  messages_.push_back(text);
  log_.Add("message " + text);
}

}  // namespace korvani::fakes
