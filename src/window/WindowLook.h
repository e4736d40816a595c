#pragma once

namespace Ui {
class frmDownload;
}
class QColor;
class QWidget;

namespace korvani::window {

// Fonts, colours and the logo of the download window, on top of its form.
void ApplyLook(QWidget& window, Ui::frmDownload& ui);

// The contrast ratio of two colours as WCAG defines it: from 1 (alike) to 21
// (black against white), from their relative luminance.
double ContrastRatio(const QColor& one, const QColor& other);

// The text colour of the white banner: the scheme's button text where it stands
// out from white (a contrast of at least 4.5), and black where it does not, as
// under a dark scheme, whose button text is light.
QColor BannerInk(const QColor& buttonText);

}  // namespace korvani::window
