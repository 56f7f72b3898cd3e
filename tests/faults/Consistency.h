// Is the web service in step with the workshop? Compares every client, repair and budget of a
// workshop database with what the stand-in web service last received for it, field by field,
// and checks that the sync markers in a config.ini claim nothing the web service lacks. Works
// the same for a test that runs the agent in its own process and for one that runs Dunmar.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tests/support/StandIn.h"

namespace fesko::db {
class TDataModule1;
}

namespace fesko::test {

class WebConsistency {
 public:
  // Reads the database through a connection of its own (the attachment string CreateDatabase
  // returns), so it never touches the transaction of an agent under test.
  explicit WebConsistency(const std::string& attachment);
  ~WebConsistency();
  WebConsistency(const WebConsistency&) = delete;
  WebConsistency& operator=(const WebConsistency&) = delete;

  // One readable line per difference; empty when for every client, repair and budget the last
  // document the web service accepted carrying each field holds the field as the database holds
  // it now, and the last company, budget-state, state and currency load it accepted (if any)
  // holds those tables as they are now. Only accepted calls count: a call the stand-in failed on
  // purpose changed nothing. Ask while the stand-in is up: one that is away has received nothing.
  std::vector<std::string> Differences(const StandIn& web);
  std::vector<std::string> Differences(const std::vector<StandIn::Call>& calls);

  // What the markers of `config_ini` claim as sent but the web service does not hold: a client
  // or repair at or below its code marker, and not in its gaps, that never arrived (with a
  // repair's intake fields as they are now), and a client, repair state or budget stamped before
  // its date/time marker that is not on the web service as the database holds it. Empty markers
  // claim nothing. The first start seeds the markers past every row already there, which it never
  // sends: put those rows on the web service first (initialise everything), or they are listed
  // here.
  std::vector<std::string> MarkerOvershoots(const std::string& config_ini, const StandIn& web);
  std::vector<std::string> MarkerOvershoots(const std::string& config_ini,
                                            const std::vector<StandIn::Call>& calls);

 private:
  std::unique_ptr<db::TDataModule1> data_;
};

// The lines one per row, for a failure message.
std::string Describe(const std::vector<std::string>& differences);

// What a database text (Windows-1252) becomes once the web service has read the upload: accents
// folded to plain letters, separators blanked, text that is not clean dropped, blanks trimmed;
// in UTF-8. A model of the uploads' value encoding kept apart from the program's own, so that a
// fault there shows as a difference.
std::string AsTheWebReadsIt(std::string_view ansi);

}  // namespace fesko::test
