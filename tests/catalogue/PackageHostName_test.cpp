#include "catalogue/PackageHostName.h"

#include <QtTest>
#include <string>

#include "support/ScopedEnvironment.h"

using korvani::catalogue::PackageHostName;
using korvani::catalogue::ResolvePackageHostName;
using korvani::support::ScopedEnvironment;

namespace {

const std::string kCompiledIn = "packages.compiled.test";

}  // namespace

class PackageHostNameTest : public QObject {
  Q_OBJECT

 private slots:
  void acceptsPlainHost_data();
  void acceptsPlainHost();
  void rejectsAnythingElse_data();
  void rejectsAnythingElse();
  void unsetOverrideGivesCompiledIn();
  void environmentOverridesCompiledIn_data();
  void environmentOverridesCompiledIn();
};

// Accepted, with the port the confinement is handed for it (0: none named).
void PackageHostNameTest::acceptsPlainHost_data() {
  QTest::addColumn<QByteArray>("override");
  QTest::addColumn<int>("port");

  QTest::newRow("name") << QByteArray("mirror.example") << 0;
  QTest::newRow("single label") << QByteArray("localhost") << 0;
  QTest::newRow("address with port") << QByteArray("127.0.0.1:8080") << 8080;
  QTest::newRow("lowest port") << QByteArray("localhost:1") << 1;
  QTest::newRow("highest port") << QByteArray("localhost:65535") << 65535;
  QTest::newRow("port with leading zero") << QByteArray("localhost:08080") << 8080;
}

void PackageHostNameTest::acceptsPlainHost() {
  QFETCH(QByteArray, override);
  QFETCH(int, port);

  QCOMPARE(QString::fromStdString(ResolvePackageHostName(override.constData(), kCompiledIn)),
           QString::fromLatin1(override));
  QCOMPARE(korvani::catalogue::PortOfHostName(override.toStdString()).value_or(0), port);
}

void PackageHostNameTest::rejectsAnythingElse_data() {
  QTest::addColumn<QByteArray>("override");

  QTest::newRow("empty") << QByteArray("");
  QTest::newRow("path") << QByteArray("evil.example/x");
  QTest::newRow("trailing slash") << QByteArray("mirror.example/");
  QTest::newRow("scheme") << QByteArray("http://mirror.example");
  QTest::newRow("user") << QByteArray("user@mirror.example");
  QTest::newRow("query") << QByteArray("mirror.example?x=1");
  QTest::newRow("fragment") << QByteArray("mirror.example#x");
  QTest::newRow("inner blank") << QByteArray("mirror example");
  QTest::newRow("leading blank") << QByteArray(" mirror.example");
  QTest::newRow("blank only") << QByteArray(" ");
  QTest::newRow("tab") << QByteArray("mirror.example\t");
  QTest::newRow("line feed") << QByteArray("mirror.example\nHost: evil");
  QTest::newRow("carriage return") << QByteArray("mirror.example\r");
  QTest::newRow("delete") << QByteArray("mirror.example\x7f");
  QTest::newRow("no host before port") << QByteArray(":8080");
  QTest::newRow("colon without port") << QByteArray("localhost:");
  QTest::newRow("port zero") << QByteArray("localhost:0");
  QTest::newRow("port beyond range") << QByteArray("localhost:65536");
  QTest::newRow("port of six digits") << QByteArray("localhost:008080");
  QTest::newRow("port with letters") << QByteArray("localhost:80a");
  QTest::newRow("signed port") << QByteArray("localhost:+80");
  QTest::newRow("two ports") << QByteArray("localhost:80:81");
}

void PackageHostNameTest::rejectsAnythingElse() {
  QFETCH(QByteArray, override);

  QCOMPARE(QString::fromStdString(ResolvePackageHostName(override.constData(), kCompiledIn)),
           QString::fromStdString(kCompiledIn));
  QVERIFY(!korvani::catalogue::PortOfHostName(override.toStdString()));
}

void PackageHostNameTest::unsetOverrideGivesCompiledIn() {
  QCOMPARE(QString::fromStdString(ResolvePackageHostName(nullptr, kCompiledIn)),
           QString::fromStdString(kCompiledIn));

  const ScopedEnvironment unset({"KORVANI_PACKAGE_HOST"});
  QCOMPARE(QString::fromStdString(PackageHostName()), QString(KORVANI_COMPILED_IN_HOST));
}

void PackageHostNameTest::environmentOverridesCompiledIn_data() {
  QTest::addColumn<QByteArray>("value");
  QTest::addColumn<QString>("expected");

  QTest::newRow("host with port") << QByteArray("127.0.0.1:8080") << "127.0.0.1:8080";
  QTest::newRow("empty") << QByteArray("") << KORVANI_COMPILED_IN_HOST;
  QTest::newRow("rejected") << QByteArray("evil.example/x") << KORVANI_COMPILED_IN_HOST;
}

void PackageHostNameTest::environmentOverridesCompiledIn() {
  QFETCH(QByteArray, value);
  QFETCH(QString, expected);

  ScopedEnvironment variable;
  variable.Set("KORVANI_PACKAGE_HOST", value);

  QCOMPARE(QString::fromStdString(PackageHostName()), expected);
}

QTEST_APPLESS_MAIN(PackageHostNameTest)
#include "PackageHostName_test.moc"
