// The production record's file format and the duplicate search.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
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

// Fields a spreadsheet or a CSV reader could misread come back as written,
// and those a spreadsheet would run as a formula are marked as text.
TEST(ProductionLogFormat, FieldsSurviveQuotingFormulasAndLineEnds) {
  const std::vector<std::string> texts = {
      "File \"a,b.ini\" is not found\nsecond line", "C:\\line 3\\station,1.ini", "=HYPERLINK(\"x\")",
      "+1", "-2", "@SUM(A1)", "\tx", "\rx", "'quoted", "''twice", "'=both", "plain", ""};
  for (const std::string& text : texts) {
    ProductionRecord r = Record("00:80:0F:11:22:30", "000000A1");
    r.source_file = text;
    r.error = text;
    const std::string line = FormatRecordLine(r);
    ASSERT_EQ(line.substr(line.size() - 2), "\r\n");
    std::vector<std::string> raw;
    ASSERT_TRUE(SplitCsvLine(std::string_view(line).substr(0, line.size() - 2), raw)) << text;
    ASSERT_EQ(raw.size(), 16u);
    EXPECT_TRUE(raw[6].empty() || std::string_view("=+-@\t\r").find(raw[6][0]) == std::string_view::npos)
        << "a spreadsheet would take the field for a formula: " << text;
    ProductionRecord back;
    ASSERT_TRUE(ParseRecordLine(std::string_view(line).substr(0, line.size() - 1), back)) << text;
    EXPECT_EQ(back.source_file, text);
    EXPECT_EQ(back.error, text);
    EXPECT_EQ(back.mac, r.mac);
  }
}

TEST(ProductionLogFormat, LinesAreClassifiedAsEveryReaderSeesThem) {
  const std::string header = RecordHeaderLine().substr(0, RecordHeaderLine().size() - 1);  // with its CR
  const std::string body = FormatRecordLine(Record("00:80:0F:11:22:31", "A2"));
  const std::string line = body.substr(0, body.size() - 1);  // without the LF
  std::string semicolons = header;
  for (char& c : semicolons) c = c == ',' ? ';' : c;
  const struct {
    const char* name;
    std::string text;
    bool first;
    LogLineKind kind;
  } cases[] = {
      {"header", header, true, LogLineKind::kHeader},
      {"header after a byte-order mark", "\xEF\xBB\xBF" + header, true, LogLineKind::kHeader},
      {"header with LF line ends", header.substr(0, header.size() - 1), true, LogLineKind::kHeader},
      {"header with a notes column", header.substr(0, header.size() - 1) + ",notes\r", true, LogLineKind::kForeign},
      {"header with semicolons", semicolons, true, LogLineKind::kForeign},
      {"record as first line", line, true, LogLineKind::kForeign},
      {"record", line, false, LogLineKind::kRecord},
      {"record with LF line ends", line.substr(0, line.size() - 1), false, LogLineKind::kRecord},
      {"byte-order mark only counts on line 1", "\xEF\xBB\xBF" + header, false, LogLineKind::kForeign},
      {"cut short", line.substr(0, line.size() / 2), false, LogLineKind::kDamaged},
      {"open quote, cut short", "\"" + line.substr(0, line.size() - 1), false, LogLineKind::kDamaged},
      {"too few fields with CR LF", line.substr(0, line.find(',', 40)) + "\r", false, LogLineKind::kForeign},
      {"a notes column", line.substr(0, line.size() - 1) + ",x\r", false, LogLineKind::kForeign},
      {"empty", "", false, LogLineKind::kDamaged},
  };
  for (const auto& c : cases) {
    ProductionRecord r;
    EXPECT_EQ(ClassifyLogLine(c.text, c.first, r), c.kind) << c.name;
  }
}

// The same unit for the guard and for orn5300log: MAC addresses whatever
// their case and separators, serial numbers whatever their case, whole.
TEST(ProductionLogFormat, SameIdentityIgnoresCaseAndSeparatorsOnly) {
  EXPECT_EQ(MacKey("00:80:0f:11:22:3a"), MacKey("00-80-0F-11-22-3A"));
  EXPECT_EQ(MacKey("00800F11223A"), MacKey("00:80:0F:11:22:3A"));
  EXPECT_NE(MacKey("00:80:0F:11:22:3A"), MacKey("00:80:0F:11:22:3B"));
  EXPECT_NE(MacKey("00:80-0F:11:22:3A"), MacKey("00:80:0F:11:22:3A"));
  EXPECT_EQ(SerialKey("ab01"), SerialKey("AB01"));
  EXPECT_NE(SerialKey("AB01"), SerialKey("AB010"));
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

std::string Lf(std::string text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

std::string Line(ProductionRecord r) { return FormatRecordLine(r); }

ProductionRecord Started(const std::string& mac, const std::string& serial, const std::string& host = "station-1") {
  ProductionRecord r = Record(mac, serial, kVerifyStarted);
  r.exit_code = "";
  r.host = host;
  return r;
}

ProductionRecord Refused(const std::string& mac, const std::string& serial) {
  ProductionRecord r = Record(mac, serial, "not run");
  r.chip_model = r.chip_id = "";
  r.exit_code = "10";
  return r;
}

// The guard against the logs stations and spreadsheets leave: what it must
// refuse (10), what it cannot read (3) and what it lets through (0).
TEST_F(LogFile, GuardRefusesEveryFormOfARecordedIdentity) {
  const std::string kMac = "00:80:0F:53:00:01", kSerial = "AB01";
  const std::string h = RecordHeaderLine();
  ProductionRecord quoted_serial = Record("00:80:0F:53:00:09", "a,b");
  ProductionRecord formula_serial = Record("00:80:0F:53:00:09", "-AB01");
  std::string all_quoted;  // a spreadsheet that quotes every field when it saves
  {
    std::vector<std::string> fields;
    const std::string l = Line(Record(kMac, "XX"));
    SplitCsvLine(std::string_view(l).substr(0, l.size() - 2), fields);
    for (size_t i = 0; i < fields.size(); ++i) all_quoted += (i ? ",\"" : "\"") + fields[i] + "\"";
    all_quoted += "\r\n";
  }
  std::string notes_header = h.substr(0, h.size() - 2) + ",notes\r\n";
  std::string semicolons = h + Line(Record(kMac, kSerial));
  for (char& c : semicolons) c = c == ',' ? ';' : c;
  const std::string done_elsewhere = Line(Record("00:80:0F:53:00:02", "AB02"));
  const struct {
    const char* name;
    std::string log;
    std::string mac, serial;
    bool rework;
    int code;
  } cases[] = {
      {"nothing recorded", h + done_elsewhere, kMac, kSerial, false, 0},
      {"programmed", h + Line(Record(kMac, "XX")), kMac, kSerial, false, 10},
      {"failed only", h + Line(Record(kMac, kSerial, "failed")), kMac, kSerial, false, 0},
      {"LF line ends", Lf(h + done_elsewhere + Line(Record(kMac, "XX"))), kMac, kSerial, false, 10},
      {"byte-order mark", "\xEF\xBB\xBF" + h + Line(Record("00:80:0F:53:00:07", kSerial)), kMac, kSerial, false, 10},
      {"a notes column", notes_header + done_elsewhere, kMac, kSerial, false, 3},
      {"semicolons", semicolons, kMac, kSerial, false, 3},
      {"no header", done_elsewhere, kMac, kSerial, false, 3},
      {"a line naming the MAC with an extra field",
       h + Line(Record(kMac, "XX")).substr(0, Line(Record(kMac, "XX")).size() - 2) + ",note\r\n", kMac, kSerial, false, 3},
      {"serial in lower case", h + Line(Record("00:80:0F:53:00:07", "ab01")), kMac, kSerial, false, 10},
      {"serial holding a comma", h + Line(quoted_serial), "00:80:0F:53:00:0A", "A,B", false, 10},
      {"serial that looks like a formula", h + Line(formula_serial), "00:80:0F:53:00:0A", "-ab01", false, 10},
      {"serial as part of another", h + Line(Record("00:80:0F:53:00:07", "AB012")), kMac, kSerial, false, 0},
      {"MAC with dashes in lower case", h + Line(Record("00-80-0f-53-00-01", "XX")), kMac, kSerial, false, 10},
      {"MAC without separators", h + Line(Record("00800F530001", "XX")), kMac, kSerial, false, 10},
      {"every field quoted", h + all_quoted, kMac, kSerial, false, 10},
      {"cut-short line", h + Line(Record(kMac, kSerial)).substr(0, 40) + "\n", kMac, kSerial, false, 0},
      {"started, never finished", h + Line(Started(kMac, kSerial)), kMac, kSerial, false, 10},
      {"started, then its record", h + Line(Started(kMac, kSerial)) + Line(Record(kMac, kSerial, "failed")), kMac,
       kSerial, false, 0},
      {"started, then only a refused run", h + Line(Started(kMac, kSerial)) + Line(Refused(kMac, kSerial)), kMac,
       kSerial, false, 10},
      {"started by the serial number", h + Line(Started("00:80:0F:53:00:07", kSerial)), kMac, kSerial, false, 10},
      {"rework of its own unfinished run", h + Line(Started(kMac, kSerial)), kMac, kSerial, true, 0},
      {"rework of its own programmed unit", h + Line(Record(kMac, kSerial)), kMac, kSerial, true, 0},
      {"rework with another serial number", h + Line(Record(kMac, "XX")), kMac, kSerial, true, 10},
  };
  for (const auto& c : cases) {
    test::WriteFile(path, c.log);
    ProductionLogSession session;
    session.record = Record(c.mac, c.serial, "not run");
    testing::internal::CaptureStdout();
    const int code = OpenProductionLog(path, c.rework, true, session);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(code, c.code) << c.name << "\n" << out;
    if (c.code == 3) {
      std::string lower = out;
      for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      EXPECT_NE(lower.find("line "), std::string::npos) << c.name << ": the line is named\n" << out;
    }
  }
}

// The guard's search against the plain reading of every line, over logs
// of many records in every form, large enough to cross the read pieces.
TEST_F(LogFile, GuardFindsWhatReadingEveryLineFinds) {
  std::mt19937 random(20261208);
  auto pick = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  auto mac_of = [](int i, int form) {
    char text[18];
    std::snprintf(text, sizeof text, form == 1 ? "00-80-0f-53-%02x-%02x" : form == 2 ? "00800F53%02X%02X" : "00:80:0F:53:%02X:%02X",
                  (i >> 8) & 0xFF, i & 0xFF);
    return std::string(text);
  };
  for (int seed = 0; seed < 24; ++seed) {
    const int records = seed % 4 == 0 ? 4000 : 200;
    const int units = records / 2 + 1;
    std::string text = seed % 3 == 0 ? "\xEF\xBB\xBF" + RecordHeaderLine() : RecordHeaderLine();
    for (int i = 0; i < records; ++i) {
      const int unit = pick(units);
      char serial[16];
      std::snprintf(serial, sizeof serial, pick(4) == 0 ? "%08x" : "%08X", unit * 7);
      ProductionRecord r = Record(mac_of(unit, pick(6) == 0 ? 1 + pick(2) : 0), serial,
                                  pick(3) == 0 ? "failed" : pick(5) == 0 ? kVerifyStarted : "passed");
      if (pick(8) == 0) r.chip_model = "";
      text += Line(r);
      if (pick(50) == 0) text += Line(r).substr(0, static_cast<size_t>(pick(40))) + "\n";  // cut short
    }
    if (seed % 2 == 1) text = Lf(text);
    Write(text);
    for (int probe = 0; probe < 8; ++probe) {
      const int unit = pick(units + 5);
      char serial[16];
      std::snprintf(serial, sizeof serial, "%08X", (pick(4) == 0 ? unit + 1 : unit) * 7);
      const std::string mac = mac_of(unit, 0);
      IdentityHistory got;
      ASSERT_TRUE(ReadIdentityHistory(*log, mac, serial, got));
      // The model: every line read and compared.
      std::optional<uint64_t> mac_line, serial_line;
      std::map<std::string, std::vector<uint64_t>> pending;
      ForEachLogLine(*log, [&](uint64_t n, std::string_view l) {
        ProductionRecord r;
        if (ClassifyLogLine(l, n == 1, r) != LogLineKind::kRecord) return true;
        const bool same_mac = MacKey(r.mac) == MacKey(mac), same_serial = SerialKey(r.serial) == SerialKey(serial);
        if (!same_mac && !same_serial) return true;
        if (IsStartLine(r)) pending[MacKey(r.mac)].push_back(n);
        if (EndOfRunOnDevice(r)) pending.erase(MacKey(r.mac));
        if (ProgrammedSuccessfully(r) && same_mac && !mac_line) mac_line = n;
        if (ProgrammedSuccessfully(r) && same_serial && !serial_line) serial_line = n;
        return true;
      });
      std::vector<uint64_t> unfinished;
      for (const auto& [key, lines] : pending) unfinished.insert(unfinished.end(), lines.begin(), lines.end());
      std::sort(unfinished.begin(), unfinished.end());
      const std::string where = "seed " + std::to_string(seed) + ", " + mac + " / " + serial;
      EXPECT_FALSE(got.foreign_header || got.foreign_line) << where;
      EXPECT_EQ(got.mac_programmed ? std::optional<uint64_t>(got.mac_programmed->line) : std::nullopt, mac_line) << where;
      EXPECT_EQ(got.serial_programmed ? std::optional<uint64_t>(got.serial_programmed->line) : std::nullopt, serial_line)
          << where;
      std::vector<uint64_t> got_unfinished;
      for (const LogMatch& m : got.unfinished) got_unfinished.push_back(m.line);
      EXPECT_EQ(got_unfinished, unfinished) << where;
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
