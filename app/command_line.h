// The command line: option scan, option table, the checks after the scan,
// the identity overrides and the usage texts.
#pragma once

#include <functional>

#include "core/run_settings.h"
#include "driver/request_channel.h"

// Parses the argument vector into `rs` (which it resets first). Reads the INI
// file and loads the binary image when they are named. Sets the adapter
// selection of `ch` from -X. Returns 0 (run the command), kParseUsagePrinted
// (usage printed), -1 (no command, GPIO check or binary image failed),
// 2 (out of memory) or 3 (invalid command line); every message is printed
// here.
// `before_files`, when given, is called once the options are read and
// before any file is; a nonzero result ends the parse with that code.
int ParseCommandLine(int argc, char** argv, RunSettings& rs, RequestChannel& ch,
                     const std::function<int(RunSettings&)>& before_files = nullptr);

// Prints the basic (-h) or the advanced (-H) usage text for `program`.
void PrintUsage(const char* program, bool advanced);
