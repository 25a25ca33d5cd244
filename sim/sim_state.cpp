#include "sim/sim_state.h"

#include <cctype>
#include <cstdio>

#include "sim/text.h"

namespace sim {
namespace {

constexpr const char* kStateKeys[] = {
    "chip_id",       "adapters",         "registers",     "eeprom_size",
    "eeprom",        "otp",              "phy",           "link_mode_reply",
    "link_mode",     "link_state",       "driver_version", "adapter_bits",
    "adapter_location", "adapter_registry_key", "adapter_pdo", "adapter_port",
    "eth_stats",     "usb_phy_stats",    "cabscan",       "mcu",
    "virtual_time",  "faults",           "clock_ms",
};

constexpr const char* kMcuKeys[] = {"xdata", "sfr", "running", "resets"};

constexpr const char* kFaultKeys[] = {"op",     "param",       "nth",    "from_nth",
                                      "status", "ioctl_error", "corrupt"};

constexpr uint64_t kMax8 = 0xFF;
constexpr uint64_t kMax16 = 0xFFFF;
constexpr uint64_t kMax32 = 0xFFFFFFFFull;
constexpr uint64_t kMax64 = ~0ull;

template <size_t N>
bool InList(const char* const (&list)[N], const std::string& key) {
  for (const char* k : list) {
    if (key == k) return true;
  }
  return false;
}

// A number written as decimal digits or as "0x" and hexadecimal digits.
bool ParseNumberText(const std::string& text, uint64_t max, uint64_t& out) {
  size_t i = 0;
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    i = 2;
  }
  if (i >= text.size()) return false;
  uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const int digit = HexDigitValue(text[i]);
    if (digit < 0 || digit >= base) return false;
    if (value > (max - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) return false;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  out = value;
  return true;
}

std::string Describe(uint64_t max) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "a number from 0 to %llu", static_cast<unsigned long long>(max));
  return buf;
}

// Collects the first problem with the path of the key it concerns.
class Reader {
 public:
  explicit Reader(std::string& problem) : problem_(problem) {}

  bool Fail(const std::string& where, const std::string& what) {
    if (problem_.empty()) problem_ = "key \"" + where + "\": " + what;
    return false;
  }

  bool Number(const Json& v, const std::string& where, uint64_t max, uint64_t& out) {
    if (ParseNumber(v, max, out)) return true;
    return Fail(where, "must be " + Describe(max) + " (a number, \"0x..\" or a decimal string)");
  }

  template <typename T>
  bool Number(const Json& v, const std::string& where, uint64_t max, T& out) {
    uint64_t wide = 0;
    if (!Number(v, where, max, wide)) return false;
    out = static_cast<T>(wide);
    return true;
  }

  // A byte string of at most `max_size` bytes.
  bool Bytes(const Json& v, const std::string& where, size_t max_size,
             std::vector<uint8_t>& out) {
    if (!v.is_string()) return Fail(where, "must be a string of hexadecimal digit pairs");
    std::string problem;
    if (!ParseHexBytes(v.get_ref<const std::string&>(), out, problem)) return Fail(where, problem);
    if (out.size() > max_size) {
      return Fail(where, "holds " + std::to_string(out.size()) + " bytes, at most " +
                             std::to_string(max_size) + " fit");
    }
    return true;
  }

  template <size_t N>
  bool Array(const Json& v, const std::string& where, uint64_t max, std::array<uint32_t, N>& out) {
    if (!v.is_array()) return Fail(where, "must be an array of numbers");
    if (v.size() > N) return Fail(where, "holds more than " + std::to_string(N) + " values");
    out.fill(0);
    for (size_t i = 0; i < v.size(); ++i) {
      if (!Number(v[i], where + "[" + std::to_string(i) + "]", max, out[i])) return false;
    }
    return true;
  }

  bool Text(const Json& v, const std::string& where, std::string& out) {
    if (!v.is_string()) return Fail(where, "must be a text");
    std::u16string wide;
    if (!Utf8ToUtf16(v.get_ref<const std::string&>(), wide)) {
      return Fail(where, "is not valid UTF-8");
    }
    out = v.get<std::string>();
    return true;
  }

  bool Bool(const Json& v, const std::string& where, bool& out) {
    if (!v.is_boolean()) return Fail(where, "must be true or false");
    out = v.get<bool>();
    return true;
  }

  // An address map: keys "0x.." or decimal, each address at most once.
  template <typename Fn>
  bool Map(const Json& v, const std::string& where, uint64_t max_address, Fn&& entry) {
    if (!v.is_object()) return Fail(where, "must be an object of address keys");
    std::map<uint64_t, std::string> seen;
    for (auto it = v.begin(); it != v.end(); ++it) {
      const std::string path = where + "." + it.key();
      uint64_t address = 0;
      if (!ParseNumberText(it.key(), max_address, address)) {
        return Fail(path, "the address must be \"0x..\" or decimal, at most " +
                              std::to_string(max_address));
      }
      auto [pos, fresh] = seen.emplace(address, it.key());
      if (!fresh) return Fail(path, "the same address as \"" + pos->second + "\"");
      if (!entry(address, it.value(), path)) return false;
    }
    return true;
  }

 private:
  std::string& problem_;
};

bool ParseFault(Reader& r, const Json& v, const std::string& where, FaultRule& rule) {
  if (!v.is_object()) return r.Fail(where, "must be an object");
  for (auto it = v.begin(); it != v.end(); ++it) {
    if (!InList(kFaultKeys, it.key())) return r.Fail(where + "." + it.key(), "unknown key");
  }
  if (!v.contains("op")) return r.Fail(where, "has no \"op\"");
  const Json& op = v["op"];
  if (!op.is_string() || !OpCodeByName(op.get<std::string>(), rule.op)) {
    return r.Fail(where + ".op", "must name an operation of the request channel");
  }
  auto optional = [&](const char* key, uint64_t min, uint64_t max, std::optional<uint32_t>& out) {
    if (!v.contains(key)) return true;
    uint32_t value = 0;
    const std::string path = where + "." + key;
    if (!r.Number(v[key], path, max, value)) return false;
    if (value < min) return r.Fail(path, "must not be " + std::to_string(value));
    out = value;
    return true;
  };
  return optional("param", 0, kMax32, rule.param) && optional("nth", 1, kMax32, rule.nth) &&
         optional("from_nth", 1, kMax32, rule.from_nth) &&
         optional("status", 1, kMax32, rule.status) &&
         optional("ioctl_error", 1, kMax32, rule.ioctl_error) &&
         optional("corrupt", 0, 4079, rule.corrupt);
}

bool ParseMcu(Reader& r, const Json& v, McuState& mcu) {
  if (!v.is_object()) return r.Fail("mcu", "must be an object");
  for (auto it = v.begin(); it != v.end(); ++it) {
    if (!InList(kMcuKeys, it.key())) return r.Fail("mcu." + it.key(), "unknown key");
  }
  auto memory = [&](const char* key, uint8_t* base, size_t size) {
    if (!v.contains(key)) return true;
    return r.Map(v[key], std::string("mcu.") + key, size - 1,
                 [&](uint64_t address, const Json& bytes, const std::string& path) {
                   std::vector<uint8_t> data;
                   if (!r.Bytes(bytes, path, size - address, data)) return false;
                   std::copy(data.begin(), data.end(), base + address);
                   return true;
                 });
  };
  if (!memory("xdata", mcu.xdata.data(), kXdataSize)) return false;
  if (!memory("sfr", mcu.sfr.data(), kSfrSize)) return false;
  if (v.contains("running") && !r.Bool(v["running"], "mcu.running", mcu.running)) return false;
  if (v.contains("resets") && !r.Number(v["resets"], "mcu.resets", kMax64, mcu.resets)) {
    return false;
  }
  return true;
}

std::string Hex(uint64_t value, int digits) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return buf;
}

Json NumberArray(const uint32_t* values, size_t n) {
  Json a = Json::array();
  for (size_t i = 0; i < n; ++i) a.push_back(values[i]);
  return a;
}

Json RegistersJson(const std::map<uint32_t, uint32_t>& registers) {
  Json m = Json::object();
  for (const auto& [address, value] : registers) m[Hex(address, 4)] = Hex(value, 8);
  return m;
}

Json PhyValueJson(const std::vector<uint32_t>& values) {
  const int digits = [&] {
    for (uint32_t v : values) {
      if (v > 0xFFFF) return 8;
    }
    return 4;
  }();
  if (values.size() == 1) return Hex(values[0], digits);
  Json a = Json::array();
  for (uint32_t v : values) a.push_back(Hex(v, digits));
  return a;
}

// The PHY entries that differ from the defaults.
Json PhyJson(const std::map<uint32_t, std::vector<uint32_t>>& phy) {
  const auto& defaults = DefaultPhyRegisters();
  Json m = Json::object();
  for (const auto& [index, values] : phy) {
    const auto def = defaults.find(index);
    const uint32_t default_value = def == defaults.end() ? 0 : def->second;
    if (values.size() == 1 && values[0] == default_value) continue;
    m[Hex(index, 4)] = PhyValueJson(values);
  }
  return m;
}

// Runs of bytes that differ from `defaults`, as start address -> bytes.
// Short stretches of default bytes inside a run stay in it, and runs are cut
// into pieces of at most 256 bytes to keep the file readable.
Json MemoryJson(const uint8_t* data, const uint8_t* defaults, size_t size, int digits) {
  constexpr size_t kJoinGap = 16;
  constexpr size_t kPiece = 256;
  Json m = Json::object();
  size_t i = 0;
  while (i < size) {
    if (data[i] == defaults[i]) {
      ++i;
      continue;
    }
    size_t end = i + 1;  // one past the last differing byte of the run
    size_t j = end;
    while (j < size && j - end < kJoinGap && j - i < kPiece) {
      if (data[j] != defaults[j]) end = j + 1;
      ++j;
    }
    m[Hex(i, digits)] = HexBytes(data + i, end - i);
    i = end;
  }
  return m;
}

Json FaultJson(const FaultRule& rule) {
  Json f = Json::object();
  f["op"] = OpNameOf(rule.op);
  if (rule.param) f["param"] = Hex(*rule.param, 8);
  if (rule.nth) f["nth"] = *rule.nth;
  if (rule.from_nth) f["from_nth"] = *rule.from_nth;
  if (rule.status) f["status"] = *rule.status;
  if (rule.ioctl_error) f["ioctl_error"] = *rule.ioctl_error;
  if (rule.corrupt) f["corrupt"] = *rule.corrupt;
  return f;
}

const McuState& DefaultMcu() {
  static const McuState mcu = DefaultState().mcu;
  return mcu;
}

Json McuMemberJson(const McuState& mcu, const std::string& key) {
  if (key == "xdata") {
    return MemoryJson(mcu.xdata.data(), DefaultMcu().xdata.data(), kXdataSize, 4);
  }
  if (key == "sfr") return MemoryJson(mcu.sfr.data(), DefaultMcu().sfr.data(), kSfrSize, 2);
  if (key == "running") return mcu.running;
  return mcu.resets;
}

// The JSON form of one top-level key of `s`.
Json KeyJson(const SimState& s, const std::string& key) {
  if (key == "chip_id") return Hex(s.chip_id, 8);
  if (key == "adapters") return s.adapters;
  if (key == "registers") return RegistersJson(s.registers);
  if (key == "eeprom_size") return s.eeprom_size;
  if (key == "eeprom") return HexBytes(s.eeprom.data(), s.eeprom.size());
  if (key == "otp") return HexBytes(s.otp.data(), s.otp.size());
  if (key == "phy") return PhyJson(s.phy);
  if (key == "link_mode_reply") return s.link_mode_reply;
  if (key == "link_mode") return s.link_mode;
  if (key == "link_state") return s.link_state;
  if (key == "driver_version") return NumberArray(s.driver_version.data(), 4);
  if (key == "adapter_bits") {
    Json a = Json::array();
    for (uint32_t v : s.adapter_bits) a.push_back(Hex(v, 8));
    return a;
  }
  if (key == "adapter_location") return s.adapter_location;
  if (key == "adapter_registry_key") return s.adapter_registry_key;
  if (key == "adapter_pdo") return s.adapter_pdo;
  if (key == "adapter_port") return s.adapter_port;
  if (key == "eth_stats") return NumberArray(s.eth_stats.data(), s.eth_stats.size());
  if (key == "usb_phy_stats") return NumberArray(s.usb_phy_stats.data(), s.usb_phy_stats.size());
  if (key == "cabscan") {
    Json a = Json::array();
    for (uint32_t v : s.cabscan) a.push_back(Hex(v, 4));
    return a;
  }
  if (key == "mcu") {
    Json m = Json::object();
    for (const char* k : kMcuKeys) m[k] = McuMemberJson(s.mcu, k);
    return m;
  }
  if (key == "virtual_time") return s.virtual_time;
  if (key == "faults") {
    Json a = Json::array();
    for (const FaultRule& rule : s.faults) a.push_back(FaultJson(rule));
    return a;
  }
  return s.clock_ms;  // "clock_ms"
}

bool SameKey(const SimState& a, const SimState& b, const std::string& key) {
  if (key == "chip_id") return a.chip_id == b.chip_id;
  if (key == "adapters") return a.adapters == b.adapters;
  if (key == "registers") return a.registers == b.registers;
  if (key == "eeprom_size") return a.eeprom_size == b.eeprom_size;
  if (key == "eeprom") return a.eeprom == b.eeprom;
  if (key == "otp") return a.otp == b.otp;
  if (key == "phy") return a.phy == b.phy;
  if (key == "link_mode_reply") return a.link_mode_reply == b.link_mode_reply;
  if (key == "link_mode") return a.link_mode == b.link_mode;
  if (key == "link_state") return a.link_state == b.link_state;
  if (key == "driver_version") return a.driver_version == b.driver_version;
  if (key == "adapter_bits") return a.adapter_bits == b.adapter_bits;
  if (key == "adapter_location") return a.adapter_location == b.adapter_location;
  if (key == "adapter_registry_key") return a.adapter_registry_key == b.adapter_registry_key;
  if (key == "adapter_pdo") return a.adapter_pdo == b.adapter_pdo;
  if (key == "adapter_port") return a.adapter_port == b.adapter_port;
  if (key == "eth_stats") return a.eth_stats == b.eth_stats;
  if (key == "usb_phy_stats") return a.usb_phy_stats == b.usb_phy_stats;
  if (key == "cabscan") return a.cabscan == b.cabscan;
  if (key == "mcu") return a.mcu == b.mcu;
  if (key == "virtual_time") return a.virtual_time == b.virtual_time;
  if (key == "faults") return a.faults == b.faults;
  return a.clock_ms == b.clock_ms;
}

}  // namespace

const std::map<uint32_t, uint32_t>& DefaultPhyRegisters() {
  static const std::map<uint32_t, uint32_t> defaults = {
      {0, 0x1140},  {1, 0x796D},  {4, 0x01E1},  {5, 0xC1E1},  {9, 0x0200},
      {10, 0x4800}, {16, 0x1000}, {17, 0x1000}, {18, 0x0000}, {24, 0x0000},
  };
  return defaults;
}

SimState DefaultState() {
  SimState s;
  s.eeprom.assign(kMaxEepromSize, 0xFF);
  for (const auto& [index, value] : DefaultPhyRegisters()) s.phy[index] = {value};
  s.adapter_location = "PCI bus 0, device 20, function 0";
  s.adapter_registry_key = "{4d36e972-e325-11ce-bfc1-08002be10318}\\0001";
  s.adapter_pdo = "\\Device\\USBPDO-7";
  s.mcu.xdata.assign(kXdataSize, 0);
  s.mcu.xdata[0x080B] = 0x53;  // device ID
  s.mcu.xdata[0x080C] = 0x00;
  s.mcu.xdata[0x0950] = 0x00;  // firmware minor version
  s.mcu.xdata[0x0951] = 0x01;  // firmware major version
  s.mcu.xdata[0x0952] = 0x02;  // platform flags: ASIC, normal mode
  return s;
}

bool IsStateKey(const std::string& key) { return InList(kStateKeys, key); }

bool ParseNumber(const Json& value, uint64_t max, uint64_t& out) {
  if (value.is_number_unsigned()) {
    const uint64_t v = value.get<uint64_t>();
    if (v > max) return false;
    out = v;
    return true;
  }
  if (value.is_number_integer()) {
    const int64_t v = value.get<int64_t>();
    if (v < 0 || static_cast<uint64_t>(v) > max) return false;
    out = static_cast<uint64_t>(v);
    return true;
  }
  if (value.is_string()) return ParseNumberText(value.get_ref<const std::string&>(), max, out);
  return false;
}

std::string HexBytes(const uint8_t* data, size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out(size * 2, '0');
  for (size_t i = 0; i < size; ++i) {
    out[2 * i] = kDigits[data[i] >> 4];
    out[2 * i + 1] = kDigits[data[i] & 0xF];
  }
  return out;
}

bool ParseState(const Json& doc, SimState& state, std::string& problem) {
  problem.clear();
  Reader r(problem);
  SimState s = DefaultState();
  if (!doc.is_object()) return r.Fail("(top level)", "the state must be a JSON object");
  for (auto it = doc.begin(); it != doc.end(); ++it) {
    if (!IsStateKey(it.key())) return r.Fail(it.key(), "unknown key");
  }
  auto has = [&](const char* key) { return doc.contains(key); };

  if (has("chip_id") && !r.Number(doc["chip_id"], "chip_id", kMax32, s.chip_id)) return false;
  if (has("adapters") && !r.Number(doc["adapters"], "adapters", kMax32, s.adapters)) return false;
  if (has("registers") &&
      !r.Map(doc["registers"], "registers", kMax32,
             [&](uint64_t address, const Json& v, const std::string& path) {
               uint32_t value = 0;
               if (!r.Number(v, path, kMax32, value)) return false;
               s.registers[static_cast<uint32_t>(address)] = value;
               return true;
             })) {
    return false;
  }
  if (has("eeprom_size")) {
    if (!r.Number(doc["eeprom_size"], "eeprom_size", kMax32, s.eeprom_size)) return false;
    if (s.eeprom_size != 256 && s.eeprom_size != 512) {
      return r.Fail("eeprom_size", "must be 256 or 512");
    }
  }
  s.eeprom.assign(s.eeprom_size, 0xFF);
  if (has("eeprom")) {
    std::vector<uint8_t> bytes;
    if (!r.Bytes(doc["eeprom"], "eeprom", s.eeprom_size, bytes)) return false;
    std::copy(bytes.begin(), bytes.end(), s.eeprom.begin());
  }
  if (has("otp")) {
    std::vector<uint8_t> bytes;
    if (!r.Bytes(doc["otp"], "otp", kOtpSize, bytes)) return false;
    std::copy(bytes.begin(), bytes.end(), s.otp.begin());
  }
  if (has("phy") &&
      !r.Map(doc["phy"], "phy", kMax32,
             [&](uint64_t index, const Json& v, const std::string& path) {
               std::vector<uint32_t> values;
               if (v.is_array()) {
                 if (v.empty()) return r.Fail(path, "a read sequence needs at least one value");
                 for (size_t i = 0; i < v.size(); ++i) {
                   uint32_t value = 0;
                   if (!r.Number(v[i], path + "[" + std::to_string(i) + "]", kMax32, value)) {
                     return false;
                   }
                   values.push_back(value);
                 }
               } else {
                 uint32_t value = 0;
                 if (!r.Number(v, path, kMax32, value)) return false;
                 values.push_back(value);
               }
               s.phy[static_cast<uint32_t>(index)] = std::move(values);
               return true;
             })) {
    return false;
  }
  if (has("link_mode_reply") &&
      !r.Number(doc["link_mode_reply"], "link_mode_reply", kMax8, s.link_mode_reply)) {
    return false;
  }
  if (has("link_mode") && !r.Number(doc["link_mode"], "link_mode", kMax32, s.link_mode)) {
    return false;
  }
  if (has("link_state") && !r.Number(doc["link_state"], "link_state", kMax32, s.link_state)) {
    return false;
  }
  if (has("driver_version") &&
      !r.Array(doc["driver_version"], "driver_version", kMax32, s.driver_version)) {
    return false;
  }
  if (has("adapter_bits") &&
      !r.Array(doc["adapter_bits"], "adapter_bits", kMax32, s.adapter_bits)) {
    return false;
  }
  if (has("adapter_location") &&
      !r.Text(doc["adapter_location"], "adapter_location", s.adapter_location)) {
    return false;
  }
  if (has("adapter_registry_key") &&
      !r.Text(doc["adapter_registry_key"], "adapter_registry_key", s.adapter_registry_key)) {
    return false;
  }
  if (has("adapter_pdo") && !r.Text(doc["adapter_pdo"], "adapter_pdo", s.adapter_pdo)) {
    return false;
  }
  if (has("adapter_port") &&
      !r.Number(doc["adapter_port"], "adapter_port", kMax32, s.adapter_port)) {
    return false;
  }
  if (has("eth_stats") && !r.Array(doc["eth_stats"], "eth_stats", kMax32, s.eth_stats)) {
    return false;
  }
  if (has("usb_phy_stats") &&
      !r.Array(doc["usb_phy_stats"], "usb_phy_stats", kMax32, s.usb_phy_stats)) {
    return false;
  }
  if (has("cabscan") && !r.Array(doc["cabscan"], "cabscan", kMax16, s.cabscan)) return false;
  if (has("mcu") && !ParseMcu(r, doc["mcu"], s.mcu)) return false;
  if (has("virtual_time") && !r.Bool(doc["virtual_time"], "virtual_time", s.virtual_time)) {
    return false;
  }
  if (has("faults")) {
    const Json& faults = doc["faults"];
    if (!faults.is_array()) return r.Fail("faults", "must be an array of rules");
    for (size_t i = 0; i < faults.size(); ++i) {
      FaultRule rule;
      if (!ParseFault(r, faults[i], "faults[" + std::to_string(i) + "]", rule)) return false;
      s.faults.push_back(rule);
    }
  }
  if (has("clock_ms") && !r.Number(doc["clock_ms"], "clock_ms", kMax64, s.clock_ms)) {
    return false;
  }
  state = std::move(s);
  return true;
}

void UpdateDocument(Json& doc, const SimState& now, const SimState& loaded) {
  if (!doc.is_object()) doc = Json::object();
  for (const char* key : kStateKeys) {
    if (SameKey(now, loaded, key)) continue;
    if (std::string(key) == "mcu") {
      // Only the members that changed, so the other ones keep their form.
      if (!doc.contains("mcu") || !doc["mcu"].is_object()) doc["mcu"] = Json::object();
      Json& mcu = doc["mcu"];
      if (now.mcu.xdata != loaded.mcu.xdata) mcu["xdata"] = McuMemberJson(now.mcu, "xdata");
      if (now.mcu.sfr != loaded.mcu.sfr) mcu["sfr"] = McuMemberJson(now.mcu, "sfr");
      if (now.mcu.running != loaded.mcu.running) mcu["running"] = now.mcu.running;
      if (now.mcu.resets != loaded.mcu.resets) mcu["resets"] = now.mcu.resets;
      continue;
    }
    doc[key] = KeyJson(now, key);
  }
}

Json FullDocument(const SimState& state) {
  Json doc = Json::object();
  for (const char* key : kStateKeys) doc[key] = KeyJson(state, key);
  // Every PHY register spelled out, not only those that differ.
  Json phy = Json::object();
  for (const auto& [index, values] : state.phy) phy[Hex(index, 4)] = PhyValueJson(values);
  doc["phy"] = phy;
  // XDATA as its nonzero runs, with the device ID and firmware version bytes
  // always spelled out (they are compared against their own complement).
  std::vector<uint8_t> base(kXdataSize, 0);
  for (uint32_t a : {0x080Bu, 0x080Cu, 0x0950u, 0x0951u, 0x0952u}) {
    base[a] = static_cast<uint8_t>(~state.mcu.xdata[a]);
  }
  doc["mcu"]["xdata"] = MemoryJson(state.mcu.xdata.data(), base.data(), kXdataSize, 4);
  return doc;
}

}  // namespace sim
