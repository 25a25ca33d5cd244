// The JSON Lines trace: one line per request and per sleep, keys in a fixed
// order, for every operation of the request channel.
#include <chrono>
#include <functional>
#include <optional>

#include "support/capture.h"
#include "support/sim_trace.h"
#include "tests/sim/sim_fixture.h"

namespace simtest {
namespace {

using Trace = SimTest;
using test::CaptureStdout;

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::string content = test::ReadFile(path);
  size_t start = 0;
  for (size_t nl; (nl = content.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.push_back(content.substr(start, nl - start));
  }
  return lines;
}

TEST_F(Trace, LinesHaveTheFixedKeyOrder) {
  Start(R"({"faults": [{"op": "READ_PHY", "ioctl_error": 31}]})", true);
  uint32_t v = 0;
  ASSERT_TRUE(ReadRegister(ch, 0, v));
  SleepMs(ch, 2000);
  CaptureStdout([&] { EXPECT_FALSE(ReadPhy(ch, 0x40013, v)); });
  ASSERT_TRUE(WriteRegister(ch, 0x1234, 0xA1B2C3D4));
  device.reset();
  EXPECT_EQ(Lines(trace_path),
            (std::vector<std::string>{
                R"({"seq":1,"op":"READ_REGISTER","code":8,"signature":"0x00010002","adapter":0,)"
                R"("param":"0x00000000","in_len":4096,"data":"","status":0,"returned":20})",
                R"({"seq":2,"sleep_ms":2000})",
                R"({"seq":3,"op":"READ_PHY","code":10,"signature":"0x00010002","adapter":0,)"
                R"("param":"0x00040013","in_len":4096,"data":"","ioctl_error":31})",
                R"({"seq":4,"op":"WRITE_REGISTER","code":9,"signature":"0x00010002","adapter":0,)"
                R"("param":"0x00001234","in_len":20,"data":"d4c3b2a1","status":0,"returned":16})",
            }));
  // A second run appends, counting again from 1.
  Reopen(true);
  SleepMs(ch, 5);
  device.reset();
  EXPECT_EQ(Lines(trace_path).back(), R"({"seq":1,"sleep_ms":5})");
  EXPECT_EQ(SavedState().clock_ms, 2005u);
}

TEST_F(Trace, UnknownOperationsAreTracedWithTheirCode) {
  Start("{}", true);
  alignas(4) std::array<uint8_t, 4096> b{};
  b[16] = 0x5A;
  Raw(b.data(), 21, 0xDEADBEEF, 17, 0x12345678, 7);
  device.reset();
  EXPECT_EQ(Lines(trace_path).at(0),
            R"({"seq":1,"op":"UNKNOWN","code":21,"signature":"0x12345678","adapter":7,)"
            R"("param":"0xdeadbeef","in_len":17,"data":"5a","status":2,"returned":16})");
}

// One expected request of the trace. Unset fields are not compared (the
// channel leaves offsets it does not write as the previous request left them).
struct Expected {
  std::string op;
  uint32_t code;
  std::optional<uint32_t> param;
  uint32_t in_len;
  std::optional<std::string> data;
  uint32_t returned;
};

void CheckEveryOperation(std::unique_ptr<platform::DeviceControl>& device, RequestChannel& ch,
                         const std::string& trace_path,
                         uint32_t signature, uint32_t adapter) {
  const std::u16string location = u"PCI bus 0, device 20, function 0";
  const std::u16string key = u"{4d36e972-e325-11ce-bfc1-08002be10318}\\0001";
  const std::u16string pdo = u"\\Device\\USBPDO-7";
  auto text_len = [](const std::u16string& s) {
    return static_cast<uint32_t>(16 + 2 * (s.size() + 1));
  };
  uint8_t byte = 0;
  uint32_t word = 0;
  std::array<uint8_t, 512> image{};
  const uint8_t four[] = {1, 2, 3, 4};
  const uint8_t two[] = {0x0F, 0xF0};
  std::array<uint32_t, 4> version{};
  std::array<uint32_t, 47> eth{};
  std::array<uint32_t, 16> usb{};
  std::array<uint32_t, 3> bits{};
  std::array<uint16_t, 3> cab{};
  AdapterText text{};

  const std::vector<std::pair<std::function<bool()>, std::vector<Expected>>> calls = {
      {[&] { return E2pReadByte(ch, 7, byte); },
       {{"E2P_READ_BYTE", 1, std::nullopt, 4096, "", 17}}},
      {[&] { return E2pWriteByte(ch, 0x107, 0xAB); },
       {{"E2P_COMMAND", 5, 0x20000000, 17, std::nullopt, 16},
        {"E2P_WRITE_BYTE", 2, 0x00010107, 17, "ab", 16},
        {"E2P_COMMAND", 5, 0x10000000, 17, "ab", 16}}},
      {[&] { return E2pReadBlock(ch, 512, image.data()); },
       {{"E2P_READ_BLOCK", 3, 0x02000000, 4096, "", 528}}},
      {[&] { return E2pWriteBlock(ch, 4, four); },
       {{"E2P_COMMAND", 5, 0x20000000, 17, std::nullopt, 16},
        {"E2P_WRITE_BLOCK", 4, 0x00040000, 20, "01020304", 16},
        {"E2P_COMMAND", 5, 0x10000000, 17, "01", 16}}},
      {[&] { return E2pCommand(ch, 0x12345678); },
       {{"E2P_COMMAND", 5, 0x12345678, 17, std::nullopt, 16}}},
      {[&] { return GetDriverVersion(ch, version); },
       {{"GET_DRIVER_VERSION", 7, std::nullopt, 4096, "", 32}}},
      {[&] { return ReadRegister(ch, 0x100, word); },
       {{"READ_REGISTER", 8, 0x100, 4096, "", 20}}},
      {[&] { return WriteRegister(ch, 0x104, 0x01020304); },
       {{"WRITE_REGISTER", 9, 0x104, 20, "04030201", 16}}},
      {[&] { return ReadPhy(ch, 1, word); }, {{"READ_PHY", 10, 1, 4096, "", 18}}},
      {[&] { return ReadPhy(ch, 0x80000001, word); },
       {{"READ_PHY", 10, 0x80000001, 4096, "", 20}}},
      {[&] { return WritePhy(ch, 0x40011, 0x0840); },
       {{"WRITE_PHY", 11, 0x40011, 18, "4008", 16}}},
      {[&] { return WritePhy(ch, 0x20000010, 0x11223344); },
       {{"WRITE_PHY", 11, 0x20000010, 20, "44332211", 16}}},
      {[&] { return ReadTxRxStats(ch, eth); },
       {{"READ_TXRX_STATS", 12, std::nullopt, 4096, "", 16 + 188}}},
      {[&] { return SetLinkMode(ch, 5, byte); },
       {{"SET_LINK_MODE", 15, std::nullopt, 20, "05000000", 17}}},
      {[&] { return GetAdapterBits(ch, bits); },
       {{"GET_ADAPTER_BITS", 16, std::nullopt, 4096, "", 28}}},
      {[&] { return GetAdapterText(ch, GET_ADAPTER_LOCATION, text); },
       {{"GET_ADAPTER_LOCATION", 17, std::nullopt, 4096, "", text_len(location)}}},
      {[&] { return GetAdapterText(ch, GET_ADAPTER_REGISTRY_KEY, text); },
       {{"GET_ADAPTER_REGISTRY_KEY", 18, std::nullopt, 4096, "", text_len(key)}}},
      {[&] { return GetAdapterText(ch, GET_ADAPTER_PDO, text); },
       {{"GET_ADAPTER_PDO", 19, std::nullopt, 4096, "", text_len(pdo)}}},
      {[&] { return GetAdapterPort(ch, word); },
       {{"GET_ADAPTER_PORT", 20, std::nullopt, 4096, "", 20}}},
      {[&] { return OtpReadBlock(ch, 0x10, 16, image.data()); },
       {{"OTP_CONFIGURE", 25, 0x02000000, 17, std::nullopt, 16},
        {"OTP_READ_BLOCK", 23, 0x00100010, 4096, "", 32},
        {"OTP_CONFIGURE", 25, 0x01000000, 17, std::nullopt, 16}}},
      {[&] { return OtpWriteBlock(ch, 0x20, 2, two); },
       {{"OTP_CONFIGURE", 25, 0x06000002, 17, std::nullopt, 16},
        {"OTP_WRITE_BLOCK", 24, 0x00020020, 18, "0ff0", 16},
        {"OTP_CONFIGURE", 25, 0x01000000, 17, "0f", 16}}},
      {[&] { return SetLinkState(ch, 0); },
       {{"SET_LINK_STATE", 26, std::nullopt, 20, "00000000", 16}}},
      {[&] { return ExecuteCabScan(ch, cab); },
       {{"EXECUTE CABSCAN", 27, std::nullopt, 20, "00000000", 22}}},
      {[&] { return ReadUsbPhyStats(ch, usb); },
       {{"READ_USB_PHY_STATS", 28, std::nullopt, 4096, "", 80}}},
  };
  std::vector<Expected> expected;
  for (const auto& [call, requests] : calls) {
    EXPECT_TRUE(call()) << requests.front().op;
    expected.insert(expected.end(), requests.begin(), requests.end());
  }
  device.reset();  // closes the trace

  const auto lines = test::TraceRequests(trace_path);
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    const auto& line = lines[i];
    const Expected& e = expected[i];
    SCOPED_TRACE(line.dump());
    EXPECT_EQ(line["seq"], i + 1);
    EXPECT_EQ(line["op"], e.op);
    EXPECT_EQ(line["code"], e.code);
    const uint32_t sig = e.op == "GET_ADAPTER_BITS" ? kSignatureAdapter : signature;
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", sig);
    EXPECT_EQ(line["signature"], hex);
    EXPECT_EQ(line["adapter"], adapter);
    if (e.param) {
      std::snprintf(hex, sizeof hex, "0x%08x", *e.param);
      EXPECT_EQ(line["param"], hex);
    }
    EXPECT_EQ(line["in_len"], e.in_len);
    if (e.data) {
      EXPECT_EQ(line["data"], *e.data);
    }
    EXPECT_EQ(line["data"].get<std::string>().size(), e.in_len == 4096 ? 0 : 2 * (e.in_len - 16));
    EXPECT_EQ(line["status"], 0);
    EXPECT_EQ(line["returned"], e.returned);
  }
}

TEST_F(Trace, EveryOperationWithoutAdapterSelection) {
  Start("{}", true);
  CheckEveryOperation(device, ch, trace_path, kSignatureDefault, 0);
}

TEST_F(Trace, EveryOperationWithAdapterSelection) {
  Start(R"({"adapters": 3})", true);
  SelectAdapter(ch, 2);
  CheckEveryOperation(device, ch, trace_path, kSignatureAdapter, 2);
}

TEST_F(Trace, RealTimeSleepsAreSleptAndLeaveTheClock) {
  Start(R"({"virtual_time": false, "clock_ms": 40})", true);
  const auto start = std::chrono::steady_clock::now();
  SleepMs(ch, 60);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(55));
  EXPECT_EQ(SavedState().clock_ms, 40u);
  EXPECT_EQ(test::TraceSleeps(trace_path), std::vector<int>{60});
}

}  // namespace
}  // namespace simtest
