// The ODBC layer: handles owned by objects, parameters bound by reference
// to values the statement keeps, diagnostics read record by record and
// cleaned of the password before anyone sees them.
#include "platform/odbc.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace platform::odbc {

namespace {

bool Succeeded(SQLRETURN r) { return r == SQL_SUCCESS || r == SQL_SUCCESS_WITH_INFO; }

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool ContainsNoCase(std::string_view text, std::string_view word) {
  auto lower = [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); };
  return std::search(text.begin(), text.end(), word.begin(), word.end(),
                     [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ContainsNoCase(a, b);
}

// One attribute of a connection string: where its value stands (braces
// included) and what it says.
struct Attribute {
  std::string key;
  size_t value_begin = 0;
  size_t value_end = 0;
  std::string value;  // braces removed, "}}" as "}"
};

std::vector<Attribute> ParseAttributes(std::string_view text) {
  std::vector<Attribute> attributes;
  size_t pos = 0;
  const size_t n = text.size();
  while (pos < n) {
    while (pos < n && (text[pos] == ';' || text[pos] == ' ' || text[pos] == '\t')) ++pos;
    if (pos >= n) break;
    const size_t key_begin = pos;
    while (pos < n && text[pos] != '=' && text[pos] != ';') ++pos;
    if (pos >= n || text[pos] == ';') continue;  // an attribute without a value
    Attribute a;
    a.key = std::string(text.substr(key_begin, pos - key_begin));
    while (!a.key.empty() && (a.key.back() == ' ' || a.key.back() == '\t')) a.key.pop_back();
    ++pos;  // '='
    a.value_begin = pos;
    if (pos < n && text[pos] == '{') {
      ++pos;
      while (pos < n) {
        if (text[pos] == '}') {
          if (pos + 1 < n && text[pos + 1] == '}') {
            a.value += '}';
            pos += 2;
            continue;
          }
          ++pos;
          break;
        }
        a.value += text[pos++];
      }
      a.value_end = pos;
      while (pos < n && text[pos] != ';') ++pos;
    } else {
      while (pos < n && text[pos] != ';') ++pos;
      a.value_end = pos;
      a.value = std::string(text.substr(a.value_begin, pos - a.value_begin));
    }
    attributes.push_back(std::move(a));
  }
  return attributes;
}

bool IsPasswordKey(std::string_view key) {
  return EqualNoCase(key, "PWD") || EqualNoCase(key, "PASSWORD");
}

// Texts that must never leave this layer: the password as the driver reads
// it, as it stands in the string, and without surrounding blanks.
std::vector<std::string> Secrets(std::string_view connection_string) {
  std::vector<std::string> secrets;
  for (const Attribute& a : ParseAttributes(connection_string)) {
    if (!IsPasswordKey(a.key)) continue;
    std::string raw(connection_string.substr(a.value_begin, a.value_end - a.value_begin));
    std::string trimmed = a.value;
    trimmed.erase(0, trimmed.find_first_not_of(" \t"));
    trimmed.erase(trimmed.find_last_not_of(" \t") + 1);
    for (const std::string& s : {a.value, raw, trimmed}) {
      if (!s.empty()) secrets.push_back(s);
    }
  }
  // Longer texts first, so that a shorter one inside them is not replaced
  // first and leaves the rest standing.
  std::sort(secrets.begin(), secrets.end(),
            [](const std::string& x, const std::string& y) { return x.size() > y.size(); });
  return secrets;
}

std::string Clean(std::string text, const std::vector<std::string>& secrets) {
  for (const std::string& secret : secrets) text = RemovePassword(text, secret);
  return text;
}

// The diagnostic records of a handle as one Error.
Error ReadDiagnostics(SQLSMALLINT type, SQLHANDLE handle, const std::vector<std::string>& secrets,
                      const char* what) {
  Error error;
  error.kind = FailureKind::kOther;
  bool classified = false;
  for (SQLSMALLINT i = 1; i <= 10 && handle != nullptr; ++i) {
    SQLCHAR state[6] = {0};
    SQLINTEGER native = 0;
    SQLCHAR text[2048] = {0};
    SQLSMALLINT length = 0;
    const SQLRETURN r = SQLGetDiagRec(type, handle, i, state, &native, text, sizeof text, &length);
    if (!Succeeded(r)) break;
    std::string message(reinterpret_cast<const char*>(text));
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == ';')) {
      message.pop_back();
    }
    // One line: line ends and runs of blanks become one blank.
    std::string line;
    for (char c : message) {
      if (c == '\n' || c == '\r' || c == '\t') c = ' ';
      if (c == ' ' && !line.empty() && line.back() == ' ') continue;
      line += c;
    }
    message = line;
    const std::string sqlstate(reinterpret_cast<const char*>(state));
    if (error.sqlstate.empty()) error.sqlstate = sqlstate;
    if (!message.empty()) {
      if (!error.message.empty()) error.message += "; ";
      error.message += message;
    }
    const FailureKind kind = ClassifyFailure(sqlstate, message);
    if (!classified && kind != FailureKind::kOther) {
      error.kind = kind;
      classified = true;
    }
  }
  if (error.message.empty()) error.message = std::string(what) + " failed";
  error.message = Clean(error.message, secrets);
  return error;
}

}  // namespace

FailureKind ClassifyFailure(std::string_view sqlstate, std::string_view message) {
  // Login failures first: some drivers report them as 08001.
  if (StartsWith(sqlstate, "28") || ContainsNoCase(message, "authentication failed") ||
      ContainsNoCase(message, "login failed") || ContainsNoCase(message, "no password supplied") ||
      (ContainsNoCase(message, "role \"") && ContainsNoCase(message, "does not exist"))) {
    return FailureKind::kLoginRefused;
  }
  if (StartsWith(sqlstate, "08") || sqlstate == "57P01" || sqlstate == "57P02" ||
      sqlstate == "57P03" || sqlstate == "HYT01" ||
      ContainsNoCase(message, "server closed the connection") ||
      ContainsNoCase(message, "no connection to the server") ||
      ContainsNoCase(message, "could not connect") || ContainsNoCase(message, "connection refused") ||
      ContainsNoCase(message, "terminating connection") ||
      ContainsNoCase(message, "could not send data to server") ||
      ContainsNoCase(message, "could not receive data from server")) {
    return FailureKind::kConnectionLost;
  }
  if (StartsWith(sqlstate, "23") || ContainsNoCase(message, "constraint failed") ||
      ContainsNoCase(message, "unique constraint") || ContainsNoCase(message, "duplicate key")) {
    return FailureKind::kConstraint;
  }
  if (sqlstate == "40001" || sqlstate == "40P01" || ContainsNoCase(message, "database is locked") ||
      ContainsNoCase(message, "deadlock")) {
    return FailureKind::kRetry;
  }
  return FailureKind::kOther;
}

std::string ConnectionPassword(std::string_view connection_string) {
  std::string password;
  for (const Attribute& a : ParseAttributes(connection_string)) {
    if (IsPasswordKey(a.key)) password = a.value;
  }
  return password;
}

std::string RedactConnectionString(std::string_view connection_string) {
  std::string out(connection_string);
  const std::vector<Attribute> attributes = ParseAttributes(connection_string);
  for (auto a = attributes.rbegin(); a != attributes.rend(); ++a) {
    if (IsPasswordKey(a->key)) out.replace(a->value_begin, a->value_end - a->value_begin, "***");
  }
  return out;
}

std::string RemovePassword(std::string_view text, std::string_view password) {
  std::string out(text);
  if (password.empty()) return out;
  size_t pos = 0;
  while ((pos = out.find(password, pos)) != std::string::npos) {
    out.replace(pos, password.size(), "***");
    pos += 3;
  }
  return out;
}

struct Connection::Impl {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  bool connected = false;
  std::vector<std::string> secrets;
  Error error;

  void Fail(SQLSMALLINT type, SQLHANDLE handle, const char* what) {
    error = ReadDiagnostics(type, handle, secrets, what);
  }
  void Free() {
    if (dbc != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    if (env != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env);
    dbc = SQL_NULL_HDBC;
    env = SQL_NULL_HENV;
  }
};

Connection::Connection() : impl_(std::make_unique<Impl>()) {}

Connection::~Connection() {
  Disconnect();
  impl_->Free();
}

bool Connection::Connect(const std::string& connection_string, int timeout_seconds) {
  Disconnect();
  impl_->Free();
  impl_->secrets = Secrets(connection_string);
  impl_->error = Error{};
  if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &impl_->env))) {
    impl_->env = SQL_NULL_HENV;
    impl_->error = {FailureKind::kOther, "", "the ODBC driver manager cannot be used"};
    return false;
  }
  SQLSetEnvAttr(impl_->env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!Succeeded(SQLAllocHandle(SQL_HANDLE_DBC, impl_->env, &impl_->dbc))) {
    impl_->Fail(SQL_HANDLE_ENV, impl_->env, "allocating an ODBC connection");
    impl_->dbc = SQL_NULL_HDBC;
    return false;
  }
  if (timeout_seconds > 0) {
    SQLSetConnectAttr(impl_->dbc, SQL_ATTR_LOGIN_TIMEOUT,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeout_seconds)), 0);
  }
  std::vector<SQLCHAR> text(connection_string.begin(), connection_string.end());
  text.push_back(0);
  const SQLRETURN r = SQLDriverConnect(impl_->dbc, nullptr, text.data(), SQL_NTS, nullptr, 0,
                                       nullptr, SQL_DRIVER_NOPROMPT);
  std::fill(text.begin(), text.end(), 0);
  if (!Succeeded(r)) {
    impl_->Fail(SQL_HANDLE_DBC, impl_->dbc, "connecting");
    // Whatever the driver said, a connection that never came is a missing
    // link unless the server refused the login.
    if (impl_->error.kind != FailureKind::kLoginRefused) {
      impl_->error.kind = FailureKind::kConnectionLost;
    }
    return false;
  }
  impl_->connected = true;
  return true;
}

void Connection::Disconnect() {
  if (!impl_->connected) return;
  SQLEndTran(SQL_HANDLE_DBC, impl_->dbc, SQL_ROLLBACK);
  SQLDisconnect(impl_->dbc);
  impl_->connected = false;
}

bool Connection::connected() const { return impl_->connected; }

std::string Connection::DbmsName() {
  if (!impl_->connected) return "";
  SQLCHAR name[128] = {0};
  SQLSMALLINT length = 0;
  if (!Succeeded(SQLGetInfo(impl_->dbc, SQL_DBMS_NAME, name, sizeof name, &length))) return "";
  return reinterpret_cast<const char*>(name);
}

bool Connection::SetAutoCommit(bool on) {
  impl_->error = Error{};
  const SQLRETURN r = SQLSetConnectAttr(
      impl_->dbc, SQL_ATTR_AUTOCOMMIT,
      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF)),
      SQL_IS_UINTEGER);
  if (Succeeded(r)) return true;
  impl_->Fail(SQL_HANDLE_DBC, impl_->dbc, "setting the commit mode");
  return false;
}

bool Connection::Commit() {
  impl_->error = Error{};
  if (Succeeded(SQLEndTran(SQL_HANDLE_DBC, impl_->dbc, SQL_COMMIT))) return true;
  impl_->Fail(SQL_HANDLE_DBC, impl_->dbc, "commit");
  return false;
}

bool Connection::Rollback() {
  impl_->error = Error{};
  if (Succeeded(SQLEndTran(SQL_HANDLE_DBC, impl_->dbc, SQL_ROLLBACK))) return true;
  impl_->Fail(SQL_HANDLE_DBC, impl_->dbc, "rollback");
  return false;
}

bool Connection::Execute(const std::string& sql, const std::vector<Value>& params, int64_t* rows) {
  Statement statement(*this);
  if (!statement.Execute(sql, params)) return false;
  if (rows != nullptr) *rows = statement.RowCount();
  return true;
}

const Error& Connection::error() const { return impl_->error; }

struct Statement::Impl {
  explicit Impl(Connection& c) : connection(c) {}
  Connection& connection;
  SQLHSTMT handle = SQL_NULL_HSTMT;
  std::vector<Value> params;
  std::vector<SQLLEN> indicators;
  std::vector<SQLBIGINT> integers;
};

Statement::Statement(Connection& connection) : impl_(std::make_unique<Impl>(connection)) {}

Statement::~Statement() {
  if (impl_->handle != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, impl_->handle);
}

bool Statement::Execute(const std::string& sql, const std::vector<Value>& params) {
  Connection::Impl& c = *impl_->connection.impl_;
  c.error = Error{};
  if (!c.connected) {
    c.error = {FailureKind::kConnectionLost, "08003", "not connected"};
    return false;
  }
  if (impl_->handle == SQL_NULL_HSTMT) {
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &impl_->handle))) {
      impl_->handle = SQL_NULL_HSTMT;
      c.Fail(SQL_HANDLE_DBC, c.dbc, "allocating a statement");
      return false;
    }
  } else {
    SQLFreeStmt(impl_->handle, SQL_CLOSE);
    SQLFreeStmt(impl_->handle, SQL_RESET_PARAMS);
  }
  impl_->params = params;
  impl_->indicators.assign(params.size(), 0);
  impl_->integers.assign(params.size(), 0);
  for (size_t i = 0; i < impl_->params.size(); ++i) {
    Value& v = impl_->params[i];
    SQLLEN& indicator = impl_->indicators[i];
    SQLRETURN r;
    const SQLUSMALLINT number = static_cast<SQLUSMALLINT>(i + 1);
    if (v.type == Value::Type::kInteger) {
      impl_->integers[i] = static_cast<SQLBIGINT>(v.integer);
      indicator = v.null ? SQL_NULL_DATA : 0;
      r = SQLBindParameter(impl_->handle, number, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                           &impl_->integers[i], 0, &indicator);
    } else {
      const SQLLEN length = static_cast<SQLLEN>(v.text.size());
      indicator = v.null ? SQL_NULL_DATA : length;
      const SQLULEN column_size = static_cast<SQLULEN>(std::max<SQLLEN>(length, 1));
      r = SQLBindParameter(impl_->handle, number, SQL_PARAM_INPUT, SQL_C_CHAR,
                           column_size > 4000 ? SQL_LONGVARCHAR : SQL_VARCHAR, column_size, 0,
                           const_cast<char*>(v.text.c_str()), length, &indicator);
    }
    if (!Succeeded(r)) {
      c.Fail(SQL_HANDLE_STMT, impl_->handle, "binding a parameter");
      return false;
    }
  }
  std::vector<SQLCHAR> text(sql.begin(), sql.end());
  text.push_back(0);
  const SQLRETURN r = SQLExecDirect(impl_->handle, text.data(), SQL_NTS);
  // An UPDATE or DELETE that changed no row answers SQL_NO_DATA.
  if (Succeeded(r) || r == SQL_NO_DATA) return true;
  c.Fail(SQL_HANDLE_STMT, impl_->handle, "a statement");
  return false;
}

bool Statement::Fetch() {
  Connection::Impl& c = *impl_->connection.impl_;
  c.error = Error{};
  if (impl_->handle == SQL_NULL_HSTMT) return false;
  const SQLRETURN r = SQLFetch(impl_->handle);
  if (Succeeded(r)) return true;
  if (r != SQL_NO_DATA) c.Fail(SQL_HANDLE_STMT, impl_->handle, "reading a row");
  return false;
}

std::optional<std::string> Statement::Text(int column) {
  Connection::Impl& c = *impl_->connection.impl_;
  std::string value;
  for (;;) {
    char buffer[512];
    SQLLEN indicator = 0;
    const SQLRETURN r = SQLGetData(impl_->handle, static_cast<SQLUSMALLINT>(column), SQL_C_CHAR,
                                   buffer, sizeof buffer, &indicator);
    if (r == SQL_NO_DATA) break;
    if (!Succeeded(r)) {
      c.Fail(SQL_HANDLE_STMT, impl_->handle, "reading a column");
      return std::nullopt;
    }
    if (indicator == SQL_NULL_DATA) return std::nullopt;
    // A part of a longer value fills the buffer but for its NUL.
    const size_t part = (indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer))
                            ? sizeof buffer - 1
                            : static_cast<size_t>(indicator);
    value.append(buffer, part);
    if (r == SQL_SUCCESS) break;
  }
  return value;
}

std::optional<int64_t> Statement::Integer(int column) {
  Connection::Impl& c = *impl_->connection.impl_;
  SQLBIGINT value = 0;
  SQLLEN indicator = 0;
  const SQLRETURN r = SQLGetData(impl_->handle, static_cast<SQLUSMALLINT>(column), SQL_C_SBIGINT,
                                 &value, sizeof value, &indicator);
  if (!Succeeded(r)) {
    c.Fail(SQL_HANDLE_STMT, impl_->handle, "reading a column");
    return std::nullopt;
  }
  if (indicator == SQL_NULL_DATA) return std::nullopt;
  return static_cast<int64_t>(value);
}

int64_t Statement::RowCount() {
  SQLLEN rows = 0;
  if (impl_->handle == SQL_NULL_HSTMT || !Succeeded(SQLRowCount(impl_->handle, &rows))) return 0;
  return static_cast<int64_t>(rows);
}

}  // namespace platform::odbc
