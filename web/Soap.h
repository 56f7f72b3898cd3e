// One SOAP 1.1 call of the web service's Execute operation: the request envelope, the reading
// of the reply into its result text or its error, and the call that joins them over HTTP.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/TextKinds.h"
#include "web/HttpTransport.h"

namespace fesko::web {

// The namespace of the Execute operation and its parameters, for every service.
inline constexpr std::string_view kServiceNamespace = "DunmarWeb";

// The request of one call, UTF-8 without a byte-order mark. Without a document it is the
// download signature, Execute(Idcompra). A record's document is written into the envelope at
// once; a longer one, which may be a whole table, is escaped and made UTF-8 a piece at a time
// while the transfer reads it, so it is never held a second time. `Readfilexmls` must outlive
// the request.
class ExecuteRequest final : public RequestBody {
 public:
  ExecuteRequest(std::int32_t Idcompra, std::optional<std::u16string_view> Readfilexmls);

  std::uint64_t Size() const override { return size_; }
  std::size_t Read(char* out, std::size_t max) override;
  void Rewind() override;

 private:
  std::string head_;  // the envelope before a document read in pieces, or with it written in
  std::u16string_view document_;
  std::string tail_;  // the envelope after the document's text
  std::uint64_t size_ = 0;

  std::size_t head_read_ = 0;
  std::size_t document_read_ = 0;  // code units of the document consumed
  std::size_t tail_read_ = 0;
  // The rest of one character's bytes that did not fit into the last piece.
  char carry_[8] = {};
  std::size_t carry_size_ = 0;
  std::size_t carry_read_ = 0;
};

// The whole request text at once.
std::string BuildExecuteRequest(std::int32_t Idcompra,
                                std::optional<std::u16string_view> Readfilexmls);

// The result text of a reply body. Throws ERemotableException for a SOAP fault and
// fesko::Exception for a body that is not a readable SOAP response.
WideString ReadExecuteResponse(std::string_view body);

// Builds the request, posts it to `url` with `soap_action` and reads the reply. Blocks until the
// reply is read or the call fails; every failure is an exception. `answer_wait` as for
// PostSoapRequest.
WideString CallExecute(std::u16string_view url, std::string_view soap_action, std::int32_t Idcompra,
                       std::optional<std::u16string_view> Readfilexmls,
                       std::chrono::seconds answer_wait = {});

}  // namespace fesko::web
