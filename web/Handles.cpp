#include "web/Handles.h"

#include <stdexcept>

namespace fesko::web {
namespace {

class CurlGlobal {
 public:
  CurlGlobal() {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      throw std::runtime_error("curl_global_init failed");
    }
  }
  ~CurlGlobal() { curl_global_cleanup(); }
  CurlGlobal(const CurlGlobal&) = delete;
  CurlGlobal& operator=(const CurlGlobal&) = delete;
};

class XmlGlobal {
 public:
  XmlGlobal() { xmlInitParser(); }
  ~XmlGlobal() { xmlCleanupParser(); }
  XmlGlobal(const XmlGlobal&) = delete;
  XmlGlobal& operator=(const XmlGlobal&) = delete;
};

}  // namespace

void EnsureCurlInitialised() {
  static CurlGlobal global;
}

void EnsureXmlInitialised() {
  static XmlGlobal global;
}

}  // namespace fesko::web
