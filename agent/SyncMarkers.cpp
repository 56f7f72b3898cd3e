#include "agent/SyncMarkers.h"

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/Moments.h"

namespace fesko {
namespace {

// Times are always written so; reading also takes what the long time format once wrote.
constexpr std::string_view kMarkerTimeFormat = "hh:mm:ss";

[[noreturn]] void RaiseNoSuchMarker() {
  throw std::logic_error("a change kind without a marker of that type");
}

const MarkerPlace& CodePlace(ChangeKind kind) {
  if (!IsNewKind(kind)) RaiseNoSuchMarker();
  return FactsOf(kind).marker;
}

const MarkerPlace& MomentPlace(ChangeKind kind) {
  if (IsNewKind(kind)) RaiseNoSuchMarker();
  return FactsOf(kind).marker;
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
  for (const KindFacts& facts : AllKindFacts()) {
    const MarkerPlace& place = facts.marker;
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

NewRowMarker::NewRowMarker(int marker, CodeGaps stored) : code(marker), gaps(std::move(stored)) {
  gaps.KeepBelow(code);  // anything above the code is selected as new anyway
}

void NewRowMarker::Expire(const std::set<int>& found, const DateAndTime& now) {
  gaps.SeenNoLaterThan(now);
  gaps.DropSeenBefore(SecondsBefore(now, kLateCommitWindowSeconds), found);
}

void NewRowMarker::Sent(int sent, const DateAndTime& now) {
  if (sent <= code) {
    gaps.Remove(sent);
    return;
  }
  gaps.Add(code + 1, sent - 1, now);
  code = sent;
}

}  // namespace fesko
