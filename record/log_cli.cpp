#include "record/log_cli.h"

#include <cstdio>

#include "img/json_writer.h"
#include "img/option_scan.h"
#include "record/commands.h"

#ifndef ORN_VERSION_STRING
#define ORN_VERSION_STRING "0"
#endif

namespace record {

namespace {

using img::OptionInfo;

const std::vector<OptionInfo> kOptions = {
    {"help", 'h', false, nullptr}, {"version", 0, false, nullptr}, {"json", 0, false, nullptr},
    {"mac", 0, true, "show"},      {"serial", 0, true, "show"},
};

// Stores one option's value; false with `error` set.
bool Apply(const OptionInfo& rule, const std::string& value, LogOptions& options, std::string& error) {
  const std::string name = rule.long_name;
  if (name == "help") {
    options.help = true;
  } else if (name == "version") {
    options.version = true;
  } else if (name == "json") {
    options.json = true;
  } else if (name == "mac") {
    const std::optional<std::string> digits = MacDigits(value);
    if (!digits) {
      error = "--mac takes a MAC address such as 00:80:0F:11:22:30, not '" + value + "'";
      return false;
    }
    if (options.unit && options.unit->kind != UnitQuery::Kind::kMac) {
      error = "--mac and --serial exclude each other";
      return false;
    }
    options.unit = UnitQuery{UnitQuery::Kind::kMac, *digits};
  } else if (name == "serial") {
    if (value.empty()) {
      error = "--serial takes a serial number, not an empty text";
      return false;
    }
    if (options.unit && options.unit->kind != UnitQuery::Kind::kSerial) {
      error = "--mac and --serial exclude each other";
      return false;
    }
    options.unit = UnitQuery{UnitQuery::Kind::kSerial, SerialKey(value)};
  }
  return true;
}

}  // namespace

bool ParseLogArgs(const std::vector<std::string>& args, LogOptions& options, std::string& error) {
  options = LogOptions{};
  std::vector<std::string> positional;
  std::vector<const OptionInfo*> given;
  auto apply = [&options](const OptionInfo& rule, const std::string& value, std::string& why) {
    return Apply(rule, value, options, why);
  };
  const bool scanned = img::ScanOptions(args, kOptions, apply, positional, given, error);
  const bool known = !positional.empty() &&
                     (positional[0] == "summary" || positional[0] == "duplicates" || positional[0] == "show");
  if (known) options.command = positional[0];
  if (!scanned) return false;
  if (options.help || options.version) return true;

  if (positional.empty()) {
    error = "no command given";
    return false;
  }
  if (!known) {
    error = "unknown command '" + positional[0] + "'";
    return false;
  }
  const std::string& command = options.command;
  if (!img::OptionsApplyTo(given, command, error)) return false;
  if (positional.size() != 2) {
    error = command + " takes one log file";
    return false;
  }
  options.log = positional[1];
  if (command == "show" && !options.unit) {
    error = "show needs --mac MAC or --serial SERIAL";
    return false;
  }
  return true;
}

std::string LogUsage() {
  return "Usage: orn5300log [OPTIONS] COMMAND LOG\n"
         "Read the production log that orn5300cli writes when ORN5300_LOG is set.\n"
         "\n"
         "Commands:\n"
         "  summary LOG                 records per station and result, units, first-pass\n"
         "                              yield, rework records, damaged lines\n"
         "  duplicates LOG              MAC addresses and serial numbers with more than one\n"
         "                              successful record\n"
         "  show LOG --mac MAC          every record of one unit, in the order of the log\n"
         "  show LOG --serial SERIAL\n"
         "\n"
         "Options:\n"
         "  --mac MAC        00:80:0F:11:22:30, 00-80-0f-11-22-30 or 00800F112230\n"
         "  --serial SERIAL  a serial number, upper or lower case\n"
         "  --json           one JSON document on standard output\n"
         "  -h, --help       this text\n"
         "      --version    the version\n"
         "\n"
         "Exit status: 0 ok, 1 a duplicate that is no rework or no record of the unit,\n"
         "2 error.\n";
}

int RunLogTool(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] != nullptr ? argv[i] : "");
  LogOptions options;
  std::string error;
  if (!ParseLogArgs(args, options, error)) {
    std::fprintf(stderr, "orn5300log: %s\nTry 'orn5300log --help' for more information.\n", error.c_str());
    if (options.json || img::HasFlag(args, "--json")) {
      return img::UsageErrorDocument(kJsonSchemaVersion, "orn5300log", options.command, error, kLogError);
    }
    return kLogError;
  }
  if (options.help) {
    std::fputs(LogUsage().c_str(), stdout);
    return kLogOk;
  }
  if (options.version) {
    std::printf("orn5300log %s\n", ORN_VERSION_STRING);
    return kLogOk;
  }
  if (options.command == "summary") return RunSummary(options);
  if (options.command == "duplicates") return RunDuplicates(options);
  return RunShow(options);
}

}  // namespace record
