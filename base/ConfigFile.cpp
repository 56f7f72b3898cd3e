#include "base/ConfigFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "base/MessageBox.h"
#include "base/TextHelpers.h"

namespace fesko {
namespace {

std::mutex g_folder_mutex;
std::string g_folder;

std::vector<std::string_view> SplitLines(std::string_view contents) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < contents.size()) {
    std::size_t end = contents.find('\n', start);
    if (end == std::string_view::npos) end = contents.size();
    std::string_view line = contents.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

// Whether a line opens a section, and which.
bool SectionName(std::string_view line, std::string_view* name) {
  std::string_view t = Trim(line, kBlanksAndLineEnds);
  if (t.size() < 2 || t.front() != '[') return false;
  auto close = t.find(']');
  if (close == std::string_view::npos) return false;
  *name = Trim(t.substr(1, close - 1), kBlanksAndLineEnds);
  return true;
}

bool KeyOf(std::string_view line, std::string_view* key, std::string_view* value) {
  auto eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  *key = Trim(line.substr(0, eq), kBlanksAndLineEnds);
  *value = line.substr(eq + 1);
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* contents) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *contents = buffer.str();
  return !in.bad();
}

[[noreturn]] void RaiseUnableToWrite(const std::string& path) {
  throw Exception(FormatMessage(u"Unable to write to %s", {AnsiToWide(path)}));
}

// Writes beside the target and renames over it, so a crash leaves the old file or the new one,
// never half of one. The new file gets the old one's mode, or owner-only when there was none:
// it holds the database password.
void ReplaceFile(const std::string& path, const std::string& contents) {
  struct stat old_stat {};
  bool existed = ::stat(path.c_str(), &old_stat) == 0;
  // A file marked read-only stays as it is, even for root, who could write through the mark.
  if (existed && ((old_stat.st_mode & S_IWUSR) == 0 || ::access(path.c_str(), W_OK) != 0)) {
    RaiseUnableToWrite(path);
  }
  std::string temp = path + ".tmpXXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) RaiseUnableToWrite(path);
  mode_t mode = existed ? (old_stat.st_mode & 07777) : 0600;
  bool ok = ::fchmod(fd, mode) == 0;
  if (ok && existed) {
    // Keep the owner when we may (running as root over a user's file).
    if (::fchown(fd, old_stat.st_uid, old_stat.st_gid) != 0 && errno != EPERM) ok = false;
  }
  std::size_t written = 0;
  while (ok && written < contents.size()) {
    ssize_t n = ::write(fd, contents.data() + written, contents.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    written += static_cast<std::size_t>(n);
  }
  if (ok) ok = ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (ok) ok = ::rename(name.data(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(name.data());
    RaiseUnableToWrite(path);
  }
}

AnsiString ReadConfigValue(const TIniFile* file, const AnsiString& section, const AnsiString& key,
                           std::size_t max_length) {
  if (!file) return {};
  try {
    std::string contents;
    if (!ReadWholeFile(file->FileName(), &contents)) return {};
    return ProfileValue(contents, section, key, max_length);
  } catch (...) {
    return {};
  }
}

}  // namespace

std::string ApplicationFolder() {
  std::lock_guard lock(g_folder_mutex);
  if (!g_folder.empty()) return g_folder;
  std::vector<char> buffer(PATH_MAX + 1);
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), PATH_MAX);
  if (n <= 0) return ".";
  std::string exe(buffer.data(), static_cast<std::size_t>(n));
  auto slash = exe.rfind('/');
  return slash == std::string::npos ? "." : exe.substr(0, slash);
}

void SetApplicationFolder(const std::string& folder) {
  std::lock_guard lock(g_folder_mutex);
  g_folder = folder;
}

AnsiString ProfileValue(std::string_view contents, std::string_view section, std::string_view key,
                        std::size_t max_length) {
  bool in_section = false;
  for (std::string_view line : SplitLines(contents)) {
    std::string_view name;
    if (SectionName(line, &name)) {
      if (in_section) break;  // the first section of that name holds the key, as on Windows
      in_section = EqualsIgnoreCase(name, section);
      continue;
    }
    std::string_view k, v;
    if (in_section && KeyOf(line, &k, &v) && EqualsIgnoreCase(k, Trim(key, kBlanksAndLineEnds))) {
      v = Trim(v, kBlanksAndLineEnds);
      if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
      }
      if (v.size() > max_length) v = v.substr(0, max_length);
      return AnsiString(v);
    }
  }
  return {};
}

std::string ProfileWithValue(std::string_view contents, std::string_view section,
                             std::string_view key, std::string_view value) {
  const char* eol = contents.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
  std::vector<std::string_view> lines = SplitLines(contents);
  std::string out;
  out.reserve(contents.size() + key.size() + value.size() + section.size() + 8);
  std::string entry = std::string(Trim(key, kBlanksAndLineEnds)) + "=" + std::string(value);
  bool in_section = false, done = false;
  std::size_t last_in_section = 0;
  std::vector<std::string> result;
  result.reserve(lines.size() + 2);
  for (std::string_view line : lines) {
    std::string_view name;
    if (!done && SectionName(line, &name)) {
      if (in_section) {
        // The key was not in its section: it goes after the section's last non-blank line.
        result.insert(result.begin() + static_cast<long>(last_in_section) + 1, entry);
        done = true;
        in_section = false;
      } else if (EqualsIgnoreCase(name, section)) {
        in_section = true;
        last_in_section = result.size();
      }
      result.emplace_back(line);
      continue;
    }
    std::string_view k, v;
    if (!done && in_section && KeyOf(line, &k, &v) &&
        EqualsIgnoreCase(k, Trim(key, kBlanksAndLineEnds))) {
      result.push_back(entry);
      done = true;
      in_section = false;
      continue;
    }
    if (in_section && !Trim(line, kBlanksAndLineEnds).empty()) last_in_section = result.size();
    result.emplace_back(line);
  }
  if (!done && in_section) {
    result.insert(result.begin() + static_cast<long>(last_in_section) + 1, entry);
    done = true;
  }
  if (!done) {
    // Appended rather than prepended to a temporary: GCC 12 at -O3 warns falsely (-Wrestrict).
    result.push_back(std::string(1, '[').append(section).append(1, ']'));
    result.push_back(entry);
  }
  for (const std::string& line : result) {
    out += line;
    out += eol;
  }
  return out;
}

std::unique_ptr<TIniFile> OpenConfigFile(const std::string& name) {
  static constexpr std::u16string_view kMissing =
      u"Archivo .INI no existe, créelo y vuelva a intentarlo";
  static constexpr std::u16string_view kCaption = u"Archivo .INI";
  std::string path = ApplicationFolder() + "/" + name;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    MessageBox(WideString(kMissing), WideString(kCaption), MB_OK | MB_ICONERROR);
    return nullptr;
  }
  return std::make_unique<TIniFile>(path);
}

AnsiString ReadConfigString(const TIniFile* file, const AnsiString& section,
                            const AnsiString& key) {
  return ReadConfigValue(file, section, key, kMaxProfileValue);
}

AnsiString ReadConfigText(const TIniFile* file, const AnsiString& section, const AnsiString& key) {
  return ReadConfigValue(file, section, key, std::string::npos);
}

void WriteConfigString(const TIniFile* file, const AnsiString& section, const AnsiString& key,
                       const AnsiString& value) {
  const ConfigEntry entry{section, key, value};
  WriteConfigStrings(file, std::span(&entry, 1));
}

void WriteConfigStrings(const TIniFile* file, std::span<const ConfigEntry> entries) {
  static constexpr std::u16string_view kNoFile = u"No settings file is open";
  if (!file) throw Exception(WideString(kNoFile));
  for (const ConfigEntry& entry : entries) {
    // A value is one line: a line break inside it would write a second key.
    if (entry.value.find_first_of("\r\n") != AnsiString::npos ||
        entry.key.find_first_of("\r\n=") != AnsiString::npos) {
      RaiseUnableToWrite(file->FileName());
    }
  }
  std::string contents;
  struct stat st {};
  if (::stat(file->FileName().c_str(), &st) == 0 && !ReadWholeFile(file->FileName(), &contents)) {
    RaiseUnableToWrite(file->FileName());
  }
  for (const ConfigEntry& entry : entries) {
    contents = ProfileWithValue(contents, entry.section, entry.key, entry.value);
  }
  ReplaceFile(file->FileName(), contents);
}

void FreeConfigFile(std::unique_ptr<TIniFile>& file) noexcept {
  file.reset();
}

}  // namespace fesko
