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
  ERemotableException(WideString faultString, WideString faultCode, WideString faultActor,
                      WideString faultDetail)
      : Exception(std::move(faultString)),
        faultCode_(std::move(faultCode)),
        faultActor_(std::move(faultActor)),
        faultDetail_(std::move(faultDetail)) {}
  const char* ClassName() const noexcept override { return "ERemotableException"; }

  const WideString& FaultCode() const noexcept { return faultCode_; }
  const WideString& FaultActor() const noexcept { return faultActor_; }
  // The XML of the fault's detail element's children.
  const WideString& FaultDetail() const noexcept { return faultDetail_; }

 private:
  WideString faultCode_;
  WideString faultActor_;
  WideString faultDetail_;
};

}  // namespace fesko::web
