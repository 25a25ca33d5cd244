#include "img/check.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "eeprom/otp_flows.h"
#include "img/decode.h"
#include "img/fields.h"
#include "img/filter_pattern.h"
#include "img/layout_facts.h"

namespace img {

namespace {

constexpr int kMaxEepromBytes = 512;
constexpr int kMinBinaryImageBytes = 192;  // the tool refuses shorter binary images
constexpr size_t kMaxSerialLength = 16;

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, static_cast<unsigned>(value));
  return text;
}

class Checker {
 public:
  Checker(const Image& image, CheckReport& report, DecodeMemo* memo)
      : image_(image), b_(image.bytes), report_(report), bias_(BiasWords(image.kind)), memo_(memo) {}

  void Run() {
    Length();
    if (image_.kind == ImageKind::kOtpInvalid) {
      Add(0, 1, "Signature", "the OTP's signature " + Hex(b_.U8(0), 2) +
                                 " is none of 0x00, 0xF3, 0xF7 and 0xFF");
    }
    if (image_.kind != ImageKind::kEeprom && image_.kind != ImageKind::kOtpFirst &&
        image_.kind != ImageKind::kOtpSecond) {
      return;
    }
    if (b_.size() == 0) {
      Add(-1, 0, "", "the source is empty");
      return;
    }
    if (image_.kind == ImageKind::kEeprom && b_.U8(0) != kSigEeprom) {
      bool blank = true;
      for (size_t i = 0; i < b_.size() && blank; ++i) blank = b_.U8(static_cast<long>(i)) == 0xFF;
      Add(0, 1, "Signature", blank ? "the EEPROM is blank (every byte 0xFF)"
                                   : "the signature " + Hex(b_.U8(0), 2) + " is not 0xA5");
      if (blank) return;
    }
    facts_ = FactsOf(image_.layout);
    if (facts_ == nullptr) {
      Add(-1, 0, "", "the layout is not recognised: the descriptor slots name neither the ORN5300 "
                     "nor the ORN5350 layout");
      return;
    }
    if (!b_.Has(0, facts_->string_start)) {
      Add(-1, 0, "", "the image ends at byte " + std::to_string(b_.size()) +
                         ", inside the fixed header and descriptors (" +
                         std::to_string(facts_->string_start) + " bytes)");
      return;
    }
    Mac();
    FixedSlots();
    Bos();
    if (facts_->super_speed) {
      Device("SuperSpeedDevice", facts_->ss_device, 0x0310, 0x09);
      Configuration("SuperSpeed", facts_->ss_config, kSsConfigTotalLength, 112, 8);
    }
    Device("HighSpeedDevice", facts_->hs_device, facts_->hs_bcd_usb, 0x40);
    Configuration("HighSpeed", facts_->hs_config, kHsConfigTotalLength, 250, 2);
    Strings();
    Blocks();
    Trailing();
    // On a sound structure every byte the decoder cannot give is named; on
    // a broken one its verdict would only restate the findings above.
    // (The identity has its own checks: they do not stop it.)
    if (report_.findings.size() == identity_findings_) DecoderVerdict();
  }

 private:
  void Add(int offset, int size, const std::string& field, const std::string& message) {
    Finding f;
    f.offset = offset;
    f.size = size;
    if (offset >= 0) f.raw = b_.Slice(offset, size);
    f.field = field;
    f.message = message;
    report_.findings.push_back(std::move(f));
  }

  void Length() {
    const long long size = image_.source_size;
    if (image_.source == SourceType::kDevice) return;
    const bool otp = image_.kind != ImageKind::kEeprom;
    if (image_.kind == ImageKind::kOtpSecond && size > kOtpBytes) {
      Add(-1, 0, "", "the file has " + std::to_string(size) +
                         " bytes; a second OTP configuration's file holds at most 512");
    } else if (size > (otp ? kOtpBytes : kMaxEepromBytes)) {
      Add(-1, 0, "", "the file has " + std::to_string(size) + " bytes, more than the " +
                         (otp ? "OTP" : "EEPROM") + " holds (512)");
    }
    // orn5300cli -z writes images this short (ORN5350, short strings); only
    // its -b refuses them, so the configuration goes in from its INI file.
    const long long image_bytes = static_cast<long long>(b_.size());
    if ((image_.kind == ImageKind::kEeprom || image_.kind == ImageKind::kOtpFirst ||
         image_.kind == ImageKind::kOtpSecond) &&
        image_bytes > 0 && image_bytes < kMinBinaryImageBytes) {
      report_.notes.push_back("the image has " + std::to_string(image_bytes) +
                              " bytes: orn5300cli -b takes binary files of at least 192 bytes, so program "
                              "it from its INI file");
    }
  }

  void Mac() {
    std::array<uint8_t, 6> mac{};
    for (size_t i = 0; i < mac.size(); ++i) mac[i] = b_.U8(static_cast<long>(1 + i));
    const bool zero = std::all_of(mac.begin(), mac.end(), [](uint8_t v) { return v == 0; });
    const bool ones = std::all_of(mac.begin(), mac.end(), [](uint8_t v) { return v == 0xFF; });
    const size_t before = report_.findings.size();
    if (zero) {
      Add(1, 6, "CurrentMacAddress", "the MAC address is all zeros");
    } else if (ones) {
      Add(1, 6, "CurrentMacAddress", "the MAC address is all 0xFF (unprogrammed)");
    } else if (mac[0] & 1) {
      Add(1, 6, "CurrentMacAddress", "the MAC address is a group (multicast) address, not a unicast one");
    }
    identity_findings_ += report_.findings.size() - before;
  }

  // The slot's bytes as the builder writes them for a fixed descriptor.
  void ExpectSlot(int slot, const char* name, int length, int byte_offset) {
    const uint8_t want_length = static_cast<uint8_t>(length);
    const uint8_t want_word = length == 0 ? 0 : static_cast<uint8_t>(bias_ + byte_offset / 2);
    if (b_.U8(slot) == want_length && b_.U8(slot + 1) == want_word) return;
    std::string want = length == 0 ? std::string("absent (0, 0)")
                                   : std::to_string(length) + " bytes at word " + Hex(want_word, 2);
    Add(slot, 2, std::string(name) + ".slot",
        std::string("the ") + name + " slot holds " + std::to_string(b_.U8(slot)) + " bytes at word " +
            Hex(b_.U8(slot + 1), 2) + "; the " + LayoutName(image_.layout) + " layout has " + want);
  }

  void FixedSlots() {
    ExpectSlot(kSlotBos, "BOS", facts_->bos_length, kBosOffset);
    ExpectSlot(kSlotSsDevice, "SuperSpeedDevice", facts_->super_speed ? kDeviceDescriptorBytes : 0,
               facts_->ss_device);
    ExpectSlot(kSlotSsConfig, "SuperSpeedConfiguration", facts_->super_speed ? kConfigPairBytes : 0,
               facts_->ss_config);
    ExpectSlot(kSlotHsDevice, "HighSpeedDevice", kDeviceDescriptorBytes, facts_->hs_device);
    ExpectSlot(kSlotHsConfig, "HighSpeedConfiguration", kConfigPairBytes, facts_->hs_config);
    ExpectSlot(kSlotDevice3, "Device3", kDeviceDescriptorBytes, facts_->hs_device);
    ExpectSlot(kSlotConfig3, "Configuration3", kConfigPairBytes, facts_->hs_config);
  }

  void Bos() {
    const int at = kBosOffset;
    if (b_.U8(at) != 5 || b_.U8(at + 1) != 0x0F) {
      Add(at, 2, "BOS.header", "the BOS descriptor does not start with length 5 and type 0x0F");
      return;
    }
    const int total = b_.U16(at + 2);
    const int caps = b_.U8(at + 4);
    if (total != facts_->bos_length) {
      Add(at + 2, 2, "BOS.header", "the BOS descriptor's total length " + std::to_string(total) +
                                       " is not " + std::to_string(facts_->bos_length));
    }
    // Walk the capabilities: each has its length, type 0x10 and a kind.
    int pos = at + 5;
    int walked = 0;
    const int end = at + std::min(total, facts_->bos_length);
    while (walked < caps && pos < end) {
      const int length = b_.U8(pos);
      if (length < 3 || b_.U8(pos + 1) != 0x10 || pos + length > end) {
        Add(pos, 2, "BOS.header", "capability " + std::to_string(walked + 1) +
                                      " of the BOS descriptor has length " + std::to_string(length) +
                                      " and type " + Hex(b_.U8(pos + 1), 2) +
                                      "; a capability is a type 0x10 descriptor inside the BOS");
        return;
      }
      const int kind = b_.U8(pos + 2);
      const int want = kind == 0x02 ? 7 : kind == 0x03 ? 10 : -1;
      if (want < 0 || length != want) {
        Add(pos, 3, "BOS.header", "capability " + std::to_string(walked + 1) + " of kind " +
                                      Hex(static_cast<uint32_t>(kind), 2) + " has length " +
                                      std::to_string(length));
      }
      pos += length;
      ++walked;
    }
    const int want_caps = facts_->super_speed ? 2 : 1;
    if (caps != want_caps || walked != caps || pos != at + facts_->bos_length) {
      Add(at + 4, 1, "BOS.header", "the BOS descriptor has " + std::to_string(caps) +
                                       " capabilities ending at byte " + Hex(static_cast<uint32_t>(pos), 2) +
                                       "; the layout has " + std::to_string(want_caps) + " ending at " +
                                       Hex(static_cast<uint32_t>(at + facts_->bos_length), 2));
    }
    // The LPM bits of the USB 2.0 extension follow configuration flags 0.
    const bool lpm = (b_.U8(0x13) & 0x04) != 0;
    if ((b_.U32(0x6A) & 0x6u) != (lpm ? 0x6u : 0u)) {
      Add(0x6A, 4, "USB2ExtAttributes", std::string("the USB 2.0 extension's LPM bits disagree with "
                                                    "the LPM bit of configuration flags 0 (") +
                                            (lpm ? "set" : "clear") + ")");
    }
  }

  bool StringPresent(int slot) const { return b_.U8(slot) != 0; }

  void Index(const std::string& field, int at, int present_value, bool present) {
    const int value = b_.U8(at);
    const int want = present ? present_value : 0;
    if (value == want) return;
    Add(at, 1, field, "string index " + std::to_string(value) + "; the image " +
                          (present ? "has" : "has no") + " string " + std::to_string(present_value) +
                          " (index " + std::to_string(want) + " expected)");
  }

  void Device(const std::string& name, int at, uint16_t bcd_usb, int max_packet) {
    if (b_.U8(at) != kDeviceDescriptorBytes || b_.U8(at + 1) != 0x01) {
      Add(at, 2, name + ".header", "the device descriptor does not start with length 18 and type 1");
      return;
    }
    if (b_.U16(at + 2) != bcd_usb) {
      Add(at + 2, 2, name + ".bcdUSB", "bcdUSB " + Hex(b_.U16(at + 2), 4) + " is not " + Hex(bcd_usb, 4));
    }
    if (b_.U8(at + 7) != max_packet) {
      Add(at + 7, 1, name + ".maxPacketSize", "maximum packet size " + std::to_string(b_.U8(at + 7)) +
                                                  " is not " + std::to_string(max_packet));
    }
    if (b_.U16(at + 8) == 0) Add(at + 8, 2, name + ".VendorID", "the vendor ID is 0");
    Index(name + ".iManufacturer", at + 14, 1, StringPresent(kSlotManufacturer));
    Index(name + ".iProduct", at + 15, 2, StringPresent(kSlotProduct));
    if (b_.U8(at + 16) != 3) {
      Add(at + 16, 1, name + ".iSerialNumber", "serial number string index " +
                                                   std::to_string(b_.U8(at + 16)) + " is not 3");
    }
    if (b_.U8(at + 17) != 1) {
      Add(at + 17, 1, name + ".numConfigurations", "the device has " + std::to_string(b_.U8(at + 17)) +
                                                       " configurations, not 1");
    }
  }

  void Configuration(const std::string& speed, int at, uint16_t total, int max_power, int unit) {
    const std::string config = speed + "Configuration";
    if (b_.U8(at) != 9 || b_.U8(at + 1) != 0x02) {
      Add(at, 2, config + ".header", "the configuration descriptor does not start with length 9 and type 2");
    } else {
      if (b_.U16(at + 2) != total) {
        Add(at + 2, 2, config + ".wTotalLength",
            "total length " + Hex(b_.U16(at + 2), 4) + " is not " + Hex(total, 4));
      }
      if (b_.U8(at + 4) != 1 || b_.U8(at + 5) != 1) {
        Add(at + 4, 2, config + ".numInterfaces", "the configuration has " + std::to_string(b_.U8(at + 4)) +
                                                      " interfaces and value " + std::to_string(b_.U8(at + 5)) +
                                                      "; 1 and 1 expected");
      }
      Index(config + ".iConfiguration", at + 6, 4, StringPresent(kSlotConfiguration));
      const int attributes = b_.U8(at + 7);
      if ((attributes & 0x9F) != 0x80) {
        Add(at + 7, 1, config + ".attributes", "attributes " + Hex(static_cast<uint32_t>(attributes), 2) +
                                                   ": bit 7 must be set and bits 4 to 0 clear");
      }
      if (b_.U8(at + 8) > max_power) {
        Add(at + 8, 1, config + ".maxPower", "maximum power " + std::to_string(b_.U8(at + 8) * unit) +
                                                 " mA is above " + std::to_string(max_power * unit) + " mA");
      }
    }
    const int interface = at + 9;
    if (b_.U8(interface) != 9 || b_.U8(interface + 1) != 0x04) {
      Add(interface, 2, speed + "Interface.header",
          "the interface descriptor does not start with length 9 and type 4");
      return;
    }
    Index(speed + "Interface.iInterface", interface + 8, 5, StringPresent(kSlotInterface));
  }

  // Where a string or block slot points; a finding when outside the image.
  bool Locate(int slot, const std::string& name, int length, long& at) {
    const int word = b_.U8(slot + 1) - bias_;
    at = 2L * word;
    if (word < 0) {
      Add(slot, 2, name + ".slot", "the slot's word offset " + Hex(b_.U8(slot + 1), 2) +
                                       " points before the start of the image");
      return false;
    }
    if (!b_.Has(at, length)) {
      Add(slot, 2, name + ".slot", "the slot names " + std::to_string(length) + " bytes at " +
                                       Hex(static_cast<uint32_t>(at), 2) + ", past the end of the image (" +
                                       std::to_string(b_.size()) + " bytes)");
      return false;
    }
    if (at < facts_->string_start) {
      Add(slot, 2, name + ".slot", "the slot points at " + Hex(static_cast<uint32_t>(at), 2) +
                                       ", inside the fixed header and descriptors");
    }
    spans_.push_back({at, at + length, name});
    return true;
  }

  void Strings() {
    for (const StringSlot& s : kStringSlots) {
      const int length = b_.U8(s.slot);
      const bool serial = s.slot == kSlotSerial;
      if (length == 0) {
        if (serial) {
          Add(s.slot, 2, "CurrentSerialNumber.slot",
              "the image has no serial number string, though the device descriptors name string 3");
        }
        continue;
      }
      if (length < 4 || length % 2 != 0) {
        Add(s.slot, 1, std::string(s.key) + ".slot",
            "string length " + std::to_string(length) +
                (length < 4 ? " holds no character" : " is odd: a string is 2 bytes per character plus 2"));
        if (length < 2) continue;
      }
      long at = 0;
      if (!Locate(s.slot, s.key, 2 * (length / 2), at)) continue;
      if (b_.U8(at) != length || b_.U8(at + 1) != 0x03) {
        Add(static_cast<int>(at), 2, s.key, "the string descriptor's header " + Hex(b_.U16(at), 4) +
                                                " is not its slot length and type 3");
      }
      const int n = length / 2 - 1;
      std::string chars;
      for (int i = 0; i < n; ++i) {
        const long pos = at + 2 + 2L * i;
        const uint8_t low = b_.U8(pos);
        const uint8_t high = b_.U8(pos + 1);
        chars.push_back(static_cast<char>(low));
        if (high != (low >= 0x80 ? 0xFF : 0x00)) {
          Add(static_cast<int>(pos), 2, s.key, "character " + std::to_string(i + 1) + " is " +
                                                   Hex(b_.U16(pos), 4) +
                                                   ", not one byte widened as the tool writes it");
          break;
        }
      }
      if (serial) Serial(static_cast<int>(at), length, chars);
    }
  }

  // The serial number as an INI file can give it: at most 16 characters,
  // none of them NUL, a line feed or a blank.
  void Serial(int at, int length, const std::string& chars) {
    const size_t before = report_.findings.size();
    if (chars.size() > kMaxSerialLength) {
      Add(at, length, "CurrentSerialNumber", "the serial number has " + std::to_string(chars.size()) +
                                                 " characters; the tool handles at most 16");
    }
    for (size_t i = 0; i < chars.size(); ++i) {
      const char c = chars[i];
      if (c == '\0' || c == '\n' || c == ' ' || c == '\t') {
        Add(at + 2 + 2 * static_cast<int>(i), 2, "CurrentSerialNumber",
            "serial number character " + std::to_string(i + 1) + " is " +
                Hex(static_cast<unsigned char>(c), 2) + ", which no INI file gives (NUL, line feed or blank)");
        break;
      }
    }
    identity_findings_ += report_.findings.size() - before;
  }

  // The image with a stand-in identity: the MAC address and the serial
  // number's characters have their own checks above, and without them the
  // images of one product are the same bytes.
  std::vector<uint8_t> WithoutIdentity() const {
    std::vector<uint8_t> bytes = image_.bytes;
    static constexpr uint8_t kStandInMac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    std::copy(kStandInMac, kStandInMac + 6, bytes.begin() + 1);
    const int length = b_.U8(kSlotSerial);
    const long at = 2L * (b_.U8(kSlotSerial + 1) - bias_);
    if (length >= 4 && at >= 0 && b_.Has(at, 2L * (length / 2))) {
      for (long i = at + 2; i + 1 < at + 2L * (length / 2); i += 2) {
        // A '0' widened as the builder widens it, where the character was.
        uint8_t& low = bytes[static_cast<size_t>(i)];
        uint8_t& high = bytes[static_cast<size_t>(i + 1)];
        if (high == (low >= 0x80 ? 0xFF : 0x00)) high = 0x00;
        low = '0';
      }
    }
    return bytes;
  }

  // What the decoder cannot give from an INI file.
  void DecoderVerdict() {
    Image normal = image_;
    normal.bytes = WithoutIdentity();
    std::string key = std::to_string(static_cast<int>(normal.layout)) + "," +
                      std::to_string(static_cast<int>(normal.kind)) + ",";
    key.append(normal.bytes.begin(), normal.bytes.end());
    const std::vector<Finding>* known = memo_ != nullptr ? memo_->Find(key) : nullptr;
    std::vector<Finding> verdict;
    if (known == nullptr) {
      verdict = Decoded(normal);
      if (memo_ != nullptr) memo_->Keep(key, verdict);
      known = &verdict;
    }
    for (const Finding& f : *known) Add(f.offset, f.size, f.field, f.message);
  }

  static std::vector<Finding> Decoded(const Image& normal) {
    std::vector<Finding> out;
    const DecodeResult decoded = DecodeImage(normal, normal.name);
    if (!decoded.ok) {
      out.push_back({-1, 0, {}, "", "the image cannot be decoded: " + decoded.error});
      return out;
    }
    for (const ByteRun& run : decoded.differences) {
      Finding f;
      f.offset = run.offset;
      f.size = static_cast<int>(run.source.size());
      if (!run.field_names.empty()) f.field = run.field_names.front();
      if (run.source.empty()) {
        f.message = "the image ends here; an INI file renders " + std::to_string(run.rendered.size()) +
                    " more byte(s): " + HexBytes(run.rendered);
      } else {
        f.message = "no INI file gives " + HexBytes(run.source) + " here (an INI file renders " +
                    HexBytes(run.rendered) + ")";
      }
      if (run.field_names.size() > 1) f.message += " in " + run.fields;
      for (const DecodeNote& note : decoded.notes) {
        const bool about_run = std::any_of(run.field_names.begin(), run.field_names.end(), [&note](const std::string& n) {
          return n == note.key || (n.size() > note.key.size() && n.compare(n.size() - note.key.size(), note.key.size(), note.key) == 0 &&
                                   n[n.size() - note.key.size() - 1] == '.');
        });
        if (about_run) {
          f.message += ": " + note.message;
          break;
        }
      }
      out.push_back(std::move(f));
    }
    return out;
  }

  void Blocks() {
    const bool filter_on = (b_.U8(0x0A) & 1) != 0;
    const int filter_length = b_.U8(kSlotWakeFilter);
    if (filter_on && filter_length == 0) {
      Add(kSlotWakeFilter, 2, "WakeFilter.slot", "PMEWUFFEnable is set but there is no wake-up filter block");
    } else if (!filter_on && filter_length != 0) {
      Add(kSlotWakeFilter, 2, "WakeFilter.slot", "a wake-up filter block is present but PMEWUFFEnable is clear");
    }
    long at = 0;
    if (filter_length != 0) {
      if (filter_length != kWakeFilterBytes) {
        Add(kSlotWakeFilter, 1, "WakeFilter.slot", "the wake-up filter block has " +
                                                       std::to_string(filter_length) + " bytes, not 20");
      } else if (Locate(kSlotWakeFilter, "WakeFilter", kWakeFilterBytes, at)) {
        Filter(at);
      }
    }
    const struct {
      int slot;
      int size;
      const char* name;
    } blocks[] = {{kSlotLtmBelt, kLtmBeltBytes, "LTMBELT"}, {kSlotTestBus, kTestBusBytes, "CommonTestBus"}};
    for (const auto& block : blocks) {
      const int length = b_.U8(block.slot);
      if (length == 0) continue;
      if (length != block.size) {
        Add(block.slot, 1, std::string(block.name) + ".slot",
            std::string("the ") + block.name + " block has " + std::to_string(length) + " bytes, not " +
                std::to_string(block.size));
        continue;
      }
      Locate(block.slot, block.name, block.size, at);
    }
    // No two items may share bytes.
    std::stable_sort(spans_.begin(), spans_.end(), [](const Span& x, const Span& y) { return x.begin < y.begin; });
    for (size_t i = 1; i < spans_.size(); ++i) {
      if (spans_[i].begin < spans_[i - 1].end) {
        Add(static_cast<int>(spans_[i].begin), static_cast<int>(std::min(spans_[i].end, spans_[i - 1].end) - spans_[i].begin),
            spans_[i].name, spans_[i].name + " overlaps " + spans_[i - 1].name);
      }
    }
  }

  void Filter(long at) {
    const uint8_t control = b_.U8(at + 3);
    if ((control & 0x80) == 0 || (control & 0x7C) != 0 || (control & 3) > 2) {
      Add(static_cast<int>(at + 3), 1, "WakeFilter.control",
          "control byte " + Hex(control, 2) + ": bit 7 must be set, bits 6 to 2 clear and the address type 0 to 2");
    }
    FilterMask mask{};
    for (size_t i = 0; i < mask.size(); ++i) mask[i] = b_.U8(at + 4 + static_cast<long>(i));
    const uint16_t crc = b_.U16(at);
    if (!SolveFilterPattern(mask, crc)) {
      Add(static_cast<int>(at), 2, "WakeFilter.crc",
          "no pattern with this mask has the checksum " + Hex(crc, 4));
    }
  }

  void Trailing() {
    int extent = facts_->string_start;
    for (const Span& s : spans_) extent = std::max(extent, static_cast<int>(s.end));
    int first = -1;
    int last = -1;
    for (int i = extent; i < static_cast<int>(b_.size()); ++i) {
      if (b_.U8(i) == 0) continue;
      if (first < 0) first = i;
      last = i;
    }
    if (first >= 0) {
      Add(first, last + 1 - first, "Trailing",
          "nonzero bytes after the end of the image at " + Hex(static_cast<uint32_t>(extent), 2));
    }
  }

  struct Span {
    long begin;
    long end;
    std::string name;
  };

  const Image& image_;
  ByteView b_;
  CheckReport& report_;
  int bias_;
  DecodeMemo* memo_;
  size_t identity_findings_ = 0;  // findings about the MAC address and the serial number's characters
  const LayoutFacts* facts_ = nullptr;
  std::vector<Span> spans_;
};

std::string Describe(const Image& image) {
  std::string text;
  if (image.kind == ImageKind::kEeprom || image.kind == ImageKind::kOtpFirst ||
      image.kind == ImageKind::kOtpSecond) {
    text = std::string(LayoutName(image.layout)) + " " + KindName(image.kind);
  } else {
    text = KindName(image.kind);
  }
  const size_t bytes = image.kind == ImageKind::kOtpSecond ? image.bytes.size() : image.raw.size();
  return text + ", " + std::to_string(bytes) + " bytes";
}

// What an OTP holds and the room left, as the write command judges it.
std::string OtpState(const Image& image) {
  switch (image.kind) {
    case ImageKind::kOtpEmpty:
      return "empty: a first configuration (0xF3) can be written";
    case ImageKind::kOtpFirst: {
      std::array<uint8_t, kOtpBytes> otp{};
      std::copy(image.raw.begin(), image.raw.begin() + static_cast<long>(std::min(image.raw.size(), otp.size())),
                otp.begin());
      const int used = OtpBytesUsed(otp.data());
      return "first configuration (0xF3) using " + std::to_string(used) + " bytes: " +
             (used > 256 ? "no second configuration can be written"
                         : "a second configuration (0xF7) can be written");
    }
    case ImageKind::kOtpSecond:
      return "second configuration (0xF7): the OTP is full";
    case ImageKind::kOtpInvalidated:
      return "invalidated (0xFF): the OTP is no longer used";
    case ImageKind::kOtpInvalid:
      return "invalid signature: the OTP cannot be written";
    case ImageKind::kEeprom:
      break;
  }
  return "";
}

}  // namespace

const std::vector<Finding>* DecodeMemo::Find(const std::string& key) const {
  auto it = verdicts_.find(key);
  return it == verdicts_.end() ? nullptr : &it->second;
}

void DecodeMemo::Keep(const std::string& key, std::vector<Finding> findings) {
  if (verdicts_.size() >= kMaxVerdicts) verdicts_.clear();
  verdicts_[key] = std::move(findings);
}

CheckReport CheckImage(const Image& image, DecodeMemo* memo) {
  CheckReport report;
  report.description = Describe(image);
  if (image.otp_memory) report.otp_state = OtpState(image);
  Checker(image, report, memo).Run();
  return report;
}

void CheckOtpTarget(const Image& otp, const Image& target, CheckReport& report) {
  auto add = [&](int offset, const std::string& message) {
    Finding f;
    f.offset = offset;
    f.size = offset >= 0 ? 1 : 0;
    if (offset >= 0 && static_cast<size_t>(offset) < otp.raw.size()) f.raw = {otp.raw[static_cast<size_t>(offset)]};
    f.field = "target";
    f.message = message;
    report.findings.push_back(std::move(f));
  };
  if (!otp.otp_memory) {
    add(-1, "the target applies to an OTP only; this source is an EEPROM image");
    return;
  }
  if (target.kind != ImageKind::kOtpFirst && target.kind != ImageKind::kOtpSecond) {
    add(-1, "the target " + target.name + " is no OTP configuration (0xF3 or 0xF7)");
    return;
  }
  // The state rules of the OTP write command.
  const uint8_t state = otp.raw.empty() ? 0 : otp.raw[0];
  if (state == kSigOtpSecond) {
    add(-1, "the OTP is full (0xF7): the tool writes no further configuration");
  } else if (state == kSigOtpFirst) {
    std::array<uint8_t, kOtpBytes> copy{};
    std::copy(otp.raw.begin(), otp.raw.begin() + static_cast<long>(std::min(otp.raw.size(), copy.size())),
              copy.begin());
    const int used = OtpBytesUsed(copy.data());
    if (used > 256) {
      add(-1, "the first configuration uses " + std::to_string(used) + " bytes: the tool writes no second one");
    } else if (target.kind != ImageKind::kOtpSecond) {
      add(-1, "the OTP holds a first configuration: the target must be a second configuration (0xF7)");
    }
  } else if (state == 0) {
    if (target.kind != ImageKind::kOtpFirst) {
      add(-1, "the OTP is empty: the target must be a first configuration (0xF3)");
    }
  } else {
    add(0, "the OTP's signature " + Hex(state, 2) + " allows no write");
  }

  // Every byte the write programs: the OTP keeps old OR new, so a bit that
  // is 1 in the OTP and 0 in the target cannot be programmed.
  const int count = static_cast<int>(target.bytes.size());
  const int start = target.kind == ImageKind::kOtpSecond ? 257 : 1;
  if (count < 1 || count - 1 > kOtpBytes - start) {
    add(-1, "the target (" + std::to_string(count) + " bytes) does not fit the OTP from offset " +
                std::to_string(start));
    return;
  }
  int conflicts = 0;
  int first = -1;
  auto compare = [&](int otp_offset, uint8_t wanted) {
    const uint8_t held = static_cast<size_t>(otp_offset) < otp.raw.size() ? otp.raw[static_cast<size_t>(otp_offset)] : 0;
    if ((held & ~wanted) == 0) return;
    if (first < 0) first = otp_offset;
    ++conflicts;
  };
  compare(0, target.bytes[0]);
  for (int i = 1; i < count; ++i) compare(start + i - 1, target.bytes[static_cast<size_t>(i)]);
  if (conflicts > 0) {
    add(first, std::to_string(conflicts) + " OTP byte" + (conflicts == 1 ? "" : "s") +
                   " would need a bit cleared, first at OTP offset " + Hex(static_cast<uint32_t>(first), 3));
  }
}

}  // namespace img
