#include "dbtool/commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "config/ini_reader.h"
#include "database/spool.h"
#include "img/json_writer.h"
#include "platform/stdout_redirect.h"
#include "provision/production_log.h"

namespace dbtool {

namespace {

void Message(const std::string& text) { std::fprintf(stderr, "orn5300db: %s\n", text.c_str()); }

int Fail(const db::Result& result) {
  Message(result.message);
  return ExitCodeFor(result.status);
}

// Connects; for every command but init also checks the schema. false with
// the message in `result` and the exit code in `code`.
bool ConnectTo(db::LineDatabase& database, const std::string& connection_string, bool check_schema,
               db::Result& result, int& code) {
  if (connection_string.empty()) {
    result = {db::Status::kFailed,
              std::string(db::kDatabaseVariable) +
                  " is not set: it holds the database's ODBC connection string, such as "
                  "Driver={PostgreSQL Unicode};Server=mes;Database=factory;Uid=line3",
              {}};
    code = kDbUsage;
    return false;
  }
  result = check_schema ? database.Open(connection_string) : database.Connect(connection_string);
  code = ExitCodeFor(result.status);
  return result.ok();
}

// ConnectTo, with the message printed on a failure.
bool OpenDatabase(db::LineDatabase& database, const std::string& connection_string, bool check_schema,
                  int& code) {
  db::Result result;
  if (ConnectTo(database, connection_string, check_schema, result, code)) return true;
  Message(result.message);
  return false;
}

int RunInit(const DbOptions& options, const std::string& connection_string) {
  if (options.print_sql) {
    std::fputs(db::PostgresSetupScript().c_str(), stdout);
    return kDbOk;
  }
  db::LineDatabase database;
  int code = kDbOk;
  if (!OpenDatabase(database, connection_string, false, code)) return code;
  bool created = false;
  const db::Result result = database.Init(&created);
  if (!result.ok()) return Fail(result);
  std::printf(created ? "Created the schema (version %d).\n" : "The schema is current (version %d).\n",
              db::kSchemaVersion);
  return kDbOk;
}

std::string SerialRange(const db::PoolSpec& spec) {
  if (spec.first_serial.empty()) return "no serial numbers";
  return "serial numbers " + spec.first_serial + " to " + spec.last_serial + " step " +
         std::to_string(spec.serial_increment);
}

int RunPoolCreate(const DbOptions& options, const std::string& connection_string) {
  RunSettings rs;
  int read = 0;
  {
    // The INI reader's messages are diagnostics here.
    platform::StdoutToStderr redirect;
    read = ReadIniFile(options.from.c_str(), rs);
  }
  if (read != 0) {
    Message("cannot read the identity of " + options.from);
    return kDbUsage;
  }
  if (!rs.markers.Completed("[MacAddress]")) {
    Message(options.from + " has no [MacAddress] section");
    return kDbUsage;
  }
  db::PoolSpec spec = db::PoolSpecFromSettings(options.pool_name, rs);
  if (!rs.markers.Completed("[SerialNumber]")) spec.first_serial = spec.last_serial = "";
  const std::string why = db::CheckPoolSpec(spec);
  if (!why.empty()) {
    Message("pool " + options.pool_name + " from " + options.from + ": " + why);
    return kDbUsage;
  }
  db::LineDatabase database;
  int code = kDbOk;
  if (!OpenDatabase(database, connection_string, true, code)) return code;
  const db::Result result = database.CreatePool(spec);
  if (!result.ok()) return Fail(result);
  std::printf("Created pool %s: MAC addresses %s to %s step %d, %s; %llu identities.\n",
              spec.name.c_str(), db::MacText(spec.first_mac).c_str(), db::MacText(spec.last_mac).c_str(),
              spec.mac_increment, SerialRange(spec).c_str(),
              static_cast<unsigned long long>(db::RemainingIdentities(
                  spec, spec.first_mac,
                  spec.first_serial.empty() ? std::nullopt : std::optional<std::string>(spec.first_serial))));
  return kDbOk;
}

// The next identity as the table shows it; "-" when the pool is exhausted.
std::string NextMac(const db::PoolState& p) { return p.remaining == 0 ? "-" : db::MacText(p.next_mac); }
std::string NextSerial(const db::PoolState& p) {
  if (p.remaining == 0 || p.spec.first_serial.empty()) return "-";
  return p.next_serial.value_or("-");
}

void PrintPoolTable(const std::vector<db::PoolState>& pools) {
  std::vector<std::vector<std::string>> table = {
      {"Pool", "Next MAC", "Next serial", "Remaining", "Issued", "Programmed", "Reserved", "Wasted"}};
  for (const db::PoolState& p : pools) {
    table.push_back({p.spec.name, NextMac(p), NextSerial(p), std::to_string(p.remaining),
                     std::to_string(p.issued), std::to_string(p.programmed),
                     std::to_string(p.reserved), std::to_string(p.wasted())});
  }
  std::vector<size_t> width(table[0].size(), 0);
  for (const auto& cells : table) {
    for (size_t i = 0; i < cells.size(); ++i) width[i] = std::max(width[i], cells[i].size());
  }
  std::string out;
  for (const auto& cells : table) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
      // Names and identities to the left, counts to the right.
      const std::string fill(width[i] - cells[i].size(), ' ');
      if (i > 0) line += "  ";
      line += i < 3 ? cells[i] + fill : fill + cells[i];
    }
    line.erase(line.find_last_not_of(' ') + 1);
    out += line + "\n";
  }
  if (pools.empty()) out += "(no pools)\n";
  std::fputs(out.c_str(), stdout);
}

int PoolListJson(const std::vector<db::PoolState>& pools, const db::Result& result, int code) {
  img::CommandDocument doc(kJsonSchemaVersion, "orn5300db", "pool list");
  img::JsonWriter& j = doc.j;
  if (!result.ok()) {
    j.Member("error", result.message);
    return doc.Finish(code);
  }
  j.Key("pools");
  j.BeginArray();
  for (const db::PoolState& p : pools) {
    j.BeginObject();
    j.Member("name", p.spec.name);
    j.Member("first_mac", db::MacText(p.spec.first_mac));
    j.Member("last_mac", db::MacText(p.spec.last_mac));
    j.Member("mac_increment", p.spec.mac_increment);
    j.Key("first_serial");
    p.spec.first_serial.empty() ? j.Null() : j.String(p.spec.first_serial);
    j.Key("last_serial");
    p.spec.last_serial.empty() ? j.Null() : j.String(p.spec.last_serial);
    j.Member("serial_increment", p.spec.serial_increment);
    j.Key("next_mac");
    p.remaining == 0 ? j.Null() : j.String(db::MacText(p.next_mac));
    j.Key("next_serial");
    NextSerial(p) == "-" ? j.Null() : j.String(NextSerial(p));
    j.Key("remaining_count");
    j.Unsigned(p.remaining);
    j.Key("issued_count");
    j.Unsigned(p.issued);
    j.Key("programmed_count");
    j.Unsigned(p.programmed);
    j.Key("reserved_count");
    j.Unsigned(p.reserved);
    j.Key("wasted_count");
    j.Unsigned(p.wasted());
    j.Member("created_utc", p.created_utc);
    j.EndObject();
  }
  j.EndArray();
  return doc.Finish(kDbOk);
}

int RunPoolList(const DbOptions& options, const std::string& connection_string) {
  db::LineDatabase database;
  db::Result result;
  int code = kDbOk;
  std::vector<db::PoolState> pools;
  if (ConnectTo(database, connection_string, true, result, code)) {
    result = database.ListPools(pools);
    code = ExitCodeFor(result.status);
  }
  if (!result.ok()) Message(result.message);
  if (options.json) return PoolListJson(pools, result, code);
  if (result.ok()) PrintPoolTable(pools);
  return code;
}

int RunExport(const DbOptions& options, const std::string& connection_string) {
  db::LineDatabase database;
  int code = kDbOk;
  if (!OpenDatabase(database, connection_string, true, code)) return code;
  std::FILE* out = stdout;
  if (!options.output.empty()) {
    out = std::fopen(options.output.c_str(), "wb");
    if (out == nullptr) {
      Message("cannot write " + options.output);
      return kDbUsage;
    }
  } else {
    platform::SetBinaryStdout();
  }
  bool written = std::fputs(RecordHeaderLine().c_str(), out) >= 0;
  const db::Result result = database.ForEachRecord([&](const ProductionRecord& record) {
    written = std::fputs(FormatRecordLine(record).c_str(), out) >= 0;
    return written;
  });
  written = std::fflush(out) == 0 && written;
  if (out != stdout) written = std::fclose(out) == 0 && written;
  if (result.ok() && written) return kDbOk;
  // A file cut short is no export.
  if (!options.output.empty()) {
    std::error_code ec;
    std::filesystem::remove(options.output, ec);
  }
  if (!result.ok()) return Fail(result);
  Message("cannot write " + (options.output.empty() ? std::string("the standard output") : options.output));
  return kDbUsage;
}

int RunFlush(const DbOptions& options, const std::string& connection_string) {
  const std::string path = options.spool.empty() ? db::DefaultSpoolPath() : options.spool;
  if (path.empty()) {
    Message("no spool: set ORN5300_SPOOL or HOME");
    return kDbUsage;
  }
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    std::printf("The spool %s is empty.\n", path.c_str());
    return kDbOk;
  }
  db::LineDatabase database;
  int code = kDbOk;
  if (!OpenDatabase(database, connection_string, true, code)) return code;
  db::SpoolReport report;
  const db::Result result = db::DeliverSpool(database, path, report);
  for (const std::string& why : report.messages) Message("rejected: " + why);
  std::printf("Delivered %d, left %d, rejected %d (spool %s).\n", report.delivered, report.kept,
              report.rejected, path.c_str());
  if (report.rejected > 0) Message("rejected entries are in " + path + ".rejected");
  if (!result.ok()) return Fail(result);
  return report.kept == 0 && report.rejected == 0 ? kDbOk : kDbNotDone;
}

}  // namespace

int ExitCodeFor(db::Status status) {
  switch (status) {
    case db::Status::kOk:
      return kDbOk;
    case db::Status::kUnreachable:
    case db::Status::kLoginRefused:
    case db::Status::kConnectionLost:
      return kDbUnreachable;
    case db::Status::kSchemaMissing:
    case db::Status::kSchemaUnknown:
      return kDbSchema;
    case db::Status::kPoolExists:
      return kDbNotDone;
    default:
      return kDbFailed;
  }
}

int RunDbCommand(const DbOptions& options, const std::string& connection_string) {
  if (options.command == "init") return RunInit(options, connection_string);
  if (options.command == "pool") {
    return options.pool_command == "create" ? RunPoolCreate(options, connection_string)
                                            : RunPoolList(options, connection_string);
  }
  if (options.command == "export") return RunExport(options, connection_string);
  return RunFlush(options, connection_string);
}

}  // namespace dbtool
