#include "mcu/mcu_bridge.h"

#include <cstdio>

#include "core/output.h"

bool McuReadByte(RequestChannel& ch, uint16_t address, uint8_t& value) {
  if (!WritePhy(ch, SMI_VELK_VPM_BT_ADDR_REG, address)) {
    PrintError("Failed writing SMI_VELK_VPM_BT_ADDR_REG = 0x%04x\n", address);
    return false;
  }
  if (!WritePhy(ch, SMI_VELK_VPM_BT_CTL_REG, kMcuCtlXdata)) {
    PrintError("Failed writing SMI_VELK_VPM_BT_CTL_REG to 0x%04x\n", kMcuCtlXdata);
    return false;
  }
  uint16_t data = 0;
  if (!ReadPhy16(ch, SMI_VELK_VPM_BT_RDAT_REG, data)) {
    PrintError("Failed reading from SMI_VELK_VPM_BT_RDAT_REG\n");
    return false;
  }
  value = static_cast<uint8_t>(data);
  return true;
}

bool McuWriteByte(RequestChannel& ch, uint16_t address, uint8_t data, uint8_t control) {
  if (!WritePhy(ch, SMI_VELK_VPM_BT_ADDR_REG, address)) {
    PrintError("Failed writing SMI_VELK_VPM_BT_ADDR_REG = 0x%04x\n", address);
    return false;
  }
  if (!WritePhy(ch, SMI_VELK_VPM_BT_CTL_REG, control)) {
    PrintError("Failed writing SMI_VELK_VPM_BT_CTL_REG to 0x%04x\n", control);
    return false;
  }
  if (!WritePhy(ch, SMI_VELK_VPM_BT_WDAT_REG, data)) {
    PrintError("Failed writing SMI_VELK_VPM_BT_WDAT_REG with 0x%02x\n", data);
    return false;
  }
  return true;
}

bool McuWriteWord(RequestChannel& ch, uint16_t address, uint16_t word) {
  if (!McuWriteByte(ch, address, static_cast<uint8_t>(word >> 8), kMcuCtlXdataAutoInc)) {
    return false;
  }
  // The auto-increment run has moved the address on: the low byte lands at
  // address + 1.
  if (!WritePhy(ch, SMI_VELK_VPM_BT_WDAT_REG, word)) {
    PrintError("Failed writing SMI_VELK_VPM_BT_WDAT_REG with 0x%02x\n", word & 0xFF);
    return false;
  }
  return true;
}

namespace {

// One byte of the information record: the address and the name the failure
// message gives.
struct InfoRead {
  uint16_t address;
  const char* failure;
  uint8_t McuInfo::*field;
};

}  // namespace

bool McuGetInfo(RequestChannel& ch, McuInfo& info) {
  if (!WritePhy(ch, SMI_VELK_VPM_BT_CTL_REG, VELK_VPM_BT_CTL_REG_ACCESS_EN_)) {
    PrintError("Failed setting VELK_VPM_BT_CTL_REG_ACCESS_EN_\n");
    return false;
  }
  uint8_t hi = 0;
  uint8_t lo = 0;
  if (!McuReadByte(ch, MCU_XDATA_DEV_ID_HI, hi) || !McuReadByte(ch, kMcuXdataDevIdLo, lo)) {
    PrintError("Failed reading MCU_XDATA_DEV_ID_HI\n");
    return false;
  }
  info.DeviceId = static_cast<uint16_t>((hi << 8) | lo);

  static constexpr InfoRead kReads[] = {
      {MCU_XDATA_FPGA_MAJOR_REV, "Failed reading MCU_XDATA_FPGA_MAJOR_REV\n",
       &McuInfo::FpgaMajorRev},
      {MCU_XDATA_FPGA_MINOR_REV, "Failed reading MCU_XDATA_FPGA_MINOR_REV\n",
       &McuInfo::FpgaMinorRev},
      {MCU_XDATA_FPGA_BUILD_REV, "Failed reading MCU_XDATA_FPGA_BUILD_REV\n",
       &McuInfo::FpgaBuildRev},
      {MCU_XDATA_SIMULATION_REG, "Failed reading MCU_XDATA_SIMULATION_REG\n",
       &McuInfo::SimulationReg},
      {MCU_XDATA_SCRATCH_REG_0, "Failed reading MCU_XDATA_SCRATCH_REG_0\n",
       &McuInfo::FirmwareMinor},
      {MCU_XDATA_SCRATCH_REG_1, "Failed reading MCU_XDATA_SCRATCH_REG_1\n",
       &McuInfo::FirmwareMajor},
      {MCU_XDATA_SCRATCH_REG_2, "Failed reading MCU_XDATA_SCRATCH_REG_2\n",
       &McuInfo::PlatformFlags},
  };
  for (const InfoRead& r : kReads) {
    if (!McuReadByte(ch, r.address, info.*r.field)) {
      PrintError("%s", r.failure);
      return false;
    }
  }

  if (!WritePhy(ch, SMI_VELK_VPM_BT_CTL_REG, kMcuCtlRelease)) {
    PrintError("Failed clearing VELK_VPM_BT_CTL_REG_ACCESS_EN_ to start execution\n");
    return false;
  }
  return true;
}

void PrintMcuInfo(const McuInfo& info) {
  const unsigned sim = info.SimulationReg;
  const unsigned flags = info.PlatformFlags;
  std::printf("MCU Device Version:            %04X\n", static_cast<unsigned>(info.DeviceId));
  std::printf("MCU FPGA Version:              %d.%d.%d\n", info.FpgaMajorRev, info.FpgaMinorRev,
              info.FpgaBuildRev);
  std::printf("MCU Simulation Reg:            0x%02X (ERROR: %s, Mode: %s, EOT: %s)\n", sim,
              (sim & 0x80) ? "Set" : "Clr", (sim & 0x02) ? "Simulation" : "Normal",
              (sim & 0x01) ? "Set" : "Clr");
  std::printf("8051 Firmware Version:         %d.%d\n", info.FirmwareMajor, info.FirmwareMinor);
  std::printf("8051 Firmware's PlatformFlags: 0x%02X (%s, %s Mode)\n", flags,
              (flags & 0x02) ? "ASIC" : "FPGA", (flags & 0x01) ? "Simulation" : "Normal");
}
