#include "bench/WebBench.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "base/TextKinds.h"
#include "web/Handles.h"
#include "web/Soap.h"

namespace fesko::bench {
namespace {

const std::string kSource = FESKO_SOURCE_DIR;
const char kPython[] = "/usr/bin/python3";  // the stand-in needs Debian's spyne

// Just enough JSON for the stand-in's list of calls: an array of flat objects whose values are
// strings, numbers, booleans or null.
class CallsReader {
 public:
  explicit CallsReader(std::string_view text) : text_(text) {}

  std::vector<ReceivedCall> Read() {
    std::vector<ReceivedCall> calls;
    Expect('[');
    if (Peek() == ']') return calls;
    do {
      calls.push_back(Call());
    } while (Next() == ',');
    if (text_[pos_ - 1] != ']') Fail();
    return calls;
  }

 private:
  [[noreturn]] void Fail() const {
    throw std::runtime_error("unreadable list of calls near: " +
                             std::string(text_.substr(pos_ > 20 ? pos_ - 20 : 0, 60)));
  }
  char Peek() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    if (pos_ >= text_.size()) Fail();
    return text_[pos_];
  }
  char Next() {
    char c = Peek();
    ++pos_;
    return c;
  }
  void Expect(char c) {
    if (Next() != c) Fail();
  }

  unsigned Hex4() {
    if (pos_ + 4 > text_.size()) Fail();
    unsigned value =
        static_cast<unsigned>(std::stoul(std::string(text_.substr(pos_, 4)), nullptr, 16));
    pos_ += 4;
    return value;
  }

  std::string String() {
    Expect('"');
    std::string out;
    while (true) {
      if (pos_ >= text_.size()) Fail();
      char c = text_[pos_++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      char e = text_[pos_++];
      switch (e) {
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'u': {
          // A character outside the basic plane comes as two escapes, a surrogate pair.
          std::u16string units(1, static_cast<char16_t>(Hex4()));
          while (text_.substr(pos_, 2) == "\\u") {
            pos_ += 2;
            units += static_cast<char16_t>(Hex4());
          }
          out += WideToUtf8(units);
          break;
        }
        default:
          out += e;  // \" \\ \/
      }
    }
  }

  // A value other than a string, as its text ("null", "true", "12.5").
  std::string Bare() {
    std::size_t start = pos_;
    while (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '}' &&
           !std::isspace(static_cast<unsigned char>(text_[pos_]))) {
      ++pos_;
    }
    return std::string(text_.substr(start, pos_ - start));
  }

  ReceivedCall Call() {
    ReceivedCall call;
    Expect('{');
    if (Peek() == '}') {
      ++pos_;
      return call;
    }
    do {
      std::string key = String();
      Expect(':');
      bool quoted = Peek() == '"';
      std::string value = quoted ? String() : Bare();
      if (key == "id") call.id = std::stol(value);
      if (key == "page") call.page = value;
      if (key == "soapaction" && quoted) call.soapaction = value;
      if (key == "accepted") call.accepted = value == "true";
      if (key == "readfilexmls" && quoted) call.readfilexmls = value;
      if (key == "received_at" && value != "null") call.received_at = std::stod(value);
    } while (Next() == ',');
    if (text_[pos_ - 1] != '}') Fail();
    return call;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

}  // namespace

// ---- libcurl client ------------------------------------------------------------------------

CurlClient::CurlClient() {
  web::EnsureCurlInitialised();
  curl_ = curl_easy_init();
  if (!curl_) throw std::runtime_error("curl_easy_init failed");
}

CurlClient::~CurlClient() {
  curl_easy_cleanup(curl_);
}

std::string CurlClient::Perform(const std::string& url, long& status) {
  reply_.clear();
  curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl_, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &reply_);
  curl_easy_setopt(curl_, CURLOPT_TIMEOUT, 60L);
  CURLcode code = curl_easy_perform(curl_);
  if (code != CURLE_OK) {
    throw std::runtime_error(url + ": " + curl_easy_strerror(code));
  }
  curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
  return reply_;
}

std::string CurlClient::PostSoap(const std::string& url, const std::string& soapAction,
                                 const std::string& body) {
  std::string action = "SOAPAction: \"" + soapAction + "\"";
  curl_slist* headers = curl_slist_append(nullptr, action.c_str());
  headers = curl_slist_append(headers, "Content-Type: text/xml");
  headers = curl_slist_append(headers, "Expect:");
  curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl_, CURLOPT_POST, 1L);
  curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body.data());
  curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  long status = 0;
  std::string reply;
  try {
    reply = Perform(url, status);
  } catch (...) {
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    throw;
  }
  curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, nullptr);
  curl_slist_free_all(headers);
  if (status != 200) throw std::runtime_error(url + ": status " + std::to_string(status));
  return reply;
}

std::string CurlClient::Get(const std::string& url) {
  curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
  long status = 0;
  std::string reply = Perform(url, status);
  if (status != 200) throw std::runtime_error(url + ": status " + std::to_string(status));
  return reply;
}

std::string CurlClient::PostJson(const std::string& url, const std::string& json) {
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json");
  curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl_, CURLOPT_POST, 1L);
  curl_easy_setopt(curl_, CURLOPT_COPYPOSTFIELDS, json.c_str());
  long status = 0;
  std::string reply;
  try {
    reply = Perform(url, status);
  } catch (...) {
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, nullptr);
    curl_slist_free_all(headers);
    throw;
  }
  curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, nullptr);
  curl_slist_free_all(headers);
  if (status != 200) throw std::runtime_error(url + ": status " + std::to_string(status));
  return reply;
}

// ---- the stand-in --------------------------------------------------------------------------

StandIn::StandIn() {
  char pattern[] = "/tmp/fesko-bench-standin-XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp");
  dir_ = pattern;
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  std::string script = kSource + "/webservice/standin.py";
  std::string db = (dir_ / "standin.sqlite").string();
  std::string log = (dir_ / "standin.log").string();
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    // Ends with this process, however it ends.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    int log_fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out[1], STDOUT_FILENO);
    if (log_fd >= 0) ::dup2(log_fd, STDERR_FILENO);
    // A stand-in that ignores Ctrl-C would outlive a bench interrupted in a terminal.
    ::signal(SIGINT, SIG_DFL);
    ::execl(kPython, kPython, script.c_str(), "serve", "--port", "0", "--db", db.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  // It prints its base URL once it listens.
  char c;
  while (::read(out[0], &c, 1) == 1 && c != '\n') base_ += c;
  ::close(out[0]);
  if (!base_.starts_with("http://")) {
    std::ifstream in(log);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    throw std::runtime_error("the stand-in did not start:\n" + text);
  }
}

StandIn::StandIn(std::string base) : base_(std::move(base)) {}

StandIn::~StandIn() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  ::waitpid(pid_, nullptr, 0);
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

void StandIn::Reset() {
  control_.PostJson(base_ + "_control/reset", "{}");
}

std::vector<ReceivedCall> StandIn::Received(long since) {
  std::string url = base_ + "_control/received";
  if (since > 0) url += "?since=" + std::to_string(since);
  return CallsReader(control_.Get(url)).Read();
}

long StandIn::LastId() {
  // The newest call is the last of the list; the ids only grow.
  auto calls = Received();
  return calls.empty() ? 0 : calls.back().id;
}

// ---- the program ---------------------------------------------------------------------------

Dunmar::Dunmar(const std::filesystem::path& executable, const std::filesystem::path& folder,
               const std::string& attachment)
    : folder_(folder) {
  std::filesystem::path exe = folder / "Dunmar";
  std::filesystem::copy_file(executable, exe, std::filesystem::copy_options::overwrite_existing);
  auto colon = attachment.find(':');
  std::ofstream(folder / "config.ini")
      << "[conexion]\nipserver=" << attachment.substr(0, colon) << "\nusuario=" << DbUser()
      << "\nclave=" << DbPassword() << "\nrutabd=" << attachment.substr(colon + 1) << "\n";
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // ends with the bench, however the bench ends
    int log = ::open((folder / "dunmar.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, STDIN_FILENO);
    ::dup2(log, STDOUT_FILENO);
    ::dup2(log, STDERR_FILENO);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
}

Dunmar::~Dunmar() {
  if (pid_ <= 0) return;
  // SIGTERM ends it the way "Salir" does; a program that does not end is killed.
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
    ::usleep(50'000);
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

bool Dunmar::Running() {
  return ::waitpid(pid_, nullptr, WNOHANG) == 0;
}

std::string Dunmar::Log() const {
  std::ifstream in(folder_ / "dunmar.log");
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::pair<std::int64_t, std::int64_t> Dunmar::ConfigStamp() const {
  struct stat info {};
  if (::stat((folder_ / "config.ini").c_str(), &info) != 0) return {0, 0};
  return {static_cast<std::int64_t>(info.st_ino),
          static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec};
}

std::vector<PreparedPost> PrepareReposts(const std::vector<ReceivedCall>& calls,
                                         const std::string& base, std::int32_t idcompra) {
  std::vector<PreparedPost> posts;
  posts.reserve(calls.size());
  for (const ReceivedCall& call : calls) {
    std::string action = call.soapaction;
    if (action.size() >= 2 && action.front() == '"' && action.back() == '"') {
      action = action.substr(1, action.size() - 2);
    }
    posts.push_back({base + call.page, action,
                     web::BuildExecuteRequest(idcompra, Utf8ToWide(call.readfilexmls))});
  }
  return posts;
}

}  // namespace fesko::bench
