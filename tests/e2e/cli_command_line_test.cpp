// The built orn5300cli without a device: banner, usage texts, parameter
// errors with their exit codes, and runs whose parse succeeds (they reach
// the device open, which fails here as on a host without the driver).
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <ostream>
#include <string>
#include <vector>

#include "support/tool_runner.h"

namespace {

const std::string kParameterError = "ERROR: Parameter Error (use -h for help)\n";
const std::string kDeviceNotFound = "ERROR: CreateFile failed!  Device Not Found\n";

// No simulator: the device open fails with "not found".
const std::map<std::string, std::string> kNoDevice = {{"ORN5300_SIM", ""},
                                                      {"ORN5300_SIM_TRACE", ""}};

test::RunResult Cli(const std::vector<std::string>& args) { return test::RunCli(args, kNoDevice); }

std::string BasicUsage(const std::string& p) {
  return "Usage: " + p +
         " [-X <AdapterIndex>] (-b <bin_filename> -i <ini_filename>)(-w -r ) [-M <mac Address> "
         "-S <serial Number>] [-N -m <mac_increment> -s <serial_increment>] [-O] [-C] [-l <link "
         "mode>]  [-P <ip address>] [-L]\n"
         "Usage: " + p +
         " [-X <AdapterIndex>] [-R <Register addr in hex>] [-W <Register addr in hex> -v <hex "
         "value>] [-y <phy index in hex>] [-Y <phy index in hex> -v <hex value>]\n"
         "Usage: " + p + " -i <ini_filename>  -z <binary filename> -d <device name>\n"
         "Usage: " + p + " [-X <AdapterIndex>] [-G (v i b l k p o e u)]\n";
}

std::string AdvancedUsageLines(const std::string& p) {
  return "Usage: " + p + " [-X <AdapterIndex>] [-f <bin_filename>]\n"
         "Usage: " + p + " [-X <AdapterIndex>] [-F <bin_filename>]\n"
         "Usage: " + p + " [-X <AdapterIndex>] [-g <bin_filename>]\n"
         "Usage: " + p + " [-X <AdapterIndex>] [-P <bin_filename>]\n";
}

const char* const kOptionLines =
    "-X <AdapterIndex>    zero based adapter index\n"
    "-b <bin_filename>    Specify the binary file <bin_filename>\n"
    "-i <ini_filename>    Specify the ini file <ini_filename> \n"
    "-w                   Write the EEPROM Contents\n"
    "-N                   Increase the Mac address and serial number for next write \n"
    "-M <mac_address>     Overrides the mac address\n"
    "-m <mac_increment>   Overrides the increment for the mac address.\n"
    "-S <serial_num>      Overrides the serial number\n"
    "-s <serial_increment> Overrides the increment for the serial number\n"
    "-r                   Read the EEPROM Contents in the device\n"
    "-l  <link mode>      Set the link mode 10hd/10fd/100hd/100fd/1000fd \n"
    "-k  <link state>     Set the link state flag (d=down, u=up)\n"
    "-V                   Perform CabScan cable diagnostics\n";

const char* const kMcuLines =
    "-f <fw_bin_filename> Download binary firmware file to 8051\n"
    "-F <fw_bin_filename> Download and readback/verify binary firmware file to 8051\n"
    "-g <fw_bin_filename> Verify binary from Prog memory against file contents\n"
    "-P <param_filename> Download and readback/verify algorithm paramteters to 8051\n";

const char* const kTestAndQueryLines =
    "-p <Dest ip address> ping option,Specify the destination ip address\n"
    "-L                   External loop Back option\n"
    "-R <Register address in hex> Read Control and Status register\n"
    "-W <Register address in hex> -v <hex value> Write Control and Status register\n"
    "-y <PHY Register index in hex> Read PHY register\n"
    "-Y <PHY Register index in hex> -v <hex value> Write PHY register\n"
    "-O                   OTP operation\n"
    "-C                   OTP write confirmation \"YES\"\n"
    "-z                   Generate binary file from ini file\n"
    "-d                   Device name to specify when generating binary file from ini file\n"
    "-G v                 Get driver version\n"
    "-G i                 Get 8051 MCU Information (WARNING: Resets the 8051)\n"
    "-G b                 Get adapter bits\n"
    "-G l                 Get adapter location\n"
    "-G k                 Get adapter registry key\n"
    "-G p                 Get adapter port\n"
    "-G o                 Get adapter PDO name\n"
    "-G e                 Get Ethernet Statistics\n"
    "-G u                 Get USB Phy Statistics\n";

TEST(CliUsage, BasicAndAdvancedTexts) {
  const std::string p = ORN_CLI_PATH;
  const test::RunResult basic = Cli({"-h"});
  EXPECT_EQ(basic.exit_code, 0);
  EXPECT_EQ(basic.out, test::Banner() + BasicUsage(p) + "Usage: " + p +
                           " [-X <AdapterIndex>] -V\n" + kOptionLines + kTestAndQueryLines +
                           "-h                   Displays this usage information.\n");
  const test::RunResult advanced = Cli({"-H", "-w"});
  EXPECT_EQ(advanced.exit_code, 0);
  EXPECT_EQ(advanced.out, test::Banner() + BasicUsage(p) + AdvancedUsageLines(p) + "Usage: " + p +
                              " [-X <AdapterIndex>] -V\n" + kOptionLines + kMcuLines +
                              kTestAndQueryLines +
                              "-H                   Displays advanced usage information.\n"
                              "-h                   Displays basic usage information.\n");
  EXPECT_EQ(advanced.err, "");
}

struct CliCase {
  std::vector<std::string> args;
  int exit_code;  // as main returns it
  std::string out;  // after the banner
};

// Names the case after its arguments in test listings.
void PrintTo(const CliCase& c, std::ostream* os) {
  std::string text;
  for (const std::string& a : c.args) text += (text.empty() ? "" : " ") + (a.empty() ? "\"\"" : a);
  if (text.size() > 40) text = text.substr(0, 40) + "...";
  for (char& ch : text) {
    if (static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) > 0x7E) ch = '?';
  }
  *os << (text.empty() ? "(no arguments)" : text);
}

class CliOutcome : public testing::TestWithParam<CliCase> {};

TEST_P(CliOutcome, StdoutAndExitCode) {
  const CliCase& c = GetParam();
  const test::RunResult r = Cli(c.args);
  EXPECT_EQ(r.out, test::Banner() + c.out);
  EXPECT_EQ(r.exit_code, test::ShellExit(c.exit_code));
}

std::string Refused(const std::string& message) { return "ERROR: " + message + kParameterError; }

INSTANTIATE_TEST_SUITE_P(
    ParameterErrors, CliOutcome,
    testing::Values(
        CliCase{{}, -1, Refused("One of options -w, -r, -l, -L, -p, -G, -k, -z should be declared\n")},
        CliCase{{"-w", "-r"}, 3, Refused("Only one of options(-w, -r) could be specified \n")},
        CliCase{{"-b"}, 3, Refused("No binary file name is specified after -b\n")},
        CliCase{{"-i"}, 3, Refused("No init file name is specified after -i \n")},
        CliCase{{"-b", "x.bin", "-i", "x.ini"}, 3,
                Refused("Only one of options(-b, -i, -f) could be specified \n")},
        CliCase{{"-M"}, 3, Refused("Mac address should be specified after option -M\n")},
        CliCase{{"-M", "00:11:22:33:44:5"}, 3, Refused("Invalid Mac address\n")},
        CliCase{{"-S"}, 3, Refused("Serial number should be specified after option -S\n")},
        CliCase{{"-m", "1000"}, 3, Refused("Invalid Mac address increment with -m option\n")},
        CliCase{{"-s", "x"}, 3, Refused("Invalid serial number increment with -s option\n")},
        CliCase{{"-C"}, 3, Refused("-C option needs OTP write confirmation \"YES\"\n")},
        CliCase{{"-l"}, 3, Refused("Link mode should be specified after option -l\n")},
        CliCase{{"-l", "100FD"}, 3,
                Refused("Link mode should be 10hd, 10fd, 100hd,100fd or 1000fd\n")},
        CliCase{{"-k"}, 3, Refused("Set link state parameter needs to be specified\n")},
        CliCase{{"-k", "z"}, 3, Refused("Invalid Set Link State parameter\n")},
        CliCase{{"-p"}, 3, Refused("Dest ip address should be specified after option -p\n")},
        CliCase{{"-L", "-p", "10.0.0.1"}, 3,
                Refused("Only one of options(-p, -L) could be specified \n")},
        CliCase{{"-p", "10.0.0.1", "-L"}, 3,
                Refused("Only one of options(-p, -L) could be specified \n")},
        CliCase{{"-p", std::string(100, '9')}, 3,
                Refused("Dest ip address is too long (at most 99 characters)\n")},
        CliCase{{"-R"}, 3, Refused("Register address need to be specified\n")},
        CliCase{{"-r", "-R", "1"}, 3, Refused("Only one of options could be specified\n")},
        CliCase{{"-W"}, 3, Refused("Register address need to be specified\n")},
        CliCase{{"-r", "-W", "1"}, 3, Refused("Only one of options could be specified \n")},
        CliCase{{"-y"}, 3, Refused("Phy Register index need to be specified\n")},
        CliCase{{"-Y"}, 3, Refused("Phy Register index need to be specified\n")},
        CliCase{{"-R", "1", "-y", "1"}, 3, Refused("Only one of options could be specified \n")},
        CliCase{{"-v"}, 3, Refused("Value missing\n")},
        CliCase{{"-v", "1", "-v", "1"}, 3, Refused("Value already specified\n")},
        CliCase{{"-R", "12_34"}, 3,
                std::string(8, '\a') +
                    "  ERROR:  HexStrToDword, underscore must be between upper/lower words\n" +
                    kParameterError},
        CliCase{{"-z"}, 3, Refused("No target file name is specified after -z\n")},
        CliCase{{"-d"}, 3, Refused("No device name specified after -d\n")},
        CliCase{{"-G"}, 3, Refused("Get parameter needs to be specified\n")},
        CliCase{{"-G", "q"}, 3, Refused("Invalid Get parameter\n")},
        CliCase{{"-g"}, 3,
                Refused("No binary file name is specified after -f, -F , -g or -P options\n")},
        CliCase{{"-i", "a.ini", "-f", "fw.bin"}, 3,
                Refused("Only one of options(-b, -i, and (-f, -F, -g, -P)) could be specified \n")},
        CliCase{{"-Q"}, 3,
                "ERROR: Invalid parameters:Q\nERROR: Please use -h to display usage\n" +
                    kParameterError},
        CliCase{{"-X", "-r"}, 3,
                "ERROR: Invalid parameters:X\nERROR: Please use -h to display usage\n" +
                    kParameterError},
        CliCase{{"-z", "out.bin", "-G", "v"}, 3,
                Refused("Option -G needs a device and cannot be used with -z\n")},
        CliCase{{"-z", "out.bin", "-P", "param.bin"}, 3,
                Refused("Option -P needs a device and cannot be used with -z\n")}));

INSTANTIATE_TEST_SUITE_P(
    ChecksAfterTheScan, CliOutcome,
    testing::Values(
        CliCase{{"-R", "10", "-v", "5"}, 3, Refused("Invalid parameters: do not specify -v option\n")},
        CliCase{{"-W", "10"}, 3, Refused("Invalid parameters: need to specify -v option\n")},
        CliCase{{"-O", "-l", "10hd"}, 3, Refused("With -O option -w or -r option must be specified\n")},
        CliCase{{"-N"}, -1, Refused("One of options -w, -r, -l, -L, -p, -G, -k, -z should be declared\n")},
        CliCase{{"-w", "-N"}, 3,
                Refused("file name must be specified (-i ini file/-b binary file) after option -w\n")},
        CliCase{{"-z", "o.bin"}, 3, Refused("With -z option -i ini file must be specified\n")},
        CliCase{{"-z", "o.bin", "-i", "a.ini", "-w"}, 3,
                Refused("With -z option -w or -r options are not valid\n")},
        CliCase{{"-z", "o.bin", "-b", "a.bin"}, 3,
                Refused("Converting from binary file to ini file is not supported\n")},
        CliCase{{"-z", "o.bin", "-i", "a.ini"}, 3,
                Refused("With -z option -d (device name) option must be specified\n")},
        CliCase{{"-l", "10hd", "-m", "5"}, 3, Refused("Must specify -N option with -m \n")},
        CliCase{{"-l", "10hd", "-s", "5"}, 3, Refused("Must specify -N option with -s \n")},
        CliCase{{"-l", "10hd", "-m", "0"}, 3, Refused("Mac address increment cannot be zero\n")},
        CliCase{{"-l", "10hd", "-N", "-m", "0"}, 3, Refused("Mac address increment cannot be zero\n")},
        CliCase{{"-l", "10hd", "-N", "-m", "300"}, 3,
                Refused("Mac address increment cannot exceed 255\n")},
        CliCase{{"-l", "10hd", "-S", "ABCDEFGHIJKLMNOPQ"}, 3,
                Refused("Current serial number size is greater than 16\n")}));

// Runs whose parse succeeds go on to open the device.
INSTANTIATE_TEST_SUITE_P(
    ParseSucceeds, CliOutcome,
    testing::Values(CliCase{{"-rfoo"}, 1, kDeviceNotFound},
                    CliCase{{"-r", "stray-word"}, 1, kDeviceNotFound},
                    CliCase{{"-G", "v", "-w"}, 1, kDeviceNotFound},
                    CliCase{{"-k", "u", "-Q"}, 1, kDeviceNotFound},
                    CliCase{{"-l", "10hd", "-m", "0", "-N"}, 1, kDeviceNotFound},
                    CliCase{{"-l", "10hd", "-s", "0", "-N"}, 1, kDeviceNotFound},
                    CliCase{{"-l", "10hd", "-C", "yes"}, 1, kDeviceNotFound},
                    CliCase{{"-l", "10hd", "-C", "YESX"}, 1, kDeviceNotFound},
                    CliCase{{"-r", "-M", "00:11:22:33:44:55", "-m", "0"}, 1, kDeviceNotFound},
                    CliCase{{"-R", "1234_5678"}, 1, kDeviceNotFound},
                    CliCase{{"-W", "10", "-v", "5"}, 1, kDeviceNotFound},
                    CliCase{{"-V", "-X", "1"}, 1, kDeviceNotFound},
                    CliCase{{"-p", std::string(99, '9')}, 1, kDeviceNotFound}));

// Arbitrary argument vectors never crash the program: every run ends with
// one of its exit codes and prints the banner first.
TEST(CliRobustness, ArbitraryArgumentVectors) {
  std::mt19937 rng(5300);
  const std::vector<std::string> pieces = {"", "-", "--", "-\xff", "\xc3\xa9", "-\xc3\xa9", "-w",
                                           "-r", "-N", "-m", "-G", "-X", "-l", "-p", "-z", "-S",
                                           "1000fd", "%n%s%s", std::string(5000, 'x'), "-Mzz"};
  for (int round = 0; round < 25; ++round) {
    std::vector<std::string> args;
    const size_t count = rng() % 8;
    for (size_t i = 0; i < count; ++i) args.push_back(pieces[rng() % pieces.size()]);
    const test::RunResult r = Cli(args);
    EXPECT_EQ(r.out.rfind(test::Banner(), 0), 0u);
    const int code = r.exit_code;
    EXPECT_TRUE(code == 0 || code == 1 || code == 3 || code == test::ShellExit(-1)) << code;
  }
  std::vector<std::string> many(10000, "-N");
  many.push_back("");
  many.push_back("-");
  const test::RunResult r = Cli(many);
  EXPECT_EQ(r.exit_code, test::ShellExit(-1));
  EXPECT_EQ(r.out,
            test::Banner() +
                Refused("One of options -w, -r, -l, -L, -p, -G, -k, -z should be declared\n"));
}

}  // namespace
