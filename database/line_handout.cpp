#include "database/line_handout.h"

#include <cstdio>

#include "core/exit_codes.h"
#include "core/output.h"
#include "database/line_database.h"
#include "database/spool.h"

namespace db {

class LineRun {
 public:
  explicit LineRun(std::string connection) : connection_(std::move(connection)) {}

  // Connects once, checks the schema and delivers the spool. 0, or 3 after
  // a message.
  int Connect() {
    if (connected_) return kExitSuccess;
    const Result opened = database.Open(connection_);
    if (!opened.ok()) {
      PrintError("Cannot use the line database (ORN5300_DB): %s\n", opened.message.c_str());
      return kExitInvalidCommandLine;
    }
    connected_ = true;
    const std::string spool = DefaultSpoolPath();
    if (!spool.empty()) {
      SpoolReport report;
      const Result delivered = DeliverSpool(database, spool, report);
      if (report.delivered > 0) {
        std::printf("Delivered %d outcome%s from the spool %s to the line database\n", report.delivered,
                    report.delivered == 1 ? "" : "s", spool.c_str());
      }
      for (const std::string& why : report.messages) PrintWarning("%s\n", why.c_str());
      if (!delivered.ok() && report.kept > 0) {
        PrintWarning("%d outcome%s stay in the spool %s: %s\n", report.kept, report.kept == 1 ? "" : "s",
                     spool.c_str(), delivered.message.c_str());
      }
    }
    return kExitSuccess;
  }

  LineDatabase database;
  std::string unit_id;  // the unit's row, once it was written

 private:
  std::string connection_;
  bool connected_ = false;
};

std::shared_ptr<LineRun> MakeLineRun(const std::string& connection) {
  return std::make_shared<LineRun>(connection);
}

namespace {

// Says who holds an identity, for a refusal.
void PrintRefusal(const Result& result) { PrintError("%s\n", result.message.c_str()); }

class PoolSource final : public IdentitySource {
 public:
  PoolSource(std::shared_ptr<LineRun> line, std::string pool) : line_(std::move(line)), pool_(std::move(pool)) {}

  int Open(RunSettings& rs) override {
    if (rs.CommandCode != kCmdWrite) return kExitSuccess;
    if (!rs.IdentityOptions.empty()) {
      PrintError("%s cannot be used with an identity pool (ORN5300_POOL=%s): the pool hands out the identity\n",
                 rs.IdentityOptions.c_str(), pool_.c_str());
      return kExitInvalidCommandLine;
    }
    return line_->Connect();
  }

  int Check(RunSettings&) override {
    PoolState state;
    const Result read = line_->database.ReadPool(pool_, state);
    if (!read.ok()) {
      PrintError("Cannot use the identity pool %s: %s\n", pool_.c_str(), read.message.c_str());
      return kExitInvalidCommandLine;
    }
    if (state.remaining > 0) return kExitSuccess;
    PrintError("The identity pool %s is exhausted: no device is programmed\n", pool_.c_str());
    return kExitIdentity;
  }

  int Take(RunSettings& rs, ProductionRecord& unit) override {
    // An identity that a unit from an INI file already holds is used up by
    // the reservation that finds it; the next one is tried.
    constexpr int kTries = 16;
    for (int attempt = 0; attempt < kTries; ++attempt) {
      Reservation reservation;
      const Result reserved = line_->database.Reserve(pool_, unit, reservation);
      if (reserved.status == Status::kDuplicate) {
        PrintWarning("%s; the pool %s goes on with its next identity\n", reserved.message.c_str(), pool_.c_str());
        continue;
      }
      if (reserved.status == Status::kExhausted) {
        PrintError("The identity pool %s is exhausted: no device is programmed\n", pool_.c_str());
        return kExitIdentity;
      }
      if (!reserved.ok()) {
        PrintError("Cannot reserve an identity from the pool %s: %s\n", pool_.c_str(), reserved.message.c_str());
        return kExitInvalidCommandLine;
      }
      line_->unit_id = reservation.unit_id;
      rs.CurrentMacAddress = MacFromNumber(reservation.identity.mac);
      if (reservation.identity.serial.empty()) {
        rs.CurrentSerialNumber.reset();
      } else {
        rs.CurrentSerialNumber = reservation.identity.serial;
      }
      std::printf("Identity from the pool %s: MAC address %s%s%s\n", pool_.c_str(), unit.mac.c_str(),
                  unit.serial.empty() ? "" : ", serial number ", unit.serial.c_str());
      return kExitSuccess;
    }
    PrintError("The identity pool %s handed out %d identities that other units hold: no device is programmed\n",
               pool_.c_str(), kTries);
    return kExitIdentity;
  }

  int Commit(RunSettings&, ImageBuffer&) override { return kExitSuccess; }
  void Release(RunSettings&) override {}
  bool KnownBeforeDevice() const override { return false; }

 private:
  std::shared_ptr<LineRun> line_;
  std::string pool_;
};

class TableSink final : public UnitSink {
 public:
  explicit TableSink(std::shared_ptr<LineRun> line) : line_(std::move(line)) {}

  int Begin(const ProductionRecord&, bool, bool rework) override {
    rework_ = rework;
    return line_->Connect();
  }

  int Start(const ProductionRecord& unit) override {
    if (!line_->unit_id.empty()) return kExitSuccess;  // reserved from a pool
    Identity identity;
    if (!ParseMacText(unit.mac, identity.mac)) {
      PrintError("The MAC address %s cannot be recorded in the line database\n", unit.mac.c_str());
      return kExitInvalidCommandLine;
    }
    identity.serial = unit.serial;
    ProductionRecord row = unit;
    Reservation reservation;
    const Result recorded = line_->database.RecordUnit(identity, rework_, row, reservation);
    if (recorded.status == Status::kDuplicate || recorded.status == Status::kReworkRefused) {
      PrintRefusal(recorded);
      return kExitIdentity;
    }
    if (!recorded.ok()) {
      PrintError("Cannot record the unit in the line database: %s\n", recorded.message.c_str());
      return kExitInvalidCommandLine;
    }
    line_->unit_id = reservation.unit_id;
    return kExitSuccess;
  }

  void Update(const ProductionRecord&) override {}

  bool Finish(const ProductionRecord& unit) override {
    // A run refused before its row was written has no unit in the table.
    if (line_->unit_id.empty()) return true;
    const Result finished = line_->database.Finish(line_->unit_id, unit);
    if (finished.ok()) return true;
    // The row already guards the identity; the rest of the record waits in
    // the spool for the next run (or orn5300db flush).
    const std::string spool = DefaultSpoolPath();
    std::string error;
    if (!spool.empty() && AppendToSpool(spool, line_->unit_id, unit, error)) {
      PrintWarning("Cannot write this unit's outcome to the line database (%s); it was kept in the spool %s\n",
                   finished.message.c_str(), spool.c_str());
      return true;
    }
    PrintError("Cannot write this unit's outcome to the line database (%s) nor keep it in the spool: %s\n",
               finished.message.c_str(), spool.empty() ? "no spool folder" : error.c_str());
    return false;
  }

 private:
  std::shared_ptr<LineRun> line_;
  bool rework_ = false;
};

}  // namespace

std::unique_ptr<IdentitySource> MakePoolSource(std::shared_ptr<LineRun> line, const std::string& pool) {
  return std::make_unique<PoolSource>(std::move(line), pool);
}

std::unique_ptr<UnitSink> MakeTableSink(std::shared_ptr<LineRun> line) {
  return std::make_unique<TableSink>(std::move(line));
}

}  // namespace db
