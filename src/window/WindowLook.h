#pragma once

namespace Ui {
class frmDownload;
}
class QWidget;

namespace korvani::window {

// Fonts, colours and the logo of the download window, on top of its form.
void ApplyLook(QWidget& window, Ui::frmDownload& ui);

}  // namespace korvani::window
