#include "agent/SyncAgent.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <functional>
#include <span>
#include <tuple>

#include "base/ConfigFile.h"
#include "base/TextHelpers.h"
#include "database/MDOErrors.h"
#include "database/WorkshopQueries.h"
#include "web/RecordDocument.h"
#include "web/Services.h"

namespace fesko {
namespace {

using db::TMDOQuery;
using web::Service;

// Times are always written so; reading also takes what the long time format once wrote.
constexpr std::string_view kMarkerTimeFormat = "hh:mm:ss";

constexpr std::u16string_view kSendingTitle = u"Fesko 15318 - Enviando Datos";

// The markers in config.ini. Names are matched without regard to case, so each entry has one
// spelling here whichever spelling older files use.
struct CodeMarker {
  const char* section;
  const char* key;
};
struct MomentMarker {
  const char* section;
  const char* date_key;
  const char* time_key;
};
constexpr CodeMarker kClientCode{"ultimo_cliente", "cliente"};
constexpr MomentMarker kClientMoment{"fecha_actualizacion_cliente", "Fecha", "Hora"};
constexpr CodeMarker kRepairCode{"nueva_reparacion", "codigo"};
constexpr MomentMarker kRepairMoment{"nueva_reparacion", "fecha", "hora"};
constexpr MomentMarker kBudgetMoment{"presupuesto", "fecha", "hora"};

int ReadCode(const TIniFile* ini, const CodeMarker& marker) {
  return StrToInt(ReadConfigString(ini, marker.section, marker.key));
}

DateAndTime ReadMoment(const TIniFile* ini, const MomentMarker& marker) {
  return {StrToDate(ReadConfigString(ini, marker.section, marker.date_key)),
          StrToTime(ReadConfigString(ini, marker.section, marker.time_key))};
}

// Whether config.ini holds any marker. Seeding writes every marker anew, so it is only for a
// file that holds none: a file that lost some of them must not skip what changed since the rest.
bool HoldsAnyMarker(const TIniFile* ini) {
  for (const CodeMarker& marker : {kClientCode, kRepairCode}) {
    if (!ReadConfigString(ini, marker.section, marker.key).empty()) return true;
  }
  for (const MomentMarker& marker : {kClientMoment, kRepairMoment, kBudgetMoment}) {
    if (!ReadConfigString(ini, marker.section, marker.date_key).empty() ||
        !ReadConfigString(ini, marker.section, marker.time_key).empty()) {
      return true;
    }
  }
  return false;
}

// Markers moved together are written together: one replacement of config.ini, all or none.
using MarkerWrites = std::vector<ConfigEntry>;

void AddCode(MarkerWrites& writes, const CodeMarker& marker, int code) {
  writes.push_back({marker.section, marker.key, std::to_string(code)});
}

void AddMoment(MarkerWrites& writes, const MomentMarker& marker, const DateAndTime& moment) {
  writes.push_back({marker.section, marker.date_key, DateToStr(moment.Date)});
  writes.push_back({marker.section, marker.time_key, FormatTime(kMarkerTimeFormat, moment.Time)});
}

void WriteCode(const TIniFile* ini, const CodeMarker& marker, int code) {
  MarkerWrites writes;
  AddCode(writes, marker, code);
  WriteConfigStrings(ini, writes);
}

void WriteMoment(const TIniFile* ini, const MomentMarker& marker, const DateAndTime& moment) {
  MarkerWrites writes;
  AddMoment(writes, marker, moment);
  WriteConfigStrings(ini, writes);
}

// The five markers of a whole pass, in one replacement of config.ini.
void WriteAllMarkers(const TIniFile* ini, int client_code, int repair_code,
                     const DateAndTime& moment) {
  MarkerWrites writes;
  AddCode(writes, kClientCode, client_code);
  AddMoment(writes, kClientMoment, moment);
  AddCode(writes, kRepairCode, repair_code);
  AddMoment(writes, kRepairMoment, moment);
  AddMoment(writes, kBudgetMoment, moment);
  WriteConfigStrings(ini, writes);
}

// A workshop transaction stamps a row when it writes it, but the row shows only once the
// transaction commits, which can be after a pass has read the server's moment and moved its
// marker past the stamp. Every pass over changed rows therefore also looks this far back before
// its marker: the catch-up sends what it finds there once more, and the live passes send a row
// found only there when its documents differ from what they last sent for its code.
constexpr long kLateCommitWindowSeconds = 10 * 60;

long SecondsOf(const TimeOfDay& time) {
  return time.Hour * 3600L + time.Minute * 60L + time.Second;
}

bool Earlier(const DateAndTime& a, const DateAndTime& b) {
  auto key = [](const DateAndTime& m) {
    return std::tuple(m.Date.Year, m.Date.Month, m.Date.Day, SecondsOf(m.Time));
  };
  return key(a) < key(b);
}

DateAndTime SecondsBefore(const DateAndTime& moment, long seconds) {
  using namespace std::chrono;
  long second_of_day = SecondsOf(moment.Time) - seconds;
  long days_back = second_of_day >= 0 ? 0 : (-second_of_day + 86399) / 86400;
  second_of_day += days_back * 86400;
  year_month_day date{sys_days{year{moment.Date.Year} / moment.Date.Month / moment.Date.Day} -
                      days{days_back}};
  return {{static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
           static_cast<int>(static_cast<unsigned>(date.day()))},
          {static_cast<int>(second_of_day / 3600), static_cast<int>(second_of_day / 60 % 60),
           static_cast<int>(second_of_day % 60)}};
}

// Opens config.ini for one use and frees it whatever happens.
struct ConfigUse {
  ConfigUse() : file(OpenConfigFile(kConfigFileName)) {}
  ~ConfigUse() { FreeConfigFile(file); }
  std::unique_ptr<TIniFile> file;
};

// The columns of a result row that go into a document, in tag order.
using Columns = std::span<const int>;
constexpr std::array<int, 4> kClientColumns = {0, 1, 2, 3};
constexpr std::array<int, 14> kRepairColumns = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
constexpr std::array<int, 7> kRepairStateColumns = {0, 8, 9, 10, 11, 12, 13};
constexpr std::array<int, 6> kBudgetStateColumns = {0, 8, 9, 10, 11, 12};

WideString DocumentFromRow(TMDOQuery& query, std::string_view record, web::TagList tags,
                           Columns columns) {
  std::vector<AnsiString> values;
  values.reserve(columns.size());
  for (int column : columns) values.emplace_back(query.FieldText(column));
  return web::RecordDocument(web::BuildRecord(record, tags, values));
}

// One result row as it goes out: the code in its first column and its document.
struct Row {
  int code;
  WideString document;
};

Row RowOf(TMDOQuery& query, std::string_view record, web::TagList tags, Columns columns) {
  return {query.Fields(0).AsInteger(), DocumentFromRow(query, record, tags, columns)};
}

// Adds a document to its code's digest; a code's digest covers all its documents in order.
void AddToDigest(std::map<int, std::size_t>& digests, const Row& row) {
  std::size_t document = std::hash<std::u16string>{}(row.document);
  auto [at, fresh] = digests.try_emplace(row.code, document);
  if (!fresh) at->second = at->second * 1099511628211u ^ document;
}

// One kind of change: what selects it, which document carries it, where it goes.
struct ChangeKind {
  Service service;
  std::string_view record;
  web::TagList tags;
  Columns columns;
};

const ChangeKind kChangedClientKind{Service::upload_editar_cliente, web::kClientRecord,
                                    web::kClientTags, kClientColumns};
const ChangeKind kNewClientKind{Service::upload_nuevo_cliente, web::kClientRecord, web::kClientTags,
                                kClientColumns};
const ChangeKind kNewRepairKind{Service::upload_nueva_reparacion, web::kRepairRecord,
                                web::kNewRepairTags, kRepairColumns};
const ChangeKind kChangedRepairKind{Service::upload_editar_reparacion, web::kRepairRecord,
                                    web::kRepairStateTags, kRepairStateColumns};
const ChangeKind kChangedBudgetKind{Service::upload_editar_reparacion, web::kRepairRecord,
                                    web::kBudgetStateTags, kBudgetStateColumns};

// Blanks and control characters off both ends.
WideString TrimControls(std::u16string_view text) {
  return WideString(Trim(text));
}

// 1-based position of the first occurrence, 0 when absent.
long Pos(std::u16string_view needle, std::u16string_view text) {
  auto at = text.find(needle);
  return at == std::u16string_view::npos ? 0 : static_cast<long>(at) + 1;
}

// `count` characters from the 1-based `start`; a start below 1 counts as 1.
std::u16string_view Copy(std::u16string_view text, long start, long count) {
  if (start < 1) start = 1;
  if (count <= 0 || start > static_cast<long>(text.size())) return {};
  return text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(count));
}

int ClampedInterval(int value, int milliseconds_per_unit) {
  if (value <= 0) return 0;
  if (value > INT_MAX / milliseconds_per_unit) return INT_MAX;
  return value * milliseconds_per_unit;
}

}  // namespace

std::vector<BudgetStateChange> ScanDownloadReply(WideString reply) {
  static constexpr std::u16string_view kError = u"<Error>";
  static constexpr std::u16string_view kErrorEnd = u"</Error>";
  static constexpr std::u16string_view kOrden = u"<Orden>";
  static constexpr std::u16string_view kOrdenEnd = u"</Orden>";
  static constexpr std::u16string_view kEstado = u"<Estado>";
  static constexpr std::u16string_view kEstadoEnd = u"</Estado>";

  std::vector<BudgetStateChange> changes;
  long p = Pos(kError, reply), q = Pos(kErrorEnd, reply);
  if (reply.empty() || !TrimControls(Copy(reply, p + 7, q - p - 7)).empty() ||
      Pos(kOrden, reply) == 0) {
    return changes;
  }
  while (true) {
    long o = Pos(kOrden, reply), c = Pos(kOrdenEnd, reply);
    long e = Pos(kEstado, reply), f = Pos(kEstadoEnd, reply);
    // A pair is "<Orden>", "</Orden>", "<Estado>", "</Estado>" in that order; anything else
    // would remove nothing and find the same tags again, so the scan ends there.
    if (!(o > 0 && c > o && e > c && f > e)) break;
    changes.push_back({TrimControls(Copy(reply, o + 7, c - (o + 7))),
                       TrimControls(Copy(reply, e + 8, f - (e + 8)))});
    reply.erase(static_cast<std::size_t>(o - 1), static_cast<std::size_t>(f - o + 9));
    if (Pos(kOrden, reply) == 0) break;
  }
  return changes;
}

int TSyncAgent::AccountNumber() {
  return StrToInt(host_.AccountText());
}

void TSyncAgent::SetPollMinutes(int minutes) {
  host_.SetPollInterval(ClampedInterval(minutes, 60000));
}

void TSyncAgent::ReadSettings() {
  try {
    RollbackIfActive(data_);
    data_.transaccion.StartTransaction();
    host_.SetAccountText(db::ReadAccountNumber(data_.Consulta));
    base_url_ = AnsiToWide(LowerAscii(db::ReadBaseUrl(data_.Consulta)));
    SetPollMinutes(db::ReadPollMinutes(data_.Consulta, host_.AccountText()));
    data_.transaccion.Commit();
  } catch (const db::EMDOError& error) {
    data_.transaccion.Rollback();
    db::ShowDatabaseError(error, u"error en la busqueda de licencia",
                          WideString(db::kQueryErrorCaption));
  }
}

DateAndTime TSyncAgent::WindowStart(const DateAndTime& marker) const {
  DateAndTime start = SecondsBefore(marker, kLateCommitWindowSeconds);
  // Rows changed before this run's first-run seeding were never to be sent.
  if (seeded_ && Earlier(start, *seeded_)) return Earlier(marker, *seeded_) ? marker : *seeded_;
  return start;
}

void TSyncAgent::CatchUp() {
  static constexpr std::u16string_view kChangedClientsText =
      u"Se Enviaron Exitosamente los Datos Actualizados de los Cliente ";
  static constexpr std::u16string_view kNewClientsText =
      u"Se Enviaron Exitosamente los Nuevos Datos de los Cliente ";
  static constexpr std::u16string_view kNewRepairsText =
      u"Se Enviaron Exitosamente los Nuevos Datos de Reparaciones";
  static constexpr std::u16string_view kChangedRepairsText =
      u"Se Enviaron Exitosamente los Datos Actualizados de Reparacion a traves de Reparacion";
  static constexpr std::u16string_view kChangedBudgetsText =
      u"Se Enviaron Exitosamente los Datos Actualizados de Reparacion, a traves de Presupuestos";

  DateAndTime client_moment, repair_moment, budget_moment;
  int client_code = 0, repair_code = 0;
  {
    ConfigUse ini;
    AnsiString client_marker =
        ReadConfigString(ini.file.get(), kClientCode.section, kClientCode.key);
    if (client_marker.empty() && !HoldsAnyMarker(ini.file.get())) {
      // First run: only what changes from now on is sent. Its database errors are not the
      // catch-up's to report; they end start-up's sync like any other error.
      RollbackIfActive(data_);
      data_.transaccion.StartTransaction();
      DateAndTime now = db::ReadServerMoment(data_.consultaestado);
      int max_client = db::MaxClientCode(data_.consultaestado);
      int max_repair = db::MaxRepairCode(data_.consultaestado);
      data_.transaccion.Commit();
      WriteAllMarkers(ini.file.get(), max_client, max_repair, now);
      client_marker = std::to_string(max_client);
      seeded_ = now;
    }
    client_code = StrToInt(client_marker);
    client_moment = ReadMoment(ini.file.get(), kClientMoment);
    repair_code = ReadCode(ini.file.get(), kRepairCode);
    repair_moment = ReadMoment(ini.file.get(), kRepairMoment);
    budget_moment = ReadMoment(ini.file.get(), kBudgetMoment);
  }

  struct Set {
    TMDOQuery& query;
    const ChangeKind& kind;
    std::u16string_view balloon;
    int changed;  // the changed kind whose digests it fills, -1 for new rows
  };
  std::array<Set, 5> sets = {{
      {data_.Consulta, kChangedClientKind, kChangedClientsText, 0},
      {data_.ConsultaVs, kNewClientKind, kNewClientsText, -1},
      {data_.ConsultaSimple, kNewRepairKind, kNewRepairsText, -1},
      {data_.consultaRep, kChangedRepairKind, kChangedRepairsText, 1},
      {data_.ConsultaPresup, kChangedBudgetKind, kChangedBudgetsText, 2},
  }};
  std::array<Digests, 3> sent;
  DateAndTime moment;
  int new_client_code = 0, new_repair_code = 0;
  try {
    RollbackIfActive(data_);
    data_.transaccion.StartTransaction();
    // The server's moment before anything is selected: every change stamped after it is left
    // for the next pass or the live uploads, none is skipped.
    moment = db::ReadServerMoment(data_.consultaestado);
    client_moment = WindowStart(client_moment);
    repair_moment = WindowStart(repair_moment);
    budget_moment = WindowStart(budget_moment);
    db::ClientsChangedSince(data_.Consulta, client_moment.Date, client_moment.Time);
    db::ClientsAfterCode(data_.ConsultaVs, client_code);
    db::RepairsAfterCode(data_.ConsultaSimple, repair_code);
    db::RepairsChangedSince(data_.consultaRep, repair_moment.Date, repair_moment.Time);
    db::BudgetsChangedSince(data_.ConsultaPresup, budget_moment.Date, budget_moment.Time);
    new_client_code = db::MaxClientCode(data_.consultaestado);
    new_repair_code = db::MaxRepairCode(data_.consultaestado);
    for (Set& set : sets) {
      if (set.query.IsEmpty()) continue;
      for (set.query.First(); !set.query.Eof(); set.query.Next()) {
        Row row = RowOf(set.query, set.kind.record, set.kind.tags, set.kind.columns);
        web::OpenServicePort(set.kind.service, base_url_).Execute(AccountNumber(), row.document);
        if (set.changed >= 0) AddToDigest(sent[static_cast<std::size_t>(set.changed)], row);
      }
      host_.ShowBalloon(WideString(kSendingTitle), WideString(set.balloon));
    }
    data_.transaccion.Commit();
  } catch (const db::EMDOError& error) {
    data_.transaccion.Rollback();
    db::ShowDatabaseError(error, u"erroe en la busqueda de clientes",
                          WideString(db::kQueryErrorCaption));
    return;
  }

  sent_ = std::move(sent);
  ConfigUse ini;
  WriteAllMarkers(ini.file.get(), new_client_code, new_repair_code, moment);
}

// ---- Live uploads --------------------------------------------------------------------------

namespace {

constexpr std::u16string_view kLiveErrorCaption = db::kQueryErrorCaptionCapitalised;
constexpr std::u16string_view kRepairsSearchError = u"error en la Busqueda de Reparaciones";
constexpr std::u16string_view kRepairEditedText =
    u"Se Enviaron exitosamente los Datos de la Reparación Editada";

struct NewKind {
  const ChangeKind& kind;
  const CodeMarker& marker;
  void (*select)(TMDOQuery&, int);
  std::u16string_view text;
  std::u16string_view error;
};

struct ChangedKind {
  const ChangeKind& kind;
  const MomentMarker& marker;
  void (*select)(TMDOQuery&, const CalendarDate&, const TimeOfDay&);
  std::u16string_view title;
  std::u16string_view text;
  std::u16string_view error;
};

const NewKind kNewClients{kNewClientKind, kClientCode, db::ClientsAfterCode,
                          u"Se Enviaron exitosamente los Datos del Nuevo Cliente ",
                          u"error en la Busqueda de nuevo cliente"};
const NewKind kNewRepairs{kNewRepairKind, kRepairCode, db::RepairsAfterCode,
                          u"Se Enviaron exitosamente los Datos de la Nueva Reparación ",
                          kRepairsSearchError};

const std::array<ChangedKind, 3> kChangedKinds = {{
    {kChangedClientKind, kClientMoment, db::ClientsChangedSince, kSendingTitle,
     u"Se Enviaron Exitosamente los Datos Actualizados del Cliente ",
     u"error en la Busqueda de cliente"},
    {kChangedRepairKind, kRepairMoment, db::RepairsChangedSince,
     u"Fesko 15318 - Enviando Datos a Traves de Reparaciones", kRepairEditedText,
     kRepairsSearchError},
    {kChangedBudgetKind, kBudgetMoment, db::BudgetsChangedSince,
     u"Fesko 15318 - Enviando Datos a Traves de Presupuestos", kRepairEditedText,
     kRepairsSearchError},
}};

}  // namespace

void TSyncAgent::NewClients() {
  SendNewRows(true);
}
void TSyncAgent::NewRepairs() {
  SendNewRows(false);
}
void TSyncAgent::ChangedClients() {
  SendChangedRows(0);
}
void TSyncAgent::ChangedRepairs() {
  SendChangedRows(1);
}
void TSyncAgent::ChangedBudgets() {
  SendChangedRows(2);
}

void TSyncAgent::SendNewRows(bool clients) {
  const NewKind& kind = clients ? kNewClients : kNewRepairs;
  int marker;
  {
    ConfigUse ini;
    marker = ReadCode(ini.file.get(), kind.marker);
  }
  std::vector<Upload> uploads;
  try {
    RollbackIfActive(data_);
    data_.transaccion.StartTransaction();
    TMDOQuery& query = data_.Consulta;
    kind.select(query, marker);
    for (query.First(); !query.Eof(); query.Next()) {
      uploads.push_back(
          {query.Fields(0).AsInteger(),
           DocumentFromRow(query, kind.kind.record, kind.kind.tags, kind.kind.columns)});
    }
    data_.transaccion.Commit();
  } catch (const db::EMDOError& error) {
    data_.transaccion.Rollback();
    db::ShowDatabaseError(error, WideString(kind.error), WideString(kLiveErrorCaption));
    return;
  }
  if (uploads.empty()) return;
  // Lowest code first, so the marker can follow each call and a failure keeps exactly what
  // was sent. A repair with several budgets has several rows; its code is passed only after
  // the last of them.
  std::stable_sort(uploads.begin(), uploads.end(),
                   [](const Upload& a, const Upload& b) { return a.code < b.code; });
  for (std::size_t i = 0; i < uploads.size(); ++i) {
    web::OpenServicePort(kind.kind.service, base_url_)
        .Execute(AccountNumber(), uploads[i].document);
    if (i + 1 == uploads.size() || uploads[i + 1].code != uploads[i].code) {
      ConfigUse ini;
      WriteCode(ini.file.get(), kind.marker, uploads[i].code);
    }
  }
  host_.ShowBalloon(WideString(kSendingTitle), WideString(kind.text));
}

void TSyncAgent::SendChangedRows(int index) {
  const ChangedKind& kind = kChangedKinds[static_cast<std::size_t>(index)];
  Digests& sent = sent_[static_cast<std::size_t>(index)];
  DateAndTime since;
  {
    ConfigUse ini;
    since = ReadMoment(ini.file.get(), kind.marker);
  }
  DateAndTime window_start = WindowStart(since);
  std::vector<Row> window, fresh;
  DateAndTime moment;
  try {
    RollbackIfActive(data_);
    data_.transaccion.StartTransaction();
    moment = db::ReadServerMoment(data_.ConsultaSimple);
    TMDOQuery& query = data_.Consulta;
    auto read = [&](const DateAndTime& from, std::vector<Row>& rows) {
      kind.select(query, from.Date, from.Time);
      for (query.First(); !query.Eof(); query.Next()) {
        rows.push_back(RowOf(query, kind.kind.record, kind.kind.tags, kind.kind.columns));
      }
    };
    read(since, fresh);
    if (Earlier(window_start, since)) read(window_start, window);
    data_.transaccion.Commit();
  } catch (const db::EMDOError& error) {
    data_.transaccion.Rollback();
    db::ShowDatabaseError(error, WideString(kind.error), WideString(kLiveErrorCaption));
    return;
  }

  // Every row changed since the marker goes out. Of the codes found only before it, inside the
  // window, those whose documents differ from what was last sent committed late: they go first.
  Digests now, fresh_digests;
  for (const Row& row : window) AddToDigest(now, row);
  for (const Row& row : fresh) AddToDigest(fresh_digests, row);
  std::vector<const Row*> uploads;
  for (const Row& row : window) {
    if (fresh_digests.contains(row.code)) continue;
    auto last = sent.find(row.code);
    if (last == sent.end() || last->second != now[row.code]) uploads.push_back(&row);
  }
  for (const Row& row : fresh) uploads.push_back(&row);
  if (uploads.empty()) return;
  for (const Row* row : uploads) {
    web::OpenServicePort(kind.kind.service, base_url_).Execute(AccountNumber(), row->document);
  }
  // What is remembered is what the window holds now, so the digests never outgrow it.
  for (const auto& [code, digest] : fresh_digests) now[code] = digest;
  sent = std::move(now);
  host_.ShowBalloon(WideString(kind.title), WideString(kind.text));
  ConfigUse ini;
  WriteMoment(ini.file.get(), kind.marker, moment);
}

// ---- Budget-state poll ---------------------------------------------------------------------

void TSyncAgent::ReadPollSettings() {
  try {
    RollbackIfActive(data_);
    data_.transaccion.StartTransaction();
    host_.SetAccountText(db::ReadAccountNumber(data_.Consulta));
    SetPollMinutes(db::ReadPollMinutes(data_.Consulta, host_.AccountText()));
    data_.transaccion.Commit();
  } catch (const db::EMDOError& error) {
    data_.transaccion.Rollback();
    db::ShowDatabaseError(error, u"error en la busqueda del tiempo de actualizacion",
                          WideString(db::kQueryErrorCaption));
  }
}

void TSyncAgent::Poll() {
  static constexpr std::u16string_view kUpdateError = u"error en la actualizacion de presupuestos";
  static constexpr std::u16string_view kUpdateCaption = db::kQueryErrorCaption;
  WideString reply;
  try {
    reply = web::OpenServicePort(Service::download, base_url_).Execute(AccountNumber());
  } catch (const std::exception&) {
    // The web service may be away for a while; the next tick asks again.
  }
  std::vector<BudgetStateChange> changes = ScanDownloadReply(std::move(reply));
  if (changes.empty()) return;

  int applied = 0;
  try {
    RollbackIfActive(data_);
    data_.transaccion.StartTransaction();
  } catch (const db::EMDOError& error) {
    data_.transaccion.Rollback();
    db::ShowDatabaseError(error, WideString(kUpdateError), WideString(kUpdateCaption));
    return;
  }
  for (const BudgetStateChange& change : changes) {
    try {
      db::SetBudgetState(data_.Consulta, WideToAnsi(change.code), WideToAnsi(change.state));
      ++applied;
      // Re-read in the same transaction, so the document carries the new state.
      db::RepairStateByRepair(data_.ConsultaVs, StrToInt(WideToAnsi(change.code)));
      WideString document = web::RecordDocument(
          web::BuildRecord(web::kRepairRecord, web::kRepairStateTags, data_.ConsultaVs));
      web::OpenServicePort(Service::upload_editar_reparacion, base_url_)
          .Execute(AccountNumber(), document);
    } catch (const std::exception&) {
      // A pair that cannot be applied or re-sent is skipped; the others go on.
    }
  }
  try {
    data_.transaccion.Commit();
  } catch (const db::EMDOError& error) {
    data_.transaccion.Rollback();
    db::ShowDatabaseError(error, WideString(kUpdateError), WideString(kUpdateCaption));
    return;
  }
  if (applied > 0) {
    host_.ShowBalloon(u"Fesko 15318 - Actualización Exitosa",
                      u"Se Actualizaron con Exito los Datos de Presupuestos");
  }
}

}  // namespace fesko
