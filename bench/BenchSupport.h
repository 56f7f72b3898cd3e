// What every benchmark shares: settings from the environment, shell commands, workshop
// databases made and filled through isql-fb, the timings and statistics, and the report line.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace fesko::bench {

std::string Env(const char* name, const char* fallback);
// Runs a shell command and returns what it printed; throws when it fails.
std::string Capture(const std::string& command);

std::string DbUser();
std::string DbPassword();

// A fresh workshop database (scripts/create-db) named after `name` and this process, as
// "localhost:/path"; DeleteDatabase removes its file once nothing uses it any more.
std::string CreateDatabase(const std::string& name, bool demo = false);
void DeleteDatabase(const std::string& attachment);
// Runs an SQL script through isql-fb from a file, as the test user; throws when isql fails.
void RunIsql(const std::string& attachment, const std::string& sql);
// How long isql-fb takes to attach, run `statement` and write every row to /dev/null.
double IsqlSeconds(const std::string& attachment, const std::string& statement);

// A workshop of `rows` repairs, each with a device, a type, a budget and a currency, so that
// every one of the fourteen columns of the repair list is filled. Removed when it goes.
class RepairWorkshop {
 public:
  RepairWorkshop(const std::string& name, int rows);
  ~RepairWorkshop();
  RepairWorkshop(const RepairWorkshop&) = delete;
  RepairWorkshop& operator=(const RepairWorkshop&) = delete;

  const std::string& Attachment() const { return attachment_; }

 private:
  std::string attachment_;
};

double Median(std::vector<double> values);
// The value below which the fraction `p` of the values lie (nearest rank).
double Percentile(std::vector<double> values, double p);
double Seconds(std::chrono::steady_clock::duration d);

// One line of the benchmark report: "FIGURE | VALUE | GOAL | met" (or MISSED).
void PrintFigure(const std::string& figure, const std::string& value, const std::string& goal,
                 bool met);
std::string Fixed(double value, int decimals);

}  // namespace fesko::bench
