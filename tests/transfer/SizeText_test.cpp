#include <QtTest>

class SizeTextTest : public QObject {
  Q_OBJECT
};

QTEST_APPLESS_MAIN(SizeTextTest)
#include "SizeText_test.moc"
