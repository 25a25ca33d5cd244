// The identity hand-out of a programming run, in two halves that belong
// together: an IdentitySource yields the MAC address and serial number a
// run programs and moves on to the next (the INI file or binary image that
// -N steps, or an identity pool), and UnitSinks record the unit (the CSV
// production log, a database table). The run calls them in this order:
//
//   source.Open     before any file of the run is read
//   sink.Begin      before the device is opened
//   source.Check    before the device is opened
//   source.Take     after the chip is identified, before the device is written
//   sink.Start      just before the device is written
//   sink.Update     after each stage that changed what the device holds
//   source.Commit   after a verified write, then source.Release
//   sink.Finish     at the end of the run, whatever happened
#pragma once

#include <memory>
#include <string>

#include "core/run_settings.h"
#include "provision/production_log.h"

class IdentitySource {
 public:
  virtual ~IdentitySource() = default;
  // Before any file of the run is read: takes what keeps other stations
  // away from the identity while this run holds it. 0, or the exit code
  // after a message.
  virtual int Open(RunSettings& rs) = 0;
  // After the files were read, before the device is opened: whether an
  // identity can be handed out and the next one stored. 0, or the exit code
  // after a message.
  virtual int Check(RunSettings& rs) = 0;
  // Just before the device is written: puts the identity this run programs
  // into `rs` and `unit` (the run's record so far). 0, or the exit code
  // after a message; the device must not be written then.
  virtual int Take(RunSettings& rs, ProductionRecord& unit) = 0;
  // After the device was programmed and verified: moves on to the next
  // identity. 0, or the exit code after a message.
  virtual int Commit(RunSettings& rs, ImageBuffer& image) = 0;
  // Lets other stations have the identity source.
  virtual void Release(RunSettings& rs) = 0;
  // Whether the identity is known before the device (false for a pool,
  // which hands it out only just before the device is written).
  virtual bool KnownBeforeDevice() const { return true; }
};

class UnitSink {
 public:
  virtual ~UnitSink() = default;
  // Before the device is opened, with the unit's identity when it is
  // already known (`identity_known`): 0, or the exit code after a message
  // (3: the record cannot be kept; 10: the identity was programmed before).
  virtual int Begin(const ProductionRecord& unit, bool identity_known, bool rework) = 0;
  // Just before the device is written: 0, or the exit code after a
  // message; the device must not be written then.
  virtual int Start(const ProductionRecord& unit) = 0;
  // After a stage that changed what the device holds: what is recorded if
  // the run is stopped from outside from now on.
  virtual void Update(const ProductionRecord& unit) = 0;
  // At the end of the run: false after a message when the record could not
  // be kept.
  virtual bool Finish(const ProductionRecord& unit) = 0;
};

// The INI file or binary image of the run: with -w and -N it is locked
// before it is read, checked and written back after the device was
// programmed; otherwise it hands out the identity it holds and is never
// written.
std::unique_ptr<IdentitySource> MakeFileIdentitySource();

// The CSV production log at `path` (ORN5300_LOG), shared by the stations.
std::unique_ptr<UnitSink> MakeProductionLogSink(const std::string& path);
