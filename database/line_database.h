// A production line's database: identity pools and the production record
// of every unit, reached through an ODBC connection string (ORN5300_DB).
//
// A programming run uses it in this order:
//   1. Open(connection string): before the device. Not kOk: refuse the run
//      (exit code 3), nothing programmed.
//   2. Reserve(pool, record) when the identity comes from a pool, or
//      RecordUnit(identity, rework, record) when it comes from an INI file or
//      an image: one transaction, committed before anything is written to
//      the device. The unit's row exists from here on with outcome
//      "reserved" and guards its identity. kExhausted, kDuplicate and
//      kReworkRefused refuse the run (exit code 10); the result's `earlier`
//      names the unit that holds the identity.
//   3. Finish(unit_id, record) when the run ends: the outcome ("programmed"
//      when the record's verify is "passed", else "failed") and every column
//      of the record. kConnectionLost after the device was written: put the
//      outcome in the spool (database/spool.h), which the next run delivers.
//
// Messages never hold the connection string's password. One object is one
// connection: use one per thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "database/identity_pool.h"
#include "database/schema.h"
#include "provision/production_log.h"

namespace platform::odbc {
class Connection;
struct Value;
}

namespace db {

// The environment variables of a line: the ODBC connection string, and the
// pool a programming run takes its identity from.
constexpr const char* kDatabaseVariable = "ORN5300_DB";
constexpr const char* kPoolVariable = "ORN5300_POOL";

// Outcomes of a unit's row.
constexpr const char* kOutcomeReserved = "reserved";
constexpr const char* kOutcomeProgrammed = "programmed";
constexpr const char* kOutcomeFailed = "failed";

enum class Status {
  kOk,
  kUnreachable,     // no connection: server down, wrong address, unknown driver or DSN
  kLoginRefused,    // the server refused the user or the password
  kConnectionLost,  // the connection broke during the call; its transaction did not commit
  kSchemaMissing,   // no production schema in the database (orn5300db init makes it)
  kSchemaUnknown,   // a schema version this program does not know (a newer one)
  kNoPool,          // no pool of that name
  kPoolExists,      // CreatePool: the name is taken
  kExhausted,       // the pool has no identity left
  kDuplicate,       // another unit holds the MAC address or serial number
  kReworkRefused,   // a rework without an earlier programmed unit of this identity
  kFailed,          // anything else (the message says what)
};

// A unit already in the table.
struct EarlierUnit {
  std::string unit_id;
  std::string outcome;
  ProductionRecord record;
};

struct Result {
  Status status = Status::kOk;
  std::string message;  // one line, without "ERROR: "; empty for kOk
  // kDuplicate: the unit that guards the identity; kReworkRefused: the
  // unit with this MAC address or serial number, when there is one.
  std::optional<EarlierUnit> earlier;
  bool ok() const { return status == Status::kOk; }
};

// A name for each status, for messages and tests ("ok", "unreachable", ...).
const char* StatusName(Status status);

// A unit's identity: the MAC address as a 48-bit number and the serial
// number (empty: none).
struct Identity {
  uint64_t mac = 0;
  std::string serial;
};

// What a reservation gives the run: the unit's row and its identity.
struct Reservation {
  std::string unit_id;
  Identity identity;
};

// A pool as `pool list` shows it.
struct PoolState {
  PoolSpec spec;
  uint64_t next_mac = 0;
  std::optional<std::string> next_serial;  // nullopt: stepped beyond its width
  uint64_t issued = 0;      // identities handed out
  uint64_t programmed = 0;  // units of the pool with outcome programmed
  uint64_t reserved = 0;    // units still reserved: runs going on, or killed
  uint64_t remaining = 0;   // identities left
  // Handed out, not on a programmed unit: failed and killed runs, runs
  // going on (`reserved`), identities skipped because another unit held them.
  uint64_t wasted() const { return issued - programmed; }
  std::string created_utc;
};

// A new unit id: 32 random hexadecimal digits, made by the client so that
// no engine-specific identity column is needed.
std::string NewUnitId();

class LineDatabase {
 public:
  LineDatabase();
  ~LineDatabase();
  LineDatabase(const LineDatabase&) = delete;
  LineDatabase& operator=(const LineDatabase&) = delete;

  // Connects (waiting at most `timeout_seconds` for the server) and checks
  // the schema's version: kOk, kUnreachable, kLoginRefused, kSchemaMissing,
  // kSchemaUnknown.
  Result Open(const std::string& connection_string, int timeout_seconds = 10);
  // Connects without looking at the schema (for Init): kOk, kUnreachable,
  // kLoginRefused.
  Result Connect(const std::string& connection_string, int timeout_seconds = 10);
  void Close();

  Engine engine() const { return engine_; }

  // The schema's version: 0 when there is none; -1 with `result` set when
  // it cannot be read for another reason (connection lost).
  int SchemaVersion(Result& result);
  // Creates the schema, or upgrades an older one, in one transaction; does
  // nothing when it is current (so two stations may run it at once). kOk,
  // kSchemaUnknown for a newer schema, kConnectionLost, kFailed. `created`
  // tells whether anything was made.
  Result Init(bool* created = nullptr);

  // Creates a pool (CheckPoolSpec first: kFailed with its reason); its
  // next identity is the first. kPoolExists when the name is taken.
  Result CreatePool(const PoolSpec& spec);
  // Every pool, by name.
  Result ListPools(std::vector<PoolState>& pools);
  // One pool's range, next identity and remaining count (its unit counts
  // are left 0: they cost a count over the units). kNoPool when there is
  // none of that name.
  Result ReadPool(const std::string& name, PoolState& pool);

  // Takes the next identity of `pool` and records the unit as reserved, in
  // one transaction: the pool's counter and next identity step, and the
  // unit's row is inserted with the columns of `record` (mac, serial and
  // rework set here: mac and serial to the identity, rework "no"). Two
  // callers never get one identity, whatever the timing. kOk with
  // `reservation` and `record` filled; kNoPool; kExhausted (nothing
  // changes); kDuplicate when another unit already holds the identity (it
  // came in from an INI file): the identity is then used up, so the next
  // run takes the following one; kConnectionLost; kFailed.
  //
  // The pool's counter is updated first: that locks the pool's row until
  // the transaction ends on every engine (a row lock on PostgreSQL and SQL
  // Server, the database's write lock on SQLite), so the read of the next
  // identity that follows cannot race another reserver. A transaction that
  // loses a deadlock or finds SQLite busy is tried again.
  Result Reserve(const std::string& pool, ProductionRecord& record, Reservation& reservation);

  // Records a unit whose identity came from elsewhere (an INI file, a
  // binary image) as reserved. A rework (`rework`: ORN5300_REWORK=1) is
  // allowed only when an earlier unit that guards its identity (programmed,
  // or reserved by a run killed after it wrote the device) has this MAC
  // address and serial number, and its row guards nothing (the earlier
  // unit's does);
  // any other unit is refused while another unit holds its MAC address or
  // serial number. Sets record.mac, record.serial and record.rework. kOk
  // with `reservation` filled; kDuplicate; kReworkRefused;
  // kConnectionLost; kFailed.
  Result RecordUnit(const Identity& identity, bool rework, ProductionRecord& record,
                    Reservation& reservation);

  // Writes the outcome of a reserved unit: outcome "programmed" when
  // record.verify is "passed", else "failed" (its identity is no longer
  // guarded), and every column of `record` but mac, serial and rework, which
  // stay as reserved. Idempotent: a unit already finished with the same
  // outcome is kOk. A unit missing from the table (a database restored from
  // before its reservation) is inserted finished. kOk, kConnectionLost,
  // kDuplicate (missing unit whose identity another holds), kFailed (the
  // unit was finished with another outcome).
  Result Finish(const std::string& unit_id, const ProductionRecord& record);

  // Calls `fn` for every unit's record in the order the units finished
  // (units still reserved by when they were reserved); stops early when
  // `fn` returns false.
  Result ForEachRecord(const std::function<bool(const ProductionRecord&)>& fn);

  // The unit with this id; kFailed when there is none.
  Result FindUnit(const std::string& unit_id, EarlierUnit& unit);

  // The connection, for tests and tools that need plain SQL.
  platform::odbc::Connection& connection() { return *connection_; }

 private:
  Result InsertUnit(const std::string& unit_id, const std::string& pool, const Identity& identity,
                    const std::string& outcome, bool guarded, const ProductionRecord& record);
  // The guarded unit that holds the MAC address or the serial number.
  std::optional<EarlierUnit> GuardingUnit(const Identity& identity, Result& result);
  Result FromError(const char* what);
  // Runs a single statement, trying again while it loses races (busy).
  bool ExecuteRetrying(const std::string& sql, const std::vector<platform::odbc::Value>& values,
                       int64_t* rows = nullptr);

  std::unique_ptr<platform::odbc::Connection> connection_;
  Engine engine_ = Engine::kOther;
};

}  // namespace db
