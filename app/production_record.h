// The production record of a run that programs an EEPROM or OTP: which
// identity went to which unit, when, on which station, with which image and
// with what result, appended to the log that ORN5300_LOG names.
#pragma once

#include <string>

#include "core/run_settings.h"
#include "driver/request_channel.h"
#include "provision/production_log.h"

// The environment variables of the production record.
constexpr const char* kLogVariable = "ORN5300_LOG";
constexpr const char* kReworkVariable = "ORN5300_REWORK";

// Before the device is touched: when the run programs and ORN5300_LOG names
// a log, opens it, runs the duplicate guard and claims the identity. 0, or
// the exit code after the messages (3: the log cannot be used; 10: the
// identity was programmed before or is being programmed).
int BeginProductionRecord(const RunSettings& rs, const RequestChannel& ch,
                          ProductionLogSession& session);

// Just before the device is written: appends the start line that says this
// run programs the unit, and from then on a stop from outside (Ctrl+C,
// SIGTERM, a closed console) appends the run's record before the process
// ends. True when the run may write the device; false after a message when
// the log cannot take the line.
bool RecordProgrammingStart(const RunSettings& rs, ProductionLogSession& session);

// After each stage that changes what the device holds: the record a stop
// appends from now on says so.
void UpdateStopRecord(const RunSettings& rs, ProductionLogSession& session);

// At the end of the run: completes the record with what the run did and its
// exit code and appends it. Returns the run's exit code, or 15 when the run
// had succeeded but its record could not be written.
int FinishProductionRecord(const RunSettings& rs, ProductionLogSession& session, int exit_code,
                           const std::string& first_error);
