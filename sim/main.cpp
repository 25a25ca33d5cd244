// orn5300sim: creates, shows and edits the state files of the simulated
// controller.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sim/sim_state.h"
#include "sim/state_file.h"
#include "sim/state_io.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int Usage() {
  std::fprintf(stderr,
               "Usage: orn5300sim init FILE [--chip ORN5300|ORN5301|ORN530A|ORN5350] "
               "[--eeprom-size 256|512]\n"
               "       orn5300sim show FILE [eeprom|otp|mcu]\n"
               "       orn5300sim set FILE KEY VALUE\n"
               "\n"
               "  init  writes a state file with every default spelled out\n"
               "  show  prints the state; eeprom, otp and mcu print those memories as hex dumps\n"
               "  set   changes one top-level key; VALUE is read as JSON, else as a text\n");
  return kExitUsage;
}

struct Chip {
  const char* name;
  uint32_t chip_id;
};

constexpr Chip kChips[] = {
    {"ORN5300", 0x53000000},
    {"ORN5301", 0x53010000},
    {"ORN530A", 0x530A0000},
    {"ORN5350", 0x53500000},
};

const char* ChipName(uint32_t chip_id) {
  for (const Chip& c : kChips) {
    if ((c.chip_id >> 16) == (chip_id >> 16)) return c.name;
  }
  return "unknown model";
}

int Fail(const std::string& path, const std::string& problem) {
  std::fprintf(stderr, "orn5300sim: %s: %s\n", path.c_str(), problem.c_str());
  return kExitFailed;
}

// 16 bytes a line with the offset in front. With `skip_zero` lines of zeros
// are left out, each stretch of them shown as one "*".
void HexDump(const uint8_t* data, size_t size, bool skip_zero) {
  bool skipping = false;
  for (size_t line = 0; line < size; line += 16) {
    const size_t n = std::min<size_t>(16, size - line);
    bool zero = true;
    for (size_t i = 0; i < n; ++i) zero = zero && data[line + i] == 0;
    if (skip_zero && zero) {
      if (!skipping) std::printf("*\n");
      skipping = true;
      continue;
    }
    skipping = false;
    std::printf("%04zX:", line);
    for (size_t i = 0; i < n; ++i) std::printf(" %02X", data[line + i]);
    std::printf("\n");
  }
}

void PrintWords(const char* key, const uint32_t* words, size_t n, const char* format) {
  std::printf("%-21s", key);
  for (size_t i = 0; i < n; ++i) {
    std::printf(i == 0 ? "" : " ");
    std::printf(format, words[i]);
  }
  std::printf("\n");
}

void ShowMcu(const sim::McuState& mcu) {
  std::printf("running              %s\n", mcu.running ? "true" : "false");
  std::printf("resets               %llu\n", static_cast<unsigned long long>(mcu.resets));
  std::printf("sfr (256 bytes):\n");
  HexDump(mcu.sfr.data(), mcu.sfr.size(), false);
  std::printf("xdata (64 KiB, lines of zeros left out; program memory at 0x%04X):\n",
              sim::kProgramBase);
  HexDump(mcu.xdata.data(), mcu.xdata.size(), true);
}

void ShowState(const sim::SimState& s) {
  std::printf("chip_id              0x%08X (%s)\n", s.chip_id, ChipName(s.chip_id));
  std::printf("adapters             %u\n", s.adapters);
  std::printf("eeprom_size          %u\n", s.eeprom_size);
  std::printf("registers           %s\n", s.registers.empty() ? " (none)" : "");
  for (const auto& [address, value] : s.registers) {
    std::printf("  0x%08X = 0x%08X\n", address, value);
  }
  std::printf("phy\n");
  for (const auto& [index, values] : s.phy) {
    std::printf("  0x%04X =", index);
    if (values.size() > 1) std::printf(" read sequence");
    for (uint32_t v : values) std::printf(" 0x%04X", v);
    std::printf("\n");
  }
  std::printf("link_mode_reply      %u\n", s.link_mode_reply);
  std::printf("link_mode            %u\n", s.link_mode);
  std::printf("link_state           %u\n", s.link_state);
  std::printf("driver_version       %u.%u.%u.%u\n", s.driver_version[0], s.driver_version[1],
              s.driver_version[2], s.driver_version[3]);
  PrintWords("adapter_bits", s.adapter_bits.data(), 3, "0x%08X");
  std::printf("adapter_location     %s\n", s.adapter_location.c_str());
  std::printf("adapter_registry_key %s\n", s.adapter_registry_key.c_str());
  std::printf("adapter_pdo          %s\n", s.adapter_pdo.c_str());
  std::printf("adapter_port         %u\n", s.adapter_port);
  PrintWords("eth_stats", s.eth_stats.data(), s.eth_stats.size(), "%u");
  PrintWords("usb_phy_stats", s.usb_phy_stats.data(), s.usb_phy_stats.size(), "%u");
  PrintWords("cabscan", s.cabscan.data(), 3, "0x%04X");
  std::printf("virtual_time         %s\n", s.virtual_time ? "true" : "false");
  std::printf("clock_ms             %llu\n", static_cast<unsigned long long>(s.clock_ms));
  const sim::Json faults = sim::FullDocument(s)["faults"];
  std::printf("faults              %s\n", faults.empty() ? " (none)" : "");
  for (const auto& rule : faults) std::printf("  %s\n", rule.dump().c_str());
  std::printf("mcu                  %s, %llu resets, firmware %u.%u\n",
              s.mcu.running ? "running" : "halted for access",
              static_cast<unsigned long long>(s.mcu.resets), s.mcu.xdata[0x0951],
              s.mcu.xdata[0x0950]);
  std::printf("eeprom (%u bytes):\n", s.eeprom_size);
  HexDump(s.eeprom.data(), s.eeprom.size(), false);
  std::printf("otp (%u bytes):\n", sim::kOtpSize);
  HexDump(s.otp.data(), s.otp.size(), false);
}

int Init(const std::vector<std::string>& args) {
  if (args.empty()) return Usage();
  const std::string& path = args[0];
  sim::SimState state = sim::DefaultState();
  for (size_t i = 1; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) return Usage();
    const std::string& option = args[i];
    const std::string& value = args[i + 1];
    if (option == "--chip") {
      const Chip* chip = nullptr;
      for (const Chip& c : kChips) {
        if (value == c.name) chip = &c;
      }
      if (chip == nullptr) return Usage();
      state.chip_id = chip->chip_id;
    } else if (option == "--eeprom-size") {
      if (value != "256" && value != "512") return Usage();
      state.eeprom_size = static_cast<uint32_t>(std::stoul(value));
      state.eeprom.assign(state.eeprom_size, 0xFF);
    } else {
      return Usage();
    }
  }
  const std::string content = sim::SerializeDocument(sim::FullDocument(state));
  std::string problem;
  sim::StateFile file;
  const uint32_t open_error = file.Open(path);
  if (open_error == 0) {  // an existing device: replace it under its lock
    if (!file.Replace(content, problem)) return Fail(path, problem);
    return kExitOk;
  }
  if (open_error != 2) return Fail(path, "cannot be read or written");
  if (!sim::WriteNewFileAtomically(path, content, problem)) return Fail(path, problem);
  return kExitOk;
}

int Show(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) return Usage();
  const std::string part = args.size() == 2 ? args[1] : "";
  if (!part.empty() && part != "eeprom" && part != "otp" && part != "mcu") return Usage();
  sim::StateFile file;
  sim::Json doc;
  sim::SimState state;
  std::string problem;
  if (sim::LoadStateFile(args[0], file, doc, state, problem) != 0) return Fail(args[0], problem);
  file.Close();
  if (part == "eeprom") {
    HexDump(state.eeprom.data(), state.eeprom.size(), false);
  } else if (part == "otp") {
    HexDump(state.otp.data(), state.otp.size(), false);
  } else if (part == "mcu") {
    ShowMcu(state.mcu);
  } else {
    ShowState(state);
  }
  return kExitOk;
}

int Set(const std::vector<std::string>& args) {
  if (args.size() != 3) return Usage();
  const std::string& path = args[0];
  const std::string& key = args[1];
  if (!sim::IsStateKey(key)) return Fail(path, "\"" + key + "\" is not a key of the state");
  sim::Json value;
  try {
    value = sim::Json::parse(args[2]);
  } catch (const sim::Json::exception&) {
    value = args[2];  // not JSON: the text itself
  }
  sim::StateFile file;
  const uint32_t open_error = file.Open(path);
  if (open_error != 0) {
    return Fail(path, open_error == 2 ? "no such file (create it with orn5300sim init)"
                                      : "cannot be read or written");
  }
  std::string content;
  std::string problem;
  if (!file.ReadAll(content, problem)) return Fail(path, problem);
  sim::Json doc;
  try {
    doc = sim::Json::parse(content);
  } catch (const sim::Json::exception&) {
    return Fail(path, "not valid JSON");
  }
  if (!doc.is_object()) return Fail(path, "the state must be a JSON object");
  doc[key] = value;
  sim::SimState state;
  if (!sim::ParseState(doc, state, problem)) return Fail(path, problem);
  if (!file.Replace(sim::SerializeDocument(doc), problem)) return Fail(path, problem);
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "init") return Init(args);
  if (command == "show") return Show(args);
  if (command == "set") return Set(args);
  return Usage();
}
