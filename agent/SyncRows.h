// The rows a pass sends: selected by their kind's marker, read into the documents that carry
// them, and what was last sent of the changed rows still inside the late-commit window.
#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <optional>
#include <vector>

#include "agent/SyncMarkers.h"
#include "base/TextKinds.h"
#include "database/MDOQuery.h"

namespace fesko {

// One result row as it goes out: the code in its first column and its document.
struct OutgoingRow {
  int code;
  WideString document;
};

// Rows of a new kind past its code or in its gaps, rows of a changed kind since the moment,
// selected into the query.
void SelectAfter(ChangeKind kind, db::TMDOQuery& query, int code, const CodeGaps& gaps);
void SelectSince(ChangeKind kind, db::TMDOQuery& query, const DateAndTime& moment);
// Every row left in the query's result, from its first, appended as the kind's documents.
void ReadRows(ChangeKind kind, db::TMDOQuery& query, std::vector<OutgoingRow>& rows);

// For each code of one changed kind, a digest of its documents in the order they went out.
using Digests = std::map<int, std::size_t>;
void AddToDigest(Digests& digests, const OutgoingRow& row);

// What the passes over changed rows remember between them.
struct LateCommitWindow {
  // What each changed kind last sent for the codes still inside the window (by kind; those of
  // new rows stay empty).
  std::array<Digests, kChangeKinds.size()> sent;
  // The moment the markers were first seeded, if this run did it.
  std::optional<DateAndTime> seeded;

  // Where a pass over changed rows starts to look, given its marker and the server's moment
  // read at the pass's start. A server moment earlier than the marker means the server's clock
  // went back: the rows stamped in the repeated time lie before the marker, so the pass looks
  // back from the server's moment instead.
  DateAndTime Start(const DateAndTime& marker, const DateAndTime& server_moment) const;
};

}  // namespace fesko
