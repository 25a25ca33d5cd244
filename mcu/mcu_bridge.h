// Byte access to the embedded 8051's memories through the four bridge
// registers in the PHY register space, and the MCU information query.
// Every step prints "ERROR: " and its own message on failure and the
// operation stops there.
#pragma once

#include <cstdint>

#include "driver/request_channel.h"

// Bridge registers (PHY indexes with the value 4 in bits 16 and up; the
// request channel sends 16-bit data for them).
constexpr uint32_t SMI_VELK_VPM_BT_CTL_REG = 0x40010;
constexpr uint32_t SMI_VELK_VPM_BT_ADDR_REG = 0x40011;
constexpr uint32_t SMI_VELK_VPM_BT_WDAT_REG = 0x40012;
constexpr uint32_t SMI_VELK_VPM_BT_RDAT_REG = 0x40013;

// Control values of SMI_VELK_VPM_BT_CTL_REG.
constexpr uint8_t VELK_VPM_BT_CTL_REG_ACCESS_EN_ = 0x80;
constexpr uint8_t kMcuCtlXdata = 0x80;          // single XDATA byte
constexpr uint8_t kMcuCtlSfr = 0x81;            // single SFR byte
constexpr uint8_t kMcuCtlXdataAutoInc = 0x84;   // XDATA, address moves on after each access
constexpr uint8_t kMcuCtlProgAutoInc = 0x86;    // program memory, auto-increment
constexpr uint8_t kMcuCtlRelease = 0x00;        // access off: the MCU runs

// MCU addresses (XDATA unless noted).
constexpr uint16_t MCU_XDATA_DEV_CFG = 0x0802;
constexpr uint16_t MCU_XDATA_DEV_ID_HI = 0x080B;
constexpr uint16_t kMcuXdataDevIdLo = 0x080C;
constexpr uint16_t MCU_XDATA_FPGA_MAJOR_REV = 0x0810;
constexpr uint16_t MCU_XDATA_FPGA_MINOR_REV = 0x0811;
constexpr uint16_t MCU_XDATA_FPGA_BUILD_REV = 0x0812;
constexpr uint16_t kMcuXdataSramOverlayTable = 0x0840;  // 20 words, high byte first
constexpr uint16_t MCU_XDATA_SIMULATION_REG = 0x0940;
constexpr uint16_t MCU_XDATA_SCRATCH_REG_0 = 0x0950;
constexpr uint16_t MCU_XDATA_SCRATCH_REG_1 = 0x0951;
constexpr uint16_t MCU_XDATA_SCRATCH_REG_2 = 0x0952;
constexpr uint16_t kMcuXdataParameterArea = 0x4C00;
constexpr uint16_t kMcuXdataFirmwareArea = 0x5000;
constexpr uint16_t MCU_XDATA_DEV_CTRL = 0xFFFF;
constexpr uint8_t MCU_RESET_ = 0x01;
constexpr uint16_t MCU_SFR_ROM_MAP_1 = 0xF9;
constexpr uint16_t MCU_SFR_ROM_MAP_2 = 0xFA;
constexpr uint16_t kMcuProgBase = 0x0000;

constexpr uint16_t MCU_XDATA_SRAM_OVRLAY_TABLE(int n) {
  return static_cast<uint16_t>(kMcuXdataSramOverlayTable + 2 * n);
}

// What the information query reads, in record order.
struct McuInfo {
  uint16_t DeviceId = 0;
  uint8_t FpgaMajorRev = 0;
  uint8_t FpgaMinorRev = 0;
  uint8_t FpgaBuildRev = 0;
  uint8_t PlatformFlags = 0;   // scratch register 2
  uint8_t SimulationReg = 0;
  uint8_t FirmwareMajor = 0;   // scratch register 1
  uint8_t FirmwareMinor = 0;   // scratch register 0
};

// Reads one XDATA byte: address, control 0x80, read data (its low byte).
bool McuReadByte(RequestChannel& ch, uint16_t address, uint8_t& value);
// Writes one byte with the given control value (0x80 XDATA, 0x81 SFR, 0x84
// to start an auto-increment run).
bool McuWriteByte(RequestChannel& ch, uint16_t address, uint8_t data, uint8_t control);
// Writes a word high byte first: the high byte at `address` in an
// auto-increment run, then the low byte lands at `address` + 1.
bool McuWriteWord(RequestChannel& ch, uint16_t address, uint16_t word);
// Enables access, reads the information record and releases the MCU (which
// starts it). A failure leaves the bridge as it last wrote it.
bool McuGetInfo(RequestChannel& ch, McuInfo& info);
// The five-line report of -G i.
void PrintMcuInfo(const McuInfo& info);
