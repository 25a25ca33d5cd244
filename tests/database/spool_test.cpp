// The spool: where it is, entries delivered once, entries that cannot go
// kept or moved aside, never dropped.
#include <gtest/gtest.h>

#include <cstdlib>

#include "database/db_test_util.h"
#include "database/spool.h"

namespace {

using db::Status;
using dbtest::Finished;
using dbtest::Kind;
using dbtest::Seed;

TEST(Spool, DefaultPlace) {
  struct Case {
    const char* spool;
    const char* state;
    const char* home;
    const char* expected;
  } cases[] = {
      {"/tmp/my.spool", "/state", "/home/u", "/tmp/my.spool"},
      {"", "/state", "/home/u", "/state/orn5300cli/spool"},
      {nullptr, "relative/state", "/home/u", "/home/u/.local/state/orn5300cli/spool"},
      {nullptr, nullptr, "/home/u", "/home/u/.local/state/orn5300cli/spool"},
  };
  for (const Case& c : cases) {
    auto set = [](const char* name, const char* value) {
      value == nullptr ? unsetenv(name) : setenv(name, value, 1);
    };
    set("ORN5300_SPOOL", c.spool);
    set("XDG_STATE_HOME", c.state);
    set("HOME", c.home);
    EXPECT_EQ(db::DefaultSpoolPath(), c.expected);
  }
}

class SpoolDelivery : public testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    std::string why;
    const std::optional<std::string> connection = dbtest::FreshDatabase(GetParam(), dir_, why);
    if (!connection) GTEST_SKIP() << why;
    connection_ = *connection;
  }
  test::TempDir dir_;
  std::string connection_;
};

TEST_P(SpoolDelivery, EntriesAreDeliveredOnce) {
  auto d = dbtest::OpenWithSchema(connection_);
  ASSERT_TRUE(d->CreatePool({"p", 0x10, 0x20, 1, "", "", 1}).ok());
  std::vector<db::Reservation> units(3);
  for (db::Reservation& unit : units) {
    ProductionRecord r = Seed();
    ASSERT_TRUE(d->Reserve("p", r, unit).ok());
  }
  const std::string spool = dir_.File("state/orn5300cli/spool");
  std::string error;
  ProductionRecord first = Finished(Seed(), true);
  first.error = "line one\r\nline, two";
  ASSERT_TRUE(db::AppendToSpool(spool, units[0].unit_id, first, error)) << error;
  ASSERT_TRUE(db::AppendToSpool(spool, units[1].unit_id, Finished(Seed(), false), error));
  // A writer killed in the middle of its line.
  test::WriteFile(spool, test::ReadFile(spool) + units[2].unit_id + ",2026-12-08T10:");
  ASSERT_TRUE(db::AppendToSpool(spool, units[2].unit_id, Finished(Seed(), true), error));
  const std::string written = test::ReadFile(spool);

  // No connection: everything stays.
  db::LineDatabase closed;
  db::SpoolReport report;
  EXPECT_EQ(db::DeliverSpool(closed, spool, report).status, Status::kConnectionLost);
  EXPECT_EQ(report.kept, 4);
  EXPECT_EQ(report.delivered, 0);
  EXPECT_EQ(test::ReadFile(spool), written);

  const db::Result delivered = db::DeliverSpool(*d, spool, report);
  EXPECT_TRUE(delivered.ok()) << delivered.message;
  EXPECT_EQ(report.delivered, 3);
  EXPECT_EQ(report.rejected, 1);
  EXPECT_EQ(report.kept, 0);
  EXPECT_FALSE(test::FileExists(spool));
  EXPECT_EQ(test::ReadFile(spool + ".rejected"), units[2].unit_id + ",2026-12-08T10:\n");
  const char* outcomes[] = {"programmed", "failed", "programmed"};
  for (size_t i = 0; i < units.size(); ++i) {
    db::EarlierUnit unit;
    ASSERT_TRUE(d->FindUnit(units[i].unit_id, unit).ok());
    EXPECT_EQ(unit.outcome, outcomes[i]);
  }
  db::EarlierUnit unit;
  ASSERT_TRUE(d->FindUnit(units[0].unit_id, unit).ok());
  EXPECT_EQ(unit.record.error, first.error);

  // A station that crashed before it emptied its spool delivers again:
  // the same outcome is no change; another one is rejected, not applied.
  ASSERT_TRUE(db::AppendToSpool(spool, units[0].unit_id, first, error));
  ASSERT_TRUE(db::AppendToSpool(spool, units[1].unit_id, Finished(Seed(), true), error));
  EXPECT_TRUE(db::DeliverSpool(*d, spool, report).ok());
  EXPECT_EQ(report.delivered, 1);
  EXPECT_EQ(report.rejected, 1);
  ASSERT_EQ(report.messages.size(), 1u);
  EXPECT_NE(report.messages[0].find("was finished as failed"), std::string::npos) << report.messages[0];
  ASSERT_TRUE(d->FindUnit(units[1].unit_id, unit).ok());
  EXPECT_EQ(unit.outcome, "failed");
  EXPECT_TRUE(db::DeliverSpool(*d, spool, report).ok());  // nothing left
  EXPECT_EQ(report.delivered + report.kept + report.rejected, 0);
}

INSTANTIATE_TEST_SUITE_P(Engines, SpoolDelivery, testing::Values(Kind::kPostgres, Kind::kSqlite),
                         dbtest::KindName);

}  // namespace
