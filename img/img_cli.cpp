#include "img/img_cli.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "img/commands.h"
#include "img/json_writer.h"
#include "img/option_scan.h"
#include "platform/standard_input.h"

#ifndef ORN_VERSION_STRING
#define ORN_VERSION_STRING "0"
#endif

namespace img {

namespace {

const std::vector<OptionInfo> kOptions = {
    {"help", 'h', false, nullptr},     {"version", 0, false, nullptr},
    {"json", 0, false, nullptr},       {"otp", 0, false, nullptr},
    {"eeprom", 0, false, nullptr},     {"model", 0, true, nullptr},
    {"eeprom-size", 0, true, nullptr}, {"output", 'o', true, "decode"},
    {"ini", 0, true, "verify"},        {"target", 0, true, "check"},
    {"ignore", 0, true, "diff"},       {"identity", 0, true, "verify"},
};

bool ParseModel(const std::string& text, Layout& layout) {
  std::string upper;
  for (char c : text) upper.push_back(static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
  if (upper == "ORN5300" || upper == "ORN5301") {
    layout = Layout::k5300;
    return true;
  }
  if (upper == "ORN5350") {
    layout = Layout::k5350;
    return true;
  }
  return false;
}

// Stores one option's value; false with `error` set.
bool Apply(const OptionInfo& entry, const std::string& value, ImgOptions& options, std::string& error) {
  const std::string name = entry.long_name;
  if (name == "help") {
    options.help = true;
  } else if (name == "version") {
    options.version = true;
  } else if (name == "json") {
    options.json = true;
  } else if (name == "otp") {
    options.source.otp = true;
  } else if (name == "eeprom") {
    options.source.eeprom = true;
  } else if (name == "model") {
    if (!ParseModel(value, options.source.model)) {
      error = "--model takes ORN5300, ORN5301 or ORN5350, not '" + value + "'";
      return false;
    }
  } else if (name == "eeprom-size") {
    if (value != "256" && value != "512") {
      error = "--eeprom-size takes 256 or 512, not '" + value + "'";
      return false;
    }
    options.source.eeprom_size = value == "256" ? 256 : 512;
  } else if (name == "output") {
    options.output = value;
  } else if (name == "ini") {
    options.ini = value;
  } else if (name == "target") {
    options.target = value;
  } else if (name == "identity") {
    ExpectedIdentity identity;
    if (!ParseExpectedIdentity(value, identity, error)) return false;
    options.identity = identity;
  } else if (name == "ignore") {
    size_t start = 0;
    while (start <= value.size()) {
      const size_t comma = value.find(',', start);
      const std::string item = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      if (item.empty()) {
        error = "--ignore takes 'identity' or field names separated by commas";
        return false;
      }
      if (item == "identity") {
        options.ignore_identity = true;
      } else {
        options.ignore.push_back(item);
      }
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  return true;
}

}  // namespace

bool ParseImgArgs(const std::vector<std::string>& args, ImgOptions& options, std::string& error) {
  options = ImgOptions{};
  std::vector<std::string> positional;
  std::vector<const OptionInfo*> given;
  auto apply = [&options](const OptionInfo& entry, const std::string& value, std::string& why) {
    return Apply(entry, value, options, why);
  };
  const bool scanned = ScanOptions(args, kOptions, apply, positional, given, error);
  if (!positional.empty()) options.command = positional[0];
  const std::string& command = options.command;
  const bool known = command == "decode" || command == "check" || command == "diff" || command == "verify";
  if (!scanned) {
    if (!known) options.command.clear();
    return false;
  }
  if (options.help || options.version) return true;

  if (positional.empty()) {
    error = "no command given";
    return false;
  }
  options.sources.assign(positional.begin() + 1, positional.end());
  if (!known) {
    error = "unknown command '" + command + "'";
    options.command.clear();
    return false;
  }
  if (!OptionsApplyTo(given, command, error)) return false;
  if (options.source.otp && options.source.eeprom) {
    error = "--otp and --eeprom exclude each other";
    return false;
  }
  const size_t count = options.sources.size();
  if (command == "decode" && count != 1) {
    error = "decode takes one source";
    return false;
  }
  if (command == "check" && count == 0) {
    error = "check takes at least one source";
    return false;
  }
  if (command == "diff" && count != 2) {
    error = "diff takes two sources";
    return false;
  }
  if (command == "verify") {
    if (!options.ini) {
      error = "verify needs --ini STATION.ini";
      return false;
    }
    if (count != 1) {
      error = "verify takes one source";
      return false;
    }
  }
  return true;
}

std::string ImgUsage() {
  return "Usage: orn5300img [OPTIONS] COMMAND SOURCE...\n"
         "Decode, check, compare and verify ORN53xx EEPROM and OTP configuration images.\n"
         "\n"
         "Commands:\n"
         "  decode SOURCE [-o FILE]        the INI file that orn5300cli -z turns back into SOURCE\n"
         "  check SOURCE... [--target SRC] structure of each source; with --target, whether SRC\n"
         "                                 can still be programmed into an OTP source\n"
         "  diff A B [--ignore LIST]       field-level differences from A to B; LIST is\n"
         "                                 'identity' or field names separated by commas\n"
         "  verify --ini STATION.ini SOURCE [--identity MAC[,SERIAL]]\n"
         "                                 does SOURCE hold what STATION.ini programs? The identity\n"
         "                                 must not be above the INI file's maximum, or with\n"
         "                                 --identity be exactly MAC (and SERIAL)\n"
         "\n"
         "Sources:\n"
         "  FILE             a binary file: an EEPROM image or an OTP file form (0xF3, 0xF7)\n"
         "  FILE.ini         an INI file (or a file of INI text), rendered as orn5300cli -z does\n"
         "  ini:PATH, bin:PATH  an INI file or a binary file, whatever the name\n"
         "  device[:N]       the device (adapter N), read without writing; the simulator\n"
         "                   when ORN5300_SIM names its state file\n"
         "  -                standard input (an image or INI text)\n"
         "\n"
         "Options:\n"
         "  --model MODEL    ORN5300, ORN5301 or ORN5350: the layout (else detected)\n"
         "  --otp            the OTP: read a device's OTP, render INI files as OTP images,\n"
         "                   take binary files as OTP file forms\n"
         "  --eeprom         take binary files as EEPROM images whatever their first byte\n"
         "  --eeprom-size N  256 or 512: the device's EEPROM size (else told from a read)\n"
         "  --json           one JSON document on standard output\n"
         "  -o, --output FILE  decode: write the INI file to FILE ('-': standard output)\n"
         "  --identity MAC[,SERIAL]  verify: the identity SOURCE must hold exactly\n"
         "  -h, --help       this text\n"
         "      --version    the version\n"
         "\n"
         "Exit status: 0 valid or matching, 1 findings or differences, 2 error.\n";
}

bool ReadsStandardInput(const ImgOptions& options) {
  auto is_input = [](const std::string& argument) {
    return argument == "-" || argument == "ini:-" || argument == "bin:-";
  };
  return std::any_of(options.sources.begin(), options.sources.end(), is_input) ||
         (options.target && is_input(*options.target)) || (options.ini && *options.ini == "-");
}

int RunImgTool(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] != nullptr ? argv[i] : "");
  ImgOptions options;
  std::string error;
  if (!ParseImgArgs(args, options, error)) {
    std::fprintf(stderr, "orn5300img: %s\nTry 'orn5300img --help' for more information.\n", error.c_str());
    if (options.json || HasFlag(args, "--json")) {
      return UsageErrorDocument(kJsonSchemaVersion, "orn5300img", options.command, error, kImgError);
    }
    return kImgError;
  }
  if (options.help) {
    std::fputs(ImgUsage().c_str(), stdout);
    return kImgMatch;
  }
  if (options.version) {
    std::printf("orn5300img %s\n", ORN_VERSION_STRING);
    return kImgMatch;
  }
  // Standard input is read once, whoever takes it.
  std::string input;
  if (ReadsStandardInput(options)) {
    if (!platform::ReadStandardInput(input, kMaxInputBytes, options.source.standard_input_size)) {
      std::fprintf(stderr, "orn5300img: cannot read standard input\n");
      if (options.json) return UsageErrorDocument(kJsonSchemaVersion, "orn5300img", options.command,
                                                  "cannot read standard input", kImgError);
      return kImgError;
    }
    options.source.standard_input = &input;
  }
  if (options.command == "decode") return RunDecode(options);
  if (options.command == "check") return RunCheck(options);
  if (options.command == "diff") return RunDiff(options);
  return RunVerify(options);
}

}  // namespace img
