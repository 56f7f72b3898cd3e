#include "web/PlainResponse.h"

#include <array>
#include <string>

#include "base/TextHelpers.h"

namespace fesko::web {
namespace {

// Declarations one element carries at most; a reply with more is read by the full parser.
constexpr std::size_t kMaxAttributes = 8;
// Elements of the plain shape: envelope, body, response, result.
constexpr std::size_t kDepth = 4;

constexpr std::string_view kNamespaceAttribute = "xmlns";

// XML's white space is exactly these.
bool IsBlank(char c) {
  return kBlanksAndLineEnds.find(c) != std::string_view::npos;
}
bool IsNameStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsNameChar(char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

struct Name {
  std::string_view qualified;
  std::string_view prefix;  // empty without one
  std::string_view local;
};

struct Attribute {
  Name name;
  std::string_view value;
};

struct StartTag {
  Name name;
  std::array<Attribute, kMaxAttributes> attributes;
  std::size_t attribute_count = 0;
  bool empty = false;  // written "<name/>"
};

// The namespace declarations in force: those of the open elements, innermost last.
class Scope {
 public:
  bool Open(const StartTag& tag) {
    if (depth_ == kDepth) return false;
    tags_[depth_++] = &tag;
    return true;
  }
  // The namespace `prefix` stands for, or nothing when it is not declared.
  std::optional<std::string_view> Namespace(std::string_view prefix) const {
    for (std::size_t d = depth_; d-- > 0;) {
      const StartTag& tag = *tags_[d];
      for (std::size_t i = 0; i < tag.attribute_count; ++i) {
        const Name& name = tag.attributes[i].name;
        bool declares =
            prefix.empty() ? name.prefix.empty() : !name.prefix.empty() && name.local == prefix;
        if (declares) return tag.attributes[i].value;
      }
    }
    return std::nullopt;
  }

 private:
  std::array<const StartTag*, kDepth> tags_{};
  std::size_t depth_ = 0;
};

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  bool AtEnd() const { return pos_ == text_.size(); }
  void SkipBlanks() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
  }
  bool Take(std::string_view expected) {
    if (!text_.substr(pos_).starts_with(expected)) return false;
    pos_ += expected.size();
    return true;
  }

  // "<?xml version='1.0' encoding='UTF-8' standalone='yes'?>", the last two optional.
  bool Declaration() {
    if (!Take("<?xml")) return true;  // none
    std::string_view value;
    if (!Blanks() || !Take("version") || !Equals() || !Value(value) || value != "1.0") {
      return false;
    }
    bool encoding_allowed = true;
    while (true) {
      bool separated = Blanks();
      if (Take("?>")) return true;
      if (!separated) return false;
      if (encoding_allowed && Take("encoding")) {
        if (!Equals() || !Value(value) || !EqualsIgnoreCase(value, "UTF-8")) return false;
        encoding_allowed = false;
      } else if (Take("standalone")) {
        if (!Equals() || !Value(value) || (value != "yes" && value != "no")) return false;
        Blanks();
        return Take("?>");
      } else {
        return false;
      }
    }
  }

  // A start tag whose attributes are all namespace declarations, each name once.
  bool Start(StartTag& tag) {
    if (!Take("<") || !QualifiedName(tag.name)) return false;
    while (true) {
      bool separated = Blanks();
      if (Take("/>")) {
        tag.empty = true;
        return true;
      }
      if (Take(">")) return true;
      if (!separated || tag.attribute_count == kMaxAttributes) return false;
      Attribute& attribute = tag.attributes[tag.attribute_count];
      if (!QualifiedName(attribute.name) || !Equals() || !Value(attribute.value)) return false;
      const Name& name = attribute.name;
      bool default_namespace = name.prefix.empty() && name.local == kNamespaceAttribute;
      bool prefix_namespace = name.prefix == kNamespaceAttribute && !attribute.value.empty() &&
                              name.local != "xml" && name.local != kNamespaceAttribute;
      if (!default_namespace && !prefix_namespace) return false;
      for (std::size_t i = 0; i < tag.attribute_count; ++i) {
        if (tag.attributes[i].name.qualified == name.qualified) return false;
      }
      ++tag.attribute_count;
    }
  }

  bool End(const StartTag& tag) {
    if (!Take("</") || !Take(tag.name.qualified)) return false;
    Blanks();
    return Take(">");
  }

  // Character data up to the next tag: printable ASCII, tabs and line feeds (a carriage return
  // would be normalised), with the five predefined entities.
  bool Text(std::string& out) {
    static constexpr std::array<std::pair<std::string_view, char>, 5> kEntities = {{
        {"&lt;", '<'},
        {"&gt;", '>'},
        {"&amp;", '&'},
        {"&quot;", '"'},
        {"&apos;", '\''},
    }};
    while (pos_ < text_.size() && text_[pos_] != '<') {
      char c = text_[pos_];
      if (c == '&') {
        bool known = false;
        for (const auto& [entity, character] : kEntities) {
          if (Take(entity)) {
            out += character;
            known = true;
            break;
          }
        }
        if (!known) return false;
        continue;
      }
      auto byte = static_cast<unsigned char>(c);
      if ((byte < 0x20 && c != '\t' && c != '\n') || byte >= 0x80) return false;
      // "]]>" may not stand in character data.
      if (c == '>' && pos_ >= 2 && text_.substr(pos_ - 2, 2) == "]]") return false;
      out += c;
      ++pos_;
    }
    return pos_ < text_.size();
  }

 private:
  // True when at least one blank was skipped.
  bool Blanks() {
    std::size_t start = pos_;
    SkipBlanks();
    return pos_ > start;
  }

  bool Equals() {
    Blanks();
    if (!Take("=")) return false;
    Blanks();
    return true;
  }

  // A quoted value without markup, references or blanks that normalisation would change.
  bool Value(std::string_view& value) {
    if (pos_ >= text_.size() || (text_[pos_] != '"' && text_[pos_] != '\'')) return false;
    char quote = text_[pos_++];
    std::size_t end = text_.find(quote, pos_);
    if (end == std::string_view::npos) return false;
    value = text_.substr(pos_, end - pos_);
    for (char c : value) {
      auto byte = static_cast<unsigned char>(c);
      if (c == '<' || c == '&' || byte <= 0x20 || byte >= 0x80) return false;
    }
    pos_ = end + 1;
    return true;
  }

  // An ASCII name with at most one colon, with a name on each side of it.
  bool QualifiedName(Name& name) {
    std::size_t start = pos_, part_start = pos_, colon = std::string_view::npos;
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (pos_ == part_start ? !IsNameStart(c) : !IsNameChar(c)) {
        if (c != ':' || colon != std::string_view::npos || pos_ == part_start) break;
        colon = pos_++;
        part_start = pos_;
        continue;
      }
      ++pos_;
    }
    if (pos_ == part_start) return false;  // no name, or a colon last
    name.qualified = text_.substr(start, pos_ - start);
    if (colon == std::string_view::npos) {
      name.prefix = {};
      name.local = name.qualified;
    } else {
      name.prefix = text_.substr(start, colon - start);
      name.local = text_.substr(colon + 1, pos_ - colon - 1);
    }
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

// An element the plain shape allows at this place: opened, not empty, its prefix declared.
bool OpenElement(Scanner& scanner, Scope& scope, StartTag& tag) {
  scanner.SkipBlanks();
  if (!scanner.Start(tag) || tag.empty || !scope.Open(tag)) return false;
  return tag.name.prefix.empty() || scope.Namespace(tag.name.prefix).has_value();
}

bool CloseElement(Scanner& scanner, const StartTag& tag) {
  scanner.SkipBlanks();
  return scanner.End(tag);
}

}  // namespace

std::optional<WideString> ReadPlainResponse(std::string_view body) {
  Scanner scanner(body);
  Scope scope;
  StartTag envelope, soap_body, response, result;
  if (!scanner.Declaration() || !OpenElement(scanner, scope, envelope) ||
      envelope.name.local != "Envelope" ||
      scope.Namespace(envelope.name.prefix) != std::optional(kSoapEnvelopeNs) ||
      !OpenElement(scanner, scope, soap_body) || soap_body.name.local != "Body" ||
      !OpenElement(scanner, scope, response) || response.name.local == "Fault" ||
      !OpenElement(scanner, scope, result)) {
    return std::nullopt;
  }
  std::string text;
  if (!scanner.Text(text) || !scanner.End(result) || !CloseElement(scanner, response) ||
      !CloseElement(scanner, soap_body) || !CloseElement(scanner, envelope)) {
    return std::nullopt;
  }
  scanner.SkipBlanks();
  if (!scanner.AtEnd()) return std::nullopt;
  return WideString(text.begin(), text.end());
}

}  // namespace fesko::web
