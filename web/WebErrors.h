// The error types of the web layer. Transport failures (refused URL, network, HTTP status,
// content type) are ESOAPHTTPException, a SOAP fault is ERemotableException; a reply that cannot
// be read as a SOAP response raises a plain fesko::Exception.
#pragma once

#include "base/Errors.h"

namespace fesko::web {

class ESOAPHTTPException : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "ESOAPHTTPException"; }
};

// A SOAP fault sent by the web service. The message is its faultstring; the other parts of the
// fault travel with it.
class ERemotableException : public Exception {
 public:
  ERemotableException(WideString fault_string, WideString fault_code, WideString fault_actor,
                      WideString fault_detail)
      : Exception(std::move(fault_string)),
        fault_code_(std::move(fault_code)),
        fault_actor_(std::move(fault_actor)),
        fault_detail_(std::move(fault_detail)) {}
  const char* ClassName() const noexcept override { return "ERemotableException"; }

  const WideString& FaultCode() const noexcept { return fault_code_; }
  const WideString& FaultActor() const noexcept { return fault_actor_; }
  // The XML of the fault's detail element's children.
  const WideString& FaultDetail() const noexcept { return fault_detail_; }

 private:
  WideString fault_code_;
  WideString fault_actor_;
  WideString fault_detail_;
};

}  // namespace fesko::web
