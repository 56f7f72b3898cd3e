#include "agent/LivePasses.h"

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "agent/StopSignals.h"
#include "base/Moments.h"
#include "database/MDOErrors.h"
#include "database/UnitOfWork.h"
#include "database/WorkshopQueries.h"

namespace fesko {

void TLivePasses::Pass(ChangeKind kind) {
  if (IsNewKind(kind)) {
    SendNewRows(kind);
  } else {
    SendChangedRows(kind);
  }
}

void TLivePasses::SendNewRows(ChangeKind kind) {
  const KindFacts& facts = FactsOf(kind);
  NewRowMarker marker = [kind] {
    TMarkerFile file;
    return NewRowMarker(file.ReadCode(kind), file.ReadGaps(kind));
  }();
  const CodeGaps stored = marker.gaps;
  std::vector<OutgoingRow> uploads;
  DateAndTime now;
  bool read = db::RunUnitOfWork(data_, {facts.live_error, db::kQueryErrorCaptionCapitalised}, [&] {
    now = db::ReadServerMoment(data_.ConsultaSimple);
    SelectAfter(kind, data_.Consulta, marker.code, marker.gaps);
    ReadRows(kind, data_.Consulta, uploads);
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
    web_.Send(facts.service, uploads[i].document);
    if (i + 1 == uploads.size() || uploads[i + 1].code != uploads[i].code) {
      marker.Sent(uploads[i].code, now);
      TMarkerFile().WriteCode(kind, marker.code, marker.gaps);
    }
  }
  host_.ShowBalloon(WideString(facts.live_title), WideString(facts.live_text));
}

void TLivePasses::SendChangedRows(ChangeKind kind) {
  const KindFacts& facts = FactsOf(kind);
  Digests& sent = window_.sent[IndexOf(kind)];
  DateAndTime since = TMarkerFile().ReadMoment(kind);
  std::vector<OutgoingRow> window, fresh;
  DateAndTime moment;
  bool read = db::RunUnitOfWork(data_, {facts.live_error, db::kQueryErrorCaptionCapitalised}, [&] {
    moment = db::ReadServerMoment(data_.ConsultaSimple);
    SelectSince(kind, data_.Consulta, since);
    ReadRows(kind, data_.Consulta, fresh);
    DateAndTime window_start = window_.Start(since, moment);
    if (Earlier(window_start, since)) {
      SelectSince(kind, data_.Consulta, window_start);
      ReadRows(kind, data_.Consulta, window);
    }
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
  // A marker ahead of the server's clock comes back to it even when nothing goes out.
  if (uploads.empty() && !Earlier(moment, since)) return;
  for (const OutgoingRow* row : uploads) {
    if (StopRequested()) return;
    web_.Send(facts.service, row->document);
  }
  // What is remembered is what the window holds now, so the digests never outgrow it.
  for (const auto& [code, digest] : fresh_digests) now[code] = digest;
  sent = std::move(now);
  if (!uploads.empty()) {
    host_.ShowBalloon(WideString(facts.live_title), WideString(facts.live_text));
  }
  TMarkerFile().WriteMoment(kind, moment);
}

}  // namespace fesko
