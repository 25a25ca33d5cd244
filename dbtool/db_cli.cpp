#include "dbtool/db_cli.h"

#include <cstdio>
#include <cstdlib>

#include "dbtool/commands.h"
#include "img/option_scan.h"

#ifndef ORN_VERSION_STRING
#define ORN_VERSION_STRING "0"
#endif

namespace dbtool {

namespace {

using img::OptionInfo;

const std::vector<OptionInfo> kOptions = {
    {"help", 'h', false, nullptr},      {"version", 0, false, nullptr},
    {"print-sql", 0, false, "init"},    {"from", 0, true, "pool create"},
    {"json", 0, false, "pool list"},    {"output", 'o', true, "export"},
    {"spool", 0, true, "flush"},
};

bool Apply(const OptionInfo& rule, const std::string& value, DbOptions& options, std::string& error) {
  const std::string name = rule.long_name;
  if (name == "help") options.help = true;
  if (name == "version") options.version = true;
  if (name == "print-sql") options.print_sql = true;
  if (name == "json") options.json = true;
  if (name == "from" || name == "output" || name == "spool") {
    if (value.empty()) {
      error = "--" + name + " takes a file name, not an empty text";
      return false;
    }
    (name == "from" ? options.from : name == "output" ? options.output : options.spool) = value;
  }
  return true;
}

}  // namespace

bool ParseDbArgs(const std::vector<std::string>& args, DbOptions& options, std::string& error) {
  options = DbOptions{};
  std::vector<std::string> positional;
  std::vector<const OptionInfo*> given;
  auto apply = [&options](const OptionInfo& rule, const std::string& value, std::string& why) {
    return Apply(rule, value, options, why);
  };
  if (!img::ScanOptions(args, kOptions, apply, positional, given, error)) return false;
  if (options.help || options.version) return true;
  if (positional.empty()) {
    error = "no command given";
    return false;
  }
  options.command = positional[0];
  const std::string& command = options.command;
  std::string full = command;  // the command as the option table names it
  size_t operands = 1;
  if (command == "pool") {
    if (positional.size() < 2) {
      error = "pool needs create or list";
      return false;
    }
    options.pool_command = positional[1];
    full = "pool " + options.pool_command;
    if (options.pool_command == "create") {
      operands = 3;
      if (positional.size() < 3) {
        error = "pool create needs a pool name";
        return false;
      }
      options.pool_name = positional[2];
    } else if (options.pool_command == "list") {
      operands = 2;
    } else {
      error = "unknown pool command '" + options.pool_command + "'";
      return false;
    }
  } else if (command != "init" && command != "export" && command != "flush") {
    error = "unknown command '" + command + "'";
    return false;
  }
  if (!img::OptionsApplyTo(given, full, error)) return false;
  if (positional.size() > operands) {
    error = full + " takes no operand '" + positional[operands] + "'";
    return false;
  }
  if (full == "pool create" && options.from.empty()) {
    error = "pool create needs --from INI";
    return false;
  }
  return true;
}

std::string DbUsage() {
  return "Usage: orn5300db [OPTIONS] COMMAND\n"
         "Manage the production line's database that orn5300cli uses when ORN5300_DB is set.\n"
         "\n"
         "Commands:\n"
         "  init                      create the schema, or upgrade an older one (a current\n"
         "                            schema stays as it is)\n"
         "  init --print-sql          print the PostgreSQL schema and a station role; connects\n"
         "                            to nothing\n"
         "  pool create NAME --from INI\n"
         "                            an identity pool with the range and increments of the\n"
         "                            INI file's [MacAddress] and [SerialNumber] keys\n"
         "  pool list                 per pool: next identity, remaining, issued, wasted\n"
         "  export                    the production record as the CSV log orn5300cli writes\n"
         "  flush                     deliver this station's spool\n"
         "\n"
         "Options:\n"
         "  --from INI         pool create: the station's INI file\n"
         "  --json             pool list: one JSON document on standard output\n"
         "  -o, --output FILE  export: write FILE instead of standard output\n"
         "  --spool FILE       flush: this spool instead of the default one\n"
         "  -h, --help         this text\n"
         "      --version      the version\n"
         "\n"
         "Environment: ORN5300_DB, the ODBC connection string (DSN=... or Driver={...};...);\n"
         "ORN5300_SPOOL, the spool file.\n"
         "\n"
         "Exit status: 0 done, 1 not done (pool name taken, spool entries left), 2 usage or\n"
         "file error, 3 database unreachable or login refused, 4 schema missing or unknown,\n"
         "5 the database refused a statement.\n";
}

int RunDbTool(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] != nullptr ? argv[i] : "");
  DbOptions options;
  std::string error;
  if (!ParseDbArgs(args, options, error)) {
    std::fprintf(stderr, "orn5300db: %s\nTry 'orn5300db --help' for more information.\n", error.c_str());
    return kDbUsage;
  }
  if (options.help) {
    std::fputs(DbUsage().c_str(), stdout);
    return kDbOk;
  }
  if (options.version) {
    std::printf("orn5300db %s\n", ORN_VERSION_STRING);
    return kDbOk;
  }
  const char* connection = std::getenv("ORN5300_DB");
  return RunDbCommand(options, connection != nullptr ? connection : "");
}

}  // namespace dbtool
