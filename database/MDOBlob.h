// Blobs of the query component: reading a blob's whole content for a field and writing a
// parameter's string into a new blob.
#pragma once

#include <string>

#include "database/FbClient.h"

namespace fesko::db {

// The whole content of a blob, read in pieces of at most 16384 bytes.
std::string ReadBlob(isc_db_handle* database, isc_tr_handle* transaction, ISC_QUAD id);
// A new blob holding `content`; its identifier.
ISC_QUAD WriteBlob(isc_db_handle* database, isc_tr_handle* transaction, const std::string& content);

}  // namespace fesko::db
