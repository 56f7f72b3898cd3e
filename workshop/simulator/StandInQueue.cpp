#include "workshop/simulator/StandInQueue.h"

#include <curl/curl.h>

#include <memory>
#include <stdexcept>

namespace fesko::workshop {
namespace {

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::size_t Collect(char* data, std::size_t size, std::size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

struct CurlDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

void QueueBudgetState(const std::string& base_url, int idcompra, const std::string& orden,
                      const std::string& estado) {
  std::string url = base_url;
  if (!url.empty() && url.back() != '/') url += '/';
  url += "_control/queue";
  std::string body = "{\"idcompra\": " + std::to_string(idcompra) +
                     ", \"orden\": " + JsonText(orden) + ", \"estado\": " + JsonText(estado) + "}";
  std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
  if (!curl) throw std::runtime_error("libcurl could not start a request");
  std::unique_ptr<curl_slist, CurlDeleter> headers(
      curl_slist_append(nullptr, "Content-Type: application/json"));
  std::string reply;
  char error[CURL_ERROR_SIZE] = {};
  CURL* c = curl.get();
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, &reply);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 3L);
  curl_easy_setopt(c, CURLOPT_TIMEOUT, 10L);
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  // The stand-in listens on loopback; a proxy named by the environment must not get in the way.
  curl_easy_setopt(c, CURLOPT_NOPROXY, "127.0.0.1,localhost,::1");
  CURLcode result = curl_easy_perform(c);
  if (result != CURLE_OK) {
    throw std::runtime_error(url + ": " + (error[0] ? error : curl_easy_strerror(result)));
  }
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  if (status != 200) {
    throw std::runtime_error(url + ": status " + std::to_string(status) + ": " + reply);
  }
}

}  // namespace fesko::workshop
