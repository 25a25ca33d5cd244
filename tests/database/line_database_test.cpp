// The line database on a real PostgreSQL server and on SQLite through its
// ODBC driver: schema, pools, reservations, the duplicate guard, finishing,
// and many stations at once.
#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "config/ini_reader.h"
#include "database/db_test_util.h"
#include "platform/odbc.h"
#include "support/capture.h"

namespace {

using db::Status;
using dbtest::Finished;
using dbtest::Kind;
using dbtest::Seed;

class LineDb : public testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    std::string why;
    const std::optional<std::string> connection = dbtest::FreshDatabase(GetParam(), dir_, why);
    if (!connection) GTEST_SKIP() << why;
    connection_ = *connection;
  }

  // A pool from a station INI file with these identity keys.
  db::PoolSpec PoolFromIni(const std::string& name, const dbtest::IdentityKeys& keys) {
    test::WriteFile(dir_.File("station.ini"), dbtest::IniWithIdentity(keys));
    RunSettings rs;
    int read = 0;
    test::CaptureStdout([&] { read = ReadIniFile(dir_.File("station.ini").c_str(), rs); });
    EXPECT_EQ(read, 0);
    return db::PoolSpecFromSettings(name, rs);
  }

  test::TempDir dir_;
  std::string connection_;
};

TEST_P(LineDb, InitIsIdempotentAndVersioned) {
  db::LineDatabase d;
  EXPECT_EQ(d.Open(connection_).status, Status::kSchemaMissing);
  ASSERT_TRUE(d.Connect(connection_).ok());
  bool created = false;
  ASSERT_TRUE(d.Init(&created).ok());
  EXPECT_TRUE(created);
  ASSERT_TRUE(d.Init(&created).ok());
  EXPECT_FALSE(created);
  EXPECT_TRUE(d.Open(connection_).ok());

  ASSERT_TRUE(d.connection().Execute("UPDATE orn_schema SET version = 2"));
  db::LineDatabase newer;
  const db::Result open = newer.Open(connection_);
  EXPECT_EQ(open.status, Status::kSchemaUnknown);
  EXPECT_NE(open.message.find("version 2"), std::string::npos) << open.message;
  ASSERT_TRUE(newer.Connect(connection_).ok());
  EXPECT_EQ(newer.Init().status, Status::kSchemaUnknown);
}

// Pools made from INI files, each drawn until it is exhausted: the
// identities come in order, whichever of MAC address and serial number ends
// first ends the pool, and an exhausted pool stays as it is.
TEST_P(LineDb, PoolsHandOutTheirRangeInOrderUntilExhausted) {
  struct Case {
    const char* what;
    dbtest::IdentityKeys keys;
    std::vector<std::pair<const char*, const char*>> identities;
  } cases[] = {
      {"MAC addresses end first, serial in lower case",
       {"00:80:0F:00:00:FE", "00:80:0F:00:01:01", "1", "00fe", "ffff", "1"},
       {{"00:80:0F:00:00:FE", "00fe"}, {"00:80:0F:00:00:FF", "00FF"}, {"00:80:0F:00:01:00", "0100"},
        {"00:80:0F:00:01:01", "0101"}}},
      {"serials end first",
       {"00:00:00:00:00:00", "00:00:00:00:00:10", "2", "FD", "FF", "1"},
       {{"00:00:00:00:00:00", "FD"}, {"00:00:00:00:00:02", "FE"}, {"00:00:00:00:00:04", "FF"}}},
      {"serial steps beyond its width",
       {"00:00:00:00:01:00", "00:00:00:00:01:FF", "1", "FC", "FF", "2"},
       {{"00:00:00:00:01:00", "FC"}, {"00:00:00:00:01:01", "FE"}}},
      {"a MAC carry through five bytes",
       {"00:FF:FF:FF:FF:FD", "02:00:00:00:00:00", "2", "1", "3", "1"},
       {{"00:FF:FF:FF:FF:FD", "1"}, {"00:FF:FF:FF:FF:FF", "2"}, {"01:00:00:00:00:01", "3"}}},
  };
  auto d = dbtest::OpenWithSchema(connection_);
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = "pool" + std::to_string(n++);
    const db::PoolSpec spec = PoolFromIni(name, c.keys);
    ASSERT_EQ(db::CheckPoolSpec(spec), "");
    ASSERT_TRUE(d->CreatePool(spec).ok());
    EXPECT_EQ(d->CreatePool(spec).status, Status::kPoolExists);
    std::vector<db::Reservation> taken;
    for (const auto& [mac, serial] : c.identities) {
      ProductionRecord r = Seed();
      db::Reservation reservation;
      const db::Result result = d->Reserve(name, r, reservation);
      ASSERT_TRUE(result.ok()) << result.message;
      EXPECT_EQ(r.mac, mac);
      EXPECT_EQ(r.serial, serial);
      EXPECT_EQ(db::MacText(reservation.identity.mac), mac);
      EXPECT_EQ(reservation.identity.serial, serial);
      taken.push_back(reservation);
    }
    for (int again = 0; again < 2; ++again) {
      ProductionRecord r = Seed();
      db::Reservation reservation;
      const db::Result result = d->Reserve(name, r, reservation);
      EXPECT_EQ(result.status, Status::kExhausted) << result.message;
      EXPECT_NE(result.message.find(name), std::string::npos);
    }
    // One unit programmed, one failed, the rest still reserved.
    ASSERT_TRUE(d->Finish(taken[0].unit_id, Finished(Seed(), true)).ok());
    ASSERT_TRUE(d->Finish(taken[1].unit_id, Finished(Seed(), false)).ok());
    std::vector<db::PoolState> pools;
    ASSERT_TRUE(d->ListPools(pools).ok());
    ASSERT_EQ(pools.back().spec.name, name);
    const db::PoolState& p = pools.back();
    EXPECT_EQ(p.issued, c.identities.size());
    EXPECT_EQ(p.remaining, 0u);
    EXPECT_EQ(p.programmed, 1u);
    EXPECT_EQ(p.reserved, c.identities.size() - 2);
    EXPECT_EQ(p.wasted(), c.identities.size() - 1);
  }
  ProductionRecord r = Seed();
  db::Reservation reservation;
  EXPECT_EQ(d->Reserve("nosuchpool", r, reservation).status, Status::kNoPool);
}

// The guard, step by step: identities from INI files, case-insensitive
// serial numbers, reworks, failed runs that give their identity back, and a
// pool whose next identity a file-based unit already holds.
TEST_P(LineDb, TheGuardRefusesAnIdentityAnotherUnitHolds) {
  auto d = dbtest::OpenWithSchema(connection_);
  std::map<std::string, std::string> units;  // label -> unit id
  struct Step {
    const char* label;
    const char* action;  // record, rework, pass, fail
    uint64_t mac;
    const char* serial;
    Status expected;
    const char* earlier;  // the unit named by a refusal
  } steps[] = {
      {"A", "record", 0xA1, "00A1", Status::kOk, ""},
      {"", "record", 0xA1, "00B2", Status::kDuplicate, "A"},
      {"", "record", 0xB2, "00a1", Status::kDuplicate, "A"},
      {"B", "record", 0xB2, "", Status::kOk, ""},
      {"C", "record", 0xC3, "", Status::kOk, ""},  // no serial numbers: none to share
      // A is still reserved, as after a run killed once it wrote the device:
      // the unit may be programmed again with its own identity.
      {"R0", "rework", 0xA1, "00A1", Status::kOk, ""},
      {"A", "pass", 0, "", Status::kOk, ""},
      {"R1", "rework", 0xA1, "00a1", Status::kOk, ""},
      {"R2", "rework", 0xA1, "00A1", Status::kOk, ""},  // a rework guards nothing
      {"R2", "pass", 0, "", Status::kOk, ""},
      {"", "rework", 0xA1, "00B2", Status::kReworkRefused, "A"},
      {"", "rework", 0xD4, "00D4", Status::kReworkRefused, ""},
      {"", "record", 0xA1, "00A1", Status::kDuplicate, "A"},
      {"B", "fail", 0, "", Status::kOk, ""},
      {"D", "record", 0xB2, "00D4", Status::kOk, ""},  // B's failed run gave it back
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.action) + " " + step.label + " " + db::MacText(step.mac) + " " + step.serial);
    const std::string action = step.action;
    db::Result result;
    if (action == "pass" || action == "fail") {
      result = d->Finish(units[step.label], Finished(Seed(), action == "pass"));
    } else {
      ProductionRecord r = Seed();
      db::Reservation reservation;
      result = d->RecordUnit({step.mac, step.serial}, action == "rework", r, reservation);
      if (result.ok()) {
        units[step.label] = reservation.unit_id;
        EXPECT_EQ(r.rework, action == "rework" ? "yes" : "no");
      }
    }
    EXPECT_EQ(result.status, step.expected) << result.message;
    if (*step.earlier != '\0') {
      ASSERT_TRUE(result.earlier.has_value());
      EXPECT_EQ(result.earlier->unit_id, units[step.earlier]);
      EXPECT_NE(result.message.find(units[step.earlier]), std::string::npos) << result.message;
    }
  }

  // A pool runs into an identity that a file-based unit holds: refused
  // once, naming the unit, then the pool goes on past it.
  ASSERT_TRUE(d->CreatePool({"p", 0x100, 0x1FF, 1, "0100", "01FF", 1}).ok());
  ProductionRecord r = Seed();
  db::Reservation held;
  ASSERT_TRUE(d->RecordUnit({0x101, "7777"}, false, r, held).ok());
  const uint64_t expected_macs[] = {0x100, 0, 0x102};
  for (uint64_t mac : expected_macs) {
    db::Reservation reservation;
    const db::Result result = d->Reserve("p", r, reservation);
    if (mac == 0) {
      EXPECT_EQ(result.status, Status::kDuplicate);
      ASSERT_TRUE(result.earlier.has_value());
      EXPECT_EQ(result.earlier->unit_id, held.unit_id);
    } else {
      ASSERT_TRUE(result.ok()) << result.message;
      EXPECT_EQ(reservation.identity.mac, mac);
    }
  }
  std::vector<db::PoolState> pools;
  ASSERT_TRUE(d->ListPools(pools).ok());
  EXPECT_EQ(pools[0].issued, 3u);
  EXPECT_EQ(pools[0].wasted(), 3u);  // nothing programmed yet
}

TEST_P(LineDb, FinishWritesTheRecordOnceAndKeepsTheIdentity) {
  auto d = dbtest::OpenWithSchema(connection_);
  ASSERT_TRUE(d->CreatePool({"p", 0x10, 0x20, 1, "0010", "0020", 1}).ok());
  ProductionRecord seed = Seed("Prüfplatz 3");
  db::Reservation reservation;
  ASSERT_TRUE(d->Reserve("p", seed, reservation).ok());
  db::EarlierUnit unit;
  ASSERT_TRUE(d->FindUnit(reservation.unit_id, unit).ok());
  EXPECT_EQ(unit.outcome, "reserved");
  EXPECT_EQ(unit.record.host, "Prüfplatz 3");
  EXPECT_EQ(unit.record.mac, "00:00:00:00:00:10");

  ProductionRecord done = Finished(seed, true);
  done.source_file = "C:\\line 3\\station,\"a\".ini";
  done.error = std::string(5000, 'x');  // longer than a column keeps
  done.mac = "00:00:00:00:00:99";         // the identity stays as reserved
  ASSERT_TRUE(d->Finish(reservation.unit_id, done).ok());
  ASSERT_TRUE(d->FindUnit(reservation.unit_id, unit).ok());
  EXPECT_EQ(unit.outcome, "programmed");
  ProductionRecord expected = done;
  expected.mac = "00:00:00:00:00:10";
  expected.error = std::string(db::kMaxRecordText, 'x');
  EXPECT_EQ(FormatRecordLine(unit.record), FormatRecordLine(expected));

  // Delivered twice: nothing changes; another outcome is refused.
  EXPECT_TRUE(d->Finish(reservation.unit_id, done).ok());
  const db::Result other = d->Finish(reservation.unit_id, Finished(seed, false));
  EXPECT_EQ(other.status, Status::kFailed);
  ASSERT_TRUE(d->FindUnit(reservation.unit_id, unit).ok());
  EXPECT_EQ(unit.outcome, "programmed");

  // A unit the table lost (a restored backup) comes back whole, and still
  // guards: a second one with its identity is refused.
  const std::string lost = db::NewUnitId();
  ProductionRecord lost_record = Finished(Seed(), true);
  lost_record.mac = "00:00:00:00:00:30";
  lost_record.serial = "0030";
  lost_record.rework = "no";
  ASSERT_TRUE(d->Finish(lost, lost_record).ok());
  ASSERT_TRUE(d->FindUnit(lost, unit).ok());
  EXPECT_EQ(unit.outcome, "programmed");
  EXPECT_EQ(d->Finish(db::NewUnitId(), lost_record).status, Status::kDuplicate);

  // Every record, in the order the units finished.
  std::vector<std::string> macs;
  ASSERT_TRUE(d->ForEachRecord([&](const ProductionRecord& r) {
                 macs.push_back(r.mac);
                 return true;
               }).ok());
  EXPECT_EQ(macs, (std::vector<std::string>{"00:00:00:00:00:10", "00:00:00:00:00:30"}));
}

// Stations at once, each with its own connection, all drawing from one
// pool: no identity twice, every unit recorded, the counter exact.
TEST_P(LineDb, ConcurrentStationsNeverShareAnIdentity) {
  const int stations = 8;
  const int units = GetParam() == Kind::kPostgres ? 25 : 8;
  {
    auto d = dbtest::OpenWithSchema(connection_);
    ASSERT_TRUE(d->CreatePool({"line", 0x00800F000000, 0x00800F00FFFF, 3, "00000000", "0000FFFF", 7}).ok());
  }
  std::vector<std::vector<db::Identity>> got(stations);
  std::vector<std::string> failures(stations);
  std::vector<std::thread> threads;
  for (int s = 0; s < stations; ++s) {
    threads.emplace_back([&, s] {
      db::LineDatabase d;
      db::Result result = d.Open(connection_);
      for (int u = 0; u < units && result.ok(); ++u) {
        ProductionRecord r = Seed("station" + std::to_string(s));
        db::Reservation reservation;
        result = d.Reserve("line", r, reservation);
        if (result.ok()) result = d.Finish(reservation.unit_id, Finished(r, true));
        if (result.ok()) got[static_cast<size_t>(s)].push_back(reservation.identity);
      }
      if (!result.ok()) failures[static_cast<size_t>(s)] = result.message;
    });
  }
  for (std::thread& t : threads) t.join();
  std::set<uint64_t> macs;
  std::set<std::string> serials;
  for (int s = 0; s < stations; ++s) {
    EXPECT_EQ(failures[static_cast<size_t>(s)], "") << "station " << s;
    for (const db::Identity& identity : got[static_cast<size_t>(s)]) {
      macs.insert(identity.mac);
      serials.insert(identity.serial);
    }
  }
  const size_t total = static_cast<size_t>(stations * units);
  EXPECT_EQ(macs.size(), total);
  EXPECT_EQ(serials.size(), total);
  EXPECT_EQ(*macs.rbegin(), 0x00800F000000u + 3 * (total - 1));
  auto d = dbtest::OpenWithSchema(connection_);
  std::vector<db::PoolState> pools;
  ASSERT_TRUE(d->ListPools(pools).ok());
  EXPECT_EQ(pools[0].issued, total);
  EXPECT_EQ(pools[0].programmed, total);
  EXPECT_EQ(pools[0].wasted(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Engines, LineDb, testing::Values(Kind::kPostgres, Kind::kSqlite),
                         dbtest::KindName);

}  // namespace
