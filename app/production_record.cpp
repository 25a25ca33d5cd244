#include "app/production_record.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/dispatch.h"
#include "core/exit_codes.h"

namespace {

std::string MacText(const MacAddress& mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

std::string UtcNow() {
  char text[21];
  platform::FormatUtcTime(static_cast<int64_t>(std::time(nullptr)), text);
  return text;
}

bool ReworkRequested() {
  const char* value = std::getenv(kReworkVariable);
  return value != nullptr && std::strcmp(value, "1") == 0;
}

// The record's columns that tell what the run did to the device.
void FillOutcome(const RunSettings& rs, ProductionRecord& r) {
  if (const ChipModel* model = FindChipModel(rs.ChipIdValue)) {
    r.chip_model = model->name;
    char id[16];
    std::snprintf(id, sizeof id, "0x%08X", static_cast<unsigned>(rs.ChipIdValue));
    r.chip_id = id;
  }
  if (!rs.Programmed.memory.empty()) r.memory = rs.Programmed.memory;
  r.image_sha256 = rs.Programmed.image_sha256;
  r.bytes_written = std::to_string(rs.Programmed.bytes_written);
  r.verify = rs.Programmed.verify == RunSettings::ProgrammingOutcome::kPassed   ? "passed"
             : rs.Programmed.verify == RunSettings::ProgrammingOutcome::kFailed ? "failed"
                                                                                 : "not run";
}

}  // namespace

int BeginProductionRecord(const RunSettings& rs, const RequestChannel& ch,
                          ProductionLogSession& session) {
  const char* path = std::getenv(kLogVariable);
  if (path == nullptr || *path == '\0' || rs.CommandCode != kCmdWrite || rs.TargetFileName) return 0;
  ProductionRecord& r = session.record;
  r.host = platform::HostName();
  r.adapter = std::to_string(ch.adapter_index);
  r.memory = rs.OtpMode ? "OTP" : "EEPROM";
  r.source_file = rs.BinaryFileName ? *rs.BinaryFileName : rs.IniFileName.value_or("");
  r.mac = MacText(rs.CurrentMacAddress);
  r.serial = rs.CurrentSerialNumber.value_or("");
  r.verify = "not run";
  r.rework = ReworkRequested() ? "yes" : "no";
  r.tool_version = ORN_VERSION_STRING;
  return OpenProductionLog(path, ReworkRequested(), session);
}

bool RecordProgrammingStart(const RunSettings& rs, ProductionLogSession& session) {
  if (!session.file) return true;
  FillOutcome(rs, session.record);
  session.record.bytes_written = std::to_string(0);
  if (!AppendStartLine(session)) return false;
  UpdateStopRecord(rs, session);
  return true;
}

void UpdateStopRecord(const RunSettings& rs, ProductionLogSession& session) {
  if (!session.file || !session.started) return;
  std::array<std::string, platform::kStopKinds> lines;
  for (size_t i = 0; i < platform::kStopKinds; ++i) {
    const auto kind = static_cast<platform::StopKind>(i);
    ProductionRecord r = session.record;
    FillOutcome(rs, r);
    r.time_utc.clear();
    r.exit_code = std::to_string(platform::StopExitCode(kind));
    r.error = "The run was stopped by ";
    r.error += platform::StopText(kind);
    // Everything after the first column, which the stop fills in.
    const std::string line = FormatRecordLine(r);
    lines[i] = line.substr(line.find(','));
  }
  session.file->ArmStopRecord(lines);
}

int FinishProductionRecord(const RunSettings& rs, ProductionLogSession& session, int exit_code,
                           const std::string& first_error) {
  if (!session.file) return exit_code;
  // A stop from outside from here on waits for this record, then ends the
  // run; one that came first has written its record and ended it.
  platform::StopHold hold;
  session.file->DisarmStopRecord();
  ProductionRecord& r = session.record;
  r.time_utc = UtcNow();
  FillOutcome(rs, r);
  r.exit_code = std::to_string(exit_code & 0xFF);
  r.error = first_error;
  if (AppendProductionRecord(session)) return exit_code;
  return exit_code == kExitSuccess ? kExitRecord : exit_code;
}
