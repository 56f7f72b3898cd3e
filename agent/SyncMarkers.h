// The sync markers: where in config.ini each kind of change keeps how far it has been sent (a
// code for new rows, a server moment for changed rows; beside a code, the gaps it passed), and
// how they are read and written.
#pragma once

#include <array>
#include <memory>

#include "base/CodeGaps.h"
#include "base/ConfigFile.h"
#include "base/FormatSettings.h"

namespace fesko {

// The five kinds of change the sync sends, in the order the catch-up sends them. Each has a
// marker of its own: new clients and new repairs a code, the three changed kinds a moment.
enum class ChangeKind { ChangedClients, NewClients, NewRepairs, ChangedRepairs, ChangedBudgets };

inline constexpr std::array<ChangeKind, 5> kChangeKinds = {
    ChangeKind::ChangedClients, ChangeKind::NewClients, ChangeKind::NewRepairs,
    ChangeKind::ChangedRepairs, ChangeKind::ChangedBudgets};

// Whether the kind's marker is a code (new rows) rather than a moment (changed rows).
constexpr bool IsNewKind(ChangeKind kind) {
  return kind == ChangeKind::NewClients || kind == ChangeKind::NewRepairs;
}

// The five markers as values.
struct SyncMarkers {
  int client_code = 0;
  DateAndTime client_moment;
  int repair_code = 0;
  DateAndTime repair_moment;
  DateAndTime budget_moment;
  // The codes below each code marker still waited for.
  CodeGaps client_gaps;
  CodeGaps repair_gaps;

  // The marker of a kind of new rows (its code and its gaps), and of a kind of changed rows;
  // any other kind raises std::logic_error.
  int& Code(ChangeKind kind);
  CodeGaps& Gaps(ChangeKind kind);
  DateAndTime& Moment(ChangeKind kind);

  // Every marker at the same place: every code and every moment, and no gaps.
  static SyncMarkers All(int client_code, int repair_code, const DateAndTime& moment);
};

// config.ini opened for one use of the markers and freed whatever happens. A missing file is
// reported in a box as it is opened; its markers then read empty and writing them raises.
class TMarkerFile {
 public:
  TMarkerFile();
  ~TMarkerFile();
  TMarkerFile(const TMarkerFile&) = delete;
  TMarkerFile& operator=(const TMarkerFile&) = delete;

  // Whether the file holds any marker, or a date or a time of one. Seeding writes every
  // marker anew, so it is only for a file that holds none: a file that lost some of them must
  // not skip what changed since the rest.
  bool HoldsAnyMarker() const;

  // All five, client code first; the first that is not a code, a list of gaps or a moment
  // raises EConvertError. No gaps stored means none.
  SyncMarkers Read() const;
  int ReadCode(ChangeKind kind) const;
  CodeGaps ReadGaps(ChangeKind kind) const;
  DateAndTime ReadMoment(ChangeKind kind) const;

  // Markers moved together are written together: one replacement of config.ini, all or none.
  // A code goes with its gaps.
  void Write(const SyncMarkers& markers) const;
  void WriteCode(ChangeKind kind, int code, const CodeGaps& gaps) const;
  void WriteMoment(ChangeKind kind, const DateAndTime& moment) const;

 private:
  std::unique_ptr<TIniFile> file_;
};

}  // namespace fesko
