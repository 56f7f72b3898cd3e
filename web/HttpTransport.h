// The HTTP side of a SOAP call: checks an endpoint URL and posts one request with libcurl,
// blocking, returning the body of a reply worth reading. Calls made on one thread share a
// kept-alive connection per host, so a run of uploads pays one handshake.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace fesko::web {

// How long a call waits for a connection, and for the next byte of a reply that has gone quiet;
// a whole-table load, which the web service imports before it answers (minutes for a large
// table), waits longer for its answer to begin once its request is sent. Process-wide; tests
// shorten them.
struct TransportTimeouts {
  std::chrono::milliseconds connect{60'000};
  std::chrono::seconds stall{60};
  std::chrono::seconds wholeTableAnswer{10 * 60};
};
void SetTransportTimeouts(const TransportTimeouts& timeouts);
TransportTimeouts CurrentTransportTimeouts();

// Throws ESOAPHTTPException unless `url` is an absolute http or https URL.
void CheckEndpointUrl(std::u16string_view url);

// A request body handed to the transfer in pieces as it asks for them, so that a large one never
// has to exist whole in memory. Its length is known before the first piece and announced.
class RequestBody {
 public:
  virtual ~RequestBody() = default;
  // The exact number of bytes Read gives from the start to the end.
  virtual std::uint64_t Size() const = 0;
  // Fills up to `max` bytes (at least one when `max` is not 0) and returns how many; 0 at the
  // end.
  virtual std::size_t Read(char* out, std::size_t max) = 0;
  // Starts over, for a request sent again on a fresh connection.
  virtual void Rewind() = 0;
};

// Posts the UTF-8 SOAP request `body` to `url` with the SOAPAction header and returns the reply
// body. Throws ESOAPHTTPException for a failed transfer, a status of 300 or more other than 500
// (a 500 carries a SOAP fault and is returned), and a plain-text or HTML reply. Once the whole
// body has been sent, the reply may take `answer_wait` to begin when that is longer than the
// stall limit.
std::string PostSoapRequest(std::u16string_view url, std::string_view soap_action,
                            RequestBody& body, std::chrono::seconds answer_wait = {});
std::string PostSoapRequest(std::u16string_view url, std::string_view soap_action,
                            std::string_view body);

}  // namespace fesko::web
