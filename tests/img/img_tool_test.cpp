// The built orn5300img as a user runs it: its command line and exit codes,
// the text and JSON reports, and device sources against the simulator,
// whose trace must show reads only.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "core/sha256.h"
#include "img_test_util.h"
#include "support/sim_trace.h"
#include "support/tool_runner.h"

namespace {

using Env = std::map<std::string, std::string>;

test::RunResult Img(const std::vector<std::string>& args, const Env& env = {}) {
  return test::Run(ORN_IMG_PATH, args, env);
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  test::WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  const std::string text = test::ReadFile(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

// The production log's image_sha256 of an EEPROM image file: the whole
// part as the write leaves it, zeros after the image.
std::string PartSha256(std::vector<uint8_t> bytes, size_t part = 512) {
  bytes.resize(part, 0);
  return Sha256::Hex(bytes.data(), bytes.size());
}

struct UsageCase {
  std::vector<std::string> args;
  int exit_code;
  std::string out_prefix;
  std::string err;
};

TEST(ImgTool, CommandLine) {
  const std::string try_help = "Try 'orn5300img --help' for more information.\n";
  const UsageCase cases[] = {
      {{"--help"}, 0, "Usage: orn5300img [OPTIONS] COMMAND SOURCE...\n", ""},
      {{"-h", "decode"}, 0, "Usage: orn5300img", ""},
      {{"--version"}, 0, "orn5300img 1.0.9.0\n", ""},
      {{}, 2, "", "orn5300img: no command given\n" + try_help},
      {{"decode", "a.bin", "--bogus"}, 2, "", "orn5300img: unknown option --bogus\n" + try_help},
      {{"verify", "a.bin"}, 2, "", "orn5300img: verify needs --ini STATION.ini\n" + try_help},
      {{"check", "/nonexistent/a.bin"}, 2, "1 source checked: 0 ok, 0 with findings (0 findings), 1 unreadable\n",
       "orn5300img: cannot open /nonexistent/a.bin: No such file or directory\n"},
      {{"decode", "device"}, 2, "", "orn5300img: device: device not found\n"},
  };
  for (const UsageCase& c : cases) {
    const test::RunResult r = Img(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_EQ(r.out.substr(0, c.out_prefix.size()), c.out_prefix);
    if (c.out_prefix.empty()) {
      EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(r.err, c.err);
  }
}

class ImgFiles : public testing::Test {
 protected:
  void SetUp() override {
    good_ = dir_.File("good.bin");
    WriteBytes(good_, img_test::Render(img_test::Example("orn5300.ini")));
    std::vector<uint8_t> bad = ReadBytes(good_);
    bad[1] |= 1;  // a group MAC address
    bad_ = dir_.File("bad.bin");
    WriteBytes(bad_, bad);
    ini_ = dir_.File("station.ini");
    test::WriteFile(ini_, img_test::Example("orn5300.ini"));
  }
  test::TempDir dir_;
  std::string good_, bad_, ini_;
};

TEST_F(ImgFiles, DecodeWritesTheIniFileAndNamesWhatItCannotGive) {
  const test::RunResult exact = Img({"decode", good_});
  EXPECT_EQ(exact.exit_code, 0);
  EXPECT_EQ(exact.err, "");
  EXPECT_EQ(exact.out.rfind("# Decoded by orn5300img from " + good_ + ": ORN5300 layout, EEPROM image.\n", 0), 0u);

  const test::RunResult to_file = Img({"decode", bad_, "-o", dir_.File("bad.ini")});
  EXPECT_EQ(to_file.exit_code, 1);
  EXPECT_EQ(to_file.out, "");
  EXPECT_EQ(to_file.err,
            "orn5300img: " + bad_ + ": 0x01: 01 cannot be given by an INI file; it renders 00 (CurrentMacAddress)\n"
            "orn5300img: " + bad_ + ": CurrentMacAddress: The image holds 01:80:0F:53:00:01, which is not a "
            "unicast address; the tool programs only unicast addresses. Stand-in: 00:80:0F:53:00:01.\n");
  EXPECT_NE(test::ReadFile(dir_.File("bad.ini")).find("CurrentMacAddress = 00:80:0F:53:00:01\n"), std::string::npos);
}

TEST_F(ImgFiles, CheckReportsEachSourceAndSums) {
  const test::RunResult r = Img({"check", good_, bad_, dir_.File("missing.bin")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, good_ + ": ORN5300 EEPROM image, 276 bytes: ok\n" + good_ + ": image_sha256 " +
                       PartSha256(ReadBytes(good_)) + " (the whole 512-byte EEPROM)\n" + bad_ +
                       ": ORN5300 EEPROM image, 276 bytes: 1 finding\n" + bad_ + ": image_sha256 " +
                       PartSha256(ReadBytes(bad_)) + " (the whole 512-byte EEPROM)\n" + bad_ +
                       ": 0x01 CurrentMacAddress: the MAC address is a group (multicast) address, not a unicast one\n"
                       "3 sources checked: 1 ok, 1 with findings (1 finding), 1 unreadable\n");
  EXPECT_EQ(r.err, "orn5300img: cannot open " + dir_.File("missing.bin") + ": No such file or directory\n");
  EXPECT_EQ(Img({"check", good_, bad_}).exit_code, 1);
  EXPECT_EQ(Img({"check", good_, ini_}).exit_code, 0);
}

TEST_F(ImgFiles, DiffAndVerify) {
  const test::RunResult same = Img({"diff", good_, ini_});
  EXPECT_EQ(same.exit_code, 0);
  EXPECT_EQ(same.out, "");
  const test::RunResult diff = Img({"diff", good_, bad_});
  EXPECT_EQ(diff.exit_code, 1);
  EXPECT_EQ(diff.out, "0x01 CurrentMacAddress (identity): 00:80:0F:53:00:01 -> 01:80:0F:53:00:01\n");
  EXPECT_EQ(Img({"diff", good_, bad_, "--ignore", "identity"}).exit_code, 0);
  // Two INI files of different layouts each render in their own.
  const std::string other = dir_.File("other.ini");
  test::WriteFile(other, img_test::Example("orn5350.ini"));
  const test::RunResult layouts = Img({"diff", ini_, other});
  EXPECT_EQ(layouts.exit_code, 1) << layouts.err;
  EXPECT_NE(layouts.out.find("0x62 BOS.header: 05 0F 16 00 02 -> 05 0F 0C 00 01\n"), std::string::npos)
      << layouts.out;

  const test::RunResult verify = Img({"verify", "--ini", ini_, good_});
  EXPECT_EQ(verify.exit_code, 0) << verify.out << verify.err;
  EXPECT_EQ(verify.out,
            "0x01 CurrentMacAddress (identity): 00:80:0F:53:00:01 is not above the INI file's maximum "
            "00:80:0F:53:FF:FF\n"
            "0xFA CurrentSerialNumber (identity): 000000000001 is not above the INI file's maximum 00000000FFFF\n" +
                good_ + ": image_sha256 " + PartSha256(ReadBytes(good_)) + " (the whole 512-byte EEPROM)\n" + good_ +
                " matches " + ini_ + "\n");
  const test::RunResult exact = Img({"verify", "--ini", ini_, good_, "--identity", "00-80-0f-53-00-01,000000000001"});
  EXPECT_EQ(exact.exit_code, 0) << exact.out;
  EXPECT_NE(exact.out.find("0x01 CurrentMacAddress (identity): 00:80:0F:53:00:01 is the one given\n"), std::string::npos);
  const test::RunResult mismatch = Img({"verify", "--ini", ini_, bad_});
  EXPECT_EQ(mismatch.exit_code, 1);
  EXPECT_NE(mismatch.out.find("0x01 CurrentMacAddress (identity): 01:80:0F:53:00:01: the MAC address is not a "
                              "unicast address\n"),
            std::string::npos)
      << mismatch.out;
  EXPECT_NE(mismatch.out.find(bad_ + " does not match " + ini_ + ": 1 difference\n"), std::string::npos);
  const test::RunResult other_unit = Img({"verify", "--ini", ini_, good_, "--identity", "00800F530002"});
  EXPECT_EQ(other_unit.exit_code, 1);
  EXPECT_NE(other_unit.out.find("00:80:0F:53:00:01: the MAC address is not the one given, 00:80:0F:53:00:02\n"),
            std::string::npos)
      << other_unit.out;
}

// Standard input and output as "-", INI text under any name, and refused
// command lines, in text and in JSON.
TEST_F(ImgFiles, StreamsNamesAndRefusals) {
  const std::string cfg = dir_.File("station.cfg");
  test::WriteFile(cfg, img_test::Example("orn5300.ini"));
  const std::string good_bytes = test::ReadFile(good_);
  const std::string ini_text = img_test::Example("orn5300.ini");
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string input;
    int exit_code;
    std::string out;  // a part of standard output ("" for none at all)
    std::string err;  // a part of standard error ("" for none at all)
  } cases[] = {
      {"image on standard input", {"decode", "-"}, good_bytes, 0, "# Decoded by orn5300img from -: ORN5300", ""},
      {"INI file to standard output", {"decode", good_, "-o", "-"}, "", 0, "\n[MacAddress]\n", ""},
      {"INI file on standard input", {"verify", "--ini", "-", good_}, ini_text, 0, good_ + " matches -\n", ""},
      {"INI text on standard input as a source", {"diff", "-", good_}, ini_text, 0, "", ""},
      {"INI file under another name", {"diff", cfg, good_}, "", 0, "", ""},
      {"bin: takes it as an image", {"decode", "bin:" + cfg}, "", 2, "", "layout of the image is not recognised"},
      {"unknown field to ignore", {"diff", good_, bad_, "--ignore", "Bogus"}, "", 2, "",
       "orn5300img: --ignore Bogus: no field of that name in either image\n"},
      {"refused command line in JSON", {"--json", "diff", good_, "--bogus"}, "", 2,
       R"({"schema_version":2,"tool":"orn5300img","version":"1.0.9.0","command":"diff","error":"unknown option --bogus","exit_code":2})",
       "unknown option --bogus"},
      {"no command in JSON", {"--json"}, "", 2, R"("command":null,"error":"no command given")", "no command given"},
      {"bad identity", {"verify", "--ini", ini_, good_, "--identity", "00:80:0F"}, "", 2, "",
       "--identity takes a MAC address"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const test::RunResult r = test::Run(ORN_IMG_PATH, c.args, {}, c.input, dir_.path());
    EXPECT_EQ(r.exit_code, c.exit_code) << r.out << r.err;
    if (c.out.empty()) {
      EXPECT_EQ(r.out, "");
    } else {
      EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
    }
    if (c.err.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
  }
  EXPECT_FALSE(test::FileExists(dir_.File("-")));
}

void ExpectField(const nlohmann::json& field) {
  for (const char* key : {"name", "offset", "size", "raw", "value"}) EXPECT_TRUE(field.contains(key)) << field.dump();
  EXPECT_EQ(field["raw"].get<std::string>().size(), 2 * field["size"].get<size_t>()) << field.dump();
}

TEST_F(ImgFiles, JsonDocuments) {
  // A string with a byte above 0x7F: one character per byte in JSON.
  const std::string accented = dir_.File("accented.bin");
  WriteBytes(accented, img_test::Render(img_test::WithKey(img_test::Example("orn5300.ini"), "ProductString", "Caf\xE9")));
  const test::RunResult decode = Img({"--json", "decode", accented});
  ASSERT_EQ(decode.exit_code, 0) << decode.err;
  EXPECT_NE(decode.out.find("\"value\":\"Caf\\u00e9\""), std::string::npos);
  const nlohmann::json d = nlohmann::json::parse(decode.out);
  EXPECT_EQ(d["schema_version"], 2);
  EXPECT_EQ(d["command"], "decode");
  EXPECT_EQ(d["exit_code"], 0);
  EXPECT_EQ(d["exact"], true);
  EXPECT_EQ(d["source"]["layout"], "ORN5300");
  EXPECT_EQ(d["source"]["kind"], "eeprom");
  EXPECT_EQ(d["source"]["chip_id"], nullptr);
  EXPECT_EQ(d["source"]["image_sha256"], PartSha256(ReadBytes(accented)));
  EXPECT_EQ(d["source"]["image_sha256_bytes"], 512);
  EXPECT_TRUE(d["inexpressible"].is_array());
  EXPECT_NE(d["ini"].get<std::string>().find("[MacAddress]"), std::string::npos);
  ASSERT_GT(d["fields"].size(), 100u);
  for (const nlohmann::json& f : d["fields"]) ExpectField(f);
  EXPECT_EQ(d["fields"][1]["name"], "CurrentMacAddress");
  EXPECT_EQ(d["fields"][1]["value"], "00:80:0F:53:00:01");
  EXPECT_EQ(d["fields"][1]["identity"], true);

  // Every entry of check has the same members, readable or not.
  const nlohmann::json c = nlohmann::json::parse(Img({"--json", "check", good_, bad_, dir_.File("missing.bin")}).out);
  EXPECT_EQ(c["exit_code"], 2);
  EXPECT_EQ(c["summary"], nlohmann::json::parse(R"({"source_count":3,"ok_count":1,"with_findings_count":1,
      "unreadable_count":1,"finding_count":1})"));
  EXPECT_EQ(c["sources"][1]["findings"][0]["field"], "CurrentMacAddress");
  EXPECT_EQ(c["sources"][1]["findings"][0]["raw"], "01800F530001");
  ASSERT_EQ(c["sources"].size(), 3u);
  for (const nlohmann::json& entry : c["sources"]) {
    std::set<std::string> keys;
    for (const auto& item : entry.items()) keys.insert(item.key());
    EXPECT_EQ(keys, (std::set<std::string>{"name", "source", "description", "otp_state", "ok", "findings", "notes",
                                           "error"}));
  }
  EXPECT_EQ(c["sources"][2]["source"], nullptr);
  EXPECT_EQ(c["sources"][2]["ok"], false);
  EXPECT_NE(c["sources"][2]["error"].get<std::string>().find("cannot open"), std::string::npos);

  const nlohmann::json f = nlohmann::json::parse(Img({"diff", "--json", good_, bad_}).out);
  ASSERT_EQ(f["differences"].size(), 1u);
  ExpectField(f["differences"][0]["old"]);
  ExpectField(f["differences"][0]["new"]);

  const nlohmann::json v = nlohmann::json::parse(Img({"verify", "--json", "--ini", ini_, good_}).out);
  EXPECT_EQ(v["match"], true);
  EXPECT_EQ(v["problem"], nullptr);
  ASSERT_EQ(v["identity"].size(), 2u);
  EXPECT_EQ(v["identity"][1]["field"], "CurrentSerialNumber");
  EXPECT_EQ(v["identity"][1]["rule"], "maximum");
  EXPECT_EQ(v["identity"][1]["reference"], "00000000FFFF");
  EXPECT_EQ(v["identity"][1]["found"]["value"], "000000000001");
  EXPECT_EQ(v["identity"][1]["message"], nullptr);
  const nlohmann::json m = nlohmann::json::parse(Img({"verify", "--json", "--ini", ini_, bad_}).out);
  EXPECT_EQ(m["identity"][0]["ok"], false);
  EXPECT_EQ(m["identity"][0]["message"], "the MAC address is not a unicast address");
  EXPECT_EQ(m["mismatches"], nlohmann::json::array());  // the identity check has told it

  // An error is a document too.
  const test::RunResult missing = Img({"--json", "decode", dir_.File("missing.bin")});
  EXPECT_EQ(missing.exit_code, 2);
  EXPECT_EQ(nlohmann::json::parse(missing.out)["exit_code"], 2);
}

// A simulated device programmed by orn5300cli; every orn5300img run against
// it is traced.
class ImgDevice : public testing::Test {
 protected:
  void Init(const std::string& chip, const std::string& size = "512") {
    ASSERT_EQ(test::RunSim({"init", state_, "--chip", chip, "--eeprom-size", size}).exit_code, 0);
  }
  void Cli(const std::vector<std::string>& args) {
    const test::RunResult r = test::RunCli(args, {{"ORN5300_SIM", state_}});
    ASSERT_EQ(r.exit_code, 0) << r.out;
  }
  test::RunResult Run(const std::vector<std::string>& args) {
    const std::string before = test::ReadFile(state_);
    const test::RunResult r = Img(args, {{"ORN5300_SIM", state_}, {"ORN5300_SIM_TRACE", trace_}});
    // Reads only: the chip ID, EEPROM and OTP blocks, the OTP opened for
    // reading and closed. The memories are as they were.
    for (const nlohmann::json& request : test::TraceRequests(trace_)) {
      const std::string op = request["op"];
      EXPECT_TRUE(op == "READ_REGISTER" || op == "E2P_READ_BLOCK" || op == "OTP_READ_BLOCK" ||
                  op == "OTP_CONFIGURE")
          << request.dump();
      if (op == "OTP_CONFIGURE") {
        EXPECT_TRUE(request["param"] == "0x02000000" || request["param"] == "0x01000000") << request.dump();
      }
    }
    const nlohmann::json old_state = nlohmann::json::parse(before);
    const nlohmann::json new_state = nlohmann::json::parse(test::ReadFile(state_));
    EXPECT_EQ(old_state["eeprom"], new_state["eeprom"]);
    EXPECT_EQ(old_state["otp"], new_state["otp"]);
    test::WriteFile(trace_, "");
    return r;
  }
  std::string Ini(const std::string& name, const std::string& extra = "") {
    const std::string path = dir_.File(name + std::to_string(++inis_) + ".ini");
    test::WriteFile(path, img_test::Example(name) + extra);
    return path;
  }

  test::TempDir dir_;
  std::string state_ = dir_.File("device.json");
  std::string trace_ = dir_.File("trace.jsonl");
  int inis_ = 0;
};

TEST_F(ImgDevice, EepromIsReadNeverWritten) {
  Init("ORN5300");
  const std::string ini = Ini("orn5300.ini");
  Cli({"-w", "-i", ini});
  const test::RunResult check = Run({"check", "device"});
  EXPECT_EQ(check.exit_code, 0) << check.out;
  EXPECT_EQ(check.out, "device: ORN5300 EEPROM image, 512 bytes: ok\ndevice: image_sha256 " +
                           PartSha256(img_test::Render(img_test::Example("orn5300.ini"))) +
                           " (the whole 512-byte EEPROM)\n"
                           "1 source checked: 1 ok, 0 with findings (0 findings), 0 unreadable\n");
  const test::RunResult decode = Run({"decode", "device", "-o", dir_.File("device.ini")});
  EXPECT_EQ(decode.exit_code, 0) << decode.err;
  EXPECT_EQ(Run({"verify", "--ini", ini, "device"}).exit_code, 0);
  EXPECT_EQ(Run({"diff", ini, "device"}).exit_code, 0);
  EXPECT_EQ(Run({"diff", dir_.File("device.ini"), "device"}).exit_code, 0);
  // The next device of the series: identity aside, the same.
  EXPECT_EQ(Run({"verify", "--ini", Ini("orn5300.ini"), "device"}).exit_code, 0);
  const test::RunResult other = Run({"verify", "--ini", Ini("orn5300.ini", "\n[ConfigFlags4]\nConfigFlags4Override = 0x1\n"), "device"});
  EXPECT_EQ(other.exit_code, 1);
  EXPECT_NE(other.out.find("0x5A ConfigFlags4: INI programs 0x00000001, source holds 0x00000000\n"), std::string::npos)
      << other.out;
}

TEST_F(ImgDevice, SmallEepromIsToldWithoutWriting) {
  Init("ORN5350", "256");
  const std::string ini = Ini("orn5350.ini");
  Cli({"-w", "-i", ini});
  const test::RunResult check = Run({"--json", "check", "device"});
  ASSERT_EQ(check.exit_code, 0) << check.out;
  const nlohmann::json doc = nlohmann::json::parse(check.out);
  EXPECT_EQ(doc["sources"][0]["source"]["memory_size"], 256);
  EXPECT_EQ(doc["sources"][0]["source"]["chip_id"], "0x53500000");
  EXPECT_EQ(doc["sources"][0]["source"]["image_sha256"],
            PartSha256(img_test::Render(img_test::Example("orn5350.ini")), 256));
  EXPECT_EQ(Run({"verify", "--ini", ini, "device"}).exit_code, 0);
  // Read as 512 bytes, the part's mirror shows as bytes after the image.
  const test::RunResult forced = Run({"check", "device", "--eeprom-size", "512"});
  EXPECT_EQ(forced.exit_code, 1);
  EXPECT_NE(forced.out.find("Trailing: nonzero bytes after the end of the image"), std::string::npos) << forced.out;
}

TEST_F(ImgDevice, OtpConfigurationsAndTargets) {
  Init("ORN5350");
  const std::string first = Ini("orn5350.ini");
  const std::string next = Ini("orn5350.ini");
  const test::RunResult empty = Run({"--otp", "check", "device", "--target", first});
  EXPECT_EQ(empty.exit_code, 0) << empty.out;
  EXPECT_NE(empty.out.find("empty OTP (0x00), 512 bytes; empty: a first configuration (0xF3) can be written: ok"),
            std::string::npos)
      << empty.out;
  Cli({"-O", "-w", "-i", first, "-C", "YES"});

  const test::RunResult state = Run({"--otp", "check", "device", "--target", next});
  EXPECT_EQ(state.exit_code, 0) << state.out;
  // A second configuration larger than the OTP's second half is a finding,
  // not an error.
  const std::string big = dir_.File("big.ini");
  test::WriteFile(big, img_test::WithKey(img_test::WithKey(img_test::Example("orn5350.ini"), "ConfigurationEnable", "1"),
                                         "InterfaceEnable", "1"));
  const test::RunResult too_large = Run({"--otp", "check", "device", "--target", big});
  EXPECT_EQ(too_large.exit_code, 1) << too_large.out << too_large.err;
  EXPECT_NE(too_large.out.find("device: target: the target (") , std::string::npos) << too_large.out;
  EXPECT_NE(too_large.out.find(" bytes) does not fit the OTP from offset 257\n"), std::string::npos) << too_large.out;
  EXPECT_NE(state.out.find("first configuration (0xF3) using 230 bytes: a second configuration (0xF7) can be written"),
            std::string::npos)
      << state.out;
  EXPECT_EQ(Run({"--otp", "decode", "device"}).exit_code, 0);
  EXPECT_EQ(Run({"--otp", "verify", "--ini", first, "device"}).exit_code, 0);

  Cli({"-O", "-w", "-i", next, "-C", "YES"});
  const test::RunResult full = Run({"--otp", "--json", "decode", "device"});
  ASSERT_EQ(full.exit_code, 0) << full.err;
  EXPECT_EQ(nlohmann::json::parse(full.out)["source"]["kind"], "otp-f7");
  EXPECT_EQ(Run({"--otp", "verify", "--ini", next, "device"}).exit_code, 0);
  const test::RunResult refused = Run({"--otp", "check", "device", "--target", next});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.out.find("target: the OTP is full (0xF7)"), std::string::npos) << refused.out;
}

// The factory QA workflow: units programmed one after the other with
// `orn5300cli -w -i station.ini -N` (the INI file then names the next unit)
// each verify against station.ini, by the INI file's range and by the
// identity their production record names, and show the record's
// image_sha256; a unit whose memory has one byte changed fails.
TEST_F(ImgDevice, QaCheckOfUnitsProgrammedWithStepping) {
  struct Case {
    const char* chip;
    const char* example;
    bool otp;
    int units;
    size_t changed_byte;  // memory offset changed after the last unit
  } cases[] = {
      {"ORN5300", "orn5300.ini", false, 3, 0xD2},
      {"ORN5350", "orn5350.ini", true, 2, 257 + 0x95},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.example);
    Init(c.chip);
    const std::string station = Ini(c.example);
    const std::string log = dir_.File(std::string(c.chip) + ".csv");
    const std::vector<std::string> memory = c.otp ? std::vector<std::string>{"--otp"} : std::vector<std::string>{};
    auto with_memory = [&memory](std::vector<std::string> args) {
      args.insert(args.begin(), memory.begin(), memory.end());
      return args;
    };
    for (int unit = 1; unit <= c.units; ++unit) {
      SCOPED_TRACE("unit " + std::to_string(unit));
      std::vector<std::string> program = {"-w", "-i", station, "-N"};
      if (c.otp) program.insert(program.end(), {"-O", "-C", "YES"});
      const test::RunResult cli = test::RunCli(program, {{"ORN5300_SIM", state_}, {"ORN5300_LOG", log}});
      ASSERT_EQ(cli.exit_code, 0) << cli.out;
      // The unit's record: image_sha256, mac and serial are columns 8 to 10.
      const std::string text = test::ReadFile(log);
      const size_t last = text.rfind("\r\n", text.size() - 3) + 2;
      std::vector<std::string> columns;
      for (size_t at = last, comma; at < text.size(); at = comma + 1) {
        comma = text.find_first_of(",\r", at);
        columns.push_back(text.substr(at, comma - at));
        if (text[comma] == '\r') break;
      }
      ASSERT_EQ(columns.size(), 16u) << text;

      const test::RunResult verify = Run(with_memory({"--json", "verify", "--ini", station, "device"}));
      EXPECT_EQ(verify.exit_code, 0) << verify.out << verify.err;
      const nlohmann::json doc = nlohmann::json::parse(verify.out);
      EXPECT_EQ(doc["match"], true) << doc.dump(1);
      EXPECT_EQ(doc["source"]["image_sha256"], columns[7]);
      EXPECT_EQ(doc["identity"][0]["found"]["value"], columns[8]);
      const test::RunResult exact =
          Run(with_memory({"verify", "--ini", station, "device", "--identity", columns[8] + "," + columns[9]}));
      EXPECT_EQ(exact.exit_code, 0) << exact.out;
      EXPECT_NE(exact.out.find("device: image_sha256 " + columns[7]), std::string::npos) << exact.out;
    }
    // The INI file names the next unit, so the range's lower end is not its
    // current value.
    const std::string next = c.otp ? "00:80:0F:53:50:0" : "00:80:0F:53:00:0";
    EXPECT_NE(test::ReadFile(station).find("CurrentMacAddress = " + next + std::to_string(c.units + 1)),
              std::string::npos)
        << test::ReadFile(station);

    nlohmann::json state = nlohmann::json::parse(test::ReadFile(state_));
    std::string hex = state[c.otp ? "otp" : "eeprom"];
    hex[2 * c.changed_byte + 1] = hex[2 * c.changed_byte + 1] == '0' ? '1' : '0';
    state[c.otp ? "otp" : "eeprom"] = hex;
    test::WriteFile(state_, state.dump());
    const test::RunResult changed = Run(with_memory({"verify", "--ini", station, "device"}));
    EXPECT_EQ(changed.exit_code, 1) << changed.out;
    EXPECT_NE(changed.out.find("device does not match " + station + ": 1 difference\n"), std::string::npos)
        << changed.out;
  }
}

TEST_F(ImgDevice, AdapterSelection) {
  Init("ORN5300");
  ASSERT_EQ(test::RunSim({"set", state_, "adapters", "2"}).exit_code, 0);
  Cli({"-w", "-i", Ini("orn5300.ini")});
  const test::RunResult second = Img({"check", "device:1"}, {{"ORN5300_SIM", state_}, {"ORN5300_SIM_TRACE", trace_}});
  EXPECT_EQ(second.exit_code, 0) << second.err;
  const std::vector<nlohmann::json> requests = test::TraceRequests(trace_);
  ASSERT_FALSE(requests.empty());
  for (const nlohmann::json& r : requests) EXPECT_EQ(r["adapter"], 1);
  const test::RunResult missing = Run({"check", "device:2"});
  EXPECT_EQ(missing.exit_code, 2);
  EXPECT_NE(missing.err.find("orn5300img: device:2: cannot read the chip ID"), std::string::npos) << missing.err;
}

}  // namespace
