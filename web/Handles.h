// Owners of the libxml2 and libcurl objects the web layer creates, and the one-time set-up of
// each library. Every such object lives in a std::unique_ptr with the one deleter below.
#pragma once

#include <curl/curl.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>

namespace fesko::web {

struct LibraryDeleter {
  void operator()(xmlDoc* doc) const noexcept { xmlFreeDoc(doc); }
  void operator()(xmlBuffer* buffer) const noexcept { xmlBufferFree(buffer); }
  void operator()(xmlChar* text) const noexcept { xmlFree(text); }
  void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
  void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
  void operator()(CURLU* url) const noexcept { curl_url_cleanup(url); }
  void operator()(char* text) const noexcept { curl_free(text); }
};

template <typename T>
using Owned = std::unique_ptr<T, LibraryDeleter>;

// Each library is initialised once per process, before its first use, and cleaned up at exit.
// Call these before touching the library; they are cheap after the first call.
void EnsureCurlInitialised();
void EnsureXmlInitialised();

}  // namespace fesko::web
