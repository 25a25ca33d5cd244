#include "app/command_line.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "core/exit_codes.h"
#include "core/output.h"
#include "core/parsers.h"
#include "config/ini_reader.h"
#include "config/ini_schema.h"
#include "provision/binary_image.h"

namespace {

constexpr int kParseOk = 0;
constexpr int kMaxSerialLength = 16;
constexpr int kMaxIncrement = 255;
constexpr size_t kMaxDestinationLength = sizeof(RunSettings::DestinationAddressText) - 1;
// Walks the argument vector and delivers one option letter at a time. The
// value of an option is the next argument unless that one begins with '-'.
// -X with a value is consumed here; every delivered letter (and the end of
// the scan) sets the adapter selection of the channel from the -X index.
class OptionScan {
 public:
  OptionScan(int argc, char** argv, RequestChannel& ch) : argc_(argc), argv_(argv), ch_(ch) {}

  // False when the arguments have run out.
  bool Next(char& letter, const char*& value) {
    while (pos_ < argc_) {
      const char* arg = argv_[pos_];
      if (arg == nullptr || arg[0] != '-' || arg[1] == '\0') {
        ++pos_;  // a word where an option is expected, or a lone "-"
        continue;
      }
      letter = arg[1];
      value = nullptr;
      if (pos_ + 1 < argc_ && argv_[pos_ + 1] != nullptr && argv_[pos_ + 1][0] != '-') {
        value = argv_[pos_ + 1];
      }
      pos_ += value != nullptr ? 2 : 1;
      if (letter == 'X' && value != nullptr) {
        // A value that is not an adapter index goes to the parser, which
        // refuses it: a typo must not program the default adapter.
        if (ReadAdapterIndex(value)) continue;
      }
      SelectAdapter(ch_, adapter_index_);
      return true;
    }
    SelectAdapter(ch_, adapter_index_);
    return false;
  }

 private:
  // Takes a decimal number from 0 to INT32_MAX, digits only; false for
  // anything else (the index stays as it was).
  bool ReadAdapterIndex(const char* text) {
    int64_t index = 0;
    if (*text == '\0') return false;
    for (const char* p = text; *p != '\0'; ++p) {
      if (*p < '0' || *p > '9') return false;
      index = index * 10 + (*p - '0');
      if (index > INT32_MAX) return false;
    }
    adapter_index_ = static_cast<int32_t>(index);
    return true;
  }

  int argc_;
  char** argv_;
  RequestChannel& ch_;
  int pos_ = 1;
  int32_t adapter_index_ = -1;
};

// Values the parser holds until the checks after the scan.
struct Overrides {
  std::optional<MacAddress> mac;
  OptText serial;
  int32_t mac_increment = -1;     // -m; -1 = not given
  int32_t serial_increment = -1;  // -s; -1 = not given
};

// Stores a heap copy of a text; 2 after "No enough memory" when it fails.
int StoreText(OptText& field, const char* text) {
  try {
    field = std::string(text);
  } catch (const std::bad_alloc&) {
    PrintError("No enough memory\n");
    return kExitOutOfMemory;
  }
  return kParseOk;
}

int InvalidCommandLine(const char* message) {
  PrintError("%s", message);
  return kExitInvalidCommandLine;
}

// Options after which no further argument is looked at.
bool EndsParse(char letter) { return std::strchr("GkfFgP", letter) != nullptr && letter != '\0'; }

// The command options that need a device, by command code, for the -z check.
char DeviceCommandLetter(int32_t command_code) {
  switch (command_code) {
    case kCmdReadRegister: return 'R';
    case kCmdWriteRegister: return 'W';
    case kCmdReadPhy: return 'y';
    case kCmdWritePhy: return 'Y';
    case kCmdInfoQuery: return 'G';
    case kCmdLinkState: return 'k';
    case kCmdCabScan: return 'V';
    default: return '\0';
  }
}

int RefuseWithImageFile(char letter) {
  PrintError("Option -%c needs a device and cannot be used with -z\n", letter);
  return kExitInvalidCommandLine;
}

// -R, -W, -y, -Y: the command code and the address or index.
int RegisterOption(RunSettings& rs, CommandCode code, const char* value, const char* busy_message,
                   const char* missing_message) {
  if (rs.CommandCode != kCmdNone) return InvalidCommandLine(busy_message);
  if (value == nullptr) return InvalidCommandLine(missing_message);
  rs.CommandCode = code;
  if (!HexStrToDword(value, rs.RegisterAddress)) return kExitInvalidCommandLine;
  return kParseOk;
}

// Handles one option. Returns kParseOk to go on scanning, or sets `done`
// and returns the parse result for options that end the parse; any other
// result is an error that ends the parse.
int HandleOption(char letter, const char* value, const char* program, RunSettings& rs,
                 Overrides& ov, bool& done) {
  if (letter != '\0' && std::strchr("MSNms", letter) != nullptr) {
    const std::string option = std::string("-") + letter;
    if (rs.IdentityOptions.find(option) == std::string::npos) {
      rs.IdentityOptions += (rs.IdentityOptions.empty() ? "" : " ") + option;
    }
  }
  switch (letter) {
    case 'w':
    case 'r':
      if (rs.CommandCode != kCmdNone) {
        return InvalidCommandLine("Only one of options(-w, -r) could be specified \n");
      }
      rs.CommandCode = letter == 'w' ? kCmdWrite : kCmdRead;
      return kParseOk;
    case 'b':
      if (value == nullptr) return InvalidCommandLine("No binary file name is specified after -b\n");
      if (rs.IniFileName) {
        return InvalidCommandLine("Only one of options(-b, -i, -f) could be specified \n");
      }
      return StoreText(rs.BinaryFileName, value);
    case 'i':
      if (value == nullptr) return InvalidCommandLine("No init file name is specified after -i \n");
      if (rs.BinaryFileName) {
        return InvalidCommandLine("Only one of options(-b, -i, -f) could be specified \n");
      }
      return StoreText(rs.IniFileName, value);
    case 'M': {
      if (value == nullptr) {
        return InvalidCommandLine("Mac address should be specified after option -M\n");
      }
      MacAddress mac{};
      if (ParseMacAddress(value, mac) != 0) {
        rs.markers.Set("CurrentMacAddress", kMalformed);
        return InvalidCommandLine("Invalid Mac address\n");
      }
      ov.mac = mac;
      rs.markers.Set("CurrentMacAddress", kWellFormed);
      return kParseOk;
    }
    case 'S':
      if (value == nullptr) {
        return InvalidCommandLine("Serial number should be specified after option -S\n");
      }
      return StoreText(ov.serial, value);
    case 'N':
      rs.IncrementRequested = 1;
      if (ov.mac_increment < 1) ov.mac_increment = 1;
      if (ov.serial_increment == -1) ov.serial_increment = 1;
      return kParseOk;
    case 'm':
    case 's': {
      int32_t& option = letter == 'm' ? ov.mac_increment : ov.serial_increment;
      if (value == nullptr) {
        option = 1;
        return kParseOk;
      }
      // The check cuts the text at its first blank: work on a copy, not on argv.
      std::string digits(value);
      if (CheckDecimalValue(digits.data(), 3) != 0) {
        return InvalidCommandLine(letter == 'm' ? "Invalid Mac address increment with -m option\n"
                                                : "Invalid serial number increment with -s option\n");
      }
      option = static_cast<int32_t>(DecimalTextValue(digits.c_str()));
      return kParseOk;
    }
    case 'O':
      rs.OtpMode = 1;
      return kParseOk;
    case 'C':
      if (value == nullptr) {
        return InvalidCommandLine("-C option needs OTP write confirmation \"YES\"\n");
      }
      rs.OtpWriteConfirmed = std::strncmp(value, "YES", 3) == 0 ? 1 : 0;
      return kParseOk;
    case 'l': {
      rs.LinkModeGiven = 1;
      if (value == nullptr) return InvalidCommandLine("Link mode should be specified after option -l\n");
      static constexpr const char* kModes[] = {"10hd", "10fd", "100hd", "100fd", "1000fd"};
      for (int i = 0; i < 5; ++i) {
        if (std::strcmp(value, kModes[i]) == 0) {
          rs.LinkMode = i + 1;
          return kParseOk;
        }
      }
      return InvalidCommandLine("Link mode should be 10hd, 10fd, 100hd,100fd or 1000fd\n");
    }
    case 'k':
      if (value == nullptr) {
        return InvalidCommandLine("Set link state parameter needs to be specified\n");
      }
      if (value[0] == 'D' || value[0] == 'd') {
        rs.LinkStateRequest = 0;
      } else if (value[0] == 'U' || value[0] == 'u') {
        rs.LinkStateRequest = 1;
      } else {
        return InvalidCommandLine("Invalid Set Link State parameter\n");
      }
      rs.CommandCode = kCmdLinkState;
      done = true;
      return kParseOk;
    case 'p': {
      rs.NetworkTest = kNetPing;
      if (rs.LoopbackRequested) {
        return InvalidCommandLine("Only one of options(-p, -L) could be specified \n");
      }
      if (value == nullptr) {
        return InvalidCommandLine("Dest ip address should be specified after option -p\n");
      }
      const size_t length = std::strlen(value);
      if (length > kMaxDestinationLength) {
        PrintError("Dest ip address is too long (at most %u characters)\n",
                   static_cast<unsigned>(kMaxDestinationLength));
        return kExitInvalidCommandLine;
      }
      rs.DestinationAddressText.fill('\0');
      std::memcpy(rs.DestinationAddressText.data(), value, length);
      rs.PingRequested = 1;
      return kParseOk;
    }
    case 'L':
      if (rs.NetworkTest == kNetPing) {
        return InvalidCommandLine("Only one of options(-p, -L) could be specified \n");
      }
      rs.NetworkTest = kNetLoopback;
      rs.LoopbackRequested = 1;
      return kParseOk;
    case 'V':
      rs.CommandCode = kCmdCabScan;
      return kParseOk;
    case 'R':
      return RegisterOption(rs, kCmdReadRegister, value, "Only one of options could be specified\n",
                            "Register address need to be specified\n");
    case 'W':
      return RegisterOption(rs, kCmdWriteRegister, value,
                            "Only one of options could be specified \n",
                            "Register address need to be specified\n");
    case 'y':
      return RegisterOption(rs, kCmdReadPhy, value, "Only one of options could be specified \n",
                            "Phy Register index need to be specified\n");
    case 'Y':
      return RegisterOption(rs, kCmdWritePhy, value, "Only one of options could be specified \n",
                            "Phy Register index need to be specified\n");
    case 'v':
      if (rs.ValueGiven) return InvalidCommandLine("Value already specified\n");
      if (value == nullptr) return InvalidCommandLine("Value missing\n");
      rs.ValueGiven = 1;
      if (!HexStrToDword(value, rs.Value)) return kExitInvalidCommandLine;
      return kParseOk;
    case 'z':
      if (value == nullptr) {
        return InvalidCommandLine("No target file name is specified after -z\n");
      }
      return StoreText(rs.TargetFileName, value);
    case 'd':
      if (value == nullptr) return InvalidCommandLine("No device name specified after -d\n");
      return StoreText(rs.DeviceModelName, value);
    case 'G':
      if (value == nullptr) return InvalidCommandLine("Get parameter needs to be specified\n");
      if (value[0] == '\0' || std::strchr("beiklopuv", value[0]) == nullptr) {
        return InvalidCommandLine("Invalid Get parameter\n");
      }
      rs.CommandCode = kCmdInfoQuery;
      rs.InfoQueryLetter = value[0];
      done = true;
      return kParseOk;
    case 'f':
    case 'g':
    case 'F':
    case 'P': {
      if (value == nullptr) {
        return InvalidCommandLine(
            "No binary file name is specified after -f, -F , -g or -P options\n");
      }
      if (rs.IniFileName || rs.BinaryFileName) {
        return InvalidCommandLine(
            "Only one of options(-b, -i, and (-f, -F, -g, -P)) could be specified \n");
      }
      const int stored = StoreText(rs.McuFileName, value);
      if (stored != kParseOk) return stored;
      rs.CommandCode = letter == 'f'   ? kCmdMcuDownload
                       : letter == 'g' ? kCmdMcuVerify
                       : letter == 'F' ? kCmdMcuDownloadVerify
                                       : kCmdMcuParameters;
      done = true;
      return kParseOk;
    }
    case 'X':
      if (value != nullptr) {
        // The scan hands on only values that are not an adapter index.
        PrintError("Invalid adapter index %s: it must be a decimal number from 0 to %d\n", value,
                   INT32_MAX);
        return kExitInvalidCommandLine;
      }
      PrintError("Invalid parameters:%c\n", letter);
      PrintError("Please use -h to display usage\n");
      return kExitInvalidCommandLine;
    case 'h':
    case 'H':
      PrintUsage(program, letter == 'H');
      done = true;
      return kParseUsagePrinted;
    default:
      PrintError("Invalid parameters:%c\n", letter);
      PrintError("Please use -h to display usage\n");
      return kExitInvalidCommandLine;
  }
}

// The identity overrides of the command line on top of the INI values.
// Each runs even when an earlier one failed; the result is that of the last
// failure, else that of loading the binary image.
int ApplyOverrides(RunSettings& rs, Overrides& ov) {
  int result = kParseOk;
  if (ov.mac) {
    rs.CurrentMacAddress = *ov.mac;
    rs.MacAddressGiven = 1;
    rs.markers.Set("CurrentMacAddress", kWellFormed);
  }
  if (ov.serial) {
    if (ov.serial->size() > static_cast<size_t>(kMaxSerialLength)) {
      PrintError("Current serial number size is greater than %d\n", kMaxSerialLength);
      rs.markers.Set("CurrentSerialNumber", kMalformed);
      result = kExitInvalidCommandLine;
    } else {
      rs.CurrentSerialNumber.reset();
      const int stored = StoreText(rs.CurrentSerialNumber, ov.serial->c_str());
      if (stored != kParseOk) {
        result = stored;
      } else {
        rs.markers.Set("CurrentSerialNumber", kWellFormed);
      }
    }
  }
  if (ov.mac_increment >= 0) {
    rs.MacAddressIncrement = ov.mac_increment;
    if (ov.mac_increment == 0) {
      PrintError("Mac address increment cannot be zero\n");
      result = kExitInvalidCommandLine;
    } else if (ov.mac_increment > kMaxIncrement) {
      PrintError("Mac address increment cannot exceed %d\n", kMaxIncrement);
      result = kExitInvalidCommandLine;
    } else {
      rs.markers.Set("MacAddressIncrement", kWellFormed);
    }
  }
  if (ov.serial_increment >= 0) {
    rs.SerialNumberIncrement = ov.serial_increment;
    if (ov.serial_increment > kMaxIncrement) {
      PrintError("Serial number increment cannot exceed %d\n", kMaxIncrement);
      result = kExitInvalidCommandLine;
    } else {
      rs.markers.Set("SerialNumberIncrement", kWellFormed);
    }
    if (rs.BinaryFileName) rs.markers.Set("MaximumSerialNumber", kWellFormed);
  }
  if (result == kParseOk) result = LoadBinaryImage(rs);
  return result;
}

// The combination checks after the scan, the INI file, the overrides and
// the GPIO wake check.
int CheckAfterScan(RunSettings& rs, Overrides& ov, const std::function<int(RunSettings&)>& before_files) {
  const int32_t code = rs.CommandCode;
  // An image file is generated without a device: a command that needs one
  // cannot run in the same invocation.
  if (rs.TargetFileName) {
    const char letter = DeviceCommandLetter(code);
    if (letter != '\0') return RefuseWithImageFile(letter);
  }
  const bool register_command = code >= kCmdReadRegister && code <= kCmdWritePhy;
  if ((code == kCmdReadRegister || code == kCmdReadPhy) && rs.ValueGiven) {
    return InvalidCommandLine("Invalid parameters: do not specify -v option\n");
  }
  if ((code == kCmdWriteRegister || code == kCmdWritePhy) && !rs.ValueGiven) {
    return InvalidCommandLine("Invalid parameters: need to specify -v option\n");
  }
  if (register_command) return kParseOk;
  if (rs.OtpMode && code != kCmdWrite && code != kCmdRead && !rs.TargetFileName) {
    return InvalidCommandLine("With -O option -w or -r option must be specified\n");
  }
  if (code == kCmdNone && !rs.LinkModeGiven && rs.NetworkTest != kNetPing &&
      rs.NetworkTest != kNetLoopback && !rs.TargetFileName) {
    PrintError("One of options -w, -r, -l, -L, -p, -G, -k, -z should be declared\n");
    return kExitCheckFailed;
  }
  if (code == kCmdWrite && !rs.IniFileName && !rs.BinaryFileName) {
    return InvalidCommandLine(
        "file name must be specified (-i ini file/-b binary file) after option -w\n");
  }
  if (rs.TargetFileName) {
    if (!rs.IniFileName && !rs.BinaryFileName) {
      return InvalidCommandLine("With -z option -i ini file must be specified\n");
    }
    if (code == kCmdWrite || code == kCmdRead) {
      return InvalidCommandLine("With -z option -w or -r options are not valid\n");
    }
    if (rs.BinaryFileName) {
      return InvalidCommandLine("Converting from binary file to ini file is not supported\n");
    }
    if (!rs.DeviceModelName) {
      return InvalidCommandLine("With -z option -d (device name) option must be specified\n");
    }
  }
  if (!rs.IncrementRequested) {
    if (ov.mac_increment > 0) return InvalidCommandLine("Must specify -N option with -m \n");
    if (ov.serial_increment > 0) return InvalidCommandLine("Must specify -N option with -s \n");
  }
  // The caller's step before the files are read (the run locks the file it
  // will write the next identity back into).
  if (before_files) {
    const int before = before_files(rs);
    if (before != kParseOk) return before;
  }
  int result = kParseOk;
  if (rs.IniFileName && ReadIniFile(rs.IniFileName->c_str(), rs) != 0) {
    result = kExitInvalidCommandLine;
  } else if (code != kCmdRead) {
    result = ApplyOverrides(rs, ov);
  }
  if (CheckGpioWakeConfig(rs) != 0) result = kExitCheckFailed;
  return result;
}

struct UsageLine {
  enum Shown { kBoth, kBasicOnly, kAdvancedOnly } shown;
  const char* text;  // "%s" stands for the program name
};

constexpr UsageLine kUsage[] = {
    {UsageLine::kBoth,
     "Usage: %s [-X <AdapterIndex>] (-b <bin_filename> -i <ini_filename>)(-w -r ) [-M <mac "
     "Address> -S <serial Number>] [-N -m <mac_increment> -s <serial_increment>] [-O] [-C] [-l "
     "<link mode>]  [-P <ip address>] [-L]\n"},
    {UsageLine::kBoth,
     "Usage: %s [-X <AdapterIndex>] [-R <Register addr in hex>] [-W <Register addr in hex> -v "
     "<hex value>] [-y <phy index in hex>] [-Y <phy index in hex> -v <hex value>]\n"},
    {UsageLine::kBoth, "Usage: %s -i <ini_filename>  -z <binary filename> -d <device name>\n"},
    {UsageLine::kBoth, "Usage: %s [-X <AdapterIndex>] [-G (v i b l k p o e u)]\n"},
    {UsageLine::kAdvancedOnly, "Usage: %s [-X <AdapterIndex>] [-f <bin_filename>]\n"},
    {UsageLine::kAdvancedOnly, "Usage: %s [-X <AdapterIndex>] [-F <bin_filename>]\n"},
    {UsageLine::kAdvancedOnly, "Usage: %s [-X <AdapterIndex>] [-g <bin_filename>]\n"},
    {UsageLine::kAdvancedOnly, "Usage: %s [-X <AdapterIndex>] [-P <bin_filename>]\n"},
    {UsageLine::kBoth, "Usage: %s [-X <AdapterIndex>] -V\n"},
    {UsageLine::kBoth, "-X <AdapterIndex>    zero based adapter index\n"},
    {UsageLine::kBoth, "-b <bin_filename>    Specify the binary file <bin_filename>\n"},
    {UsageLine::kBoth, "-i <ini_filename>    Specify the ini file <ini_filename> \n"},
    {UsageLine::kBoth, "-w                   Write the EEPROM Contents\n"},
    {UsageLine::kBoth, "-N                   Increase the Mac address and serial number for next write \n"},
    {UsageLine::kBoth, "-M <mac_address>     Overrides the mac address\n"},
    {UsageLine::kBoth, "-m <mac_increment>   Overrides the increment for the mac address.\n"},
    {UsageLine::kBoth, "-S <serial_num>      Overrides the serial number\n"},
    {UsageLine::kBoth, "-s <serial_increment> Overrides the increment for the serial number\n"},
    {UsageLine::kBoth, "-r                   Read the EEPROM Contents in the device\n"},
    {UsageLine::kBoth, "-l  <link mode>      Set the link mode 10hd/10fd/100hd/100fd/1000fd \n"},
    {UsageLine::kBoth, "-k  <link state>     Set the link state flag (d=down, u=up)\n"},
    {UsageLine::kBoth, "-V                   Perform CabScan cable diagnostics\n"},
    {UsageLine::kAdvancedOnly, "-f <fw_bin_filename> Download binary firmware file to 8051\n"},
    {UsageLine::kAdvancedOnly,
     "-F <fw_bin_filename> Download and readback/verify binary firmware file to 8051\n"},
    {UsageLine::kAdvancedOnly,
     "-g <fw_bin_filename> Verify binary from Prog memory against file contents\n"},
    {UsageLine::kAdvancedOnly,
     "-P <param_filename> Download and readback/verify algorithm paramteters to 8051\n"},
    {UsageLine::kBoth, "-p <Dest ip address> ping option,Specify the destination ip address\n"},
    {UsageLine::kBoth, "-L                   External loop Back option\n"},
    {UsageLine::kBoth, "-R <Register address in hex> Read Control and Status register\n"},
    {UsageLine::kBoth,
     "-W <Register address in hex> -v <hex value> Write Control and Status register\n"},
    {UsageLine::kBoth, "-y <PHY Register index in hex> Read PHY register\n"},
    {UsageLine::kBoth, "-Y <PHY Register index in hex> -v <hex value> Write PHY register\n"},
    {UsageLine::kBoth, "-O                   OTP operation\n"},
    {UsageLine::kBoth, "-C                   OTP write confirmation \"YES\"\n"},
    {UsageLine::kBoth, "-z                   Generate binary file from ini file\n"},
    {UsageLine::kBoth,
     "-d                   Device name to specify when generating binary file from ini file\n"},
    {UsageLine::kBoth, "-G v                 Get driver version\n"},
    {UsageLine::kBoth, "-G i                 Get 8051 MCU Information (WARNING: Resets the 8051)\n"},
    {UsageLine::kBoth, "-G b                 Get adapter bits\n"},
    {UsageLine::kBoth, "-G l                 Get adapter location\n"},
    {UsageLine::kBoth, "-G k                 Get adapter registry key\n"},
    {UsageLine::kBoth, "-G p                 Get adapter port\n"},
    {UsageLine::kBoth, "-G o                 Get adapter PDO name\n"},
    {UsageLine::kBoth, "-G e                 Get Ethernet Statistics\n"},
    {UsageLine::kBoth, "-G u                 Get USB Phy Statistics\n"},
    {UsageLine::kBasicOnly, "-h                   Displays this usage information.\n"},
    {UsageLine::kAdvancedOnly, "-H                   Displays advanced usage information.\n"},
    {UsageLine::kAdvancedOnly, "-h                   Displays basic usage information.\n"},
};

}  // namespace

void PrintUsage(const char* program, bool advanced) {
  for (const UsageLine& line : kUsage) {
    if (line.shown == (advanced ? UsageLine::kBasicOnly : UsageLine::kAdvancedOnly)) continue;
    if (std::strstr(line.text, "%s") != nullptr) {
      std::printf(line.text, program);
    } else {
      std::fputs(line.text, stdout);
    }
  }
}

int ParseCommandLine(int argc, char** argv, RunSettings& rs, RequestChannel& ch,
                     const std::function<int(RunSettings&)>& before_files) {
  rs = RunSettings{};  // zero-filled, EEPROM size 512, VendorID 0x1F7B, ProductID 0x5300
  rs.markers.Clear();
  const char* program = argc > 0 && argv != nullptr && argv[0] != nullptr ? argv[0] : "orn5300cli";
  Overrides ov;
  OptionScan scan(argc, argv, ch);
  char letter = '\0';
  const char* value = nullptr;
  while (scan.Next(letter, value)) {
    // -z generates a file without a device; an option that ends the parse at
    // once would skip the -z checks and run a device command with none.
    if (rs.TargetFileName && EndsParse(letter)) return RefuseWithImageFile(letter);
    bool done = false;
    const int result = HandleOption(letter, value, program, rs, ov, done);
    if (result != kParseOk || done) return result;
  }
  return CheckAfterScan(rs, ov, before_files);
}
