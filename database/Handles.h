// The owners of the client library's handles and blocks: one move-only class per kind, copying
// deleted, the moved-from owner left empty. Each lets go of what it holds when it goes.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "base/TextKinds.h"
#include "database/FbClient.h"

namespace fesko::db {

// One attachment of the client library. One still attached when the owner goes is detached,
// errors ignored.
class DatabaseHandle {
 public:
  DatabaseHandle() = default;
  ~DatabaseHandle();
  DatabaseHandle(DatabaseHandle&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
  DatabaseHandle& operator=(DatabaseHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, 0);
    }
    return *this;
  }
  DatabaseHandle(const DatabaseHandle&) = delete;
  DatabaseHandle& operator=(const DatabaseHandle&) = delete;

  bool Attached() const { return handle_ != 0; }
  isc_db_handle* get() { return &handle_; }
  // Detaches into `status` and lets go of the handle whatever the outcome: the call's result.
  ISC_STATUS Detach(ISC_STATUS* status) noexcept;
  // Lets go of a handle that a failed attach left behind.
  void Forget() noexcept { handle_ = 0; }

 private:
  void Reset() noexcept;
  isc_db_handle handle_ = 0;
};

// One transaction of the client library. One still open when the owner goes is rolled back,
// errors ignored.
class TransactionHandle {
 public:
  TransactionHandle() = default;
  ~TransactionHandle() { Reset(); }
  TransactionHandle(TransactionHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, 0)) {}
  TransactionHandle& operator=(TransactionHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, 0);
    }
    return *this;
  }
  TransactionHandle(const TransactionHandle&) = delete;
  TransactionHandle& operator=(const TransactionHandle&) = delete;

  bool Active() const { return handle_ != 0; }
  isc_tr_handle* get() { return &handle_; }
  // Lets go of a handle that is ended, or that a failed start or end left behind.
  void Forget() noexcept { handle_ = 0; }

 private:
  void Reset() noexcept;
  isc_tr_handle handle_ = 0;
};

// Owns an extended descriptor (XSQLDA) with room for `capacity` entries.
class SqlDescriptor {
 public:
  explicit SqlDescriptor(int capacity = 1);
  SqlDescriptor(SqlDescriptor&&) noexcept = default;
  SqlDescriptor& operator=(SqlDescriptor&&) noexcept = default;
  SqlDescriptor(const SqlDescriptor&) = delete;
  SqlDescriptor& operator=(const SqlDescriptor&) = delete;

  XSQLDA* get() { return reinterpret_cast<XSQLDA*>(storage_.get()); }
  const XSQLDA* get() const { return reinterpret_cast<const XSQLDA*>(storage_.get()); }
  // Entries the statement described (sqld); may exceed the capacity until resized.
  int Described() const { return get()->sqld; }
  int Capacity() const { return get()->sqln; }
  XSQLVAR& operator[](int i) { return get()->sqlvar[i]; }
  const XSQLVAR& operator[](int i) const { return get()->sqlvar[i]; }

 private:
  std::unique_ptr<std::max_align_t[]> storage_;
};

// One prepared statement handle of the client library; dropped when the owner goes.
class StatementHandle {
 public:
  StatementHandle() = default;
  ~StatementHandle() { Drop(); }
  StatementHandle(StatementHandle&& other) noexcept : handle_(std::exchange(other.handle_, 0)) {}
  StatementHandle& operator=(StatementHandle&& other) noexcept {
    if (this != &other) {
      Drop();
      handle_ = std::exchange(other.handle_, 0);
    }
    return *this;
  }
  StatementHandle(const StatementHandle&) = delete;
  StatementHandle& operator=(const StatementHandle&) = delete;

  // Allocates a handle on the attachment; the server error on failure.
  void Allocate(isc_db_handle* database);
  bool Allocated() const { return handle_ != 0; }
  isc_stmt_handle* get() { return &handle_; }
  // Closes an open cursor; a cursor that is already closed is no error.
  void CloseCursor() noexcept;
  // Releases the statement on the server. Errors are ignored: the handle is gone either way.
  void Drop() noexcept;

 private:
  isc_stmt_handle handle_ = 0;
};

// One open blob handle. A blob opened for reading is closed when the owner goes; one being
// created and not yet closed is cancelled, so nothing half-written is kept.
class BlobHandle {
 public:
  BlobHandle() = default;
  ~BlobHandle() { Release(); }
  BlobHandle(BlobHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, 0)), creating_(other.creating_) {}
  BlobHandle& operator=(BlobHandle&& other) noexcept {
    if (this != &other) {
      Release();
      handle_ = std::exchange(other.handle_, 0);
      creating_ = other.creating_;
    }
    return *this;
  }
  BlobHandle(const BlobHandle&) = delete;
  BlobHandle& operator=(const BlobHandle&) = delete;

  // isc_open_blob2 and isc_create_blob2; the server error on failure.
  void Open(isc_db_handle* database, isc_tr_handle* transaction, ISC_QUAD id);
  ISC_QUAD Create(isc_db_handle* database, isc_tr_handle* transaction);
  bool Opened() const { return handle_ != 0; }
  isc_blob_handle* get() { return &handle_; }
  // Closes the blob; the server error on failure (the owner then lets go of it as above).
  void Close();
  // Lets go of the blob without a word: closed or cancelled as above.
  void Release() noexcept;

 private:
  isc_blob_handle handle_ = 0;
  bool creating_ = false;
};

// The event parameter block and the result block that one isc_event_block call allocates,
// released together with isc_free.
class EventBlocks {
 public:
  static constexpr std::size_t kMaxNames = 15;

  EventBlocks() = default;
  ~EventBlocks() { Free(); }
  EventBlocks(EventBlocks&& other) noexcept
      : events_(std::exchange(other.events_, nullptr)),
        results_(std::exchange(other.results_, nullptr)),
        length_(std::exchange(other.length_, 0)) {}
  EventBlocks& operator=(EventBlocks&& other) noexcept {
    if (this != &other) {
      Free();
      events_ = std::exchange(other.events_, nullptr);
      results_ = std::exchange(other.results_, nullptr);
      length_ = std::exchange(other.length_, 0);
    }
    return *this;
  }
  EventBlocks(const EventBlocks&) = delete;
  EventBlocks& operator=(const EventBlocks&) = delete;

  // Both blocks for up to 15 names, in order; std::bad_alloc when the library cannot make them.
  void Build(const std::vector<AnsiString>& names);

  ISC_UCHAR* Events() const { return events_; }
  ISC_UCHAR* Results() const { return results_; }
  short Length() const { return length_; }

  void Free() noexcept;

 private:
  ISC_UCHAR* events_ = nullptr;
  ISC_UCHAR* results_ = nullptr;
  short length_ = 0;
};

}  // namespace fesko::db
