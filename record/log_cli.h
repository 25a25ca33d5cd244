// The command line of orn5300log: commands, options, usage text.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "record/identity.h"

namespace record {

// Exit codes of orn5300log.
constexpr int kLogOk = 0;        // the report; no duplicate; the unit's records
constexpr int kLogFindings = 1;  // a duplicate that is no rework; no record of the unit
constexpr int kLogError = 2;     // usage, a log that cannot be opened or read

struct LogOptions {
  std::string command;  // summary, duplicates, show
  std::string log;
  bool json = false;
  bool help = false;
  bool version = false;
  std::optional<UnitQuery> unit;  // show --mac / --serial
};

// Parses the arguments after the program name. True on success; false with
// `error` set (one line, without the program name).
bool ParseLogArgs(const std::vector<std::string>& args, LogOptions& options, std::string& error);

// The usage text.
std::string LogUsage();

// The whole run behind main(): parse, run the command, print; the exit code.
int RunLogTool(int argc, char** argv);

}  // namespace record
