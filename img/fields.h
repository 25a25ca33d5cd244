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
  bool partial = false;    // some bits of a byte: two images compare by `number`, not `raw`
  bool placement = false;  // a slot's bytes, which follow from the items' sizes
  // The bytes are what the image builder writes for this value: for a slot,
  // a well-formed length and the word offset that the items before it give;
  // for a string, its own length and type 3 in front and every character
  // one byte widened to two.
  bool canonical = true;
};

// Every field of the image in `image.layout` (the signature and the MAC
// address alone when the layout is unknown), in offset order of the header
// and the fixed descriptors, then the strings, the optional blocks, nonzero
// bytes after the image, and last the bytes no field holds ("Bytes.0x07",
// runs of at most 16), so that every byte of the image is in some field.
std::vector<Field> ImageFields(const Image& image);

// The value as text: "0x1F7B", "00:80:0F:53:00:01", "\"ORN\"", "22 bytes at
// word 0x31". A string whose bytes are not what the builder writes for its
// characters also shows its bytes: "\"ORN\" (08 03 4F 00 52 02 4E 00)".
std::string FieldValueText(const Field& field);

// True when two fields of the same name hold the same value: the same bits
// for a partial field, the same bytes for every other.
bool SameValue(const Field& a, const Field& b);

// The end of the image: the end of the fixed area or of the last item a
// valid slot names, whichever is further, within the bytes present.
int ImageExtent(const Image& image);

// The names of the fields that cover any byte of [offset, offset + size).
std::vector<std::string> FieldNamesAt(const std::vector<Field>& fields, int offset, int size);
// The same names joined with ", ".
std::string FieldsAt(const std::vector<Field>& fields, int offset, int size);

}  // namespace img
