// The fields of an image, one by one: name, offset, size, raw bytes and
// value. Fields that stand for an INI key carry the key's name
// (`CurrentMacAddress`, `GPIOWake`, `LED1Function`); the others are named
// after the descriptor and its member (`HighSpeedDevice.bcdUSB`,
// `ManufacturerString.slot`). The walk reads only bytes inside the image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "img/image.h"

namespace img {

enum class FieldFormat {
  kHex8,
  kHex16,
  kHex32,
  kDecimal,
  kBit,     // one bit of a byte: 0 or 1
  kMac,
  kText,    // a string descriptor's characters, one byte each
  kBytes,   // raw bytes
  kSlot,    // a descriptor slot: length and word offset
  kPower,   // a maximum power byte, the value in mA
};

struct Field {
  std::string name;
  int offset = 0;  // image byte offset
  int size = 0;
  std::vector<uint8_t> raw;
  FieldFormat format = FieldFormat::kHex8;
  uint64_t number = 0;  // numeric value (slots: length; texts: character count)
  std::string text;     // kText: the characters; kMac: unused
  int word = 0;         // kSlot: the word offset as stored
  bool identity = false;   // the device identity: MAC address and serial number
  bool placement = false;  // a slot's bytes, which follow from the items' sizes
  bool canonical = true;   // placement: the slot holds what the image builder would write
};

// Every field of the image in `image.layout` (the header alone when the
// layout is unknown), in offset order of the header and the fixed
// descriptors, then the strings, the optional blocks and nonzero bytes
// after the image.
std::vector<Field> ImageFields(const Image& image);

// The value as text: "0x1F7B", "00:80:0F:53:00:01", "\"ORN\"", "22 @ word 0x31".
std::string FieldValueText(const Field& field);

// The end of the image: the end of the fixed area or of the last item a
// valid slot names, whichever is further, within the bytes present.
int ImageExtent(const Image& image);

// The fields that cover byte `offset`, by name, joined with ", ".
std::string FieldsAt(const std::vector<Field>& fields, int offset, int size);

}  // namespace img
