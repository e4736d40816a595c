#pragma once

#include <QWidget>
#include <memory>

#include "platform/WindowStacking.h"
#include "transfer/DownloadFile.h"
#include "window/ProgressControls.h"

namespace Ui {
class frmDownload;
}

namespace korvani::window {

// Told by the window how far its run has come.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // The fetch has returned: the package is saved or not, for good, and only the
  // result line and the pause are left.
  virtual void FetchReturned() = 0;
};

// Everything the download window reaches outside itself.
struct WindowServices {
  transfer::TransferServices transfer;
  platform::WindowStacking& stacking;
  RunObserver* observer = nullptr;  // null: nobody needs to know
};

// The program's one window. Loading it runs the whole visible run: show, keep
// on top, choose and fetch the package, show the result, pause, unload.
class frmDownload final : public QWidget, public transfer::ProgressView {
  Q_OBJECT

 public:
  explicit frmDownload(const WindowServices& services);
  ~frmDownload() override;

  // Runs the load handler to its end. Normally the window is unloaded when this
  // returns; after an exception it stays up as it was.
  void Load();
  // False once the window has been unloaded, by the run or by the user.
  bool IsLoaded() const { return loaded_; }

  void SetWindowToTop(WId plnghWnd);
  void SetWindowNotToTop(WId plnghWnd);

  transfer::Caption& lblFile() override { return lblFile_; }
  transfer::Caption& lblProgress() override { return lblProgress_; }
  transfer::ProgressBar& pgbDownload() override { return pgbDownload_; }
  void ShowMessage(const std::string& text) override;
  void ServeDesktopRequests() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Form_Load();
  void Form_Unload();
  void ShowCentred();
  void WaitSeconds(double seconds);
  void Unload();

  WindowServices services_;
  std::unique_ptr<Ui::frmDownload> ui_;
  LabelCaption lblFile_;
  LabelCaption lblProgress_;
  KilobyteBar pgbDownload_;
  Announcement resultAnnouncement_;
  bool loaded_ = true;
};

}  // namespace korvani::window
