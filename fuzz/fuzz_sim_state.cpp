// Fuzz target: the simulator's state file loader (open, lock, read, JSON
// parse, conversion into the state record), and writing a loaded state
// back out.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_support.h"
#include "sim/sim_state.h"
#include "sim/state_file.h"
#include "sim/state_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = fuzz::ScratchPath("state.json");
  fuzz::WriteScratchFile(path, data, size);

  sim::StateFile file;
  sim::Json doc;
  sim::SimState state = sim::DefaultState();
  std::string problem;
  if (sim::LoadStateFile(path, file, doc, state, problem) != 0) return 0;
  file.Close();

  // A loaded state spelled out in full must load again into the same state.
  const sim::Json full = sim::FullDocument(state);
  sim::SimState again = sim::DefaultState();
  if (!sim::ParseState(full, again, problem) || !(again == state)) {
    std::fprintf(stderr, "state does not survive its full document: %s\n", problem.c_str());
    std::abort();
  }
  // Saving keeps the document's keys; the text must be valid JSON.
  sim::Json updated = doc;
  sim::UpdateDocument(updated, state, sim::DefaultState());
  (void)sim::Json::parse(sim::SerializeDocument(updated));
  return 0;
}
