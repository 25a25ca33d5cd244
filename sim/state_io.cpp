#include "sim/state_io.h"

namespace sim {

uint32_t LoadStateFile(const std::string& path, StateFile& file, Json& doc, SimState& state,
                       std::string& problem) {
  const uint32_t open_error = file.Open(path);
  if (open_error != 0) {
    problem = open_error == 2 ? "no such file" : "cannot be read or written";
    return open_error;
  }
  std::string content;
  if (!file.ReadAll(content, problem)) {
    file.Close();
    return 5;
  }
  try {
    doc = Json::parse(content);
  } catch (const Json::exception& e) {
    // "[json.exception.parse_error.101] parse error at ..." without the tag.
    // Besides syntax errors the parser throws out_of_range for a number
    // that no JSON number type holds (1e400); both make the file invalid.
    std::string what = e.what();
    const size_t tag = what.find("] ");
    if (tag != std::string::npos) what.erase(0, tag + 2);
    problem = "not valid JSON: " + what;
    file.Close();
    return 13;
  }
  if (!ParseState(doc, state, problem)) {
    file.Close();
    return 13;
  }
  return 0;
}

std::string SerializeDocument(const Json& doc) {
  return doc.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace sim
