#include "tests/support/TestDatabase.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace fesko::test {
namespace {

std::string Env(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

std::string Capture(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) {
    *status = -1;
    return output;
  }
  std::array<char, 4096> buffer;
  std::size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    output.append(buffer.data(), n);
  *status = ::pclose(pipe);
  return output;
}

}  // namespace

std::string SourceDir() {
  return Env("FESKO_SOURCE_DIR", FESKO_SOURCE_DIR);
}
std::string DbUser() {
  return Env("FESKO_DB_USER", "fesko");
}
std::string DbPassword() {
  return Env("FESKO_DB_PASSWORD", "fesko");
}
std::string NoRightsUser() {
  return Env("FESKO_DB_NORIGHTS_USER", "fesko_sin_permisos");
}
std::string NoRightsPassword() {
  return Env("FESKO_DB_NORIGHTS_PASSWORD", "sinpermisos");
}

int Shell(const std::string& command) {
  return std::system(command.c_str());
}

std::string CreateDatabase(const std::string& name, bool demo) {
  std::string file = "test-" + name + "-" + std::to_string(::getpid()) + ".fdb";
  int status = 0;
  std::string out =
      Capture(SourceDir() + "/scripts/create-db " + file + (demo ? " --demo" : ""), &status);
  EXPECT_EQ(status, 0) << "create-db failed: " << out;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return "localhost:" + out;
}

std::string PathOf(const std::string& attachment) {
  auto colon = attachment.find(':');
  return colon == std::string::npos ? attachment : attachment.substr(colon + 1);
}

std::string RunIsql(const std::string& attachment, const std::string& sql) {
  char name[] = "/tmp/fesko-test-sql.XXXXXX";
  int fd = ::mkstemp(name);
  EXPECT_GE(fd, 0);
  ::close(fd);
  {
    std::ofstream file(name, std::ios::binary);
    file << sql << "\ncommit;\n";
  }
  int status = 0;
  std::string out = Capture("/usr/bin/isql-fb -q -bail -user " + DbUser() + " -password " +
                                DbPassword() + " -i " + name + " " + attachment + " 2>&1",
                            &status);
  ::unlink(name);
  EXPECT_EQ(status, 0) << "isql failed: " << out;
  return out;
}

}  // namespace fesko::test
