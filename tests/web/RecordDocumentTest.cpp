#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "web/RecordDocument.h"

using namespace fesko;
using namespace fesko::web;

namespace {

// A result set held in memory, walked like a query.
class TableRows : public RowSource {
 public:
  TableRows(int columns, std::vector<std::vector<AnsiString>> rows)
      : columns_(columns), rows_(std::move(rows)) {}
  void First() override { row_ = 0; }
  bool Eof() override { return row_ >= rows_.size(); }
  void Next() override { ++row_; }
  int FieldCount() override { return columns_; }
  std::string_view FieldText(int index) override {
    return rows_.at(row_).at(static_cast<std::size_t>(index));
  }
  std::size_t Position() const { return row_; }
  void MoveTo(std::size_t row) { row_ = row; }

 private:
  int columns_;
  std::vector<std::vector<AnsiString>> rows_;
  std::size_t row_ = 0;
};

// The worked example's client row, in Windows-1252: two blanks either side of the name.
const std::vector<AnsiString> kExampleClient = {"1532", "  Pe\361a N\372\361ez & C\355a|Motores  ",
                                                "jpena", ""};

AnsiString Full(std::string_view value) {
  return EncodeValue("V", value);
}
AnsiString Escaped(std::string_view value) {
  return EscapeValue("V", value);
}
AnsiString Element(std::string_view content) {
  return "<V>" + AnsiString(content) + "</V>";
}

}  // namespace

TEST(RecordDocument, WorkedExampleClientDocumentIsByteExact) {
  TableRows rows(4, {kExampleClient});
  rows.First();
  WideString document = RecordDocument(BuildRecord(kClientRecord, kClientTags, rows));
  EXPECT_EQ(document,
            u"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Cliente>\r\n"
            u"<Codigo>1532</Codigo>\r\n"
            u"<Nombre>Pena Nunez &amp; Cia Motores</Nombre>\r\n"
            u"<Login>jpena</Login>\r\n"
            u"<Password></Password>\r\n"
            u"</Cliente>\r\n");
  EXPECT_EQ(kDocumentHeader.size(), 43u);
  // The list-of-values form gives the same record.
  EXPECT_EQ(BuildRecord(kClientRecord, kClientTags, kExampleClient),
            BuildRecord(kClientRecord, kClientTags, rows));
}

TEST(RecordDocument, FullEncoderEscapesMarkupButNotTheDoubleQuote) {
  EXPECT_EQ(Full("a<b & c>d"), Element("a&lt;b &amp; c&gt;d"));
  EXPECT_EQ(Full("&amp;"), Element("&amp;amp;"));
  EXPECT_EQ(Full("O'Brien"), Element("O&apos;Brien"));
  EXPECT_EQ(Full("15\" monitor"), Element("15\" monitor"));
  EXPECT_EQ(EncodeValue("Nombre", "x"), "<Nombre>x</Nombre>");
}

TEST(RecordDocument, FullEncoderFoldsAccentsAndBlanksSeparators) {
  EXPECT_EQ(Full("Cami\363n \321and\372"), Element("Camion Nandu"));
  EXPECT_EQ(Full("\xE1\xE9\xED\xF3\xFA\xC1\xC9\xCD\xD3\xDA\xF1\xD1"), Element("aeiouAEIOUnN"));
  EXPECT_EQ(Full("l\355nea 1\r\nl\355nea 2"), Element("linea 1 linea 2"));
  EXPECT_EQ(Full("a\nb"), Element("a\nb"));  // a lone LF or CR stays
  EXPECT_EQ(Full("a\rb"), Element("a\rb"));
  EXPECT_EQ(Full("10|20"), Element("10 20"));
  EXPECT_EQ(Full("a``b"), Element("a b"));
  EXPECT_EQ(Full("a`b"), Element("a`b"));
  EXPECT_EQ(Full("a```b"), Element("a `b"));
  EXPECT_EQ(Full("1\252 piso N\2725"), Element("1  piso N 5"));
  EXPECT_EQ(Full("a\037b"), Element("a b"));
}

TEST(RecordDocument, FullEncoderDecodesUtf8AndKeepsEverythingElse) {
  // Well-formed UTF-8 that reached the database as bytes comes back as ANSI characters.
  EXPECT_EQ(Full("Se\303\261or caf\303\251 \342\202\2545"), Element("Se\361or caf\351 \2005"));
  EXPECT_EQ(Full("x\xF0\x9F\x98\x80y"), Element("x?y"));  // not in the code page
  // Not UTF-8: the value keeps its characters instead of vanishing.
  EXPECT_EQ(Full("G\374emes"), Element("G\374emes"));
  EXPECT_EQ(Full("25\xB0"), Element("25\xB0"));
  EXPECT_EQ(Full("\277Qu\351?"), Element("\277Que?"));
  // One bad sequence keeps the whole value as it is.
  EXPECT_EQ(Full("\xC3\xB1 y \xFC"), Element("\xC3\xB1 y \xFC"));
  // An overlong form of "<" is not UTF-8 and must not turn into markup.
  EXPECT_EQ(Full("a\300\274b"), Element("a\300\274b"));
}

TEST(RecordDocument, EncodersTrimBlanksAndControlCharacters) {
  EXPECT_EQ(Full("   "), Element(""));
  EXPECT_EQ(Full(""), Element(""));
  EXPECT_EQ(Full("\t x y \x01\r\n"), Element("x y"));
  EXPECT_EQ(Escaped("  \t "), Element(""));
  EXPECT_EQ(Escaped("\r\n a \r\n"), Element("a"));
}

TEST(RecordDocument, EscapeOnlyEncoderPassesAccentsAndSeparators) {
  EXPECT_EQ(Escaped("Cami\363n \321and\372"), Element("Cami\363n \321and\372"));
  EXPECT_EQ(Escaped("G\374emes"), Element("G\374emes"));
  EXPECT_EQ(Escaped("  Pe\361a & C\355a|x\r\ny ``z  "), Element("Pe\361a &amp; C\355a|x\r\ny ``z"));
  EXPECT_EQ(Escaped("<O'Brien>"), Element("&lt;O&apos;Brien&gt;"));
}

TEST(RecordDocument, RecordBuilderReadsTheCurrentRowAndLeavesItThere) {
  TableRows rows(2, {{"1", "Pendiente"}, {"2", "Aprobado"}, {"3", "Rechazado"}});
  rows.MoveTo(1);
  EXPECT_EQ(BuildRecord("Estado", kCodeNameTags, rows),
            "<Estado>\r\n<Codigo>2</Codigo>\r\n<Nombre>Aprobado</Nombre>\r\n</Estado>\r\n");
  EXPECT_EQ(rows.Position(), 1u);

  // The company document goes through the escape-only encoder.
  TableRows company(2, {{"  Taller Pe\361a  ", "G\374emes 10|A"}});
  EXPECT_EQ(BuildRecord(kCompanyRecord, kCompanyTags, company, ValueEncoder::EscapeOnly),
            "<Empresa>\r\n<EmpresaNombre>Taller Pe\361a</EmpresaNombre>\r\n"
            "<EmpresaDireccion>G\374emes 10|A</EmpresaDireccion>\r\n</Empresa>\r\n");
}

TEST(RecordDocument, RecordBuilderPairsTagsWithValuesByPosition) {
  // More tags than values: elements for the first tags only.
  std::vector<AnsiString> values = {"7", "Aprobado"};
  EXPECT_EQ(BuildRecord(kRepairRecord, kRepairStateTags, values),
            "<Reparacion>\r\n<Orden>7</Orden>\r\n<Estado>Aprobado</Estado>\r\n</Reparacion>\r\n");
  // Fewer tags than values would leave values without a name.
  std::vector<AnsiString> tooMany(kClientTags.size() + 1, "x");
  EXPECT_THROW(BuildRecord(kClientRecord, kClientTags, tooMany), std::invalid_argument);
  TableRows wide(3, {{"a", "b", "c"}});
  EXPECT_THROW(BuildRecord("R", kCodeNameTags, wide), std::invalid_argument);
}

TEST(RecordDocument, CollectionOfNoRowsHasOnlyTheWrappingLines) {
  TableRows none(2, {});
  WideString out = u"left over";
  BuildCollection(out, kBudgetStatesList, kCodeNameTags, none);
  EXPECT_EQ(out, u"<Estados>\r\n<ListaEstados>\r\n</ListaEstados>\r\n</Estados>\r\n");
}

TEST(RecordDocument, CollectionWalksEveryRowFromTheFirstAndReplacesTheOutput) {
  TableRows clients(4, {kExampleClient, {"1533", "Mar\355a O'Neil", "maria", "s3cr3t"}});
  clients.MoveTo(1);  // the builder starts from the first row whatever the position
  WideString out = u"left over";
  BuildCollection(out, kClientsList, kClientTags, clients);
  EXPECT_EQ(RecordDocument(out),
            u"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Clientes>\r\n"
            u"<ListaClientes>\r\n"
            u"<Cliente>\r\n"
            u"<Codigo>1532</Codigo>\r\n"
            u"<Nombre>Pena Nunez &amp; Cia Motores</Nombre>\r\n"
            u"<Login>jpena</Login>\r\n"
            u"<Password></Password>\r\n"
            u"</Cliente>\r\n"
            u"<Cliente>\r\n"
            u"<Codigo>1533</Codigo>\r\n"
            u"<Nombre>Maria O&apos;Neil</Nombre>\r\n"
            u"<Login>maria</Login>\r\n"
            u"<Password>s3cr3t</Password>\r\n"
            u"</Cliente>\r\n"
            u"</ListaClientes>\r\n"
            u"</Clientes>\r\n");
  EXPECT_TRUE(clients.Eof());

  // The finished document in one step is the same text.
  clients.MoveTo(1);
  EXPECT_EQ(CollectionDocument(kClientsList, kClientTags, clients), RecordDocument(out));
  EXPECT_TRUE(clients.Eof());
}

TEST(RecordDocument, CollectionDocumentOfSeveralMegabytesIsTheSameText) {
  // Enough rows to be gathered in several pieces, with values that change length on the way.
  std::vector<std::vector<std::string>> rows;
  for (int i = 0; i < 40000; ++i) {
    rows.push_back({std::to_string(i), "Pe\361a & Hijos <" + std::string(i % 37, 'x') + "> |"});
  }
  TableRows clients(2, rows);
  WideString out;
  BuildCollection(out, kCurrenciesList, kCodeNameTags, clients);
  ASSERT_GT(out.size(), 3'000'000u);
  EXPECT_EQ(CollectionDocument(kCurrenciesList, kCodeNameTags, clients), RecordDocument(out));
}

TEST(RecordDocument, CollectionIsWidenedFromWindows1252) {
  // A well-formed UTF-8 euro sign decodes to byte 0x80, which widens to U+20AC.
  TableRows currencies(2, {{"2", "Euro \xE2\x82\xAC"}});
  WideString out;
  BuildCollection(out, kCurrenciesList, kCodeNameTags, currencies);
  EXPECT_NE(out.find(u"<Nombre>Euro \u20AC</Nombre>\r\n"), WideString::npos);
  EXPECT_EQ(CollectionDocument(kCurrenciesList, kCodeNameTags, currencies), RecordDocument(out));
}
