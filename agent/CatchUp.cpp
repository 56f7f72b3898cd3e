#include "agent/CatchUp.h"

#include <set>
#include <utility>
#include <vector>

#include "agent/StopSignals.h"
#include "database/MDOErrors.h"
#include "database/UnitOfWork.h"
#include "database/WorkshopQueries.h"

namespace fesko {

SyncMarkers TCatchUp::ReadMarkers() {
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
    window_.seeded = seeded.client_moment;
  }
  return file.Read();
}

void TCatchUp::Run() {
  SyncMarkers markers = ReadMarkers();

  std::array<std::vector<OutgoingRow>, kChangeKinds.size()> rows;
  DateAndTime moment;
  int new_client_code = 0, new_repair_code = 0;
  bool read =
      db::RunUnitOfWork(data_, {u"erroe en la busqueda de clientes", db::kQueryErrorCaption}, [&] {
        // The server's moment before anything is selected: every change stamped after it is
        // left for the next pass or the live uploads, none is skipped.
        moment = db::ReadServerMoment(data_.consultaestado);
        for (ChangeKind kind : kChangeKinds) {
          db::TMDOQuery& query = data_.*FactsOf(kind).catch_up_query;
          if (IsNewKind(kind)) {
            SelectAfter(kind, query, markers.Code(kind), markers.Gaps(kind));
          } else {
            SelectSince(kind, query, window_.Start(markers.Moment(kind), moment));
          }
        }
        new_client_code = db::MaxClientCode(data_.consultaestado);
        new_repair_code = db::MaxRepairCode(data_.consultaestado);
        for (ChangeKind kind : kChangeKinds) {
          db::TMDOQuery& query = data_.*FactsOf(kind).catch_up_query;
          if (!query.IsEmpty()) ReadRows(kind, query, rows[IndexOf(kind)]);
        }
      });
  if (!read) return;

  std::array<Digests, kChangeKinds.size()> sent;
  std::array<std::set<int>, kChangeKinds.size()> new_codes;
  for (ChangeKind kind : kChangeKinds) {
    if (rows[IndexOf(kind)].empty()) continue;
    for (const OutgoingRow& row : rows[IndexOf(kind)]) {
      // A stop signal ends the pass between two calls; the markers stay where they were.
      if (StopRequested()) return;
      web_.Send(FactsOf(kind).service, row.document);
      if (IsNewKind(kind)) {
        new_codes[IndexOf(kind)].insert(row.code);
      } else {
        AddToDigest(sent[IndexOf(kind)], row);
      }
    }
    host_.ShowBalloon(WideString(kSendingTitle), WideString(FactsOf(kind).catch_up_text));
  }

  window_.sent = std::move(sent);
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

}  // namespace fesko
