// The five kinds of change the sync sends, and the one table of what sets them apart: the
// database event that announces each, what selects it, which document carries it, where it
// goes, what the operator is told and where its marker stands in config.ini.
#pragma once

#include <array>
#include <span>
#include <string_view>

#include "base/CodeGaps.h"
#include "base/FormatSettings.h"
#include "web/RecordDocument.h"
#include "web/Services.h"

namespace fesko {

namespace db {
class TDataModule1;
class TIBEvents;
class TMDOQuery;
}  // namespace db
class TFrmPpal;

// In the order the catch-up sends them. Each has a marker of its own: new clients and new
// repairs a code, the three changed kinds a moment.
enum class ChangeKind { ChangedClients, NewClients, NewRepairs, ChangedRepairs, ChangedBudgets };

inline constexpr std::array<ChangeKind, 5> kChangeKinds = {
    ChangeKind::ChangedClients, ChangeKind::NewClients, ChangeKind::NewRepairs,
    ChangeKind::ChangedRepairs, ChangeKind::ChangedBudgets};

// Whether the kind's marker is a code (new rows) rather than a moment (changed rows).
constexpr bool IsNewKind(ChangeKind kind) {
  return kind == ChangeKind::NewClients || kind == ChangeKind::NewRepairs;
}

constexpr std::size_t IndexOf(ChangeKind kind) {
  return static_cast<std::size_t>(kind);
}

// The title of the balloons that say a kind went out, at start and live.
inline constexpr std::u16string_view kSendingTitle = u"Fesko 15318 - Enviando Datos";

// Where a kind's marker stands in config.ini: a code under one key, with its gaps under
// another, or a moment as a date and a time under two. Names are matched without regard to
// case, so each has one spelling here whichever spelling older files use.
struct MarkerPlace {
  const char* section;
  const char* key;       // the code, or the moment's date
  const char* time_key;  // the moment's time; none for a code
  const char* gaps_key;  // the code's gaps; none for a moment
};

struct KindFacts {
  ChangeKind kind;
  // The event the workshop's triggers post, the main window's listener that waits for it and
  // the handler it runs.
  const char* event;
  db::TIBEvents TFrmPpal::*listener;
  void (TFrmPpal::*handler)();
  // The service, the record and its tags, and the result columns that go under them in order.
  web::Service service;
  std::string_view record;
  web::TagList tags;
  std::span<const int> columns;
  // Rows of a new kind past a code or in its gaps, rows of a changed kind since a moment.
  void (*select_new)(db::TMDOQuery&, int, const CodeGaps&) = nullptr;
  void (*select_changed)(db::TMDOQuery&, const CalendarDate&, const TimeOfDay&) = nullptr;
  // The query the catch-up selects the kind into, to read it after all five are selected.
  db::TMDOQuery db::TDataModule1::*catch_up_query;
  std::u16string_view catch_up_text;
  // The live pass's balloon and the context of its database error box.
  std::u16string_view live_title;
  std::u16string_view live_text;
  std::u16string_view live_error;
  MarkerPlace marker;
};

// The table's entry for the kind, and the whole table in the order of ChangeKind.
const KindFacts& FactsOf(ChangeKind kind);
std::span<const KindFacts> AllKindFacts();

}  // namespace fesko
