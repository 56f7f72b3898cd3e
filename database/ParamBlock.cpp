#include "database/ParamBlock.h"

#include <array>
#include <cstdint>
#include <string_view>

#include "base/FormatSettings.h"
#include "base/TextHelpers.h"

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

// The length is one byte: a longer value would wrap it and the server would read the rest of
// the value as items of the block.
void AppendString(std::string& block, int code, const std::string& value, const std::string& item,
                  ErrorSide side = ErrorSide::kQuery) {
  if (value.size() > 255) RaiseClientError(side, mdoParamValueTooLong, {AnsiToWide(item)});
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
        RaiseClientError(side, mdoDPBConstantUnknown, {AnsiToWide(written)});
      default:
        RaiseClientError(side, mdoDPBConstantNotSupported, {AnsiToWide(name)});
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

}  // namespace fesko::db
