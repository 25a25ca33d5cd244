// Loading the state file: defaults, overlays, number and byte forms, and the
// open errors (missing, inaccessible, invalid).
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "tests/sim/sim_fixture.h"

namespace simtest {
namespace {

using StateLoading = SimTest;

TEST_F(StateLoading, EmptyObjectIsANewDeviceWithEveryDefault) {
  Start("{}");
  EXPECT_EQ(Reg(0), 0x53000000u);
  EXPECT_EQ(Reg(0x1234), 0u);
  const std::vector<std::pair<uint32_t, uint16_t>> phy = {
      {0, 0x1140},  {1, 0x796D},  {4, 0x01E1},  {5, 0xC1E1}, {9, 0x0200},   {10, 0x4800},
      {16, 0x1000}, {17, 0x1000}, {18, 0x0000}, {2, 0x0000}, {24, 0x0000}, {31, 0x0000}};
  for (auto [index, value] : phy) EXPECT_EQ(Phy(index), value) << "PHY " << index;

  std::array<uint8_t, 512> eeprom{};
  ASSERT_TRUE(E2pReadBlock(ch, 512, eeprom.data()));
  for (uint8_t b : eeprom) ASSERT_EQ(b, 0xFF);
  std::array<uint8_t, 512> otp{};
  otp.fill(0x5A);
  ASSERT_TRUE(OtpReadBlock(ch, 0, 512, otp.data()));
  for (uint8_t b : otp) ASSERT_EQ(b, 0x00);

  std::array<uint32_t, 4> version{};
  ASSERT_TRUE(GetDriverVersion(ch, version));
  EXPECT_EQ(version, (std::array<uint32_t, 4>{1, 0, 0, 0}));
  std::array<uint32_t, 3> bits{9, 9, 9};
  ASSERT_TRUE(GetAdapterBits(ch, bits));
  EXPECT_EQ(bits, (std::array<uint32_t, 3>{0, 0, 0}));
  uint32_t port = 0;
  ASSERT_TRUE(GetAdapterPort(ch, port));
  EXPECT_EQ(port, 3u);
  AdapterText text{};
  ASSERT_TRUE(GetAdapterText(ch, GET_ADAPTER_PDO, text));
  EXPECT_EQ(std::u16string(text.data()), u"\\Device\\USBPDO-7");
  ASSERT_TRUE(GetAdapterText(ch, GET_ADAPTER_REGISTRY_KEY, text));
  EXPECT_EQ(std::u16string(text.data()), u"{4d36e972-e325-11ce-bfc1-08002be10318}\\0001");
  ASSERT_TRUE(GetAdapterText(ch, GET_ADAPTER_LOCATION, text));
  EXPECT_EQ(std::u16string(text.data()), u"PCI bus 0, device 20, function 0");
  std::array<uint16_t, 3> cab{7, 7, 7};
  ASSERT_TRUE(ExecuteCabScan(ch, cab));
  EXPECT_EQ(cab, (std::array<uint16_t, 3>{0, 0, 0}));
  uint8_t reply = 9;
  ASSERT_TRUE(SetLinkMode(ch, 4, reply));
  EXPECT_EQ(reply, 0);

  // MCU identity and firmware version defaults.
  EXPECT_EQ(McuRead(0x080B), 0x53);
  EXPECT_EQ(McuRead(0x080C), 0x00);
  EXPECT_EQ(McuRead(0x0950), 0x00);
  EXPECT_EQ(McuRead(0x0951), 0x01);
  EXPECT_EQ(McuRead(0x0952), 0x02);
  EXPECT_EQ(McuRead(0x0953), 0x00);
}

TEST_F(StateLoading, MapsAndMemoriesAreLaidOverTheDefaults) {
  Start(R"({
    "chip_id": "0x53010000",
    "registers": {"0x10": "0x1234", "32": 7},
    "phy": {"0x1": "0x7949", "3": 4660},
    "eeprom": "A5 01\n02",
    "otp": "F3",
    "mcu": {"xdata": {"0x0951": "02", "0x0100": "de ad"}, "sfr": {"0xF9": "10"}},
    "eth_stats": [1, "2", "0x3"],
    "driver_version": [5, 6],
    "adapter_location": "Bus \u00e9 \ud83d\ude00"
  })");
  EXPECT_EQ(Reg(0), 0x53010000u);
  EXPECT_EQ(Reg(0x10), 0x1234u);
  EXPECT_EQ(Reg(0x20), 7u);
  EXPECT_EQ(Reg(0x14), 0u);
  EXPECT_EQ(Phy(1), 0x7949);
  EXPECT_EQ(Phy(3), 0x1234);
  EXPECT_EQ(Phy(0), 0x1140);  // untouched default
  EXPECT_EQ(Phy(5), 0xC1E1);

  std::array<uint8_t, 512> eeprom{};
  ASSERT_TRUE(E2pReadBlock(ch, 512, eeprom.data()));
  EXPECT_EQ(eeprom[0], 0xA5);
  EXPECT_EQ(eeprom[1], 0x01);
  EXPECT_EQ(eeprom[2], 0x02);
  EXPECT_EQ(eeprom[3], 0xFF);  // padded
  EXPECT_EQ(eeprom[511], 0xFF);
  std::array<uint8_t, 2> otp{};
  ASSERT_TRUE(OtpReadBlock(ch, 0, 2, otp.data()));
  EXPECT_EQ(otp, (std::array<uint8_t, 2>{0xF3, 0x00}));

  EXPECT_EQ(McuRead(0x0951), 0x02);
  EXPECT_EQ(McuRead(0x0950), 0x00);  // neighbours keep their defaults
  EXPECT_EQ(McuRead(0x080B), 0x53);
  EXPECT_EQ(McuRead(0x0101), 0xAD);
  EXPECT_EQ(McuRead(0xF9, 0x81), 0x10);

  std::array<uint32_t, 47> stats{};
  ASSERT_TRUE(ReadTxRxStats(ch, stats));
  EXPECT_EQ(stats[0], 1u);
  EXPECT_EQ(stats[2], 3u);
  EXPECT_EQ(stats[46], 0u);
  std::array<uint32_t, 4> version{};
  ASSERT_TRUE(GetDriverVersion(ch, version));
  EXPECT_EQ(version, (std::array<uint32_t, 4>{5, 6, 0, 0}));
  AdapterText text{};
  ASSERT_TRUE(GetAdapterText(ch, GET_ADAPTER_LOCATION, text));
  EXPECT_EQ(std::u16string(text.data()), u"Bus \u00e9 \U0001F600");
}

// Every document here has one key of a wrong type or range.
TEST_F(StateLoading, InvalidDocumentsFailWithError13AndLeaveTheFileUntouched) {
  const std::string big(2 * 257, 'F');
  std::string zeros48 = "[0";
  for (int i = 1; i < 48; ++i) zeros48 += ",0";
  zeros48 += "]";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"not json", "not valid JSON"},
      {"", "not valid JSON"},
      {"[]", "JSON object"},
      {R"({"chip_id": -1})", "chip_id"},
      {R"({"chip_id": "0x100000000"})", "chip_id"},
      {R"({"chip_id": 1.5})", "chip_id"},
      {R"({"chip_id": "12a"})", "chip_id"},
      {R"({"adapters": true})", "adapters"},
      {R"({"eeprom_size": 300})", "eeprom_size"},
      {R"({"eeprom": "F"})", "eeprom"},
      {R"({"eeprom": "GG"})", "eeprom"},
      {R"({"eeprom_size": 256, "eeprom": ")" + big + R"("})", "eeprom"},
      {R"({"otp": ")" + std::string(2 * 513, '0') + R"("})", "otp"},
      {R"({"registers": {"zz": 1}})", "registers.zz"},
      {R"({"registers": {"0x10": 1, "16": 2}})", "registers"},
      {R"({"registers": [1]})", "registers"},
      {R"({"phy": {"1": []}})", "phy.1"},
      {R"({"phy": {"1": [1, "x"]}})", "phy.1"},
      {R"({"virtual_time": "yes"})", "virtual_time"},
      {R"({"link_mode_reply": 256})", "link_mode_reply"},
      {R"({"cabscan": [65536]})", "cabscan"},
      {R"({"eth_stats": )" + zeros48 + "}", "eth_stats"},
      {R"({"adapter_bits": [1, 2, 3, 4]})", "adapter_bits"},
      {R"({"adapter_pdo": 5})", "adapter_pdo"},
      {R"({"mcu": {"xdata": {"0xFFFF": "0000"}}})", "mcu.xdata"},
      {R"({"mcu": {"sfr": {"0x100": "00"}}})", "mcu.sfr"},
      {R"({"mcu": {"running": 1}})", "mcu.running"},
      {R"({"mcu": {"rom": {}}})", "mcu.rom"},
      {R"({"faults": {}})", "faults"},
      {R"({"faults": [{"param": 1}]})", "op"},
      {R"({"faults": [{"op": "READ_PHYS"}]})", "faults[0].op"},
      {R"({"faults": [{"op": "EXECUTE_CABSCAN"}]})", "faults[0].op"},
      {R"({"faults": [{"op": "READ_PHY", "status": 0}]})", "faults[0].status"},
      {R"({"faults": [{"op": "READ_PHY", "nth": 0}]})", "faults[0].nth"},
      {R"({"faults": [{"op": "READ_PHY", "from-nth": 2}]})", "from-nth"},
      {R"({"colour": 1})", "colour"},
  };
  for (const auto& [doc, mentioned] : cases) {
    SCOPED_TRACE(doc.substr(0, 80));
    test::WriteFile(state_path, doc);
    uint32_t error = 0;
    testing::internal::CaptureStderr();
    auto dev = sim::OpenSimulatedDevice(state_path, "", error);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(dev, nullptr);
    EXPECT_EQ(error, 13u);
    EXPECT_EQ(err.find(state_path), 0u) << err;
    EXPECT_NE(err.find(mentioned), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(test::ReadFile(state_path), doc);
  }
}

TEST_F(StateLoading, MissingFileIsError2) {
  uint32_t error = 0;
  EXPECT_EQ(sim::OpenSimulatedDevice(dir.File("absent.json"), "", error), nullptr);
  EXPECT_EQ(error, 2u);
  EXPECT_EQ(sim::OpenSimulatedDevice(dir.File("no/such/dir.json"), "", error), nullptr);
  EXPECT_EQ(error, 2u);
  EXPECT_FALSE(test::FileExists(dir.File("absent.json")));
}

TEST_F(StateLoading, FileThatCannotBeOpenedForReadingAndWritingIsError5) {
  // A folder in place of the file: refused even for root.
  const std::string folder = dir.File("folder.json");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  uint32_t error = 0;
  EXPECT_EQ(sim::OpenSimulatedDevice(folder, "", error), nullptr);
  EXPECT_EQ(error, 5u);

  // A file without permissions, opened by an unprivileged user: root reads
  // every file, so the open runs in a child that drops to "nobody".
  test::WriteFile(state_path, "{}");
  ASSERT_EQ(chmod(state_path.c_str(), 0), 0);
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
    uint32_t child_error = 0;
    auto dev = sim::OpenSimulatedDevice(state_path, "", child_error);
    _exit(dev == nullptr ? static_cast<int>(child_error) : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 5);
  EXPECT_EQ(test::ReadFile(state_path), "{}");
}

TEST_F(StateLoading, TraceFileThatCannotBeOpenedFailsTheOpen) {
  test::WriteFile(state_path, "{}");
  uint32_t error = 0;
  testing::internal::CaptureStderr();
  auto dev = sim::OpenSimulatedDevice(state_path, dir.File("missing/trace.jsonl"), error);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(dev, nullptr);
  EXPECT_EQ(error, 5u);
  EXPECT_NE(err.find("trace"), std::string::npos);
}

}  // namespace
}  // namespace simtest
