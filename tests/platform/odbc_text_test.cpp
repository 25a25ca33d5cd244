// The texts of the ODBC layer: the password of a connection string, its
// redaction, and what a driver's diagnostic means.
#include <gtest/gtest.h>

#include "platform/odbc.h"

namespace {

using platform::odbc::ClassifyFailure;
using platform::odbc::ConnectionPassword;
using platform::odbc::FailureKind;
using platform::odbc::RedactConnectionString;
using platform::odbc::RemovePassword;

TEST(OdbcConnectionString, PasswordAndRedaction) {
  struct Case {
    const char* connection;
    const char* password;
    const char* redacted;
  } cases[] = {
      {"Driver={PostgreSQL Unicode};Server=mes;Uid=line3;Pwd=s3cret;", "s3cret",
       "Driver={PostgreSQL Unicode};Server=mes;Uid=line3;Pwd=***;"},
      {"DSN=factory;PASSWORD=abc", "abc", "DSN=factory;PASSWORD=***"},
      {"DSN=factory; password = x y ;Uid=u", " x y ", "DSN=factory; password =***;Uid=u"},
      {"DSN=f;Pwd={a;b}}c};Uid=u", "a;b}c", "DSN=f;Pwd=***;Uid=u"},
      {"DSN=f;Pwd={unterminated;Uid=u", "unterminated;Uid=u", "DSN=f;Pwd=***"},
      {"DSN=f;Uid=pwd", "", "DSN=f;Uid=pwd"},
      {"DSN=f;PwdX=1;Pwd=2", "2", "DSN=f;PwdX=1;Pwd=***"},
      {"Pwd=1;Pwd=2", "2", "Pwd=***;Pwd=***"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.connection);
    EXPECT_EQ(ConnectionPassword(c.connection), c.password);
    EXPECT_EQ(RedactConnectionString(c.connection), c.redacted);
  }
}

TEST(OdbcConnectionString, RemovePasswordReplacesEveryOccurrence) {
  EXPECT_EQ(RemovePassword("user \"pw\" pw; pwpw", "pw"), "user \"***\" ***; ******");
  EXPECT_EQ(RemovePassword("nothing here", ""), "nothing here");
  EXPECT_EQ(RemovePassword("aaa", "aa"), "***a");
}

TEST(OdbcDiagnostics, Classification) {
  struct Case {
    const char* sqlstate;
    const char* message;
    FailureKind kind;
  } cases[] = {
      {"08001", "connection to server failed: FATAL:  password authentication failed for user \"u\"",
       FailureKind::kLoginRefused},
      {"28000", "Login failed for user 'u'.", FailureKind::kLoginRefused},
      {"08001", "FATAL:  role \"nobody\" does not exist", FailureKind::kLoginRefused},
      {"08001", "could not connect to server: Connection refused", FailureKind::kConnectionLost},
      {"08S01", "communication link failure", FailureKind::kConnectionLost},
      {"57P01", "terminating connection due to administrator command", FailureKind::kConnectionLost},
      {"HY000", "server closed the connection unexpectedly", FailureKind::kConnectionLost},
      {"23505", "duplicate key value violates unique constraint", FailureKind::kConstraint},
      {"HY000", "[SQLite]UNIQUE constraint failed: orn_units.mac_key (19)", FailureKind::kConstraint},
      {"40001", "could not serialize access", FailureKind::kRetry},
      {"40P01", "deadlock detected", FailureKind::kRetry},
      {"HY000", "[SQLite]database is locked (5)", FailureKind::kRetry},
      {"42P01", "relation \"orn_schema\" does not exist", FailureKind::kOther},
      {"", "", FailureKind::kOther},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(ClassifyFailure(c.sqlstate, c.message), c.kind);
  }
}

TEST(OdbcConnection, AnUnknownDriverFailsWithoutThePassword) {
  platform::odbc::Connection c;
  EXPECT_FALSE(c.Connect("Driver={No Such Driver};Uid=u;Pwd=NoSuchDriverSecret;", 2));
  EXPECT_FALSE(c.connected());
  EXPECT_EQ(c.error().kind, FailureKind::kConnectionLost);
  EXPECT_FALSE(c.error().message.empty());
  EXPECT_EQ(c.error().message.find("NoSuchDriverSecret"), std::string::npos);
  EXPECT_FALSE(c.Execute("SELECT 1"));
  EXPECT_EQ(c.error().kind, FailureKind::kConnectionLost);
}

}  // namespace
