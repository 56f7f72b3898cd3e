// config.ini, the settings file beside the executable, read and written with the semantics of
// a Windows profile file: section and key names without regard to case, values trimmed and
// unquoted, at most 2047 characters. Each use opens the file, touches a few keys and frees it.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "base/Errors.h"
#include "base/TextKinds.h"

namespace fesko {

// The settings file, and its section of the database connection with the section's keys.
inline constexpr char kConfigFileName[] = "config.ini";
inline constexpr char kConnectionSection[] = "conexion";
inline constexpr char kServerKey[] = "ipserver";
inline constexpr char kUserKey[] = "usuario";
inline constexpr char kPasswordKey[] = "clave";
inline constexpr char kDatabasePathKey[] = "rutabd";

// An open settings file: only its path; every read and write goes to the file itself.
class TIniFile {
 public:
  explicit TIniFile(std::string path) : path_(std::move(path)) {}
  const std::string& FileName() const { return path_; }

 private:
  std::string path_;
};

// The folder that holds the executable, where config.ini lives. Tests may point it elsewhere.
std::string ApplicationFolder();
void SetApplicationFolder(const std::string& folder);

// Opens `name` in the application folder; a missing file is reported in a box and gives none.
std::unique_ptr<TIniFile> OpenConfigFile(const std::string& name);

// The value, or "" when the key is absent, the file is none, or anything fails. Never raises.
AnsiString ReadConfigString(const TIniFile* file, const AnsiString& section, const AnsiString& key);
// The same without the length limit, for the program's own values that may grow past it.
AnsiString ReadConfigText(const TIniFile* file, const AnsiString& section, const AnsiString& key);

// Writes the value, creating the section and key as needed. The file is replaced whole and
// atomically, keeping its permissions. Raises "Unable to write to %s" when refused.
void WriteConfigString(const TIniFile* file, const AnsiString& section, const AnsiString& key,
                       const AnsiString& value);

// Several values written as one: the same text as writing them one after another, with one
// replacement of the file (each replacement waits for the disk), so either all of them are
// written or, when it is refused, none.
struct ConfigEntry {
  AnsiString section;
  AnsiString key;
  AnsiString value;
};
void WriteConfigStrings(const TIniFile* file, std::span<const ConfigEntry> entries);

// Releases the file; accepts none and ignores any error.
void FreeConfigFile(std::unique_ptr<TIniFile>& file) noexcept;

// The profile-file rules on a text already in memory, for the reader above and for tests.
inline constexpr std::size_t kMaxProfileValue = 2047;
AnsiString ProfileValue(std::string_view contents, std::string_view section, std::string_view key,
                        std::size_t max_length = kMaxProfileValue);
std::string ProfileWithValue(std::string_view contents, std::string_view section,
                             std::string_view key, std::string_view value);

}  // namespace fesko
