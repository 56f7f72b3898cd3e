#include "web/Soap.h"

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <vector>

#include <libxml/xmlerror.h>

#include "base/Errors.h"
#include "base/TextHelpers.h"
#include "web/Handles.h"
#include "web/HttpTransport.h"
#include "web/WebErrors.h"

namespace fesko::web {
namespace {

constexpr char kSoapEnvelopeNs[] = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr char kSchemaNs[] = "http://www.w3.org/2001/XMLSchema";
constexpr char kSchemaInstanceNs[] = "http://www.w3.org/2001/XMLSchema-instance";
constexpr char kDeclaration[] = "<?xml version=\"1.0\"?>\n";
constexpr char kEncoding[] = "UTF-8";
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
constexpr char32_t kReplacementCharacter = 0xFFFD;

// One character of the record document as it goes into the request: UTF-8, with "&", "<", ">"
// and CR escaped as the XML writer escapes character data. XML 1.0 cannot carry most control
// characters, nor U+FFFE and U+FFFF, even as references; a value holding one would make the
// whole request malformed, so they give nothing. A lone surrogate becomes U+FFFD, as in every
// UTF-8 conversion of the program. Moves `i` past the character and returns the bytes written.
std::size_t EncodeDocumentCharacter(std::u16string_view text, std::size_t& i, char* out) {
  char32_t c = text[i++];
  if (c >= 0xD800 && c < 0xDC00 && i < text.size() && text[i] >= 0xDC00 && text[i] < 0xE000) {
    c = 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
  } else if (c >= 0xD800 && c < 0xE000) {
    c = kReplacementCharacter;
  }
  auto put = [out](std::string_view bytes) { return bytes.copy(out, bytes.size()); };
  switch (c) {
    case '&':
      return put("&amp;");
    case '<':
      return put("&lt;");
    case '>':
      return put("&gt;");
    case '\r':
      return put("&#13;");
    case '\t':
    case '\n':
      break;
    default:
      if (c < 0x20 || c == 0xFFFE || c == 0xFFFF) return 0;
  }
  auto byte = [](char32_t bits) { return static_cast<char>(bits); };
  if (c < 0x80) {
    out[0] = byte(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = byte(0xC0 | (c >> 6));
    out[1] = byte(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = byte(0xE0 | (c >> 12));
    out[1] = byte(0x80 | ((c >> 6) & 0x3F));
    out[2] = byte(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = byte(0xF0 | (c >> 18));
  out[1] = byte(0x80 | ((c >> 12) & 0x3F));
  out[2] = byte(0x80 | ((c >> 6) & 0x3F));
  out[3] = byte(0x80 | (c & 0x3F));
  return 4;
}

xmlNode* AddTextChild(xmlNode* parent, xmlNs* ns, const char* name, std::string_view text) {
  xmlNode* child = xmlNewChild(parent, ns, Xml(name), nullptr);
  if (!child) throw std::bad_alloc();
  // Added as character data: the writer escapes it, so "<" and "&" reach the server intact.
  if (!text.empty()) {
    if (text.size() > INT_MAX) throw std::length_error(kDocumentParameter);
    xmlNodeAddContentLen(child, Xml(text.data()), static_cast<int>(text.size()));
  }
  return child;
}

int AppendToString(void* context, const char* buffer, int length) {
  try {
    static_cast<std::string*>(context)->append(buffer, static_cast<std::size_t>(length));
    return length;
  } catch (...) {
    return -1;
  }
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

// The envelope as the XML writer lays it out, with `text` as the document's character data.
std::string WriteEnvelope(std::int32_t Idcompra, std::optional<std::string_view> text) {
  EnsureXmlInitialised();
  Owned<xmlDoc> doc(xmlNewDoc(Xml("1.0")));
  if (!doc) throw std::bad_alloc();
  xmlNode* envelope = xmlNewDocNode(doc.get(), nullptr, Xml(kEnvelope), nullptr);
  if (!envelope) throw std::bad_alloc();
  xmlDocSetRootElement(doc.get(), envelope);
  xmlNs* soap = xmlNewNs(envelope, Xml(kSoapEnvelopeNs), Xml("SOAP-ENV"));
  xmlNewNs(envelope, Xml(kSchemaNs), Xml("xsd"));
  xmlNewNs(envelope, Xml(kSchemaInstanceNs), Xml("xsi"));
  xmlSetNs(envelope, soap);

  xmlNode* body = xmlNewChild(envelope, soap, Xml(kBody), nullptr);
  xmlNode* operation = xmlNewChild(body, nullptr, Xml(kOperation), nullptr);
  if (!body || !operation) throw std::bad_alloc();
  xmlNs* service = xmlNewNs(operation, Xml(std::string(kServiceNamespace).c_str()), nullptr);
  xmlSetNs(operation, service);
  AddTextChild(operation, service, kAccountParameter, std::to_string(Idcompra));
  if (text) AddTextChild(operation, service, kDocumentParameter, *text);

  // libxml2 would write the declaration with an encoding attribute, or write non-ASCII as
  // character references; the bare declaration goes in front by hand instead.
  std::string request = kDeclaration;
  Owned<xmlSaveCtxt> save(
      xmlSaveToIO(AppendToString, nullptr, &request, kEncoding, XML_SAVE_NO_DECL));
  if (!save) throw std::bad_alloc();
  long written = xmlSaveDoc(save.get(), doc.get());
  // Closing writes out what the context still holds; only then is the request whole.
  if (xmlSaveClose(save.release()) < 0 || written < 0) throw std::bad_alloc();
  return request;
}

}  // namespace

ExecuteRequest::ExecuteRequest(std::int32_t Idcompra,
                               std::optional<std::u16string_view> Readfilexmls) {
  std::uint64_t documentSize = 0;
  if (Readfilexmls) {
    char scratch[kMaxCharacterBytes];
    for (std::size_t i = 0; i < Readfilexmls->size();) {
      documentSize += EncodeDocumentCharacter(*Readfilexmls, i, scratch);
    }
  }
  if (documentSize == 0) {
    // Nothing to splice in: an empty document is written as the empty element it is.
    head_ =
        WriteEnvelope(Idcompra, Readfilexmls ? std::optional<std::string_view>("") : std::nullopt);
    size_ = head_.size();
    return;
  }
  // The writer lays the envelope out around a one-character stand-in, which is cut out.
  constexpr std::string_view kStandIn = "x";
  std::string envelope = WriteEnvelope(Idcompra, kStandIn);
  std::string open = std::string("<") + kDocumentParameter + ">";
  std::size_t at = envelope.find(open + std::string(kStandIn) + "</");
  if (at == std::string::npos) throw std::logic_error("request envelope without its document");
  at += open.size();
  head_ = envelope.substr(0, at);
  tail_ = envelope.substr(at + kStandIn.size());
  document_ = *Readfilexmls;
  size_ = head_.size() + documentSize + tail_.size();
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
  std::string_view foundNs = envelope && envelope->ns ? Text(envelope->ns->href) : "";
  std::string_view foundName = envelope ? Text(envelope->name) : "";
  if (foundName != kEnvelope || foundNs != kSoapEnvelopeNs) {
    throw Exception(
        FormatMessage(kWrongDocumentElement, {Utf8ToWide(kSoapEnvelopeNs), Utf8ToWide(kEnvelope),
                                              Utf8ToWide(foundNs), Utf8ToWide(foundName)}));
  }
  if (doc->intSubset || doc->extSubset) throw Exception(WideString(kDoctypeInReply));
  if (!envelope->children) throw Exception(WideString(kEmptyEnvelope));

  xmlNode* header = nullptr;
  xmlNode* soapBody = nullptr;
  for (xmlNode* part : ElementChildren(envelope)) {
    std::string_view name = Text(part->name);
    xmlNode** slot = name == kHeader ? &header : name == kBody ? &soapBody : nullptr;
    if (!slot) continue;
    if (*slot) throw Exception(WideString(kRepeatedPart));
    *slot = part;
  }
  if (!soapBody) return {};
  xmlNode* response = FirstElement(soapBody->children);
  if (!response) return {};
  if (Text(response->name) == kFault) ThrowFault(doc.get(), response);
  return ResultText(doc.get(), ResultElement(doc.get(), response));
}

WideString CallExecute(std::u16string_view url, std::string_view soapAction, std::int32_t Idcompra,
                       std::optional<std::u16string_view> Readfilexmls,
                       std::chrono::seconds answerWait) {
  ExecuteRequest request(Idcompra, Readfilexmls);
  std::string reply = PostSoapRequest(url, soapAction, request, answerWait);
  return ReadExecuteResponse(reply);
}

}  // namespace fesko::web
