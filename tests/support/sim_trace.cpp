#include "support/sim_trace.h"

#include <fstream>

namespace test {

std::vector<nlohmann::json> ReadTrace(const std::string& path) {
  std::vector<nlohmann::json> events;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty()) events.push_back(nlohmann::json::parse(line));
  }
  return events;
}

std::vector<nlohmann::json> TraceRequests(const std::string& path) {
  std::vector<nlohmann::json> out;
  for (auto& e : ReadTrace(path)) {
    if (e.contains("op")) out.push_back(e);
  }
  return out;
}

std::vector<std::string> TraceOps(const std::string& path) {
  std::vector<std::string> out;
  for (auto& e : TraceRequests(path)) out.push_back(e["op"].get<std::string>());
  return out;
}

std::vector<int> TraceSleeps(const std::string& path) {
  std::vector<int> out;
  for (auto& e : ReadTrace(path)) {
    if (e.contains("sleep_ms")) out.push_back(e["sleep_ms"].get<int>());
  }
  return out;
}

}  // namespace test
