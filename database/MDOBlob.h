// Blobs of the query component: the owner of a client-library blob handle, reading a blob's
// whole content for a field and writing a parameter's string into a new blob.
#pragma once

#include <string>
#include <utility>

#include "database/FbClient.h"

namespace fesko::db {

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

// The whole content of a blob, read in pieces of at most 16384 bytes.
std::string ReadBlob(isc_db_handle* database, isc_tr_handle* transaction, ISC_QUAD id);
// A new blob holding `content`; its identifier.
ISC_QUAD WriteBlob(isc_db_handle* database, isc_tr_handle* transaction, const std::string& content);

}  // namespace fesko::db
