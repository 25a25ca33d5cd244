#include "img/commands.h"

#include <cstdio>
#include <memory>
#include <set>

#include "img/check.h"
#include "img/decode.h"
#include "img/diff.h"
#include "img/fields.h"
#include "img/fingerprint.h"
#include "img/json_writer.h"
#include "img/verify.h"

namespace img {

namespace {

using Encoding = JsonWriter::TextEncoding;

std::string OffsetText(int offset) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(offset));
  return text;
}

std::string ChipIdText(uint32_t chip_id) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(chip_id));
  return text;
}

void Message(const std::string& text) { std::fprintf(stderr, "orn5300img: %s\n", text.c_str()); }

// One JSON document for the command.
struct Document : CommandDocument {
  explicit Document(const char* command) : CommandDocument(kJsonSchemaVersion, "orn5300img", command) {}
};

// A failure that ends the command: the message, and with --json a document
// that says so.
int Fail(const ImgOptions& options, const char* command, const std::string& error) {
  Message(error);
  if (options.json) {
    Document doc(command);
    doc.j.Member("error", error);
    return doc.Finish(kImgError);
  }
  return kImgError;
}

void TextOrNull(JsonWriter& j, const std::string& key, const std::string& text) {
  j.Key(key);
  if (text.empty()) {
    j.Null();
  } else {
    j.String(text);
  }
}

void SourceJson(JsonWriter& j, const Image& image, const ImageFingerprint& print) {
  j.BeginObject();
  j.Member("name", image.name);
  j.Member("type", SourceTypeKey(image.source));
  j.Member("kind", KindKey(image.kind));
  j.Member("layout", LayoutName(image.layout));
  j.Member("layout_forced", image.layout_forced);
  j.Key("size");
  j.Number(image.source_size);
  j.Key("image_bytes");
  j.Number(static_cast<int64_t>(image.bytes.size()));
  const bool device = image.source == SourceType::kDevice;
  TextOrNull(j, "chip_id", device ? ChipIdText(image.chip_id) : "");
  j.Key("memory_size");
  if (device) {
    j.Number(image.memory_size);
  } else {
    j.Null();
  }
  TextOrNull(j, "image_sha256", print.present ? print.sha256 : "");
  j.Key("image_sha256_bytes");
  if (print.present) {
    j.Number(print.bytes);
  } else {
    j.Null();
  }
  j.EndObject();
}

void FieldJson(JsonWriter& j, const Field& f) {
  j.BeginObject();
  j.Member("name", f.name);
  j.Member("offset", f.offset);
  j.Member("size", f.size);
  j.Member("raw", HexBytes(f.raw, false));
  j.Key("value");
  switch (f.format) {
    case FieldFormat::kMac:
      j.String(FieldValueText(f));
      break;
    case FieldFormat::kText:
      j.String(f.text, Encoding::kBytes);
      break;
    case FieldFormat::kBytes:
      j.String(HexBytes(f.raw, false));
      break;
    case FieldFormat::kSlot:
      j.BeginObject();
      j.Key("length");
      j.Unsigned(f.number);
      j.Member("word_offset", f.word);
      j.EndObject();
      break;
    default:
      j.Unsigned(f.number);
      break;
  }
  if (f.identity) j.Member("identity", true);
  j.EndObject();
}

void FieldOrNull(JsonWriter& j, const std::optional<Field>& f) {
  if (f) {
    FieldJson(j, *f);
  } else {
    j.Null();
  }
}

bool LoadOne(const std::string& argument, const SourceOptions& options, const Image* reference,
             Loaded& loaded, std::string& error) {
  SourceRef ref;
  if (!ParseSourceRef(argument, ref, error)) return false;
  loaded = LoadSource(ref, options, reference);
  if (!loaded.ok) {
    error = loaded.error;
    return false;
  }
  if (!loaded.note.empty()) Message(loaded.note);
  return true;
}

bool WriteTextFile(const std::string& path, const std::string& text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

// "0x29 CurrentMacAddress (identity)"
std::string FieldLabel(int offset, const std::string& name, bool identity) {
  return (offset >= 0 ? OffsetText(offset) + " " : std::string()) + name + (identity ? " (identity)" : "");
}

// "NAME: image_sha256 HEX (the whole 512-byte EEPROM)", or empty.
std::string FingerprintLine(const std::string& name, const ImageFingerprint& print) {
  if (!print.present) return "";
  return name + ": image_sha256 " + print.sha256 + " (" + print.covers + ")\n";
}

void FindingJson(JsonWriter& j, const Finding& f) {
  j.BeginObject();
  j.Key("offset");
  if (f.offset >= 0) {
    j.Number(f.offset);
  } else {
    j.Null();
  }
  j.Member("size", f.size);
  j.Member("raw", HexBytes(f.raw, false));
  TextOrNull(j, "field", f.field);
  j.Member("message", f.message);
  j.EndObject();
}

// One entry of check's `sources`: the same members whether the source could
// be read or not.
void CheckEntryJson(JsonWriter& j, const std::string& argument, const Image* image, const ImageFingerprint* print,
                    const CheckReport* report, const std::string& error) {
  j.BeginObject();
  j.Member("name", argument);
  j.Key("source");
  if (image != nullptr) {
    SourceJson(j, *image, *print);
  } else {
    j.Null();
  }
  TextOrNull(j, "description", report != nullptr ? report->description : "");
  TextOrNull(j, "otp_state", report != nullptr ? report->otp_state : "");
  j.Member("ok", report != nullptr && report->findings.empty());
  j.Key("findings");
  j.BeginArray();
  if (report != nullptr) {
    for (const Finding& f : report->findings) FindingJson(j, f);
  }
  j.EndArray();
  j.Key("notes");
  j.BeginArray();
  if (report != nullptr) {
    for (const std::string& note : report->notes) j.String(note);
  }
  j.EndArray();
  TextOrNull(j, "error", error);
  j.EndObject();
}

}  // namespace

int RunDecode(const ImgOptions& options) {
  Loaded loaded;
  std::string error;
  if (!LoadOne(options.sources[0], options.source, nullptr, loaded, error)) {
    return Fail(options, "decode", error);
  }
  const Image& image = loaded.image;
  const ImageFingerprint print = FingerprintOf(image, options.source.eeprom_size);
  const std::string heading_note =
      print.present ? "image_sha256 " + print.sha256 + " (" + print.covers + "), as the production log records it"
                    : "";
  const DecodeResult result = DecodeImage(image, image.name, heading_note);
  if (!result.ok) return Fail(options, "decode", image.name + ": " + result.error);
  const bool to_stdout = !options.output || *options.output == "-";
  if (!to_stdout && !WriteTextFile(*options.output, result.ini)) {
    return Fail(options, "decode", "cannot write " + *options.output);
  }
  if (to_stdout && !options.json) std::fputs(result.ini.c_str(), stdout);

  // What the INI file cannot give, byte by byte, then why.
  for (const ByteRun& run : result.differences) {
    std::string line = OffsetText(run.offset) + ": ";
    if (run.source.empty()) {
      line += "the source ends here; the INI file renders " + std::to_string(run.rendered.size()) +
              " more byte(s): " + HexBytes(run.rendered);
    } else {
      line += HexBytes(run.source) + " cannot be given by an INI file; it renders " +
              HexBytes(run.rendered);
    }
    if (!run.fields.empty()) line += " (" + run.fields + ")";
    Message(image.name + ": " + line);
  }
  for (const DecodeNote& note : result.notes) Message(image.name + ": " + note.key + ": " + note.message);
  const int code = result.differences.empty() ? kImgMatch : kImgFindings;
  if (!options.json) return code;

  Document doc("decode");
  JsonWriter& j = doc.j;
  j.Key("source");
  SourceJson(j, image, print);
  j.Member("exact", result.differences.empty());
  j.Key("output");
  if (!to_stdout) {
    j.String(*options.output);
  } else {
    j.Null();
  }
  j.Key("ini");
  j.String(result.ini, Encoding::kBytes);
  j.Key("fields");
  j.BeginArray();
  for (const Field& f : ImageFields(image)) FieldJson(j, f);
  j.EndArray();
  j.Key("inexpressible");
  j.BeginArray();
  for (const ByteRun& run : result.differences) {
    j.BeginObject();
    j.Member("offset", run.offset);
    j.Member("size", static_cast<int>(run.rendered.size()));
    j.Member("source_raw", HexBytes(run.source, false));
    j.Member("rendered_raw", HexBytes(run.rendered, false));
    j.Key("field_names");
    j.BeginArray();
    for (const std::string& name : run.field_names) j.String(name);
    j.EndArray();
    j.EndObject();
  }
  j.EndArray();
  j.Key("notes");
  j.BeginArray();
  for (const DecodeNote& note : result.notes) {
    j.BeginObject();
    j.Member("key", note.key);
    j.Member("message", note.message);
    j.EndObject();
  }
  j.EndArray();
  return doc.Finish(code);
}

int RunCheck(const ImgOptions& options) {
  std::unique_ptr<Document> doc;
  if (options.json) {
    doc = std::make_unique<Document>("check");
    doc->j.Key("sources");
    doc->j.BeginArray();
  }
  int ok = 0;
  int with_findings = 0;
  int unreadable = 0;
  long findings = 0;
  DecodeMemo memo;
  std::string out;
  for (const std::string& argument : options.sources) {
    Loaded loaded;
    std::string error;
    if (!LoadOne(argument, options.source, nullptr, loaded, error)) {
      Message(error);
      ++unreadable;
      if (doc) CheckEntryJson(doc->j, argument, nullptr, nullptr, nullptr, error);
      continue;
    }
    const Image& image = loaded.image;
    CheckReport report = CheckImage(image, &memo);
    if (options.target) {
      // An INI target is rendered as the OTP write would: a second
      // configuration when the OTP holds a first one.
      Image next = image;
      next.source = SourceType::kFile;
      next.kind = image.kind == ImageKind::kOtpFirst ? ImageKind::kOtpSecond : ImageKind::kOtpFirst;
      SourceOptions target_options = options.source;
      target_options.otp = true;
      target_options.eeprom = false;
      SourceRef ref;
      if (!ParseSourceRef(*options.target, ref, error)) return Fail(options, "check", error);
      Loaded target = LoadSource(ref, target_options, &next);
      if (!target.ok && target.rendered.oversize) {
        // Too large for its file form: still an image whose fit the OTP
        // judges.
        target.image.source = SourceType::kIni;
        target.image.bytes = target.rendered.image;
        target.image.kind = target.rendered.kind;
        target.image.layout = target.rendered.layout;
        target.ok = true;
      }
      if (!target.ok) return Fail(options, "check", target.error);
      target.image.name = *options.target;
      CheckOtpTarget(image, target.image, report);
    }
    const ImageFingerprint print = FingerprintOf(image, options.source.eeprom_size);
    findings += static_cast<long>(report.findings.size());
    if (report.findings.empty()) {
      ++ok;
    } else {
      ++with_findings;
    }
    if (doc) {
      CheckEntryJson(doc->j, argument, &image, &print, &report, "");
      continue;
    }
    out = image.name + ": " + report.description;
    if (!report.otp_state.empty()) out += "; " + report.otp_state;
    out += report.findings.empty() ? ": ok\n"
                                   : ": " + std::to_string(report.findings.size()) +
                                         (report.findings.size() == 1 ? " finding\n" : " findings\n");
    out += FingerprintLine(image.name, print);
    for (const std::string& note : report.notes) out += image.name + ": note: " + note + "\n";
    for (const Finding& f : report.findings) {
      out += image.name + ": ";
      if (f.offset >= 0) out += OffsetText(f.offset) + " ";
      if (!f.field.empty()) out += f.field + ": ";
      out += f.message + "\n";
    }
    std::fputs(out.c_str(), stdout);
  }
  const int code = unreadable > 0 ? kImgError : with_findings > 0 ? kImgFindings : kImgMatch;
  const int total = static_cast<int>(options.sources.size());
  if (doc) {
    JsonWriter& j = doc->j;
    j.EndArray();
    j.Key("summary");
    j.BeginObject();
    j.Member("source_count", total);
    j.Member("ok_count", ok);
    j.Member("with_findings_count", with_findings);
    j.Member("unreadable_count", unreadable);
    j.Key("finding_count");
    j.Number(findings);
    j.EndObject();
    return doc->Finish(code);
  }
  std::printf("%d source%s checked: %d ok, %d with findings (%ld finding%s), %d unreadable\n", total,
              total == 1 ? "" : "s", ok, with_findings, findings, findings == 1 ? "" : "s", unreadable);
  return code;
}

int RunDiff(const ImgOptions& options) {
  // An INI file is rendered in the layout and memory of the other side.
  Loaded a;
  Loaded b;
  std::string error;
  if (!LoadOne(options.sources[0], options.source, nullptr, a, error)) return Fail(options, "diff", error);
  if (!LoadOne(options.sources[1], options.source, &a.image, b, error)) return Fail(options, "diff", error);
  if (a.image.source == SourceType::kIni && b.image.source != SourceType::kIni &&
      !LoadOne(options.sources[0], options.source, &b.image, a, error)) {
    return Fail(options, "diff", error);
  }
  DiffOptions diff;
  diff.ignore_identity = options.ignore_identity;
  diff.ignore = options.ignore;
  const std::vector<Field> old_fields = ImageFields(a.image);
  const std::vector<Field> new_fields = ImageFields(b.image);
  for (const std::string& name : options.ignore) {
    bool known = false;
    for (const auto* fields : {&old_fields, &new_fields}) {
      for (const Field& f : *fields) known = known || IsIgnored(f.name, {name});
    }
    if (!known) return Fail(options, "diff", "--ignore " + name + ": no field of that name in either image");
  }
  const std::vector<FieldChange> changes = DiffFields(old_fields, new_fields, diff);
  const int code = changes.empty() ? kImgMatch : kImgFindings;
  if (!options.json) {
    std::string out;
    for (const FieldChange& c : changes) {
      const int offset = c.old_field ? c.old_field->offset : c.new_field->offset;
      out += FieldLabel(offset, c.name, c.identity) + ": " +
             (c.old_field ? FieldValueText(*c.old_field) : "(absent)") + " -> " +
             (c.new_field ? FieldValueText(*c.new_field) : "(absent)") + "\n";
    }
    std::fputs(out.c_str(), stdout);
    return code;
  }
  Document doc("diff");
  JsonWriter& j = doc.j;
  j.Key("a");
  SourceJson(j, a.image, FingerprintOf(a.image, options.source.eeprom_size));
  j.Key("b");
  SourceJson(j, b.image, FingerprintOf(b.image, options.source.eeprom_size));
  j.Key("differences");
  j.BeginArray();
  for (const FieldChange& c : changes) {
    j.BeginObject();
    j.Member("field", c.name);
    j.Member("identity", c.identity);
    j.Key("old");
    FieldOrNull(j, c.old_field);
    j.Key("new");
    FieldOrNull(j, c.new_field);
    j.EndObject();
  }
  j.EndArray();
  return doc.Finish(code);
}

int RunVerify(const ImgOptions& options) {
  Loaded loaded;
  std::string error;
  if (!LoadOne(options.sources[0], options.source, nullptr, loaded, error)) {
    return Fail(options, "verify", error);
  }
  const Image& image = loaded.image;
  const std::string& ini = *options.ini;
  // An INI file from standard input is read through a temporary file.
  std::unique_ptr<TempFile> input;
  if (ini == "-") {
    input = std::make_unique<TempFile>(options.source.standard_input != nullptr ? *options.source.standard_input
                                                                                  : std::string());
    if (input->path().empty()) return Fail(options, "verify", "cannot keep standard input in a temporary file");
  }
  VerifyOptions verify;
  verify.identity = options.identity;
  verify.ini_name = ini;
  const VerifyReport report = VerifyAgainstIni(input ? input->path() : ini, image, verify);
  if (!report.error.empty()) return Fail(options, "verify", report.error);
  const ImageFingerprint print = FingerprintOf(image, options.source.eeprom_size);
  const bool match = report.Match();
  const int code = match ? kImgMatch : kImgFindings;
  if (!options.json) {
    std::string out;
    for (const IdentityCheck& id : report.identity) {
      out += FieldLabel(id.offset, id.field, true) + ": ";
      if (id.value.empty()) {
        out += id.message + "\n";
      } else if (!id.ok) {
        out += id.value + ": " + id.message + "\n";
      } else if (id.rule == IdentityRule::kExact) {
        out += id.value + " is the one given\n";
      } else {
        out += id.value + " is not above the INI file's maximum " + id.reference + "\n";
      }
    }
    for (const FieldChange& c : report.mismatches) {
      const int offset = c.new_field ? c.new_field->offset : c.old_field->offset;
      out += FieldLabel(offset, c.name, false) + ": INI programs " +
             (c.old_field ? FieldValueText(*c.old_field) : "(absent)") + ", source holds " +
             (c.new_field ? FieldValueText(*c.new_field) : "(absent)") + "\n";
    }
    out += FingerprintLine(image.name, print);
    if (match) {
      out += image.name + " matches " + ini + "\n";
    } else if (!report.problem.empty()) {
      out += image.name + " does not match " + ini + ": " + report.problem + "\n";
    } else {
      int count = static_cast<int>(report.mismatches.size());
      for (const IdentityCheck& id : report.identity) count += id.ok ? 0 : 1;
      out += image.name + " does not match " + ini + ": " + std::to_string(count) +
             (count == 1 ? " difference\n" : " differences\n");
    }
    std::fputs(out.c_str(), stdout);
    return code;
  }
  Document doc("verify");
  JsonWriter& j = doc.j;
  j.Member("ini", ini);
  j.Key("source");
  SourceJson(j, image, print);
  j.Member("match", match);
  TextOrNull(j, "problem", report.problem);
  j.Key("identity");
  j.BeginArray();
  for (const IdentityCheck& id : report.identity) {
    j.BeginObject();
    j.Member("field", id.field);
    j.Key("offset");
    if (id.offset >= 0) {
      j.Number(id.offset);
    } else {
      j.Null();
    }
    j.Key("found");
    FieldOrNull(j, id.found);
    j.Member("rule", id.rule == IdentityRule::kExact ? "exact" : "maximum");
    j.Member("reference", id.reference);
    j.Member("ok", id.ok);
    TextOrNull(j, "message", id.message);
    j.EndObject();
  }
  j.EndArray();
  j.Key("mismatches");
  j.BeginArray();
  for (const FieldChange& c : report.mismatches) {
    j.BeginObject();
    j.Member("field", c.name);
    j.Key("expected");
    FieldOrNull(j, c.old_field);
    j.Key("found");
    FieldOrNull(j, c.new_field);
    j.EndObject();
  }
  j.EndArray();
  return doc.Finish(code);
}

}  // namespace img
