// A scripted HTTP server on a free loopback port for the web layer's tests (responder.py):
// fixed reply shapes by path, and a log of every request it received.
#pragma once

#include "tests/support/StandIn.h"

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/TextKinds.h"

namespace fesko::web::test {

class Responder {
 public:
  struct Certificate {
    std::string certFile;
    std::string keyFile;
  };
  // Starts the server (with TLS when a certificate is given) and waits for its port.
  explicit Responder(std::optional<Certificate> tls = std::nullopt);
  ~Responder();
  Responder(const Responder&) = delete;
  Responder& operator=(const Responder&) = delete;

  int Port() const { return port_; }
  // "http://127.0.0.1:PORT" (or https) followed by `path`.
  WideString Url(std::string_view path) const;

  struct Request {
    std::string path;         // as sent in the request line
    std::string soapAction;   // header value, quotes included
    std::string contentType;  // header value
    std::string peer;         // client port: the same port means the same connection
    std::string body;         // raw bytes
    std::string document;     // Readfilexmls as Python's XML parser reads it back
  };
  int RequestCount() const;
  Request RequestNumber(int number) const;  // from 1
  Request LastRequest() const { return RequestNumber(RequestCount()); }

 private:
  std::filesystem::path logDir_;
  pid_t pid_ = -1;
  int port_ = 0;
  bool tls_ = false;
};

// A loopback port nobody listens on.
using fesko::test::UnusedPort;

}  // namespace fesko::web::test
