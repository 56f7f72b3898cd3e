#include "database/Handles.h"

#include <cstddef>
#include <new>

#include "database/MDOErrors.h"

namespace fesko::db {

// ---- DatabaseHandle -------------------------------------------------------------------------

DatabaseHandle::~DatabaseHandle() {
  Reset();
}

ISC_STATUS DatabaseHandle::Detach(ISC_STATUS* status) noexcept {
  auto detach = Fb().isc_detach_database;
  ISC_STATUS failed = detach ? detach(status, &handle_) : 0;
  handle_ = 0;
  return failed;
}

void DatabaseHandle::Reset() noexcept {
  if (!handle_) return;
  ISC_STATUS_ARRAY ignored{};
  Detach(ignored);
}

// ---- TransactionHandle ----------------------------------------------------------------------

void TransactionHandle::Reset() noexcept {
  if (!handle_) return;
  ISC_STATUS_ARRAY ignored{};
  if (auto rollback = Fb().isc_rollback_transaction) rollback(ignored, &handle_);
  handle_ = 0;
}

// ---- SqlDescriptor --------------------------------------------------------------------------

SqlDescriptor::SqlDescriptor(int capacity) {
  if (capacity < 1) capacity = 1;
  std::size_t bytes = XSQLDA_LENGTH(static_cast<std::size_t>(capacity));
  std::size_t units = (bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
  storage_ = std::make_unique<std::max_align_t[]>(units);  // zero-filled
  XSQLDA* da = get();
  da->version = SQLDA_VERSION1;
  da->sqln = static_cast<ISC_SHORT>(capacity);
}

// ---- StatementHandle ------------------------------------------------------------------------

void StatementHandle::Allocate(isc_db_handle* database) {
  Drop();
  ISC_STATUS failed = FB_CALL(isc_dsql_alloc_statement2)(StatusVector(), database, &handle_);
  if (failed) handle_ = 0;
  CheckStatus(failed);
}

void StatementHandle::CloseCursor() noexcept {
  if (!handle_ || !Fb().isc_dsql_free_statement) return;
  ISC_STATUS_ARRAY status{};
  Fb().isc_dsql_free_statement(status, &handle_, DSQL_close);
}

void StatementHandle::Drop() noexcept {
  if (!handle_) return;
  if (Fb().isc_dsql_free_statement) {
    ISC_STATUS_ARRAY status{};
    Fb().isc_dsql_free_statement(status, &handle_, DSQL_drop);
  }
  handle_ = 0;
}

// ---- BlobHandle -----------------------------------------------------------------------------

void BlobHandle::Open(isc_db_handle* database, isc_tr_handle* transaction, ISC_QUAD id) {
  Release();
  creating_ = false;
  CheckStatus(
      FB_CALL(isc_open_blob2)(StatusVector(), database, transaction, &handle_, &id, 0, nullptr));
}

ISC_QUAD BlobHandle::Create(isc_db_handle* database, isc_tr_handle* transaction) {
  Release();
  creating_ = true;
  ISC_QUAD id{};
  CheckStatus(
      FB_CALL(isc_create_blob2)(StatusVector(), database, transaction, &handle_, &id, 0, nullptr));
  return id;
}

void BlobHandle::Close() {
  CheckStatus(FB_CALL(isc_close_blob)(StatusVector(), &handle_));
  handle_ = 0;
}

void BlobHandle::Release() noexcept {
  if (!handle_) return;
  // Its own status vector: an error being raised still reads the thread's.
  ISC_STATUS_ARRAY ignored{};
  auto end = creating_ ? Fb().isc_cancel_blob : Fb().isc_close_blob;
  if (end) end(ignored, &handle_);
  handle_ = 0;
}

// ---- EventBlocks ----------------------------------------------------------------------------

void EventBlocks::Build(const std::vector<AnsiString>& names) {
  Free();
  const char* name[kMaxNames] = {};
  for (size_t i = 0; i < names.size(); ++i) name[i] = names[i].c_str();
  ISC_LONG length =
      FB_CALL(isc_event_block)(&events_, &results_, static_cast<ISC_USHORT>(names.size()), name[0],
                               name[1], name[2], name[3], name[4], name[5], name[6], name[7],
                               name[8], name[9], name[10], name[11], name[12], name[13], name[14]);
  if (length <= 0 || !events_ || !results_) {
    Free();
    throw std::bad_alloc();
  }
  length_ = static_cast<short>(length);
}

void EventBlocks::Free() noexcept {
  auto free = Fb().isc_free;
  if (free && events_) free(reinterpret_cast<ISC_SCHAR*>(events_));
  if (free && results_) free(reinterpret_cast<ISC_SCHAR*>(results_));
  events_ = nullptr;
  results_ = nullptr;
  length_ = 0;
}

}  // namespace fesko::db
