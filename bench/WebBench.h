// What the web benchmarks share: the stand-in web service started on a free loopback port and
// asked what it received, a plain libcurl client that posts prepared SOAP requests over one
// kept connection, the baseline they are measured against, and the real program started as a
// person runs it.
#pragma once

#include <curl/curl.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bench/BenchSupport.h"

namespace fesko::bench {

// One call as the stand-in recorded it.
struct ReceivedCall {
  long id = 0;
  std::string page;
  std::string soapaction;
  bool accepted = false;
  std::string readfilexmls;  // UTF-8
  double received_at = 0;    // seconds since the epoch
};

// A libcurl easy handle that keeps its connection between posts, as a careful client would.
class CurlClient {
 public:
  CurlClient();
  ~CurlClient();
  CurlClient(const CurlClient&) = delete;
  CurlClient& operator=(const CurlClient&) = delete;

  // Posts a SOAP request and returns the reply body; throws unless the status is 200.
  std::string PostSoap(const std::string& url, const std::string& soapAction,
                       const std::string& body);
  std::string Get(const std::string& url);
  std::string PostJson(const std::string& url, const std::string& json);

 private:
  std::string Perform(const std::string& url, long& status);
  CURL* curl_;
  std::string reply_;
};

// A stand-in web service: either one this process starts on a free loopback port (and stops;
// it also ends when this process is killed), or one already serving at `base` (through the
// bench link, for instance).
class StandIn {
 public:
  StandIn();  // starts a fresh one on loopback
  explicit StandIn(std::string base);
  ~StandIn();
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;

  const std::string& Base() const { return base_; }
  void Reset();
  // The calls received with an id above `since`, in arrival order.
  std::vector<ReceivedCall> Received(long since = 0);
  // The id of the latest call, 0 when none.
  long LastId();

 private:
  std::string base_;
  pid_t pid_ = -1;  // when started here
  std::filesystem::path dir_;
  CurlClient control_;
};

// The program as a person runs it: a copy of `executable` in `folder`, its config.ini beside it
// attached to `attachment` as the bench's user, no desktop, standard output and error in
// dunmar.log. Ended as "Salir" ends it when it goes.
class Dunmar {
 public:
  Dunmar(const std::filesystem::path& executable, const std::filesystem::path& folder,
         const std::string& attachment);
  ~Dunmar();
  Dunmar(const Dunmar&) = delete;
  Dunmar& operator=(const Dunmar&) = delete;

  pid_t Pid() const { return pid_; }
  bool Running();
  std::string Log() const;
  // Which config.ini there is and when it was written: every upload moves a marker afterwards,
  // and the file is replaced whole.
  std::pair<std::int64_t, std::int64_t> ConfigStamp() const;

 private:
  std::filesystem::path folder_;
  pid_t pid_ = -1;
};

// The SOAP request of one upload, as the program builds it.
struct PreparedPost {
  std::string url;
  std::string soapAction;
  std::string body;
};
// The requests that carry the documents of `calls` to `base` again.
std::vector<PreparedPost> PrepareReposts(const std::vector<ReceivedCall>& calls,
                                         const std::string& base, std::int32_t idcompra);

}  // namespace fesko::bench
