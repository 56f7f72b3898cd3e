#include "tests/support/StandIn.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "tests/support/TestDatabase.h"

namespace fesko::test {
namespace {

const char kPython[] = "/usr/bin/python3";  // the stand-in needs Debian's spyne

// What `command` printed, without its final line breaks.
std::string Run(const std::string& command) {
  std::string output = Capture(command);
  while (!output.empty() && output.back() == '\n') output.pop_back();
  return output;
}

// A JSON string of UTF-8 text.
std::string Json(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

int UnusedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

StandIn::StandIn() : port_(UnusedPort()) {
  // The agent must reach the stand-in directly, whatever proxy the environment names.
  ::setenv("no_proxy", "127.0.0.1,localhost", 1);
  char pattern[] = "/tmp/fesko-standin-XXXXXX";
  dir_ = ::mkdtemp(pattern);
  base_ = Run(SourceDir() + "/scripts/webservice-start --fresh --port " + std::to_string(port_) +
              " --db " + (dir_ / "standin.sqlite").string());
}

void StandIn::Stop() {
  Run(SourceDir() + "/scripts/webservice-stop --port " + std::to_string(port_));
}

void StandIn::Restart() {
  base_ = Run(SourceDir() + "/scripts/webservice-start --port " + std::to_string(port_) + " --db " +
              (dir_ / "standin.sqlite").string());
}

StandIn::~StandIn() {
  Run(SourceDir() + "/scripts/webservice-stop --port " + std::to_string(port_));
  std::filesystem::remove_all(dir_);
}

// The control surface directly over HTTP: a command-line client per call would cost a Python
// start each time, which adds up over a suite.
void StandIn::Post(const std::string& what, const std::string& json) const {
  CURL* curl = curl_easy_init();
  if (!curl) return;
  std::string url = base_ + "_control/" + what;
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, json.c_str());
  // The answer (the rules or the queue entry) is of no use here.
  curl_easy_setopt(
      curl, CURLOPT_WRITEFUNCTION,
      +[](char*, std::size_t size, std::size_t n, void*) { return size * n; });
  curl_easy_perform(curl);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
}

std::vector<StandIn::Call> ReceivedAt(const std::string& base,
                                      const std::filesystem::path& scratch) {
  std::filesystem::remove_all(scratch);
  std::filesystem::create_directories(scratch);
  int count = std::stoi("0" + Run(std::string(kPython) + " " + SourceDir() +
                                  "/tests/support/received.py " + base + " " + scratch.string()));
  std::vector<StandIn::Call> calls;
  for (int n = 1; n <= count; ++n) {
    auto field = [&](const char* name) {
      return ReadFile(scratch / (std::to_string(n) + "." + name));
    };
    calls.push_back({field("page"), field("soapaction"), field("idcompra"), field("accepted"),
                     field("readfilexmls")});
  }
  std::filesystem::remove_all(scratch);
  return calls;
}

std::vector<StandIn::Call> StandIn::Received(std::string_view page) const {
  std::vector<Call> calls = ReceivedAt(base_, dir_ / "received");
  std::erase_if(calls, [&](const Call& call) { return !page.empty() && call.page != page; });
  return calls;
}

void StandIn::Queue(int idcompra, std::string_view orden, std::string_view estado) const {
  Post("queue", "{\"idcompra\": " + std::to_string(idcompra) + ", \"orden\": " + Json(orden) +
                    ", \"estado\": " + Json(estado) + "}");
}

void StandIn::QueueRaw(int idcompra, std::string_view text) const {
  Post("queue", "{\"idcompra\": " + std::to_string(idcompra) + ", \"raw\": " + Json(text) + "}");
}

void StandIn::Fail(std::string_view page, std::string_view mode, int seconds, int count) const {
  Post("fail", "{\"page\": " + Json(page) + ", \"mode\": " + Json(mode) +
                   (seconds > 0 ? ", \"seconds\": " + std::to_string(seconds) : std::string()) +
                   (count > 0 ? ", \"count\": " + std::to_string(count) : std::string()) + "}");
}

void StandIn::Reset() const {
  Post("reset", "{}");
}

}  // namespace fesko::test
