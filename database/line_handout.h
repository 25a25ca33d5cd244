// A programming run on a line that runs from its database (ORN5300_DB): the
// identity pool as the run's identity source (ORN5300_POOL) and the units
// table as a sink of its record. Both share one connection, opened before
// the device; the spool of outcomes that earlier runs could not deliver is
// delivered when it opens.
#pragma once

#include <memory>
#include <string>

#include "provision/unit_identity.h"

namespace db {

// The connection of one run, shared by its pool source and table sink.
class LineRun;

// The run's line database for the connection string `connection`, not yet
// connected.
std::shared_ptr<LineRun> MakeLineRun(const std::string& connection);

// The pool `pool` as the identity source: the run's identity is reserved
// from it just before the device is written, in the transaction that
// inserts the unit's row; the INI file or binary image is never written.
// The options that set or step the identity (-M, -S, -N, -m, -s) are
// refused (exit code 3): the pool hands out the identity.
std::unique_ptr<IdentitySource> MakePoolSource(std::shared_ptr<LineRun> line, const std::string& pool);

// The units table as a sink: a unit whose identity came from an INI file or
// a binary image is recorded as reserved just before the device is written
// (the table's unique guard refuses an identity another unit holds: exit
// code 10); the outcome is written at the end, or kept in the local spool
// when the connection is lost.
std::unique_ptr<UnitSink> MakeTableSink(std::shared_ptr<LineRun> line);

}  // namespace db
