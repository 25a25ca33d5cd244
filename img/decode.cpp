#include "img/decode.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "img/fields.h"
#include "img/filter_pattern.h"
#include "img/layout_facts.h"

namespace img {

namespace {

constexpr size_t kMaxSerialLength = 16;
constexpr uint32_t kGenClkBits = 0x00300000u;  // bits 5 and 4 of byte 0x19
constexpr uint16_t kGpioBits = 0x0FFF;         // an INI GPIO word has three hex digits
constexpr const char* kStandInMaximumMac = "FE:FF:FF:FF:FF:FF";  // the highest unicast address

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
  return text;
}

std::string MacText(const MacAddress& mac) {
  char text[24];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

// Image text for a comment: printable ASCII as it is, other bytes as \xNN.
std::string Printable(const std::string& text) {
  std::string out;
  char escaped[8];
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) {
      out.push_back(c);
    } else {
      std::snprintf(escaped, sizeof escaped, "\\x%02X", u);
      out += escaped;
    }
  }
  return out;
}

// The sections and keys of an INI file, in the order the file lists them.
struct SectionKeys {
  const char* header;
  bool required;
  std::vector<const char*> keys;
};

const std::vector<SectionKeys>& IniLayout() {
  static const std::vector<SectionKeys> sections = {
      {"[MacAddress]", true, {"CurrentMacAddress", "MaximumMacAddress", "MacAddressIncrement"}},
      {"[SerialNumber]", true, {"CurrentSerialNumber", "MaximumSerialNumber", "SerialNumberIncrement"}},
      {"[String]",
       true,
       {"ManufacturerString", "ProductString", "ConfigurationString", "InterfaceString",
        "ManufacturerEnable", "ProductEnable", "ConfigurationEnable", "InterfaceEnable"}},
      {"[ID]", true, {"VendorID", "ProductID", "BcdDevice"}},
      {"[Power]", true, {"SSMaxPower", "HSMaxPower"}},
      {"[GPIOPME0]",
       true,
       {"GPIOPMEEnable", "GPIOPMEConfiguration", "GPIOPMELength", "GPIOPMEPolarity",
        "GPIOBufferType", "GPIOPMEWOLSelect", "PMEMagicPacketEnable", "PMEPerfectDAEnable"}},
      {"[GPIOPME1]",
       true,
       {"GPIOConnectBufferType", "GPIOConnectEnable", "GPIOConnectPolarity", "PMEWUFFEnable"}},
      {"[LEDConfig0]", true, {"LED3Enable", "LED2Enable", "LED1Enable", "LED0Enable"}},
      {"[LEDConfig1]", true, {"LED1Function", "LED0Function"}},
      {"[LEDConfig2]", true, {"LED3Function", "LED2Function"}},
      {"[LEDBehaviorConfig]", true, {"LEDBehavior"}},
      {"[GPIOConfig]",
       true,
       {"GPIOEnable", "GPIOBuffer", "GPIODirection", "GPIOData", "GPIOWake", "GPIOWakePolarity"}},
      {"[InterruptPollInterval]", true, {"FSPollInterval", "HSPollInterval", "SSPollInterval"}},
      {"[PMEWUFConfiguration]", true, {"FilterAddressType", "FilterPatternOffset", "FilterMaskPattern"}},
      {"[ConfigFlags0]",
       true,
       {"SWModeSuspendNSelect", "SWModePolarity", "RemoteWakeupEnable", "SelfPower",
        "ConfigFlags0Override"}},
      {"[ConfigFlags1]", false, {"ConfigFlags1Override", "GenCLK125Enable"}},
      {"[ConfigFlags2]", false, {"ConfigFlags2Override"}},
      {"[ConfigFlags3]", false, {"ConfigFlags3Override"}},
      {"[ConfigFlags4]", false, {"ConfigFlags4Override"}},
      {"[ConfigFlags5]", false, {"ConfigFlags5Override"}},
      {"[OtpConfig]", false, {"OtpSignature"}},
      {"[LTMBELTConfig]",
       false,
       {"LTMBELTIdle0", "LTMBELTIdle1", "LTMBELTActive0", "LTMBELTActive1", "LTMBELTInActive0",
        "LTMBELTInActive1"}},
      {"[CommonTestBusConfig]", false, {"CommonTestBusIn"}},
      {"[USBTestConfig]",
       false,
       {"USB3PllTestBusIn", "USB2AFETestBusIn", "USB3AFETestBusIn0", "USB3AFETestBusIn1"}},
      {"[USB2ExtensionConfig]", false, {"USB2ExtAttributes"}},
      {"[USB3ExtensionConfig]",
       false,
       {"SpeedsSupported", "FunctionalitySupport", "U1DevExitLatency", "U2DevExitLatency"}},
  };
  return sections;
}

// A string read out of its descriptor slot.
struct SlotString {
  bool present = false;   // the slot's length is not 0
  bool readable = false;  // the descriptor lies inside the image
  std::string chars;      // the low byte of every character word
};

class Decoder {
 public:
  Decoder(const Image& image, const LayoutFacts& facts)
      : image_(image), b_(image.bytes), facts_(facts), bias_(BiasWords(image.kind)) {}

  // Reads every key's value out of the image.
  void Extract() {
    Identity();
    Strings();
    Ids();
    Power();
    Switches();
    Gpio();
    PollIntervals();
    WakeFilter();
    ConfigFlags();
    Extensions();
    Blocks();
    if (image_.kind == ImageKind::kOtpFirst) values_["OtpSignature"] = Hex(kSigOtpFirst, 2);
    if (image_.kind == ImageKind::kOtpSecond) values_["OtpSignature"] = Hex(kSigOtpSecond, 2);
    FitSize();
  }

  // The INI sections and keys, without a heading.
  std::string Body() const {
    std::string out;
    for (const SectionKeys& section : IniLayout()) {
      bool any = false;
      for (const char* key : section.keys) any = any || values_.count(key) != 0;
      if (!any && !section.required) continue;
      out += "\n";
      out += section.header;
      out += "\n";
      bool previous_not_carried = false;
      for (const char* key : section.keys) {
        auto value = values_.find(key);
        if (value == values_.end()) continue;
        const bool not_carried = not_carried_.count(key) != 0;
        if (not_carried && !previous_not_carried) {
          out += "# Not carried by the image: written so that the file validates.\n";
        }
        previous_not_carried = not_carried;
        for (const DecodeNote& note : notes_) {
          if (note.key == key) out += "# " + note.message + "\n";
        }
        out += key;
        out += " = ";
        out += value->second;
        // A carriage return before the line feed would end the line with it;
        // a second one keeps the first in the value.
        if (!value->second.empty() && value->second.back() == '\r') out += '\r';
        out += "\n";
      }
    }
    return out;
  }

  const std::vector<DecodeNote>& notes() const { return notes_; }

  // Notes about keys the INI text leaves out (a value that stays at its
  // default): they go into the heading.
  std::string UnplacedNotes() const {
    std::string out;
    for (const DecodeNote& note : notes_) {
      if (values_.count(note.key) == 0) out += "# " + note.key + ": " + note.message + "\n";
    }
    return out;
  }

 private:
  void Note(const std::string& key, const std::string& message) { notes_.push_back({key, message}); }
  void Set(const char* key, const std::string& value) { values_[key] = value; }
  void SetNotCarried(const char* key, const std::string& value) {
    values_[key] = value;
    not_carried_.insert(key);
  }
  void SetBit(const char* key, int offset, int bit) {
    Set(key, std::to_string((b_.U8(offset) >> bit) & 1));
  }

  SlotString ReadSlotString(int slot) const {
    SlotString s;
    const int length = b_.U8(slot);
    if (length == 0) return s;
    s.present = true;
    const int word = b_.U8(slot + 1) - bias_;
    const int n = length / 2 - 1;
    if (n < 0 || word < 0 || !b_.Has(2L * word, 2L + 2L * n)) return s;
    s.readable = true;
    for (int i = 0; i < n; ++i) s.chars.push_back(static_cast<char>(b_.U8(2L * word + 2 + 2L * i)));
    return s;
  }

  // Bytes the image built from the values takes.
  int RenderedSize() const {
    int total = facts_.string_start;
    for (const StringSlot& s : kStringSlots) {
      const bool present = s.enable_key == nullptr ? values_.count(s.key) != 0
                                                   : values_.count(s.enable_key) != 0 && values_.at(s.enable_key) == "1";
      if (present) total += 2 + 2 * static_cast<int>(values_.at(s.key).size());
    }
    if (values_.count("PMEWUFFEnable") != 0 && values_.at("PMEWUFFEnable") == "1") total += kWakeFilterBytes;
    if (values_.count("LTMBELTIdle0") != 0) total += kLtmBeltBytes;
    if (values_.count("CommonTestBusIn") != 0) total += kTestBusBytes;
    return total;
  }

  // Slots may claim more string bytes than an image holds (the EEPROM, or
  // 256 bytes for a second OTP configuration): strings are left out from
  // the last, and the serial number shortened, until the image fits.
  void FitSize() {
    const int limit = image_.kind == ImageKind::kOtpSecond ? kOtpBytes - kSecondFormGap : kOtpBytes;
    const int needed = RenderedSize();
    if (needed <= limit) return;
    const std::string why = "The image's strings and blocks take " + std::to_string(needed) +
                            " bytes; an image holds at most " + std::to_string(limit) + ".";
    for (int i = 4; i >= 0 && RenderedSize() > limit; --i) {
      const StringSlot& s = kStringSlots[i];
      if (s.enable_key == nullptr || values_.count(s.key) == 0) continue;
      values_.erase(s.key);
      values_[s.enable_key] = "0";
      Note(s.key, why + " It is left out.");
    }
    if (RenderedSize() > limit) {
      std::string& serial = values_["CurrentSerialNumber"];
      const int excess = RenderedSize() - limit;
      serial.resize(static_cast<size_t>(std::max(1, static_cast<int>(serial.size()) - (excess + 1) / 2)));
      values_["MaximumSerialNumber"] = std::string(serial.size(), 'F');
      Note("CurrentSerialNumber", why + " It is cut to " + std::to_string(serial.size()) + " characters.");
    }
  }

  void Identity() {
    MacAddress mac{};
    for (size_t i = 0; i < mac.size(); ++i) mac[i] = b_.U8(static_cast<long>(1 + i));
    const bool zero = mac == MacAddress{};
    if ((mac[0] & 1) != 0 || zero) {
      const std::string held = MacText(mac);
      mac[0] = static_cast<uint8_t>(mac[0] & ~1u);
      if (mac == MacAddress{}) mac[5] = 1;
      Note("CurrentMacAddress", "The image holds " + held +
                                    ", which is not a unicast address; the tool programs only "
                                    "unicast addresses. Stand-in: " +
                                    MacText(mac) + ".");
    }
    Set("CurrentMacAddress", MacText(mac));
    SetNotCarried("MaximumMacAddress", kStandInMaximumMac);
    SetNotCarried("MacAddressIncrement", "1");
  }

  // Replaces the characters a value of `key` cannot hold: NUL and line
  // feed end a line, blanks after '=' are skipped (and end a serial number).
  std::string Expressible(const char* key, std::string chars, bool serial) {
    bool changed = false;
    bool leading = true;
    for (char& c : chars) {
      const bool blank = c == ' ' || c == '\t';
      if (c == '\0' || c == '\n' || (blank && (leading || serial))) {
        c = '?';
        changed = true;
      }
      leading = leading && blank;
    }
    if (changed) {
      Note(key, std::string("The image's text holds characters that no INI value can give "
                            "(NUL, line feed, or a blank ") +
                    (serial ? "anywhere" : "at its start") + "); they are written as '?'.");
    }
    return chars;
  }

  void Strings() {
    for (const StringSlot& s : kStringSlots) {
      const SlotString text = ReadSlotString(s.slot);
      const bool serial = s.enable_key == nullptr;
      std::string why;
      if (text.present && !text.readable) {
        why = "Its descriptor slot names bytes outside the image.";
      } else if (text.present && text.chars.empty()) {
        why = "The image holds an empty string, which no INI value gives.";
      } else if (!text.present && serial) {
        why = "The image carries no serial number string; an INI file always gives one.";
      }
      if (serial) {
        std::string chars = text.chars;
        if (!why.empty()) {
          chars = "0";
          Note(s.key, why + " Stand-in: 0.");
        } else if (chars.size() > kMaxSerialLength) {
          Note(s.key, "The image's serial number has " + std::to_string(chars.size()) +
                          " characters; an INI file holds at most 16. Cut to 16.");
          chars.resize(kMaxSerialLength);
        }
        chars = Expressible(s.key, chars, true);
        Set(s.key, chars);
        // The maximum has the serial number's length: the parse pads the
        // shorter of the two with zeros.
        SetNotCarried("MaximumSerialNumber", std::string(chars.size(), 'F'));
        SetNotCarried("SerialNumberIncrement", "1");
        continue;
      }
      if (!why.empty()) Note(s.key, why + " It is left out.");
      const bool enabled = text.present && why.empty();
      if (enabled) Set(s.key, Expressible(s.key, text.chars, false));
      Set(s.enable_key, enabled ? "1" : "0");
    }
  }

  void Ids() {
    const int at = facts_.hs_device;
    uint16_t vendor = b_.U16(at + 8);
    if (vendor == 0) {
      Note("VendorID", "The image holds vendor ID 0, which the INI file cannot give. Stand-in: 0x1F7B.");
      vendor = 0x1F7B;
    }
    Set("VendorID", Hex(vendor, 4));
    Set("ProductID", Hex(b_.U16(at + 10), 4));
    // BcdDevice is read as decimal digits, one per nibble; the image holds
    // its last two in the high byte of bcdDevice.
    const uint8_t release = static_cast<uint8_t>(b_.U16(at + 12) >> 8);
    int high = release >> 4;
    int low = release & 0x0F;
    if (high > 9 || low > 9) {
      Note("BcdDevice", "The image's release byte " + Hex(release, 2) +
                            " is not two decimal digits; digits above 9 are written as 9.");
      high = std::min(high, 9);
      low = std::min(low, 9);
    }
    Set("BcdDevice", std::to_string(high) + std::to_string(low));
  }

  void Power() {
    int hs = b_.U8(facts_.hs_config + 8);
    if (hs > 250) {
      Note("HSMaxPower", "The image's high-speed maximum power " + std::to_string(2 * hs) +
                             " mA is above 500 mA, the most the INI file allows. Stand-in: 500.");
      hs = 250;
    }
    Set("HSMaxPower", std::to_string(2 * hs));
    if (facts_.super_speed) {
      int ss = b_.U8(facts_.ss_config + 8);
      if (ss > 112) {
        Note("SSMaxPower", "The image's SuperSpeed maximum power " + std::to_string(8 * ss) +
                               " mA is above 896 mA, the most the INI file allows. Stand-in: 896.");
        ss = 112;
      }
      if (ss != 0) Set("SSMaxPower", std::to_string(8 * ss));
    }
  }

  void Switches() {
    const char* const pme0[] = {"PMEPerfectDAEnable", "PMEMagicPacketEnable", "GPIOPMEWOLSelect",
                                "GPIOBufferType",     "GPIOPMEPolarity",      "GPIOPMELength",
                                "GPIOPMEConfiguration", "GPIOPMEEnable"};
    for (int bit = 0; bit < 8; ++bit) SetBit(pme0[bit], 0x09, bit);
    SetBit("GPIOConnectBufferType", 0x0A, 6);
    SetBit("GPIOConnectEnable", 0x0A, 5);
    SetBit("GPIOConnectPolarity", 0x0A, 4);
    SetBit("PMEWUFFEnable", 0x0A, 0);
    SetBit("LED3Enable", 0x0B, 3);
    SetBit("LED2Enable", 0x0B, 2);
    SetBit("LED1Enable", 0x0B, 1);
    SetBit("LED0Enable", 0x0B, 0);
    Set("LED1Function", std::to_string(b_.U8(0x0C) >> 4));
    Set("LED0Function", std::to_string(b_.U8(0x0C) & 0x0F));
    Set("LED3Function", std::to_string(b_.U8(0x0D) >> 4));
    Set("LED2Function", std::to_string(b_.U8(0x0D) & 0x0F));
    Set("LEDBehavior", Hex(b_.U16(0x58), 4));
  }

  uint16_t GpioWord(const char* key, uint16_t word) {
    if (word > kGpioBits) {
      Note(key, std::string("The image's ") + key + " " + Hex(word, 4) +
                    " uses GPIO bits above 11, which the INI file cannot give. Those bits are left out.");
    }
    return static_cast<uint16_t>(word & kGpioBits);
  }

  void Gpio() {
    const uint16_t enable = GpioWord("GPIOEnable", static_cast<uint16_t>(~b_.U16(0x4E)));
    const uint16_t buffer = GpioWord("GPIOBuffer", b_.U16(0x4C));
    const uint16_t direction = GpioWord("GPIODirection", b_.U16(0x4A));
    const uint16_t data = GpioWord("GPIOData", b_.U16(0x48));
    uint16_t wake = GpioWord("GPIOWake", b_.U16(0x07));
    const uint16_t polarity = GpioWord("GPIOWakePolarity", b_.U16(0x0E));
    // The tool accepts a wake GPIO only when it is an enabled input.
    const uint16_t refused = static_cast<uint16_t>(wake & ~(enable & ~direction) & kGpioBits);
    if (refused != 0) {
      Note("GPIOWake", "The image makes GPIOs " + Hex(refused, 3) +
                           " wake sources without their being enabled inputs, which the tool "
                           "refuses. They are left out of GPIOWake.");
      wake = static_cast<uint16_t>(wake & ~refused);
    }
    Set("GPIOEnable", Hex(enable, 3));
    Set("GPIOBuffer", Hex(buffer, 3));
    Set("GPIODirection", Hex(direction, 3));
    Set("GPIOData", Hex(data, 3));
    Set("GPIOWake", Hex(wake, 3));
    Set("GPIOWakePolarity", Hex(polarity, 3));
  }

  void Interval(const char* key, int value, int maximum) {
    int written = std::clamp(value, 1, maximum);
    if (written != value) {
      Note(key, std::string("The image's ") + key + " " + std::to_string(value) +
                    " is outside 1 to " + std::to_string(maximum) + ". Stand-in: " +
                    std::to_string(written) + ".");
    }
    Set(key, std::to_string(written));
  }

  void PollIntervals() {
    Interval("FSPollInterval", b_.U8(0x10), 255);
    Interval("HSPollInterval", b_.U8(0x11), 16);
    if (facts_.super_speed) Interval("SSPollInterval", b_.U8(0x12), 16);
  }

  void WakeFilter() {
    const bool enabled = (b_.U8(0x0A) & 1) != 0;
    if (!enabled) {
      SetNotCarried("FilterAddressType", "0");
      SetNotCarried("FilterPatternOffset", "0");
      SetNotCarried("FilterMaskPattern", "00");
      return;
    }
    const int length = b_.U8(kSlotWakeFilter);
    const long at = 2L * (b_.U8(kSlotWakeFilter + 1) - bias_);
    if (length != kWakeFilterBytes || at < 0 || !b_.Has(at, kWakeFilterBytes)) {
      Note("FilterMaskPattern", "PMEWUFFEnable is set but the wake-up filter slot names no "
                                "readable 20-byte block. Stand-in: an empty pattern.");
      Set("FilterAddressType", "0");
      Set("FilterPatternOffset", "0");
      Set("FilterMaskPattern", "00");
      return;
    }
    const uint16_t crc = b_.U16(at);
    const uint8_t control = b_.U8(at + 3);
    int type = control & 3;
    if (type > 2) {
      Note("FilterAddressType", "The image's address type 3 is above 2, the most the INI file allows. Stand-in: 2.");
      type = 2;
    }
    Set("FilterAddressType", std::to_string(type));
    Set("FilterPatternOffset", std::to_string(b_.U8(at + 2)));

    FilterMask mask{};
    for (size_t i = 0; i < mask.size(); ++i) mask[i] = b_.U8(at + 4 + static_cast<long>(i));
    FilterMask line_mask = mask;
    for (int i = kMaxIniPatternBytes; i < 128; ++i) {
      line_mask[static_cast<size_t>(i / 8)] = static_cast<uint8_t>(line_mask[static_cast<size_t>(i / 8)] & ~(1u << (i % 8)));
    }
    if (line_mask != mask) {
      Note("FilterMaskPattern",
           "The image's filter mask uses pattern bytes beyond byte " + std::to_string(kMaxIniPatternBytes - 1) +
               "; an INI line holds at most " + std::to_string(kMaxIniPatternBytes) +
               " pattern bytes. Those bytes are left out.");
    }
    std::optional<FilterPattern> pattern = SolveFilterPattern(line_mask, crc);
    if (!pattern) {
      Note("FilterMaskPattern", "No pattern with the image's mask has the image's checksum " +
                                    Hex(crc, 4) + "; the pattern below has the mask only.");
      pattern = FilterPattern{};
      for (int i = 0; i < kMaxIniPatternBytes; ++i) {
        if (line_mask[static_cast<size_t>(i / 8)] & (1u << (i % 8))) (*pattern)[static_cast<size_t>(i)] = 1;
      }
    }
    int last = 0;
    for (int i = 0; i < kMaxIniPatternBytes; ++i) {
      if ((*pattern)[static_cast<size_t>(i)] != 0) last = i;
    }
    std::string text;
    char pair[4];
    for (int i = 0; i <= last; ++i) {
      std::snprintf(pair, sizeof pair, "%02X", (*pattern)[static_cast<size_t>(i)]);
      if (i > 0) text.push_back(' ');
      text += pair;
    }
    Set("FilterMaskPattern", text);
  }

  void ConfigFlags() {
    // Remote wake-up and self power also set the configuration descriptors'
    // attributes, with or without an override of the flags word.
    const uint8_t attributes = b_.U8(facts_.hs_config + 7);
    const int remote_wakeup = (attributes >> 5) & 1;
    const int self_power = (attributes >> 6) & 1;
    const uint32_t word = b_.U32(0x13);
    const uint8_t b13 = static_cast<uint8_t>(word);
    const uint8_t b14 = static_cast<uint8_t>(word >> 8);
    const uint8_t b15 = static_cast<uint8_t>(word >> 16);
    const uint8_t b16 = static_cast<uint8_t>(word >> 24);
    uint8_t derived13 = remote_wakeup ? 0x07 : 0x05;
    derived13 = self_power ? static_cast<uint8_t>(derived13 | 1) : static_cast<uint8_t>(derived13 & ~1);
    const bool by_switches = b13 == derived13 && b14 == static_cast<uint8_t>(facts_.config_flags0_default >> 8) &&
                             b16 == static_cast<uint8_t>(facts_.config_flags0_default >> 24) &&
                             (b15 & ~0x0E) == facts_.flags0_byte2_base;
    if (by_switches) {
      Set("SWModeSuspendNSelect", std::to_string((b15 >> 2) & 3));
      Set("SWModePolarity", std::to_string((b15 >> 1) & 1));
    }
    Set("RemoteWakeupEnable", std::to_string(remote_wakeup));
    Set("SelfPower", std::to_string(self_power));
    if (!by_switches) Set("ConfigFlags0Override", Hex(word, 8));
    lpm_ = (b13 & 0x04) != 0;

    const uint32_t flags1 = b_.U32(0x17);
    if (facts_.gen_clk125) {
      const uint32_t clock = flags1 & kGenClkBits;
      const int gen = clock != 0 ? 1 : 0;
      if (clock != 0 && clock != kGenClkBits) {
        Note("GenCLK125Enable", "The image sets only one of the two clock output bits of byte 0x19; "
                                "GenCLK125Enable sets both or neither.");
      }
      const uint32_t by_default =
          gen ? (facts_.config_flags1_default | kGenClkBits) : (facts_.config_flags1_default & ~kGenClkBits);
      if (flags1 != by_default) Set("ConfigFlags1Override", Hex(flags1, 8));
      if (gen) Set("GenCLK125Enable", "1");
    } else if (flags1 != facts_.config_flags1_default) {
      Set("ConfigFlags1Override", Hex(flags1, 8));
    }
    if (b_.U32(0x1B) != 0) Set("ConfigFlags2Override", Hex(b_.U32(0x1B), 8));
    if (b_.U32(0x1F) != facts_.config_flags3_default) Set("ConfigFlags3Override", Hex(b_.U32(0x1F), 8));
    if (b_.U32(0x5A) != 0) Set("ConfigFlags4Override", Hex(b_.U32(0x5A), 8));
    if (b_.U32(0x5E) != kConfigFlags5Default) Set("ConfigFlags5Override", Hex(b_.U32(0x5E), 8));
  }

  // A value the builder keeps to its low bits: the key gets those bits.
  void Masked(const char* key, uint32_t value, uint32_t mask, uint32_t by_default) {
    if (value == by_default) return;
    if ((value & ~mask) != 0) {
      Note(key, std::string("The image's ") + key + " " + Hex(value, 2) +
                    " has bits that the INI value cannot give; only " + Hex(mask, 1) + " are kept.");
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value & mask));
    Set(key, text);
  }

  void Extensions() {
    if (facts_.super_speed) {
      if (b_.U16(0x43) != 0) Set("USB3PllTestBusIn", Hex(b_.U16(0x43), 4));
      if (b_.U32(0x50) != 0) Set("USB3AFETestBusIn0", Hex(b_.U32(0x50), 8));
      if (b_.U32(0x54) != 0) Set("USB3AFETestBusIn1", Hex(b_.U32(0x54), 8));
      Masked("SpeedsSupported", b_.U16(0x72), 0x0F, kSpeedsSupportedDefault);
      Masked("FunctionalitySupport", b_.U8(0x74), 0x0F, kFunctionalitySupportDefault);
      Masked("U1DevExitLatency", b_.U8(0x75), 0x0F, kU1DevExitLatencyDefault);
      Masked("U2DevExitLatency", b_.U16(0x76), 0x0FFF, kU2DevExitLatencyDefault);
    }
    if (b_.U8(0x45) != 0) Set("USB2AFETestBusIn", Hex(b_.U8(0x45), 2));

    // The builder sets the LPM bits (1 and 2) of the USB 2.0 extension from
    // the flags word, over any given value.
    const uint32_t attributes = b_.U32(0x6A);
    const uint32_t lpm_bits = lpm_ ? 0x6u : 0x0u;
    if ((attributes & 0x6u) != lpm_bits) {
      Note("USB2ExtAttributes", "The image's USB 2.0 extension attributes " + Hex(attributes, 8) +
                                    " disagree with the LPM bit of the configuration flags; the "
                                    "tool always makes them agree.");
    }
    const uint32_t written = (attributes & ~0x6u) | lpm_bits;
    if (written != ((kUsb2ExtAttributesDefault & ~0x6u) | lpm_bits)) {
      Set("USB2ExtAttributes", Hex(written, 8));
    }
  }

  // An optional block: its words when its slot names a readable block.
  bool ReadBlock(int slot, int size, const char* key, std::vector<uint32_t>& words) {
    const int length = b_.U8(slot);
    if (length == 0) return false;
    const long at = 2L * (b_.U8(slot + 1) - bias_);
    words.assign(static_cast<size_t>(size / 4), 0);
    if (length != size || at < 0 || !b_.Has(at, size)) {
      Note(key, "Its block's slot names no readable " + std::to_string(size) +
                    "-byte block. Stand-in: zeros.");
      return true;
    }
    for (size_t i = 0; i < words.size(); ++i) words[i] = b_.U32(at + 4 * static_cast<long>(i));
    return true;
  }

  void Blocks() {
    std::vector<uint32_t> words;
    if (ReadBlock(kSlotLtmBelt, kLtmBeltBytes, "LTMBELTIdle0", words)) {
      const char* const keys[] = {"LTMBELTIdle0",   "LTMBELTIdle1",     "LTMBELTActive0",
                                  "LTMBELTActive1", "LTMBELTInActive0", "LTMBELTInActive1"};
      for (size_t i = 0; i < 6; ++i) Set(keys[i], Hex(words[i], 8));
    }
    if (ReadBlock(kSlotTestBus, kTestBusBytes, "CommonTestBusIn", words)) {
      Set("CommonTestBusIn", Hex(words[0], 8));
    }
  }

  const Image& image_;
  ByteView b_;
  const LayoutFacts& facts_;
  int bias_;
  bool lpm_ = true;
  std::map<std::string, std::string> values_;
  std::set<std::string> not_carried_;
  std::vector<DecodeNote> notes_;
};

std::string Heading(const Image& image, const std::string& label, bool exact,
                    const std::string& unplaced_notes, const std::string& heading_note) {
  const bool otp = image.kind != ImageKind::kEeprom;
  std::string out = "# Decoded by orn5300img from " + Printable(label) + ": " +
                    LayoutName(image.layout) + " layout, " + KindName(image.kind) + ".\n";
  out += std::string("# orn5300cli -i <this file> -z <image file> -d ") + LayoutName(image.layout) +
         (otp ? " -O" : "") + "\n";
  if (exact) {
    out += "# generates the same image bytes.\n";
  } else {
    out += "# generates the same image bytes except where the comments below say\n"
           "# that no INI value can give what the image holds.\n";
  }
  if (!heading_note.empty()) out += "# " + heading_note + "\n";
  return out + unplaced_notes;
}

}  // namespace

std::vector<ByteRun> CompareBytes(const std::vector<uint8_t>& source,
                                  const std::vector<uint8_t>& rendered) {
  std::vector<ByteRun> runs;
  const size_t n = std::max(source.size(), rendered.size());
  for (size_t i = 0; i < n; ++i) {
    const bool in_source = i < source.size();
    const uint8_t r = i < rendered.size() ? rendered[i] : 0;
    const bool differs = in_source ? (i < rendered.size() ? source[i] != r : source[i] != 0) : true;
    if (!differs) continue;
    // A run ends where the source ends, so that a run is either bytes of
    // the source or bytes beyond it.
    if (runs.empty() ||
        runs.back().offset + static_cast<int>(runs.back().rendered.size()) != static_cast<int>(i) ||
        i == source.size()) {
      runs.push_back(ByteRun{static_cast<int>(i), {}, {}, {}, {}});
    }
    if (in_source) runs.back().source.push_back(source[i]);
    runs.back().rendered.push_back(r);
  }
  return runs;
}

DecodeResult DecodeImage(const Image& image, const std::string& source_label, const std::string& heading_note) {
  DecodeResult result;
  if (image.kind != ImageKind::kEeprom && image.kind != ImageKind::kOtpFirst &&
      image.kind != ImageKind::kOtpSecond) {
    result.error = std::string("the source holds no configuration: ") + KindName(image.kind);
    return result;
  }
  const LayoutFacts* facts = FactsOf(image.layout);
  if (facts == nullptr) {
    result.error = "the layout of the image is not recognised (use --model ORN5300 or ORN5350)";
    return result;
  }
  Decoder decoder(image, *facts);
  decoder.Extract();
  const std::string body = decoder.Body();
  result.notes = decoder.notes();

  RenderOptions options;
  options.layout = image.layout;
  options.otp = image.kind != ImageKind::kEeprom;
  const std::string unplaced = decoder.UnplacedNotes();
  result.rendered = RenderIniText(Heading(image, source_label, true, unplaced, heading_note) + body, options);
  if (!result.rendered.ok) {
    result.error = "the decoded INI file does not render: " + result.rendered.error;
    return result;
  }
  result.differences = CompareBytes(image.bytes, result.rendered.image);
  if (!result.differences.empty()) {
    // A run names the fields whose values differ there (of the bits of a
    // byte, only those that differ), else every field it touches.
    const std::vector<Field> fields = ImageFields(image);
    Image rendered = image;
    rendered.bytes = result.rendered.image;
    const std::vector<Field> rendered_fields = ImageFields(rendered);
    for (ByteRun& run : result.differences) {
      const int size = static_cast<int>(run.rendered.size());
      for (const Field& f : fields) {
        if (f.offset >= run.offset + size || f.offset + f.size <= run.offset) continue;
        const auto other = std::find_if(rendered_fields.begin(), rendered_fields.end(),
                                        [&f](const Field& r) { return r.name == f.name; });
        if (other == rendered_fields.end() || !SameValue(f, *other)) run.field_names.push_back(f.name);
      }
      if (run.field_names.empty()) run.field_names = FieldNamesAt(fields, run.offset, size);
      for (const std::string& name : run.field_names) run.fields += (run.fields.empty() ? "" : ", ") + name;
    }
  }
  result.ini = Heading(image, source_label, result.differences.empty(), unplaced, heading_note) + body;
  result.ok = true;
  return result;
}

}  // namespace img
