// The Firebird client library, bound at run time by file name. ibase.h gives the types and
// constants only; the library is never linked, so a machine without it gets an orderly error.
// The query side and the event side share this one binding.
#pragma once

#include <ibase.h>

#include <string>
#include <type_traits>
#include <utility>

namespace fesko::db {

// The entry points the program uses. Names follow the client library's.
// clang-format off
#define FESKO_FB_ENTRY_POINTS(X) \
  X(isc_attach_database) \
  X(isc_detach_database) \
  X(isc_database_info) \
  X(isc_start_multiple) \
  X(isc_commit_transaction) \
  X(isc_rollback_transaction) \
  X(isc_commit_retaining) \
  X(isc_rollback_retaining) \
  X(isc_dsql_alloc_statement2) \
  X(isc_dsql_prepare) \
  X(isc_dsql_sql_info) \
  X(isc_dsql_describe) \
  X(isc_dsql_describe_bind) \
  X(isc_dsql_execute) \
  X(isc_dsql_execute2) \
  X(isc_dsql_set_cursor_name) \
  X(isc_dsql_fetch) \
  X(isc_dsql_free_statement) \
  X(isc_open_blob2) \
  X(isc_blob_info) \
  X(isc_get_segment) \
  X(isc_close_blob) \
  X(isc_decode_sql_date) \
  X(isc_decode_sql_time) \
  X(isc_decode_timestamp) \
  X(isc_encode_sql_date) \
  X(isc_encode_sql_time) \
  X(isc_encode_timestamp) \
  X(isc_vax_integer) \
  X(isc_sqlcode) \
  X(isc_event_block) \
  X(isc_que_events) \
  X(isc_event_counts) \
  X(isc_cancel_events) \
  X(isc_free) \
  X(isc_dsql_execute_immediate) \
  X(isc_create_blob2) \
  X(isc_put_segment) \
  X(isc_cancel_blob)
// clang-format on

// isc_interprete is declared deprecated; its type is spelled out so the binding stays clean.
using isc_interprete_fn = ISC_LONG (*)(ISC_SCHAR*, ISC_STATUS**);

struct FbClient {
#define FESKO_FB_MEMBER(name) decltype(&::name) name = nullptr;
  FESKO_FB_ENTRY_POINTS(FESKO_FB_MEMBER)
#undef FESKO_FB_MEMBER
  isc_interprete_fn isc_interprete = nullptr;
};

// The file name the next load uses; "libfbclient.so.2" until changed. Changing it takes effect
// when no library is loaded (tests unload first).
void SetClientLibraryName(const std::string& name);
std::string ClientLibraryName();

// Loads the library if it is not loaded yet. Returns false when it cannot be loaded; the caller
// raises its own side's error.
bool TryLoadClientLibrary();

// The bound entry points; the library must be loaded. Missing entry points stay null.
const FbClient& Fb();

// Unloads the library; only for tests that exercise a missing library.
void UnloadClientLibrary();

namespace detail {
FbClient& Binding();
}

// The fault seam: for the life of the object one entry point is the given stand-in, so a test
// can make the client library fail where no real server would on cue. The library is loaded
// first; the entry point it bound comes back when the object goes. Replace only entry points
// that no other thread calls meanwhile.
//   ReplaceEntryPoint failing(&FbClient::isc_get_segment, &FailingGetSegment);
template <typename Fn>
class ReplaceEntryPoint {
 public:
  ReplaceEntryPoint(Fn FbClient::*entry, std::type_identity_t<Fn> stand_in)
      : entry_(entry), original_((TryLoadClientLibrary(), detail::Binding().*entry)) {
    detail::Binding().*entry_ = stand_in;
  }
  ~ReplaceEntryPoint() { detail::Binding().*entry_ = original_; }
  ReplaceEntryPoint(const ReplaceEntryPoint&) = delete;
  ReplaceEntryPoint& operator=(const ReplaceEntryPoint&) = delete;

  // The library's own entry point, for a stand-in that passes calls on.
  Fn Original() const { return original_; }

 private:
  Fn FbClient::*entry_;
  Fn original_;
};

// The calling thread's status vector: every client call fills it, errors are read from it.
ISC_STATUS* StatusVector();

}  // namespace fesko::db
