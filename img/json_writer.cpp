#include "img/json_writer.h"

#include <cmath>
#include <cstdio>

#ifndef ORN_VERSION_STRING
#define ORN_VERSION_STRING "0"
#endif

namespace img {

namespace {

void AppendEscape(std::string& out, uint32_t code_unit) {
  char text[16];
  std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(code_unit));
  out += text;
}

void AppendCodePoint(std::string& out, uint32_t cp) {
  switch (cp) {
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    case '\b': out += "\\b"; return;
    case '\f': out += "\\f"; return;
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    default: break;
  }
  if (cp >= 0x20 && cp < 0x7F) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x10000) {
    AppendEscape(out, cp);
  } else {
    // A surrogate pair.
    const uint32_t v = cp - 0x10000;
    AppendEscape(out, 0xD800 + (v >> 10));
    AppendEscape(out, 0xDC00 + (v & 0x3FF));
  }
}

// Length of the valid UTF-8 sequence at `p` (at most `n` bytes left) and its
// code point; 0 when the bytes there are not valid UTF-8.
size_t DecodeUtf8(const unsigned char* p, size_t n, uint32_t& cp) {
  const unsigned char c = p[0];
  size_t length = 0;
  uint32_t min = 0;
  if (c < 0x80) {
    cp = c;
    return 1;
  } else if ((c & 0xE0) == 0xC0) {
    length = 2;
    cp = c & 0x1F;
    min = 0x80;
  } else if ((c & 0xF0) == 0xE0) {
    length = 3;
    cp = c & 0x0F;
    min = 0x800;
  } else if ((c & 0xF8) == 0xF0) {
    length = 4;
    cp = c & 0x07;
    min = 0x10000;
  } else {
    return 0;
  }
  if (length > n) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (p[i] & 0x3F);
  }
  // Overlong forms, surrogates and code points beyond Unicode are not UTF-8.
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string JsonWriter::Quote(std::string_view text, TextEncoding encoding) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t i = 0;
  while (i < text.size()) {
    uint32_t cp = p[i];
    size_t length = 1;
    if (encoding == TextEncoding::kUtf8 && p[i] >= 0x80) {
      length = DecodeUtf8(p + i, text.size() - i, cp);
      if (length == 0) {
        cp = p[i];
        length = 1;
      }
    }
    AppendCodePoint(out, cp);
    i += length;
  }
  out.push_back('"');
  return out;
}

void JsonWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!has_items_.empty()) {
    if (has_items_.back()) out_.push_back(',');
    has_items_.back() = true;
  }
}

void JsonWriter::BeginObject() {
  BeforeValue();
  out_.push_back('{');
  has_items_.push_back(false);
}

void JsonWriter::EndObject() {
  out_.push_back('}');
  has_items_.pop_back();
}

void JsonWriter::BeginArray() {
  BeforeValue();
  out_.push_back('[');
  has_items_.push_back(false);
}

void JsonWriter::EndArray() {
  out_.push_back(']');
  has_items_.pop_back();
}

void JsonWriter::Key(std::string_view name) {
  if (!has_items_.empty()) {
    if (has_items_.back()) out_.push_back(',');
    has_items_.back() = true;
  }
  out_ += Quote(name);
  out_.push_back(':');
  after_key_ = true;
}

void JsonWriter::String(std::string_view text, TextEncoding encoding) {
  BeforeValue();
  out_ += Quote(text, encoding);
}

void JsonWriter::Number(int64_t value) {
  BeforeValue();
  out_ += std::to_string(value);
}

void JsonWriter::Unsigned(uint64_t value) {
  BeforeValue();
  out_ += std::to_string(value);
}

void JsonWriter::Real(double value) {
  BeforeValue();
  if (!std::isfinite(value)) {
    out_ += "null";
    return;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  out_ += text;
}

void JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ += value ? "true" : "false";
}

void JsonWriter::Null() {
  BeforeValue();
  out_ += "null";
}

CommandDocument::CommandDocument(int schema_version, const char* tool, const char* command) {
  j.BeginObject();
  j.Member("schema_version", schema_version);
  j.Member("tool", tool);
  j.Member("version", ORN_VERSION_STRING);
  j.Key("command");
  if (command != nullptr) {
    j.String(command);
  } else {
    j.Null();
  }
}

int CommandDocument::Finish(int code) {
  j.Member("exit_code", code);
  j.EndObject();
  std::fputs(j.str().c_str(), stdout);
  std::fputc('\n', stdout);
  return code;
}

int UsageErrorDocument(int schema_version, const char* tool, const std::string& command, const std::string& error,
                       int code) {
  CommandDocument doc(schema_version, tool, command.empty() ? nullptr : command.c_str());
  doc.j.Member("error", error);
  return doc.Finish(code);
}

}  // namespace img
