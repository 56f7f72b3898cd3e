// The sync markers: how far each kind of change has been sent (a code for new rows, a server
// moment for changed rows; beside a code, the gaps it passed), read from and written to
// config.ini at the places the table of kinds names, and how a pass moves a marker of new rows.
#pragma once

#include <memory>
#include <set>

#include "agent/ChangeKinds.h"
#include "base/CodeGaps.h"
#include "base/ConfigFile.h"
#include "base/FormatSettings.h"

namespace fesko {

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

// A workshop transaction stamps a row when it writes it, but the row shows only once the
// transaction commits, which can be after a pass has read the server's moment and moved its
// marker past the stamp. Every pass over changed rows therefore also looks this far back before
// its marker: the catch-up sends what it finds there once more, and the live passes send a row
// found only there when its documents differ from what they last sent for its code. Gaps of new
// rows wait for their rows as long.
inline constexpr long kLateCommitWindowSeconds = 10 * 60;

// The marker of a kind of new rows as a pass moves it. Codes are handed out before their insert
// commits, so a code the marker passes without a row may still come: it stays a gap, selected
// by every pass with the new rows, until its row is sent or the late-commit window is over.
struct NewRowMarker {
  NewRowMarker(int marker, CodeGaps stored);

  // Gaps first seen longer ago than the window are given up (a rolled-back insert or a deleted
  // row never fills them), but not the codes of rows this pass has found and is to send. Gaps
  // first seen after `now`, before the server's clock went back, count as first seen now.
  void Expire(const std::set<int>& found, const DateAndTime& now);
  // A code reached the web service: it leaves its gap, or the marker passes it and the codes
  // skipped on the way become a gap first seen now.
  void Sent(int sent, const DateAndTime& now);

  int code;
  CodeGaps gaps;
};

}  // namespace fesko
