// The identity hand-out and the production record of a run that programs
// an EEPROM or OTP: which identity source the run takes its MAC address
// and serial number from, which sinks record the unit (the production log
// that ORN5300_LOG names), and the record itself: which identity went to
// which unit, when, on which station, with which image and with what
// result.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/run_settings.h"
#include "driver/request_channel.h"
#include "provision/production_log.h"
#include "provision/unit_identity.h"

// The environment variables of the production record.
constexpr const char* kLogVariable = "ORN5300_LOG";
constexpr const char* kReworkVariable = "ORN5300_REWORK";

namespace db {
class LineRun;
}

// A run's identity source, its sinks and its record as it grows.
struct UnitHandout {
  std::shared_ptr<db::LineRun> line;  // the line database (ORN5300_DB), when the run uses it
  std::unique_ptr<IdentitySource> source;
  std::vector<std::unique_ptr<UnitSink>> sinks;
  ProductionRecord unit;
  bool began = false;  // the sinks' Begin succeeded: Finish records the run
};

// After the options were read and before any file is: chooses the run's
// identity source and opens it: the pool ORN5300_POOL names in the line
// database (connected here), else the INI file or binary image (for -w with
// -N: locked here). 0, or the exit code after the messages.
int OpenIdentitySource(RunSettings& rs, UnitHandout& handout);

// Before the device is opened, when the run programs: the sinks begin (the
// production log's duplicate guard; the line database's connection). 0, or
// the exit code after the messages (3: a record cannot be kept; 10: the
// identity was programmed before or is being programmed).
int BeginProductionRecord(const RunSettings& rs, const RequestChannel& ch, UnitHandout& handout);

// Before the device is opened, when the run programs: the source checks
// that an identity can be handed out and the next one stored. 0, or the
// exit code after the messages (10 when it cannot).
int CheckIdentitySource(RunSettings& rs, UnitHandout& handout);

// Just before the device is written: the source hands out the identity and
// the sinks record that this run programs the unit, so that a run killed
// from here on still leaves its trace. 0, or the exit code after a message;
// the device must not be written then.
int StartProgramming(RunSettings& rs, UnitHandout& handout);

// After each stage that changes what the device holds.
void UpdateProductionRecord(const RunSettings& rs, UnitHandout& handout);

// After a verified write: the source moves on to the next identity, then
// lets other stations have it. 0, or the exit code after a message.
int CommitIdentity(RunSettings& rs, ImageBuffer& image, UnitHandout& handout);

// At the end of the run: completes the record with what the run did and its
// exit code and hands it to the sinks. Returns the run's exit code, or 15
// when the run had succeeded but its record could not be kept.
int FinishProductionRecord(const RunSettings& rs, UnitHandout& handout, int exit_code,
                           const std::string& first_error);
