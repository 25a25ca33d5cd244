// The command line of orn5300img: subcommands, long options, usage text.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "img/sources.h"
#include "img/verify.h"

namespace img {

// Exit codes of orn5300img.
constexpr int kImgMatch = 0;     // valid, identical, matching
constexpr int kImgFindings = 1;  // findings, differences, a mismatch, bytes no INI file gives
constexpr int kImgError = 2;     // usage, unreadable source, invalid INI file, device failure

struct ImgOptions {
  std::string command;             // decode, check, diff, verify
  std::vector<std::string> sources;
  bool json = false;
  bool help = false;
  bool version = false;
  std::optional<std::string> output;  // decode -o ("-": standard output)
  std::optional<std::string> ini;     // verify --ini ("-": standard input)
  std::optional<ExpectedIdentity> identity;  // verify --identity
  std::optional<std::string> target;  // check --target
  bool ignore_identity = false;       // diff --ignore identity
  std::vector<std::string> ignore;    // diff --ignore FIELD,...
  SourceOptions source;
};

// Parses the arguments after the program name. True on success; false with
// `error` set (one line, without the program name); `options.command` and
// `options.json` hold what was read before the error.
bool ParseImgArgs(const std::vector<std::string>& args, ImgOptions& options, std::string& error);

// The usage text.
std::string ImgUsage();

// True when a source, the target or the INI file is standard input ("-").
bool ReadsStandardInput(const ImgOptions& options);

// The whole run behind main(): parse, run the command, print; the exit code.
int RunImgTool(int argc, char** argv);

}  // namespace img
