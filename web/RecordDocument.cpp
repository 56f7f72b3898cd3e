#include "web/RecordDocument.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "base/TextHelpers.h"

namespace fesko::web {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr char kTooFewTags[] = "record builder: fewer tags than values";

// The accented letters the full encoder folds to plain ones (Windows-1252 codes).
constexpr char FoldAccent(unsigned char c) {
  switch (c) {
    case 225:
      return 'a';
    case 233:
      return 'e';
    case 237:
      return 'i';
    case 243:
      return 'o';
    case 250:
      return 'u';
    case 193:
      return 'A';
    case 201:
      return 'E';
    case 205:
      return 'I';
    case 211:
      return 'O';
    case 218:
      return 'U';
    case 241:
      return 'n';
    case 209:
      return 'N';
    default:
      return static_cast<char>(c);
  }
}

// Appends the XML escape of `c` and returns true, or returns false for an ordinary character.
// The double quote is deliberately left alone: the receiver has always accepted it raw.
bool AppendEscaped(AnsiString& out, char c) {
  switch (c) {
    case '&':
      out += "&amp;";
      return true;
    case '<':
      out += "&lt;";
      return true;
    case '>':
      out += "&gt;";
      return true;
    case '\'':
      out += "&apos;";
      return true;
    default:
      return false;
  }
}

// Bytes that no rule of the full encoder touches: printable ASCII but the escaped characters,
// the grave accent and "|". Runs of them are copied whole.
bool IsPlain(unsigned char c) {
  return c >= 0x20 && c < 0x80 && c != '&' && c != '<' && c != '>' && c != '\'' && c != '`' &&
         c != '|';
}

// Steps of the full encoder that work byte by byte: escapes, accents and separators. Each
// replacement only produces ASCII that no later rule matches, so one pass gives the same
// text as applying the rules one after the other.
void AppendFolded(AnsiString& out, std::string_view value) {
  std::size_t i = 0;
  while (i < value.size()) {
    std::size_t plain = i;
    while (plain < value.size() && IsPlain(static_cast<unsigned char>(value[plain]))) ++plain;
    out.append(value.substr(i, plain - i));
    i = plain;
    if (i == value.size()) break;
    char c = value[i++];
    if (AppendEscaped(out, c)) continue;
    char next = i < value.size() ? value[i] : '\0';
    switch (static_cast<unsigned char>(c)) {
      case 170:  // ordinal indicators, unit separator and "|" separate fields on the web side
      case 186:
      case 31:
      case '|':
        out += ' ';
        break;
      case '`':   // two grave accents; a single one stays
      case '\r':  // CR LF; a lone CR or LF stays
        if (next == (c == '`' ? '`' : '\n')) {
          out += ' ';
          ++i;
        } else {
          out += c;
        }
        break;
      default:
        out += FoldAccent(static_cast<unsigned char>(c));
    }
  }
}

// Values that reached the database as UTF-8 bytes are turned back into ANSI text; anything
// else keeps its characters. Only strict UTF-8 is decoded: a looser form could decode to "<"
// or "&" and break the document it lands in.
void DecodeUtf8Segment(AnsiString& out, std::size_t start) {
  std::string_view segment(out.data() + start, out.size() - start);
  bool ascii = std::all_of(segment.begin(), segment.end(),
                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii || !IsWellFormedUtf8(segment)) return;
  AnsiString decoded = Utf8ToAnsi(segment);
  out.replace(start, out.size() - start, decoded);
}

void TrimSegment(AnsiString& out, std::size_t start) {
  std::string_view kept = Trim(std::string_view(out).substr(start));
  std::size_t first = static_cast<std::size_t>(kept.data() - out.data());
  out.resize(first + kept.size());
  out.erase(start, first - start);
}

void AppendRecordStart(AnsiString& out, std::string_view name) {
  out += '<';
  out += name;
  out += '>';
  out += kLineEnd;
}

void AppendRecordEnd(AnsiString& out, std::string_view name) {
  out += "</";
  out += name;
  out += '>';
  out += kLineEnd;
}

void CheckTags(TagList tags, std::size_t value_count) {
  if (tags.size() < value_count) throw std::invalid_argument(kTooFewTags);
}

// The element lines of the current row of `row`.
void AppendRowElements(AnsiString& out, TagList tags, RowSource& row, ValueEncoder encoder) {
  int count = row.FieldCount();
  CheckTags(tags, static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    AppendElement(out, tags[static_cast<std::size_t>(i)], row.FieldText(i), encoder);
    out += kLineEnd;
  }
}

}  // namespace

void AppendElement(AnsiString& out, std::string_view tag, std::string_view value,
                   ValueEncoder encoder) {
  out += '<';
  out += tag;
  out += '>';
  std::size_t start = out.size();
  if (encoder == ValueEncoder::Full) {
    AppendFolded(out, value);
    DecodeUtf8Segment(out, start);
  } else {
    for (char c : value) {
      if (!AppendEscaped(out, c)) out += c;
    }
  }
  TrimSegment(out, start);
  out += "</";
  out += tag;
  out += '>';
}

AnsiString EncodeValue(std::string_view tag, std::string_view value) {
  AnsiString out;
  AppendElement(out, tag, value, ValueEncoder::Full);
  return out;
}

AnsiString EscapeValue(std::string_view tag, std::string_view value) {
  AnsiString out;
  AppendElement(out, tag, value, ValueEncoder::EscapeOnly);
  return out;
}

AnsiString BuildRecord(std::string_view name, TagList tags, RowSource& row, ValueEncoder encoder) {
  AnsiString out;
  AppendRecordStart(out, name);
  AppendRowElements(out, tags, row, encoder);
  AppendRecordEnd(out, name);
  return out;
}

AnsiString BuildRecord(std::string_view name, TagList tags, std::span<const AnsiString> values,
                       ValueEncoder encoder) {
  CheckTags(tags, values.size());
  AnsiString out;
  AppendRecordStart(out, name);
  for (std::size_t i = 0; i < values.size(); ++i) {
    AppendElement(out, tags[i], values[i], encoder);
    out += kLineEnd;
  }
  AppendRecordEnd(out, name);
  return out;
}

namespace {

// Pieces of a collection as it grows: about a megabyte each, so that a whole table is gathered
// without copying what it already holds.
constexpr std::size_t kPieceBytes = 1 << 20;

// Builds the collection a row at a time and hands `take` each finished part: the opening lines,
// one item per row, the closing lines.
template <typename Take>
void BuildCollectionParts(const CollectionNames& names, TagList tags, RowSource& rows, Take take) {
  AnsiString part;
  AppendRecordStart(part, names.outer);
  AppendRecordStart(part, names.list);
  take(part);
  for (rows.First(); !rows.Eof(); rows.Next()) {
    part.clear();
    AppendRecordStart(part, names.item);
    AppendRowElements(part, tags, rows, ValueEncoder::Full);
    AppendRecordEnd(part, names.item);
    take(part);
  }
  part.clear();
  AppendRecordEnd(part, names.list);
  AppendRecordEnd(part, names.outer);
  take(part);
}

}  // namespace

// The whole collection is built in ANSI and widened once: one growing string instead of a
// conversion per row.
void BuildCollection(WideString& out, const CollectionNames& names, TagList tags, RowSource& rows) {
  AnsiString ansi;
  BuildCollectionParts(names, tags, rows, [&](std::string_view part) { ansi += part; });
  out = AnsiToWide(ansi);
}

WideString CollectionDocument(const CollectionNames& names, TagList tags, RowSource& rows) {
  std::vector<AnsiString> pieces;
  std::size_t size = kDocumentHeader.size();
  BuildCollectionParts(names, tags, rows, [&](std::string_view part) {
    if (pieces.empty() || pieces.back().capacity() - pieces.back().size() < part.size()) {
      pieces.emplace_back().reserve(std::max(kPieceBytes, part.size()));
    }
    pieces.back() += part;
    size += part.size();
  });
  // Widened into a document of the final size, each piece given back once it is copied.
  WideString document;
  document.reserve(size);
  document += kDocumentHeader;
  for (AnsiString& piece : pieces) {
    AppendAnsiToWide(document, piece);
    AnsiString().swap(piece);
  }
  return document;
}

WideString RecordDocument(std::string_view record) {
  WideString document;
  document.reserve(kDocumentHeader.size() + record.size());
  document += kDocumentHeader;
  AppendAnsiToWide(document, record);
  return document;
}

WideString RecordDocument(std::u16string_view collection) {
  WideString document;
  document.reserve(kDocumentHeader.size() + collection.size());
  document += kDocumentHeader;
  document += collection;
  return document;
}

}  // namespace fesko::web
