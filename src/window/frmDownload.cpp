#include "window/frmDownload.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <mutex>

#include "catalogue/SelectPackage.h"
#include "startup/Settings.h"
#include "transfer/SizeText.h"
#include "ui_frmDownload.h"
#include "window/EventPump.h"
#include "window/WindowLook.h"

namespace korvani::window {
namespace {

constexpr const char* kTitle = "Setup - Korvani";
constexpr int kPauseSeconds = 2;
// A pass of the pause handles events this long before it raises the window
// again: often enough to win back the front at once, rare enough to cost no CPU.
constexpr std::chrono::milliseconds kPausePass{15};
// How long showing the window waits for the window manager to map it.
constexpr std::chrono::milliseconds kExposeDeadline{2000};

// Qt presents a top-level widget of its own class as a plain pane ("filler"), which a
// screen reader does not announce. This window is presented as an alert named by its
// title: screen readers announce an alert with every text it shows, in reading order,
// where of a frame they say only the title, and of a dialog only the texts of three
// words or more (neither the heading nor the file name).
QAccessibleInterface* PresentAsAlert(const QString& className, QObject* object) {
  if (className != QLatin1String(frmDownload::staticMetaObject.className()) ||
      !object->isWidgetType()) {
    return nullptr;
  }
  // Qt owns the interfaces its factories make and deletes them with their widget.
  // NOLINTNEXTLINE(cppcoreguidelines-owning-memory)
  return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::AlertMessage);
}

std::unique_ptr<Ui::frmDownload> CreateForm(QWidget& window) {
  auto form = std::make_unique<Ui::frmDownload>();
  form->setupUi(&window);
  return form;
}

}  // namespace

frmDownload::frmDownload(const WindowServices& services)
    : services_(services),
      ui_(CreateForm(*this)),
      lblFile_(*ui_->lblFile, LabelCaption::Sizing::FitsText),
      lblProgress_(*ui_->lblProgress, LabelCaption::Sizing::Fixed),
      pgbDownload_(*ui_->pgbDownload),
      resultAnnouncement_(*ui_->lblProgress) {
  static std::once_flag presented;
  std::call_once(presented, [] { QAccessible::installFactory(&PresentAsAlert); });
  // A fixed border with a system menu and a close button, nothing else.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFixedSize(size());
  ApplyLook(*this, *ui_);
  pgbDownload_.SetMax(100.0F);
  pgbDownload_.SetValue(0.0F);
}

frmDownload::~frmDownload() = default;

void frmDownload::Load() {
  Form_Load();
}

void frmDownload::Form_Load() {
  ShowCentred();
  SetWindowToTop(winId());

  const catalogue::PackageChoice choice =
      catalogue::SelectPackage(startup::gstrOSFamily, startup::gstrLanguage);
  if (choice.expectedKilobytes) {
    pgbDownload_.SetMax(*choice.expectedKilobytes);
  }

  double byteCount = 0;
  transfer::DownloadFile(services_.transfer, choice.url, byteCount, "", *this, choice.sha256);
  if (services_.observer != nullptr) {
    services_.observer->FetchReturned();
  }

  if (byteCount != 0) {
    lblProgress_.SetCaption("Download Complete: " + transfer::FormatFileSize(byteCount));
  } else {
    services_.transfer.sound.DefaultBeep();
    lblProgress_.SetCaption("Download Failed");
  }
  lblProgress_.Refresh();
  // Heard as it appears, before the pause: a screen reader does not read out a label
  // that changes on its own.
  resultAnnouncement_.Announce();

  WaitSeconds(kPauseSeconds);
  // The user may have closed the window during the pause; it stays closed.
  if (loaded_) {
    Unload();
  }
}

void frmDownload::Form_Unload() {
  SetWindowNotToTop(winId());
}

void frmDownload::SetWindowToTop(WId plnghWnd) {
  services_.stacking.SetTopmost(plnghWnd, true);
}

void frmDownload::SetWindowNotToTop(WId plnghWnd) {
  services_.stacking.SetTopmost(plnghWnd, false);
}

void frmDownload::ShowMessage(const std::string& text) {
  // Owned by this window, so that it stands above it although it is topmost.
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kTitle), QString::fromStdString(text),
                  QMessageBox::Ok, this);
  box.exec();
}

void frmDownload::ServeDesktopRequests() {
  // Input waits for the pause: until then the user's only part is to watch.
  ProcessEventsButInput();
}

void frmDownload::closeEvent(QCloseEvent* event) {
  if (loaded_) {
    Form_Unload();
    loaded_ = false;
  }
  event->accept();
}

void frmDownload::ShowCentred() {
  if (const QScreen* screen = this->screen()) {
    QRect area(QPoint(), size());
    area.moveCenter(screen->availableGeometry().center());
    setGeometry(area);
  }
  show();
  // Paint before the fetch blocks this thread: wait for the window manager to
  // map the window, without letting input through yet.
  const QDeadlineTimer deadline(kExposeDeadline);
  while (!windowHandle()->isExposed() && !deadline.hasExpired()) {
    ProcessEventsWaiting(QEventLoop::ExcludeUserInputEvents,
                         std::chrono::milliseconds(std::max<qint64>(1, deadline.remainingTime())));
  }
  repaint();
}

void frmDownload::WaitSeconds(double seconds) {
  const platform::Clock& clock = services_.transfer.clock;
  const auto end = clock.MonotonicNow() + std::chrono::duration_cast<std::chrono::nanoseconds>(
                                              std::chrono::duration<double>(seconds));
  // Ends at the first reading past the end, or once the user has closed the
  // window: a closed window is never raised again.
  for (auto now = clock.MonotonicNow(); now <= end && loaded_; now = clock.MonotonicNow()) {
    // A whole slice of events before each raise: the window manager answers a
    // raise with events of its own, which would otherwise start the next pass
    // at once and keep two processes and the X server busy for the pause.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - now);
    ProcessEventsFor(std::clamp(left, std::chrono::milliseconds(1), kPausePass));
    if (loaded_) {
      raise();
    }
  }
}

void frmDownload::Unload() {
  close();
}

}  // namespace korvani::window
