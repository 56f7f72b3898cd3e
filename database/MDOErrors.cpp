#include "database/MDOErrors.h"

#include <cstdlib>
#include <map>
#include <vector>

#include "base/MessageBox.h"

namespace fesko::db {
namespace {

// The two messages the query side and the event side share.
constexpr std::u16string_view kDatabaseClosedText = u"Cannot perform operation -- DB is not open";
constexpr std::u16string_view kDatabaseNameMissingText = u"Database name is missing";

const std::map<int, std::u16string_view>& MDOClientMessages() {
  static const std::map<int, std::u16string_view> messages = {
      {0, u"Unknown error"},
      {1,
       u"Firebird Client library not found in the path. Please install Firebird to use this "
       u"functionality"},
      {3, u"%s is an InterBase 6 function. Please upgrade to InterBase 6 to use this functonality"},
      {4, u"Unsupported feature"},
      {5, u"Not permitted"},
      {11, u"DPB Constant (isc_dpb_%s) is unsupported"},
      {13, u"TPB Constant (isc_tpb_%s) is unsupported"},
      {15, kDatabaseClosedText},
      {16, u"Cannot perform operation -- DB is currently open"},
      {17, kDatabaseNameMissingText},
      {19, u"Transaction is active"},
      {21, u"No databases are listed in transaction component"},
      {24, u"Database not assigned"},
      {25, u"Transaction not assigned"},
      {38, u"Invalid data conversion"},
      {55, u"SQL Parse Error:\r\n\r\n%s"},
      {65, u"Empty SQL Statement"},
      {66, u"use Open for a Select Statement"},
      {114, u"DPB Constant (%s) is unknown"},
      {115, u"TPB Constant (%s) is unknown"},
      {117, u"Parameter block value of %s is longer than 255 bytes"},
  };
  return messages;
}

const std::map<int, std::u16string_view>& IBClientMessages() {
  static const std::map<int, std::u16string_view> messages = {
      {1,
       u"InterBase library gds32.dll not found in the path. Please install InterBase to use "
       u"this functionality"},
      {15, kDatabaseClosedText},
      {17, kDatabaseNameMissingText},
      {81, u"Invalid Event"},
      {118, u"Events already registered"},
  };
  return messages;
}

// The side's own text for a number, else the query side's, else "Unknown error".
WideString ClientMessage(ErrorSide side, int number, std::initializer_list<WideString> args) {
  const auto& shared = MDOClientMessages();
  if (side == ErrorSide::kEvents) {
    const auto& own = IBClientMessages();
    if (auto it = own.find(number); it != own.end()) return FormatMessage(it->second, args);
  }
  auto it = shared.find(number);
  return FormatMessage(it != shared.end() ? it->second : shared.at(mdoUnknownError), args);
}

int32_t SqlCodeOf(const ISC_STATUS* status) {
  auto sqlcode = Fb().isc_sqlcode;
  return sqlcode ? static_cast<int32_t>(sqlcode(status)) : 0;
}

// The two ways an error is made, whatever its side.
template <typename Error>
Error FromStatus(const ISC_STATUS* status) {
  return Error(ComposeStatusMessage(status), SqlCodeOf(status), static_cast<int32_t>(status[1]));
}

template <typename Error>
Error FromNumber(ErrorSide side, int number, std::initializer_list<WideString> args) {
  return Error(ClientMessage(side, number, args), number, 0);
}

}  // namespace

WideString ComposeStatusMessage(const ISC_STATUS* status) {
  std::string text;
  auto interprete = Fb().isc_interprete;
  if (interprete) {
    // The client library walks a copy of the vector; the thread's own vector stays intact.
    std::vector<ISC_STATUS> copy(status, status + ISC_STATUS_LENGTH);
    ISC_STATUS* cursor = copy.data();
    std::vector<char> buffer(20480);
    while (interprete(buffer.data(), &cursor) != 0) {
      if (!text.empty() && text.back() != '\n') text += "\r\n";
      text += buffer.data();
    }
  }
  if (!text.empty() && text.back() == '.') text.pop_back();
  // Server messages arrive in the connection's character set, NONE: raw Windows-1252 bytes.
  return AnsiToWide(text);
}

void RaiseServerError(ErrorSide side, const ISC_STATUS* status) {
  switch (side) {
    case ErrorSide::kQuery:
      throw FromStatus<EMDOFirebirdError>(status);
    case ErrorSide::kEvents:
      throw FromStatus<EIBInterBaseError>(status);
  }
  std::abort();
}

void RaiseClientError(ErrorSide side, int number, std::initializer_list<WideString> args) {
  switch (side) {
    case ErrorSide::kQuery:
      throw FromNumber<EMDOClientError>(side, number, args);
    case ErrorSide::kEvents:
      throw FromNumber<EIBClientError>(side, number, args);
  }
  std::abort();
}

EMDOFirebirdError MDOFirebirdError(const ISC_STATUS* status) {
  return FromStatus<EMDOFirebirdError>(status);
}

EMDOClientError MDOClientError(int number, std::initializer_list<WideString> args) {
  return FromNumber<EMDOClientError>(ErrorSide::kQuery, number, args);
}

void ShowDatabaseError(const EFbError& error, const WideString& context,
                       const WideString& caption) {
  static constexpr std::u16string_view kNoRights =
      u"Lo siento, no tienes autorización para realizar esta acción";
  static constexpr std::u16string_view kDuplicateKey =
      u"El registro que intentas ingresar ya existe (Violación de Clave primaria)";
  WideString text;
  if (error.FirebirdCode == isc_no_priv) {
    text = kNoRights;
  } else if (error.FirebirdCode == isc_unique_key_violation) {
    text = kDuplicateKey;
  } else {
    text = context + u"\r\n" + u"Mensaje: " + error.Message();
  }
  MessageBox(text, caption, MB_OK | MB_ICONERROR);
}

bool IsLostConnection(const EFbError& error) {
  return IsLostConnection(error.FirebirdCode);
}

bool IsLostConnection(int32_t firebird_code) {
  switch (firebird_code) {
    case isc_network_error:
    case isc_net_read_err:
    case isc_net_write_err:
    case isc_lost_db_connection:
    case isc_att_shutdown:
      return true;
    default:
      return false;
  }
}

}  // namespace fesko::db
