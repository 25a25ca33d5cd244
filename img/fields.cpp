#include "img/fields.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "img/layout_facts.h"

namespace img {

namespace {

// Collects fields, skipping any that do not lie wholly inside the image.
class FieldList {
 public:
  explicit FieldList(const Image& image) : b_(image.bytes) {}

  Field* Add(const std::string& name, int offset, int size, FieldFormat format) {
    if (!b_.Has(offset, size)) return nullptr;
    Field f;
    f.name = name;
    f.offset = offset;
    f.size = size;
    f.raw = b_.Slice(offset, size);
    f.format = format;
    switch (size) {
      case 1: f.number = b_.U8(offset); break;
      case 2: f.number = b_.U16(offset); break;
      case 4: f.number = b_.U32(offset); break;
      default: break;
    }
    fields_.push_back(std::move(f));
    return &fields_.back();
  }

  void Bit(const std::string& name, int offset, int bit) {
    if (Field* f = Add(name, offset, 1, FieldFormat::kBit)) {
      f->number = (f->number >> bit) & 1u;
      f->partial = true;
    }
  }

  void Masked(const std::string& name, int offset, uint8_t mask) {
    if (Field* f = Add(name, offset, 1, FieldFormat::kHex8)) {
      f->number &= mask;
      f->partial = true;
    }
  }

  void Nibble(const std::string& name, int offset, bool high) {
    if (Field* f = Add(name, offset, 1, FieldFormat::kDecimal)) {
      f->number = high ? f->number >> 4 : f->number & 0x0F;
      f->partial = true;
    }
  }

  // Bytes before `end` that no field holds (a gap between items that their
  // slots leave, or an image of no known layout), in runs of at most 16
  // named after their offset: "Bytes.0x07".
  void Uncovered(int end) {
    std::vector<bool> covered(static_cast<size_t>(std::max(end, 0)), false);
    for (const Field& f : fields_) {
      for (int i = f.offset; i < f.offset + f.size && i < end; ++i) covered[static_cast<size_t>(i)] = true;
    }
    for (int at = 0; at < end;) {
      if (covered[static_cast<size_t>(at)]) {
        ++at;
        continue;
      }
      int n = 0;
      while (at + n < end && n < 16 && !covered[static_cast<size_t>(at + n)]) ++n;
      char name[24];
      std::snprintf(name, sizeof name, "Bytes.0x%02X", static_cast<unsigned>(at));
      Add(name, at, n, FieldFormat::kBytes);
      at += n;
    }
  }

  std::vector<Field> Take() { return std::move(fields_); }

 private:
  ByteView b_;
  std::vector<Field> fields_;
};

struct SlotInfo {
  int slot;
  const char* name;
  bool is_string;
};

constexpr SlotInfo kSlots[] = {
    {kSlotManufacturer, "ManufacturerString", true},
    {kSlotProduct, "ProductString", true},
    {kSlotSerial, "CurrentSerialNumber", true},
    {kSlotConfiguration, "ConfigurationString", true},
    {kSlotInterface, "InterfaceString", true},
    {kSlotBos, "BOS", false},
    {kSlotSsDevice, "SuperSpeedDevice", false},
    {kSlotSsConfig, "SuperSpeedConfiguration", false},
    {kSlotHsDevice, "HighSpeedDevice", false},
    {kSlotHsConfig, "HighSpeedConfiguration", false},
    {kSlotDevice3, "Device3", false},
    {kSlotConfig3, "Configuration3", false},
    {kSlotWakeFilter, "WakeFilter", false},
    {kSlotLtmBelt, "LTMBELT", false},
    {kSlotTestBus, "CommonTestBus", false},
};

// Where a slot's item lies: byte offset and length, or invalid.
struct Span {
  bool present = false;
  bool valid = false;
  int offset = 0;
  int length = 0;
};

Span LocateItem(const Image& image, int slot, bool is_string) {
  const ByteView b(image.bytes);
  Span span;
  const int length = b.U8(slot);
  if (!b.Has(slot, 2) || length == 0) return span;
  span.present = true;
  const int word = b.U8(slot + 1) - BiasWords(image.kind);
  if (is_string) {
    if (length < 2) return span;
    span.length = 2 * (length / 2);  // header word and n characters
  } else {
    span.length = length;
  }
  if (word < 0) return span;
  span.offset = 2 * word;
  span.valid = b.Has(span.offset, span.length);
  return span;
}

// Whether a present item's slot has a length the builder writes: a string
// of at least one character (two bytes per character plus two) whose own
// descriptor starts with that length and type 3, or a block of its size.
bool SlotLengthWellFormed(const Image& image, const SlotInfo& s) {
  const ByteView b(image.bytes);
  const int length = b.U8(s.slot);
  if (length == 0) return true;
  const Span span = LocateItem(image, s.slot, s.is_string);
  if (!span.valid) return false;
  if (s.is_string) {
    return length >= 4 && length % 2 == 0 && b.U8(span.offset) == length && b.U8(span.offset + 1) == 0x03;
  }
  switch (s.slot) {
    case kSlotWakeFilter: return length == kWakeFilterBytes;
    case kSlotLtmBelt: return length == kLtmBeltBytes;
    case kSlotTestBus: return length == kTestBusBytes;
    default: return true;  // fixed descriptors: their expected slot bytes say it
  }
}

// The slot bytes the builder writes for this image's items.
std::array<uint8_t, 0x43> CanonicalSlots(const Image& image, const LayoutFacts& facts) {
  const ByteView b(image.bytes);
  const int bias = BiasWords(image.kind);
  std::array<uint8_t, 0x43> expected{};
  auto set = [&](int slot, int length, int byte_offset) {
    expected[static_cast<size_t>(slot)] = static_cast<uint8_t>(length);
    expected[static_cast<size_t>(slot + 1)] =
        length == 0 ? 0 : static_cast<uint8_t>(bias + byte_offset / 2);
  };
  set(kSlotBos, facts.bos_length, kBosOffset);
  set(kSlotSsDevice, facts.super_speed ? kDeviceDescriptorBytes : 0, facts.ss_device);
  set(kSlotSsConfig, facts.super_speed ? kConfigPairBytes : 0, facts.ss_config);
  set(kSlotHsDevice, kDeviceDescriptorBytes, facts.hs_device);
  set(kSlotHsConfig, kConfigPairBytes, facts.hs_config);
  set(kSlotDevice3, kDeviceDescriptorBytes, facts.hs_device);
  set(kSlotConfig3, kConfigPairBytes, facts.hs_config);
  int at = facts.string_start;
  for (const StringSlot& s : kStringSlots) {
    const int length = b.U8(s.slot);
    if (length == 0) continue;
    set(s.slot, length, at);
    at += 2 * (length / 2);
  }
  const struct {
    int slot;
    int size;
  } blocks[] = {{kSlotWakeFilter, kWakeFilterBytes}, {kSlotLtmBelt, kLtmBeltBytes},
                {kSlotTestBus, kTestBusBytes}};
  for (const auto& block : blocks) {
    if (b.U8(block.slot) == 0) continue;
    set(block.slot, block.size, at);
    at += block.size;
  }
  return expected;
}

void DeviceFields(FieldList& list, const std::string& prefix, int at) {
  list.Add(prefix + ".header", at, 2, FieldFormat::kBytes);
  list.Add(prefix + ".bcdUSB", at + 2, 2, FieldFormat::kHex16);
  list.Add(prefix + ".class", at + 4, 3, FieldFormat::kBytes);
  list.Add(prefix + ".maxPacketSize", at + 7, 1, FieldFormat::kDecimal);
  list.Add(prefix + ".VendorID", at + 8, 2, FieldFormat::kHex16);
  list.Add(prefix + ".ProductID", at + 10, 2, FieldFormat::kHex16);
  list.Add(prefix + ".bcdDevice", at + 12, 2, FieldFormat::kHex16);
  list.Add(prefix + ".iManufacturer", at + 14, 1, FieldFormat::kDecimal);
  list.Add(prefix + ".iProduct", at + 15, 1, FieldFormat::kDecimal);
  list.Add(prefix + ".iSerialNumber", at + 16, 1, FieldFormat::kDecimal);
  list.Add(prefix + ".numConfigurations", at + 17, 1, FieldFormat::kDecimal);
}

void ConfigurationFields(FieldList& list, const std::string& prefix, int at, int power_unit) {
  list.Add(prefix + "Configuration.header", at, 2, FieldFormat::kBytes);
  list.Add(prefix + "Configuration.wTotalLength", at + 2, 2, FieldFormat::kHex16);
  list.Add(prefix + "Configuration.numInterfaces", at + 4, 1, FieldFormat::kDecimal);
  list.Add(prefix + "Configuration.configurationValue", at + 5, 1, FieldFormat::kDecimal);
  list.Add(prefix + "Configuration.iConfiguration", at + 6, 1, FieldFormat::kDecimal);
  list.Add(prefix + "Configuration.attributes", at + 7, 1, FieldFormat::kHex8);
  if (Field* f = list.Add(prefix + "Configuration.maxPower", at + 8, 1, FieldFormat::kPower)) {
    f->number *= static_cast<uint64_t>(power_unit);
  }
  list.Add(prefix + "Interface.header", at + 9, 8, FieldFormat::kBytes);
  list.Add(prefix + "Interface.iInterface", at + 17, 1, FieldFormat::kDecimal);
}

}  // namespace

int ImageExtent(const Image& image) {
  const int size = static_cast<int>(image.bytes.size());
  const LayoutFacts* facts = FactsOf(image.layout);
  if (facts == nullptr) return size;
  int extent = std::min(size, facts->string_start);
  for (const SlotInfo& s : kSlots) {
    const Span span = LocateItem(image, s.slot, s.is_string);
    if (span.valid) extent = std::max(extent, span.offset + span.length);
  }
  return extent;
}

std::vector<Field> ImageFields(const Image& image) {
  FieldList list(image);
  const ByteView b(image.bytes);
  list.Add("Signature", 0x00, 1, FieldFormat::kHex8);
  if (Field* f = list.Add("CurrentMacAddress", 0x01, 6, FieldFormat::kMac)) f->identity = true;
  const LayoutFacts* facts = FactsOf(image.layout);
  if (facts == nullptr) {
    list.Uncovered(static_cast<int>(image.bytes.size()));
    return list.Take();
  }

  list.Add("GPIOWake", 0x07, 2, FieldFormat::kHex16);
  const char* const pme0[] = {"PMEPerfectDAEnable", "PMEMagicPacketEnable", "GPIOPMEWOLSelect",
                              "GPIOBufferType",     "GPIOPMEPolarity",      "GPIOPMELength",
                              "GPIOPMEConfiguration", "GPIOPMEEnable"};
  for (int bit = 7; bit >= 0; --bit) list.Bit(pme0[bit], 0x09, bit);
  list.Bit("GPIOConnectBufferType", 0x0A, 6);
  list.Bit("GPIOConnectEnable", 0x0A, 5);
  list.Bit("GPIOConnectPolarity", 0x0A, 4);
  list.Bit("PMEWUFFEnable", 0x0A, 0);
  list.Masked("Reserved0A", 0x0A, 0x8E);
  for (int led = 3; led >= 0; --led) list.Bit("LED" + std::to_string(led) + "Enable", 0x0B, led);
  list.Masked("Reserved0B", 0x0B, 0xF0);
  list.Nibble("LED1Function", 0x0C, true);
  list.Nibble("LED0Function", 0x0C, false);
  list.Nibble("LED3Function", 0x0D, true);
  list.Nibble("LED2Function", 0x0D, false);
  list.Add("GPIOWakePolarity", 0x0E, 2, FieldFormat::kHex16);
  list.Add("FSPollInterval", 0x10, 1, FieldFormat::kDecimal);
  list.Add("HSPollInterval", 0x11, 1, FieldFormat::kDecimal);
  list.Add("SSPollInterval", 0x12, 1, FieldFormat::kDecimal);
  list.Add("ConfigFlags0", 0x13, 4, FieldFormat::kHex32);
  list.Add("ConfigFlags1", 0x17, 4, FieldFormat::kHex32);
  list.Add("ConfigFlags2", 0x1B, 4, FieldFormat::kHex32);
  list.Add("ConfigFlags3", 0x1F, 4, FieldFormat::kHex32);
  list.Add("LanguageID", 0x23, 2, FieldFormat::kHex16);

  const std::array<uint8_t, 0x43> canonical = CanonicalSlots(image, *facts);
  for (const SlotInfo& s : kSlots) {
    if (Field* f = list.Add(std::string(s.name) + ".slot", s.slot, 2, FieldFormat::kSlot)) {
      f->number = f->raw[0];
      f->word = f->raw[1];
      // Where a string or block stands follows from the sizes of the items
      // before it; a fixed descriptor's slot is fixed by the layout.
      f->placement = s.is_string || s.slot == kSlotWakeFilter || s.slot == kSlotLtmBelt || s.slot == kSlotTestBus;
      f->identity = s.slot == kSlotSerial;  // its length is the serial number's
      f->canonical = f->raw[0] == canonical[static_cast<size_t>(s.slot)] &&
                     f->raw[1] == canonical[static_cast<size_t>(s.slot + 1)] && SlotLengthWellFormed(image, s);
    }
  }

  list.Add("USB3PllTestBusIn", 0x43, 2, FieldFormat::kHex16);
  list.Add("USB2AFETestBusIn", 0x45, 1, FieldFormat::kHex8);
  list.Add("Reserved46", 0x46, 2, FieldFormat::kHex16);
  list.Add("GPIOData", 0x48, 2, FieldFormat::kHex16);
  list.Add("GPIODirection", 0x4A, 2, FieldFormat::kHex16);
  list.Add("GPIOBuffer", 0x4C, 2, FieldFormat::kHex16);
  // Stored inverted.
  if (Field* f = list.Add("GPIOEnable", 0x4E, 2, FieldFormat::kHex16)) f->number = ~f->number & 0xFFFF;
  list.Add("USB3AFETestBusIn0", 0x50, 4, FieldFormat::kHex32);
  list.Add("USB3AFETestBusIn1", 0x54, 4, FieldFormat::kHex32);
  list.Add("LEDBehavior", 0x58, 2, FieldFormat::kHex16);
  list.Add("ConfigFlags4", 0x5A, 4, FieldFormat::kHex32);
  list.Add("ConfigFlags5", 0x5E, 4, FieldFormat::kHex32);

  list.Add("BOS.header", kBosOffset, 5, FieldFormat::kBytes);
  list.Add("USB2Extension.header", 0x67, 3, FieldFormat::kBytes);
  list.Add("USB2ExtAttributes", 0x6A, 4, FieldFormat::kHex32);
  if (facts->super_speed) {
    list.Add("SuperSpeedCapability.header", 0x6E, 3, FieldFormat::kBytes);
    list.Add("SuperSpeedCapability.attributes", 0x71, 1, FieldFormat::kHex8);
    list.Add("SpeedsSupported", 0x72, 2, FieldFormat::kHex16);
    list.Add("FunctionalitySupport", 0x74, 1, FieldFormat::kHex8);
    list.Add("U1DevExitLatency", 0x75, 1, FieldFormat::kHex8);
    list.Add("U2DevExitLatency", 0x76, 2, FieldFormat::kHex16);
    DeviceFields(list, "SuperSpeedDevice", facts->ss_device);
    ConfigurationFields(list, "SuperSpeed", facts->ss_config, 8);
  }
  DeviceFields(list, "HighSpeedDevice", facts->hs_device);
  ConfigurationFields(list, "HighSpeed", facts->hs_config, 2);

  // The strings, where their slots place them.
  for (const StringSlot& s : kStringSlots) {
    const Span span = LocateItem(image, s.slot, true);
    if (!span.valid) continue;
    if (Field* f = list.Add(s.key, span.offset, span.length, FieldFormat::kText)) {
      f->canonical = f->raw[0] == b.U8(s.slot) && f->raw[1] == 0x03;
      for (int i = 2; i + 1 < span.length; i += 2) {
        const uint8_t low = f->raw[static_cast<size_t>(i)];
        f->text.push_back(static_cast<char>(low));
        // The builder widens each character by its sign.
        if (f->raw[static_cast<size_t>(i + 1)] != (low >= 0x80 ? 0xFF : 0x00)) f->canonical = false;
      }
      f->number = f->text.size();
      f->identity = s.slot == kSlotSerial;
    }
  }

  // The optional blocks.
  const Span filter = LocateItem(image, kSlotWakeFilter, false);
  if (filter.valid && filter.length >= kWakeFilterBytes) {
    list.Add("WakeFilter.crc", filter.offset, 2, FieldFormat::kHex16);
    list.Add("FilterPatternOffset", filter.offset + 2, 1, FieldFormat::kDecimal);
    list.Add("WakeFilter.control", filter.offset + 3, 1, FieldFormat::kHex8);
    list.Add("WakeFilter.mask", filter.offset + 4, 16, FieldFormat::kBytes);
  }
  const Span ltm = LocateItem(image, kSlotLtmBelt, false);
  if (ltm.valid && ltm.length >= kLtmBeltBytes) {
    const char* const words[] = {"LTMBELTIdle0",   "LTMBELTIdle1",     "LTMBELTActive0",
                                 "LTMBELTActive1", "LTMBELTInActive0", "LTMBELTInActive1"};
    for (int i = 0; i < 6; ++i) list.Add(words[i], ltm.offset + 4 * i, 4, FieldFormat::kHex32);
  }
  const Span bus = LocateItem(image, kSlotTestBus, false);
  if (bus.valid && bus.length >= kTestBusBytes) {
    list.Add("CommonTestBusIn", bus.offset, 4, FieldFormat::kHex32);
  }

  // Anything but zeros after the image.
  const int extent = ImageExtent(image);
  int last = static_cast<int>(image.bytes.size()) - 1;
  while (last >= extent && b.U8(last) == 0) --last;
  if (last >= extent) list.Add("Trailing", extent, last + 1 - extent, FieldFormat::kBytes);
  list.Uncovered(extent);
  return list.Take();
}

std::string FieldValueText(const Field& field) {
  char text[64];
  switch (field.format) {
    case FieldFormat::kHex8:
      std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(field.number));
      return text;
    case FieldFormat::kHex16:
      std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(field.number));
      return text;
    case FieldFormat::kHex32:
      std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(field.number));
      return text;
    case FieldFormat::kDecimal:
    case FieldFormat::kBit:
      return std::to_string(field.number);
    case FieldFormat::kPower:
      return std::to_string(field.number) + " mA";
    case FieldFormat::kMac: {
      std::string mac;
      for (size_t i = 0; i < field.raw.size(); ++i) {
        std::snprintf(text, sizeof text, i == 0 ? "%02X" : ":%02X", field.raw[i]);
        mac += text;
      }
      return mac;
    }
    case FieldFormat::kText: {
      // Printable ASCII as it is, every other byte as \xNN.
      std::string out = "\"";
      for (char c : field.text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F && c != '"' && c != '\\') {
          out.push_back(c);
        } else {
          std::snprintf(text, sizeof text, "\\x%02X", u);
          out += text;
        }
      }
      out += "\"";
      if (!field.canonical) out += " (" + HexBytes(field.raw) + ")";
      return out;
    }
    case FieldFormat::kBytes:
      return HexBytes(field.raw);
    case FieldFormat::kSlot:
      if (field.number == 0 && field.word == 0) return "absent";
      std::snprintf(text, sizeof text, "%u bytes at word 0x%02X", static_cast<unsigned>(field.number),
                    static_cast<unsigned>(field.word));
      return text;
  }
  return "";
}

bool SameValue(const Field& a, const Field& b) {
  if (a.partial || b.partial) return a.partial == b.partial && a.number == b.number;
  return a.raw == b.raw;
}

std::vector<std::string> FieldNamesAt(const std::vector<Field>& fields, int offset, int size) {
  std::vector<std::string> names;
  for (const Field& f : fields) {
    if (f.offset >= offset + size || f.offset + f.size <= offset) continue;
    names.push_back(f.name);
  }
  return names;
}

std::string FieldsAt(const std::vector<Field>& fields, int offset, int size) {
  std::string joined;
  for (const std::string& name : FieldNamesAt(fields, offset, size)) {
    if (!joined.empty()) joined += ", ";
    joined += name;
  }
  return joined;
}

}  // namespace img
