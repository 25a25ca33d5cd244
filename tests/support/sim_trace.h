// Reading the simulator's JSON Lines trace in tests.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace test {

// All events of a trace file, in order.
std::vector<nlohmann::json> ReadTrace(const std::string& path);

// Only the request events (those with an "op"), in order.
std::vector<nlohmann::json> TraceRequests(const std::string& path);

// The operation names of the requests, in order, for compact comparisons.
std::vector<std::string> TraceOps(const std::string& path);

// The sleeps (milliseconds) of a trace, in order.
std::vector<int> TraceSleeps(const std::string& path);

}  // namespace test
