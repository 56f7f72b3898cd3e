#include "agent/SyncMarkers.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace fesko {
namespace {

// Times are always written so; reading also takes what the long time format once wrote.
constexpr std::string_view kMarkerTimeFormat = "hh:mm:ss";

// Where each kind's marker stands in config.ini, in the order of ChangeKind: a code under one
// key, with its gaps under another, or a moment as a date and a time under two. Names are
// matched without regard to case, so each entry has one spelling here whichever spelling older
// files use. Files written before gaps were kept have no gaps key: that reads as no gaps.
struct MarkerPlace {
  const char* section;
  const char* key;       // the code, or the moment's date
  const char* time_key;  // the moment's time; none for a code
  const char* gaps_key;  // the code's gaps; none for a moment
};
constexpr std::array<MarkerPlace, kChangeKinds.size()> kPlaces = {{
    {"fecha_actualizacion_cliente", "Fecha", "Hora", nullptr},
    {"ultimo_cliente", "cliente", nullptr, "huecos"},
    {"nueva_reparacion", "codigo", nullptr, "huecos"},
    {"nueva_reparacion", "fecha", "hora", nullptr},
    {"presupuesto", "fecha", "hora", nullptr},
}};

[[noreturn]] void RaiseNoSuchMarker() {
  throw std::logic_error("a change kind without a marker of that type");
}

const MarkerPlace& CodePlace(ChangeKind kind) {
  if (!IsNewKind(kind)) RaiseNoSuchMarker();
  return kPlaces[static_cast<std::size_t>(kind)];
}

const MarkerPlace& MomentPlace(ChangeKind kind) {
  if (IsNewKind(kind)) RaiseNoSuchMarker();
  return kPlaces[static_cast<std::size_t>(kind)];
}

using MarkerWrites = std::vector<ConfigEntry>;

// The gaps key is written only where it holds gaps or held some, so that files without gaps
// stay as they were.
void AddCode(MarkerWrites& writes, const TIniFile* file, ChangeKind kind, int code,
             const CodeGaps& gaps) {
  const MarkerPlace& place = CodePlace(kind);
  writes.push_back({place.section, place.key, std::to_string(code)});
  if (!gaps.empty() || !ReadConfigText(file, place.section, place.gaps_key).empty()) {
    writes.push_back({place.section, place.gaps_key, gaps.Text()});
  }
}

void AddMoment(MarkerWrites& writes, ChangeKind kind, const DateAndTime& moment) {
  const MarkerPlace& place = MomentPlace(kind);
  writes.push_back({place.section, place.key, DateToStr(moment.Date)});
  writes.push_back({place.section, place.time_key, FormatTime(kMarkerTimeFormat, moment.Time)});
}

}  // namespace

int& SyncMarkers::Code(ChangeKind kind) {
  if (kind == ChangeKind::NewClients) return client_code;
  if (kind == ChangeKind::NewRepairs) return repair_code;
  RaiseNoSuchMarker();
}

CodeGaps& SyncMarkers::Gaps(ChangeKind kind) {
  if (kind == ChangeKind::NewClients) return client_gaps;
  if (kind == ChangeKind::NewRepairs) return repair_gaps;
  RaiseNoSuchMarker();
}

DateAndTime& SyncMarkers::Moment(ChangeKind kind) {
  if (kind == ChangeKind::ChangedClients) return client_moment;
  if (kind == ChangeKind::ChangedRepairs) return repair_moment;
  if (kind == ChangeKind::ChangedBudgets) return budget_moment;
  RaiseNoSuchMarker();
}

SyncMarkers SyncMarkers::All(int client_code, int repair_code, const DateAndTime& moment) {
  return {client_code, moment, repair_code, moment, moment, {}, {}};
}

TMarkerFile::TMarkerFile() : file_(OpenConfigFile(kConfigFileName)) {}

TMarkerFile::~TMarkerFile() {
  FreeConfigFile(file_);
}

bool TMarkerFile::HoldsAnyMarker() const {
  for (const MarkerPlace& place : kPlaces) {
    if (!ReadConfigString(file_.get(), place.section, place.key).empty() ||
        (place.time_key && !ReadConfigString(file_.get(), place.section, place.time_key).empty())) {
      return true;
    }
  }
  return false;
}

SyncMarkers TMarkerFile::Read() const {
  SyncMarkers markers;
  markers.client_code = ReadCode(ChangeKind::NewClients);
  markers.client_gaps = ReadGaps(ChangeKind::NewClients);
  markers.client_moment = ReadMoment(ChangeKind::ChangedClients);
  markers.repair_code = ReadCode(ChangeKind::NewRepairs);
  markers.repair_gaps = ReadGaps(ChangeKind::NewRepairs);
  markers.repair_moment = ReadMoment(ChangeKind::ChangedRepairs);
  markers.budget_moment = ReadMoment(ChangeKind::ChangedBudgets);
  return markers;
}

int TMarkerFile::ReadCode(ChangeKind kind) const {
  const MarkerPlace& place = CodePlace(kind);
  return StrToInt(ReadConfigString(file_.get(), place.section, place.key));
}

CodeGaps TMarkerFile::ReadGaps(ChangeKind kind) const {
  const MarkerPlace& place = CodePlace(kind);
  return CodeGaps::Parse(ReadConfigText(file_.get(), place.section, place.gaps_key));
}

DateAndTime TMarkerFile::ReadMoment(ChangeKind kind) const {
  const MarkerPlace& place = MomentPlace(kind);
  return {StrToDate(ReadConfigString(file_.get(), place.section, place.key)),
          StrToTime(ReadConfigString(file_.get(), place.section, place.time_key))};
}

void TMarkerFile::Write(const SyncMarkers& markers) const {
  MarkerWrites writes;
  AddCode(writes, file_.get(), ChangeKind::NewClients, markers.client_code, markers.client_gaps);
  AddMoment(writes, ChangeKind::ChangedClients, markers.client_moment);
  AddCode(writes, file_.get(), ChangeKind::NewRepairs, markers.repair_code, markers.repair_gaps);
  AddMoment(writes, ChangeKind::ChangedRepairs, markers.repair_moment);
  AddMoment(writes, ChangeKind::ChangedBudgets, markers.budget_moment);
  WriteConfigStrings(file_.get(), writes);
}

void TMarkerFile::WriteCode(ChangeKind kind, int code, const CodeGaps& gaps) const {
  MarkerWrites writes;
  AddCode(writes, file_.get(), kind, code, gaps);
  WriteConfigStrings(file_.get(), writes);
}

void TMarkerFile::WriteMoment(ChangeKind kind, const DateAndTime& moment) const {
  MarkerWrites writes;
  AddMoment(writes, kind, moment);
  WriteConfigStrings(file_.get(), writes);
}

}  // namespace fesko
