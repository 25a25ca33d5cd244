// The command line of orn5300log, the MAC address forms it takes, and the
// pieces of its reports that keep logged text harmless.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "img/json_writer.h"
#include "record/commands.h"
#include "record/identity.h"
#include "record/log_cli.h"

namespace {

using record::UnitQuery;

struct ArgsCase {
  std::vector<std::string> args;
  std::string error;  // empty: accepted
  std::string command = "";
  std::string log = "";
  std::string unit = "";  // Describe() of the query
};

TEST(LogCommandLine, CommandsOptionsAndTheirErrors) {
  const ArgsCase cases[] = {
      {{"summary", "prod.csv"}, "", "summary", "prod.csv"},
      {{"--json", "duplicates", "prod.csv"}, "", "duplicates", "prod.csv"},
      {{"show", "prod.csv", "--mac", "00-80-0f-11-22-30"}, "", "show", "prod.csv", "MAC address 00:80:0F:11:22:30"},
      {{"show", "--mac=00800f112230", "prod.csv"}, "", "show", "prod.csv", "MAC address 00:80:0F:11:22:30"},
      {{"show", "prod.csv", "--serial", "00a1"}, "", "show", "prod.csv", "serial number 00A1"},
      {{"--", "summary", "-odd.csv"}, "", "summary", "-odd.csv"},
      {{"summary", "-"}, "", "summary", "-"},
      {{}, "no command given"},
      {{"list", "prod.csv"}, "unknown command 'list'"},
      {{"summary"}, "summary takes one log file"},
      {{"duplicates", "a.csv", "b.csv"}, "duplicates takes one log file"},
      {{"summary", "prod.csv", "-x"}, "unknown option -x"},
      {{"summary", "prod.csv", "--json=yes"}, "option --json takes no value"},
      {{"show", "prod.csv", "--serial"}, "option --serial needs a value"},
      {{"show", "prod.csv"}, "show needs --mac MAC or --serial SERIAL"},
      {{"summary", "prod.csv", "--mac", "00:80:0F:11:22:30"}, "option --mac does not apply to summary"},
      {{"show", "prod.csv", "--mac", "00:80:0F:11:22:30", "--serial", "A1"}, "--mac and --serial exclude each other"},
      {{"show", "prod.csv", "--serial", ""}, "--serial takes a serial number, not an empty text"},
      {{"show", "prod.csv", "--mac", "00:80:0F:11:22"},
       "--mac takes a MAC address such as 00:80:0F:11:22:30, not '00:80:0F:11:22'"},
      {{"show", "prod.csv", "--mac", "00:80-0F:11:22:30"},
       "--mac takes a MAC address such as 00:80:0F:11:22:30, not '00:80-0F:11:22:30'"},
      {{"show", "prod.csv", "--mac", "00:80:0F:11:22:3G"},
       "--mac takes a MAC address such as 00:80:0F:11:22:30, not '00:80:0F:11:22:3G'"},
  };
  for (const ArgsCase& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    record::LogOptions options;
    std::string error;
    const bool ok = record::ParseLogArgs(c.args, options, error);
    EXPECT_EQ(ok, c.error.empty());
    EXPECT_EQ(error, c.error);
    if (!ok) continue;
    EXPECT_EQ(options.command, c.command);
    EXPECT_EQ(options.log, c.log);
    EXPECT_EQ(options.unit ? options.unit->Describe() : "", c.unit);
  }
}

TEST(LogCommandLine, HelpAndVersionNeedNoCommand) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"-h"}, {"--version"}, {"bogus", "--help"}}) {
    record::LogOptions options;
    std::string error;
    EXPECT_TRUE(record::ParseLogArgs(args, options, error)) << error;
  }
}

TEST(UnitIdentity, MacAddressesAndSerialNumbersMatchWhateverTheirForm) {
  const UnitQuery mac{UnitQuery::Kind::kMac, "00800F112230"};
  const UnitQuery serial{UnitQuery::Kind::kSerial, "000000A1"};
  ProductionRecord r;
  for (const char* text : {"00:80:0F:11:22:30", "00:80:0f:11:22:30", "00-80-0F-11-22-30", "00800F112230"}) {
    r.mac = text;
    EXPECT_TRUE(mac.Matches(r)) << text;
  }
  for (const char* text : {"00:80:0F:11:22:31", "00:80:0F:11:22:30 ", "", "00:80:0F:11:22-30"}) {
    r.mac = text;
    EXPECT_FALSE(mac.Matches(r)) << text;
  }
  for (const char* text : {"000000A1", "000000a1"}) {
    r.serial = text;
    EXPECT_TRUE(serial.Matches(r)) << text;
  }
  for (const char* text : {"A1", "0000000A1", ""}) {
    r.serial = text;
    EXPECT_FALSE(serial.Matches(r)) << text << ": leading zeros count";
  }
}

TEST(LogReports, LoggedTextCannotSteerTheTerminal) {
  EXPECT_EQ(record::Shown("ST01"), "ST01");
  EXPECT_EQ(record::Shown(std::string("a\x1b[2Jb\r\n\x7f\x00", 10)), "a\\x1B[2Jb\\x0D\\x0A\\x7F\\x00");
  EXPECT_EQ(record::Shown("caf\xc3\xa9"), "caf\xc3\xa9");
}

TEST(LogReports, FractionsInJsonAreAlwaysValidNumbers) {
  const std::pair<double, std::string> cases[] = {
      {1.0, "1"}, {0.25, "0.25"}, {1.0 / 3, "0.333333"}, {0.0, "0"},
      {std::nan(""), "null"}, {std::numeric_limits<double>::infinity(), "null"}};
  for (const auto& [value, text] : cases) {
    img::JsonWriter j;
    j.Real(value);
    EXPECT_EQ(j.str(), text);
  }
}

}  // namespace
