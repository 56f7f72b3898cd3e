#include "database/MDODatabase.h"

#include <algorithm>
#include <array>

#include "database/MDOErrors.h"

namespace fesko::db {
namespace {

// One database of isc_start_multiple's vector, laid out as the client library reads it.
struct TransactionElement {
  isc_db_handle* database;
  int tpb_length;
  const char* tpb;
};

}  // namespace

// ---- Attachment ----------------------------------------------------------------------------

Attachment::Attachment(ErrorSide side) : side_(side) {
  static_assert(static_cast<int>(ibLibraryNotFound) == static_cast<int>(mdoLibraryNotFound));
  if (!TryLoadClientLibrary()) RaiseClient(mdoLibraryNotFound);
}

void Attachment::RaiseClient(int number) const {
  RaiseClientError(side_, number);
}

void Attachment::CheckClosed() {
  if (Connected()) RaiseClient(mdoDatabaseOpen);
}

void Attachment::SetDatabaseName(const AnsiString& name) {
  if (name == database_name_) return;
  CheckClosed();
  database_name_ = name;
}

void Attachment::SetParam(const AnsiString& name, const AnsiString& value) {
  CheckClosed();
  params_.SetValue(name, value);
  params_changed_ = true;
}

void Attachment::AddParam(const AnsiString& line) {
  CheckClosed();
  params_.Add(line);
  params_changed_ = true;
}

void Attachment::ClearParams() {
  CheckClosed();
  params_.Clear();
  params_changed_ = true;
}

void Attachment::Attach() {
  if (Connected()) return;
  if (database_name_.empty()) RaiseClient(mdoDatabaseNameMissing);
  if (params_changed_) {
    dpb_ = BuildDatabaseParameterBlock(params_.Lines(), side_);
    params_changed_ = false;
  }
  ISC_STATUS* status = StatusVector();
  ISC_STATUS failed = FB_CALL(isc_attach_database)(
      status, static_cast<short>(database_name_.size()), database_name_.c_str(), handle_.get(),
      static_cast<short>(dpb_.size()), dpb_.data());
  if (failed) handle_.Forget();
  CheckStatus(failed, side_);
  // The database's own dialect caps the one requested. A connection that cannot tell its
  // dialect is not kept: it would run every statement in a dialect nobody asked for.
  const char item = isc_info_db_sql_dialect;
  std::array<char, 512> reply{};
  int dialect = 1;
  try {
    CheckStatus(FB_CALL(isc_database_info)(status, handle_.get(), 1, &item,
                                           static_cast<short>(reply.size()), reply.data()),
                side_);
  } catch (...) {
    ISC_STATUS_ARRAY ignored{};
    handle_.Detach(ignored);
    throw;
  }
  if (reply[0] == isc_info_db_sql_dialect) {
    auto length = static_cast<short>(FB_CALL(isc_vax_integer)(reply.data() + 1, 2));
    dialect = static_cast<int>(FB_CALL(isc_vax_integer)(reply.data() + 3, length));
  }
  db_sql_dialect_ = dialect < sql_dialect_ ? dialect : sql_dialect_;
}

void Attachment::CheckAlive() {
  if (!Connected()) RaiseClient(mdoDatabaseClosed);
  const char item = isc_info_ods_version;
  std::array<char, 32> reply{};
  CheckStatus(FB_CALL(isc_database_info)(StatusVector(), handle_.get(), 1, &item,
                                         static_cast<short>(reply.size()), reply.data()),
              side_);
}

void Attachment::Detach(bool force) {
  if (!Connected()) return;
  ISC_STATUS failed = handle_.Detach(StatusVector());
  if (!force) CheckStatus(failed, side_);
}

// ---- TMDODatabase --------------------------------------------------------------------------

TMDODatabase::TMDODatabase() : Attachment(ErrorSide::kQuery) {}

TMDODatabase::~TMDODatabase() {
  try {
    CloseInternal(true);
  } catch (...) {
    // A forced close reports nothing.
  }
  for (TMDOTransaction* t : transactions_) t->database_ = nullptr;
}

void TMDODatabase::Open() {
  Attach();
}

void TMDODatabase::Close() {
  CloseInternal(false);
}

void TMDODatabase::ForceClose() noexcept {
  try {
    CloseInternal(true);
  } catch (...) {
    // A lost attachment's queries and transaction are let go of without a word.
  }
}

void TMDODatabase::CloseInternal(bool force) {
  if (!Connected()) return;
  for (TMDOTransaction* t : transactions_) {
    if (t->Active()) t->ForceEnd();
  }
  for (DatabaseClient* c : std::vector<DatabaseClient*>(clients_)) c->DatabaseClosing();
  Detach(force);
}

void TMDODatabase::AddClient(DatabaseClient* client) {
  if (std::find(clients_.begin(), clients_.end(), client) == clients_.end()) {
    clients_.push_back(client);
  }
}

void TMDODatabase::RemoveClient(DatabaseClient* client) {
  clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

// ---- TMDOTransaction -----------------------------------------------------------------------

TMDOTransaction::TMDOTransaction() {
  if (!TryLoadClientLibrary()) RaiseMDOClientError(mdoLibraryNotFound);
}

TMDOTransaction::~TMDOTransaction() {
  if (Active()) ForceEnd();
  SetDefaultDatabase(nullptr);
}

void TMDOTransaction::SetDefaultDatabase(TMDODatabase* database) {
  if (database_ == database) return;
  if (database_) {
    auto& list = database_->transactions_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
  }
  database_ = database;
  if (database_) database_->transactions_.push_back(this);
}

void TMDOTransaction::AddParam(const AnsiString& line) {
  params_.Add(line);
  params_changed_ = true;
}

void TMDOTransaction::StartTransaction() {
  if (Active()) RaiseMDOClientError(mdoTransactionInProgress);
  if (!database_) RaiseMDOClientError(mdoNoDatabasesInTransaction);
  if (!database_->Connected()) RaiseMDOClientError(mdoDatabaseClosed);
  if (params_changed_) {
    tpb_ = BuildTransactionParameterBlock(params_.Lines());
    params_changed_ = false;
  }
  TransactionElement teb{database_->Handle(), static_cast<int>(tpb_.size()),
                         tpb_.empty() ? nullptr : tpb_.data()};
  ISC_STATUS failed = FB_CALL(isc_start_multiple)(StatusVector(), handle_.get(), 1, &teb);
  if (failed) handle_.Forget();
  CheckStatus(failed);
}

void TMDOTransaction::EndTransaction(TTransactionAction action, bool force) {
  if (!Active()) StartTransaction();
  for (TransactionClient* c : std::vector<TransactionClient*>(clients_)) c->TransactionEnding();
  ISC_STATUS* status = StatusVector();
  ISC_STATUS failed = 0;
  switch (action) {
    case TACommit:
      failed = FB_CALL(isc_commit_transaction)(status, handle_.get());
      if (failed && force) {
        FB_CALL(isc_rollback_transaction)(status, handle_.get());
      }
      break;
    case TARollback:
      failed = FB_CALL(isc_rollback_transaction)(status, handle_.get());
      break;
  }
  if (force) {
    handle_.Forget();
    return;
  }
  CheckStatus(failed);
}

void TMDOTransaction::ForceEnd() noexcept {
  try {
    EndTransaction(DefaultAction, true);
  } catch (...) {
    // Ending by force reports nothing.
  }
  handle_.Forget();
}

void TMDOTransaction::AddClient(TransactionClient* client) {
  if (std::find(clients_.begin(), clients_.end(), client) == clients_.end()) {
    clients_.push_back(client);
  }
}

void TMDOTransaction::RemoveClient(TransactionClient* client) {
  clients_.erase(std::remove(clients_.begin(), clients_.end(), client), clients_.end());
}

bool TMDOTransaction::HasOpenClientOtherThan(const TransactionClient* except) const {
  return std::any_of(clients_.begin(), clients_.end(),
                     [except](const TransactionClient* c) { return c != except && c->IsOpen(); });
}

// ---- TIBDatabase ---------------------------------------------------------------------------

TIBDatabase::TIBDatabase() : Attachment(ErrorSide::kEvents) {}

TIBDatabase::~TIBDatabase() {
  try {
    for (EventsClient* e : std::vector<EventsClient*>(events_)) e->UnRegisterEvents();
  } catch (...) {
  }
  Detach(true);
}

void TIBDatabase::Open() {
  Attach();
}

void TIBDatabase::Close() {
  for (EventsClient* e : std::vector<EventsClient*>(events_)) e->UnRegisterEvents();
  Detach(false);
}

void TIBDatabase::ForceClose() noexcept {
  for (EventsClient* e : std::vector<EventsClient*>(events_)) {
    try {
      e->UnRegisterEvents();
    } catch (...) {
      // A wait on a lost attachment cannot be cancelled; its thread is gone all the same.
    }
  }
  Detach(true);
}

void TIBDatabase::AddEventsClient(EventsClient* client) {
  if (std::find(events_.begin(), events_.end(), client) == events_.end()) {
    events_.push_back(client);
  }
}

void TIBDatabase::RemoveEventsClient(EventsClient* client) {
  events_.erase(std::remove(events_.begin(), events_.end(), client), events_.end());
}

}  // namespace fesko::db
