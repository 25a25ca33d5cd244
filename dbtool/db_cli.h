// The command line of orn5300db: commands, options, usage text, exit codes.
#pragma once

#include <string>
#include <vector>

namespace dbtool {

// Exit codes of orn5300db.
constexpr int kDbOk = 0;
constexpr int kDbNotDone = 1;       // pool create: the name is taken; flush: entries left or rejected
constexpr int kDbUsage = 2;         // usage, ORN5300_DB not set, a file that cannot be read or
                                    // written, a pool range the INI file cannot make
constexpr int kDbUnreachable = 3;   // server unreachable, login refused, connection lost
constexpr int kDbSchema = 4;        // no schema (run init), or a version this program does not know
constexpr int kDbFailed = 5;        // the database refused a statement (rights, constraints)

struct DbOptions {
  // init, pool, export, flush; for pool the subcommand goes to `pool_command`.
  std::string command;
  std::string pool_command;  // create, list
  std::string pool_name;     // pool create NAME
  std::string from;          // pool create --from INI
  std::string output;        // export -o FILE; empty: standard output
  std::string spool;         // flush --spool FILE; empty: the default place
  bool print_sql = false;    // init --print-sql
  bool json = false;         // pool list --json
  bool help = false;
  bool version = false;
};

// Parses the arguments after the program name. false with `error` set
// (one line, without the program name).
bool ParseDbArgs(const std::vector<std::string>& args, DbOptions& options, std::string& error);

std::string DbUsage();

// The whole run behind main(); the exit code.
int RunDbTool(int argc, char** argv);

}  // namespace dbtool
