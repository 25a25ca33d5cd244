// A small JSON writer: one document built in a string, objects and arrays
// opened and closed in order, commas placed by the writer. Text is escaped
// so that the document is plain ASCII: control characters and quotes as
// JSON escapes, UTF-8 text as \u escapes of its code points, and bytes that
// are not UTF-8 (and the bytes of image texts, which are one character per
// byte) as the code points U+0080 to U+00FF.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace img {

class JsonWriter {
 public:
  // How a text's bytes become characters.
  enum class TextEncoding {
    kUtf8,   // UTF-8 where the bytes are valid UTF-8, one character per other byte
    kBytes,  // one character per byte (U+0000 to U+00FF)
  };

  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  // The name of the next member of the current object.
  void Key(std::string_view name);

  void String(std::string_view text, TextEncoding encoding = TextEncoding::kUtf8);
  void Number(int64_t value);
  void Unsigned(uint64_t value);
  // A number with a fraction, to six significant digits; null when it is
  // not finite.
  void Real(double value);
  void Bool(bool value);
  void Null();

  // Shorthands for a member.
  void Member(std::string_view name, std::string_view text) { Key(name); String(text); }
  void Member(std::string_view name, const char* text) { Key(name); String(text); }
  void Member(std::string_view name, int64_t value) { Key(name); Number(value); }
  void Member(std::string_view name, int value) { Key(name); Number(value); }
  void Member(std::string_view name, bool value) { Key(name); Bool(value); }

  // The document so far.
  const std::string& str() const { return out_; }

  // The escaped form of a text, quotes included.
  static std::string Quote(std::string_view text, TextEncoding encoding = TextEncoding::kUtf8);

 private:
  void BeforeValue();

  std::string out_;
  // One entry per open container: true once it holds a member or element.
  std::vector<bool> has_items_;
  bool after_key_ = false;
};

// The one JSON document a command of the companion tools prints: it opens
// with the schema version, the tool, the tool's version and the command
// (null when the command line named none); Finish adds the exit code,
// closes it and prints it on standard output.
class CommandDocument {
 public:
  CommandDocument(int schema_version, const char* tool, const char* command);
  int Finish(int code);
  JsonWriter j;
};

// The document of a command line that was refused: `error` and the exit
// code. `command` may be empty.
int UsageErrorDocument(int schema_version, const char* tool, const std::string& command,
                       const std::string& error, int code);

}  // namespace img
