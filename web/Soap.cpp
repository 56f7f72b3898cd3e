#include "web/Soap.h"

#include <algorithm>
#include <array>
#include <climits>
#include <stdexcept>
#include <vector>

#include <libxml/xmlerror.h>

#include "base/Errors.h"
#include "base/TextHelpers.h"
#include "web/Handles.h"
#include "web/HttpTransport.h"
#include "web/PlainResponse.h"
#include "web/WebErrors.h"

namespace fesko::web {
namespace {

constexpr char kSchemaNs[] = "http://www.w3.org/2001/XMLSchema";
constexpr char kSchemaInstanceNs[] = "http://www.w3.org/2001/XMLSchema-instance";
constexpr char kEnvelope[] = "Envelope";
constexpr char kHeader[] = "Header";
constexpr char kBody[] = "Body";
constexpr char kFault[] = "Fault";
constexpr char kOperation[] = "Execute";
constexpr char kAccountParameter[] = "Idcompra";
constexpr char kDocumentParameter[] = "Readfilexmls";

constexpr char16_t kWrongDocumentElement[] = u"DocumentElement %s:%s expected, %s:%s found";
constexpr char16_t kEmptyEnvelope[] = u"Invalid SOAP request";
constexpr char16_t kRepeatedPart[] = u"Invalid SOAP response";
constexpr char16_t kNoResultElement[] =
    u"SOAP Response Packet: result element expected, received \"%s\"";
// libxml2 records no error for empty input; this is its own text for that case.
constexpr char16_t kDocumentEmpty[] = u"Document is empty";
constexpr char16_t kReplyTooLarge[] = u"Reply too large to parse";
// SOAP forbids a document type declaration. Its entities would be expanded each time the reply's
// text is read, so a reply of a few kilobytes could grow to gigabytes in memory.
constexpr char16_t kDoctypeInReply[] = u"SOAP message must not contain a Document Type Declaration";

const xmlChar* Xml(const char* text) {
  return reinterpret_cast<const xmlChar*>(text);
}
std::string_view Text(const xmlChar* text) {
  return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

// The most bytes one character of the document takes in the request ("&amp;", "&#13;").
constexpr std::size_t kMaxCharacterBytes = 5;
static_assert(kMaxCharacterBytes >= kMaxUtf8Bytes);

// The escape of an ASCII character of the document, or nothing for one written as itself.
// "&", "<", ">" and CR are escaped as an XML writer escapes character data (the server reads
// CR LF back as it was sent).
constexpr std::string_view EscapeOf(char16_t c) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '\r':
      return "&#13;";
    default:
      return {};
  }
}

// XML 1.0 cannot carry most control characters, nor U+FFFE and U+FFFF, even as references; a
// value holding one would make the whole request malformed, so they give nothing.
constexpr bool IsLeftOut(char32_t c) {
  return (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0xFFFE || c == 0xFFFF;
}

// ASCII characters that go into the request as they are, the bulk of every document; looked up
// in a table, since every character of every document is.
constexpr std::array<bool, 0x80> kPlainAscii = [] {
  std::array<bool, 0x80> plain{};
  for (char16_t c = 0; c < plain.size(); ++c) plain[c] = EscapeOf(c).empty() && !IsLeftOut(c);
  return plain;
}();

constexpr bool IsPlain(char16_t c) {
  return c < kPlainAscii.size() && kPlainAscii[c];
}

// One character of the record document as it goes into the request: UTF-8, escaped or left
// out as above. A lone surrogate becomes U+FFFD, as in every UTF-8 conversion of the program.
// Moves `i` past the character and returns the bytes written to `out` (kMaxCharacterBytes).
std::size_t EncodeDocumentCharacter(std::u16string_view text, std::size_t& i, char* out) {
  char32_t c = NextCharacter(text, i);
  if (IsLeftOut(c)) return 0;
  if (c < 0x80) {
    std::string_view escape = EscapeOf(static_cast<char16_t>(c));
    if (!escape.empty()) return escape.copy(out, escape.size());
  }
  return EncodeUtf8(c, out);
}

// Copies the plain characters `text` starts with to `out`, at most `max`; returns how many.
std::size_t PlainRun(std::u16string_view text, char* out, std::size_t max) {
  std::size_t n = std::min(max, text.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (!IsPlain(text[i])) return i;
    out[i] = static_cast<char>(text[i]);
  }
  return n;
}

// Writes the whole document as it goes into the request to `out`, which has room for
// kMaxCharacterBytes a code unit; returns the bytes written.
std::size_t WriteDocument(std::u16string_view text, char* out) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t plain = PlainRun(text.substr(i), out + n, text.size() - i);
    i += plain;
    n += plain;
    if (i < text.size()) n += EncodeDocumentCharacter(text, i, out + n);
  }
  return n;
}

// A document this long at most, a record's, is written into the request in one pass; a longer
// one, a whole table's, is measured first and then written a piece at a time as the transfer
// reads it, so that it is never held a second time.
constexpr std::size_t kWrittenAtOnceUnits = 16 * 1024;

// The bytes the whole document takes in the request.
std::uint64_t DocumentBytes(std::u16string_view text) {
  std::uint64_t size = 0;
  char scratch[kMaxCharacterBytes];
  for (std::size_t i = 0; i < text.size();) {
    std::size_t start = i;
    while (i < text.size() && IsPlain(text[i])) ++i;
    size += i - start;
    if (i < text.size()) size += EncodeDocumentCharacter(text, i, scratch);
  }
  return size;
}

// Collects the parser's errors while a reply is parsed, and restores the default afterwards.
class ParseErrors {
 public:
  ParseErrors() { xmlSetStructuredErrorFunc(this, &ParseErrors::Collect); }
  ~ParseErrors() { xmlSetStructuredErrorFunc(nullptr, nullptr); }
  ParseErrors(const ParseErrors&) = delete;
  ParseErrors& operator=(const ParseErrors&) = delete;

  WideString FirstMessage() const {
    if (first_.empty()) return WideString(kDocumentEmpty);
    return Utf8ToWide(TrimRight(first_, "\r\n"));
  }

 private:
  static void Collect(void* self, xmlError* error) {
    auto& errors = *static_cast<ParseErrors*>(self);
    // Warnings (a relative namespace URI, say) do not stop the parse; the first real error does.
    if (error && error->level >= XML_ERR_ERROR && error->message && errors.first_.empty()) {
      errors.first_ = error->message;
    }
  }
  std::string first_;
};

// The XML of `node` itself, or of its children one after the other.
std::string NodeXml(xmlDoc* doc, xmlNode* node) {
  Owned<xmlBuffer> buffer(xmlBufferCreate());
  if (!buffer) throw std::bad_alloc();
  xmlNodeDump(buffer.get(), doc, node, 0, 0);
  return std::string(Text(xmlBufferContent(buffer.get())));
}

std::string ChildrenXml(xmlDoc* doc, xmlNode* node) {
  std::string xml;
  for (xmlNode* child = node->children; child; child = child->next) xml += NodeXml(doc, child);
  return xml;
}

std::string NodeText(xmlNode* node) {
  Owned<xmlChar> content(xmlNodeGetContent(node));
  return std::string(Text(content.get()));
}

xmlNode* FirstElement(xmlNode* node) {
  for (; node; node = node->next) {
    if (node->type == XML_ELEMENT_NODE) return node;
  }
  return nullptr;
}

std::vector<xmlNode*> ElementChildren(xmlNode* parent) {
  std::vector<xmlNode*> elements;
  for (xmlNode* child = FirstElement(parent->children); child; child = FirstElement(child->next)) {
    elements.push_back(child);
  }
  return elements;
}

xmlNode* ChildNamed(xmlNode* parent, std::string_view name) {
  for (xmlNode* child : ElementChildren(parent)) {
    if (EqualsIgnoreCase(Text(child->name), name)) return child;
  }
  return nullptr;
}

[[noreturn]] void ThrowFault(xmlDoc* doc, xmlNode* fault) {
  auto text = [&](std::string_view name) {
    xmlNode* child = ChildNamed(fault, name);
    return child ? Utf8ToWide(NodeText(child)) : WideString();
  };
  xmlNode* detail = ChildNamed(fault, "detail");
  throw ERemotableException(text("faultstring"), text("faultcode"), text("faultactor"),
                            detail ? Utf8ToWide(ChildrenXml(doc, detail)) : WideString());
}

xmlNode* ElementWithId(xmlNode* node, std::string_view id) {
  for (; node; node = node->next) {
    if (node->type != XML_ELEMENT_NODE) continue;
    Owned<xmlChar> value(xmlGetNoNsProp(node, Xml("id")));
    if (value && Text(value.get()) == id) return node;
    if (xmlNode* found = ElementWithId(node->children, id)) return found;
  }
  return nullptr;
}

[[noreturn]] void ThrowNoResult(xmlDoc* doc, xmlNode* response) {
  throw Exception(FormatMessage(kNoResultElement, {Utf8ToWide(NodeXml(doc, response))}));
}

xmlNode* ResultElement(xmlDoc* doc, xmlNode* response) {
  std::vector<xmlNode*> children = ElementChildren(response);
  xmlNode* result = nullptr;
  if (children.size() == 1) {
    result = children.front();
  } else {
    for (xmlNode* child : children) {
      std::string_view name = Text(child->name);
      if (EqualsIgnoreCase(name, "Result") || EqualsIgnoreCase(name, "Return")) {
        result = child;
        break;
      }
    }
  }
  if (!result) ThrowNoResult(doc, response);
  Owned<xmlChar> href(xmlGetNoNsProp(result, Xml("href")));
  if (href) {
    std::string_view id = Text(href.get());
    if (id.starts_with('#')) id.remove_prefix(1);
    // A reference to nothing is a broken reply, not an empty result.
    result = ElementWithId(xmlDocGetRootElement(doc), id);
    if (!result) ThrowNoResult(doc, response);
  }
  return result;
}

WideString ResultText(xmlDoc* doc, xmlNode* result) {
  bool markup = FirstElement(result->children) != nullptr;
  return Utf8ToWide(markup ? ChildrenXml(doc, result) : NodeText(result));
}

// The request envelope as an XML writer lays it out, written directly: everything in it but
// the document is fixed markup and a number.
std::string EnvelopeStart() {
  std::string start = "<?xml version=\"1.0\"?>\n<SOAP-ENV:";
  start += kEnvelope;
  start += " xmlns:SOAP-ENV=\"";
  start += kSoapEnvelopeNs;
  start += "\" xmlns:xsd=\"";
  start += kSchemaNs;
  start += "\" xmlns:xsi=\"";
  start += kSchemaInstanceNs;
  start += "\"><SOAP-ENV:";
  start += kBody;
  start += "><";
  start += kOperation;
  start += " xmlns=\"";
  start += kServiceNamespace;
  start += "\">";
  return start;
}

std::string EnvelopeEnd() {
  return std::string("</") + kOperation + "></SOAP-ENV:" + kBody + "></SOAP-ENV:" + kEnvelope +
         ">\n";
}

void AppendElementStart(std::string& out, std::string_view name) {
  out += '<';
  out += name;
  out += '>';
}

void AppendElementEnd(std::string& out, std::string_view name) {
  out += "</";
  out += name;
  out += '>';
}

}  // namespace

ExecuteRequest::ExecuteRequest(std::int32_t Idcompra,
                               std::optional<std::u16string_view> Readfilexmls) {
  static const std::string kStart = EnvelopeStart();
  static const std::string kEnd = EnvelopeEnd();
  head_ = kStart;
  AppendElementStart(head_, kAccountParameter);
  head_ += std::to_string(Idcompra);
  AppendElementEnd(head_, kAccountParameter);
  std::uint64_t streamed_size = 0;
  if (Readfilexmls) {
    std::u16string_view document = *Readfilexmls;
    std::size_t element_start = head_.size();
    AppendElementStart(head_, kDocumentParameter);
    std::size_t text_start = head_.size();
    if (document.size() <= kWrittenAtOnceUnits) {
      head_.resize(text_start + document.size() * kMaxCharacterBytes);
      head_.resize(text_start + WriteDocument(document, head_.data() + text_start));
    } else {
      streamed_size = DocumentBytes(document);
      if (streamed_size > 0) document_ = document;
    }
    if (head_.size() == text_start && streamed_size == 0) {
      // Nothing to write in it: an empty document is the empty element it is.
      head_.resize(element_start);
      head_ += '<';
      head_ += kDocumentParameter;
      head_ += "/>";
    } else {
      AppendElementEnd(tail_, kDocumentParameter);
    }
  }
  tail_ += kEnd;
  size_ = head_.size() + streamed_size + tail_.size();
}

std::size_t ExecuteRequest::Read(char* out, std::size_t max) {
  std::size_t n = head_.copy(out, max, head_read_);
  head_read_ += n;
  if (head_read_ < head_.size()) return n;
  while (n < max) {
    if (carry_read_ < carry_size_) {
      std::size_t k = std::min(max - n, carry_size_ - carry_read_);
      std::copy_n(carry_ + carry_read_, k, out + n);
      carry_read_ += k;
      n += k;
    } else if (document_read_ < document_.size()) {
      std::size_t plain = PlainRun(document_.substr(document_read_), out + n, max - n);
      document_read_ += plain;
      n += plain;
      if (document_read_ == document_.size() || n == max) continue;
      if (max - n >= kMaxCharacterBytes) {
        n += EncodeDocumentCharacter(document_, document_read_, out + n);
      } else {
        carry_size_ = EncodeDocumentCharacter(document_, document_read_, carry_);
        carry_read_ = 0;
      }
    } else {
      std::size_t k = tail_.copy(out + n, max - n, tail_read_);
      tail_read_ += k;
      n += k;
      break;
    }
  }
  return n;
}

void ExecuteRequest::Rewind() {
  head_read_ = document_read_ = tail_read_ = 0;
  carry_size_ = carry_read_ = 0;
}

std::string BuildExecuteRequest(std::int32_t Idcompra,
                                std::optional<std::u16string_view> Readfilexmls) {
  ExecuteRequest request(Idcompra, Readfilexmls);
  std::string text(request.Size(), '\0');
  std::size_t n = 0;
  while (std::size_t k = request.Read(text.data() + n, text.size() - n)) n += k;
  text.resize(n);
  return text;
}

WideString ReadExecuteResponse(std::string_view body) {
  if (std::optional<WideString> result = ReadPlainResponse(body)) return std::move(*result);
  EnsureXmlInitialised();
  if (body.size() > INT_MAX) throw Exception(WideString(kReplyTooLarge));
  Owned<xmlDoc> doc;
  {
    ParseErrors errors;
    doc.reset(xmlReadMemory(body.data(), static_cast<int>(body.size()), nullptr, nullptr,
                            XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!doc) throw Exception(errors.FirstMessage());
  }

  xmlNode* envelope = xmlDocGetRootElement(doc.get());
  std::string_view found_ns = envelope && envelope->ns ? Text(envelope->ns->href) : "";
  std::string_view found_name = envelope ? Text(envelope->name) : "";
  if (found_name != kEnvelope || found_ns != kSoapEnvelopeNs) {
    throw Exception(
        FormatMessage(kWrongDocumentElement, {Utf8ToWide(kSoapEnvelopeNs), Utf8ToWide(kEnvelope),
                                              Utf8ToWide(found_ns), Utf8ToWide(found_name)}));
  }
  if (doc->intSubset || doc->extSubset) throw Exception(WideString(kDoctypeInReply));
  if (!envelope->children) throw Exception(WideString(kEmptyEnvelope));

  xmlNode* header = nullptr;
  xmlNode* soap_body = nullptr;
  for (xmlNode* part : ElementChildren(envelope)) {
    std::string_view name = Text(part->name);
    xmlNode** slot = name == kHeader ? &header : name == kBody ? &soap_body : nullptr;
    if (!slot) continue;
    if (*slot) throw Exception(WideString(kRepeatedPart));
    *slot = part;
  }
  if (!soap_body) return {};
  xmlNode* response = FirstElement(soap_body->children);
  if (!response) return {};
  if (Text(response->name) == kFault) ThrowFault(doc.get(), response);
  return ResultText(doc.get(), ResultElement(doc.get(), response));
}

WideString CallExecute(std::u16string_view url, std::string_view soap_action, std::int32_t Idcompra,
                       std::optional<std::u16string_view> Readfilexmls,
                       std::chrono::seconds answer_wait) {
  ExecuteRequest request(Idcompra, Readfilexmls);
  std::string reply = PostSoapRequest(url, soap_action, request, answer_wait);
  return ReadExecuteResponse(reply);
}

}  // namespace fesko::web
