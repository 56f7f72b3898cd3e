#include "web/Soap.h"

#include <climits>
#include <vector>

#include <libxml/xmlerror.h>

#include "base/Errors.h"
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

const xmlChar* Xml(const char* text) {
  return reinterpret_cast<const xmlChar*>(text);
}
std::string_view Text(const xmlChar* text) {
  return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// XML 1.0 cannot carry most control characters, nor U+FFFE and U+FFFF, even as references;
// a value holding one would make the whole request malformed, so they are left out.
void DropNonXmlCharacters(std::string& utf8) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') continue;
    if (c == 0xEF && i + 2 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) == 0xBF &&
        (static_cast<unsigned char>(utf8[i + 2]) & 0xFE) == 0xBE) {
      i += 2;
      continue;
    }
    utf8[kept++] = utf8[i];
  }
  utf8.resize(kept);
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
    std::string_view message = first_;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
      message.remove_suffix(1);
    }
    return Utf8ToWide(message);
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

}  // namespace

std::string BuildExecuteRequest(std::int32_t Idcompra,
                                std::optional<std::u16string_view> Readfilexmls) {
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
  if (Readfilexmls) {
    std::string document = WideToUtf8(*Readfilexmls);
    DropNonXmlCharacters(document);
    AddTextChild(operation, service, kDocumentParameter, document);
  }

  // libxml2 would write the declaration with an encoding attribute, or write non-ASCII as
  // character references; the bare declaration goes in front by hand instead.
  std::string request;
  // Room for the envelope and some escaping, so a large document is not copied while it grows.
  request.reserve(Readfilexmls ? Readfilexmls->size() + Readfilexmls->size() / 4 + 512 : 512);
  request += kDeclaration;
  xmlSaveCtxt* save = xmlSaveToIO(AppendToString, nullptr, &request, kEncoding, XML_SAVE_NO_DECL);
  if (!save) throw std::bad_alloc();
  long written = xmlSaveDoc(save, doc.get());
  if (xmlSaveClose(save) < 0 || written < 0) throw std::bad_alloc();
  return request;
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
                       std::optional<std::u16string_view> Readfilexmls) {
  std::string request = BuildExecuteRequest(Idcompra, Readfilexmls);
  std::string reply = PostSoapRequest(url, soapAction, request);
  return ReadExecuteResponse(reply);
}

}  // namespace fesko::web
