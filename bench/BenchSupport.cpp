#include "bench/BenchSupport.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fesko::bench {
namespace {

const std::string kSource = FESKO_SOURCE_DIR;

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string Isql() {
  return Env("ISQL", "/usr/bin/isql-fb");
}

// A script for isql-fb in a file of its own, removed when it goes.
class ScriptFile {
 public:
  explicit ScriptFile(const std::string& text) {
    char name[] = "/tmp/fesko-bench-sql.XXXXXX";
    int fd = ::mkstemp(name);
    if (fd < 0) throw std::runtime_error("mkstemp");
    ::close(fd);
    path_ = name;
    std::ofstream(path_, std::ios::binary) << text;
  }
  ~ScriptFile() { ::unlink(path_.c_str()); }
  ScriptFile(const ScriptFile&) = delete;
  ScriptFile& operator=(const ScriptFile&) = delete;

  // The isql-fb command that runs it on `attachment` as the test user.
  std::string Command(const std::string& attachment) const {
    return Isql() + " -q -bail -user " + DbUser() + " -password " + DbPassword() + " -i " + path_ +
           " " + attachment;
  }

 private:
  std::string path_;
};

}  // namespace

std::string Env(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

std::string Capture(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot run " + command);
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  if (::pclose(pipe) != 0) throw std::runtime_error("failed: " + command + "\n" + out);
  return out;
}

std::string DbUser() {
  return Env("FESKO_DB_USER", "fesko");
}
std::string DbPassword() {
  return Env("FESKO_DB_PASSWORD", "fesko");
}

std::string CreateDatabase(const std::string& name, bool demo) {
  // Other runs on the machine may bench at the same time.
  std::string file = name + "-" + std::to_string(::getpid()) + ".fdb";
  return "localhost:" +
         Trimmed(Capture(kSource + "/scripts/create-db " + file + (demo ? " --demo" : "")));
}

void DeleteDatabase(const std::string& attachment) {
  std::error_code ignored;
  std::filesystem::remove(attachment.substr(attachment.find(':') + 1), ignored);
}

void RunIsql(const std::string& attachment, const std::string& sql) {
  ScriptFile script(sql + "\ncommit;\n");
  Capture(script.Command(attachment) + " 2>&1");
}

double IsqlSeconds(const std::string& attachment, const std::string& statement) {
  ScriptFile script(statement + ";\n");
  std::string command = script.Command(attachment) + " >/dev/null 2>&1";
  auto start = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) throw std::runtime_error("isql-fb failed");
  return Seconds(std::chrono::steady_clock::now() - start);
}

RepairWorkshop::RepairWorkshop(const std::string& name, int rows)
    : attachment_(CreateDatabase(name)) {
  try {
    RunIsql(attachment_,
            "insert into tipo_aparato values (1, 'Televisor');\n"
            "insert into monedas values ('USD', 'Dolares');\n"
            "set term ^;\n"
            "execute block as declare i integer = 1; begin\n"
            "  while (i <= " +
                std::to_string(rows) +
                ") do begin\n"
                "    insert into aparato values ('NS' || :i, 'Marca ' || mod(:i, 50), "
                "'Modelo ' || :i, 1);\n"
                "    insert into reparaciones values (:i, mod(:i, 3000), 'NS' || :i,\n"
                "      'No enciende despues de una tormenta electrica', dateadd(mod(:i, 900) "
                "day to date '2022-01-01'), mod(:i, 5), current_date, current_time);\n"
                "    insert into presupuestos values (:i, :i, mod(:i, 4), dateadd(mod(:i, "
                "700) day to date '2022-02-01'), 'Cambio de fuente y limpieza general del "
                "equipo', 'USD', (:i * 7) / 4.0,\n"
                "      current_date, current_time);\n"
                "    i = i + 1;\n"
                "  end\n"
                "end^\n"
                "set term ;^");
  } catch (...) {
    DeleteDatabase(attachment_);
    throw;
  }
}

RepairWorkshop::~RepairWorkshop() {
  DeleteDatabase(attachment_);
}

double Median(std::vector<double> values) {
  return Percentile(std::move(values), 0.5);
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(values.size())));
  return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

std::string Fixed(double value, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

void PrintFigure(const std::string& figure, const std::string& value, const std::string& goal,
                 bool met) {
  std::printf("%s | %s | %s | %s\n", figure.c_str(), value.c_str(), goal.c_str(),
              met ? "met" : "MISSED");
  std::fflush(stdout);
}

}  // namespace fesko::bench
