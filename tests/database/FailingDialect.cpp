// A client library for tests: the real one, whose other entry points it passes on, except that
// asking a database for its information fails as when the server goes away right after the
// attachment.
#include <ibase.h>

extern "C" ISC_STATUS ISC_EXPORT isc_database_info(ISC_STATUS* status, isc_db_handle*, short,
                                                   const ISC_SCHAR*, short, ISC_SCHAR*) {
  static const char host[] = "localhost";
  ISC_STATUS failed[] = {isc_arg_gds, isc_network_error, isc_arg_string,
                         reinterpret_cast<ISC_STATUS>(host), isc_arg_end};
  for (ISC_STATUS item : failed) *status++ = item;
  return isc_network_error;
}
