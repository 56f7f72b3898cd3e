// The test ground: fresh workshop databases on the local Firebird server, made by the same
// script the demo uses, and the users the scripts create.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace fesko::test {

std::string SourceDir();
std::string DbUser();
std::string DbPassword();
std::string NoRightsUser();
std::string NoRightsPassword();

// Creates a fresh database from workshop/schema.sql (and workshop/demo.sql when asked) and
// returns its attachment string, "localhost:/path". The name is made unique per process. The
// database is dropped when the process ends, however it ends.
std::string CreateDatabase(const std::string& name, bool demo = false);

// Has a database that something else made (a script under test) dropped like those above.
void DropWhenDone(const std::string& attachment);
// Drops a database now (scripts/drop-db); one of those above is then no longer watched.
void DropDatabase(const std::string& attachment);

// The path part of an attachment string.
std::string PathOf(const std::string& attachment);

// Runs an SQL script (Windows-1252 bytes, statements ended by ';') through isql as the test
// user and returns what isql printed. Fails the test when isql reports an error.
std::string RunIsql(const std::string& attachment, const std::string& sql);

// The error of type `Error` that `fn` raised; a test failure when it raised none.
template <typename Error, typename Fn>
Error Catch(Fn fn) {
  try {
    fn();
  } catch (const Error& e) {
    return e;
  }
  ADD_FAILURE() << "expected an error";
  throw std::logic_error("no error");
}

// Runs a shell command and returns its exit status.
int Shell(const std::string& command);
// Runs a shell command and returns what it printed; its exit status goes to `status`.
std::string Capture(const std::string& command, int* status = nullptr);

// The whole file as bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& file);

}  // namespace fesko::test
