// korvani-package-host: serves packages on loopback for the tests and the demo, and
// misbehaves on request (see FaultMode.h). Prints the port it listens on, alone on one
// line, then serves (HTTP, or HTTPS with --tls-cert) until SIGTERM or SIGINT.

#include <httplib.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <span>
#include <thread>

#include "FaultResponders.h"
#include "HostOptions.h"
#include "PackageServer.h"
#include "PackageStore.h"
#include "RequestLog.h"
#include "StopSignal.h"
#include "catalogue/SelectPackage.h"
#include "catalogue/Sha256Digest.h"
#include "platform/Sha256.h"

namespace {

using korvani::packagehost::FaultKind;
using korvani::packagehost::FaultResponder;
using korvani::packagehost::HostOptions;
using korvani::packagehost::PackageServer;
using korvani::packagehost::PackageStore;
using korvani::packagehost::RequestLog;
using korvani::packagehost::StopSignal;

// Held-back answers each keep a worker; enough for every test that holds several at once.
constexpr std::size_t kWorkerThreads = 32;

PackageStore BuildStore(const HostOptions& options) {
  PackageStore store;
  if (options.generateCatalogue) {
    for (const auto& package : korvani::catalogue::CataloguePackages()) {
      store.AddGenerated(std::string(package.fileName),
                         static_cast<std::size_t>(package.kilobytes) * 1024);
    }
  }
  for (const auto& [name, size] : options.generatedFiles) {
    store.AddGenerated(name, size);
  }
  if (!options.folder.empty()) {
    store.SetFolder(options.folder);
  }
  return store;
}

// The SHA256SUMS of what `store` serves, as sha256sum writes it, so that a build of the
// program can pin exactly these packages. False when the file cannot be written.
bool WriteSums(const PackageStore& store, const std::string& path) {
  std::ofstream sums(path, std::ios::binary | std::ios::trunc);
  for (const std::string& name : store.Names()) {
    const PackageStore::Bytes bytes = store.Find(name);
    if (!bytes) {
      continue;  // gone from the folder since it was listed
    }
    korvani::platform::Sha256 digest;
    digest.Update(std::as_bytes(std::span(bytes->data(), bytes->size())));
    sums << korvani::HexText(digest.Finish()) << "  " << name << '\n';
  }
  sums.close();
  return !sums.fail();
}

void ConfigureConnections(httplib::Server& server) {
  // Only one request per connection: an idle keep-alive connection would hold up a stop.
  server.set_keep_alive_max_count(1);
  server.new_task_queue = [] {
    // NOLINTNEXTLINE(cppcoreguidelines-owning-memory): httplib takes ownership
    return new httplib::ThreadPool(kWorkerThreads);
  };
}

void AddRoutes(httplib::Server& server, const PackageStore& store, const FaultResponder& responder,
               const HostOptions& options, const StopSignal& stop, RequestLog* log) {
  if (log != nullptr) {
    // Logged on arrival, before any answer is held back.
    server.set_pre_routing_handler([log](const httplib::Request& request, httplib::Response&) {
      log->Append(request.method, request.target, request.get_header_value("User-Agent"));
      return httplib::Server::HandlerResponse::Unhandled;
    });
  }
  server.Get(R"(/downloads/([^/]+))",
             [&store, &responder](const httplib::Request& request, httplib::Response& response) {
               const std::string name = request.matches[1];
               auto bytes = store.Find(name);
               if (!bytes) {
                 response.status = 404;
                 return;
               }
               responder.Answer(request, name, std::move(bytes), response);
             });
  if (options.fault.kind == FaultKind::Redirect) {
    server.Get(R"(/moved/([^/]+))",
               [&store, &stop](const httplib::Request& request, httplib::Response& response) {
                 auto bytes = store.Find(request.matches[1]);
                 if (!bytes) {
                   response.status = 404;
                   return;
                 }
                 korvani::packagehost::ServeWhole(std::move(bytes), stop, response);
               });
  }
}

// Serves until SIGTERM or SIGINT (both blocked in every thread, taken by sigwait here).
// True when a signal ended it, false when listening failed.
template <typename Server>
bool ServeUntilSignalled(Server& server, const sigset_t& stopSignals, StopSignal& stop) {
  std::thread signalWaiter([&server, &stopSignals, &stop] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    stop.Raise();
    server.StopListening();
  });
  server.listen_after_bind();
  const bool signalled = stop.Raised();
  if (!signalled) {
    // The waiter takes this like any stop request, which lets it end and be joined.
    kill(getpid(), SIGTERM);
  }
  signalWaiter.join();
  return signalled;
}

// Binds `port` (0: any) on `address`, prints the port taken and serves until signalled.
// The exit status.
template <typename Server>
int Serve(Server& server, const std::string& address, int port, const sigset_t& stopSignals,
          StopSignal& stop) {
  const int bound = port == 0                            ? server.bind_to_any_port(address)
                    : server.bind_to_port(address, port) ? port
                                                         : -1;
  if (bound <= 0) {
    std::cerr << "korvani-package-host: cannot listen on " << address << ':' << port << '\n';
    return 1;
  }
  std::cout << bound << std::endl;

  if (!ServeUntilSignalled(server, stopSignals, stop)) {
    std::cerr << "korvani-package-host: listening failed\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Never outlive the test or script that started the host.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  // Before any thread starts, so that every thread inherits the mask.
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  HostOptions options;
  std::string error;
  if (!korvani::packagehost::ParseHostOptions(argc, argv, options, error)) {
    std::cerr << "korvani-package-host: " << error << '\n' << korvani::packagehost::kHostUsage;
    return 2;
  }
  std::optional<RequestLog> log;
  if (!options.logFile.empty()) {
    log.emplace(options.logFile);
    if (!log->Opened()) {
      std::cerr << "korvani-package-host: cannot open " << options.logFile << " for appending\n";
      return 1;
    }
  }

  const PackageStore store = BuildStore(options);
  if (!options.sumsFile.empty() && !WriteSums(store, options.sumsFile)) {
    std::cerr << "korvani-package-host: cannot write " << options.sumsFile << '\n';
    return 1;
  }
  StopSignal stop;
  const FaultResponder responder(options.fault, stop);
  const auto setUp = [&](httplib::Server& server) {
    ConfigureConnections(server);
    AddRoutes(server, store, responder, options, stop, log ? &*log : nullptr);
  };
  if (options.tlsCertificate.empty()) {
    PackageServer<httplib::Server> server;
    setUp(server);
    return Serve(server, options.address, options.port, stopSignals, stop);
  }
  PackageServer<httplib::SSLServer> server(options.tlsCertificate.c_str(), options.tlsKey.c_str());
  if (!server.is_valid()) {
    std::cerr << "korvani-package-host: cannot serve HTTPS with certificate "
              << options.tlsCertificate << " and key " << options.tlsKey << '\n';
    return 1;
  }
  setUp(server);
  return Serve(server, options.address, options.port, stopSignals, stop);
}
