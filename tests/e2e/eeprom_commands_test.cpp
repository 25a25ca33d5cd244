// EEPROM commands end to end: the built tool against a simulated device,
// compared by output, exit code, trace and the device state afterwards.
#include <gtest/gtest.h>

#include <cctype>
#include <regex>
#include <string>
#include <vector>

#include "tests/e2e/eeprom_e2e_support.h"

namespace {

using e2e::Bytes;
using e2e::SimDevice;

Bytes Pattern(size_t size) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(i * 7 + 11);
  return b;
}

// The serial number string that an image's serial slot points at.
std::string SerialInImage(const Bytes& image) {
  const int length = image[0x29];
  const int at = image[0x2A] * 2 + 2;
  std::string s;
  for (int i = 0; i < length / 2 - 1; ++i) s += static_cast<char>(image[at + 2 * i]);
  return s;
}

TEST(EepromReadCommand, ProbesTheSizeRestoresTheProbedBytesAndSavesTheWholePart) {
  for (int size : {256, 512}) {
    SimDevice dev;
    dev.state["eeprom_size"] = size;
    const Bytes contents = Pattern(size);
    dev.state["eeprom"] = e2e::Hex(contents);
    const auto r = dev.Run({"-r"});
    SKIP_IF_NOT_LANDED(r);
    const std::string name = "orn5300-" + std::to_string(size) + ".bin";
    EXPECT_EQ(r.out, test::Banner() + "Saved Eeprom to the file " + name + " under current folder\n");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(dev.Memory("eeprom"), contents) << "the probe left a changed byte";
    const std::string saved = test::ReadFile(dev.dir.File(name));
    EXPECT_EQ(saved, std::string(contents.begin(), contents.end()));

    // The probe: read 0, write 0xFF and the old byte back at 0, read 256,
    // write the complement at 256, read 0, then the one restore.
    std::vector<std::string> probe;
    std::vector<int> offsets;
    for (const auto& q : test::TraceRequests(dev.TracePath())) {
      const std::string op = q["op"];
      if (op == "E2P_READ_BYTE" || op == "E2P_WRITE_BYTE") {
        probe.push_back(op);
        offsets.push_back(e2e::OffsetLength(q).first);
      }
    }
    EXPECT_EQ(probe, (std::vector<std::string>{"E2P_READ_BYTE", "E2P_WRITE_BYTE", "E2P_WRITE_BYTE", "E2P_READ_BYTE",
                                               "E2P_WRITE_BYTE", "E2P_READ_BYTE", "E2P_WRITE_BYTE"}));
    EXPECT_EQ(offsets, (std::vector<int>{0, 0, 0, 256, 256, 0, size == 256 ? 0 : 256}));
    const auto blocks = dev.Requests("E2P_READ_BLOCK");
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(e2e::OffsetLength(blocks[0]).second, size);
    EXPECT_EQ(dev.Count("E2P_WRITE_BLOCK"), 0);
  }
}

TEST(EepromReadCommand, SaveFileIsOverwrittenFromItsStartButNotShortened) {
  SimDevice dev;
  const Bytes contents = Pattern(512);
  dev.state["eeprom"] = e2e::Hex(contents);
  test::WriteFile(dev.dir.File("out.bin"), std::string(600, '\x5A'));
  const auto r = dev.Run({"-r", "-b", "out.bin"});
  SKIP_IF_NOT_LANDED(r);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, test::Banner() + "Saved Eeprom to the file out.bin under current folder\n");
  const std::string saved = test::ReadFile(dev.dir.File("out.bin"));
  ASSERT_EQ(saved.size(), 600u);
  EXPECT_EQ(saved.substr(0, 512), std::string(contents.begin(), contents.end()));
  EXPECT_EQ(saved.substr(512), std::string(88, '\x5A'));
}

TEST(EepromReadCommand, ASaveThatCannotReachTheFileIsAFailure) {
  SimDevice dev;
  const auto r = dev.Run({"-r", "-b", "/dev/full"});
  SKIP_IF_NOT_LANDED(r);
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_EQ(r.out, test::Banner() + "ERROR: ERROR::WriteFile Failed\n");
}

class EepromWriteCommand : public testing::Test {
 protected:
  SimDevice dev;
  std::string ini;
  void SetUp() override {
    ini = dev.dir.File("config.ini");
    test::WriteFile(ini, e2e::IniText());
  }
};

TEST_F(EepromWriteCommand, IniConfigurationIsProgrammedAndVerified) {
  for (int size : {512, 256}) {
    SimDevice fresh;
    fresh.state["eeprom_size"] = size;
    test::WriteFile(fresh.dir.File("config.ini"), e2e::IniText());
    const auto r = fresh.Run({"-w", "-i", "config.ini"});
    SKIP_IF_NOT_LANDED(r);
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(r.out, test::Banner() + "The current device EEPROM was programmed with 254 bytes\n");
    const Bytes eeprom = fresh.Memory("eeprom");
    ASSERT_EQ(eeprom.size(), static_cast<size_t>(size));
    EXPECT_EQ(eeprom[0], 0xA5);
    EXPECT_EQ(Bytes(eeprom.begin() + 1, eeprom.begin() + 7), (Bytes{0x00, 0x80, 0x0F, 0x11, 0x22, 0x30}));
    EXPECT_EQ(SerialInImage(eeprom), "000000A1");
    EXPECT_EQ(Bytes(eeprom.begin() + 254, eeprom.end()), Bytes(size - 254, 0));
    const auto writes = fresh.Requests("E2P_WRITE_BLOCK");
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(e2e::OffsetLength(writes[0]).second, size) << "the whole part is written";
    const auto reads = fresh.Requests("E2P_READ_BLOCK");
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(e2e::OffsetLength(reads[0]).second, 254) << "verified over the image";
    EXPECT_EQ(test::ReadFile(fresh.dir.File("config.ini")), e2e::IniText()) << "no -N: the file stays";
  }
}

TEST_F(EepromWriteCommand, ImageTooLargeForA256BytePartIsRefusedByGeneration) {
  dev.state["eeprom_size"] = 256;
  std::string text = e2e::IniText();
  const std::string from = "ProductString=ORN5300 Adapter";
  text.replace(text.find(from), from.size(), "ProductString=ORN5300 USB 3.0 Gigabit Ethernet Adapter");
  test::WriteFile(ini, text);
  const auto r = dev.Run({"-w", "-i", "config.ini"});
  SKIP_IF_NOT_LANDED(r);
  EXPECT_EQ(r.exit_code, 9);
  EXPECT_EQ(r.out, test::Banner() +
                       "WARNING: The size of generated binary is greater than EEPROM size(256Bytes)\n"
                       "ERROR: Generated EEPROM file failed\n");
  EXPECT_EQ(dev.Count("E2P_WRITE_BLOCK"), 0);
}

TEST_F(EepromWriteCommand, BinaryImagesUpToThePartSizeAreWrittenWithZerosBehind) {
  for (size_t size : {size_t{300}, size_t{512}}) {
    SimDevice fresh;
    const Bytes image = e2e::BinaryImage(size, 0x3C);
    test::WriteFile(fresh.dir.File("img.bin"), std::string(image.begin(), image.end()));
    const auto r = fresh.Run({"-w", "-b", "img.bin"});
    SKIP_IF_NOT_LANDED(r);
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(r.out, test::Banner() + "The current device EEPROM was programmed with " + std::to_string(size) +
                         " bytes\n");
    Bytes expected = image;
    expected.resize(512, 0);
    EXPECT_EQ(fresh.Memory("eeprom"), expected) << size;
    const auto reads = fresh.Requests("E2P_READ_BLOCK");
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(e2e::OffsetLength(reads[0]).second, static_cast<int>(size));
  }
}

TEST_F(EepromWriteCommand, CommandLineMacAddressReplacesTheImagesOwn) {
  const Bytes image = e2e::BinaryImage(300, 0x3C);
  test::WriteFile(dev.dir.File("img.bin"), std::string(image.begin(), image.end()));
  const auto r = dev.Run({"-w", "-b", "img.bin", "-M", "02:AA:BB:CC:DD:EE"});
  SKIP_IF_NOT_LANDED(r);
  EXPECT_EQ(r.exit_code, 0) << r.out;
  const Bytes eeprom = dev.Memory("eeprom");
  EXPECT_EQ(Bytes(eeprom.begin() + 1, eeprom.begin() + 7), (Bytes{0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE}));
  EXPECT_EQ(Bytes(eeprom.begin() + 7, eeprom.begin() + 300), Bytes(image.begin() + 7, image.end()));
  EXPECT_EQ(test::ReadFile(dev.dir.File("img.bin")), std::string(image.begin(), image.end()));
}

TEST_F(EepromWriteCommand, FailuresLeaveTheIdentityWhereItWas) {
  const Bytes oversized = e2e::BinaryImage(520, 0x3C);
  test::WriteFile(dev.dir.File("big.bin"), std::string(oversized.begin(), oversized.end()));
  struct Case {
    const char* name;
    std::vector<std::string> args;
    nlohmann::json faults;
    int exit_code;
    std::string out;
    bool writes;
  } cases[] = {
      {"image larger than the part", {"-w", "-b", "big.bin", "-N"}, nlohmann::json::array(), 9,
       "ERROR: The size of binary file is greater than eeprom size\n", false},
      {"programming refused",
       {"-w", "-i", "config.ini", "-N"},
       nlohmann::json::parse(R"([{"op":"E2P_WRITE_BLOCK","status":1}])"),
       9,
       "ERROR: E2P_WRITE_BLOCK failed!    status:Access failed\nFailed to program device eeprom\n",
       true},
      {"read-back differs",
       {"-w", "-i", "config.ini", "-N"},
       nlohmann::json::parse(R"([{"op":"E2P_READ_BLOCK","corrupt":40}])"),
       9,
       "Failed to verify eeprom contents\nERROR: Failed to verify device eeprom\n",
       true},
  };
  for (const auto& c : cases) {
    dev.state = {{"faults", c.faults}};
    const auto r = dev.Run(c.args);
    SKIP_IF_NOT_LANDED(r);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.name;
    EXPECT_EQ(r.out, test::Banner() + c.out) << c.name;
    EXPECT_EQ(dev.Count("E2P_WRITE_BLOCK"), c.writes ? 1 : 0) << c.name;
    EXPECT_EQ(test::ReadFile(ini), e2e::IniText()) << c.name << ": a failed write stepped the identity";
    EXPECT_EQ(test::ReadFile(dev.dir.File("big.bin")), std::string(oversized.begin(), oversized.end()));
  }
}

TEST_F(EepromWriteCommand, ChipWithoutALayoutTakesBinaryImagesButNoIniFile) {
  dev.state["chip_id"] = "0x530A0000";
  auto r = dev.Run({"-w", "-i", "config.ini", "-N"});
  SKIP_IF_NOT_LANDED(r);
  EXPECT_EQ(r.exit_code, 9);
  EXPECT_EQ(r.out, test::Banner() + "ERROR: Invalid chip\nERROR: Generated EEPROM file failed\n");
  EXPECT_EQ(dev.Count("E2P_WRITE_BLOCK"), 0);
  EXPECT_EQ(test::ReadFile(ini), e2e::IniText());

  const Bytes image = e2e::BinaryImage(300, 0x3C);
  test::WriteFile(dev.dir.File("img.bin"), std::string(image.begin(), image.end()));
  r = dev.Run({"-w", "-b", "img.bin"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  r = dev.Run({"-r"});
  EXPECT_EQ(r.out, test::Banner() + "Saved Eeprom to the file orn530A-512.bin under current folder\n");
}

// The value text of `key` in an INI file, and where it starts.
std::pair<std::string, size_t> IniValue(const std::string& text, const std::string& key) {
  const std::regex line("(^|\n)" + key + "[ \t]*=[ \t]*([^\r\n \t]+)");
  std::smatch m;
  if (!std::regex_search(text, m, line)) return {"", std::string::npos};
  return {m[2].str(), static_cast<size_t>(m.position(2))};
}

// Adds one to a text of hexadecimal digits, keeping its length.
std::string NextHex(std::string text) {
  for (size_t i = text.size(); i-- > 0;) {
    const int v = std::stoi(text.substr(i, 1), nullptr, 16) + 1;
    text[i] = "0123456789ABCDEF"[v & 15];
    if (v < 16) break;
  }
  return text;
}

std::string NextMac(const std::string& mac) {
  std::string digits;
  for (char c : mac) {
    if (c != ':' && c != '-') digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  digits = NextHex(digits);
  std::string out;
  for (size_t i = 0; i < 12; i += 2) {
    if (i) out += ':';
    out.append(digits, i, 2);
  }
  return out;
}

// Three devices programmed in a row from one INI file: each gets the next
// MAC address and serial number, in the device and in the file, and the
// rest of the file stays byte for byte.
void ProgramSeries(SimDevice& dev, const std::string& ini_text) {
  const std::string ini = dev.dir.File("series.ini");
  test::WriteFile(ini, ini_text);
  auto [mac, mac_at] = IniValue(ini_text, "CurrentMacAddress");
  auto [serial, serial_at] = IniValue(ini_text, "CurrentSerialNumber");
  ASSERT_NE(mac_at, std::string::npos);
  ASSERT_NE(serial_at, std::string::npos);
  ASSERT_EQ(mac.size(), 17u) << "the series keeps the MAC text in place";
  for (int run = 0; run < 3; ++run) {
    const auto r = dev.Run({"-w", "-i", "series.ini", "-N"});
    SKIP_IF_NOT_LANDED(r);
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_NE(r.out.find("The current device EEPROM was programmed with "), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - 17), "Updated ini file\n");
    const Bytes eeprom = dev.Memory("eeprom");
    char programmed[18];
    std::snprintf(programmed, sizeof programmed, "%02X:%02X:%02X:%02X:%02X:%02X", eeprom[1], eeprom[2], eeprom[3],
                  eeprom[4], eeprom[5], eeprom[6]);
    // Upper case with colons, as programmed. An init-capture: clang 14
    // cannot capture a structured binding.
    EXPECT_EQ(std::string(programmed), [m = mac]() mutable {
      for (char& c : m) c = c == '-' ? ':' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      return m;
    }()) << "run " << run + 1;
    EXPECT_EQ(SerialInImage(eeprom), serial) << "run " << run + 1;
    mac = NextMac(mac);
    serial = NextHex(serial);
    std::string expected = ini_text;
    expected.replace(serial_at, serial.size(), serial);
    expected.replace(mac_at, 17, mac);
    EXPECT_EQ(test::ReadFile(ini), expected) << "after run " << run + 1;
  }
}

TEST_F(EepromWriteCommand, ProductionSeriesProgramsConsecutiveIdentities) {
  ProgramSeries(dev, e2e::IniText());
}

TEST_F(EepromWriteCommand, ProductionSeriesFromTheShippedExample) {
  const std::string example = std::string(ORN_SOURCE_DIR) + "/examples/orn5300.ini";
  if (!test::FileExists(example)) GTEST_SKIP() << "examples/orn5300.ini is not in this build yet";
  ProgramSeries(dev, test::ReadFile(example));
}

}  // namespace
