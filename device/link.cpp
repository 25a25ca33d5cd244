#include "device/link.h"

#include <cstdio>

#include "core/output.h"

namespace {

// Clause 22 PHY registers and the bits the evaluation uses.
constexpr uint32_t kPhyControl = 0;
constexpr uint32_t kPhyStatus = 1;
constexpr uint32_t kPhyAdvertisement = 4;
constexpr uint32_t kPhyPartnerAbility = 5;
constexpr uint32_t kPhy1000TControl = 9;
constexpr uint32_t kPhy1000TStatus = 10;

constexpr uint16_t kCtlSpeedLow = 0x2000;
constexpr uint16_t kCtlAutoNegEnable = 0x1000;
constexpr uint16_t kCtlFullDuplex = 0x0100;
constexpr uint16_t kCtlSpeedHigh = 0x0040;
constexpr uint16_t kStatusLinkUp = 0x0004;
constexpr uint16_t kStatusAutoNegComplete = 0x0020;
constexpr uint16_t kAbility100Full = 0x0100;
constexpr uint16_t kAbility100Half = 0x0080;
constexpr uint16_t kAbility10Full = 0x0040;
constexpr uint16_t kAbility10Half = 0x0020;
constexpr uint16_t kAbilityAny = 0xFFE0;
constexpr uint16_t k1000TAdvertiseFull = 0x0200;
constexpr uint16_t k1000TManualConfig = 0x1000;
constexpr uint16_t k1000TManualMaster = 0x0800;
constexpr uint16_t k1000TConfigFault = 0x8000;
constexpr uint16_t k1000TResolvedMaster = 0x4000;
constexpr uint16_t k1000TPartnerFull = 0x0800;

constexpr uint32_t kSettleMs = 2000;
constexpr uint32_t kPollWaitMs = 500;
constexpr int kPollCount = 10;

// Reads one register; on failure prints the evaluation's message for it.
bool Read(RequestChannel& ch, uint32_t reg, uint16_t& value, const char* failure) {
  if (ReadPhy16(ch, reg, value)) return true;
  PrintError("%s", failure);
  return false;
}

int NegotiatedLink(RequestChannel& ch, uint16_t partner) {
  uint16_t adv = 0;
  uint16_t ctl1000 = 0;
  uint16_t sts1000 = 0;
  if (!Read(ch, kPhyAdvertisement, adv,
            "ERROR:  LanPhyGetLinkState() failed reading PHY_AUTONEG_ADV.\n") ||
      !Read(ch, kPhy1000TControl, ctl1000,
            "ERROR:  LanPhyGetLinkState() failed reading PHY_1000T_CTRL.\n") ||
      !Read(ch, kPhy1000TStatus, sts1000,
            "ERROR:  LanPhyGetLinkState() failed reading PHY_1000T_STATUS.\n")) {
    return -1;
  }
  if ((ctl1000 & k1000TAdvertiseFull) && (sts1000 & k1000TPartnerFull)) {
    if (sts1000 & k1000TConfigFault) {
      PrintError("ERROR:  LanPhyGetLinkState() bad MS_CONFIG_FAULT, PHY_1000T_STATUS=0x%04X\n",
                 sts1000);
      return -1;
    }
    return (sts1000 & k1000TResolvedMaster) ? 5 : 6;
  }
  const uint16_t common = partner & adv;
  if (common & kAbility100Full) return 4;
  if (common & kAbility100Half) return 3;
  if (common & kAbility10Full) return 2;
  if (common & kAbility10Half) return 1;
  PrintError("ERROR:  LanPhyGetLinkState() bad 10/100 reg's, wAdv=0x%04X, wLpAbility=0x%04X.\n",
             adv, partner);
  return -1;
}

int ForcedLink(RequestChannel& ch, uint16_t control) {
  const int speed = ((control & kCtlSpeedHigh) ? 2 : 0) + ((control & kCtlSpeedLow) ? 1 : 0);
  const bool full = (control & kCtlFullDuplex) != 0;
  switch (speed) {
    case 2: {
      if (!full) {
        PrintError("ERROR:  LanPhyGetLinkState() BCR=0x%04X, says 1000HD???\n", control);
        return -1;
      }
      uint16_t ctl1000 = 0;
      if (!Read(ch, kPhy1000TControl, ctl1000,
                "ERROR:  LanPhyGetLinkState() failed reading PHY_1000T_CTRL for non-ANEG\n")) {
        return -1;
      }
      if (!(ctl1000 & k1000TManualConfig)) {
        PrintError("ERROR:  LanPhyGetLinkState() non-ANEG GbE bad PHY_1000T_CTRL=0x%04X\n",
                   ctl1000);
        return -1;
      }
      return (ctl1000 & k1000TManualMaster) ? 5 : 6;
    }
    case 1:
      return full ? 4 : 3;
    case 0:
      return full ? 2 : 1;
    default:
      PrintError("ERROR:  LanPhyGetLinkState() invalid speed bits in BCR=0x%04X.\n", control);
      return -1;
  }
}

const char* LinkModeText(int link_code) {
  switch (link_code) {
    case 1: return "\nLink mode: 10 HD\n";
    case 2: return "\nLink mode: 10 FD\n";
    case 3: return "\nLink mode: 100 HD\n";
    case 4: return "\nLink mode: 100 FD\n";
    default: return "\nLink mode: 1000 FD\n";
  }
}

}  // namespace

int LanPhyGetLinkState(RequestChannel& ch) {
  uint16_t first_control = 0;
  uint16_t status = 0;
  if (!Read(ch, kPhyControl, first_control,
            "ERROR:  LanPhyGetLinkState() failed reading PHY_CTRL.\n")) {
    return -1;
  }
  // The link status bit latches low: the first read clears a stale drop, the
  // second tells the present state.
  if (!Read(ch, kPhyStatus, status,
            "ERROR:  LanPhyGetLinkState() failed 1st reading PHY_BMS_REG.\n") ||
      !Read(ch, kPhyStatus, status,
            "ERROR:  LanPhyGetLinkState() failed 2nd reading PHY_BMS_REG.\n")) {
    return -1;
  }
  if (!(status & kStatusLinkUp)) return -1;
  const bool complete = (status & kStatusAutoNegComplete) != 0;
  if ((first_control & kCtlAutoNegEnable) && !complete) return 0;

  uint16_t partner = 0;
  uint16_t control = 0;
  if (!Read(ch, kPhyPartnerAbility, partner,
            "ERROR:  LanPhyGetLinkState() failed reading PHY_ANLPA_REG\n") ||
      !Read(ch, kPhyControl, control,
            "ERROR:  LanPhyGetLinkState() failed reading PHY_BMC_REG.\n")) {
    return -1;
  }
  const bool forced =
      !(control & kCtlAutoNegEnable) || (complete && (partner & kAbilityAny) == 0);
  return forced ? ForcedLink(ch, control) : NegotiatedLink(ch, partner);
}

bool RunLinkStateCommand(RequestChannel& ch, const RunSettings& rs) {
  const uint32_t state = rs.LinkStateRequest == 1 ? 1 : 0;
  if (!SetLinkState(ch, state)) return false;
  std::printf("Driver Link State set to %s successfully\n", state == 1 ? "UP" : "DOWN");
  return true;
}

StageResult RunLinkModeStage(RequestChannel& ch, const RunSettings& rs, LinkStageResult& result) {
  result.link_code = -1;
  if (!rs.LinkModeGiven || rs.LinkMode <= 0 || rs.NetworkTest == kNetLoopback) return {};

  if (!SetLinkMode(ch, static_cast<uint32_t>(rs.LinkMode), result.reply_byte)) {
    PrintError("Set link mode failed\n");
    return {kExitLinkMode, false};
  }
  SleepMs(ch, kSettleMs);

  int link = -1;
  for (int poll = 0; poll < kPollCount; ++poll) {
    link = LanPhyGetLinkState(ch);
    if (link > 0) break;
    SleepMs(ch, kPollWaitMs);
  }
  if (link <= 0) {
    std::printf("\nLink mode: LINK DOWN\n");
    return {kExitLinkMode, true};
  }
  if (result.reply_byte == 1) SleepMs(ch, kSettleMs);
  std::printf("%s", LinkModeText(link));
  result.link_code = link;
  return {};
}
