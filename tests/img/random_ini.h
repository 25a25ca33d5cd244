// Seeded random INI files that orn5300cli -z accepts, for the round-trip
// proof of the decoder: both layouts, EEPROM images and both OTP
// configurations, every optional section, and the liberties the INI reader
// allows (blanks around '=', CR LF line ends, comments, keys in any order,
// text after numeric values, odd characters inside strings). Header only,
// without GoogleTest, so that the longer run under `make fuzz` uses the
// same generator.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace roundtrip {

enum class Kind { kEeprom, kOtpFirst, kOtpSecond };

struct RandomIni {
  std::string text;
  bool model_5350 = false;
  Kind kind = Kind::kEeprom;
  uint32_t seed = 0;
};

class Generator {
 public:
  explicit Generator(uint32_t seed) : rng_(seed), seed_(seed) {}

  RandomIni Make() {
    RandomIni ini;
    ini.seed = seed_;
    ini.model_5350 = Below(2) == 1;
    ini.kind = static_cast<Kind>(Below(3));
    model_5350_ = ini.model_5350;
    crlf_ = Below(4) == 0;

    // Space for the strings and the optional blocks: the image ends at the
    // EEPROM (512 bytes) or, for a second OTP configuration, at 256 bytes.
    const int limit = ini.kind == Kind::kOtpSecond ? 256 : 512;
    int budget = limit - (model_5350_ ? 146 : 192);
    const bool filter = Below(3) == 0;
    const bool ltm = Below(4) == 0;
    const bool test_bus = Below(4) == 0;
    budget -= (filter ? 20 : 0) + (ltm ? 24 : 0) + (test_bus ? 4 : 0);

    std::vector<Section> sections;
    sections.push_back(MacSection());
    const std::string serial = Serial(std::min(16, budget / 2 - 1));
    budget -= 2 + 2 * static_cast<int>(serial.size());
    sections.push_back(SerialSection(serial));
    sections.push_back(StringSection(budget));
    sections.push_back(IdSection());
    sections.push_back(PowerSection());
    sections.push_back(FlagSection("[GPIOPME0]", {"GPIOPMEEnable", "GPIOPMEConfiguration", "GPIOPMELength",
                                                  "GPIOPMEPolarity", "GPIOBufferType", "GPIOPMEWOLSelect",
                                                  "PMEMagicPacketEnable", "PMEPerfectDAEnable"}));
    Section pme1 = FlagSection("[GPIOPME1]", {"GPIOConnectBufferType", "GPIOConnectEnable", "GPIOConnectPolarity"});
    pme1.lines.push_back(Line("PMEWUFFEnable", filter ? "1" : "0"));
    sections.push_back(pme1);
    sections.push_back(FlagSection("[LEDConfig0]", {"LED3Enable", "LED2Enable", "LED1Enable", "LED0Enable"}));
    sections.push_back({"[LEDConfig1]", {Line("LED1Function", Dec(Below(16))), Line("LED0Function", Dec(Below(16)))}});
    sections.push_back({"[LEDConfig2]", {Line("LED3Function", Dec(Below(16))), Line("LED2Function", Dec(Below(16)))}});
    sections.push_back({"[LEDBehaviorConfig]", {Line("LEDBehavior", HexValue(Below(0x10000), 4))}});
    sections.push_back(GpioSection());
    sections.push_back(PollSection());
    sections.push_back(FilterSection());
    const bool flags0_override = Below(3) == 0;
    const uint32_t flags0 = static_cast<uint32_t>(rng_());
    sections.push_back(ConfigFlags0Section(flags0_override, flags0));
    AddOptionalSections(sections, ini.kind, flags0_override, flags0, ltm, test_bus);

    // Sections in any order, with comments and blank lines between them.
    for (size_t i = sections.size(); i > 1; --i) std::swap(sections[i - 1], sections[Below(static_cast<uint32_t>(i))]);
    std::string out = "# seed " + std::to_string(seed_) + End();
    for (Section& s : sections) {
      if (Below(3) == 0) out += "# " + s.header + End();
      out += s.header + End();
      for (size_t i = s.lines.size(); i > 1; --i) std::swap(s.lines[i - 1], s.lines[Below(static_cast<uint32_t>(i))]);
      for (const std::string& line : s.lines) {
        out += line + End();
        if (Below(10) == 0) out += End();
      }
      if (Below(2) == 0) out += End();
    }
    ini.text = out;
    return ini;
  }

 private:
  struct Section {
    std::string header;
    std::vector<std::string> lines;
  };

  uint32_t Below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(rng_() % n); }
  std::string End() const { return crlf_ ? "\r\n" : "\n"; }

  static std::string Dec(uint32_t v) { return std::to_string(v); }

  // "0x" or "0X", the digits in either case, sometimes with leading zeros up
  // to `digits`, sometimes followed by a blank and text the reader ignores.
  std::string HexValue(uint32_t v, int digits) {
    char text[16];
    const bool upper = Below(2) == 0;
    if (Below(2) == 0) {
      std::snprintf(text, sizeof text, upper ? "%0*X" : "%0*x", digits, static_cast<unsigned>(v));
    } else {
      std::snprintf(text, sizeof text, upper ? "%X" : "%x", static_cast<unsigned>(v));
    }
    std::string out = (Below(4) == 0 ? "0X" : "0x") + std::string(text);
    if (Below(8) == 0) out += " ignored text";
    return out;
  }

  // A key line with blanks around '=' as a person might type them.
  std::string Line(const std::string& key, const std::string& value) {
    static const char* const kLeads[] = {"", "", "", " ", "\t"};
    static const char* const kAround[] = {" = ", "=", " =", "= ", "\t=\t"};
    return std::string(kLeads[Below(5)]) + key + kAround[Below(5)] + value;
  }

  // A text value: the reader keeps everything after the blanks that follow
  // '=', so a value may hold blanks except at its start. A carriage return
  // right before a lone line feed needs a second one to stay in the value
  // (a CR LF line end brings its own).
  std::string TextLine(const std::string& key, const std::string& value) {
    std::string line = Line(key, value);
    if (!crlf_ && !value.empty() && value.back() == '\r') line.push_back('\r');
    return line;
  }

  char TextChar(bool allow_blank) {
    static const std::string kCommon =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.,:;/()[]#=+*&%$!?'\"";
    const uint32_t pick = Below(40);
    if (pick == 0 && allow_blank) return ' ';
    if (pick == 1 && allow_blank) return '\t';
    if (pick == 2) return '\r';
    if (pick == 3) return static_cast<char>(0x80 + Below(0x80));
    return kCommon[Below(static_cast<uint32_t>(kCommon.size()))];
  }

  std::string Text(int length, bool blanks) {
    std::string out;
    for (int i = 0; i < length; ++i) out.push_back(TextChar(blanks && i > 0));
    return out;
  }

  std::string Mac(bool unicast_only) {
    uint8_t b[6];
    do {
      for (uint8_t& v : b) v = static_cast<uint8_t>(Below(256));
      if (unicast_only) b[0] = static_cast<uint8_t>(b[0] & 0xFE);
    } while (b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 0 && b[4] == 0 && b[5] == 0);
    char text[24];
    const char sep = Below(3) == 0 ? '-' : ':';
    std::snprintf(text, sizeof text, Below(2) ? "%02X%c%02X%c%02X%c%02X%c%02X%c%02X" : "%02x%c%02x%c%02x%c%02x%c%02x%c%02x",
                  b[0], sep, b[1], sep, b[2], sep, b[3], sep, b[4], sep, b[5]);
    return text;
  }

  Section MacSection() {
    const std::string current = Mac(true);
    return {"[MacAddress]",
            {Line("CurrentMacAddress", current), Line("MaximumMacAddress", "FE:FF:FF:FF:FF:FF"),
             Line("MacAddressIncrement", Dec(1 + Below(255)))}};
  }

  std::string Serial(int max_length) {
    const int length = 1 + static_cast<int>(Below(static_cast<uint32_t>(std::max(1, max_length))));
    std::string serial;
    const bool hex = Below(3) != 0;
    for (int i = 0; i < length; ++i) {
      if (hex) {
        serial.push_back("0123456789ABCDEF"[Below(16)]);
      } else {
        char c = TextChar(false);
        if (c == '#' && i == 0) c = 'X';
        serial.push_back(c);
      }
    }
    return serial;
  }

  Section SerialSection(const std::string& serial) {
    // The maximum has the serial number's length (the parse would pad the
    // shorter one otherwise) and is not below it.
    return {"[SerialNumber]",
            {TextLine("CurrentSerialNumber", serial), Line("MaximumSerialNumber", std::string(serial.size(), 'F')),
             Line("SerialNumberIncrement", Dec(Below(256)))}};
  }

  Section StringSection(int& budget) {
    Section s{"[String]", {}};
    static const char* const kNames[] = {"Manufacturer", "Product", "Configuration", "Interface"};
    for (const char* name : kNames) {
      const std::string key = std::string(name) + "String";
      const int most = std::min(40, budget / 2 - 1);
      const bool enabled = most >= 1 && Below(3) != 0;
      if (enabled) {
        const std::string text = Text(1 + static_cast<int>(Below(static_cast<uint32_t>(most))), true);
        budget -= 2 + 2 * static_cast<int>(text.size());
        s.lines.push_back(TextLine(key, text));
      } else if (Below(2) == 0) {
        s.lines.push_back(TextLine(key, Text(1 + static_cast<int>(Below(10)), true)));  // disabled, ignored
      }
      s.lines.push_back(Line(std::string(name) + "Enable", enabled ? "1" : "0"));
    }
    return s;
  }

  Section IdSection() {
    char text[16];
    std::snprintf(text, sizeof text, Below(2) ? "0x%X" : "0x%04x", static_cast<unsigned>(1 + Below(0xFFFF)));
    const std::string vendor = text;
    std::snprintf(text, sizeof text, Below(2) ? "0X%X" : "0x%04X", static_cast<unsigned>(Below(0x10000)));
    const std::string product = text;
    std::string bcd;
    const uint32_t digits = 1 + Below(4);
    for (uint32_t i = 0; i < digits; ++i) bcd.push_back(static_cast<char>('0' + Below(10)));
    return {"[ID]", {Line("VendorID", vendor), Line("ProductID", product), Line("BcdDevice", bcd)}};
  }

  Section PowerSection() {
    Section s{"[Power]", {Line("HSMaxPower", Dec(2 * Below(251)))}};
    if (!model_5350_ && Below(4) != 0) s.lines.push_back(Line("SSMaxPower", Dec(8 * (1 + Below(112)))));
    if (Below(8) == 0) s.lines.push_back(Line("SSMaxPower", "0"));
    return s;
  }

  Section FlagSection(const std::string& header, const std::vector<std::string>& keys) {
    Section s{header, {}};
    for (const std::string& key : keys) s.lines.push_back(Line(key, Dec(Below(2))));
    return s;
  }

  Section GpioSection() {
    const uint32_t enable = Below(0x1000);
    const uint32_t direction = Below(0x1000);
    const uint32_t wake = Below(0x1000) & enable & ~direction;  // wake GPIOs are enabled inputs
    return {"[GPIOConfig]",
            {Line("GPIOEnable", HexValue(enable, 3)), Line("GPIOBuffer", HexValue(Below(0x1000), 3)),
             Line("GPIODirection", HexValue(direction, 3)), Line("GPIOData", HexValue(Below(0x1000), 3)),
             Line("GPIOWake", HexValue(wake, 3)), Line("GPIOWakePolarity", HexValue(Below(0x1000), 3))}};
  }

  Section PollSection() {
    Section s{"[InterruptPollInterval]",
              {Line("FSPollInterval", Dec(1 + Below(255))), Line("HSPollInterval", Dec(1 + Below(16)))}};
    if (!model_5350_) {
      s.lines.push_back(Line("SSPollInterval", Dec(1 + Below(16))));
    } else if (Below(4) == 0) {
      s.lines.push_back(Line("SSPollInterval", "0"));
    }
    return s;
  }

  Section FilterSection() {
    // The line reader keeps 256 characters: with the key, its blanks and
    // '=' in front, 78 pattern bytes always fit.
    const int count = 1 + static_cast<int>(Below(78));
    std::string pattern;
    char pair[4];
    for (int i = 0; i < count; ++i) {
      const uint32_t v = Below(3) == 0 ? 0 : Below(256);
      std::snprintf(pair, sizeof pair, Below(2) ? "%02X" : "%02x", static_cast<unsigned>(v));
      if (i > 0) pattern += "          \t"[Below(11)] == '\t' ? "\t" : " ";
      pattern += pair;
    }
    Section s{"[PMEWUFConfiguration]",
              {Line("FilterAddressType", Dec(Below(3))), Line("FilterPatternOffset", Dec(Below(256))),
               Line("FilterMaskPattern", pattern)}};
    if (Below(3) == 0) s.lines.push_back(Line("FilterCRC", HexValue(Below(256), 2)));
    return s;
  }

  Section ConfigFlags0Section(bool override_given, uint32_t flags0) {
    Section s{"[ConfigFlags0]", {}};
    if (!override_given || Below(2) == 0) {
      s.lines.push_back(Line("SWModeSuspendNSelect", Dec(Below(4))));
      s.lines.push_back(Line("SWModePolarity", Dec(Below(2))));
    }
    if (!override_given || Below(3) != 0) {
      s.lines.push_back(Line("RemoteWakeupEnable", Dec(Below(2))));
      s.lines.push_back(Line("SelfPower", Dec(Below(2))));
    }
    if (override_given) s.lines.push_back(Line("ConfigFlags0Override", HexValue(flags0, 8)));
    return s;
  }

  // A 32-bit override: random, or the layout's default value itself.
  std::string Word(uint32_t default_value) {
    return HexValue(Below(3) == 0 ? default_value : static_cast<uint32_t>(rng_()), 8);
  }

  void AddOptionalSections(std::vector<Section>& sections, Kind kind, bool flags0_override, uint32_t flags0,
                           bool ltm, bool test_bus) {
    if (Below(2) == 0) {
      Section s{"[ConfigFlags1]", {}};
      if (Below(2) == 0) s.lines.push_back(Line("ConfigFlags1Override", Word(model_5350_ ? 0x00010080u : 0x00016780u)));
      if (Below(2) == 0) s.lines.push_back(Line("GenCLK125Enable", Dec(Below(2))));
      sections.push_back(s);
    }
    if (Below(3) == 0) sections.push_back({"[ConfigFlags2]", {Line("ConfigFlags2Override", Word(0))}});
    if (Below(3) == 0) {
      sections.push_back({"[ConfigFlags3]", {Line("ConfigFlags3Override", Word(model_5350_ ? 0x0Au : 0x001E000Au))}});
    }
    if (Below(3) == 0) sections.push_back({"[ConfigFlags4]", {Line("ConfigFlags4Override", Word(0))}});
    if (Below(3) == 0) sections.push_back({"[ConfigFlags5]", {Line("ConfigFlags5Override", Word(0x4F008031u))}});
    if (kind == Kind::kOtpSecond) {
      sections.push_back({"[OtpConfig]", {Line("OtpSignature", Below(2) ? "0xF7" : "0xf7")}});
    } else if (kind == Kind::kOtpFirst && Below(2) == 0) {
      sections.push_back({"[OtpConfig]", {Line("OtpSignature", "0xF3")}});
    }
    if (ltm) {
      Section s{"[LTMBELTConfig]", {}};
      static const char* const kKeys[] = {"LTMBELTIdle0",   "LTMBELTIdle1",     "LTMBELTActive0",
                                          "LTMBELTActive1", "LTMBELTInActive0", "LTMBELTInActive1"};
      for (const char* key : kKeys) {
        if (s.lines.empty() || Below(2) == 0) s.lines.push_back(Line(key, Word(0)));
      }
      sections.push_back(s);
    }
    if (test_bus) sections.push_back({"[CommonTestBusConfig]", {Line("CommonTestBusIn", Word(0))}});
    if (Below(3) == 0) {
      Section s{"[USBTestConfig]", {}};
      if (Below(2) == 0) s.lines.push_back(Line("USB3PllTestBusIn", HexValue(Below(0x10000), 4)));
      if (Below(2) == 0) s.lines.push_back(Line("USB2AFETestBusIn", HexValue(Below(0x100), 2)));
      if (Below(2) == 0) s.lines.push_back(Line("USB3AFETestBusIn0", Word(0)));
      if (Below(2) == 0) s.lines.push_back(Line("USB3AFETestBusIn1", Word(0)));
      sections.push_back(s);
    }
    if (Below(3) == 0) {
      // The LPM bit (0x2) must agree with configuration flags 0 (bit 0x4),
      // which have LPM on unless overridden.
      const bool lpm = !flags0_override || (flags0 & 0x4u) != 0;
      uint32_t attributes = static_cast<uint32_t>(rng_());
      attributes = lpm ? (attributes | 0x2u) : (attributes & ~0x2u);
      sections.push_back({"[USB2ExtensionConfig]", {Line("USB2ExtAttributes", HexValue(attributes, 8))}});
    }
    if (Below(3) == 0) {
      Section s{"[USB3ExtensionConfig]", {}};
      if (Below(2) == 0) s.lines.push_back(Line("SpeedsSupported", HexValue(Below(16), 1)));
      if (Below(2) == 0) s.lines.push_back(Line("FunctionalitySupport", HexValue(Below(16), 1)));
      if (Below(2) == 0) s.lines.push_back(Line("U1DevExitLatency", HexValue(Below(16), 1)));
      if (Below(2) == 0) s.lines.push_back(Line("U2DevExitLatency", HexValue(Below(0x1000), 3)));
      sections.push_back(s);
    }
  }

  std::mt19937 rng_;
  uint32_t seed_;
  bool model_5350_ = false;
  bool crlf_ = false;
};

}  // namespace roundtrip
