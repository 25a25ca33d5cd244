// Exit codes of the program: each tells which stage of the run failed.
#pragma once

enum ExitCode : int {
  kExitSuccess = 0,
  kExitCheckFailed = -1,        // after parsing: no command, GPIO settings, binary image; OTP in use
  kExitDevice = 1,              // device open, chip ID, -d model
  kExitOutOfMemory = 2,         // while parsing the command line
  kExitInvalidCommandLine = 3,  // invalid command line, INI file rejected
  kExitLinkMode = 4,
  kExitEepromRead = 5,
  kExitPing = 7,
  kExitLoopback = 8,
  kExitEepromWrite = 9,         // also INI validation / generation for -z
  kExitIdentity = 10,           // stepping, patching, write-back, image file output
  kExitOtpRead = 11,
  kExitOtpWrite = 12,
  kExitOtpFull = 13,
  kExitDeviceCommand = 14,      // a register, PHY, information, link state, cable or MCU command failed
  kExitRecord = 15,             // the production record could not be written after a successful run
};

// Results of the command-line parser besides 0 and the exit codes above.
constexpr int kParseUsagePrinted = -5;

// Outcome of one stage of a memory command: its exit code, and whether the
// later stages still run (a read whose save file was written short still
// goes on to the link and network stages, with its failure code).
struct StageResult {
  int exit_code = kExitSuccess;
  bool continue_run = true;
};
