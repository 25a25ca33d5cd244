// What only a real server shows: its refusals carry texts the password
// must be cleaned from, a connection can break in the middle of a line, and
// the station role of `init --print-sql` holds.
#include <gtest/gtest.h>

#include "database/db_test_util.h"
#include "database/spool.h"
#include "platform/odbc.h"
#include "support/tool_runner.h"

namespace {

using db::Status;
using dbtest::Finished;
using dbtest::Seed;

class Postgres : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    const std::optional<std::string> server = test::PostgresConnection(why);
    if (!server) GTEST_SKIP() << why;
    server_ = *server;
    const std::optional<std::string> fresh = test::FreshPostgresDatabase(why);
    ASSERT_TRUE(fresh.has_value()) << why;
    connection_ = *fresh;
    // Roles belong to the whole server: named after this test's database.
    const size_t at = connection_.find("Database=") + 9;
    database_ = connection_.substr(at, connection_.find(';', at) - at);
  }

  // Runs statements as the server's superuser, in this test's database.
  void Admin(const std::vector<std::string>& statements) {
    platform::odbc::Connection c;
    ASSERT_TRUE(c.Connect(connection_, 10)) << c.error().message;
    for (const std::string& sql : statements) ASSERT_TRUE(c.Execute(sql)) << sql << ": " << c.error().message;
  }

  std::string server_;
  std::string connection_;
  std::string database_;
};

// Refusals whose texts hold the password (it is also the user's or the
// database's name), in braces with ';' and '}' too: the message keeps
// what happened and loses the password.
TEST_F(Postgres, NoMessageHoldsThePassword) {
  struct Case {
    const char* what;
    std::string connection;
    const char* password;
    Status status;
  } cases[] = {
      {"user named as the password", test::WithAttribute(test::WithAttribute(connection_, "Uid", "Zq7pass"), "Pwd", "Zq7pass"),
       "Zq7pass", Status::kLoginRefused},
      {"braced password with ; and }", test::WithAttribute(test::WithAttribute(connection_, "Uid", "{se;cr}}et}"), "Pwd", "{se;cr}}et}"),
       "se;cr}et", Status::kLoginRefused},
      {"database named as the password", test::WithAttribute(test::WithAttribute(connection_, "Database", "Db4pass"), "Pwd", "Db4pass"),
       "Db4pass", Status::kLoginRefused},
      {"no server on the port", test::WithAttribute(test::WithAttribute(connection_, "Port", "1"), "Pwd", "Port1pass"),
       "Port1pass", Status::kUnreachable},
      {"unknown driver", "Driver={No Such Driver};Uid=u;Pwd=Drv9pass;", "Drv9pass", Status::kUnreachable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    db::LineDatabase d;
    const db::Result result = d.Open(c.connection, 5);
    EXPECT_EQ(result.status, c.status) << result.message;
    EXPECT_FALSE(result.message.empty());
    EXPECT_EQ(result.message.find(c.password), std::string::npos) << result.message;
  }
  // The server says whose login failed; the user is the password here.
  db::LineDatabase d;
  const db::Result result = d.Open(cases[0].connection, 5);
  EXPECT_NE(result.message.find("\"***\""), std::string::npos) << result.message;
}

// A station loses its connection after the device was written: the
// outcome goes to the spool, the reservation already guards the identity,
// and the next run delivers it.
TEST_F(Postgres, ALostConnectionLeavesTheOutcomeInTheSpool) {
  auto admin = dbtest::OpenWithSchema(connection_);
  ASSERT_TRUE(admin->CreatePool({"p", 0x10, 0x20, 1, "10", "20", 1}).ok());
  const std::string role = "lost_" + database_;
  Admin({"CREATE ROLE " + role + " LOGIN PASSWORD 'Lost5pass' SUPERUSER"});
  const std::string station = test::WithAttribute(test::WithAttribute(connection_, "Uid", role), "Pwd", "Lost5pass");
  db::LineDatabase d;
  ASSERT_TRUE(d.Open(station).ok());
  ProductionRecord r = Seed();
  db::Reservation reservation;
  ASSERT_TRUE(d.Reserve("p", r, reservation).ok());

  ASSERT_TRUE(admin->connection().Execute(
      "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename = '" + role + "'"));
  const db::Result lost = d.Finish(reservation.unit_id, Finished(r, true));
  EXPECT_EQ(lost.status, Status::kConnectionLost) << lost.message;
  EXPECT_EQ(lost.message.find("Lost5pass"), std::string::npos);

  test::TempDir dir;
  std::string error;
  ASSERT_TRUE(db::AppendToSpool(dir.File("spool"), reservation.unit_id, Finished(r, true), error));
  // Meanwhile the identity stays taken.
  ProductionRecord other = Seed("station2");
  db::Reservation copy;
  EXPECT_EQ(admin->RecordUnit(reservation.identity, false, other, copy).status, Status::kDuplicate);

  db::LineDatabase next_run;
  ASSERT_TRUE(next_run.Open(station).ok());
  db::SpoolReport report;
  ASSERT_TRUE(db::DeliverSpool(next_run, dir.File("spool"), report).ok());
  EXPECT_EQ(report.delivered, 1);
  db::EarlierUnit unit;
  ASSERT_TRUE(admin->FindUnit(reservation.unit_id, unit).ok());
  EXPECT_EQ(unit.outcome, "programmed");
  EXPECT_EQ(unit.record.verify, "passed");
}

// The script of `init --print-sql` on an empty database, and a station
// logged in with its role: it reserves and records, and cannot delete,
// rewrite a finished record or turn a pool back.
TEST_F(Postgres, TheStationRoleReservesAndRecordsOnly) {
  // As a database administrator runs it: psql with the script.
  auto attribute = [this](const std::string& key) {
    const size_t at = connection_.find(key + "=") + key.size() + 1;
    return connection_.substr(at, connection_.find(';', at) - at);
  };
  test::TempDir dir;
  test::WriteFile(dir.File("setup.sql"), db::PostgresSetupScript());
  const test::RunResult psql = test::Run(
      "/usr/bin/psql", {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1", "-p", attribute("Port"), "-U",
                        attribute("Uid"), "-d", attribute("Database"), "-f", dir.File("setup.sql")},
      {{"PGPASSWORD", attribute("Pwd")}});
  ASSERT_EQ(psql.exit_code, 0) << psql.out << psql.err;
  const std::string role = "station_" + database_;
  Admin({"CREATE ROLE " + role + " LOGIN PASSWORD 'Role6pass' IN ROLE orn_station"});

  db::LineDatabase admin;
  ASSERT_TRUE(admin.Open(connection_).ok());
  EXPECT_TRUE(admin.Init().ok());  // the script made the current schema
  ASSERT_TRUE(admin.CreatePool({"p", 0x10, 0x20, 1, "10", "20", 1}).ok());

  db::LineDatabase station;
  ASSERT_TRUE(station
                  .Open(test::WithAttribute(
                      test::WithAttribute(connection_, "Uid", role), "Pwd", "Role6pass"))
                  .ok());
  ProductionRecord r = Seed();
  db::Reservation pooled, filed;
  ASSERT_TRUE(station.Reserve("p", r, pooled).ok());
  ASSERT_TRUE(station.Finish(pooled.unit_id, Finished(r, true)).ok());
  ASSERT_TRUE(station.RecordUnit({0x99, "99"}, false, r, filed).ok());
  ASSERT_TRUE(station.Finish(filed.unit_id, Finished(r, false)).ok());
  std::vector<db::PoolState> pools;
  EXPECT_TRUE(station.ListPools(pools).ok());
  int records = 0;
  EXPECT_TRUE(station.ForEachRecord([&](const ProductionRecord&) { return ++records > 0; }).ok());
  EXPECT_EQ(records, 2);

  const std::string id = "'" + pooled.unit_id + "'";
  const char* refused[] = {
      "DELETE FROM orn_units",
      "UPDATE orn_units SET error = 'changed' WHERE unit_id = ",
      "UPDATE orn_units SET outcome = 'reserved', guarded = 1 WHERE unit_id = ",
      "UPDATE orn_pools SET issued = 0, next_mac = 16",
      "UPDATE orn_pools SET last_mac = 100",
      "DROP TABLE orn_units",
  };
  for (const char* sql : refused) {
    std::string text = sql;
    if (text.back() == ' ') text += id;
    EXPECT_FALSE(station.connection().Execute(text)) << text;
  }
  db::EarlierUnit unit;
  ASSERT_TRUE(admin.FindUnit(pooled.unit_id, unit).ok());
  EXPECT_EQ(unit.outcome, "programmed");
  EXPECT_EQ(unit.record.error, "");
}

}  // namespace
