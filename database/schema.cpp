#include "database/schema.h"

#include "provision/production_log.h"

namespace db {

namespace {

struct Types {
  const char* key_text;     // printf-style, one %d for the length
  const char* record_text;  // a record column
  const char* timestamp;
};

Types TypesOf(Engine engine) {
  switch (engine) {
    case Engine::kPostgreSQL:
      return {"VARCHAR(%d)", "TEXT", "TIMESTAMP WITH TIME ZONE"};
    case Engine::kSqlServer:
      return {"NVARCHAR(%d)", "NVARCHAR(4000)", "DATETIME2"};
    case Engine::kSQLite:
      return {"VARCHAR(%d)", "TEXT", "TEXT"};
    case Engine::kOther:
      break;
  }
  return {"VARCHAR(%d)", "VARCHAR(4000)", "TIMESTAMP"};
}

std::string KeyText(const Types& types, int length) {
  char text[32];
  std::snprintf(text, sizeof text, types.key_text, length);
  return text;
}

// Refuses a change of a finished record or of a unit's identity, and a pool
// counter that goes back: whoever connects, the record stays as the run
// finished it and an identity is never handed out twice.
const char* const kPostgresTriggers[] = {
    "CREATE FUNCTION orn_units_finish_once() RETURNS trigger LANGUAGE plpgsql AS $$\n"
    "BEGIN\n"
    "  IF OLD.outcome <> 'reserved' THEN\n"
    "    RAISE EXCEPTION 'unit % is finished; its record does not change', OLD.unit_id;\n"
    "  END IF;\n"
    "  IF NEW.unit_id <> OLD.unit_id OR NEW.mac_key <> OLD.mac_key\n"
    "     OR NEW.serial_key IS DISTINCT FROM OLD.serial_key OR NEW.pool IS DISTINCT FROM OLD.pool\n"
    "     OR NEW.mac <> OLD.mac OR NEW.serial <> OLD.serial OR NEW.rework <> OLD.rework THEN\n"
    "    RAISE EXCEPTION 'the identity of unit % does not change', OLD.unit_id;\n"
    "  END IF;\n"
    "  RETURN NEW;\n"
    "END $$",
    "CREATE TRIGGER orn_units_finish_once BEFORE UPDATE ON orn_units\n"
    "  FOR EACH ROW EXECUTE FUNCTION orn_units_finish_once()",
    "CREATE FUNCTION orn_pools_forward() RETURNS trigger LANGUAGE plpgsql AS $$\n"
    "BEGIN\n"
    "  IF NEW.issued < OLD.issued OR NEW.next_mac < OLD.next_mac THEN\n"
    "    RAISE EXCEPTION 'pool % does not hand out an identity again', OLD.name;\n"
    "  END IF;\n"
    "  RETURN NEW;\n"
    "END $$",
    "CREATE TRIGGER orn_pools_forward BEFORE UPDATE ON orn_pools\n"
    "  FOR EACH ROW EXECUTE FUNCTION orn_pools_forward()",
};

}  // namespace

Engine EngineFromDbmsName(std::string_view dbms_name) {
  if (dbms_name.find("PostgreSQL") != std::string_view::npos) return Engine::kPostgreSQL;
  if (dbms_name.find("SQL Server") != std::string_view::npos) return Engine::kSqlServer;
  if (dbms_name.find("SQLite") != std::string_view::npos) return Engine::kSQLite;
  return Engine::kOther;
}

std::vector<std::string> SchemaStatements(Engine engine) {
  const Types t = TypesOf(engine);
  std::vector<std::string> statements;
  statements.push_back("CREATE TABLE orn_schema (\n  version INTEGER NOT NULL\n)");
  statements.push_back(
      "CREATE TABLE orn_pools (\n"
      "  name " + KeyText(t, 64) + " NOT NULL PRIMARY KEY,\n"
      "  first_mac BIGINT NOT NULL,\n"
      "  next_mac BIGINT NOT NULL,\n"
      "  last_mac BIGINT NOT NULL,\n"
      "  mac_increment INTEGER NOT NULL,\n"
      "  first_serial " + KeyText(t, 16) + " NULL,\n"
      "  next_serial " + KeyText(t, 16) + " NULL,\n"
      "  last_serial " + KeyText(t, 16) + " NULL,\n"
      "  serial_increment INTEGER NOT NULL,\n"
      "  issued BIGINT NOT NULL,\n"
      "  created_utc " + KeyText(t, 32) + " NOT NULL,\n"
      "  CONSTRAINT orn_pools_increments CHECK (mac_increment BETWEEN 1 AND 255\n"
      "    AND serial_increment BETWEEN 0 AND 255 AND issued >= 0)\n"
      ")");
  std::string units =
      "CREATE TABLE orn_units (\n"
      "  unit_id " + KeyText(t, 40) + " NOT NULL PRIMARY KEY,\n"
      "  pool " + KeyText(t, 64) + " NULL,\n"
      "  outcome " + KeyText(t, 16) + " NOT NULL,\n"
      "  guarded SMALLINT NULL,\n"
      "  mac_key BIGINT NOT NULL,\n"
      "  serial_key " + KeyText(t, 255) + " NULL,\n"
      "  ordered_at " + t.timestamp + " NOT NULL,\n"
      "  client_us BIGINT NOT NULL,\n";
  for (const char* column : kRecordColumns) {
    units += std::string("  ") + column + " " + t.record_text + " NOT NULL,\n";
  }
  units +=
      "  CONSTRAINT orn_units_outcome CHECK (outcome IN ('reserved', 'programmed', 'failed')),\n"
      "  CONSTRAINT orn_units_guard CHECK ((guarded = 1 AND outcome <> 'failed' AND rework = 'no')\n"
      "    OR (guarded IS NULL AND (outcome = 'failed' OR rework <> 'no')))\n"
      ")";
  statements.push_back(units);
  // The duplicate guard.
  statements.push_back("CREATE UNIQUE INDEX orn_units_mac_guard ON orn_units (mac_key) WHERE guarded = 1");
  statements.push_back(
      "CREATE UNIQUE INDEX orn_units_serial_guard ON orn_units (serial_key)\n"
      "  WHERE guarded = 1 AND serial_key IS NOT NULL");
  if (engine == Engine::kPostgreSQL) {
    for (const char* statement : kPostgresTriggers) statements.push_back(statement);
  }
  statements.push_back("INSERT INTO orn_schema (version) VALUES (" + std::to_string(kSchemaVersion) + ")");
  return statements;
}

std::string PostgresSetupScript() {
  std::string script =
      "-- The production line's schema (orn5300db init makes the same), version " +
      std::to_string(kSchemaVersion) + ".\nBEGIN;\n\n";
  for (const std::string& statement : SchemaStatements(Engine::kPostgreSQL)) {
    script += statement + ";\n\n";
  }
  script += "COMMIT;\n\n";
  std::string record_columns;
  for (const char* column : kRecordColumns) {
    const std::string name = column;
    if (name == "mac" || name == "serial" || name == "rework") continue;
    record_columns += ", " + name;
  }
  script +=
      "-- The stations' role: they read the pools and the units, take identities\n"
      "-- (the pool's counter and next identity), insert their units and finish\n"
      "-- them. They cannot delete a row, change a pool's range, or change a\n"
      "-- finished record or a unit's identity (trigger orn_units_finish_once).\n"
      "-- (A role belongs to the whole server: an existing one is kept.)\n"
      "DO $$ BEGIN\n"
      "  CREATE ROLE orn_station NOLOGIN;\n"
      "EXCEPTION WHEN duplicate_object THEN NULL;\n"
      "END $$;\n"
      "GRANT SELECT ON orn_schema TO orn_station;\n"
      "GRANT SELECT ON orn_pools TO orn_station;\n"
      "GRANT UPDATE (issued, next_mac, next_serial) ON orn_pools TO orn_station;\n"
      "GRANT SELECT, INSERT ON orn_units TO orn_station;\n"
      "GRANT UPDATE (outcome, guarded, ordered_at, client_us" + record_columns +
      ")\n  ON orn_units TO orn_station;\n\n"
      "-- A login for each station (or one for the line), for example:\n"
      "-- CREATE ROLE line3 LOGIN PASSWORD 'change me' IN ROLE orn_station;\n";
  return script;
}

}  // namespace db
