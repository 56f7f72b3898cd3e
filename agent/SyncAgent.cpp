#include "agent/SyncAgent.h"

#include <algorithm>
#include <array>
#include <climits>
#include <functional>
#include <set>
#include <span>
#include <utility>
#include <vector>

#include "agent/StopSignals.h"
#include "base/MessageBox.h"
#include "base/Moments.h"
#include "base/TextHelpers.h"
#include "database/MDOErrors.h"
#include "database/UnitOfWork.h"
#include "database/WorkshopQueries.h"
#include "web/DownloadReply.h"
#include "web/RecordDocument.h"
#include "web/Services.h"
#include "web/WebErrors.h"

namespace fesko {
namespace {

using db::TMDOQuery;
using web::Service;

constexpr std::u16string_view kSendingTitle = u"Fesko 15318 - Enviando Datos";

// A workshop transaction stamps a row when it writes it, but the row shows only once the
// transaction commits, which can be after a pass has read the server's moment and moved its
// marker past the stamp. Every pass over changed rows therefore also looks this far back before
// its marker: the catch-up sends what it finds there once more, and the live passes send a row
// found only there when its documents differ from what they last sent for its code.
constexpr long kLateCommitWindowSeconds = 10 * 60;

// The columns of a result row that go into a document, in tag order.
using Columns = std::span<const int>;
constexpr std::array<int, 4> kClientColumns = {0, 1, 2, 3};
constexpr std::array<int, 14> kRepairColumns = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
constexpr std::array<int, 7> kRepairStateColumns = {0, 8, 9, 10, 11, 12, 13};
constexpr std::array<int, 6> kBudgetStateColumns = {0, 8, 9, 10, 11, 12};

constexpr std::u16string_view kLiveErrorCaption = db::kQueryErrorCaptionCapitalised;
constexpr std::u16string_view kRepairsSearchError = u"error en la Busqueda de Reparaciones";
constexpr std::u16string_view kRepairEditedText =
    u"Se Enviaron exitosamente los Datos de la Reparación Editada";

// One kind of change: what selects it, which document carries it, where it goes, and what the
// operator is told.
struct KindEntry {
  Service service;
  std::string_view record;
  web::TagList tags;
  Columns columns;
  // Rows of a new kind past a code or in its gaps, rows of a changed kind since a moment.
  void (*select_new)(TMDOQuery&, int, const CodeGaps&);
  void (*select_changed)(TMDOQuery&, const CalendarDate&, const TimeOfDay&);
  // The query the catch-up selects the kind into, to send it after all five are selected.
  TMDOQuery db::TDataModule1::*catch_up_query;
  std::u16string_view catch_up_text;
  // The live pass's balloon and the context of its database error box.
  std::u16string_view live_title;
  std::u16string_view live_text;
  std::u16string_view live_error;
};

// In the order of ChangeKind.
const std::array<KindEntry, kChangeKinds.size()> kKinds = {{
    {Service::upload_editar_cliente, web::kClientRecord, web::kClientTags, kClientColumns, nullptr,
     db::ClientsChangedSince, &db::TDataModule1::Consulta,
     u"Se Enviaron Exitosamente los Datos Actualizados de los Cliente ", kSendingTitle,
     u"Se Enviaron Exitosamente los Datos Actualizados del Cliente ",
     u"error en la Busqueda de cliente"},
    {Service::upload_nuevo_cliente, web::kClientRecord, web::kClientTags, kClientColumns,
     db::ClientsAfterCode, nullptr, &db::TDataModule1::ConsultaVs,
     u"Se Enviaron Exitosamente los Nuevos Datos de los Cliente ", kSendingTitle,
     u"Se Enviaron exitosamente los Datos del Nuevo Cliente ",
     u"error en la Busqueda de nuevo cliente"},
    {Service::upload_nueva_reparacion, web::kRepairRecord, web::kNewRepairTags, kRepairColumns,
     db::RepairsAfterCode, nullptr, &db::TDataModule1::ConsultaSimple,
     u"Se Enviaron Exitosamente los Nuevos Datos de Reparaciones", kSendingTitle,
     u"Se Enviaron exitosamente los Datos de la Nueva Reparación ", kRepairsSearchError},
    {Service::upload_editar_reparacion, web::kRepairRecord, web::kRepairStateTags,
     kRepairStateColumns, nullptr, db::RepairsChangedSince, &db::TDataModule1::consultaRep,
     u"Se Enviaron Exitosamente los Datos Actualizados de Reparacion a traves de Reparacion",
     u"Fesko 15318 - Enviando Datos a Traves de Reparaciones", kRepairEditedText,
     kRepairsSearchError},
    {Service::upload_editar_reparacion, web::kRepairRecord, web::kBudgetStateTags,
     kBudgetStateColumns, nullptr, db::BudgetsChangedSince, &db::TDataModule1::ConsultaPresup,
     u"Se Enviaron Exitosamente los Datos Actualizados de Reparacion, a traves de Presupuestos",
     u"Fesko 15318 - Enviando Datos a Traves de Presupuestos", kRepairEditedText,
     kRepairsSearchError},
}};

std::size_t IndexOf(ChangeKind kind) {
  return static_cast<std::size_t>(kind);
}

const KindEntry& EntryOf(ChangeKind kind) {
  return kKinds[IndexOf(kind)];
}

void SelectAfter(ChangeKind kind, TMDOQuery& query, int code, const CodeGaps& gaps) {
  EntryOf(kind).select_new(query, code, gaps);
}

void SelectSince(ChangeKind kind, TMDOQuery& query, const DateAndTime& moment) {
  EntryOf(kind).select_changed(query, moment.Date, moment.Time);
}

// One result row as it goes out: the code in its first column and its document.
struct OutgoingRow {
  int code;
  WideString document;
};

OutgoingRow RowOf(TMDOQuery& query, ChangeKind kind) {
  const KindEntry& entry = EntryOf(kind);
  int code = query.Fields(0).AsInteger();
  std::vector<AnsiString> values;
  values.reserve(entry.columns.size());
  for (int column : entry.columns) values.emplace_back(query.FieldText(column));
  return {code, web::RecordDocument(web::BuildRecord(entry.record, entry.tags, values))};
}

// Adds a document to its code's digest; a code's digest covers all its documents in order.
void AddToDigest(std::map<int, std::size_t>& digests, const OutgoingRow& row) {
  std::size_t document = std::hash<std::u16string>{}(row.document);
  auto [at, fresh] = digests.try_emplace(row.code, document);
  if (!fresh) at->second = at->second * 1099511628211u ^ document;
}

// The marker of a kind of new rows as a pass moves it. Codes are handed out before their insert
// commits, so a code the marker passes without a row may still come: it stays a gap, selected
// by every pass with the new rows, until its row is sent or the late-commit window is over.
struct NewRowMarker {
  NewRowMarker(int marker, CodeGaps stored) : code(marker), gaps(std::move(stored)) {
    gaps.KeepBelow(code);  // anything above the code is selected as new anyway
  }

  // Gaps first seen longer ago than the window are given up (a rolled-back insert or a deleted
  // row never fills them), but not the codes of rows this pass has found and is to send.
  void Expire(const std::set<int>& found, const DateAndTime& now) {
    gaps.DropSeenBefore(SecondsBefore(now, kLateCommitWindowSeconds), found);
  }

  // A code reached the web service: it leaves its gap, or the marker passes it and the codes
  // skipped on the way become a gap first seen now.
  void Sent(int sent, const DateAndTime& now) {
    if (sent <= code) {
      gaps.Remove(sent);
      return;
    }
    gaps.Add(code + 1, sent - 1, now);
    code = sent;
  }

  int code;
  CodeGaps gaps;
};

int ClampedInterval(int value, int milliseconds_per_unit) {
  if (value <= 0) return 0;
  if (value > INT_MAX / milliseconds_per_unit) return INT_MAX;
  return value * milliseconds_per_unit;
}

}  // namespace

int TSyncAgent::AccountNumber() {
  return StrToInt(host_.AccountText());
}

void TSyncAgent::SetPollMinutes(int minutes) {
  host_.SetPollInterval(ClampedInterval(minutes, 60000));
}

void TSyncAgent::Send(ChangeKind kind, const WideString& document) {
  try {
    web::OpenServicePort(EntryOf(kind).service, base_url_).Execute(AccountNumber(), document);
  } catch (...) {
    send_failed_ = true;
    throw;
  }
  WebAnswered();
}

void TSyncAgent::WebAnswered() {
  static constexpr std::u16string_view kWebBackTitle = u"Fesko 15318 - Servicio Web";
  static constexpr std::u16string_view kWebBackText = u"El servicio web responde de nuevo";
  if (!std::exchange(web_failing_, false)) return;
  host_.SetWebFailing(false);
  host_.ShowBalloon(WideString(kWebBackTitle), WideString(kWebBackText));
}

void TSyncAgent::ReportingOnce(const std::function<void()>& pass) {
  send_failed_ = false;
  try {
    pass();
  } catch (const std::exception& error) {
    if (!std::exchange(send_failed_, false)) throw;
    if (!std::exchange(web_failing_, true)) {
      host_.SetWebFailing(true);
      throw;
    }
    LogLine(error.what());
  }
}

void TSyncAgent::ReadSettings() {
  db::RunUnitOfWork(data_, {u"error en la busqueda de licencia", db::kQueryErrorCaption}, [&] {
    host_.SetAccountText(db::ReadAccountNumber(data_.Consulta));
    base_url_ = AnsiToWide(LowerAscii(db::ReadBaseUrl(data_.Consulta)));
    SetPollMinutes(db::ReadPollMinutes(data_.Consulta, host_.AccountText()));
  });
}

DateAndTime TSyncAgent::WindowStart(const DateAndTime& marker) const {
  DateAndTime start = SecondsBefore(marker, kLateCommitWindowSeconds);
  // Rows changed before this run's first-run seeding were never to be sent.
  if (seeded_ && Earlier(start, *seeded_)) return Earlier(marker, *seeded_) ? marker : *seeded_;
  return start;
}

void TSyncAgent::CatchUp() {
  Busy busy(busy_);
  ReportingOnce([this] { CatchUpPass(); });
}

void TSyncAgent::CatchUpPass() {
  SyncMarkers markers;
  {
    TMarkerFile file;
    if (!file.HoldsAnyMarker()) {
      // First run: only what changes from now on is sent. Its database errors are not the
      // catch-up's to report; they end start-up's sync like any other error.
      SyncMarkers seeded;
      db::RunUnitOfWork(data_, [&] {
        DateAndTime now = db::ReadServerMoment(data_.consultaestado);
        int max_client = db::MaxClientCode(data_.consultaestado);
        int max_repair = db::MaxRepairCode(data_.consultaestado);
        seeded = SyncMarkers::All(max_client, max_repair, now);
      });
      file.Write(seeded);
      seeded_ = seeded.client_moment;
    }
    markers = file.Read();
  }

  std::array<Digests, kChangeKinds.size()> sent;
  std::array<std::set<int>, kChangeKinds.size()> new_codes;
  DateAndTime moment;
  int new_client_code = 0, new_repair_code = 0;
  bool stopped = false;
  bool done =
      db::RunUnitOfWork(data_, {u"erroe en la busqueda de clientes", db::kQueryErrorCaption}, [&] {
        // The server's moment before anything is selected: every change stamped after it is
        // left for the next pass or the live uploads, none is skipped.
        moment = db::ReadServerMoment(data_.consultaestado);
        for (ChangeKind kind : kChangeKinds) {
          TMDOQuery& query = data_.*EntryOf(kind).catch_up_query;
          if (IsNewKind(kind)) {
            SelectAfter(kind, query, markers.Code(kind), markers.Gaps(kind));
          } else {
            SelectSince(kind, query, WindowStart(markers.Moment(kind)));
          }
        }
        new_client_code = db::MaxClientCode(data_.consultaestado);
        new_repair_code = db::MaxRepairCode(data_.consultaestado);
        for (ChangeKind kind : kChangeKinds) {
          TMDOQuery& query = data_.*EntryOf(kind).catch_up_query;
          if (query.IsEmpty()) continue;
          for (query.First(); !query.Eof(); query.Next()) {
            // A stop signal ends the pass between two calls; the markers stay where they were.
            if ((stopped = StopRequested())) return;
            OutgoingRow row = RowOf(query, kind);
            Send(kind, row.document);
            if (IsNewKind(kind)) {
              new_codes[IndexOf(kind)].insert(row.code);
            } else {
              AddToDigest(sent[IndexOf(kind)], row);
            }
          }
          host_.ShowBalloon(WideString(kSendingTitle), WideString(EntryOf(kind).catch_up_text));
        }
      });
  if (!done || stopped) return;

  sent_ = std::move(sent);
  SyncMarkers moved = SyncMarkers::All(new_client_code, new_repair_code, moment);
  for (ChangeKind kind : {ChangeKind::NewClients, ChangeKind::NewRepairs}) {
    NewRowMarker marker(markers.Code(kind), markers.Gaps(kind));
    const std::set<int>& codes = new_codes[IndexOf(kind)];
    marker.Expire(codes, moment);
    for (int code : codes) marker.Sent(code, moment);
    // The marker takes the highest code there is, as it always did, even below the old one.
    marker.gaps.KeepBelow(moved.Code(kind));
    moved.Gaps(kind) = std::move(marker.gaps);
  }
  TMarkerFile().Write(moved);
}

// ---- Live uploads --------------------------------------------------------------------------

void TSyncAgent::LivePass(ChangeKind kind) {
  Busy busy(busy_);
  ReportingOnce([this, kind] {
    if (IsNewKind(kind)) {
      SendNewRows(kind);
    } else {
      SendChangedRows(kind);
    }
  });
}

void TSyncAgent::Sweep() {
  // A lost database was reported by the pass that met it; asking again would only fail again.
  if (busy_ > 0 || data_.connection_lost) return;
  for (ChangeKind kind : kChangeKinds) {
    if (StopRequested() || data_.connection_lost) return;
    LivePass(kind);
  }
}

void TSyncAgent::SendNewRows(ChangeKind kind) {
  const KindEntry& entry = EntryOf(kind);
  NewRowMarker marker = [kind] {
    TMarkerFile file;
    return NewRowMarker(file.ReadCode(kind), file.ReadGaps(kind));
  }();
  const CodeGaps stored = marker.gaps;
  std::vector<OutgoingRow> uploads;
  DateAndTime now;
  bool read = db::RunUnitOfWork(data_, {entry.live_error, kLiveErrorCaption}, [&] {
    now = db::ReadServerMoment(data_.ConsultaSimple);
    TMDOQuery& query = data_.Consulta;
    SelectAfter(kind, query, marker.code, marker.gaps);
    for (query.First(); !query.Eof(); query.Next()) uploads.push_back(RowOf(query, kind));
  });
  if (!read) return;
  std::set<int> found;
  for (const OutgoingRow& row : uploads) found.insert(row.code);
  marker.Expire(found, now);
  if (uploads.empty()) {
    if (marker.gaps != stored) TMarkerFile().WriteCode(kind, marker.code, marker.gaps);
    return;
  }
  // Lowest code first, so the marker can follow each call and a failure keeps exactly what
  // was sent. A repair with several budgets has several rows; its code is passed only after
  // the last of them.
  std::stable_sort(uploads.begin(), uploads.end(),
                   [](const OutgoingRow& a, const OutgoingRow& b) { return a.code < b.code; });
  for (std::size_t i = 0; i < uploads.size(); ++i) {
    if (StopRequested()) return;
    Send(kind, uploads[i].document);
    if (i + 1 == uploads.size() || uploads[i + 1].code != uploads[i].code) {
      marker.Sent(uploads[i].code, now);
      TMarkerFile().WriteCode(kind, marker.code, marker.gaps);
    }
  }
  host_.ShowBalloon(WideString(entry.live_title), WideString(entry.live_text));
}

void TSyncAgent::SendChangedRows(ChangeKind kind) {
  const KindEntry& entry = EntryOf(kind);
  Digests& sent = sent_[IndexOf(kind)];
  DateAndTime since = TMarkerFile().ReadMoment(kind);
  DateAndTime window_start = WindowStart(since);
  std::vector<OutgoingRow> window, fresh;
  DateAndTime moment;
  bool read = db::RunUnitOfWork(data_, {entry.live_error, kLiveErrorCaption}, [&] {
    moment = db::ReadServerMoment(data_.ConsultaSimple);
    TMDOQuery& query = data_.Consulta;
    auto read_rows = [&](const DateAndTime& from, std::vector<OutgoingRow>& rows) {
      SelectSince(kind, query, from);
      for (query.First(); !query.Eof(); query.Next()) rows.push_back(RowOf(query, kind));
    };
    read_rows(since, fresh);
    if (Earlier(window_start, since)) read_rows(window_start, window);
  });
  if (!read) return;

  // Every row changed since the marker goes out. Of the codes found only before it, inside the
  // window, those whose documents differ from what was last sent committed late: they go first.
  Digests now, fresh_digests;
  for (const OutgoingRow& row : window) AddToDigest(now, row);
  for (const OutgoingRow& row : fresh) AddToDigest(fresh_digests, row);
  std::vector<const OutgoingRow*> uploads;
  for (const OutgoingRow& row : window) {
    if (fresh_digests.contains(row.code)) continue;
    auto last = sent.find(row.code);
    if (last == sent.end() || last->second != now[row.code]) uploads.push_back(&row);
  }
  for (const OutgoingRow& row : fresh) uploads.push_back(&row);
  if (uploads.empty()) return;
  for (const OutgoingRow* row : uploads) {
    if (StopRequested()) return;
    Send(kind, row->document);
  }
  // What is remembered is what the window holds now, so the digests never outgrow it.
  for (const auto& [code, digest] : fresh_digests) now[code] = digest;
  sent = std::move(now);
  host_.ShowBalloon(WideString(entry.live_title), WideString(entry.live_text));
  TMarkerFile().WriteMoment(kind, moment);
}

// ---- Budget-state poll ---------------------------------------------------------------------

void TSyncAgent::ReadPollSettings() {
  db::RunUnitOfWork(
      data_, {u"error en la busqueda del tiempo de actualizacion", db::kQueryErrorCaption}, [&] {
        host_.SetAccountText(db::ReadAccountNumber(data_.Consulta));
        SetPollMinutes(db::ReadPollMinutes(data_.Consulta, host_.AccountText()));
      });
}

void TSyncAgent::Poll() {
  static constexpr std::u16string_view kUpdateError = u"error en la actualizacion de presupuestos";
  static constexpr std::u16string_view kUpdateCaption = db::kQueryErrorCaption;
  // Budget states fetched while the database is lost could not be written, and the web
  // service hands each out only once.
  if (data_.connection_lost) return;
  Busy busy(busy_);
  WideString reply;
  try {
    reply = web::OpenServicePort(Service::download, base_url_).Execute(AccountNumber());
    WebAnswered();
  } catch (const std::exception&) {
    // The web service may be away for a while; the next tick asks again.
  }
  std::vector<web::BudgetStateChange> changes = web::ScanDownloadReply(std::move(reply));
  if (changes.empty()) return;

  // A pair that cannot be applied or re-sent is skipped; the others go on. A code without
  // budgets here updates nothing: there is no repair to re-send, and nothing was applied.
  int applied = 0;
  bool done = db::RunGuardedSteps(
      data_, {kUpdateError, kUpdateCaption}, changes.size(), [&](std::size_t i) {
        const web::BudgetStateChange& change = changes[i];
        const AnsiString code = WideToAnsi(change.code);
        if (db::SetBudgetState(data_.Consulta, code, WideToAnsi(change.state)) <= 0) return;
        ++applied;
        // Re-read in the same transaction, so the document carries the new state.
        db::RepairStateByRepair(data_.ConsultaVs, StrToInt(code));
        WideString document = web::RecordDocument(
            web::BuildRecord(web::kRepairRecord, web::kRepairStateTags, data_.ConsultaVs));
        web::OpenServicePort(Service::upload_editar_reparacion, base_url_)
            .Execute(AccountNumber(), document);
      });
  if (done && applied > 0) {
    host_.ShowBalloon(u"Fesko 15318 - Actualización Exitosa",
                      u"Se Actualizaron con Exito los Datos de Presupuestos");
  }
}

}  // namespace fesko
