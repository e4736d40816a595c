#include "support/host/TestCertificates.h"

#include "support/ChildProcess.h"

namespace korvani::host {
namespace {

// P-256 keys take milliseconds to make, where RSA keys would add a noticeable share to a
// test. Valid from now, for far longer than any test runs.
const QStringList kNewKey{"-newkey", "ec",    "-pkeyopt", "ec_paramgen_curve:P-256",
                          "-noenc",  "-days", "2"};
// The extensions a server certificate for 127.0.0.1 needs; clients match IP addresses
// against subjectAltName only, never against the common name.
const QStringList kServerFor127{"-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"};

}  // namespace

TestCertificates::TestCertificates(int deadlineMs) {
  if (!folder_.isValid()) {
    failure_ = "cannot create a folder for the certificates: " + folder_.errorString();
    return;
  }
  const auto file = [this](const char* name) { return folder_.filePath(name); };
  const QStringList selfSigned = QStringList{"req", "-x509"} + kNewKey + kServerFor127 +
                                 QStringList{"-keyout", file("self.key"), "-out", file("self.pem")};
  const QStringList ca = QStringList{"req", "-x509"} + kNewKey +
                         QStringList{"-subj",   "/CN=Korvani test CA",
                                     "-addext", "basicConstraints=critical,CA:TRUE",
                                     "-addext", "keyUsage=critical,keyCertSign",
                                     "-keyout", file("ca.key"),
                                     "-out",    CaCertificate()};
  const QStringList signedByCa = QStringList{"req", "-x509"} + kNewKey + kServerFor127 +
                                 QStringList{"-addext", "basicConstraints=critical,CA:FALSE",
                                             "-CA",     CaCertificate(),
                                             "-CAkey",  file("ca.key"),
                                             "-keyout", file("leaf.key"),
                                             "-out",    file("leaf.pem")};
  for (const QStringList* run : {&selfSigned, &ca, &signedByCa}) {
    if (!RunOpenssl(*run, deadlineMs)) {
      return;
    }
  }
}

QStringList TestCertificates::HostArguments(Leaf leaf) const {
  const QString name = leaf == Leaf::SelfSigned ? "self" : "leaf";
  return {"--tls-cert", folder_.filePath(name + ".pem"), "--tls-key",
          folder_.filePath(name + ".key")};
}

QString TestCertificates::CaCertificate() const {
  return folder_.filePath("ca.pem");
}

bool TestCertificates::RunOpenssl(const QStringList& arguments, int deadlineMs) {
  const support::ChildRun openssl = support::RunChild("openssl", arguments, {}, deadlineMs);
  if (!openssl.EndedCleanly()) {
    failure_ = QString("openssl %1 %2: %3")
                   .arg(arguments.join(' '),
                        openssl.finished ? QString("exited with status %1").arg(openssl.exitCode)
                                         : QString("did not end"),
                        QString::fromLocal8Bit(openssl.errors));
    return false;
  }
  return true;
}

}  // namespace korvani::host
