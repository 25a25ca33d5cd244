// Loading a state file (open, lock, read, parse) and the text form in which
// state documents are written.
#pragma once

#include <cstdint>
#include <string>

#include "sim/sim_state.h"
#include "sim/state_file.h"

namespace sim {

// Opens and locks `path`, reads it and parses it over the defaults. Returns 0,
// or 2 (no such file), 5 (cannot be read or written) or 13 (invalid data),
// with a one-line description of the problem.
uint32_t LoadStateFile(const std::string& path, StateFile& file, Json& doc, SimState& state,
                       std::string& problem);

// The text written to a state file.
std::string SerializeDocument(const Json& doc);

}  // namespace sim
