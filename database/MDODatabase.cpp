#include "database/MDODatabase.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "base/FormatSettings.h"
#include "base/TextHelpers.h"
#include "database/MDOErrors.h"

namespace fesko::db {
namespace {

// The database parameter names with codes 1 to 67, in code order.
constexpr std::array<std::string_view, 67> kDpbNames = {
    "cdd_pathname",
    "allocation",
    "journal",
    "page_size",
    "num_buffers",
    "buffer_length",
    "debug",
    "garbage_collect",
    "verify",
    "sweep",
    "enable_journal",
    "disable_journal",
    "dbkey_scope",
    "number_of_users",
    "trace",
    "no_garbage_collect",
    "damaged",
    "license",
    "sys_user_name",
    "encrypt_key",
    "activate_shadow",
    "sweep_interval",
    "delete_shadow",
    "force_write",
    "begin_log",
    "quit_log",
    "no_reserve",
    "user_name",
    "password",
    "password_enc",
    "sys_user_name_enc",
    "interp",
    "online_dump",
    "old_file_size",
    "old_num_files",
    "old_file",
    "old_start_page",
    "old_start_seqno",
    "old_start_file",
    "drop_walfile",
    "old_dump_id",
    "wal_backup_dir",
    "wal_chkptlen",
    "wal_numbufs",
    "wal_bufsize",
    "wal_grp_cmt_wait",
    "lc_messages",
    "lc_ctype",
    "cache_manager",
    "shutdown",
    "online",
    "shutdown_delay",
    "reserved",
    "overwrite",
    "sec_attach",
    "disable_wal",
    "connect_timeout",
    "dummy_packet_interval",
    "gbak_attach",
    "sql_role_name",
    "set_page_buffers",
    "working_directory",
    "sql_dialect",
    "set_db_readonly",
    "set_db_sql_dialect",
    "gfix_attach",
    "gstat_attach",
};

// The transaction parameter names with codes 1 to 20, in code order.
constexpr std::array<std::string_view, 20> kTpbNames = {
    "consistency", "concurrency",    "shared",           "protected",
    "exclusive",   "wait",           "nowait",           "read",
    "write",       "lock_read",      "lock_write",       "verb_time",
    "commit_time", "ignore_limbo",   "read_committed",   "autocommit",
    "rec_version", "no_rec_version", "restart_requests", "no_auto_undo",
};

template <std::size_t N>
int CodeOf(const std::array<std::string_view, N>& names, std::string_view name) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return static_cast<int>(i + 1);
  }
  return 0;
}

// One database of isc_start_multiple's vector, laid out as the client library reads it.
struct TransactionElement {
  isc_db_handle* database;
  int tpb_length;
  const char* tpb;
};

// The length is one byte: a longer value would wrap it and the server would read the rest of
// the value as items of the block.
void AppendString(std::string& block, int code, const std::string& value, const std::string& item,
                  ErrorSide side = ErrorSide::kQuery) {
  if (value.size() > 255) {
    if (side == ErrorSide::kEvents) RaiseIBClientError(mdoParamValueTooLong, {AnsiToWide(item)});
    RaiseMDOClientError(mdoParamValueTooLong, {AnsiToWide(item)});
  }
  block += static_cast<char>(code);
  block += static_cast<char>(value.size());
  block += value;
}

}  // namespace

// ---- ParamList ----------------------------------------------------------------------------

int ParamList::IndexOfName(const AnsiString& name) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    auto eq = lines_[i].find('=');
    if (eq != std::string::npos &&
        EqualsIgnoreCase(std::string_view(lines_[i]).substr(0, eq), name)) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

void ParamList::SetValue(const AnsiString& name, const AnsiString& value) {
  int index = IndexOfName(name);
  if (value.empty()) {
    if (index >= 0) lines_.erase(lines_.begin() + index);
  } else if (index >= 0) {
    lines_[index] = name + "=" + value;
  } else {
    lines_.push_back(name + "=" + value);
  }
}

AnsiString ParamList::Value(const AnsiString& name) const {
  int index = IndexOfName(name);
  if (index < 0) return {};
  return lines_[index].substr(lines_[index].find('=') + 1);
}

// ---- Parameter blocks ----------------------------------------------------------------------

std::string BuildDatabaseParameterBlock(const std::vector<AnsiString>& lines, ErrorSide side) {
  std::string block(1, static_cast<char>(isc_dpb_version1));
  for (const AnsiString& line : lines) {
    auto eq = line.find('=');
    std::string written = line.substr(0, eq);
    if (Trim(written, kSpaceOnly).empty()) continue;
    std::string name = LowerAscii(written);
    if (name.rfind("isc_dpb_", 0) == 0) name.erase(0, 8);
    std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
    int code = CodeOf(kDpbNames, name);
    switch (code) {
      case isc_dpb_user_name:
      case isc_dpb_password:
      case isc_dpb_password_enc:
      case isc_dpb_sys_user_name:
      case isc_dpb_license:
      case isc_dpb_encrypt_key:
      case isc_dpb_lc_messages:
      case isc_dpb_lc_ctype:
      case isc_dpb_sql_role_name:
      case isc_dpb_sql_dialect:
        if (code == isc_dpb_sql_dialect && !value.empty())
          value[0] = static_cast<char>(value[0] - '0');
        AppendString(block, code, value, "isc_dpb_" + name, side);
        break;
      case isc_dpb_num_buffers:
      case isc_dpb_verify:
      case isc_dpb_dbkey_scope:
      case isc_dpb_damaged:
      case isc_dpb_force_write:
      case isc_dpb_no_reserve:
        block += static_cast<char>(code);
        block += '\1';
        block += static_cast<char>(StrToInt(value) & 0xFF);
        break;
      case isc_dpb_sweep:
        block += static_cast<char>(code);
        block += '\1';
        block += static_cast<char>(isc_dpb_records);
        break;
      case isc_dpb_sweep_interval: {
        uint32_t n = static_cast<uint32_t>(StrToInt(value));
        block += static_cast<char>(code);
        block += '\4';
        for (int i = 0; i < 4; ++i) block += static_cast<char>((n >> (8 * i)) & 0xFF);
        break;
      }
      case isc_dpb_activate_shadow:
      case isc_dpb_delete_shadow:
      case isc_dpb_begin_log:
      case isc_dpb_quit_log:
        block += static_cast<char>(code);
        block += '\1';
        block += '\0';
        break;
      case 0:
        if (side == ErrorSide::kEvents) {
          RaiseIBClientError(mdoDPBConstantUnknown, {AnsiToWide(written)});
        }
        RaiseMDOClientError(mdoDPBConstantUnknown, {AnsiToWide(written)});
      default:
        if (side == ErrorSide::kEvents) {
          RaiseIBClientError(mdoDPBConstantNotSupported, {AnsiToWide(name)});
        }
        RaiseMDOClientError(mdoDPBConstantNotSupported, {AnsiToWide(name)});
    }
  }
  return block;
}

std::string BuildTransactionParameterBlock(const std::vector<AnsiString>& lines) {
  std::string block;
  if (lines.empty()) return block;
  block += static_cast<char>(isc_tpb_version3);
  for (const AnsiString& line : lines) {
    if (Trim(line, kSpaceOnly).empty()) continue;
    auto eq = line.find('=');
    std::string written = line.substr(0, eq);
    std::string name = LowerAscii(written);
    if (name.rfind("isc_tpb_", 0) == 0) name.erase(0, 8);
    int code = CodeOf(kTpbNames, name);
    switch (code) {
      case 0:
        RaiseMDOClientError(mdoTPBConstantUnknown, {AnsiToWide(written)});
      case isc_tpb_lock_read:
      case isc_tpb_lock_write:
        AppendString(block, code, eq == std::string::npos ? std::string() : line.substr(eq + 1),
                     "isc_tpb_" + name);
        break;
      case 1:
      case 2:
      case 3:
      case 4:
      case 5:
      case 6:
      case 7:
      case 8:
      case 9:
      case 14:
      case 15:
      case 17:
      case 18:
        block += static_cast<char>(code);
        break;
      default:
        RaiseMDOClientError(mdoTPBConstantNotSupported, {AnsiToWide(name)});
    }
  }
  return block;
}

// ---- Attachment ----------------------------------------------------------------------------

Attachment::Attachment(ErrorSide side) : side_(side) {
  if (TryLoadClientLibrary()) return;
  if (side_ == ErrorSide::kEvents) RaiseIBClientError(ibLibraryNotFound);
  RaiseMDOClientError(mdoLibraryNotFound);
}

void Attachment::RaiseClient(int number) const {
  if (side_ == ErrorSide::kEvents) RaiseIBClientError(number);
  RaiseMDOClientError(number);
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
      status, static_cast<short>(database_name_.size()), database_name_.c_str(), &handle_,
      static_cast<short>(dpb_.size()), dpb_.data());
  if (failed) handle_ = 0;
  CheckStatus(failed, side_);
  // The database's own dialect caps the one requested. A connection that cannot tell its
  // dialect is not kept: it would run every statement in a dialect nobody asked for.
  const char item = isc_info_db_sql_dialect;
  std::array<char, 512> reply{};
  int dialect = 1;
  try {
    CheckStatus(FB_CALL(isc_database_info)(status, &handle_, 1, &item,
                                           static_cast<short>(reply.size()), reply.data()),
                side_);
  } catch (...) {
    ISC_STATUS_ARRAY ignored{};
    if (auto detach = Fb().isc_detach_database) detach(ignored, &handle_);
    handle_ = 0;
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
  CheckStatus(FB_CALL(isc_database_info)(StatusVector(), &handle_, 1, &item,
                                         static_cast<short>(reply.size()), reply.data()),
              side_);
}

void Attachment::Detach(bool force) {
  if (!Connected()) return;
  ISC_STATUS* status = StatusVector();
  auto detach = Fb().isc_detach_database;
  ISC_STATUS failed = detach ? detach(status, &handle_) : 0;
  handle_ = 0;
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
  if (default_transaction_ && default_transaction_->AutoCommit && !default_transaction_->Active()) {
    default_transaction_->StartTransaction();
  }
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
  ISC_STATUS failed = FB_CALL(isc_start_multiple)(StatusVector(), &handle_, 1, &teb);
  if (failed) handle_ = 0;
  CheckStatus(failed);
}

void TMDOTransaction::EndTransaction(TTransactionAction action, bool force) {
  if (!Active()) StartTransaction();
  if (action == TACommit || action == TARollback) {
    for (TransactionClient* c : std::vector<TransactionClient*>(clients_)) c->TransactionEnding();
  }
  ISC_STATUS* status = StatusVector();
  ISC_STATUS failed = 0;
  switch (action) {
    case TACommit:
      failed = FB_CALL(isc_commit_transaction)(status, &handle_);
      if (failed && force) {
        FB_CALL(isc_rollback_transaction)(status, &handle_);
      }
      break;
    case TARollback:
      failed = FB_CALL(isc_rollback_transaction)(status, &handle_);
      break;
    case TACommitRetaining:
      failed = FB_CALL(isc_commit_retaining)(status, &handle_);
      break;
    case TARollbackRetaining:
      failed = FB_CALL(isc_rollback_retaining)(status, &handle_);
      break;
  }
  if (force) {
    if (action == TACommit || action == TARollback) handle_ = 0;
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
  handle_ = 0;
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
