// The result text of an ordinary Execute reply, read in one pass over its text without building
// a document tree: every upload of a pass ends in such a reply, so reading it is on every row's
// path.
#pragma once

#include <optional>
#include <string_view>

#include "base/TextKinds.h"

namespace fesko::web {

// The namespace every SOAP 1.1 envelope is in.
inline constexpr std::string_view kSoapEnvelopeNs = "http://schemas.xmlsoap.org/soap/envelope/";

// The result text of `body` when it has the plain shape of a successful reply: an optional XML
// declaration (version 1.0, UTF-8), the SOAP envelope holding its body alone, the body holding
// one response element, which holds one result element of ASCII text alone; elements carry
// namespace declarations and no other attributes, and nothing else (comments, a header, a fault,
// CDATA, other entities, line ends to normalise) comes between. Any other reply gives nothing,
// and is left to the full parser, which reads the rest and reports what is wrong with it. For a
// reply it reads, the result is the text the full parser gives.
std::optional<WideString> ReadPlainResponse(std::string_view body);

}  // namespace fesko::web
