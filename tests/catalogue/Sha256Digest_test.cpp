#include "catalogue/Sha256Digest.h"

#include <QtTest>
#include <string>

using korvani::HexText;
using korvani::Sha256FromHex;

namespace {

// The SHA-256 of no bytes at all, as sha256sum writes it.
const QByteArray kEmptyDigest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

}  // namespace

class Sha256DigestTest : public QObject {
  Q_OBJECT

 private slots:
  void readsSixtyFourHexDigits_data();
  void readsSixtyFourHexDigits();
  void refusesAnyOtherText_data();
  void refusesAnyOtherText();
};

void Sha256DigestTest::readsSixtyFourHexDigits_data() {
  QTest::addColumn<QByteArray>("hex");

  QTest::newRow("lower case, as sha256sum writes") << kEmptyDigest;
  QTest::newRow("upper case, as Get-FileHash writes") << kEmptyDigest.toUpper();
  QTest::newRow("every digit in both cases")
      << QByteArray("00112233445566778899aabbccddeeffAABBCCDDEEFF0123456789abcdefABCD");
}

// Qt's own hex reading is the reference for the bytes; HexText gives the digits back.
void Sha256DigestTest::readsSixtyFourHexDigits() {
  QFETCH(QByteArray, hex);

  const auto digest = Sha256FromHex(hex.toStdString());
  QVERIFY(digest);
  QCOMPARE(QByteArray(reinterpret_cast<const char*>(digest->data()), digest->size()),
           QByteArray::fromHex(hex));
  QCOMPARE(QByteArray::fromStdString(HexText(*digest)), hex.toLower());
}

void Sha256DigestTest::refusesAnyOtherText_data() {
  QTest::addColumn<QByteArray>("hex");

  QTest::newRow("empty") << QByteArray();
  QTest::newRow("a digit short") << kEmptyDigest.chopped(1);
  QTest::newRow("a digit over") << kEmptyDigest + "5";
  QTest::newRow("a letter past f, last") << kEmptyDigest.chopped(1) + "g";
  QTest::newRow("a blank, first") << " " + kEmptyDigest.mid(1);
  QTest::newRow("a digit just past 9 in ASCII") << kEmptyDigest.chopped(1) + ":";
  QTest::newRow("a letter just before a in ASCII") << kEmptyDigest.chopped(1) + "`";
  QTest::newRow("a 0x prefix") << "0x" + kEmptyDigest.chopped(2);
}

void Sha256DigestTest::refusesAnyOtherText() {
  QFETCH(QByteArray, hex);

  QVERIFY(!Sha256FromHex(hex.toStdString()));
}

QTEST_APPLESS_MAIN(Sha256DigestTest)
#include "Sha256Digest_test.moc"
