#include "database/MDOBlob.h"

#include <algorithm>
#include <array>

#include "database/Handles.h"
#include "database/MDOErrors.h"

namespace fesko::db {
namespace {

constexpr unsigned short kBlobPiece = 16384;

}  // namespace

std::string ReadBlob(isc_db_handle* database, isc_tr_handle* transaction, ISC_QUAD id) {
  BlobHandle blob;
  blob.Open(database, transaction, id);
  ISC_STATUS* status = StatusVector();
  const char items[] = {isc_info_blob_num_segments, isc_info_blob_max_segment,
                        isc_info_blob_total_length, isc_info_blob_type};
  std::array<char, 100> reply{};
  CheckStatus(FB_CALL(isc_blob_info)(status, blob.get(), sizeof items, items,
                                     static_cast<short>(reply.size()), reply.data()));
  std::size_t total = 0;
  for (std::size_t at = 0; at + 3 <= reply.size() && reply[at] != isc_info_end;) {
    char item = reply[at];
    auto length = static_cast<short>(FB_CALL(isc_vax_integer)(reply.data() + at + 1, 2));
    if (length < 0 || at + 3 + static_cast<std::size_t>(length) > reply.size()) break;
    ISC_LONG value = FB_CALL(isc_vax_integer)(reply.data() + at + 3, length);
    if (item == isc_info_blob_total_length) total = static_cast<std::size_t>(value);
    at += 3 + static_cast<std::size_t>(length);
  }
  std::string content;
  content.reserve(total);
  std::array<char, kBlobPiece> piece;
  while (content.size() < total) {
    unsigned short got = 0;
    auto wanted =
        static_cast<unsigned short>(std::min<std::size_t>(kBlobPiece, total - content.size()));
    ISC_STATUS result = FB_CALL(isc_get_segment)(status, blob.get(), &got, wanted, piece.data());
    if (result == isc_segstr_eof) break;
    // A partial segment is no error: the rest comes with the next call.
    if (result != isc_segment) CheckStatus(result);
    content.append(piece.data(), got);
  }
  blob.Close();
  return content;
}

ISC_QUAD WriteBlob(isc_db_handle* database, isc_tr_handle* transaction,
                   const std::string& content) {
  BlobHandle blob;
  ISC_QUAD id = blob.Create(database, transaction);
  for (std::size_t at = 0; at < content.size(); at += kBlobPiece) {
    auto piece =
        static_cast<unsigned short>(std::min<std::size_t>(kBlobPiece, content.size() - at));
    CheckStatus(FB_CALL(isc_put_segment)(StatusVector(), blob.get(), piece, content.data() + at));
  }
  blob.Close();
  return id;
}

}  // namespace fesko::db
