#include "web/HttpTransport.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <new>
#include <string_view>

#include "base/ApplicationErrors.h"
#include "base/Errors.h"
#include "base/TextHelpers.h"
#include "web/Handles.h"
#include "web/WebErrors.h"

namespace fesko::web {
namespace {

constexpr char16_t kInvalidUrl[] = u"Invalid url '%s' - only supports 'http' and 'https' schemes";
constexpr char16_t kTransportFailed[] = u"%s - URL:%s - SOAPAction:%s";
constexpr char16_t kBadStatus[] = u"%s (%d) - '%s'";
constexpr char16_t kBadContentType[] =
    u"Received content of invalid Content-Type setting: %s - SOAP expects \"text/xml\"";
constexpr char kContentType[] = "Content-Type: text/xml";
// libcurl would otherwise add "Expect: 100-continue" to large posts and wait for an answer
// some servers never give.
constexpr char kNoExpect[] = "Expect:";
constexpr char kProtocols[] = "http,https";
constexpr long kInternalServerError = 500;
// No real reply comes near this: an upload's reply is a few hundred bytes and a download reply
// takes about 70 bytes a budget state, so this is some 240 000 states. A server that sends more
// is broken or hostile, and reading on would only exhaust memory.
constexpr std::size_t kMaxReplyBytes = 16 * 1024 * 1024;
constexpr char16_t kReplyTooLarge[] = u"Reply larger than %d bytes";
// Replies of these bare types are error pages, never SOAP.
constexpr std::string_view kPlainText = "text/plain";
constexpr std::string_view kHtml = "text/html";
constexpr std::string_view kContentTypeName = "content-type";
constexpr std::string_view kHttpScheme = "http";
constexpr std::string_view kHttpsScheme = "https";

std::atomic<long long> connectTimeoutMs{TransportTimeouts{}.connect.count()};
std::atomic<long long> stallTimeoutS{TransportTimeouts{}.stall.count()};
std::atomic<long long> wholeTableAnswerS{TransportTimeouts{}.wholeTableAnswer.count()};

// What the header and body callbacks collect. The status line starts a new reply, so an
// interim "100 Continue" leaves nothing behind.
struct Reply {
  std::chrono::seconds stallLimit{};
  std::chrono::seconds answerWait{};
  curl_off_t requestSize = 0;
  curl_off_t moved = 0;  // bytes sent and received so far
  std::chrono::steady_clock::time_point lastMove;
  bool stalled = false;
  bool tooLarge = false;
  std::string reason;
  std::string contentType;
  std::string body;
  std::exception_ptr error;  // a failure inside a callback, raised once libcurl returns
};

// What the read and seek callbacks work on.
struct Upload {
  RequestBody& body;
  std::exception_ptr error;
};

std::size_t OnRead(char* buffer, std::size_t size, std::size_t count, void* user) {
  auto& upload = *static_cast<Upload*>(user);
  try {
    return upload.body.Read(buffer, size * count);
  } catch (...) {
    upload.error = std::current_exception();
    return CURL_READFUNC_ABORT;
  }
}

// libcurl sends a request again when a kept-alive connection turns out to be closed; it then
// asks for the body from its start.
int OnSeek(void* user, curl_off_t offset, int origin) {
  auto& upload = *static_cast<Upload*>(user);
  if (offset != 0 || origin != SEEK_SET) return CURL_SEEKFUNC_CANTSEEK;
  try {
    upload.body.Rewind();
  } catch (...) {
    upload.error = std::current_exception();
    return CURL_SEEKFUNC_FAIL;
  }
  return CURL_SEEKFUNC_OK;
}

// A body that is already whole in memory.
class StringBody final : public RequestBody {
 public:
  explicit StringBody(std::string_view text) : text_(text) {}
  std::uint64_t Size() const override { return text_.size(); }
  std::size_t Read(char* out, std::size_t max) override {
    std::size_t n = text_.copy(out, max, position_);
    position_ += n;
    return n;
  }
  void Rewind() override { position_ = 0; }

 private:
  std::string_view text_;
  std::size_t position_ = 0;
};

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& reply = *static_cast<Reply*>(user);
  std::string_view line(data, size * count);
  try {
    if (line.starts_with("HTTP/")) {
      // "HTTP/1.1 404 Not Found": the reason is what follows the code.
      reply.reason.clear();
      reply.contentType.clear();
      auto afterVersion = line.find(' ');
      auto afterCode =
          afterVersion == std::string_view::npos ? afterVersion : line.find(' ', afterVersion + 1);
      if (afterCode != std::string_view::npos)
        reply.reason = Trim(line.substr(afterCode + 1), kWhiteSpace);
    } else if (auto colon = line.find(':');
               colon != std::string_view::npos &&
               EqualsIgnoreCase(line.substr(0, colon), kContentTypeName)) {
      reply.contentType = Trim(line.substr(colon + 1), kWhiteSpace);
    }
  } catch (...) {
    reply.error = std::current_exception();
    return 0;
  }
  return size * count;
}

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& reply = *static_cast<Reply*>(user);
  if (size * count > kMaxReplyBytes - reply.body.size()) {
    reply.tooLarge = true;
    return 0;  // ends the transfer
  }
  try {
    reply.body.append(data, size * count);
  } catch (...) {
    reply.error = std::current_exception();
    return 0;
  }
  return size * count;
}

// libcurl's own low-speed check averages over several seconds, so it notices a silent server
// late; this notices the moment nothing has moved, in either direction, for the stall limit.
// Before the first byte of the request goes out the connect time-out is in charge; once the
// whole request is out and before the first byte of the answer, the longer answer wait.
int OnProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
  auto& reply = *static_cast<Reply*>(user);
  auto now = std::chrono::steady_clock::now();
  curl_off_t moved = received + sent;
  if (moved == 0) return 0;
  if (moved != reply.moved) {
    reply.moved = moved;
    reply.lastMove = now;
    return 0;
  }
  auto limit = reply.stallLimit;
  if (received == 0 && sent >= reply.requestSize) limit = std::max(limit, reply.answerWait);
  reply.stalled = now - reply.lastMove >= limit;
  return reply.stalled ? 1 : 0;
}

// One easy handle per thread, kept for the thread's life: libcurl keeps its connection cache
// in the handle, and a reset clears the options but keeps the connections.
CURL* KeptHandle() {
  EnsureCurlInitialised();
  thread_local Owned<CURL> handle;
  if (!handle) {
    handle.reset(curl_easy_init());
    if (!handle) throw std::bad_alloc();
  }
  return handle.get();
}

// Resets the kept handle when a call ends, however it ends, so that it holds no pointer to the
// call's buffers while it waits for the next one.
class CallScope {
 public:
  explicit CallScope(CURL* curl) : curl_(curl) {}
  ~CallScope() { curl_easy_reset(curl_); }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

 private:
  CURL* curl_;
};

Owned<curl_slist> RequestHeaders(std::string_view soapAction) {
  std::string action = "SOAPAction: \"";
  action += soapAction;
  action += '"';
  Owned<curl_slist> headers;
  for (const char* header : {action.c_str(), kContentType, kNoExpect}) {
    curl_slist* longer = curl_slist_append(headers.get(), header);
    if (!longer) throw std::bad_alloc();
    if (!headers) headers.reset(longer);  // later appends keep the same head
  }
  return headers;
}

void SetOptions(CURL* curl, const std::string& url, Upload& upload, const curl_slist* headers,
                Reply& reply, char* errorBuffer) {
  reply.requestSize = static_cast<curl_off_t>(upload.body.Size());
  auto timeouts = CurrentTransportTimeouts();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, kProtocols);
  curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);  // keeps reason phrases
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, kApplicationTitle);
  curl_easy_setopt(curl, CURLOPT_POST, 1L);
  // Read in pieces and announced with its length, never chunked.
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(upload.body.Size()));
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, OnRead);
  curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
  curl_easy_setopt(curl, CURLOPT_SEEKFUNCTION, OnSeek);
  curl_easy_setopt(curl, CURLOPT_SEEKDATA, &upload);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connect.count()));
  reply.stallLimit = timeouts.stall;
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &reply);
}

std::string_view TransportMessage(CURLcode code, const char* errorBuffer) {
  std::string_view message = errorBuffer;
  if (message.empty()) message = curl_easy_strerror(code);
  return TrimRight(message, "\r\n");
}

}  // namespace

void SetTransportTimeouts(const TransportTimeouts& timeouts) {
  connectTimeoutMs = timeouts.connect.count();
  stallTimeoutS = timeouts.stall.count();
  wholeTableAnswerS = timeouts.wholeTableAnswer.count();
}

TransportTimeouts CurrentTransportTimeouts() {
  return {std::chrono::milliseconds(connectTimeoutMs.load()),
          std::chrono::seconds(stallTimeoutS.load()),
          std::chrono::seconds(wholeTableAnswerS.load())};
}

void CheckEndpointUrl(std::u16string_view url) {
  EnsureCurlInitialised();
  Owned<CURLU> parts(curl_url());
  if (!parts) throw std::bad_alloc();
  // Without a default scheme libcurl refuses a relative URL such as a bare page name.
  bool valid = curl_url_set(parts.get(), CURLUPART_URL, WideToUtf8(url).c_str(), 0) == CURLUE_OK;
  if (valid) {
    char* scheme = nullptr;
    valid = curl_url_get(parts.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK;
    Owned<char> owned(scheme);
    valid =
        valid && (EqualsIgnoreCase(scheme, kHttpScheme) || EqualsIgnoreCase(scheme, kHttpsScheme));
  }
  if (!valid) throw ESOAPHTTPException(FormatMessage(kInvalidUrl, {WideString(url)}));
}

std::string PostSoapRequest(std::u16string_view url, std::string_view soapAction,
                            std::string_view body) {
  StringBody whole(body);
  return PostSoapRequest(url, soapAction, whole);
}

std::string PostSoapRequest(std::u16string_view url, std::string_view soapAction, RequestBody& body,
                            std::chrono::seconds answerWait) {
  CURL* curl = KeptHandle();
  std::string utf8Url = WideToUtf8(url);
  Owned<curl_slist> headers = RequestHeaders(soapAction);
  Reply reply;
  reply.answerWait = answerWait;
  Upload upload{body, nullptr};
  char errorBuffer[CURL_ERROR_SIZE] = {};
  CallScope scope(curl);
  body.Rewind();
  SetOptions(curl, utf8Url, upload, headers.get(), reply, errorBuffer);

  CURLcode code = curl_easy_perform(curl);
  if (upload.error) std::rethrow_exception(upload.error);
  if (reply.error) std::rethrow_exception(reply.error);
  if (reply.tooLarge) {
    WideString tooLarge =
        FormatMessage(kReplyTooLarge, {AnsiToWide(std::to_string(kMaxReplyBytes))});
    throw ESOAPHTTPException(
        FormatMessage(kTransportFailed, {tooLarge, WideString(url), AnsiToWide(soapAction)}));
  }
  if (reply.stalled) {
    // Given up by our own watch: report it in libcurl's words for a time-out.
    code = CURLE_OPERATION_TIMEDOUT;
    errorBuffer[0] = '\0';
  }
  if (code != CURLE_OK) {
    throw ESOAPHTTPException(
        FormatMessage(kTransportFailed, {Utf8ToWide(TransportMessage(code, errorBuffer)),
                                         WideString(url), AnsiToWide(soapAction)}));
  }

  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  if (status >= 300 && status != kInternalServerError) {
    throw ESOAPHTTPException(FormatMessage(
        kBadStatus,
        {Utf8ToWide(reply.reason), AnsiToWide(std::to_string(status)), WideString(url)}));
  }
  // Only the bare types are refused; "text/html; charset=..." is read as XML like anything else.
  if (EqualsIgnoreCase(reply.contentType, kPlainText) ||
      EqualsIgnoreCase(reply.contentType, kHtml)) {
    throw ESOAPHTTPException(FormatMessage(kBadContentType, {Utf8ToWide(reply.contentType)}));
  }
  return std::move(reply.body);
}

}  // namespace fesko::web
