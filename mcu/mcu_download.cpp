#include "mcu/mcu_download.h"

#include <array>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/output.h"
#include "mcu/mcu_bridge.h"

namespace {

constexpr size_t kFirmwareMaxBytes = 16384;
constexpr size_t kParameterMaxBytes = 1024;
constexpr int kOverlayEntries = 20;

// SRAM overlay table written before the load (entry n is 0x8800 + 0x81 * n).
constexpr std::array<uint16_t, kOverlayEntries> kOverlayTableA = {
    0x8800, 0x8881, 0x8902, 0x8983, 0x8A04, 0x8A85, 0x8B06, 0x8B87, 0x8C08, 0x8C89,
    0x8D0A, 0x8D8B, 0x8E0C, 0x8E8D, 0x8F0E, 0x8F8F, 0x9010, 0x9091, 0x9112, 0x9193};
// SRAM overlay table written after the load.
constexpr std::array<uint16_t, kOverlayEntries> kOverlayTableB = {
    0x8800, 0x8881, 0x8902, 0x8983, 0x0004, 0x0085, 0x0106, 0x0187, 0x0208, 0x0289,
    0x030A, 0x038B, 0x040C, 0x048D, 0x050E, 0x058F, 0x0610, 0x0691, 0x0712, 0x0793};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Clears the MCU file name of the record when the flow ends, on every path.
struct FileNameRelease {
  RunSettings& rs;
  ~FileNameRelease() { rs.McuFileName.reset(); }
};

int Percent(size_t i, size_t n) { return static_cast<int>((100 * i) / n); }

// Loads the file into `buffer` and checks its size against the command's
// limit. Nothing touches the device before this has succeeded. The buffer
// holds at most 16384 bytes whatever the file's length: a longer file is
// recognised by the byte that no longer fits.
bool LoadFile(const std::string& name, int command, std::vector<uint8_t>& buffer) {
  FilePtr file(std::fopen(name.c_str(), "rb"));
  if (!file) {
    PrintError("No file %s is found\n", name.c_str());
    return false;
  }
  try {
    buffer.assign(kFirmwareMaxBytes, 0);
  } catch (const std::bad_alloc&) {
    PrintError("Not enough memory\n");
    return false;
  }
  const size_t n = std::fread(buffer.data(), 1, buffer.size(), file.get());
  const bool longer = n == kFirmwareMaxBytes && std::fgetc(file.get()) != EOF;
  buffer.resize(n);
  if (n == 0) {
    PrintError("Not enough bytes in file %s\n", name.c_str());
    return false;
  }
  if (command == kCmdMcuParameters && n > kParameterMaxBytes) {
    PrintError("Firmware Parameters file %s size must be <= 1024 bytes\n", name.c_str());
    return false;
  }
  if (command != kCmdMcuParameters && longer) {
    PrintError("Firmware image file %s size must be <= 16384 bytes\n", name.c_str());
    return false;
  }
  return true;
}

// Enables access, resets the MCU for -F, writes the set-up values and
// overlay table A. `whole` becomes false when an overlay entry failed (the
// download goes on, but has not succeeded).
bool PrepareMcu(RequestChannel& ch, int command, bool& whole) {
  if (!WritePhy(ch, SMI_VELK_VPM_BT_CTL_REG, VELK_VPM_BT_CTL_REG_ACCESS_EN_)) {
    PrintError("Failed setting VELK_VPM_BT_CTL_REG_ACCESS_EN_\n");
    return false;
  }
  if (command == kCmdMcuDownloadVerify &&
      !McuWriteByte(ch, MCU_XDATA_DEV_CTRL, MCU_RESET_, kMcuCtlXdata)) {
    PrintError("Failed Restting the MCU via MCU_XDATA_DEV_CTRL_MCU_RESET_\n");
    return false;
  }
  if (!McuWriteByte(ch, MCU_XDATA_DEV_CFG, 0, kMcuCtlXdata)) {
    PrintError("Failed setting MCU_XDATA_DEV_CFG to 0\n");
    return false;
  }
  if (!McuWriteByte(ch, MCU_SFR_ROM_MAP_1, 0x10, kMcuCtlSfr)) {
    PrintError("Failed setting MCU_SFR_ROM_MAP_1 to 0x10\n");
    return false;
  }
  if (!McuWriteByte(ch, MCU_SFR_ROM_MAP_2, 0x23, kMcuCtlSfr)) {
    PrintError("Failed setting MCU_SFR_ROM_MAP_2 to 0x23\n");
    return false;
  }
  // A failed entry is reported and skipped; the table write goes on.
  for (int n = 0; n < kOverlayEntries; ++n) {
    if (!McuWriteWord(ch, MCU_XDATA_SRAM_OVRLAY_TABLE(n), kOverlayTableA[n])) {
      whole = false;
      PrintError("Failed writing 0x%04x to MCU_XDATA_SRAM_OVRLAY_TABLE(%d)-0x%04x\n",
                 kOverlayTableA[n], n, MCU_XDATA_SRAM_OVRLAY_TABLE(n));
    }
  }
  return true;
}

// Writes the file into XDATA from `address` in one auto-increment run.
bool LoadBytes(RequestChannel& ch, uint16_t address, const std::vector<uint8_t>& data) {
  if (!WritePhy(ch, SMI_VELK_VPM_BT_CTL_REG, kMcuCtlXdataAutoInc)) {
    PrintError("Failed setting SMI_VELK_VPM_BT_CTL_REG for Autoinc access to Xdata\n");
    return false;
  }
  if (!WritePhy(ch, SMI_VELK_VPM_BT_ADDR_REG, address)) {
    PrintError("Failed setting VELK_VPM_BT_ADDR_REG for ORAM address %04x\n", address);
    return false;
  }
  const size_t n = data.size();
  for (size_t i = 0; i < n; ++i) {
    if (!WritePhy(ch, SMI_VELK_VPM_BT_WDAT_REG, data[i])) {
      PrintError("\nFailed writing byte #%d with value 0x%02x to VELK_VPM_BT_WDAT_REG\n",
                 static_cast<int>(i), data[i]);
      return false;
    }
    std::printf("Wrote %05d of %05d (%03d%c)\r", static_cast<int>(i), static_cast<int>(n),
                Percent(i, n), '%');
  }
  std::printf("\nCOMPLETED!\n");
  return true;
}

// Reads the bytes back through the auto-increment run the bridge is set up
// for and compares the low byte of each value with the file. `where` names
// the memory in the messages. Stops at the first difference.
bool ReadBackAndCompare(RequestChannel& ch, const std::vector<uint8_t>& data, const char* where) {
  const size_t n = data.size();
  for (size_t i = 0; i < n; ++i) {
    uint16_t value = 0;
    if (!ReadPhy16(ch, SMI_VELK_VPM_BT_RDAT_REG, value)) {
      PrintError("\nFailed reading byte #%d from VELK_VPM_BT_WDAT_REG (@ %s)\n",
                 static_cast<int>(i), where);
      return false;
    }
    const uint8_t read = static_cast<uint8_t>(value);
    if (read != data[i]) {
      PrintError("\nData mismatch on byte #%d. Wrote = 0x%02x, Read (@ %s)= 0x%02x\n",
                 static_cast<int>(i), data[i], where, read);
      return false;
    }
    std::printf("Verified %05d of %05d (%03d%c)\r", static_cast<int>(i), static_cast<int>(n),
                Percent(i, n), '%');
  }
  std::printf("\nCOMPLETED!\n");
  return true;
}

// Reads the parameter block back from XDATA 0x4C00; the control register
// still selects XDATA with auto-increment.
bool VerifyParameters(RequestChannel& ch, const std::vector<uint8_t>& data) {
  if (!WritePhy(ch, SMI_VELK_VPM_BT_ADDR_REG, kMcuXdataParameterArea)) {
    PrintError("\nFailed setting VELK_VPM_BT_ADDR_REG for ORAM address %04x\n",
               kMcuXdataParameterArea);
    return false;
  }
  return ReadBackAndCompare(ch, data, "XDATA base 0x4C00 ");
}

// Writes overlay table B; failed entries are reported and skipped, and
// `whole` becomes false.
void FinishLoad(RequestChannel& ch, bool& whole) {
  for (int n = 0; n < kOverlayEntries; ++n) {
    if (!McuWriteWord(ch, MCU_XDATA_SRAM_OVRLAY_TABLE(n), kOverlayTableB[n])) {
      whole = false;
      PrintError("\nFailed writing 0x%04x to MCU_XDATA_SRAM_OVRLAY_TABLE(%d)-0x%04x\n",
                 kOverlayTableB[n], n, MCU_XDATA_SRAM_OVRLAY_TABLE(n));
    }
  }
}

// Compares program memory from address 0 with the file.
bool VerifyProgramMemory(RequestChannel& ch, const std::vector<uint8_t>& data) {
  if (!WritePhy(ch, SMI_VELK_VPM_BT_CTL_REG, kMcuCtlProgAutoInc)) {
    PrintError("\nFailed setting SMI_VELK_VPM_BT_CTL_REG for Autoinc access to Prog\n");
    return false;
  }
  if (!WritePhy(ch, SMI_VELK_VPM_BT_ADDR_REG, kMcuProgBase)) {
    PrintError("\nFailed setting VELK_VPM_BT_ADDR_REG for IROM address 0x0000\n");
    return false;
  }
  return ReadBackAndCompare(ch, data, "iProg base 0");
}

}  // namespace

bool RunMcuDownload(RequestChannel& ch, RunSettings& rs) {
  FileNameRelease release{rs};
  const int command = rs.CommandCode;
  const std::string name = rs.McuFileName.value_or("");

  std::vector<uint8_t> data;
  if (!LoadFile(name, command, data)) return false;
  std::printf("\n\n");

  bool whole = true;  // every overlay table entry was written
  if (command != kCmdMcuVerify) {
    if (!PrepareMcu(ch, command, whole)) return false;
    const uint16_t load_address =
        command == kCmdMcuParameters ? kMcuXdataParameterArea : kMcuXdataFirmwareArea;
    if (!LoadBytes(ch, load_address, data)) return false;
    if (command == kCmdMcuParameters && !VerifyParameters(ch, data)) return false;
    FinishLoad(ch, whole);
  }
  if (command == kCmdMcuVerify || command == kCmdMcuDownloadVerify) {
    if (!VerifyProgramMemory(ch, data)) return false;
  }

  if (!WritePhy(ch, SMI_VELK_VPM_BT_CTL_REG, kMcuCtlRelease)) {
    PrintError("Failed clearing VELK_VPM_BT_CTL_REG_ACCESS_EN_ to start execution\n");
    return false;
  }
  return whole;
}
