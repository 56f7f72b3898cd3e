// The stand-in web service as a test sees it: started fresh on a free port for one test (or
// suite), asked what it received, told to queue budget states or to fail on purpose.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "base/TextKinds.h"

namespace fesko::test {

// A loopback port nobody listens on right now.
int UnusedPort();

class StandIn {
 public:
  StandIn();
  ~StandIn();
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;

  bool Running() const { return base_.starts_with("http://"); }
  // "http://127.0.0.1:PORT/", as the agent's base URL.
  const std::string& Base() const { return base_; }
  WideString BaseUrl() const { return Utf8ToWide(base_); }

  struct Call {
    std::string page, soapaction, idcompra, accepted, readfilexmls;  // readfilexmls in UTF-8
  };
  // Every call received so far, in arrival order; only those of `page` when given.
  std::vector<Call> Received(std::string_view page = {}) const;
  void Queue(int idcompra, std::string_view orden, std::string_view estado) const;
  // A raw text placed among the queued pairs, for malformed download replies.
  void QueueRaw(int idcompra, std::string_view text) const;
  // mode: none, 404, 500fault, html, notxml, stall, 500notxml, drop; page "*" for all. With a
  // count the rule lapses after that many calls.
  void Fail(std::string_view page, std::string_view mode, int seconds = 0, int count = 0) const;
  void Reset() const;
  // The web service goes away (connections to its port are refused) and comes back on the same
  // port, with the calls and queue it had.
  void Stop();
  void Restart();

 private:
  void Post(const std::string& what, const std::string& json) const;
  int port_;
  std::filesystem::path dir_;
  std::string base_;
};

// Every call the stand-in serving at `base` received so far, in arrival order, read by way of
// the folder `scratch`, which is made and removed again.
std::vector<StandIn::Call> ReceivedAt(const std::string& base,
                                      const std::filesystem::path& scratch);

}  // namespace fesko::test
