// The local spool: outcomes of units whose device was written while the
// database could not be reached. The unit's reserved row already guards its
// identity; the spool keeps the rest of its record until DeliverSpool writes
// it (the next run, `orn5300db flush`).
//
// The spool is a text file, one entry per line: the unit id, then the 16
// columns of the production record, as one CSV line (RFC 4180) ending in
// CR LF; '%', CR and LF inside a field are written as %25, %0D and %0A, so
// that an entry never spans lines and a line cut short by a crash damages
// no other entry. Processes of one station share it under a lock of the
// spool file itself. Entries that can never be delivered (a damaged
// line, a unit finished otherwise) move to "<spool>.rejected", so nothing
// is dropped. It holds no connection string.
#pragma once

#include <string>
#include <vector>

#include "database/line_database.h"
#include "provision/production_log.h"

namespace db {

constexpr const char* kSpoolVariable = "ORN5300_SPOOL";

// Where the spool is: $ORN5300_SPOOL when set and not empty; else on Linux
// $XDG_STATE_HOME/orn5300cli/spool or ~/.local/state/orn5300cli/spool, on
// Windows %LOCALAPPDATA%\orn5300cli\spool. Empty when none can be found.
std::string DefaultSpoolPath();

// Appends the outcome of a unit to the spool, creating its folders and the
// file, and flushes it to the disk. false with `error` set.
bool AppendToSpool(const std::string& path, const std::string& unit_id,
                   const ProductionRecord& record, std::string& error);

struct SpoolReport {
  int delivered = 0;  // written to the database (or found there, delivered before)
  int kept = 0;       // still in the spool: the connection was lost
  int rejected = 0;   // moved to "<spool>.rejected"
  std::vector<std::string> messages;  // why each entry was rejected
};

// Delivers the spool's entries in order with LineDatabase::Finish; each
// delivered or rejected entry leaves the spool. At a lost connection the
// rest stays for a later try (kConnectionLost). Delivering an entry twice
// (after a crash in between) changes nothing. A missing spool is kOk.
// kFailed when the spool cannot be read or rewritten.
Result DeliverSpool(LineDatabase& database, const std::string& path, SpoolReport& report);

}  // namespace db
