#include "window/WindowLook.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <algorithm>
#include <cmath>

#include "ui_frmDownload.h"

namespace korvani::window {
namespace {

// The classic dialog face is not on Linux desktops; Liberation Sans has the same
// metrics, so every caption fits the label it was laid out for.
constexpr const char* kFace = "Liberation Sans";
constexpr int kPixelSize = 11;
// The least contrast at which small text stays readable (WCAG, level AA).
constexpr double kReadableContrast = 4.5;

double RelativeLuminance(const QColor& colour) {
  const auto linear = [](double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
  };
  const QColor rgb = colour.toRgb();
  return 0.2126 * linear(rgb.redF()) + 0.7152 * linear(rgb.greenF()) + 0.0722 * linear(rgb.blueF());
}

// Qt widens the bitmap's 5-bit channels by a plain shift, so its white comes
// out as 248 and would show a grey seam against the white banner. Stretch each
// channel over the full 0 to 255 instead.
QPixmap LoadLogo() {
  QImage logo(QStringLiteral(":/window/KorvaniLogo.bmp"));
  logo = logo.convertToFormat(QImage::Format_RGB32);
  const auto widen = [](int channel) { return (channel >> 3) * 255 / 31; };
  for (int y = 0; y < logo.height(); ++y) {
    auto* row = reinterpret_cast<QRgb*>(logo.scanLine(y));
    for (int x = 0; x < logo.width(); ++x) {
      row[x] = qRgb(widen(qRed(row[x])), widen(qGreen(row[x])), widen(qBlue(row[x])));
    }
  }
  return QPixmap::fromImage(logo);
}

void Paint(QWidget& widget, QColor background, QColor foreground) {
  QPalette palette = widget.palette();
  palette.setColor(QPalette::Window, background);
  palette.setColor(QPalette::WindowText, foreground);
  widget.setPalette(palette);
  // Opaque: every control paints its own background behind its text.
  widget.setAutoFillBackground(true);
}

}  // namespace

void ApplyLook(QWidget& window, Ui::frmDownload& ui) {
  QFont regular(kFace);
  regular.setPixelSize(kPixelSize);
  regular.setWeight(QFont::Normal);
  window.setFont(regular);
  QFont bold = regular;
  bold.setWeight(QFont::Bold);
  ui.lbl_const_heading->setFont(bold);

  // The desktop's colour scheme supplies the four system colours.
  const QPalette desktop = QApplication::palette();
  const QColor buttonFace = desktop.color(QPalette::Button);
  const QColor buttonText = desktop.color(QPalette::ButtonText);
  const QColor windowBackground = desktop.color(QPalette::Base);
  const QColor windowText = desktop.color(QPalette::Text);
  const QColor white(255, 255, 255);

  Paint(window, buttonFace, buttonText);
  for (QWidget* banner :
       {static_cast<QWidget*>(ui.Frame1), static_cast<QWidget*>(ui.lbl_const_heading),
        static_cast<QWidget*>(ui.lbl_const_subheading)}) {
    Paint(*banner, white, BannerInk(buttonText));
  }
  for (QLabel* label : {ui.lblProgress, ui.lbl_const_prog, ui.lblFile, ui.lbl_const_file}) {
    Paint(*label, buttonFace, buttonText);
  }
  Paint(*ui.KorvaniImage, windowBackground, windowText);
  // A line is a one-pixel strip in the window text colour.
  Paint(*ui.lnTop, windowText, windowText);
  Paint(*ui.lnBottom, windowText, windowText);

  ui.KorvaniImage->setPixmap(LoadLogo());
  ui.KorvaniImage->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  for (QLabel* label : {ui.lbl_const_heading, ui.lbl_const_subheading, ui.lbl_const_prog,
                        ui.lblFile, ui.lbl_const_file}) {
    label->adjustSize();
  }
  ui.lblProgress->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // Captions come from the network (the file name) and are shown as they are:
  // a name with markup in it is no reason to render rich text or follow links.
  for (QLabel* label : window.findChildren<QLabel*>()) {
    label->setTextFormat(Qt::PlainText);
  }
}

double ContrastRatio(const QColor& one, const QColor& other) {
  const double a = RelativeLuminance(one);
  const double b = RelativeLuminance(other);
  return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QColor BannerInk(const QColor& buttonText) {
  const QColor white(255, 255, 255);
  return ContrastRatio(buttonText, white) >= kReadableContrast ? buttonText : QColor(0, 0, 0);
}

}  // namespace korvani::window
