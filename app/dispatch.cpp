#include "app/dispatch.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "app/command_line.h"
#include "app/device_open.h"
#include "app/production_record.h"
#include "core/exit_codes.h"
#include "core/output.h"
#include "device/cable_diagnostics.h"
#include "device/device_queries.h"
#include "device/link.h"
#include "eeprom/eeprom_flows.h"
#include "eeprom/image_file.h"
#include "eeprom/otp_flows.h"
#include "provision/provisioning.h"
#include "mcu/mcu_download.h"
#include "net/network_stages.h"

namespace {

constexpr ChipModel kChipModels[] = {
    {0x5300, "ORN5300", "orn5300"},
    {0x5301, "ORN5301", "orn5301"},
    {0x530A, "ORN530A", "orn530A"},
    {0x5350, "ORN5350", "orn5350"},
};

constexpr uint32_t kChipIdImage5300 = 0x53000000;
constexpr uint32_t kChipIdImage5350 = 0x53500000;

// The version numbers are the project's one version (CMakeLists.txt); the
// date and build texts stay fixed, so the banner reads the same in every
// build.
void PrintBanner() {
  std::printf("\n 5300 Windows Command Line Utility v%d.%d.%d.%d (%s)\n", ORN_VERSION_MAJOR,
              ORN_VERSION_MINOR, ORN_VERSION_PATCH, ORN_VERSION_TWEAK, "02/22/2017");
  std::printf(" (Built at %s on %s)\n\n\n", "16:21:09", "Feb 22 2017");
}

// Memory commands (write, read, none) in their stages: (a) EEPROM size,
// (b) the one memory flow or the image file, (c) identity stepping, link
// mode and the network test.
int RunMemoryCommand(RequestChannel& ch, RunSettings& rs, ImageBuffer& image, UnitHandout* handout) {
  const int size_code = FixEepromSize(ch, rs);
  if (size_code != kExitSuccess) return size_code;

  const int32_t code = rs.CommandCode;
  // The identity is handed out, and the record says which unit this run
  // programs, before the device is written: a run killed from here on
  // still leaves its trace.
  if (code == kCmdWrite && handout != nullptr) {
    const int started = StartProgramming(rs, *handout);
    if (started != kExitSuccess) return started;
  }
  StageResult memory;
  if (code == kCmdRead || code == kCmdWrite) {
    if (rs.OtpMode) {
      memory = code == kCmdRead ? OtpReadAndSave(ch, rs) : OtpWrite(ch, rs, image);
    } else {
      memory = code == kCmdRead ? EepromReadAndSave(ch, rs) : EepromWrite(ch, rs, image);
    }
  } else if (rs.TargetFileName) {
    return GenerateImageFile(rs, image);
  }
  if (handout != nullptr) UpdateProductionRecord(rs, *handout);
  if (!memory.continue_run) return memory.exit_code;
  // A memory stage that goes on despite a failure (a save file written
  // short) keeps its code: later stages that pass do not hide it.
  const int memory_code = memory.exit_code;
  auto first_failure = [memory_code](int later) {
    return memory_code != kExitSuccess ? memory_code : later;
  };

  if (code == kCmdWrite) {
    UnitHandout direct;  // no source given: the identity file of the run
    const int stepping = CommitIdentity(rs, image, handout != nullptr ? *handout : direct);
    if (stepping != kExitSuccess) return first_failure(stepping);
  }

  LinkStageResult link;
  int stage_code = kExitSuccess;
  if (rs.LinkModeGiven && rs.LinkMode > 0 && rs.NetworkTest != kNetLoopback) {
    const StageResult link_stage = RunLinkModeStage(ch, rs, link);
    if (!link_stage.continue_run) return first_failure(link_stage.exit_code);
    stage_code = link_stage.exit_code;
  }
  // The ping stage checks the link again itself, so its result replaces a
  // link-down code of the link-mode stage.
  if (rs.NetworkTest == kNetPing && rs.PingRequested) {
    stage_code = RunPingStage(ch, rs, link);
  } else if (rs.NetworkTest == kNetLoopback) {
    stage_code = RunLoopbackStage(ch, rs);
  }
  return first_failure(stage_code);
}

}  // namespace

const ChipModel* FindChipModel(uint32_t chip_id_value) {
  const uint16_t chip_id = static_cast<uint16_t>(chip_id_value >> 16);
  for (const ChipModel& model : kChipModels) {
    if (model.chip_id == chip_id) return &model;
  }
  return nullptr;
}

int SelectImageModel(RunSettings& rs) {
  const char* name = rs.DeviceModelName ? rs.DeviceModelName->c_str() : "";
  if (std::strncmp(name, "ORN5300", 7) == 0) {
    rs.ChipIdValue = kChipIdImage5300;
  } else if (std::strncmp(name, "ORN5350", 7) == 0) {
    rs.ChipIdValue = kChipIdImage5350;
  } else {
    PrintError("Please specify ORN5300 or ORN5350 with -d option\n");
    return kExitDevice;
  }
  return kExitSuccess;
}

void BuildDefaultFileName(RunSettings& rs) {
  rs.DefaultFileName.fill('\0');
  std::memcpy(rs.DefaultFileName.data(), rs.ModelFilePrefix.data(),
              std::strlen(rs.ModelFilePrefix.data()));
}

int DispatchCommand(RequestChannel& ch, RunSettings& rs, ImageBuffer& image, UnitHandout* handout) {
  // The device commands print their own messages; a station script learns
  // of a failure from the exit code.
  auto device_command = [](bool ok) { return ok ? kExitSuccess : kExitDeviceCommand; };
  switch (rs.CommandCode) {
    case kCmdReadRegister:
    case kCmdWriteRegister:
    case kCmdReadPhy:
    case kCmdWritePhy:
      return device_command(RunRegisterCommand(ch, rs));
    case kCmdInfoQuery:
      return device_command(RunInfoQuery(ch, rs));
    case kCmdLinkState:
      return device_command(RunLinkStateCommand(ch, rs));
    case kCmdCabScan:
      return device_command(RunCabScan(ch));
    case kCmdMcuDownload:
    case kCmdMcuVerify:
    case kCmdMcuDownloadVerify:
    case kCmdMcuParameters:
      return device_command(RunMcuDownload(ch, rs));
    default:
      return RunMemoryCommand(ch, rs, image, handout);
  }
}

int CheckBeforeDevice(RunSettings& rs, UnitHandout& handout) {
  const int loopback = CheckLoopbackLinkMode(rs);
  if (loopback != kExitSuccess) return loopback;
  return CheckIdentitySource(rs, handout);
}

namespace {

// Opens the device, identifies the chip and runs the command.
int RunOnDevice(RequestChannel& ch, RunSettings& rs, UnitHandout& handout) {
  std::unique_ptr<platform::DeviceControl> device;
  if (rs.TargetFileName) {
    // Image generation: no device; the model comes from -d.
    if (SelectImageModel(rs) != kExitSuccess) return kExitDevice;
  } else {
    uint32_t error = 0;
    device = OpenDevice(error);
    if (!device) {
      ReportOpenFailure(error);
      return kExitDevice;
    }
    ch.device = device.get();
    uint32_t chip_id_value = 0;
    if (!ReadRegister(ch, 0, chip_id_value)) return kExitDevice;
    const ChipModel* model = FindChipModel(chip_id_value);
    if (model == nullptr) {
      PrintError("This is not ORN53xx device\n");
      return kExitDevice;
    }
    std::memcpy(rs.ModelFilePrefix.data(), model->prefix, 7);
    rs.ModelFilePrefix[7] = '\0';
    rs.ChipIdValue = chip_id_value;
  }
  BuildDefaultFileName(rs);

  auto image = std::make_unique<ImageBuffer>();
  image->fill(0);
  const int code = DispatchCommand(ch, rs, *image, &handout);
  ch.device = nullptr;
  device.reset();  // closes the device (a simulated one saves its state)
  return code;
}

}  // namespace

int RunProgram(int argc, char** argv) {
  auto rs = std::make_unique<RunSettings>();
  auto ch = std::make_unique<RequestChannel>();
  FirstErrorRecorder first_error;
  PrintBanner();

  // The identity source is opened between the options and the files: the
  // identity file is locked before anything reads it.
  UnitHandout handout;
  const int parsed =
      ParseCommandLine(argc, argv, *rs, *ch, [&handout](RunSettings& s) { return OpenIdentitySource(s, handout); });
  if (parsed == kParseUsagePrinted) return kExitSuccess;
  if (parsed != 0) {
    // An identity file the run could not rewrite is refused before it is
    // read, but it is no parameter error.
    if (parsed != kExitIdentity) PrintError("Parameter Error (use -h for help)\n");
    return parsed;
  }

  // A programming run records itself from here on, refused runs included.
  int code = BeginProductionRecord(*rs, *ch, handout);
  if (code == kExitSuccess) code = CheckBeforeDevice(*rs, handout);
  if (code == kExitSuccess) code = RunOnDevice(*ch, *rs, handout);
  return FinishProductionRecord(*rs, handout, code, first_error.text());
}
