#include <QAccessible>
#include <QFontInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

#include "support/WindowRig.h"
#include "window/ProgressControls.h"
#include "window/WindowLook.h"
#include "window/frmDownload.h"

using namespace korvani;

namespace {

// A window that is laid out but never loaded.
using LaidOutWindow = support::WindowRig;

}  // namespace

class LayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void controlsLieWhereTheLayoutPutsThem_data() {
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("fitsText");
    QTest::newRow("Frame1") << "frmDownload" << QRect(0, 0, 498, 55) << "" << false;
    QTest::newRow("KorvaniImage") << "Frame1" << QRect(432, 0, 55, 55) << "" << false;
    QTest::newRow("lbl_const_heading")
        << "Frame1" << QRect(24, 8, 81, 13) << "File Download" << true;
    QTest::newRow("lbl_const_subheading")
        << "Frame1" << QRect(40, 24, 124, 13) << "Downloading required files" << true;
    QTest::newRow("cmdCancel") << "frmDownload" << QRect(408, 320, 73, 25) << "Cancel" << false;
    QTest::newRow("pgbDownload") << "frmDownload" << QRect(40, 152, 417, 17) << "" << false;
    QTest::newRow("lnTop") << "frmDownload" << QRect(0, 56, 496, 1) << "" << false;
    QTest::newRow("lnBottom") << "frmDownload" << QRect(0, 312, 496, 1) << "" << false;
    QTest::newRow("lblProgress") << "frmDownload" << QRect(304, 128, 151, 13) << "#" << false;
    QTest::newRow("lbl_const_prog")
        << "frmDownload" << QRect(40, 128, 80, 13) << "Overall Progress:" << true;
    QTest::newRow("lblFile") << "frmDownload" << QRect(184, 88, 7, 13) << "#" << true;
    QTest::newRow("lbl_const_file") << "frmDownload" << QRect(40, 88, 19, 13) << "File:" << true;
  }
  void controlsLieWhereTheLayoutPutsThem() {
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(bool, fitsText);
    LaidOutWindow window;
    const QWidget* control = window.Find(QTest::currentDataTag());
    QVERIFY(control != nullptr);
    QCOMPARE(control->parentWidget()->objectName(), parent);
    QCOMPARE(control->pos(), geometry.topLeft());
    if (fitsText) {
      // Sized by the font: Liberation Sans runs a pixel or two off the classic face.
      QVERIFY2(qAbs(control->width() - geometry.width()) <= 6,
               qPrintable(QString("width %1").arg(control->width())));
      QCOMPARE(control->height(), geometry.height());
    } else {
      QCOMPARE(control->size(), geometry.size());
    }
    if (const auto* label = qobject_cast<const QLabel*>(control); label && !text.isEmpty()) {
      QCOMPARE(label->text(), text);
    }
    if (const auto* button = qobject_cast<const QPushButton*>(control)) {
      QCOMPARE(button->text(), text);
    }
  }

  void controlsAreCreatedInTheirOrder() {
    LaidOutWindow window;
    QStringList order;
    for (const QObject* child : window.form.children()) {
      if (child->isWidgetType()) {
        order << child->objectName();
      }
    }
    QCOMPARE(order, (QStringList{"Frame1", "cmdCancel", "pgbDownload", "lnTop", "lnBottom",
                                 "lblProgress", "lbl_const_prog", "lblFile", "lbl_const_file"}));
    QStringList banner;
    for (const QObject* child : window.Find("Frame1")->children()) {
      if (child->isWidgetType()) {
        banner << child->objectName();
      }
    }
    QCOMPARE(banner, (QStringList{"KorvaniImage", "lbl_const_heading", "lbl_const_subheading"}));
  }

  void windowIsFixedAndTitled() {
    LaidOutWindow window;
    QCOMPARE(window.form.windowTitle(), QString("Setup - Korvani"));
    QCOMPARE(window.form.size(), QSize(498, 360));
    QCOMPARE(window.form.minimumSize(), QSize(498, 360));
    QCOMPARE(window.form.maximumSize(), QSize(498, 360));
    const Qt::WindowFlags flags = window.form.windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
  }

  void headingAloneIsBold() {
    LaidOutWindow window;
    for (const QLabel* label : window.form.findChildren<QLabel*>()) {
      if (label->objectName() == "KorvaniImage") {
        continue;
      }
      const QFontInfo font(label->font());
      QCOMPARE(font.family(), QString("Liberation Sans"));
      QCOMPARE(font.pixelSize(), 11);
      QCOMPARE(font.bold(), label->objectName() == "lbl_const_heading");
    }
  }

  void barStartsEmptyInRangeZeroToHundred() {
    LaidOutWindow window;
    const auto* bar = window.form.findChild<QProgressBar*>("pgbDownload");
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), window::KilobytesToSteps(100.0F));
    QCOMPARE(bar->value(), 0);
    QVERIFY(!bar->isTextVisible());
  }

  // Every text a label is given must show whole: the longest progress and result
  // lines of the catalogue's packages included.
  void textsFitTheirLabels_data() {
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("room");
    QTest::newRow("result, largest KB") << "lblProgress"
                                        << "Download Complete: 1023 KB" << 151;
    QTest::newRow("result, two decimals") << "lblProgress"
                                          << "Download Complete: 9.99 MB" << 151;
    QTest::newRow("progress") << "lblProgress"
                              << "Downloading ... 9999 KB" << 151;
    QTest::newRow("connecting") << "lblProgress"
                                << "Connecting ... " << 151;
    QTest::newRow("failed") << "lblProgress"
                            << "Download Failed" << 151;
    // The room a text-sized label has before it would touch its neighbour.
    QTest::newRow("heading") << "lbl_const_heading"
                             << "File Download" << 81 + 6;
    QTest::newRow("subheading") << "lbl_const_subheading"
                                << "Downloading required files" << 124 + 6;
    QTest::newRow("overall") << "lbl_const_prog"
                             << "Overall Progress:" << 304 - 40;
    QTest::newRow("file") << "lbl_const_file"
                          << "File:" << 184 - 40;
    QTest::newRow("longest package name") << "lblFile"
                                          << "VUD_de_win98.exe" << 498 - 184;
  }
  void textsFitTheirLabels() {
    QFETCH(QString, label);
    QFETCH(QString, text);
    QFETCH(int, room);
    LaidOutWindow window;
    const QFontMetrics metrics(window.Find<QLabel>(label)->font());
    QVERIFY2(metrics.horizontalAdvance(text) <= room,
             qPrintable(QString("%1 px").arg(metrics.horizontalAdvance(text))));
  }

  void barCountsKilobytesAsThousandths_data() {
    QTest::addColumn<float>("kilobytes");
    QTest::addColumn<int>("steps");
    QTest::newRow("zero") << 0.0F << 0;
    QTest::newRow("fraction") << 1.5F << 1500;
    QTest::newRow("package") << 883.0F << 883000;
    QTest::newRow("negative") << -3.0F << 0;
    QTest::newRow("NaN") << std::numeric_limits<float>::quiet_NaN() << 0;
    QTest::newRow("beyond int") << 1.0e10F << std::numeric_limits<int>::max();
  }
  void barCountsKilobytesAsThousandths() {
    QFETCH(float, kilobytes);
    QFETCH(int, steps);
    QCOMPARE(window::KilobytesToSteps(kilobytes), steps);
  }

  void barAboveItsMaxShowsFull() {
    LaidOutWindow window;
    auto& bar = window.form.pgbDownload();
    auto* widget = window.form.findChild<QProgressBar*>("pgbDownload");
    window::KilobyteBar(*widget).SetMax(10.0F);
    bar.SetValue(4.0F);
    bar.Refresh();
    QCOMPARE(widget->value(), 4000);
    bar.SetValue(25.0F);
    bar.Refresh();
    QCOMPARE(widget->value(), widget->maximum());
  }

  // What a screen reader reads: each label its caption exactly as set (markup
  // from a file name included, since labels show plain text), the bar its name.
  void assistiveTechnologyReadsTheControls_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("caption");  // set by the fetch; empty: as laid out
    QTest::addColumn<QString>("name");
    QTest::newRow("heading") << "lbl_const_heading"
                             << ""
                             << "File Download";
    QTest::newRow("subheading") << "lbl_const_subheading"
                                << ""
                                << "Downloading required files";
    QTest::newRow("overall") << "lbl_const_prog"
                             << ""
                             << "Overall Progress:";
    QTest::newRow("file label") << "lbl_const_file"
                                << ""
                                << "File:";
    QTest::newRow("file name with markup") << "lblFile"
                                           << "<b>setup</b>&amp;.exe"
                                           << "<b>setup</b>&amp;.exe";
    QTest::newRow("progress") << "lblProgress"
                              << "Downloading ... 12 KB"
                              << "Downloading ... 12 KB";
    QTest::newRow("bar") << "pgbDownload"
                         << ""
                         << "Overall Progress";
  }
  void assistiveTechnologyReadsTheControls() {
    QFETCH(QString, control);
    QFETCH(QString, caption);
    QFETCH(QString, name);
    LaidOutWindow window;
    if (!caption.isEmpty()) {
      auto& label = control == "lblFile" ? window.form.lblFile() : window.form.lblProgress();
      label.SetCaption(caption.toStdString());
      label.Refresh();
    }
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(window.Find(control));
    QVERIFY(accessible != nullptr);
    QCOMPARE(accessible->text(QAccessible::Name), name);
    QCOMPARE(accessible->role(),
             control == "pgbDownload" ? QAccessible::ProgressBar : QAccessible::StaticText);
  }

  // The banner is white whatever the scheme: its text keeps the scheme's button
  // text only where that stands out from white.
  void bannerInkStandsOutFromWhite_data() {
    QTest::addColumn<QColor>("buttonText");
    QTest::addColumn<QColor>("ink");
    QTest::newRow("light scheme, black") << QColor(0, 0, 0) << QColor(0, 0, 0);
    QTest::newRow("dark blue") << QColor(0x1a, 0x23, 0x7e) << QColor(0x1a, 0x23, 0x7e);
    QTest::newRow("grey at 4.54") << QColor(0x76, 0x76, 0x76) << QColor(0x76, 0x76, 0x76);
    QTest::newRow("grey at 4.48") << QColor(0x77, 0x77, 0x77) << QColor(0, 0, 0);
    QTest::newRow("dark scheme, light grey") << QColor(0xee, 0xee, 0xec) << QColor(0, 0, 0);
    QTest::newRow("white") << QColor(255, 255, 255) << QColor(0, 0, 0);
  }
  void bannerInkStandsOutFromWhite() {
    QFETCH(QColor, buttonText);
    QFETCH(QColor, ink);
    QCOMPARE(window::BannerInk(buttonText), ink);
    QVERIFY(window::ContrastRatio(ink, Qt::white) >= 4.5);
  }

  void contrastRunsFromOneToTwentyOne() {
    QCOMPARE(window::ContrastRatio(Qt::white, Qt::white), 1.0);
    QCOMPARE(window::ContrastRatio(Qt::black, Qt::white), 21.0);
    QCOMPARE(window::ContrastRatio(Qt::white, Qt::black), 21.0);
  }

  // Painted offscreen: the banner is white, the lines one dark pixel row each,
  // and the logo's edge merges into the banner.
  void paintedWindowShowsBannerLinesAndLogo() {
    LaidOutWindow window;
    const QImage image = window.form.grab().toImage();
    // Kept for a look by eye.
    image.save(QDir::current().filePath("Layout_test-window.png"));
    QCOMPARE(image.size(), QSize(498, 360));
    const QColor white(Qt::white);
    QCOMPARE(image.pixelColor(2, 2), white);
    QCOMPARE(image.pixelColor(300, 50), white);
    const QColor text = QApplication::palette().color(QPalette::Text);
    for (int y : {56, 312}) {
      QCOMPARE(image.pixelColor(0, y), text);
      QCOMPARE(image.pixelColor(495, y), text);
      QVERIFY(image.pixelColor(496, y) != text);
      QVERIFY(image.pixelColor(200, y - 1) != text);
      QVERIFY(image.pixelColor(200, y + 1) != text);
    }
    for (int i = 0; i < 55; ++i) {
      QCOMPARE(image.pixelColor(432 + i, 0), white);
      QCOMPARE(image.pixelColor(432, i), white);
      QCOMPARE(image.pixelColor(486, i), white);
    }
    QVERIFY(image.pixelColor(432 + 10, 27) != white);  // the picture itself shows
  }
};

QTEST_MAIN(LayoutTest)
#include "Layout_test.moc"
