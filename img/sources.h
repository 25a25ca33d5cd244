// The sources every command takes: a binary file (an EEPROM image or an
// OTP file form), an INI file (rendered as -z would), standard input ("-",
// either of the two), or a device ("device" or "device:N" for adapter N),
// read through the request channel as -r reads it, without a single write.
#pragma once

#include <string>

#include "img/image.h"
#include "img/render.h"

namespace img {

struct SourceRef {
  SourceType type = SourceType::kFile;
  std::string path;             // file or INI path
  bool standard_input = false;  // "-": the bytes come from standard input
  bool type_given = false;      // "ini:" or "bin:" said what the file is
  int adapter = -1;             // device: -1 for the default adapter
  std::string text;             // as named on the command line
};

// "device", "device:N", "ini:PATH", "bin:PATH", a path ending in ".ini"
// (any case), "-" or any other path. False with `error` set for a malformed
// device adapter number or an empty path.
bool ParseSourceRef(const std::string& argument, SourceRef& ref, std::string& error);

// True when the bytes of a file are INI text rather than an image: no NUL
// byte, and the first character after blanks and line ends (and a UTF-8
// byte order mark) opens a section or a comment. No image starts so, and
// every image holds zeros.
bool LooksLikeIniText(const std::string& bytes);

struct SourceOptions {
  bool otp = false;                  // --otp
  bool eeprom = false;               // --eeprom
  Layout model = Layout::kUnknown;   // --model
  int eeprom_size = 0;               // --eeprom-size; 0 detects
  // Standard input, read once by the command (at most kMaxInputBytes of
  // it) when a source is "-"; null otherwise.
  const std::string* standard_input = nullptr;
  long long standard_input_size = 0;  // all bytes standard input held
};

// How much of standard input a command keeps: INI text can be told from an
// image and rendered; an image is far shorter.
constexpr size_t kMaxInputBytes = size_t{1} << 20;

struct Loaded {
  bool ok = false;
  std::string error;  // one line, when not ok
  std::string note;   // one line worth telling the user, may be empty
  Image image;
  Rendered rendered;  // INI sources
};

// Loads a source. INI sources are rendered in the layout and kind of
// `reference` when one is given (the other side of a diff, the OTP of a
// check target) that is not itself an INI file, and neither --model nor
// --otp says otherwise.
Loaded LoadSource(const SourceRef& ref, const SourceOptions& options,
                  const Image* reference = nullptr);

// The EEPROM size a 512-byte read shows without writing: a 256-byte part
// mirrors its bytes at 256 to 511. Equal halves mean 256 only when the first
// half holds an EEPROM image that ends within 256 bytes; otherwise 512.
int EepromSizeFromRead(const std::vector<uint8_t>& read512, bool& certain);

}  // namespace img
