#include "database/line_database.h"

#include <chrono>
#include <ctime>
#include <cstdio>
#include <random>

#include "platform/device_control.h"
#include "platform/odbc.h"

namespace db {

namespace {

using platform::odbc::Connection;
using platform::odbc::FailureKind;
using platform::odbc::Statement;
using platform::odbc::Value;

// How often a transaction that lost a race (a deadlock, a busy SQLite file)
// is tried again before the call fails.
constexpr int kRetries = 20;
constexpr uint32_t kRetryPauseMs = 20;

const char* const kUnitKeyColumns = "unit_id, pool, outcome, guarded, mac_key, serial_key";

std::string RecordColumnList() {
  std::string list;
  for (const char* column : kRecordColumns) {
    if (!list.empty()) list += ", ";
    list += column;
  }
  return list;
}

// The record's fields in column order.
std::vector<const std::string*> Fields(const ProductionRecord& r) {
  return {&r.time_utc,  &r.host,          &r.adapter, &r.chip_model, &r.chip_id,
          &r.memory,    &r.source_file,   &r.image_sha256, &r.mac,   &r.serial,
          &r.bytes_written, &r.verify,    &r.exit_code, &r.error,    &r.rework,
          &r.tool_version};
}
std::vector<std::string*> Fields(ProductionRecord& r) {
  std::vector<std::string*> fields;
  for (const std::string* f : Fields(static_cast<const ProductionRecord&>(r))) {
    fields.push_back(const_cast<std::string*>(f));
  }
  return fields;
}

// A record text as stored: at most kMaxRecordText bytes, cut before a
// UTF-8 sequence rather than inside it.
std::string Stored(const std::string& text) {
  if (text.size() <= kMaxRecordText) return text;
  size_t end = kMaxRecordText;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

int64_t ClientMicroseconds() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  const std::tm* utc = std::gmtime(&now);
  char text[32] = "";
  if (utc != nullptr) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
}

Value SerialKeyValue(const std::string& serial) { return Value::TextOrNull(SerialKey(serial)); }

// The columns of a unit as SELECT lists them: key columns, then the record.
std::string UnitSelect() {
  return std::string("SELECT ") + kUnitKeyColumns + ", " + RecordColumnList() + " FROM orn_units ";
}

EarlierUnit ReadUnit(Statement& s) {
  EarlierUnit unit;
  unit.unit_id = s.Text(1).value_or("");
  unit.outcome = s.Text(3).value_or("");
  int column = 7;
  for (std::string* field : Fields(unit.record)) *field = s.Text(column++).value_or("");
  return unit;
}

// "unit 1f.. (programmed on station3 at 2026-12-08T10:00:59Z)".
std::string UnitText(const EarlierUnit& unit) {
  std::string text = "unit " + unit.unit_id + " (" + unit.outcome;
  if (!unit.record.host.empty()) text += " on " + unit.record.host;
  if (!unit.record.time_utc.empty()) text += " at " + unit.record.time_utc;
  return text + ")";
}

Result Make(Status status, std::string message) { return Result{status, std::move(message), {}}; }

// Ends a manual transaction on every path: rolls back what was not
// committed and goes back to auto-commit.
class Transaction {
 public:
  explicit Transaction(Connection& c) : c_(c) { begun_ = c_.SetAutoCommit(false); }
  ~Transaction() {
    if (begun_) {
      if (open_) c_.Rollback();
      c_.SetAutoCommit(true);
    }
  }
  bool begun() const { return begun_; }
  bool Commit() {
    open_ = false;
    return c_.Commit();
  }
  // Rolls back what is open and goes back to auto-commit now.
  void End() {
    if (!begun_) return;
    if (open_) c_.Rollback();
    c_.SetAutoCommit(true);
    open_ = false;
    begun_ = false;
  }

 private:
  Connection& c_;
  bool begun_ = false;
  bool open_ = true;
};

}  // namespace

const char* StatusName(Status status) {
  switch (status) {
    case Status::kOk: return "ok";
    case Status::kUnreachable: return "unreachable";
    case Status::kLoginRefused: return "login refused";
    case Status::kConnectionLost: return "connection lost";
    case Status::kSchemaMissing: return "schema missing";
    case Status::kSchemaUnknown: return "schema unknown";
    case Status::kNoPool: return "no pool";
    case Status::kPoolExists: return "pool exists";
    case Status::kExhausted: return "exhausted";
    case Status::kDuplicate: return "duplicate";
    case Status::kReworkRefused: return "rework refused";
    case Status::kFailed: return "failed";
  }
  return "?";
}

std::string NewUnitId() {
  static thread_local std::mt19937_64 mix([] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(),
                       static_cast<unsigned>(ClientMicroseconds()),
                       static_cast<unsigned>(ClientMicroseconds() >> 32)};
    return std::mt19937_64(seed);
  }());
  char text[33];
  std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(mix()),
                static_cast<unsigned long long>(mix()));
  return text;
}

LineDatabase::LineDatabase() : connection_(std::make_unique<Connection>()) {}
LineDatabase::~LineDatabase() = default;

Result LineDatabase::FromError(const char* what) {
  const platform::odbc::Error& e = connection_->error();
  const std::string message = std::string(what) + ": " + e.message;
  switch (e.kind) {
    case FailureKind::kConnectionLost:
      return Make(Status::kConnectionLost, "the connection to the database was lost while " + message);
    case FailureKind::kLoginRefused:
      return Make(Status::kLoginRefused, "the database refused the login while " + message);
    default:
      return Make(Status::kFailed, "the database failed " + message);
  }
}

Result LineDatabase::Connect(const std::string& connection_string, int timeout_seconds) {
  Close();
  if (connection_->Connect(connection_string, timeout_seconds)) {
    engine_ = EngineFromDbmsName(connection_->DbmsName());
    return {};
  }
  const platform::odbc::Error& e = connection_->error();
  if (e.kind == FailureKind::kLoginRefused) {
    return Make(Status::kLoginRefused, "the database refused the login: " + e.message);
  }
  return Make(Status::kUnreachable, "cannot connect to the database: " + e.message);
}

void LineDatabase::Close() { connection_->Disconnect(); }

Result LineDatabase::Open(const std::string& connection_string, int timeout_seconds) {
  Result result = Connect(connection_string, timeout_seconds);
  if (!result.ok()) return result;
  const int version = SchemaVersion(result);
  if (version < 0) return result;
  if (version == 0) {
    return Make(Status::kSchemaMissing,
                "the database has no production schema (orn5300db init creates it)");
  }
  if (version > kSchemaVersion) {
    return Make(Status::kSchemaUnknown, "the database's schema has version " + std::to_string(version) +
                                            "; this program knows version " +
                                            std::to_string(kSchemaVersion) + " (a newer program made it)");
  }
  if (version < kSchemaVersion) {
    return Make(Status::kSchemaMissing, "the database's schema has the old version " +
                                            std::to_string(version) + " (orn5300db init upgrades it)");
  }
  return result;
}

int LineDatabase::SchemaVersion(Result& result) {
  result = {};
  Statement s(*connection_);
  if (!s.Execute("SELECT MAX(version) FROM orn_schema")) {
    // Any other failure means there is no version table to read.
    if (connection_->error().kind == FailureKind::kConnectionLost) {
      result = FromError("reading the schema version");
      return -1;
    }
    return 0;
  }
  if (!s.Fetch()) {
    if (connection_->error().kind != FailureKind::kNone) {
      result = FromError("reading the schema version");
      return -1;
    }
    return 0;
  }
  return static_cast<int>(s.Integer(1).value_or(0));
}

Result LineDatabase::Init(bool* created) {
  if (created != nullptr) *created = false;
  Result result;
  int version = SchemaVersion(result);
  if (version < 0) return result;
  if (version > kSchemaVersion) {
    return Make(Status::kSchemaUnknown, "the database's schema has version " + std::to_string(version) +
                                            "; this program knows version " +
                                            std::to_string(kSchemaVersion));
  }
  if (version == kSchemaVersion) return {};
  // Version 0: nothing there yet. (Upgrades from older versions go here.)
  {
    Transaction t(*connection_);
    if (!t.begun()) return FromError("starting a transaction");
    for (const std::string& statement : SchemaStatements(engine_)) {
      if (!connection_->Execute(statement)) {
        result = FromError("creating the schema");
        break;
      }
    }
    if (result.ok() && !t.Commit()) result = FromError("committing the schema");
  }
  if (result.ok()) {
    if (created != nullptr) *created = true;
    return result;
  }
  if (result.status == Status::kConnectionLost) return result;
  // Another init may have made it meanwhile.
  Result again;
  if (SchemaVersion(again) == kSchemaVersion) return {};
  return result;
}

Result LineDatabase::CreatePool(const PoolSpec& spec) {
  const std::string why = CheckPoolSpec(spec);
  if (!why.empty()) return Make(Status::kFailed, "pool " + spec.name + ": " + why);
  {
    Statement s(*connection_);
    if (!s.Execute("SELECT name FROM orn_pools WHERE name = ?", {Value::Text(spec.name)})) {
      return FromError("looking for the pool");
    }
    if (s.Fetch()) return Make(Status::kPoolExists, "pool " + spec.name + " exists already");
    if (connection_->error().kind != FailureKind::kNone) return FromError("looking for the pool");
  }
  const bool serials = !spec.first_serial.empty();
  if (!connection_->Execute(
          "INSERT INTO orn_pools (name, first_mac, next_mac, last_mac, mac_increment, first_serial, "
          "next_serial, last_serial, serial_increment, issued, created_utc) "
          "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, 0, ?)",
          {Value::Text(spec.name), Value::Int(static_cast<int64_t>(spec.first_mac)),
           Value::Int(static_cast<int64_t>(spec.first_mac)),
           Value::Int(static_cast<int64_t>(spec.last_mac)), Value::Int(spec.mac_increment),
           Value::TextOrNull(spec.first_serial), Value::TextOrNull(spec.first_serial),
           Value::TextOrNull(spec.last_serial), Value::Int(serials ? spec.serial_increment : 0),
           Value::Text(UtcNow())})) {
    if (connection_->error().kind == FailureKind::kConstraint) {
      return Make(Status::kPoolExists, "pool " + spec.name + " exists already");
    }
    return FromError("creating the pool");
  }
  return {};
}

namespace {

constexpr const char* kPoolColumns =
    "SELECT name, first_mac, next_mac, last_mac, mac_increment, first_serial, "
    "next_serial, last_serial, serial_increment, issued, created_utc FROM orn_pools ";

PoolState ReadPoolRow(Statement& s) {
  PoolState p;
  p.spec.name = s.Text(1).value_or("");
  p.spec.first_mac = static_cast<uint64_t>(s.Integer(2).value_or(0));
  p.next_mac = static_cast<uint64_t>(s.Integer(3).value_or(0));
  p.spec.last_mac = static_cast<uint64_t>(s.Integer(4).value_or(0));
  p.spec.mac_increment = static_cast<int>(s.Integer(5).value_or(0));
  p.spec.first_serial = s.Text(6).value_or("");
  p.next_serial = s.Text(7);
  p.spec.last_serial = s.Text(8).value_or("");
  p.spec.serial_increment = static_cast<int>(s.Integer(9).value_or(0));
  p.issued = static_cast<uint64_t>(s.Integer(10).value_or(0));
  p.created_utc = s.Text(11).value_or("");
  p.remaining = RemainingIdentities(p.spec, p.next_mac, p.next_serial);
  return p;
}

}  // namespace

Result LineDatabase::ReadPool(const std::string& name, PoolState& pool) {
  pool = {};
  Statement s(*connection_);
  if (!s.Execute(std::string(kPoolColumns) + "WHERE name = ?", {Value::Text(name)})) {
    return FromError("reading the pool");
  }
  if (s.Fetch()) {
    pool = ReadPoolRow(s);
    return {};
  }
  if (connection_->error().kind != FailureKind::kNone) return FromError("reading the pool");
  return Make(Status::kNoPool, "the line database has no identity pool " + name);
}

Result LineDatabase::ListPools(std::vector<PoolState>& pools) {
  pools.clear();
  Statement s(*connection_);
  if (!s.Execute(std::string(kPoolColumns) + "ORDER BY name")) return FromError("reading the pools");
  while (s.Fetch()) pools.push_back(ReadPoolRow(s));
  if (connection_->error().kind != FailureKind::kNone) return FromError("reading the pools");
  Statement counts(*connection_);
  if (!counts.Execute("SELECT pool, outcome, COUNT(*) FROM orn_units WHERE pool IS NOT NULL "
                      "GROUP BY pool, outcome")) {
    return FromError("counting the units");
  }
  while (counts.Fetch()) {
    const std::string pool = counts.Text(1).value_or("");
    const std::string outcome = counts.Text(2).value_or("");
    const uint64_t n = static_cast<uint64_t>(counts.Integer(3).value_or(0));
    for (PoolState& p : pools) {
      if (p.spec.name != pool) continue;
      if (outcome == kOutcomeProgrammed) p.programmed = n;
      if (outcome == kOutcomeReserved) p.reserved = n;
    }
  }
  if (connection_->error().kind != FailureKind::kNone) return FromError("counting the units");
  return {};
}

Result LineDatabase::InsertUnit(const std::string& unit_id, const std::string& pool,
                                const Identity& identity, const std::string& outcome, bool guarded,
                                const ProductionRecord& record) {
  std::vector<Value> values = {Value::Text(unit_id),
                               Value::TextOrNull(pool),
                               Value::Text(outcome),
                               guarded ? Value::Int(1) : Value::NullInt(),
                               Value::Int(static_cast<int64_t>(identity.mac)),
                               SerialKeyValue(identity.serial),
                               Value::Int(ClientMicroseconds())};
  std::string markers;
  for (const std::string* field : Fields(record)) {
    values.push_back(Value::Text(Stored(*field)));
    markers += ", ?";
  }
  const std::string sql = std::string("INSERT INTO orn_units (") + kUnitKeyColumns +
                          ", ordered_at, client_us, " + RecordColumnList() +
                          ") VALUES (?, ?, ?, ?, ?, ?, CURRENT_TIMESTAMP, ?" + markers + ")";
  if (!ExecuteRetrying(sql, values)) return FromError("recording the unit");
  return {};
}

bool LineDatabase::ExecuteRetrying(const std::string& sql,
                                   const std::vector<platform::odbc::Value>& values, int64_t* rows) {
  for (int attempt = 0;; ++attempt) {
    if (connection_->Execute(sql, values, rows)) return true;
    if (connection_->error().kind != FailureKind::kRetry || attempt + 1 >= kRetries) return false;
    platform::SleepMilliseconds(kRetryPauseMs);
  }
}

std::optional<EarlierUnit> LineDatabase::GuardingUnit(const Identity& identity, Result& result) {
  result = {};
  struct Lookup {
    const char* where;
    Value key;
  };
  std::vector<Lookup> lookups = {{"WHERE mac_key = ? AND guarded = 1",
                                  Value::Int(static_cast<int64_t>(identity.mac))}};
  if (!identity.serial.empty()) {
    lookups.push_back({"WHERE serial_key = ? AND guarded = 1", SerialKeyValue(identity.serial)});
  }
  for (const Lookup& lookup : lookups) {
    Statement s(*connection_);
    if (!s.Execute(UnitSelect() + lookup.where, {lookup.key})) {
      result = FromError("looking for the unit that holds the identity");
      return std::nullopt;
    }
    if (s.Fetch()) return ReadUnit(s);
    if (connection_->error().kind != FailureKind::kNone) {
      result = FromError("looking for the unit that holds the identity");
      return std::nullopt;
    }
  }
  return std::nullopt;
}

namespace {

// Why a unit's identity is taken, naming the unit that holds it.
std::string HeldText(const Identity& identity, const EarlierUnit& holder) {
  uint64_t holder_mac = 0;
  const bool same_mac = ParseMacText(holder.record.mac, holder_mac) && holder_mac == identity.mac;
  const std::string what = same_mac ? "MAC address " + MacText(identity.mac)
                                    : "serial number " + identity.serial;
  return what + " is held by " + UnitText(holder);
}

}  // namespace

Result LineDatabase::Reserve(const std::string& pool, ProductionRecord& record,
                             Reservation& reservation) {
  for (int attempt = 0; attempt < kRetries; ++attempt) {
    if (attempt > 0) platform::SleepMilliseconds(kRetryPauseMs);
    Transaction t(*connection_);
    if (!t.begun()) return FromError("starting a transaction");
    // The update first: from here on this transaction holds the pool's row
    // until it ends, so no other reserver reads the same next identity.
    int64_t rows = 0;
    if (!connection_->Execute("UPDATE orn_pools SET issued = issued + 1 WHERE name = ?",
                              {Value::Text(pool)}, &rows)) {
      if (connection_->error().kind == FailureKind::kRetry) continue;
      return FromError("taking an identity");
    }
    if (rows == 0) return Make(Status::kNoPool, "there is no identity pool " + pool);
    PoolSpec spec;
    uint64_t next_mac = 0;
    std::optional<std::string> next_serial;
    int64_t issued = 0;
    {
      Statement s(*connection_);
      if (!s.Execute("SELECT first_mac, next_mac, last_mac, mac_increment, first_serial, "
                     "next_serial, last_serial, serial_increment, issued FROM orn_pools WHERE name = ?",
                     {Value::Text(pool)}) ||
          !s.Fetch()) {
        if (connection_->error().kind == FailureKind::kRetry) continue;
        return FromError("reading the pool");
      }
      spec.name = pool;
      spec.first_mac = static_cast<uint64_t>(s.Integer(1).value_or(0));
      next_mac = static_cast<uint64_t>(s.Integer(2).value_or(0));
      spec.last_mac = static_cast<uint64_t>(s.Integer(3).value_or(0));
      spec.mac_increment = static_cast<int>(s.Integer(4).value_or(0));
      spec.first_serial = s.Text(5).value_or("");
      next_serial = s.Text(6);
      spec.last_serial = s.Text(7).value_or("");
      spec.serial_increment = static_cast<int>(s.Integer(8).value_or(0));
      issued = s.Integer(9).value_or(0);
      if (connection_->error().kind != FailureKind::kNone) return FromError("reading the pool");
    }
    if (RemainingIdentities(spec, next_mac, next_serial) == 0) {
      return Make(Status::kExhausted, "identity pool " + pool + " is exhausted (" +
                                          std::to_string(issued - 1) + " identities handed out)");
    }
    Identity identity{next_mac, spec.first_serial.empty() ? "" : *next_serial};
    const uint64_t step_mac = next_mac + static_cast<uint64_t>(spec.mac_increment);
    std::optional<std::string> step_serial;
    if (!spec.first_serial.empty()) {
      std::string stepped = *next_serial;
      if (StepSerial(stepped, static_cast<uint64_t>(spec.serial_increment))) step_serial = stepped;
    }
    const std::vector<Value> step = {Value::Int(static_cast<int64_t>(step_mac)),
                                     step_serial ? Value::Text(*step_serial) : Value::NullText(),
                                     Value::Text(pool)};
    if (!connection_->Execute("UPDATE orn_pools SET next_mac = ?, next_serial = ? WHERE name = ?",
                              step)) {
      if (connection_->error().kind == FailureKind::kRetry) continue;
      return FromError("stepping the pool");
    }
    record.mac = MacText(identity.mac);
    record.serial = identity.serial;
    record.rework = "no";
    const std::string unit_id = NewUnitId();
    Result inserted = InsertUnit(unit_id, pool, identity, kOutcomeReserved, true, record);
    if (!inserted.ok()) {
      const FailureKind kind = connection_->error().kind;
      t.End();
      if (kind == FailureKind::kRetry) continue;
      if (inserted.status == Status::kConnectionLost) return inserted;
      Result lookup;
      std::optional<EarlierUnit> holder = GuardingUnit(identity, lookup);
      if (!lookup.ok()) return lookup;
      if (!holder) return inserted;
      // Another unit holds this identity (it came from an INI file): it is
      // used up. The pool steps past it unless another reserver did already.
      std::vector<Value> skip = step;
      skip.push_back(Value::Int(issued - 1));
      connection_->Execute(
          "UPDATE orn_pools SET issued = issued + 1, next_mac = ?, next_serial = ? "
          "WHERE name = ? AND issued = ?",
          skip);
      Result duplicate = Make(Status::kDuplicate, HeldText(identity, *holder) +
                                                      "; pool " + pool + " skips it");
      duplicate.earlier = std::move(holder);
      return duplicate;
    }
    if (!t.Commit()) {
      if (connection_->error().kind == FailureKind::kRetry) continue;
      return FromError("committing the reservation");
    }
    reservation.unit_id = unit_id;
    reservation.identity = identity;
    return {};
  }
  return Make(Status::kFailed, "identity pool " + pool + " stayed busy through " +
                                   std::to_string(kRetries) + " tries");
}

Result LineDatabase::RecordUnit(const Identity& identity, bool rework, ProductionRecord& record,
                                Reservation& reservation) {
  record.mac = MacText(identity.mac);
  record.serial = identity.serial;
  record.rework = rework ? "yes" : "no";
  if (rework) {
    Statement s(*connection_);
    // The unit's earlier row: programmed, or still reserved by a run that
    // was killed after it wrote the device.
    if (!s.Execute(UnitSelect() + "WHERE mac_key = ? AND guarded = 1 AND outcome IN (?, ?)",
                   {Value::Int(static_cast<int64_t>(identity.mac)), Value::Text(kOutcomeProgrammed),
                    Value::Text(kOutcomeReserved)})) {
      return FromError("looking for the reworked unit");
    }
    if (!s.Fetch()) {
      if (connection_->error().kind != FailureKind::kNone) return FromError("looking for the reworked unit");
      Result lookup;
      std::optional<EarlierUnit> holder = GuardingUnit(identity, lookup);
      if (!lookup.ok()) return lookup;
      Result refused = Make(Status::kReworkRefused,
                            "a rework needs a programmed (or reserved) unit with MAC address " + record.mac +
                                " and serial number " + identity.serial +
                                (holder ? "; " + HeldText(identity, *holder) : "; there is none"));
      refused.earlier = std::move(holder);
      return refused;
    }
    EarlierUnit earlier = ReadUnit(s);
    if (SerialKey(earlier.record.serial) != SerialKey(identity.serial)) {
      Result refused = Make(Status::kReworkRefused,
                            "a rework keeps the unit's identity: MAC address " + record.mac +
                                " was programmed with serial number " + earlier.record.serial +
                                " (" + UnitText(earlier) + ")");
      refused.earlier = std::move(earlier);
      return refused;
    }
  }
  const std::string unit_id = NewUnitId();
  Result inserted = InsertUnit(unit_id, "", identity, kOutcomeReserved, !rework, record);
  if (!inserted.ok()) {
    if (inserted.status == Status::kConnectionLost) return inserted;
    Result lookup;
    std::optional<EarlierUnit> holder = GuardingUnit(identity, lookup);
    if (!lookup.ok()) return lookup;
    if (!holder) return inserted;
    Result duplicate = Make(Status::kDuplicate, HeldText(identity, *holder));
    duplicate.earlier = std::move(holder);
    return duplicate;
  }
  reservation.unit_id = unit_id;
  reservation.identity = identity;
  return {};
}

Result LineDatabase::Finish(const std::string& unit_id, const ProductionRecord& record) {
  const std::string outcome = ProgrammedSuccessfully(record) ? kOutcomeProgrammed : kOutcomeFailed;
  // A programmed unit goes on guarding its identity unless it is a rework;
  // a failed one no longer does.
  std::string sql = std::string("UPDATE orn_units SET outcome = ?, guarded = ") +
                    (outcome == kOutcomeProgrammed ? "CASE WHEN rework = 'no' THEN 1 ELSE NULL END"
                                                   : "NULL") +
                    ", ordered_at = CURRENT_TIMESTAMP, client_us = ?";
  std::vector<Value> values = {Value::Text(outcome), Value::Int(ClientMicroseconds())};
  const std::vector<const std::string*> fields = Fields(record);
  for (size_t i = 0; i < fields.size(); ++i) {
    const std::string column = kRecordColumns[i];
    if (column == "mac" || column == "serial" || column == "rework") continue;
    sql += ", " + column + " = ?";
    values.push_back(Value::Text(Stored(*fields[i])));
  }
  sql += " WHERE unit_id = ? AND outcome = 'reserved'";
  values.push_back(Value::Text(unit_id));
  int64_t rows = 0;
  if (!ExecuteRetrying(sql, values, &rows)) return FromError("recording the outcome");
  if (rows > 0) return {};

  EarlierUnit existing;
  Result found = FindUnit(unit_id, existing);
  if (found.ok()) {
    if (existing.outcome == outcome) return {};  // delivered before
    return Make(Status::kFailed, "unit " + unit_id + " was finished as " + existing.outcome +
                                     "; its record does not change");
  }
  if (found.status != Status::kFailed) return found;
  // Not in the table: recorded whole, guarding as a finished unit does.
  Identity identity;
  if (!ParseMacText(record.mac, identity.mac)) {
    return Make(Status::kFailed, "unit " + unit_id + " is not in the database and its record has no MAC address");
  }
  identity.serial = record.serial;
  const bool guarded = outcome == kOutcomeProgrammed && record.rework == "no";
  Result inserted = InsertUnit(unit_id, "", identity, outcome, guarded, record);
  if (inserted.ok() || inserted.status == Status::kConnectionLost) return inserted;
  Result lookup;
  std::optional<EarlierUnit> holder = GuardingUnit(identity, lookup);
  if (!lookup.ok()) return lookup;
  if (!holder) return inserted;
  Result duplicate = Make(Status::kDuplicate, HeldText(identity, *holder));
  duplicate.earlier = std::move(holder);
  return duplicate;
}

Result LineDatabase::FindUnit(const std::string& unit_id, EarlierUnit& unit) {
  Statement s(*connection_);
  if (!s.Execute(UnitSelect() + "WHERE unit_id = ?", {Value::Text(unit_id)})) {
    return FromError("looking for the unit");
  }
  if (s.Fetch()) {
    unit = ReadUnit(s);
    return {};
  }
  if (connection_->error().kind != FailureKind::kNone) return FromError("looking for the unit");
  return Make(Status::kFailed, "there is no unit " + unit_id);
}

Result LineDatabase::ForEachRecord(const std::function<bool(const ProductionRecord&)>& fn) {
  const std::string query = "SELECT " + RecordColumnList() +
                            " FROM orn_units ORDER BY ordered_at, client_us, unit_id";
  auto read_rows = [&](Statement& s, bool& go_on, int64_t& count) {
    count = 0;
    while (go_on && s.Fetch()) {
      ++count;
      ProductionRecord record;
      int column = 1;
      for (std::string* field : Fields(record)) *field = s.Text(column++).value_or("");
      if (connection_->error().kind != FailureKind::kNone) return false;
      go_on = fn(record);
    }
    return connection_->error().kind == FailureKind::kNone;
  };
  bool go_on = true;
  int64_t count = 0;
  if (engine_ != Engine::kPostgreSQL) {
    Statement s(*connection_);
    if (!s.Execute(query) || !read_rows(s, go_on, count)) return FromError("reading the records");
    return {};
  }
  // PostgreSQL's driver would hold the whole result in memory: read it
  // through a cursor, a page at a time.
  Transaction t(*connection_);
  if (!t.begun() || !connection_->Execute("DECLARE orn_export NO SCROLL CURSOR FOR " + query)) {
    return FromError("reading the records");
  }
  do {
    Statement s(*connection_);
    if (!s.Execute("FETCH FORWARD 1000 FROM orn_export") || !read_rows(s, go_on, count)) {
      return FromError("reading the records");
    }
  } while (go_on && count > 0);
  return {};
}

}  // namespace db
