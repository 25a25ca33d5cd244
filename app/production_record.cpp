#include "app/production_record.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/dispatch.h"
#include "core/exit_codes.h"
#include "core/output.h"
#include "database/line_database.h"
#include "database/line_handout.h"

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

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

bool ReworkRequested() {
  const char* value = std::getenv(kReworkVariable);
  return value != nullptr && std::strcmp(value, "1") == 0;
}

bool Programs(const RunSettings& rs) { return rs.CommandCode == kCmdWrite && !rs.TargetFileName; }

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

int OpenIdentitySource(RunSettings& rs, UnitHandout& handout) {
  const std::string pool = Environment(db::kPoolVariable);
  if (pool.empty() || !Programs(rs)) {
    handout.source = MakeFileIdentitySource();
    return handout.source->Open(rs);
  }
  const std::string connection = Environment(db::kDatabaseVariable);
  if (connection.empty()) {
    PrintError("ORN5300_POOL names an identity pool, but ORN5300_DB names no line database\n");
    return kExitInvalidCommandLine;
  }
  handout.line = db::MakeLineRun(connection);
  handout.source = db::MakePoolSource(handout.line, pool);
  return handout.source->Open(rs);
}

int BeginProductionRecord(const RunSettings& rs, const RequestChannel& ch, UnitHandout& handout) {
  if (!Programs(rs)) return kExitSuccess;
  if (!handout.source) handout.source = MakeFileIdentitySource();
  const std::string log = Environment(kLogVariable);
  if (!log.empty()) handout.sinks.push_back(MakeProductionLogSink(log));
  const std::string connection = Environment(db::kDatabaseVariable);
  if (!connection.empty()) {
    if (!handout.line) handout.line = db::MakeLineRun(connection);
    handout.sinks.push_back(db::MakeTableSink(handout.line));
  }

  ProductionRecord& r = handout.unit;
  r.host = platform::HostName();
  r.adapter = std::to_string(ch.adapter_index);
  r.memory = rs.OtpMode ? "OTP" : "EEPROM";
  r.source_file = rs.BinaryFileName ? *rs.BinaryFileName : rs.IniFileName.value_or("");
  const bool known = handout.source->KnownBeforeDevice();
  if (known) {
    r.mac = MacText(rs.CurrentMacAddress);
    r.serial = rs.CurrentSerialNumber.value_or("");
  }
  r.verify = "not run";
  r.rework = ReworkRequested() ? "yes" : "no";
  r.tool_version = ORN_VERSION_STRING;
  for (auto& sink : handout.sinks) {
    const int code = sink->Begin(r, known, ReworkRequested());
    handout.began = true;
    if (code != kExitSuccess) return code;
  }
  handout.began = true;
  return kExitSuccess;
}

int CheckIdentitySource(RunSettings& rs, UnitHandout& handout) {
  if (!Programs(rs)) return kExitSuccess;
  if (!handout.source) handout.source = MakeFileIdentitySource();
  return handout.source->Check(rs);
}

int StartProgramming(RunSettings& rs, UnitHandout& handout) {
  if (!handout.source) return kExitSuccess;
  FillOutcome(rs, handout.unit);
  handout.unit.bytes_written = std::to_string(0);
  const int taken = handout.source->Take(rs, handout.unit);
  if (taken != kExitSuccess) return taken;
  for (auto& sink : handout.sinks) {
    const int code = sink->Start(handout.unit);
    if (code != kExitSuccess) return code;
  }
  return kExitSuccess;
}

void UpdateProductionRecord(const RunSettings& rs, UnitHandout& handout) {
  FillOutcome(rs, handout.unit);
  for (auto& sink : handout.sinks) sink->Update(handout.unit);
}

int CommitIdentity(RunSettings& rs, ImageBuffer& image, UnitHandout& handout) {
  if (!handout.source) handout.source = MakeFileIdentitySource();
  const int code = handout.source->Commit(rs, image);
  // Other stations may take the next identity now, while this one goes on
  // with its link and network tests.
  handout.source->Release(rs);
  return code;
}

int FinishProductionRecord(const RunSettings& rs, UnitHandout& handout, int exit_code,
                           const std::string& first_error) {
  if (!handout.began || handout.sinks.empty()) return exit_code;
  ProductionRecord& r = handout.unit;
  r.time_utc = UtcNow();
  FillOutcome(rs, r);
  r.exit_code = std::to_string(exit_code & 0xFF);
  r.error = first_error;
  bool kept = true;
  for (auto& sink : handout.sinks) kept = sink->Finish(r) && kept;
  if (kept) return exit_code;
  return exit_code == kExitSuccess ? kExitRecord : exit_code;
}
