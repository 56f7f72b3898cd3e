// The record documents every upload carries: the two value encoders, the record and collection
// builders, and the tag lists and names of every document kind. Documents are plain text
// concatenation in ANSI bytes; the finished document is wide text behind a fixed header.
#pragma once

#include <array>
#include <span>
#include <string_view>

#include "base/RowSource.h"
#include "base/TextKinds.h"

namespace fesko::web {

// Every record document starts with these 43 characters; no line break follows them.
inline constexpr std::u16string_view kDocumentHeader =
    u"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";

// Element names paired by position with the values of a record.
using TagList = std::span<const std::string_view>;

enum class ValueEncoder {
  Full,        // escapes, folds accents, blanks separators, decodes UTF-8, trims
  EscapeOnly,  // escapes and trims; the company document
};

// "<tag>value</tag>" with the value through the full encoder, without a line break.
AnsiString EncodeValue(std::string_view tag, std::string_view value);
// The same through the escape-only encoder.
AnsiString EscapeValue(std::string_view tag, std::string_view value);
// Appends the element to `out`; the builders use it to fill one buffer.
void AppendElement(AnsiString& out, std::string_view tag, std::string_view value,
                   ValueEncoder encoder);

// A record from the current row of `row`: every column in order, column i under tag i. The
// row is left where it was. `tags` must hold at least as many tags as there are columns.
AnsiString BuildRecord(std::string_view name, TagList tags, RowSource& row,
                       ValueEncoder encoder = ValueEncoder::Full);
// A record from values the caller read itself: value i under tag i.
AnsiString BuildRecord(std::string_view name, TagList tags, std::span<const AnsiString> values,
                       ValueEncoder encoder = ValueEncoder::Full);

// The names that wrap a collection: outer element, list element, one item element per row.
struct CollectionNames {
  std::string_view outer;
  std::string_view list;
  std::string_view item;
};

// Every row of `rows` from the first, as items of a collection, full encoder. Replaces the
// content of `out`; `rows` is left past its last row.
void BuildCollection(WideString& out, const CollectionNames& names, TagList tags, RowSource& rows);

// The finished document: the header directly followed by a record or a collection.
WideString RecordDocument(std::string_view record);
WideString RecordDocument(std::u16string_view collection);
// The same as RecordDocument over BuildCollection, without a second copy of a collection that
// may hold a whole table.
WideString CollectionDocument(const CollectionNames& names, TagList tags, RowSource& rows);

// Document kinds: record names, collection names and tag lists.
inline constexpr std::string_view kClientRecord = "Cliente";
inline constexpr std::string_view kRepairRecord = "Reparacion";
inline constexpr std::string_view kCompanyRecord = "Empresa";

inline constexpr std::array<std::string_view, 4> kClientTags = {"Codigo", "Nombre", "Login",
                                                                "Password"};
// clang-format off
inline constexpr std::array<std::string_view, 14> kNewRepairTags = {
    "Orden", "Cliente", "TipoDeEquipo", "Marca", "Modelo", "NS", "Falla", "FechaDeIngreso",
    "Estado", "EstadoRep", "FechaDePresupuesto", "InformeAlCliente", "MonedasCodigo", "Total"};
// clang-format on
inline constexpr std::array<std::string_view, 7> kRepairStateTags = {
    "Orden",         "Estado", "EstadoRep", "FechaDePresupuesto", "InformeAlCliente",
    "MonedasCodigo", "Total"};
inline constexpr std::array<std::string_view, 6> kBudgetStateTags = {
    "Orden", "Estado", "FechaDePresupuesto", "InformeAlCliente", "MonedasCodigo", "Total"};
inline constexpr std::array<std::string_view, 8> kCompanyTags = {
    "EmpresaNombre", "EmpresaDireccion", "EmpresaLocalidad", "EmpresaEstado",
    "EmpresaCP",     "EmpresaTelefono",  "EmpresaEmail",     "EmpresaWeb"};
inline constexpr std::array<std::string_view, 2> kCodeNameTags = {"Codigo", "Nombre"};

inline constexpr CollectionNames kBudgetStatesList = {"Estados", "ListaEstados", "Estado"};
inline constexpr CollectionNames kStatesList = {"EstadosReparaciones", "ListaEstados", "Estado"};
inline constexpr CollectionNames kCurrenciesList = {"Monedas", "ListaMonedas", "Moneda"};
inline constexpr CollectionNames kClientsList = {"Clientes", "ListaClientes", "Cliente"};
inline constexpr CollectionNames kRepairsList = {"Reparaciones", "ListaReparaciones", "Reparacion"};

}  // namespace fesko::web
