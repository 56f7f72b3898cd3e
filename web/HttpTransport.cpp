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

std::atomic<long long> connect_timeout_ms{TransportTimeouts{}.connect.count()};
std::atomic<long long> stall_timeout_s{TransportTimeouts{}.stall.count()};
std::atomic<long long> whole_table_answer_s{TransportTimeouts{}.wholeTableAnswer.count()};

// What the header and body callbacks collect. The status line starts a new reply, so an
// interim "100 Continue" leaves nothing behind.
struct Reply {
  std::chrono::seconds stall_limit{};
  std::chrono::seconds answer_wait{};
  curl_off_t request_size = 0;
  curl_off_t moved = 0;  // bytes sent and received so far
  std::chrono::steady_clock::time_point last_move;
  bool stalled = false;
  bool too_large = false;
  std::string reason;
  std::string content_type;
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
      reply.content_type.clear();
      auto after_version = line.find(' ');
      auto after_code = after_version == std::string_view::npos ? after_version
                                                                : line.find(' ', after_version + 1);
      if (after_code != std::string_view::npos)
        reply.reason = Trim(line.substr(after_code + 1), kBlanksAndLineEnds);
    } else if (auto colon = line.find(':');
               colon != std::string_view::npos &&
               EqualsIgnoreCase(line.substr(0, colon), kContentTypeName)) {
      reply.content_type = Trim(line.substr(colon + 1), kBlanksAndLineEnds);
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
    reply.too_large = true;
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
    reply.last_move = now;
    return 0;
  }
  auto limit = reply.stall_limit;
  if (received == 0 && sent >= reply.request_size) limit = std::max(limit, reply.answer_wait);
  reply.stalled = now - reply.last_move >= limit;
  return reply.stalled ? 1 : 0;
}

// One easy handle per thread, kept for the thread's life: libcurl keeps its connection cache in
// the handle. What is the same for every call is set on it once; the header list is kept while
// the calls go to the same action, as those of a pass do.
class KeptTransfer {
 public:
  KeptTransfer() {
    EnsureCurlInitialised();
    handle_.reset(curl_easy_init());
    if (!handle_) throw std::bad_alloc();
    CURL* curl = handle_.get();
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, kProtocols);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);  // keeps reason phrases
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kApplicationTitle);
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, OnRead);
    curl_easy_setopt(curl, CURLOPT_SEEKFUNCTION, OnSeek);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
  }

  CURL* Handle() const { return handle_.get(); }

  // `url` in UTF-8, converted again only when the calls move to another endpoint.
  const std::string& Url(std::u16string_view url) {
    if (url != url_) {
      std::string utf8 = WideToUtf8(url);
      url_ = url;
      utf8_url_ = std::move(utf8);
    }
    return utf8_url_;
  }

  const curl_slist* Headers(std::string_view soap_action) {
    if (headers_ && soap_action == action_) return headers_.get();
    std::string action(soap_action);
    std::string line = "SOAPAction: \"" + action + '"';
    Owned<curl_slist> headers;
    for (const char* header : {line.c_str(), kContentType, kNoExpect}) {
      curl_slist* longer = curl_slist_append(headers.get(), header);
      if (!longer) throw std::bad_alloc();
      if (!headers) headers.reset(longer);  // later appends keep the same head
    }
    headers_ = std::move(headers);
    action_ = std::move(action);
    return headers_.get();
  }

 private:
  // The handle goes first, while the header list it may point to still exists.
  Owned<curl_slist> headers_;
  std::string action_;
  WideString url_;
  std::string utf8_url_;
  Owned<CURL> handle_;
};

KeptTransfer& Kept() {
  thread_local KeptTransfer kept;
  return kept;
}

// Takes the call's own pointers off the kept handle when a call ends, however it ends, so that
// it holds none to the call's buffers while it waits for the next one.
class CallScope {
 public:
  explicit CallScope(CURL* curl) : curl_(curl) {}
  ~CallScope() {
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, static_cast<char*>(nullptr));
    curl_easy_setopt(curl_, CURLOPT_ERRORBUFFER, static_cast<char*>(nullptr));
    curl_easy_setopt(curl_, CURLOPT_READDATA, static_cast<void*>(nullptr));
    curl_easy_setopt(curl_, CURLOPT_SEEKDATA, static_cast<void*>(nullptr));
    curl_easy_setopt(curl_, CURLOPT_HEADERDATA, static_cast<void*>(nullptr));
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
    curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, static_cast<void*>(nullptr));
  }
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

 private:
  CURL* curl_;
};

void SetOptions(CURL* curl, const std::string& url, Upload& upload, const std::string* whole,
                const curl_slist* headers, Reply& reply, char* error_buffer) {
  reply.request_size = static_cast<curl_off_t>(upload.body.Size());
  auto timeouts = CurrentTransportTimeouts();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  // Given whole, or else read in pieces; announced with its length either way, never chunked.
  curl_easy_setopt(curl, CURLOPT_POSTFIELDS, whole ? whole->data() : nullptr);
  curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, reply.request_size);
  curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
  curl_easy_setopt(curl, CURLOPT_SEEKDATA, &upload);
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error_buffer);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeouts.connect.count()));
  reply.stall_limit = timeouts.stall;
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &reply);
}

// libcurl sends a body given whole together with the request's headers when it is below its
// initial post size (64 KiB); one read through the callback follows them in a second send, on
// the transfer loop's next round. Every upload of a single record is far below this.
constexpr std::uint64_t kWholeBodyBytes = 60 * 1024;

// Reads a small `body` into `whole`; false (and `body` rewound) for one to be read in pieces.
bool WholeBody(RequestBody& body, std::string& whole) {
  if (body.Size() > kWholeBodyBytes) return false;
  whole.resize(static_cast<std::size_t>(body.Size()));
  std::size_t n = 0;
  while (n < whole.size()) {
    std::size_t k = body.Read(whole.data() + n, whole.size() - n);
    if (k == 0) break;
    n += k;
  }
  if (n == whole.size()) return true;
  body.Rewind();  // shorter than it said: the transfer reports it as it reads
  return false;
}

std::string_view TransportMessage(CURLcode code, const char* error_buffer) {
  std::string_view message = error_buffer;
  if (message.empty()) message = curl_easy_strerror(code);
  return TrimRight(message, "\r\n");
}

}  // namespace

void SetTransportTimeouts(const TransportTimeouts& timeouts) {
  connect_timeout_ms = timeouts.connect.count();
  stall_timeout_s = timeouts.stall.count();
  whole_table_answer_s = timeouts.wholeTableAnswer.count();
}

TransportTimeouts CurrentTransportTimeouts() {
  return {std::chrono::milliseconds(connect_timeout_ms.load()),
          std::chrono::seconds(stall_timeout_s.load()),
          std::chrono::seconds(whole_table_answer_s.load())};
}

void CheckEndpointUrl(std::u16string_view url) {
  // A pass opens the same few endpoints for every row; one that passed needs no second look.
  thread_local WideString last_valid;
  if (!last_valid.empty() && url == last_valid) return;
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
  last_valid = url;
}

std::string PostSoapRequest(std::u16string_view url, std::string_view soap_action,
                            std::string_view body) {
  StringBody whole(body);
  return PostSoapRequest(url, soap_action, whole);
}

std::string PostSoapRequest(std::u16string_view url, std::string_view soap_action,
                            RequestBody& body, std::chrono::seconds answer_wait) {
  KeptTransfer& kept = Kept();
  CURL* curl = kept.Handle();
  const std::string& utf8_url = kept.Url(url);
  const curl_slist* headers = kept.Headers(soap_action);
  Reply reply;
  reply.answer_wait = answer_wait;
  Upload upload{body, nullptr};
  char error_buffer[CURL_ERROR_SIZE] = {};
  std::string whole;
  CallScope scope(curl);
  body.Rewind();
  bool given_whole = WholeBody(body, whole);
  SetOptions(curl, utf8_url, upload, given_whole ? &whole : nullptr, headers, reply, error_buffer);

  CURLcode code = curl_easy_perform(curl);
  if (upload.error) std::rethrow_exception(upload.error);
  if (reply.error) std::rethrow_exception(reply.error);
  if (reply.too_large) {
    WideString too_large =
        FormatMessage(kReplyTooLarge, {AnsiToWide(std::to_string(kMaxReplyBytes))});
    throw ESOAPHTTPException(
        FormatMessage(kTransportFailed, {too_large, WideString(url), AnsiToWide(soap_action)}));
  }
  if (reply.stalled) {
    // Given up by our own watch: report it in libcurl's words for a time-out.
    code = CURLE_OPERATION_TIMEDOUT;
    error_buffer[0] = '\0';
  }
  if (code != CURLE_OK) {
    throw ESOAPHTTPException(
        FormatMessage(kTransportFailed, {Utf8ToWide(TransportMessage(code, error_buffer)),
                                         WideString(url), AnsiToWide(soap_action)}));
  }

  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  if (status >= 300 && status != kInternalServerError) {
    throw ESOAPHTTPException(FormatMessage(
        kBadStatus,
        {Utf8ToWide(reply.reason), AnsiToWide(std::to_string(status)), WideString(url)}));
  }
  // Only the bare types are refused; "text/html; charset=..." is read as XML like anything else.
  if (EqualsIgnoreCase(reply.content_type, kPlainText) ||
      EqualsIgnoreCase(reply.content_type, kHtml)) {
    throw ESOAPHTTPException(FormatMessage(kBadContentType, {Utf8ToWide(reply.content_type)}));
  }
  return std::move(reply.body);
}

}  // namespace fesko::web
