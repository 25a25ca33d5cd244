// The production record's file format and the duplicate search.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/sha256.h"
#include "platform/shared_log.h"
#include "provision/production_log.h"
#include "support/tool_runner.h"

namespace {

ProductionRecord Record(const std::string& mac, const std::string& serial, const std::string& verify = "passed") {
  return {"2026-12-08T10:00:00Z", "station-1", "0", "ORN5300", "0x53000000", "EEPROM", "line.ini",
          std::string(64, 'a'), mac, serial, "512", verify, verify == "passed" ? "0" : "9", "", "no", "1.0.9.0"};
}

TEST(Sha256, KnownDigests) {
  const struct {
    std::string input;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000, 'a'), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Sha256::Hex(reinterpret_cast<const uint8_t*>(c.input.data()), c.input.size()), c.digest)
        << c.input.size() << " bytes";
  }
  // Fed in odd pieces, the digest is the same.
  const std::string text(1000, 'a');
  Sha256 pieces;
  for (size_t at = 0; at < text.size(); at += 7) {
    pieces.Update(reinterpret_cast<const uint8_t*>(text.data()) + at, std::min<size_t>(7, text.size() - at));
  }
  EXPECT_EQ(pieces.Finish(), [&] {
    Sha256 whole;
    whole.Update(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    return whole.Finish();
  }());
}

TEST(ProductionLogFormat, RecordsSurviveQuotingAndDamagedLinesAreRejected) {
  ProductionRecord r = Record("00:80:0F:11:22:30", "000000A1");
  r.error = "File \"a,b.ini\" is not found\nsecond line";
  r.source_file = "C:\\line 3\\station,1.ini";
  const std::string line = FormatRecordLine(r);
  ASSERT_GE(line.size(), 2u);
  EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
  ProductionRecord back;
  // The record's own line end is inside quotes here; split at the final LF.
  ASSERT_TRUE(ParseRecordLine(std::string_view(line).substr(0, line.size() - 1), back));
  EXPECT_EQ(back.error, r.error);
  EXPECT_EQ(back.source_file, r.source_file);
  EXPECT_EQ(back.mac, r.mac);
  EXPECT_EQ(back.tool_version, r.tool_version);

  const std::string plain = FormatRecordLine(Record("00:80:0F:11:22:31", "A2"));
  const std::string body = plain.substr(0, plain.size() - 1);  // without the LF
  const struct {
    const char* name;
    std::string text;
  } damaged[] = {
      {"header", RecordHeaderLine().substr(0, RecordHeaderLine().size() - 1)},
      {"cut short", body.substr(0, body.size() / 2)},
      {"cut inside the last field", body.substr(0, body.size() - 3)},
      {"whole but for its CR", body.substr(0, body.size() - 1)},
      {"one field too many", body.substr(0, body.size() - 1) + ",x\r"},
      {"open quote", "\"" + body},
      {"empty", ""},
  };
  for (const auto& d : damaged) EXPECT_FALSE(ParseRecordLine(d.text, back)) << d.name;
  EXPECT_TRUE(ParseRecordLine(body, back));
}

// A log file written by the test, read through the shared log.
class LogFile : public ::testing::Test {
 protected:
  test::TempDir dir;
  std::string path = dir.File("production.csv");
  std::unique_ptr<platform::SharedLog> log;

  void Write(const std::string& text) {
    test::WriteFile(path, text);
    uint32_t error = 0;
    log = platform::OpenSharedLog(path, error);
    ASSERT_TRUE(log) << error;
  }
};

TEST_F(LogFile, FindsOnlySuccessfulRecordsWithTheWholeValueInItsColumn) {
  std::string text = RecordHeaderLine();
  text += FormatRecordLine(Record("00:80:0F:11:22:30", "0000A1", "failed"));  // line 2: not programmed
  // Enough records to cross several read pieces of the search.
  for (int i = 0; i < 12000; ++i) {
    char mac[18];
    std::snprintf(mac, sizeof mac, "02:00:00:00:%02X:%02X", (i >> 8) & 0xFF, i & 0xFF);
    char serial[16];
    std::snprintf(serial, sizeof serial, "B%d", i);
    text += FormatRecordLine(Record(mac, serial));
  }
  text += FormatRecordLine(Record("00:80:0F:11:22:30", "0000A1"));  // line 12003
  text += FormatRecordLine(Record("00:80:0F:11:22:31", "512"));     // serial equal to a byte count
  text += FormatRecordLine(Record("00:80:0F:11:22:32", "0000A2")).substr(0, 60);  // cut short
  Write(text);

  const struct {
    const char* name;
    std::string mac, serial;
    bool mac_found;
    uint64_t mac_line;
    bool serial_found;
    uint64_t serial_line;
  } cases[] = {
      {"successful record past the failed one", "00:80:0F:11:22:30", "0000A1", true, 12003, true, 12003},
      {"serial alone", "00:80:0F:99:99:99", "B11999", false, 0, true, 12002},
      {"part of a value is no match", "00:80:0F:11:22:3", "0000A", false, 0, false, 0},
      {"serial that stands in another column", "00:80:0F:99:99:99", "0", false, 0, false, 0},
      {"serial equal to a byte count elsewhere", "00:80:0F:99:99:98", "512", false, 0, true, 12004},
      {"cut-short line counts for nothing", "00:80:0F:11:22:32", "0000A2", false, 0, false, 0},
      {"no serial to look for", "02:00:00:00:00:05", "", true, 8, false, 0},
  };
  for (const auto& c : cases) {
    EarlierRecord mac_match, serial_match;
    ASSERT_TRUE(FindProgrammedIdentity(*log, c.mac, c.serial, mac_match, serial_match)) << c.name;
    EXPECT_EQ(mac_match.found, c.mac_found) << c.name;
    EXPECT_EQ(mac_match.line, c.mac_line) << c.name;
    EXPECT_EQ(serial_match.found, c.serial_found) << c.name;
    EXPECT_EQ(serial_match.line, c.serial_line) << c.name;
    if (mac_match.found) {
      EXPECT_EQ(mac_match.record.mac, c.mac) << c.name;
    }
  }
}

TEST_F(LogFile, LinesAreDeliveredWholeAndACutShortEndIsSkipped) {
  const std::string a = FormatRecordLine(Record("00:80:0F:11:22:30", "A1"));
  Write(RecordHeaderLine() + a + a.substr(0, 20));
  std::vector<std::string> lines;
  ASSERT_TRUE(ForEachLogLine(*log, [&](uint64_t, std::string_view text) {
    lines.emplace_back(text);
    return true;
  }));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1] + "\n", a);
}

}  // namespace
