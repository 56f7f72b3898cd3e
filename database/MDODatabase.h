// The two connections to the workshop database and the one transaction: the query connection
// TMDODatabase, the event connection TIBDatabase, and TMDOTransaction. Connections attach with a
// database parameter block built from name=value lines (database/ParamBlock.h); transactions
// start with a parameter block built the same way. Only the UI thread uses these objects.
#pragma once

#include <string>
#include <vector>

#include "base/TextKinds.h"
#include "database/FbClient.h"
#include "database/Handles.h"
#include "database/MDOErrors.h"
#include "database/ParamBlock.h"

namespace fesko::db {

class TMDOTransaction;

// Something that uses a connection and must let go of it before it detaches (open queries).
class DatabaseClient {
 public:
  virtual void DatabaseClosing() = 0;

 protected:
  ~DatabaseClient() = default;
};

// Something attached to a transaction that must hear when it commits or rolls back.
class TransactionClient {
 public:
  // The transaction is about to end: close result sets, release prepared statements.
  virtual void TransactionEnding() = 0;
  // Whether it holds an open result set (the automatic-transaction rule asks).
  virtual bool IsOpen() const = 0;

 protected:
  ~TransactionClient() = default;
};

// The attachment shared by both connection kinds.
class Attachment {
 public:
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;

  const AnsiString& DatabaseName() const { return database_name_; }
  // Refused with "Cannot perform operation -- DB is currently open" while connected.
  void SetDatabaseName(const AnsiString& name);
  const ParamList& Params() const { return params_; }
  void SetParam(const AnsiString& name, const AnsiString& value);
  void AddParam(const AnsiString& line);
  void ClearParams();

  bool Connected() const { return handle_.Attached(); }
  isc_db_handle* Handle() { return handle_.get(); }
  // Asks the server for one cheap item of the database's information: raises the side's error
  // when the attachment no longer answers (client error 15 when it is not attached).
  void CheckAlive();
  // The requested dialect, and the one in force once connected (the database's when lower).
  int SQLDialect() const { return sql_dialect_; }
  int DBSQLDialect() const { return db_sql_dialect_; }

 protected:
  explicit Attachment(ErrorSide side);
  ~Attachment() = default;
  void Attach();
  // Detaches; when `force` errors are ignored.
  void Detach(bool force);

 private:
  void CheckClosed();
  [[noreturn]] void RaiseClient(int number) const;

  ErrorSide side_;
  AnsiString database_name_;
  ParamList params_;
  std::string dpb_;
  bool params_changed_ = true;
  DatabaseHandle handle_;
  int sql_dialect_ = 3;
  int db_sql_dialect_ = 3;
};

class TMDODatabase : public Attachment {
 public:
  // Loads the client library if needed: client error 1 when it cannot be loaded.
  TMDODatabase();
  ~TMDODatabase();

  void Open();
  // Ends every active transaction with its default action, closes every query, detaches.
  void Close();
  // The same for an attachment that may be gone: nothing is raised.
  void ForceClose() noexcept;

  void AddClient(DatabaseClient* client);
  void RemoveClient(DatabaseClient* client);

 private:
  friend class TMDOTransaction;
  void CloseInternal(bool force);
  std::vector<TMDOTransaction*> transactions_;
  std::vector<DatabaseClient*> clients_;
};

enum TTransactionAction { TARollback, TACommit };

class TMDOTransaction {
 public:
  TMDOTransaction();
  // An active transaction is ended with the default action, forced.
  ~TMDOTransaction();
  TMDOTransaction(const TMDOTransaction&) = delete;
  TMDOTransaction& operator=(const TMDOTransaction&) = delete;

  TMDODatabase* DefaultDatabase() const { return database_; }
  void SetDefaultDatabase(TMDODatabase* database);
  const ParamList& Params() const { return params_; }
  void AddParam(const AnsiString& line);
  TTransactionAction DefaultAction = TACommit;

  bool Active() const { return handle_.Active(); }
  isc_tr_handle* Handle() { return handle_.get(); }

  void StartTransaction();
  void Commit() { EndTransaction(TACommit, false); }
  void Rollback() { EndTransaction(TARollback, false); }

  void AddClient(TransactionClient* client);
  void RemoveClient(TransactionClient* client);
  // Whether a client other than `except` holds an open result set.
  bool HasOpenClientOtherThan(const TransactionClient* except) const;

 private:
  friend class TMDODatabase;
  void EndTransaction(TTransactionAction action, bool force);
  void ForceEnd() noexcept;

  TMDODatabase* database_ = nullptr;
  ParamList params_;
  std::string tpb_;
  bool params_changed_ = true;
  TransactionHandle handle_;
  std::vector<TransactionClient*> clients_;
};

// Event listeners bound to the event connection; it unregisters them before it detaches.
class EventsClient {
 public:
  virtual void UnRegisterEvents() = 0;

 protected:
  ~EventsClient() = default;
};

// The event connection: attached like the query connection, used only to wait for events.
class TIBDatabase : public Attachment {
 public:
  // Loads the client library if needed: the event side's client error 1 when it cannot.
  TIBDatabase();
  ~TIBDatabase();

  void Open();
  void Close();
  // Unregisters the listeners and detaches an attachment that may be gone: nothing is raised.
  void ForceClose() noexcept;

  void AddEventsClient(EventsClient* client);
  void RemoveEventsClient(EventsClient* client);

 private:
  std::vector<EventsClient*> events_;
};

}  // namespace fesko::db
