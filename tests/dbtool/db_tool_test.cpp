// The built orn5300db as a line engineer runs it: the command line, init,
// pools from a station's INI file, the export that orn5300log reads, the
// spool, and the failures that must name no password.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "database/db_test_util.h"
#include "database/spool.h"
#include "platform/odbc.h"

namespace {

using Env = std::map<std::string, std::string>;
using dbtest::Finished;
using dbtest::Kind;
using dbtest::Seed;

test::RunResult Db(const std::vector<std::string>& args, const Env& env = {}) {
  return test::Run(ORN_DB_PATH, args, env);
}

TEST(DbTool, CommandLine) {
  const std::string try_help = "\nTry 'orn5300db --help' for more information.\n";
  struct Case {
    std::vector<std::string> args;
    const char* error;
  } cases[] = {
      {{}, "no command given"},
      {{"frob"}, "unknown command 'frob'"},
      {{"pool"}, "pool needs create or list"},
      {{"pool", "drop"}, "unknown pool command 'drop'"},
      {{"pool", "create"}, "pool create needs a pool name"},
      {{"pool", "create", "p"}, "pool create needs --from INI"},
      {{"pool", "create", "p", "q", "--from", "a.ini"}, "pool create takes no operand 'q'"},
      {{"pool", "list", "--from", "a.ini"}, "option --from does not apply to pool list"},
      {{"export", "extra"}, "export takes no operand 'extra'"},
      {{"init", "-o", "x.csv"}, "option --output does not apply to init"},
      {{"export", "--json"}, "option --json does not apply to export"},
      {{"flush", "--spool="}, "--spool takes a file name, not an empty text"},
  };
  for (const Case& c : cases) {
    const test::RunResult r = Db(c.args);
    EXPECT_EQ(r.exit_code, 2) << c.error;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("orn5300db: ") + c.error + try_help);
  }
  const test::RunResult help = Db({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.out.rfind("Usage: orn5300db [OPTIONS] COMMAND\n", 0), 0u);
  EXPECT_EQ(Db({"--version"}).out, "orn5300db 1.0.9.0\n");

  const test::RunResult unset = Db({"init"}, {{"ORN5300_DB", ""}});
  EXPECT_EQ(unset.exit_code, 2);
  EXPECT_EQ(unset.err.rfind("orn5300db: ORN5300_DB is not set", 0), 0u) << unset.err;
  // The script needs no database.
  const test::RunResult sql = Db({"init", "--print-sql"}, {{"ORN5300_DB", ""}});
  EXPECT_EQ(sql.exit_code, 0);
  EXPECT_EQ(sql.out, db::PostgresSetupScript());
}

class DbToolOn : public testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    std::string why;
    const std::optional<std::string> connection = dbtest::FreshDatabase(GetParam(), dir_, why);
    if (!connection) GTEST_SKIP() << why;
    connection_ = *connection;
    env_ = {{"ORN5300_DB", connection_}, {"ORN5300_SPOOL", dir_.File("spool")}};
  }
  test::RunResult Run(const std::vector<std::string>& args) { return Db(args, env_); }

  test::TempDir dir_;
  std::string connection_;
  Env env_;
};

TEST_P(DbToolOn, ALineFromInitToExport) {
  EXPECT_EQ(Run({"export"}).exit_code, 4);
  const test::RunResult missing = Run({"pool", "list"});
  EXPECT_EQ(missing.exit_code, 4);
  EXPECT_NE(missing.err.find("orn5300db init creates it"), std::string::npos) << missing.err;
  EXPECT_EQ(Run({"init"}).out, "Created the schema (version 1).\n");
  const test::RunResult again = Run({"init"});
  EXPECT_EQ(again.exit_code, 0);
  EXPECT_EQ(again.out, "The schema is current (version 1).\n");
  EXPECT_EQ(Run({"pool", "list"}).out, "Pool  Next MAC  Next serial  Remaining  Issued  Programmed  Reserved  Wasted\n(no pools)\n");

  const std::string ini = dir_.File("station.ini");
  test::WriteFile(ini, dbtest::IniWithIdentity({"00:80:0F:53:00:01", "00:80:0F:53:00:0A", "1", "000000a1", "000000FF", "2"}));
  const test::RunResult created = Run({"pool", "create", "line3", "--from", ini});
  EXPECT_EQ(created.exit_code, 0) << created.err;
  EXPECT_EQ(created.out,
            "Created pool line3: MAC addresses 00:80:0F:53:00:01 to 00:80:0F:53:00:0A step 1, "
            "serial numbers 000000a1 to 000000FF step 2; 10 identities.\n");
  const test::RunResult taken = Run({"pool", "create", "line3", "--from", ini});
  EXPECT_EQ(taken.exit_code, 1);
  EXPECT_EQ(taken.err, "orn5300db: pool line3 exists already\n");
  EXPECT_EQ(Run({"pool", "create", "x", "--from", dir_.File("missing.ini")}).exit_code, 2);
  test::WriteFile(ini, dbtest::IniWithIdentity({"00:80:0F:53:00:01", "00:80:0F:53:00:0A", "1", "01", "FF", "0"}));
  const test::RunResult fixed = Run({"pool", "create", "fixed", "--from", ini});
  EXPECT_EQ(fixed.exit_code, 2);
  EXPECT_NE(fixed.err.find("the serial number increment must be 1 to 255"), std::string::npos) << fixed.err;

  // Three units: programmed, failed, still reserved.
  std::vector<ProductionRecord> records;
  {
    auto d = dbtest::OpenWithSchema(connection_);
    std::vector<db::Reservation> units(3);
    for (size_t i = 0; i < units.size(); ++i) {
      records.push_back(Seed("station" + std::to_string(i)));
      ASSERT_TRUE(d->Reserve("line3", records[i], units[i]).ok());
    }
    records[0] = Finished(records[0], true);
    records[0].source_file = "C:\\line 3\\station, \"new\".ini";
    records[1] = Finished(records[1], false);
    ASSERT_TRUE(d->Finish(units[0].unit_id, records[0]).ok());
    ASSERT_TRUE(d->Finish(units[1].unit_id, records[1]).ok());
    std::string error;
    ASSERT_TRUE(db::AppendToSpool(dir_.File("spool"), units[2].unit_id, Finished(records[2], true), error));
  }
  EXPECT_EQ(Run({"pool", "list"}).out,
            "Pool   Next MAC           Next serial  Remaining  Issued  Programmed  Reserved  Wasted\n"
            "line3  00:80:0F:53:00:04  000000A7             7       3           1         1       2\n");
  const test::RunResult json = Run({"pool", "list", "--json"});
  EXPECT_EQ(json.exit_code, 0);
  const nlohmann::json doc = nlohmann::json::parse(json.out);
  EXPECT_EQ(doc["tool"], "orn5300db");
  EXPECT_EQ(doc["command"], "pool list");
  EXPECT_EQ(doc["exit_code"], 0);
  ASSERT_EQ(doc["pools"].size(), 1u);
  const nlohmann::json& pool = doc["pools"][0];
  EXPECT_EQ(pool["first_serial"], "000000a1");
  EXPECT_EQ(pool["next_mac"], "00:80:0F:53:00:04");
  EXPECT_EQ(pool["next_serial"], "000000A7");
  EXPECT_EQ(pool["remaining_count"], 7);
  EXPECT_EQ(pool["wasted_count"], 2);

  // The export is the file log's CSV: header, then a record per unit in
  // the order they finished (the reserved one by its reservation).
  const test::RunResult exported = Run({"export"});
  EXPECT_EQ(exported.exit_code, 0) << exported.err;
  EXPECT_EQ(exported.out, RecordHeaderLine() + FormatRecordLine(records[2]) + FormatRecordLine(records[0]) +
                              FormatRecordLine(records[1]));
  size_t begin = exported.out.find('\n') + 1;
  for (const ProductionRecord& expected : {records[2], records[0], records[1]}) {
    const size_t end = exported.out.find('\n', begin);
    ProductionRecord parsed;
    ASSERT_TRUE(ParseRecordLine(exported.out.substr(begin, end - begin), parsed));
    EXPECT_EQ(FormatRecordLine(parsed), FormatRecordLine(expected));
    begin = end + 1;
  }
  const std::string file = dir_.File("export.csv");
  EXPECT_EQ(Run({"export", "-o", file}).exit_code, 0);
  EXPECT_EQ(test::ReadFile(file), exported.out);
  const test::RunResult log = test::Run(ORN_LOG_PATH, {"summary", file});
  EXPECT_EQ(log.exit_code, 0) << log.err;
  EXPECT_NE(log.out.find("Records            3 (passed 1, failed 2)"), std::string::npos) << log.out;

  // The spool of a station that lost its connection.
  const test::RunResult flush = Run({"flush"});
  EXPECT_EQ(flush.exit_code, 0) << flush.err;
  EXPECT_EQ(flush.out, "Delivered 1, left 0, rejected 0 (spool " + dir_.File("spool") + ").\n");
  EXPECT_EQ(Run({"flush"}).out, "The spool " + dir_.File("spool") + " is empty.\n");
  test::WriteFile(dir_.File("spool"), "cut short");
  const test::RunResult damaged = Run({"flush"});
  EXPECT_EQ(damaged.exit_code, 1);
  EXPECT_EQ(damaged.out, "Delivered 0, left 0, rejected 1 (spool " + dir_.File("spool") + ").\n");
  EXPECT_TRUE(test::FileExists(dir_.File("spool.rejected")));
  const test::RunResult after = Run({"pool", "list", "--json"});
  EXPECT_EQ(nlohmann::json::parse(after.out)["pools"][0]["programmed_count"], 2);
}

INSTANTIATE_TEST_SUITE_P(Engines, DbToolOn, testing::Values(Kind::kPostgres, Kind::kSqlite),
                         dbtest::KindName);

// Every way the database can fail before the command runs: a clear
// message, the exit code, and never the password.
TEST(DbTool, FailuresNameNoPassword) {
  std::string why;
  const std::optional<std::string> fresh = test::FreshPostgresDatabase(why);
  if (!fresh) GTEST_SKIP() << why;
  const std::optional<std::string> newer = test::FreshPostgresDatabase(why);
  ASSERT_TRUE(newer.has_value()) << why;
  ASSERT_EQ(Db({"init"}, {{"ORN5300_DB", *newer}}).exit_code, 0);
  {
    platform::odbc::Connection c;
    ASSERT_TRUE(c.Connect(*newer, 10));
    ASSERT_TRUE(c.Execute("UPDATE orn_schema SET version = 2"));
  }
  const std::string password = platform::odbc::ConnectionPassword(*fresh);
  struct Case {
    const char* what;
    std::string connection;
    std::vector<std::string> args;
    int exit_code;
    const char* message;
  } cases[] = {
      {"no server on the port", test::WithAttribute(*fresh, "Port", "1"), {"pool", "list"}, 3,
       "orn5300db: cannot connect to the database: "},
      {"wrong password", test::WithAttribute(*fresh, "Pwd", password + "x"), {"export"}, 3,
       "orn5300db: the database refused the login: "},
      {"no schema", *fresh, {"export"}, 4,
       "orn5300db: the database has no production schema (orn5300db init creates it)\n"},
      {"no schema, JSON", *fresh, {"pool", "list", "--json"}, 4,
       "orn5300db: the database has no production schema (orn5300db init creates it)\n"},
      {"a newer schema", *newer, {"flush", "--spool", "/nonexistent/x"}, 0, ""},
      {"a newer schema", *newer, {"init"}, 4, "orn5300db: the database's schema has version 2; "},
      {"a newer schema", *newer, {"export"}, 4, "orn5300db: the database's schema has version 2; "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const test::RunResult r = Db(c.args, {{"ORN5300_DB", c.connection}});
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << r.err;
    EXPECT_EQ(r.out.find(password), std::string::npos);
    EXPECT_EQ(r.err.find(password), std::string::npos);
    if (c.args.back() == "--json") {
      const nlohmann::json doc = nlohmann::json::parse(r.out);
      EXPECT_EQ(doc["exit_code"], c.exit_code);
      EXPECT_EQ(doc["error"].get<std::string>() + "\n", r.err.substr(std::string("orn5300db: ").size()));
    }
  }
}

}  // namespace
