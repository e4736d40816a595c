#pragma once

#include <QStringList>
#include <optional>

#include "e2e/FaultCases.h"
#include "support/host/PackageHostProcess.h"
#include "support/host/TestCertificates.h"

namespace korvani::e2e {

// The second host of the HTTPS cases: the package host on HTTPS with the case's
// certificate, made for this run, which the plain host sends every download to; or,
// for a build on HTTPS, the origin itself, which redirects every download down to a
// plain host of its own or to itself. Nothing at all for the other cases. The plain
// host and the HTTPS host share one port on two loopback addresses, because the
// confined program may connect to the port its package host names and to no other.
class HttpsHost {
 public:
  explicit HttpsHost(FaultCase::Https https) {
    if (https == FaultCase::Https::None) {
      return;
    }
    certificates_.emplace();
    if (!certificates_->IsReady()) {
      failure_ = certificates_->Failure();
      return;
    }
    const auto leaf = https == FaultCase::Https::SelfSigned
                          ? host::TestCertificates::Leaf::SelfSigned
                          : host::TestCertificates::Leaf::SignedByTestCa;
    if (https != FaultCase::Https::SelfSigned) {
      trustedCa_ = certificates_->CaCertificate();
    }
    QStringList arguments = QStringList{"--generate"} + certificates_->HostArguments(leaf);
    origin_ = https == FaultCase::Https::OriginToHttp || https == FaultCase::Https::OriginToHttps;
    if (https == FaultCase::Https::OriginToHttp) {
      // On the origin's port, which the confined program may reach: only the program's
      // refusal to go down to HTTP keeps it from asking there.
      downgrade_.emplace(QStringList{"--generate", "--address", kSecondAddress});
      if (!downgrade_->IsReady()) {
        failure_ = downgrade_->Failure();
        return;
      }
      arguments += {"--fault", "redirect-to:" + downgrade_->BaseUrl(), "--port",
                    QString::number(downgrade_->Port())};
    } else if (https == FaultCase::Https::OriginToHttps) {
      arguments += {"--fault", "redirect"};
    }
    host_.emplace(arguments);
    failure_ = host_->Failure();
  }

  bool IsReady() const { return failure_.isEmpty(); }
  QString Failure() const { return failure_; }

  // What the plain host needs besides --generate to send every download here. It takes
  // this host's port on another loopback address: the confined program reaches the port
  // its package host names, and no other.
  QStringList RedirectArguments() const {
    if (!host_ || origin_) {
      return {};
    }
    return {"--fault", "redirect-to:" + host_->BaseUrl(), "--address", kSecondAddress,
            "--port",  QString::number(host_->Port())};
  }
  // The certificate the program must trust for this case; empty when none.
  QString TrustedCa() const { return trustedCa_; }
  // Requests of /downloads/ that got through the TLS handshake to this host.
  qsizetype Requests() const {
    return host_ ? host_->RequestLog().filter(" /downloads/").size() : 0;
  }
  // True when the program is to fetch from this host, a build on HTTPS.
  bool IsOrigin() const { return origin_; }
  QString HostAndPort() const { return host_ ? host_->HostAndPort() : QString(); }
  // Requests of any kind at the plain host that the origin redirects down to.
  qsizetype DowngradedRequests() const { return downgrade_ ? downgrade_->RequestLog().size() : 0; }

 private:
  // Where a plain host shares the HTTPS host's port.
  static constexpr const char* kSecondAddress = "127.0.0.2";

  std::optional<host::TestCertificates> certificates_;
  std::optional<host::PackageHostProcess> downgrade_;
  std::optional<host::PackageHostProcess> host_;
  bool origin_ = false;
  QString trustedCa_;
  QString failure_;
};

}  // namespace korvani::e2e
