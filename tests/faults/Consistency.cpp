#include "tests/faults/Consistency.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <array>
#include <charconv>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <sstream>

#include "base/CodeGaps.h"
#include "base/ConfigFile.h"
#include "base/FormatSettings.h"
#include "base/TextKinds.h"
#include "database/Datamodule.h"
#include "database/UnitOfWork.h"
#include "database/WorkshopQueries.h"
#include "tests/support/Workshop.h"

namespace fesko::test {
namespace {

// The names the web service expects, written out here rather than taken from the program, so
// that a wrong tag in the program shows as a difference.
using Tags = std::vector<std::string>;
// The names in `names`, separated by blanks.
Tags Words(const std::string& names) {
  std::istringstream in(names);
  return Tags(std::istream_iterator<std::string>(in), {});
}
const Tags kClient = Words("Codigo Nombre Login Password");
const Tags kRepair = Words(
    "Orden Cliente TipoDeEquipo Marca Modelo NS Falla FechaDeIngreso Estado EstadoRep "
    "FechaDePresupuesto InformeAlCliente MonedasCodigo Total");
const Tags kRepairState =
    Words("Orden Estado EstadoRep FechaDePresupuesto InformeAlCliente MonedasCodigo Total");
const Tags kBudgetState =
    Words("Orden Estado FechaDePresupuesto InformeAlCliente MonedasCodigo Total");
const Tags kCompany = Words(
    "EmpresaNombre EmpresaDireccion EmpresaLocalidad EmpresaEstado EmpresaCP EmpresaTelefono "
    "EmpresaEmail EmpresaWeb");
const Tags kCodeName = Words("Codigo Nombre");
constexpr char kHeader[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";

// Positions in a repair row (the 14 repair tags) by what they describe.
constexpr std::array<int, 7> kIntakeColumns = {1, 2, 3, 4, 5, 6, 7};
constexpr int kRepairStateColumn = 9;
constexpr std::array<int, 5> kBudgetColumns = {8, 10, 11, 12, 13};

enum class Kind { Client, Repair };

// What each upload page may carry: a record or a collection of one kind, with its tag lists.
struct Page {
  std::string_view page;
  Kind kind;
  std::string_view record;            // the record element, or the collection's item element
  std::string_view outer, list;       // the collection's wrappers; empty for a record
  const Tags* shape;                  // the tags of a record on this page
  const Tags* other_shape = nullptr;  // those of its other kind of record, if any
};
const std::vector<Page>& Pages() {
  static const std::vector<Page> pages = {
      {"aupload_nuevo_cliente.aspx", Kind::Client, "Cliente", "", "", &kClient},
      {"aupload_editar_cliente.aspx", Kind::Client, "Cliente", "", "", &kClient},
      {"aupload_inicializar_clientes.aspx", Kind::Client, "Cliente", "Clientes", "ListaClientes",
       &kClient},
      {"aupload_nueva_reparacion.aspx", Kind::Repair, "Reparacion", "", "", &kRepair},
      {"aupload_editar_reparacion.aspx", Kind::Repair, "Reparacion", "", "", &kRepairState,
       &kBudgetState},
      {"aupload_inicializar_reparaciones.aspx", Kind::Repair, "Reparacion", "Reparaciones",
       "ListaReparaciones", &kRepair},
  };
  return pages;
}

// The tables an initial load sends whole: what the web service holds of them is the last document
// it accepted on their page.
struct ListPage {
  std::string_view page;
  std::string_view outer, list;  // empty for the company's single record
  std::string_view item;
  void (*statement)(db::TMDOQuery&);
  bool escape_only;  // the company's values are only escaped and trimmed
  const Tags* tags;
};
const std::vector<ListPage>& ListPages() {
  static const std::vector<ListPage> pages = {
      {"aupload_inicializar_empresa.aspx", "", "", "Empresa", db::ReadCompany, true, &kCompany},
      {"aupload_inicializar_estados.aspx", "Estados", "ListaEstados", "Estado",
       db::ListBudgetStates, false, &kCodeName},
      {"aupload_inicializar_estados_reparaciones.aspx", "EstadosReparaciones", "ListaEstados",
       "Estado", db::ListStates, false, &kCodeName},
      {"aupload_inicializar_monedas.aspx", "Monedas", "ListaMonedas", "Moneda", db::ListCurrencies,
       false, &kCodeName},
  };
  return pages;
}

// The last value the web service accepted for one field, and where it came from.
struct Held {
  std::string value;  // UTF-8, entities resolved
  std::string page;
  int call = 0;  // 1-based arrival number
};
using WebRow = std::map<std::string, Held>;

struct WebState {
  std::map<int, WebRow> clients, repairs;
  std::vector<std::string> problems;
};

struct XmlDocFree {
  void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

std::string Content(xmlNode* node) {
  xmlChar* text = xmlNodeGetContent(node);
  std::string out = text ? reinterpret_cast<const char*>(text) : "";
  xmlFree(text);
  return out;
}

std::string_view Name(const xmlNode* node) {
  return reinterpret_cast<const char*>(node->name);
}

std::vector<xmlNode*> Elements(xmlNode* parent) {
  std::vector<xmlNode*> out;
  for (xmlNode* child = parent->children; child; child = child->next) {
    if (child->type == XML_ELEMENT_NODE) out.push_back(child);
  }
  return out;
}

std::optional<int> Code(std::string_view text) {
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Parses a record document and finds its records: the root itself, or the items of a
// collection wrapped in `outer` and `list`. False, with the reason in `problems`, when the
// document is not of that shape.
bool ParseDocument(const std::string& text, std::string_view outer, std::string_view list,
                   const std::string& where, std::unique_ptr<xmlDoc, XmlDocFree>& doc,
                   std::vector<xmlNode*>& records, std::vector<std::string>& problems) {
  if (!text.starts_with(kHeader)) {
    problems.push_back(where + ": the document does not begin with the record header");
    return false;
  }
  // The header names ISO-8859-1 but the text reached us as UTF-8: parse what follows it.
  std::string_view body = std::string_view(text).substr(sizeof kHeader - 1);
  doc.reset(xmlReadMemory(body.data(), static_cast<int>(body.size()), nullptr, "UTF-8",
                          XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
  if (!root) {
    problems.push_back(where + ": the document is not well-formed XML");
    return false;
  }
  if (outer.empty()) {
    records.push_back(root);
    return true;
  }
  std::vector<xmlNode*> lists = Elements(root);
  if (Name(root) != outer || lists.size() != 1 || Name(lists[0]) != list) {
    problems.push_back(where + ": expected <" + std::string(outer) + "><" + std::string(list) +
                       ">, found <" + std::string(Name(root)) + ">");
    return false;
  }
  records = Elements(lists[0]);
  return true;
}

const char* KindName(Kind kind) {
  return kind == Kind::Client ? "client" : "repair";
}

// Reads one accepted upload into the state: each field of each record replaces what the web
// service held for that code and tag.
void Take(WebState& state, const StandIn::Call& call, int number) {
  const Page* page = nullptr;
  for (const Page& p : Pages()) {
    if (p.page == call.page) page = &p;
  }
  if (!page) return;
  std::string where = call.page + " (call " + std::to_string(number) + ")";
  std::unique_ptr<xmlDoc, XmlDocFree> doc;
  std::vector<xmlNode*> records;
  if (!ParseDocument(call.readfilexmls, page->outer, page->list, where, doc, records,
                     state.problems)) {
    return;
  }
  auto& rows = page->kind == Kind::Client ? state.clients : state.repairs;
  for (xmlNode* record : records) {
    if (Name(record) != page->record) {
      state.problems.push_back(where + ": expected <" + std::string(page->record) + ">, found <" +
                               std::string(Name(record)) + ">");
      continue;
    }
    std::vector<xmlNode*> fields = Elements(record);
    Tags tags;
    for (xmlNode* field : fields) tags.emplace_back(Name(field));
    bool known = *page->shape == tags || (page->other_shape && *page->other_shape == tags);
    if (!known) {
      std::string found;
      for (const auto& tag : tags) found += " " + tag;
      state.problems.push_back(where + ": a <" + std::string(page->record) +
                               "> with unexpected fields:" + found);
      continue;
    }
    std::string key = Content(fields[0]);
    auto code = Code(key);
    if (!code) {
      state.problems.push_back(where + ": a " + KindName(page->kind) + " whose " + tags[0] +
                               " is not a number: " + Quoted(key));
      continue;
    }
    WebRow& row = rows[*code];
    for (std::size_t i = 1; i < fields.size(); ++i) {
      row[tags[i]] = {Content(fields[i]), call.page, number};
    }
    row[tags[0]] = {key, call.page, number};
  }
}

WebState ReadWeb(const std::vector<StandIn::Call>& calls) {
  WebState state;
  int number = 0;
  for (const StandIn::Call& call : calls) {
    ++number;
    if (call.accepted == "1") Take(state, call, number);
  }
  return state;
}

// Lone CRs and CR LF pairs become LF in parsed XML; compare texts so normalised. Totals may
// carry either decimal separator, depending on the process that rendered them.
std::string Comparable(std::string text, std::string_view tag) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  if (tag == "Total") {
    for (char& c : out) {
      if (c == ',') c = '.';
    }
  }
  return out;
}

// The database as the program reads it, one entry per code.
struct Database {
  std::map<int, std::array<std::string, 4>> clients;
  std::map<int, std::vector<std::array<std::string, 14>>> repairs;  // one row per budget
};

template <std::size_t N>
std::array<std::string, N> RowTexts(db::TMDOQuery& query) {
  std::array<std::string, N> row;
  for (std::size_t i = 0; i < N; ++i) row[i] = std::string(query.FieldText(static_cast<int>(i)));
  return row;
}

Database ReadDatabase(db::TDataModule1& data) {
  Database out;
  db::RunUnitOfWork(data, [&] {
    db::ListClients(data.Consulta);
    for (data.Consulta.First(); !data.Consulta.Eof(); data.Consulta.Next()) {
      out.clients[data.Consulta.Fields(0).AsInteger()] = RowTexts<4>(data.Consulta);
    }
    db::ListRepairs(data.ConsultaVs);
    for (data.ConsultaVs.First(); !data.ConsultaVs.Eof(); data.ConsultaVs.Next()) {
      out.repairs[data.ConsultaVs.Fields(0).AsInteger()].push_back(RowTexts<14>(data.ConsultaVs));
    }
  });
  return out;
}

// Compares some fields of one row; returns false when one of them differs or never arrived.
bool CompareFields(const char* kind, int code, const WebRow& web, const Tags& tags,
                   std::span<const int> columns, std::span<const std::string> db,
                   std::vector<std::string>& out) {
  bool same = true;
  for (int column : columns) {
    const std::string& tag = tags[static_cast<std::size_t>(column)];
    std::string expected = AsTheWebReadsIt(db[static_cast<std::size_t>(column)]);
    auto held = web.find(tag);
    std::string line = std::string(kind) + " " + std::to_string(code) + ": " + tag;
    if (held == web.end()) {
      out.push_back(line + " never reached the web service (database " + Quoted(expected) + ")");
      same = false;
    } else if (Comparable(held->second.value, tag) != Comparable(expected, tag)) {
      out.push_back(line + ": web " + Quoted(held->second.value) + " (" + held->second.page +
                    ", call " + std::to_string(held->second.call) + ") vs database " +
                    Quoted(expected));
      same = false;
    }
  }
  return same;
}

const WebRow* Find(const std::map<int, WebRow>& rows, int code) {
  auto at = rows.find(code);
  return at == rows.end() ? nullptr : &at->second;
}

// The web service holds one budget per repair: its budget fields must be those of one of the
// repair's budgets (of the only one, field by field, when there is one).
void CompareBudget(int code, const WebRow& web,
                   const std::vector<std::array<std::string, 14>>& rows,
                   std::vector<std::string>& out) {
  if (rows.size() == 1) {
    CompareFields("repair", code, web, kRepair, kBudgetColumns, rows[0], out);
    return;
  }
  for (const auto& row : rows) {
    std::vector<std::string> ignored;
    if (CompareFields("repair", code, web, kRepair, kBudgetColumns, row, ignored)) return;
  }
  std::string line = "repair " + std::to_string(code) + ": the budget on the web service (";
  for (int column : kBudgetColumns) {
    auto held = web.find(kRepair[static_cast<std::size_t>(column)]);
    line += kRepair[static_cast<std::size_t>(column)] + " " +
            (held == web.end() ? std::string("never sent") : Quoted(held->second.value)) + " ";
  }
  out.push_back(line + ") is none of its " + std::to_string(rows.size()) + " budgets");
}

constexpr std::array<int, 3> kClientFields = {1, 2, 3};
constexpr std::array<int, 1> kRepairStateField = {kRepairStateColumn};

void CompareAll(const Database& db, const WebState& web, std::vector<std::string>& out) {
  out.insert(out.end(), web.problems.begin(), web.problems.end());
  for (const auto& [code, row] : db.clients) {
    const WebRow* held = Find(web.clients, code);
    if (!held) {
      out.push_back("client " + std::to_string(code) + " never reached the web service");
      continue;
    }
    CompareFields("client", code, *held, kClient, kClientFields, row, out);
  }
  for (const auto& [code, rows] : db.repairs) {
    const WebRow* held = Find(web.repairs, code);
    if (!held) {
      out.push_back("repair " + std::to_string(code) + " never reached the web service");
      continue;
    }
    CompareFields("repair", code, *held, kRepair, kIntakeColumns, rows[0], out);
    CompareFields("repair", code, *held, kRepair, kRepairStateField, rows[0], out);
    CompareBudget(code, *held, rows, out);
  }
}

// Codes of a table selected by a condition on its change stamp or code.
std::set<int> Codes(db::TDataModule1& data, const std::string& sql,
                    const std::function<void(db::TMDOQuery&)>& bind) {
  std::set<int> codes;
  db::RunUnitOfWork(data, [&] {
    db::TMDOQuery& q = data.consultaestado;
    Load(q, {sql});
    bind(q);
    q.Open();
    for (q.First(); !q.Eof(); q.Next()) codes.insert(q.Fields(0).AsInteger());
  });
  return codes;
}

// Every row of a statement as texts, in the order the statement gives them.
std::vector<std::vector<std::string>> AllRows(db::TDataModule1& data,
                                              void (*statement)(db::TMDOQuery&)) {
  std::vector<std::vector<std::string>> rows;
  db::RunUnitOfWork(data, [&] {
    db::TMDOQuery& q = data.ConsultaProduccion;
    statement(q);
    for (q.First(); !q.Eof(); q.Next()) {
      std::vector<std::string> row;
      for (int i = 0; i < q.FieldCount(); ++i) row.emplace_back(q.FieldText(i));
      rows.push_back(std::move(row));
    }
  });
  return rows;
}

std::string Trimmed(std::string_view ansi) {
  std::size_t begin = 0, end = ansi.size();
  while (begin < end && static_cast<unsigned char>(ansi[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(ansi[end - 1]) <= ' ') --end;
  return AnsiToUtf8(ansi.substr(begin, end - begin));
}

// The last document accepted on each list page, when there is one, against its table now.
void CompareLists(db::TDataModule1& data, const std::vector<StandIn::Call>& calls,
                  std::vector<std::string>& out) {
  for (const ListPage& page : ListPages()) {
    int number = 0, last = 0;
    for (const StandIn::Call& call : calls) {
      ++number;
      if (call.page == page.page && call.accepted == "1") last = number;
    }
    if (last == 0) continue;
    std::string where = std::string(page.page) + " (call " + std::to_string(last) + ")";
    std::unique_ptr<xmlDoc, XmlDocFree> doc;
    std::vector<xmlNode*> records;
    if (!ParseDocument(calls[static_cast<std::size_t>(last - 1)].readfilexmls, page.outer,
                       page.list, where, doc, records, out)) {
      continue;
    }
    auto rows = AllRows(data, page.statement);
    // The company sends its first row only, and eight empty values for an empty table.
    if (page.outer.empty()) rows.resize(1, std::vector<std::string>(page.tags->size()));
    if (records.size() != rows.size()) {
      out.push_back(where + ": " + std::to_string(records.size()) + " records on the web, " +
                    std::to_string(rows.size()) + " rows in the database");
      continue;
    }
    for (std::size_t r = 0; r < rows.size(); ++r) {
      std::vector<xmlNode*> fields = Elements(records[r]);
      Tags tags;
      for (xmlNode* field : fields) tags.emplace_back(Name(field));
      if (Name(records[r]) != page.item || tags != *page.tags) {
        out.push_back(where + ": record " + std::to_string(r + 1) + " is not a <" +
                      std::string(page.item) + "> with the expected fields");
        continue;
      }
      for (std::size_t i = 0; i < fields.size(); ++i) {
        std::string expected = page.escape_only ? Trimmed(rows[r][i]) : AsTheWebReadsIt(rows[r][i]);
        std::string held = Content(fields[i]);
        if (Comparable(held, tags[i]) != Comparable(expected, tags[i])) {
          out.push_back(where + ": record " + std::to_string(r + 1) + " " + tags[i] + ": web " +
                        Quoted(held) + " vs database " + Quoted(expected));
        }
      }
    }
  }
}

}  // namespace

std::string AsTheWebReadsIt(std::string_view ansi) {
  // Accented letters to plain ones, in Windows-1252.
  static const std::map<unsigned char, char> kFolds = {
      {0xE1, 'a'}, {0xE9, 'e'}, {0xED, 'i'}, {0xF3, 'o'}, {0xFA, 'u'}, {0xC1, 'A'},
      {0xC9, 'E'}, {0xCD, 'I'}, {0xD3, 'O'}, {0xDA, 'U'}, {0xF1, 'n'}, {0xD1, 'N'}};
  std::string text;
  for (std::size_t i = 0; i < ansi.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(ansi[i]);
    bool pair_of = i + 1 < ansi.size();
    if (auto fold = kFolds.find(c); fold != kFolds.end()) {
      text += fold->second;
    } else if (c == 0xAA || c == 0xBA || c == 0x1F || c == '|') {
      text += ' ';
    } else if ((c == '`' && pair_of && ansi[i + 1] == '`') ||
               (c == '\r' && pair_of && ansi[i + 1] == '\n')) {
      text += ' ';
      ++i;
    } else {
      text += static_cast<char>(c);
    }
  }
  // What is left above ASCII must be well-formed UTF-8 (two or three bytes a character), which
  // arrives as the single-byte characters it stands for; anything else empties the value.
  WideString wide;
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      wide += static_cast<char16_t>(c);
      continue;
    }
    std::size_t more = (c & 0x20) ? 2 : 1;
    if (i + more >= text.size()) return "";  // cut off by the end
    char32_t code = more == 1 ? (c & 0x1F) : (c & 0x0F);
    for (std::size_t k = 1; k <= more; ++k) {
      unsigned char next = static_cast<unsigned char>(text[i + k]);
      if (next < 0x80 || next > 0xBF) return "";
      code = (code << 6) | (next & 0x3F);
    }
    wide += static_cast<char16_t>(code);
    i += more;
  }
  AnsiString back = WideToAnsi(wide);
  std::size_t begin = 0, end = back.size();
  while (begin < end && static_cast<unsigned char>(back[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(back[end - 1]) <= ' ') --end;
  return AnsiToUtf8(std::string_view(back).substr(begin, end - begin));
}

WebConsistency::WebConsistency(const std::string& attachment)
    : data_(ConnectedDataModule(attachment)) {}

WebConsistency::~WebConsistency() = default;

std::vector<std::string> WebConsistency::Differences(const StandIn& web) {
  return Differences(web.Received());
}

std::vector<std::string> WebConsistency::Differences(const std::vector<StandIn::Call>& calls) {
  std::vector<std::string> out;
  CompareAll(ReadDatabase(*data_), ReadWeb(calls), out);
  CompareLists(*data_, calls, out);
  return out;
}

std::vector<std::string> WebConsistency::MarkerOvershoots(const std::string& config_ini,
                                                          const StandIn& web) {
  return MarkerOvershoots(config_ini, web.Received());
}

std::vector<std::string> WebConsistency::MarkerOvershoots(const std::string& config_ini,
                                                          const std::vector<StandIn::Call>& calls) {
  std::vector<std::string> out;
  std::string ini = ReadFile(config_ini);
  Database db = ReadDatabase(*data_);
  WebState web = ReadWeb(calls);

  auto code_marker = [&](const char* section, const char* key) -> std::optional<int> {
    AnsiString text = ProfileValue(ini, section, key);
    if (text.empty()) return std::nullopt;
    if (auto code = Code(text)) return code;
    out.push_back(std::string("marker ") + section + "/" + key + " is not a code: " + Quoted(text));
    return std::nullopt;
  };
  auto moment_marker = [&](const char* section) -> std::optional<DateAndTime> {
    AnsiString date = ProfileValue(ini, section, "fecha");
    AnsiString time = ProfileValue(ini, section, "hora");
    if (date.empty() || time.empty()) return std::nullopt;
    try {
      return DateAndTime{StrToDate(date), StrToTime(time)};
    } catch (const std::exception&) {
      out.push_back(std::string("marker ") + section +
                    " is not a date and time: " + Quoted(date + " " + time));
      return std::nullopt;
    }
  };
  auto below = [&](const char* table, int code) {
    return Codes(*data_, std::string("select codigo from ") + table + " where codigo <= :c",
                 [&](db::TMDOQuery& q) { q.ParamByName("c").SetAsInteger(code); });
  };
  auto before = [&](const char* column, const char* table, const DateAndTime& moment) {
    return Codes(
        *data_,
        std::string("select ") + column + " from " + table + " where fecha_aud + hora_aud < :m",
        [&](db::TMDOQuery& q) { q.ParamByName("m").SetAsDateTime(moment); });
  };

  // A code marker may pass codes still waited for as gaps: those claim nothing yet.
  auto gaps_of = [&](const char* section) {
    AnsiString text = ProfileValue(ini, section, "huecos", std::string::npos);
    try {
      return CodeGaps::Parse(text);
    } catch (const std::exception&) {
      out.push_back(std::string("marker ") + section +
                    "/huecos is not a list of gaps: " + Quoted(text));
      return CodeGaps();
    }
  };
  if (auto marker = code_marker("ultimo_cliente", "cliente")) {
    CodeGaps gaps = gaps_of("ultimo_cliente");
    for (int code : below("clientes", *marker)) {
      if (!Find(web.clients, code) && !gaps.Contains(code)) {
        out.push_back("client " + std::to_string(code) + " is at or below the client code marker " +
                      std::to_string(*marker) + " but never reached the web service");
      }
    }
  }
  if (auto marker = code_marker("nueva_reparacion", "codigo")) {
    CodeGaps gaps = gaps_of("nueva_reparacion");
    for (int code : below("reparaciones", *marker)) {
      const WebRow* held = Find(web.repairs, code);
      if (!held) {
        if (gaps.Contains(code)) continue;
        out.push_back("repair " + std::to_string(code) + " is at or below the repair code marker " +
                      std::to_string(*marker) + " but never reached the web service");
      } else if (db.repairs.contains(code)) {
        CompareFields("repair", code, *held, kRepair, kIntakeColumns, db.repairs[code][0], out);
      }
    }
  }
  if (auto marker = moment_marker("fecha_actualizacion_cliente")) {
    for (int code : before("codigo", "clientes", *marker)) {
      const WebRow* held = Find(web.clients, code);
      if (!held) {
        out.push_back("client " + std::to_string(code) +
                      " changed before the client date/time marker but never reached the web "
                      "service");
      } else if (db.clients.contains(code)) {
        CompareFields("client", code, *held, kClient, kClientFields, db.clients[code], out);
      }
    }
  }
  if (auto marker = moment_marker("nueva_reparacion")) {
    for (int code : before("codigo", "reparaciones", *marker)) {
      const WebRow* held = Find(web.repairs, code);
      if (!held) {
        out.push_back("repair " + std::to_string(code) +
                      " changed before the repair date/time marker but never reached the web "
                      "service");
      } else if (db.repairs.contains(code)) {
        CompareFields("repair", code, *held, kRepair, kRepairStateField, db.repairs[code][0], out);
      }
    }
  }
  if (auto marker = moment_marker("presupuesto")) {
    for (int code : before("idreparacion", "presupuestos", *marker)) {
      const WebRow* held = Find(web.repairs, code);
      if (!held) {
        out.push_back("the budget of repair " + std::to_string(code) +
                      " changed before the budget date/time marker but never reached the web "
                      "service");
      } else if (db.repairs.contains(code)) {
        CompareBudget(code, *held, db.repairs[code], out);
      }
    }
  }
  return out;
}

std::string Describe(const std::vector<std::string>& differences) {
  std::string out;
  for (const std::string& line : differences) out += line + "\n";
  return out;
}

}  // namespace fesko::test
