// One SOAP 1.1 call of the web service's Execute operation: the request envelope, the reading
// of the reply into its result text or its error, and the call that joins them over HTTP.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/TextKinds.h"

namespace fesko::web {

// The namespace of the Execute operation and its parameters, for every service.
inline constexpr std::string_view kServiceNamespace = "DunmarWeb";

// The request text, UTF-8 without a byte-order mark. Without a document it is the download
// signature, Execute(Idcompra).
std::string BuildExecuteRequest(std::int32_t Idcompra,
                                std::optional<std::u16string_view> Readfilexmls);

// The result text of a reply body. Throws ERemotableException for a SOAP fault and
// fesko::Exception for a body that is not a readable SOAP response.
WideString ReadExecuteResponse(std::string_view body);

// Builds the request, posts it to `url` with `soapAction` and reads the reply. Blocks until the
// reply is read or the call fails; every failure is an exception.
WideString CallExecute(std::u16string_view url, std::string_view soapAction, std::int32_t Idcompra,
                       std::optional<std::u16string_view> Readfilexmls);

}  // namespace fesko::web
