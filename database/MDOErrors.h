// Every error of the database layer, built in one place: the EFbError base with the server's
// codes, the query side's EMDOError family, the event side's EIBError family, their
// client-error tables, the composition of a server error's message from the status vector,
// and the database error box.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "base/Errors.h"
#include "database/FbClient.h"

namespace fesko::db {

// Any error of this layer, with the server's codes: SQLCODE and the first Firebird code of the
// status vector for a server error, the error's number and 0 for a client error. Only the two
// families below are raised.
class EFbError : public EDatabaseError {
 public:
  int32_t SQLCode;
  int32_t FirebirdCode;

 protected:
  EFbError(WideString message, int32_t sql_code, int32_t firebird_code)
      : EDatabaseError(std::move(message)), SQLCode(sql_code), FirebirdCode(firebird_code) {}
};

// The query side's errors.
class EMDOError : public EFbError {
 public:
  EMDOError(WideString message, int32_t sql_code, int32_t firebird_code)
      : EFbError(std::move(message), sql_code, firebird_code) {}
  const char* ClassName() const noexcept override { return "EMDOError"; }
};

// A network or shutdown error: the attachment that raised it is gone.
bool IsLostConnection(const EFbError& error);
bool IsLostConnection(int32_t firebird_code);

class EMDOFirebirdError : public EMDOError {
 public:
  using EMDOError::EMDOError;
  const char* ClassName() const noexcept override { return "EMDOFirebirdError"; }
};

class EMDOClientError : public EMDOError {
 public:
  using EMDOError::EMDOError;
  const char* ClassName() const noexcept override { return "EMDOClientError"; }
};

// The event side's errors: same fields and composition, their own types and numbering.
class EIBError : public EFbError {
 public:
  EIBError(WideString message, int32_t sql_code, int32_t firebird_code)
      : EFbError(std::move(message), sql_code, firebird_code) {}
  const char* ClassName() const noexcept override { return "EIBError"; }
};

class EIBInterBaseError : public EIBError {
 public:
  using EIBError::EIBError;
  const char* ClassName() const noexcept override { return "EIBInterBaseError"; }
};

class EIBClientError : public EIBError {
 public:
  using EIBError::EIBError;
  const char* ClassName() const noexcept override { return "EIBClientError"; }
};

// Client error numbers of the query side.
enum MDOClientErrorCode : int {
  mdoUnknownError = 0,
  mdoLibraryNotFound = 1,
  mdoIB60feature = 3,
  mdoNotSupported = 4,
  mdoNotPermitted = 5,
  mdoDPBConstantNotSupported = 11,
  mdoTPBConstantNotSupported = 13,
  mdoDatabaseClosed = 15,
  mdoDatabaseOpen = 16,
  mdoDatabaseNameMissing = 17,
  mdoTransactionInProgress = 19,
  mdoNoDatabasesInTransaction = 21,
  mdoDatabaseNotAssigned = 24,
  mdoTransactionNotAssigned = 25,
  mdoInvalidDataConversion = 38,
  mdoSQLParseError = 55,
  mdoEmptySQLStatement = 65,
  mdoCannotExecuteSelect = 66,
  mdoDPBConstantUnknown = 114,
  mdoTPBConstantUnknown = 115,
  mdoParamValueTooLong = 117,
};

// Client error numbers of the event side. Its connection raises the query side's numbers that
// it shares (parameter blocks, an open database) and gets their texts.
enum IBClientErrorCode : int {
  ibLibraryNotFound = 1,
  ibDatabaseClosed = 15,
  ibDatabaseNameMissing = 17,
  ibInvalidEvent = 81,
  ibEventsRegistered = 118,
};

// Which family an error belongs to: the query side's or the event side's.
enum class ErrorSide { kQuery, kEvents };

// The message of a server error: every message of the status vector, one per line (CR LF),
// with one final period removed.
WideString ComposeStatusMessage(const ISC_STATUS* status);

// Every error of the layer is raised through these two: the side picks the family, a status
// vector or a client error's number the class.
[[noreturn]] void RaiseServerError(ErrorSide side, const ISC_STATUS* status = StatusVector());
[[noreturn]] void RaiseClientError(ErrorSide side, int number,
                                   std::initializer_list<WideString> args = {});

[[noreturn]] inline void RaiseMDOFirebirdError(const ISC_STATUS* status = StatusVector()) {
  RaiseServerError(ErrorSide::kQuery, status);
}
[[noreturn]] inline void RaiseMDOClientError(int number,
                                             std::initializer_list<WideString> args = {}) {
  RaiseClientError(ErrorSide::kQuery, number, args);
}

// The query side's errors as values, for callers that must clean up before raising one or
// only show it.
EMDOFirebirdError MDOFirebirdError(const ISC_STATUS* status = StatusVector());
EMDOClientError MDOClientError(int number, std::initializer_list<WideString> args = {});

// Raises client error 3 naming the entry point when the loaded library lacks it.
template <typename Fn>
Fn Require(Fn entry, const char* name) {
  if (!entry) RaiseMDOClientError(mdoIB60feature, {AnsiToWide(name)});
  return entry;
}
#define FB_CALL(name) ::fesko::db::Require(::fesko::db::Fb().name, #name)

// The check after a client call: a failed call (a non-zero result) raises the server error
// of the calling thread's status vector, the query side's or the event side's.
inline void CheckStatus(ISC_STATUS result, ErrorSide side = ErrorSide::kQuery) {
  if (result != 0) RaiseServerError(side);
}

// The database error box: the two rights and duplicate-key cases in their own words, any
// other error as the caller's context and the error's message. Error icon, OK button.
// Units of work give it one of the two captions.
inline constexpr std::u16string_view kQueryErrorCaption = u"error de consulta";
inline constexpr std::u16string_view kQueryErrorCaptionCapitalised = u"Error de consulta";
void ShowDatabaseError(const EFbError& error, const WideString& context, const WideString& caption);

}  // namespace fesko::db
