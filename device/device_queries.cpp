#include "device/device_queries.h"

#include <cstdio>
#include <string>

#include "core/output.h"
#include "mcu/mcu_bridge.h"

namespace {

constexpr const char* kEthStatNames[47] = {
    "RxCrcErrors", "RxAlignmentErrors", "RxFragmentErrors", "RxJabberErrors",
    "RxRuntFrameErrors", "RxFrameTooLongErrors", "RxDroppedFrames", "RxGoodUnicastBytes",
    "RxGoodBroadcastBytes", "RxGoodMulticastBytes", "RxGoodUnicastFrames",
    "RxGoodBroadcastFrames", "RxGoodMulticastFrames", "RxPauseFrames", "RxGood64ByteFrames",
    "RxGood65To127ByteFrames", "RxGood128To255ByteFrames", "RxGood256To511ByteFrames",
    "RxGood512To1023ByteFrames", "RxGood1024To1518ByteFrames", "RxGoodGreater1518ByteFrames",
    "EeeRxLpiTransitions", "EeeRxLpiTime", "TxCrcErrors", "TxExcessiveDeferralErrors",
    "TxCarrierErrors", "TxBadBytes", "TxSingleCollisions", "TxMultipleCollisions",
    "TxExcessiveCollisionErrors", "TxLateCollisionErrors", "TxGoodUnicastBytes",
    "TxGoodBroadcastBytes", "TxGoodMulticastBytes", "TxGoodUnicastFrames",
    "TxGoodBroadcastFrames", "TxGoodMulticastFrames", "TxPauseFrames", "TxGood64ByteFrames",
    "TxGood65To127ByteFrames", "TxGood128To255ByteFrames", "TxGood256To511ByteFrames",
    "TxGood512To1023ByteFrames", "TxGood1024To1518ByteFrames", "TxGoodGreater1518ByteFrames",
    "EeeTxLpiTransitions", "EeeTxLpiTime"};

constexpr const char* kUsbPhyStatNames[16] = {
    "LtssmU0U1Count", "LtssmU0U2Count", "LtssmU0U3Count", "LtssmWResetCount",
    "LtssmHResetCount", "LtssmU0RecovFailCount", "LtssmU1RecovFailCount",
    "LtssmU2RecovFailCount", "LtssmU3RecovFailCount", "LtssmPollFailCount",
    "LtssmU0RecovOkCount", "RxValidZeroCount", "RxStatus4Count", "RxStatus5Count",
    "RxStatus6Count", "RxStatus7Count"};

// One counter line: three blanks, the name padded to `width`, the value as
// eight hexadecimal digits. The cast keeps the format the same where long
// is 32 or 64 bits wide.
void PrintCounter(const char* name, int width, uint32_t value) {
  std::printf("   %-*s = 0x%08lx\n", width, name, static_cast<unsigned long>(value));
}

void PrintRegisterLine(const char* format, uint32_t address, uint32_t value) {
  std::printf(format, static_cast<unsigned>(address), static_cast<unsigned>(value));
}

bool RunTextQuery(RequestChannel& ch, OpCode op, const char* format) {
  AdapterText text{};
  if (!GetAdapterText(ch, op, text)) return false;
  std::printf(format, Utf16ToUtf8(text.data()).c_str());
  return true;
}

}  // namespace

std::string Utf16ToUtf8(const char16_t* text) {
  std::string out;
  auto put = [&out](uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  };
  for (size_t i = 0; text[i] != 0; ++i) {
    const uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      put(0x10000 + ((c - 0xD800) << 10) + (static_cast<uint32_t>(text[i + 1]) - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      put(0xFFFD);  // a lone surrogate has no UTF-8 form
    } else {
      put(c);
    }
  }
  return out;
}

bool RunRegisterCommand(RequestChannel& ch, const RunSettings& rs) {
  const uint32_t address = rs.RegisterAddress;
  // The value printed starts at 0: a failed read shows 0 after the
  // operation's message, a 16-bit PHY reply shows with the upper half 0.
  uint32_t value = 0;
  bool ok = true;
  switch (rs.CommandCode) {
    case kCmdReadRegister:
      ok = ReadRegister(ch, address, value);
      PrintRegisterLine("Register 0x%x : 0x%x\n", address, value);
      break;
    case kCmdWriteRegister:
      ok = WriteRegister(ch, address, rs.Value);  // the read-back line shows the outcome
      ok = ReadRegister(ch, address, value) && ok;
      PrintRegisterLine("Register 0x%x : 0x%x\n", address, value);
      break;
    case kCmdReadPhy:
      ok = ReadPhy(ch, address, value);
      PrintRegisterLine("PHY Register 0x%x : 0x%x\n", address, value);
      break;
    case kCmdWritePhy:
      ok = WritePhy(ch, address, rs.Value);
      ok = ReadPhy(ch, address, value) && ok;
      PrintRegisterLine("PHY Register 0x%x : 0x%x\n", address, value);
      break;
    default:
      ok = false;
      break;
  }
  return ok;
}

bool RunInfoQuery(RequestChannel& ch, const RunSettings& rs) {
  switch (rs.InfoQueryLetter) {
    case 'v': {
      std::array<uint32_t, 4> version{};
      if (!GetDriverVersion(ch, version)) return false;
      std::printf("Driver Major Version %d\n", static_cast<int>(version[0]));
      std::printf("Driver Minor Version %d\n", static_cast<int>(version[1]));
      std::printf("Driver Build Version %d\n", static_cast<int>(version[2]));
      std::printf("Driver QFE Version %d\n", static_cast<int>(version[3]));
      return true;
    }
    case 'b': {
      std::array<uint32_t, 3> bits{};
      if (!GetAdapterBits(ch, bits)) return false;
      std::printf("Adapter Bits 00 to 31 %X\n", static_cast<unsigned>(bits[0]));
      std::printf("Adapter Bits 32 to 63 %X\n", static_cast<unsigned>(bits[1]));
      std::printf("Adapter Bits 64 to 95 %X\n", static_cast<unsigned>(bits[2]));
      return true;
    }
    case 'l':
      return RunTextQuery(ch, GET_ADAPTER_LOCATION, "Adapter location: %s\n");
    case 'k':
      return RunTextQuery(ch, GET_ADAPTER_REGISTRY_KEY, "Adapter registry key: %s\n");
    case 'o':
      return RunTextQuery(ch, GET_ADAPTER_PDO, "Adapter PDO: %s\n");
    case 'p': {
      uint32_t port = 0;
      if (!GetAdapterPort(ch, port)) return false;
      std::printf("Adapter port: %d\n", static_cast<int>(port));
      return true;
    }
    case 'e': {
      std::array<uint32_t, 47> counters{};
      if (!ReadTxRxStats(ch, counters)) return false;
      std::printf("********* ETHERNET RX & TX STATISTICS *********\n\n");
      for (size_t i = 0; i < counters.size(); ++i) PrintCounter(kEthStatNames[i], 27, counters[i]);
      std::printf("\n***********************************************\n");
      return true;
    }
    case 'u': {
      std::array<uint32_t, 16> counters{};
      if (!ReadUsbPhyStats(ch, counters)) return false;
      std::printf("*********** USB PHY STATISTICS ***********\n\n");
      for (size_t i = 0; i < counters.size(); ++i) {
        PrintCounter(kUsbPhyStatNames[i], 21, counters[i]);
      }
      std::printf("\n******************************************\n");
      return true;
    }
    case 'i': {
      McuInfo info;
      if (!McuGetInfo(ch, info)) return false;
      PrintMcuInfo(info);
      return true;
    }
    default:
      PrintError("Unknown information query '%c'\n", static_cast<char>(rs.InfoQueryLetter));
      return false;
  }
}
