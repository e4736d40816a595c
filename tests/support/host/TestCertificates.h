#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace korvani::host {

// Certificates for 127.0.0.1, made with the openssl command for one test and removed with
// the object, so that no key ever lies in the repository: one self-signed, which no client
// trusts, and one signed by a test CA of its own, which a client trusts once it trusts
// CaCertificate().
//
//   const TestCertificates certificates;
//   QVERIFY2(certificates.IsReady(), qPrintable(certificates.Failure()));
//   PackageHostProcess host(QStringList{"--generate"} +
//                           certificates.HostArguments(TestCertificates::Leaf::SignedByTestCa));
class TestCertificates {
 public:
  enum class Leaf { SelfSigned, SignedByTestCa };

  // Makes all of them, waiting at most `deadlineMs` for each openssl run.
  explicit TestCertificates(int deadlineMs = 20000);

  bool IsReady() const { return failure_.isEmpty(); }
  // Which openssl run failed, with what it wrote to stderr; empty when ready.
  QString Failure() const { return failure_; }

  // {"--tls-cert", FILE, "--tls-key", FILE}: the host serves HTTPS with that certificate.
  QStringList HostArguments(Leaf leaf) const;
  // The test CA's certificate (PEM), which signed the kSignedByTestCa leaf.
  QString CaCertificate() const;

 private:
  bool RunOpenssl(const QStringList& arguments, int deadlineMs);

  QTemporaryDir folder_;
  QString failure_;
};

}  // namespace korvani::host
