// The built orn5300log on a log that orn5300cli wrote while programming
// simulated devices: first runs, a rework, a refused run; then the same log
// with a crash's cut-short line and a second programming of one identity.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "e2e/eeprom_e2e_support.h"
#include "support/tool_runner.h"

namespace {

using Env = std::map<std::string, std::string>;

test::RunResult LogTool(const std::vector<std::string>& args) { return test::Run(ORN_LOG_PATH, args); }

TEST(LogTool, CommandLine) {
  const std::string try_help = "Try 'orn5300log --help' for more information.\n";
  const test::RunResult help = LogTool({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.out.rfind("Usage: orn5300log [OPTIONS] COMMAND LOG\n", 0), 0u);
  EXPECT_EQ(LogTool({"--version"}).out, "orn5300log 1.0.9.0\n");
  const test::RunResult usage = LogTool({"show", "prod.csv"});
  EXPECT_EQ(usage.exit_code, 2);
  EXPECT_EQ(usage.out, "");
  EXPECT_EQ(usage.err, "orn5300log: show needs --mac MAC or --serial SERIAL\n" + try_help);
  // Asked for JSON, a refused command line is a document too.
  const test::RunResult json_usage = LogTool({"show", "prod.csv", "--json"});
  EXPECT_EQ(json_usage.exit_code, 2);
  EXPECT_EQ(nlohmann::json::parse(json_usage.out),
            nlohmann::json::parse(R"({"schema_version":2,"tool":"orn5300log","version":"1.0.9.0","command":"show",
                "error":"show needs --mac MAC or --serial SERIAL","exit_code":2})"));
  EXPECT_EQ(nlohmann::json::parse(LogTool({"--json", "--bogus"}).out)["command"], nullptr);
}

TEST(LogTool, AMissingLogIsAnErrorAndStaysMissing) {
  test::TempDir dir;
  const std::string path = dir.File("prod.csv");
  const test::RunResult text = LogTool({"summary", path});
  EXPECT_EQ(text.exit_code, 2);
  EXPECT_EQ(text.out, "");
  EXPECT_EQ(text.err, "orn5300log: cannot open " + path + ": No such file or directory\n");
  const test::RunResult json = LogTool({"duplicates", "--json", path});
  EXPECT_EQ(json.exit_code, 2);
  const nlohmann::json doc = nlohmann::json::parse(json.out);
  EXPECT_EQ(doc["command"], "duplicates");
  EXPECT_EQ(doc["error"], "cannot open " + path + ": No such file or directory");
  EXPECT_EQ(doc["exit_code"], 2);
  EXPECT_FALSE(test::FileExists(path));
}

class LogOfAStation : public testing::Test {
 protected:
  // Three units in a series, a fourth programmed from the file as it
  // stands, its rework, and a run the duplicate guard refuses.
  void SetUp() override {
    test::WriteFile(dir_.File("config.ini"), e2e::IniText());
    test::WriteFile(dir_.File("device.json"), "{}");
    const std::vector<std::pair<std::vector<std::string>, std::string>> runs = {
        {{"-w", "-i", "config.ini", "-N"}, ""}, {{"-w", "-i", "config.ini", "-N"}, ""},
        {{"-w", "-i", "config.ini", "-N"}, ""}, {{"-w", "-i", "config.ini"}, ""},
        {{"-w", "-i", "config.ini"}, "1"},      {{"-w", "-i", "config.ini"}, ""}};
    const int expected[] = {0, 0, 0, 0, 0, 10};
    for (size_t i = 0; i < runs.size(); ++i) {
      const test::RunResult r = test::RunCli(
          runs[i].first,
          {{"ORN5300_SIM", dir_.File("device.json")}, {"ORN5300_LOG", log_}, {"ORN5300_REWORK", runs[i].second}}, "",
          dir_.path());
      ASSERT_EQ(r.exit_code, expected[i]) << "run " << i + 1 << "\n" << r.out;
    }
    // The station's name is the second field of the first record.
    const std::string text = test::ReadFile(log_);
    const size_t host_at = text.find(',', text.find("\r\n")) + 1;
    host_ = text.substr(host_at, text.find(',', host_at) - host_at);
  }

  test::RunResult Log(std::vector<std::string> args) {
    args.insert(args.begin() + 1, log_);
    return LogTool(args);
  }

  test::TempDir dir_;
  const std::string log_ = dir_.File("prod.csv");
  std::string host_;
};

TEST_F(LogOfAStation, SummaryCountsWhatTheRunsDid) {
  const test::RunResult r = Log({"summary"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string station_header = "Station" + std::string(host_.size() > 7 ? host_.size() - 7 : 0, ' ');
  const std::string station = host_ + std::string(host_.size() < 7 ? 7 - host_.size() : 0, ' ');
  EXPECT_EQ(r.out,
            "Records            6 (passed 5, failed 1)\n"
            "Exit codes         0: 5, 10: 1\n"
            "Verify             passed: 5, not run: 1\n"
            "Rework records     1\n"
            "Units              4 MAC addresses, 4 programmed (a verify passed)\n"
            "First-pass yield   100.0% (4 of 4 units passed at their first record)\n"
            "Damaged lines      0\n"
            "\n" +
                station_header + "  Records  Passed  Failed  Exit codes\n" + station +
                "        6       5       1  0: 5, 10: 1\n");

  const nlohmann::json doc = nlohmann::json::parse(Log({"summary", "--json"}).out);
  EXPECT_EQ(doc["schema_version"], 2);
  EXPECT_EQ(doc["tool"], "orn5300log");
  EXPECT_EQ(doc["log"], log_);
  // Each run that reached the device wrote a start line before it.
  EXPECT_EQ(doc["lines"], nlohmann::json::parse(R"({"total_count":12,"header_count":1,"record_count":6,
      "start_line_count":5,"damaged_count":0,"damaged_lines":[],"unterminated_last_line":false})"));
  EXPECT_EQ(doc["unfinished_runs"], nlohmann::json::array());
  EXPECT_EQ(doc["passed_count"], 5);
  EXPECT_EQ(doc["exit_codes"], nlohmann::json::parse(R"({"0":5,"10":1})"));
  EXPECT_EQ(doc["verify"], nlohmann::json::parse(R"({"passed":5,"not run":1})"));
  EXPECT_EQ(doc["unit_count"], 4);
  EXPECT_EQ(doc["first_pass_unit_count"], 4);
  EXPECT_EQ(doc["first_pass_yield"], 1);
  ASSERT_EQ(doc["stations"].size(), 1u);
  EXPECT_EQ(doc["stations"][0]["host"], host_);
  EXPECT_EQ(doc["stations"][0]["record_count"], 6);
  EXPECT_EQ(doc["stations"][0]["failed_count"], 1);
  EXPECT_EQ(doc["exit_code"], 0);
  // Nothing that counts shares a name with a list.
  for (const char* list : {"records", "duplicates", "sources", "findings"}) EXPECT_FALSE(doc.contains(list)) << list;
}

TEST_F(LogOfAStation, AReworkIsNoDuplicateAndShowFindsTheUnitsRecords) {
  const test::RunResult dup = Log({"duplicates"});
  EXPECT_EQ(dup.exit_code, 0) << dup.err;
  EXPECT_NE(dup.out.find("MAC address 00:80:0F:11:22:33: 2 successful records (rework)\n"), std::string::npos)
      << dup.out;
  EXPECT_NE(dup.out.find(", MAC address 00:80:0F:11:22:33, serial number 000000A4, exit code 0, rework\n"),
            std::string::npos);
  EXPECT_EQ(dup.out.substr(dup.out.rfind('\n', dup.out.size() - 2) + 1),
            "1 MAC address and 1 serial number with more than one successful record: 0 duplicates, 2 reworks\n");

  const test::RunResult show = Log({"show", "--mac", "00-80-0f-11-22-33"});
  EXPECT_EQ(show.exit_code, 0);
  EXPECT_EQ(show.out.rfind("line 8\n  time_utc       ", 0), 0u) << show.out;
  EXPECT_NE(show.out.find("  verify         started\n  exit_code\n"), std::string::npos) << show.out;
  EXPECT_NE(show.out.find("\n\nline 11\n"), std::string::npos);
  EXPECT_NE(show.out.find("  exit_code      10\n  error          MAC address 00:80:0F:11:22:33 was already programmed"),
            std::string::npos);

  const nlohmann::json doc = nlohmann::json::parse(Log({"show", "--json", "--serial", "000000a4"}).out);
  EXPECT_EQ(doc["query"], nlohmann::json::parse(R"({"serial":"000000A4"})"));
  ASSERT_EQ(doc["records"].size(), 5u);  // two runs with their start lines, and a refused run
  EXPECT_EQ(doc["records"][0]["verify"], "started");
  EXPECT_EQ(doc["records"][0]["exit_code"], nullptr);
  EXPECT_EQ(doc["records"][3]["line"], 11);
  EXPECT_EQ(doc["records"][3]["rework"], "yes");
  EXPECT_EQ(doc["records"][4]["verify"], "not run");
  // Numbers as numbers, the chip ID as text as orn5300img gives it, and an
  // empty column as null.
  EXPECT_EQ(doc["records"][4]["exit_code"], 10);
  EXPECT_EQ(doc["records"][1]["adapter"], 0);
  EXPECT_EQ(doc["records"][1]["bytes_written"], 512);
  EXPECT_EQ(doc["records"][1]["chip_id"], "0x53000000");
  EXPECT_EQ(doc["records"][1]["error"], nullptr);
  EXPECT_EQ(doc["records"][4]["image_sha256"], nullptr);
  EXPECT_EQ(doc["lines"]["record_count"], 6);

  const test::RunResult none = Log({"show", "--serial", "A4"});
  EXPECT_EQ(none.exit_code, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.err, "orn5300log: " + log_ + ": no record of serial number A4\n");
}

TEST_F(LogOfAStation, ACrashAndASecondProgrammingShowUp) {
  // A run that died in the middle of its append, then one that programmed
  // the first unit's identity again on another station (the next append
  // starts on a line of its own).
  std::string text = test::ReadFile(log_);
  const size_t second = text.find("\r\n", text.find("\r\n") + 2) + 2;  // line 3: the first run's record
  std::string again = text.substr(second, text.find("\r\n", second) + 2 - second);
  again.replace(again.find("," + host_ + ","), host_.size() + 2, ",ST99,");
  // And a run killed while it programmed: its start line and nothing after.
  std::string started = text.substr(text.find("\r\n") + 2, second - text.find("\r\n") - 2);
  started.replace(started.find("00:80:0F:11:22:30"), 17, "00:80:0F:11:22:99");
  started.replace(started.find("," + host_ + ","), host_.size() + 2, ",ST99,");
  text += again.substr(0, 40) + "\r\n" + again + started + again.substr(0, 30);
  test::WriteFile(log_, text);

  const test::RunResult dup = Log({"duplicates"});
  EXPECT_EQ(dup.exit_code, 1);
  EXPECT_NE(dup.out.find("MAC address 00:80:0F:11:22:30: 2 successful records (duplicate)\n  line 3: "),
            std::string::npos)
      << dup.out;
  EXPECT_NE(dup.out.find("  line 14: " + again.substr(0, 20) + " on ST99, MAC address 00:80:0F:11:22:30"),
            std::string::npos);
  EXPECT_EQ(dup.err, "orn5300log: " + log_ +
                         ": 2 damaged lines skipped (lines 13, 16; the last line has no line end)\n");

  const nlohmann::json doc = nlohmann::json::parse(Log({"duplicates", "--json"}).out);
  EXPECT_EQ(doc["duplicate_count"], 2);  // the MAC address and the serial number
  EXPECT_EQ(doc["rework_count"], 2);  // the rework groups of the fourth unit
  EXPECT_EQ(doc["groups"][0]["kind"], "mac");
  EXPECT_EQ(doc["groups"][0]["rework_only"], false);
  EXPECT_EQ(doc["exit_code"], 1);

  const nlohmann::json summary = nlohmann::json::parse(Log({"summary", "--json"}).out);
  EXPECT_EQ(summary["lines"]["damaged_count"], 2);
  EXPECT_EQ(summary["lines"]["damaged_lines"], nlohmann::json::parse("[13,16]"));
  ASSERT_EQ(summary["unfinished_runs"].size(), 1u);
  EXPECT_EQ(summary["unfinished_runs"][0]["line"], 15);
  EXPECT_EQ(summary["unfinished_runs"][0]["mac"], "00:80:0F:11:22:99");
  EXPECT_EQ(summary["unfinished_runs"][0]["host"], "ST99");
  EXPECT_NE(Log({"summary"}).out.find("Unfinished runs    1: line 15 00:80:0F:11:22:99 on ST99\n"), std::string::npos);
  EXPECT_EQ(summary["lines"]["unterminated_last_line"], true);
  EXPECT_EQ(summary["stations"].size(), 2u);
  EXPECT_EQ(summary["unit_count"], 4);
}

}  // namespace
