#include "agent/SyncRows.h"

#include <functional>
#include <string>

#include "base/Moments.h"
#include "web/RecordDocument.h"

namespace fesko {

void SelectAfter(ChangeKind kind, db::TMDOQuery& query, int code, const CodeGaps& gaps) {
  FactsOf(kind).select_new(query, code, gaps);
}

void SelectSince(ChangeKind kind, db::TMDOQuery& query, const DateAndTime& moment) {
  FactsOf(kind).select_changed(query, moment.Date, moment.Time);
}

void ReadRows(ChangeKind kind, db::TMDOQuery& query, std::vector<OutgoingRow>& rows) {
  const KindFacts& facts = FactsOf(kind);
  std::vector<AnsiString> values;
  for (query.First(); !query.Eof(); query.Next()) {
    int code = query.Fields(0).AsInteger();
    values.clear();
    for (int column : facts.columns) values.emplace_back(query.FieldText(column));
    rows.push_back({code, web::RecordDocument(web::BuildRecord(facts.record, facts.tags, values))});
  }
}

// A code's digest covers all its documents in order. Multiplying by the 64-bit FNV prime before
// each next hash is folded in spreads the digest so far over the whole word, so the same
// documents in another order, or one document twice, give another digest.
void AddToDigest(Digests& digests, const OutgoingRow& row) {
  constexpr std::size_t kFnvPrime = 1099511628211u;
  std::size_t document = std::hash<std::u16string>{}(row.document);
  auto [at, fresh] = digests.try_emplace(row.code, document);
  if (!fresh) at->second = at->second * kFnvPrime ^ document;
}

DateAndTime LateCommitWindow::Start(const DateAndTime& marker,
                                    const DateAndTime& server_moment) const {
  if (Earlier(server_moment, marker)) {
    return SecondsBefore(server_moment, kLateCommitWindowSeconds);
  }
  DateAndTime start = SecondsBefore(marker, kLateCommitWindowSeconds);
  // Rows changed before this run's first-run seeding were never to be sent, unless the clock
  // has gone back past the seeding since: the rows stamped before it may be new then.
  if (seeded && Earlier(start, *seeded) && !Earlier(server_moment, *seeded)) {
    return Earlier(marker, *seeded) ? marker : *seeded;
  }
  return start;
}

}  // namespace fesko
