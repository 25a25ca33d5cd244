// The command-line parse in-process: option errors, the checks after the
// scan and their order, the identity overrides, the adapter selection and
// arbitrary argument vectors.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <ostream>
#include <string>
#include <vector>

#include "core/exit_codes.h"
#include "support/capture.h"

namespace {

using test::CaptureStdout;

struct Parsed {
  int result = 0;
  std::string out;
  RunSettings rs;
  RequestChannel ch;
};

// Runs the parser on "orn5300cli" followed by `args` and captures its output.
Parsed Parse(const std::vector<std::string>& args) {
  std::vector<std::string> storage;
  storage.push_back("orn5300cli");
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : storage) argv.push_back(a.data());
  argv.push_back(nullptr);
  Parsed p;
  p.ch.signature = 0;  // proves that the parser sets the selection
  p.ch.adapter_index = 99;
  p.out = CaptureStdout([&] {
    p.result = ParseCommandLine(static_cast<int>(storage.size()), argv.data(), p.rs, p.ch);
  });
  return p;
}

struct ErrorCase {
  std::vector<std::string> args;
  int result;
  std::string out;
};

std::string Err(const std::string& message) { return "ERROR: " + message; }

// Names the case after its arguments in test listings.
void PrintTo(const ErrorCase& c, std::ostream* os) {
  std::string text;
  for (const std::string& a : c.args) text += (text.empty() ? "" : " ") + (a.empty() ? "\"\"" : a);
  if (text.size() > 40) text = text.substr(0, 40) + "...";
  for (char& ch : text) {
    if (static_cast<unsigned char>(ch) < 0x20 || static_cast<unsigned char>(ch) > 0x7E) ch = '?';
  }
  *os << (text.empty() ? "(no arguments)" : text);
}

class ParseErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(ParseErrors, MessageAndResult) {
  const ErrorCase& c = GetParam();
  const Parsed p = Parse(c.args);
  EXPECT_EQ(p.out, c.out);
  EXPECT_EQ(p.result, c.result);
}

const std::string kBells(8, '\a');

// Missing values, conflicting options and refused values, one per option.
INSTANTIATE_TEST_SUITE_P(
    Options, ParseErrors,
    testing::Values(
        ErrorCase{{"-w", "-r"}, 3, Err("Only one of options(-w, -r) could be specified \n")},
        ErrorCase{{"-R", "1", "-w"}, 3, Err("Only one of options(-w, -r) could be specified \n")},
        ErrorCase{{"-b"}, 3, Err("No binary file name is specified after -b\n")},
        ErrorCase{{"-b", "-w"}, 3, Err("No binary file name is specified after -b\n")},
        ErrorCase{{"-i", "a.ini", "-b", "b.bin"}, 3,
                  Err("Only one of options(-b, -i, -f) could be specified \n")},
        ErrorCase{{"-i"}, 3, Err("No init file name is specified after -i \n")},
        ErrorCase{{"-b", "b.bin", "-i", "a.ini"}, 3,
                  Err("Only one of options(-b, -i, -f) could be specified \n")},
        ErrorCase{{"-M"}, 3, Err("Mac address should be specified after option -M\n")},
        ErrorCase{{"-M", "00:11:22:33:44"}, 3, Err("Invalid Mac address\n")},
        ErrorCase{{"-S"}, 3, Err("Serial number should be specified after option -S\n")},
        ErrorCase{{"-m", "1000"}, 3, Err("Invalid Mac address increment with -m option\n")},
        ErrorCase{{"-m", "+5"}, 3, Err("Invalid Mac address increment with -m option\n")},
        ErrorCase{{"-s", "12a"}, 3, Err("Invalid serial number increment with -s option\n")},
        ErrorCase{{"-C"}, 3, Err("-C option needs OTP write confirmation \"YES\"\n")},
        ErrorCase{{"-l"}, 3, Err("Link mode should be specified after option -l\n")},
        ErrorCase{{"-l", "100FD"}, 3, Err("Link mode should be 10hd, 10fd, 100hd,100fd or 1000fd\n")},
        ErrorCase{{"-l", "100fdx"}, 3,
                  Err("Link mode should be 10hd, 10fd, 100hd,100fd or 1000fd\n")},
        ErrorCase{{"-k"}, 3, Err("Set link state parameter needs to be specified\n")},
        ErrorCase{{"-k", "x"}, 3, Err("Invalid Set Link State parameter\n")},
        ErrorCase{{"-k", ""}, 3, Err("Invalid Set Link State parameter\n")},
        ErrorCase{{"-L", "-p", "1.2.3.4"}, 3,
                  Err("Only one of options(-p, -L) could be specified \n")},
        ErrorCase{{"-p", "1.2.3.4", "-L"}, 3,
                  Err("Only one of options(-p, -L) could be specified \n")},
        ErrorCase{{"-p"}, 3, Err("Dest ip address should be specified after option -p\n")},
        ErrorCase{{"-p", std::string(100, '1')}, 3,
                  Err("Dest ip address is too long (at most 99 characters)\n")},
        ErrorCase{{"-w", "-R", "1"}, 3, Err("Only one of options could be specified\n")},
        ErrorCase{{"-w", "-W", "1"}, 3, Err("Only one of options could be specified \n")},
        ErrorCase{{"-w", "-y", "1"}, 3, Err("Only one of options could be specified \n")},
        ErrorCase{{"-w", "-Y", "1"}, 3, Err("Only one of options could be specified \n")},
        ErrorCase{{"-R"}, 3, Err("Register address need to be specified\n")},
        ErrorCase{{"-W"}, 3, Err("Register address need to be specified\n")},
        ErrorCase{{"-y"}, 3, Err("Phy Register index need to be specified\n")},
        ErrorCase{{"-Y"}, 3, Err("Phy Register index need to be specified\n")},
        ErrorCase{{"-R", "0x12G4"}, 3,
                  kBells + "  ERROR:  HexStrToDword, bad char szBuf[4]=0x47\n"},
        ErrorCase{{"-W", "1", "-v", "123456789"}, 3,
                  kBells + "  ERROR:  HexStrToDword:  bad #digits =9 (s/b <= 8)\n"},
        ErrorCase{{"-v", "1", "-v", "2"}, 3, Err("Value already specified\n")},
        ErrorCase{{"-v"}, 3, Err("Value missing\n")},
        ErrorCase{{"-z"}, 3, Err("No target file name is specified after -z\n")},
        ErrorCase{{"-d"}, 3, Err("No device name specified after -d\n")},
        ErrorCase{{"-G"}, 3, Err("Get parameter needs to be specified\n")},
        ErrorCase{{"-G", "x"}, 3, Err("Invalid Get parameter\n")},
        ErrorCase{{"-G", ""}, 3, Err("Invalid Get parameter\n")},
        ErrorCase{{"-f"}, 3,
                  Err("No binary file name is specified after -f, -F , -g or -P options\n")},
        ErrorCase{{"-i", "a.ini", "-F", "fw.bin"}, 3,
                  Err("Only one of options(-b, -i, and (-f, -F, -g, -P)) could be specified \n")},
        ErrorCase{{"-b", "a.bin", "-P", "p.bin"}, 3,
                  Err("Only one of options(-b, -i, and (-f, -F, -g, -P)) could be specified \n")},
        ErrorCase{{"-q"}, 3, Err("Invalid parameters:q\n") + Err("Please use -h to display usage\n")},
        ErrorCase{{"-X", "-w"}, 3,
                  Err("Invalid parameters:X\n") + Err("Please use -h to display usage\n")},
        ErrorCase{{"-w", "-X"}, 3,
                  Err("Invalid parameters:X\n") + Err("Please use -h to display usage\n")},
        // An image file is made without a device: device commands are refused.
        ErrorCase{{"-z", "out.bin", "-G", "v"}, 3,
                  Err("Option -G needs a device and cannot be used with -z\n")},
        ErrorCase{{"-z", "out.bin", "-k", "u"}, 3,
                  Err("Option -k needs a device and cannot be used with -z\n")},
        ErrorCase{{"-z", "out.bin", "-f", "fw.bin"}, 3,
                  Err("Option -f needs a device and cannot be used with -z\n")},
        ErrorCase{{"-z", "out.bin", "-i", "a.ini", "-d", "ORN5300", "-R", "10"}, 3,
                  Err("Option -R needs a device and cannot be used with -z\n")},
        ErrorCase{{"-V", "-z", "out.bin", "-i", "a.ini", "-d", "ORN5300"}, 3,
                  Err("Option -V needs a device and cannot be used with -z\n")}));

// The checks after the scan, each on its own and where two apply the
// earlier one wins.
INSTANTIATE_TEST_SUITE_P(
    AfterScan, ParseErrors,
    testing::Values(
        ErrorCase{{}, -1, Err("One of options -w, -r, -l, -L, -p, -G, -k, -z should be declared\n")},
        ErrorCase{{"-N", "-O"}, 3, Err("With -O option -w or -r option must be specified\n")},
        ErrorCase{{"-R", "10", "-v", "5"}, 3, Err("Invalid parameters: do not specify -v option\n")},
        ErrorCase{{"-y", "1", "-v", "5", "-O"}, 3,
                  Err("Invalid parameters: do not specify -v option\n")},
        ErrorCase{{"-W", "10"}, 3, Err("Invalid parameters: need to specify -v option\n")},
        ErrorCase{{"-Y", "3", "-O"}, 3, Err("Invalid parameters: need to specify -v option\n")},
        ErrorCase{{"-O", "-m", "5"}, 3, Err("With -O option -w or -r option must be specified\n")},
        ErrorCase{{"-m", "5"}, -1,
                  Err("One of options -w, -r, -l, -L, -p, -G, -k, -z should be declared\n")},
        ErrorCase{{"-w", "-m", "5"}, 3,
                  Err("file name must be specified (-i ini file/-b binary file) after option -w\n")},
        ErrorCase{{"-O", "-z", "out.bin"}, 3, Err("With -z option -i ini file must be specified\n")},
        ErrorCase{{"-z", "out.bin", "-i", "a.ini", "-r"}, 3,
                  Err("With -z option -w or -r options are not valid\n")},
        ErrorCase{{"-z", "out.bin", "-b", "a.bin"}, 3,
                  Err("Converting from binary file to ini file is not supported\n")},
        ErrorCase{{"-z", "out.bin", "-i", "a.ini", "-m", "5"}, 3,
                  Err("With -z option -d (device name) option must be specified\n")},
        ErrorCase{{"-l", "10hd", "-m", "5", "-s", "5"}, 3, Err("Must specify -N option with -m \n")},
        ErrorCase{{"-l", "10hd", "-s", "5"}, 3, Err("Must specify -N option with -s \n")},
        ErrorCase{{"-l", "10hd", "-m", "0"}, 3, Err("Mac address increment cannot be zero\n")},
        ErrorCase{{"-l", "10hd", "-N", "-m", "0"}, 3, Err("Mac address increment cannot be zero\n")},
        ErrorCase{{"-l", "10hd", "-N", "-m", "300"}, 3,
                  Err("Mac address increment cannot exceed 255\n")},
        ErrorCase{{"-l", "10hd", "-N", "-s", "256"}, 3,
                  Err("Serial number increment cannot exceed 255\n")},
        // Every override runs even after an earlier one failed.
        ErrorCase{{"-l", "10hd", "-S", "12345678901234567", "-m", "0", "-s", "999", "-N"}, 3,
                  Err("Current serial number size is greater than 16\n") +
                      Err("Serial number increment cannot exceed 255\n")},
        ErrorCase{{"-l", "10hd", "-N", "-m", "0", "-S", "12345678901234567"}, 3,
                  Err("Current serial number size is greater than 16\n") +
                      Err("Mac address increment cannot be zero\n")}));

TEST(ParseCommandLine, UsageEndsTheParse) {
  const Parsed basic = Parse({"-w", "-h", "-q"});
  EXPECT_EQ(basic.result, kParseUsagePrinted);
  EXPECT_EQ(basic.out.rfind("Usage: orn5300cli [-X <AdapterIndex>] (-b <bin_filename>", 0), 0u);
  EXPECT_NE(basic.out.find("-h                   Displays this usage information.\n"),
            std::string::npos);
  EXPECT_EQ(basic.out.find("-f <fw_bin_filename>"), std::string::npos);

  const Parsed advanced = Parse({"-H"});
  EXPECT_EQ(advanced.result, kParseUsagePrinted);
  EXPECT_NE(advanced.out.find("Usage: orn5300cli [-X <AdapterIndex>] [-P <bin_filename>]\n"),
            std::string::npos);
  const std::string tail =
      "-G u                 Get USB Phy Statistics\n"
      "-H                   Displays advanced usage information.\n"
      "-h                   Displays basic usage information.\n";
  EXPECT_EQ(advanced.out.substr(advanced.out.size() - tail.size()), tail);
}

TEST(ParseCommandLine, ScanRules) {
  // Letters after the option letter are ignored.
  EXPECT_EQ(Parse({"-rfoo"}).rs.CommandCode, kCmdRead);
  // A word after an option without a value is skipped; so is a lone "-"
  // and an empty argument.
  const Parsed word = Parse({"-w", "stray", "-", "", "-b", "x.bin", "-r"});
  EXPECT_EQ(word.out, Err("Only one of options(-w, -r) could be specified \n"));
  ASSERT_TRUE(word.rs.BinaryFileName.has_value());
  EXPECT_EQ(*word.rs.BinaryFileName, "x.bin");
  // A value never begins with '-'.
  EXPECT_EQ(Parse({"-l", "-10hd"}).out, Err("Link mode should be specified after option -l\n"));
  // Letters are case-sensitive: -x is not -X.
  EXPECT_EQ(Parse({"-x", "1"}).out,
            Err("Invalid parameters:x\n") + Err("Please use -h to display usage\n"));
}

TEST(ParseCommandLine, AdapterSelection) {
  struct Case {
    std::vector<std::string> args;
    uint32_t signature;
    uint32_t index;
  };
  const Case cases[] = {
      {{"-l", "10hd"}, kSignatureDefault, 0},
      {{"-X", "1", "-l", "10hd"}, kSignatureAdapter, 1},
      {{"-l", "10hd", "-X", "1"}, kSignatureAdapter, 1},
      {{"-l", "10hd", "-X", "2", "stray"}, kSignatureAdapter, 2},
      {{"-X", "0", "-l", "10hd"}, kSignatureAdapter, 0},
      {{"-X", "abc", "-l", "10hd"}, kSignatureDefault, 0},
      {{"-X", "3", "-X", "abc", "-l", "10hd"}, kSignatureAdapter, 3},
      {{"-X", "99999999999", "-l", "10hd"}, kSignatureDefault, 0},
      {{"-X", "7"}, kSignatureAdapter, 7},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(c.args);
    EXPECT_EQ(p.ch.signature, c.signature) << c.args[1];
    EXPECT_EQ(p.ch.adapter_index, c.index) << c.args[1];
  }
}

TEST(ParseCommandLine, OptionsThatEndTheParse) {
  const Parsed get = Parse({"-G", "v", "-w"});
  EXPECT_EQ(get.result, 0);
  EXPECT_EQ(get.rs.CommandCode, kCmdInfoQuery);
  EXPECT_EQ(get.rs.InfoQueryLetter, 'v');
  EXPECT_EQ(get.out, "");
  // Checks after the scan do not run either: -R with -v would be refused.
  EXPECT_EQ(Parse({"-v", "1", "-G", "eth"}).rs.InfoQueryLetter, 'e');

  const Parsed up = Parse({"-k", "Up", "-bogus"});
  EXPECT_EQ(up.result, 0);
  EXPECT_EQ(up.rs.CommandCode, kCmdLinkState);
  EXPECT_EQ(up.rs.LinkStateRequest, 1);
  EXPECT_EQ(Parse({"-k", "d"}).rs.LinkStateRequest, 0);

  const struct {
    const char* option;
    int code;
  } mcu[] = {{"-f", kCmdMcuDownload}, {"-g", kCmdMcuVerify}, {"-F", kCmdMcuDownloadVerify},
             {"-P", kCmdMcuParameters}};
  for (const auto& m : mcu) {
    const Parsed p = Parse({m.option, "fw.bin", "-q"});
    EXPECT_EQ(p.result, 0) << m.option;
    EXPECT_EQ(p.rs.CommandCode, m.code) << m.option;
    EXPECT_EQ(p.rs.McuFileName.value_or(""), "fw.bin") << m.option;
  }
}

TEST(ParseCommandLine, RegisterCommands) {
  const Parsed write = Parse({"-W", "1234_5678", "-v", "0xA5"});
  EXPECT_EQ(write.result, 0);
  EXPECT_EQ(write.rs.CommandCode, kCmdWriteRegister);
  EXPECT_EQ(write.rs.RegisterAddress, 0x12345678u);
  EXPECT_EQ(write.rs.Value, 0xA5u);
  EXPECT_EQ(write.rs.ValueGiven, 1);
  // Register commands return at once: the -m check does not run.
  EXPECT_EQ(Parse({"-y", "2", "-m", "5"}).result, 0);
  // -V replaces any command code without a check.
  const Parsed cab = Parse({"-w", "-V"});
  EXPECT_EQ(cab.result, 0);
  EXPECT_EQ(cab.rs.CommandCode, kCmdCabScan);
}

TEST(ParseCommandLine, IncrementInterplay) {
  struct Case {
    std::vector<std::string> args;
    int mac;
    int serial;
  };
  const Case cases[] = {
      {{"-m", "0", "-N"}, 1, 1},  {{"-s", "0", "-N"}, 1, 0},   {{"-N"}, 1, 1},
      {{"-N", "-m", "7"}, 7, 1},  {{"-m", "-N"}, 1, 1},        {{"-N", "-s", "255"}, 1, 255},
      {{"-N", "-m", "5 x"}, 5, 1}, {{"-N", "-m", ""}, 0, 1},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-l", "10hd"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Parsed p = Parse(args);
    if (c.mac == 0) {
      EXPECT_EQ(p.out, Err("Mac address increment cannot be zero\n"));
      continue;
    }
    EXPECT_EQ(p.result, 0) << p.out;
    EXPECT_EQ(p.rs.IncrementRequested, 1);
    EXPECT_EQ(p.rs.MacAddressIncrement, c.mac);
    EXPECT_EQ(p.rs.SerialNumberIncrement, c.serial);
    EXPECT_EQ(p.rs.markers.Get("MacAddressIncrement"), kWellFormed);
  }
}

TEST(ParseCommandLine, IdentityOverrides) {
  const Parsed p = Parse({"-l", "1000fd", "-M", "02:11:22:33:44:55", "-S", "0123456789ABCDEF"});
  EXPECT_EQ(p.result, 0) << p.out;
  EXPECT_EQ(p.rs.LinkMode, 5);
  EXPECT_EQ(p.rs.CurrentMacAddress, (MacAddress{0x02, 0x11, 0x22, 0x33, 0x44, 0x55}));
  EXPECT_EQ(p.rs.MacAddressGiven, 1);
  EXPECT_EQ(p.rs.markers.Get("CurrentMacAddress"), kWellFormed);
  EXPECT_EQ(p.rs.CurrentSerialNumber.value_or(""), "0123456789ABCDEF");
  EXPECT_EQ(p.rs.markers.Get("CurrentSerialNumber"), kWellFormed);

  const Parsed bad = Parse({"-l", "10hd", "-S", "0123456789ABCDEFX"});
  EXPECT_EQ(bad.result, 3);
  EXPECT_EQ(bad.rs.markers.Get("CurrentSerialNumber"), kMalformed);
  EXPECT_FALSE(bad.rs.CurrentSerialNumber.has_value());

  EXPECT_EQ(Parse({"-M", "zz"}).rs.markers.Get("CurrentMacAddress"), kMalformed);

  // A read ignores the overrides.
  const Parsed read = Parse({"-r", "-M", "02:11:22:33:44:55", "-S", "1", "-N", "-m", "0"});
  EXPECT_EQ(read.result, 0) << read.out;
  EXPECT_EQ(read.rs.MacAddressGiven, 0);
  EXPECT_EQ(read.rs.CurrentMacAddress, MacAddress{});
  EXPECT_FALSE(read.rs.CurrentSerialNumber.has_value());
}

TEST(ParseCommandLine, OtpConfirmationAndNetworkOptions) {
  EXPECT_EQ(Parse({"-l", "10hd", "-C", "yes"}).rs.OtpWriteConfirmed, 0);
  EXPECT_EQ(Parse({"-l", "10hd", "-C", "YES"}).rs.OtpWriteConfirmed, 1);
  EXPECT_EQ(Parse({"-l", "10hd", "-C", "YESX"}).rs.OtpWriteConfirmed, 1);
  EXPECT_EQ(Parse({"-l", "10hd", "-C", "YES", "-C", "no"}).rs.OtpWriteConfirmed, 0);

  const std::string longest(99, '7');
  const Parsed ping = Parse({"-p", longest});
  EXPECT_EQ(ping.result, 0);
  EXPECT_EQ(ping.rs.NetworkTest, kNetPing);
  EXPECT_EQ(ping.rs.PingRequested, 1);
  EXPECT_EQ(std::string(ping.rs.DestinationAddressText.data()), longest);

  const Parsed loop = Parse({"-L", "-l", "100fd"});
  EXPECT_EQ(loop.result, 0);
  EXPECT_EQ(loop.rs.NetworkTest, kNetLoopback);
  EXPECT_EQ(loop.rs.LoopbackRequested, 1);
  EXPECT_EQ(loop.rs.LinkMode, 4);
  EXPECT_EQ(loop.rs.LinkModeGiven, 1);
}

TEST(ParseCommandLine, ResetsTheRecordAndKeepsDefaults) {
  Parsed first = Parse({"-w", "-b", "x.bin", "-O"});
  const Parsed p = Parse({"-l", "10hd"});
  EXPECT_EQ(p.rs.EepromSize, 512);
  EXPECT_EQ(p.rs.VendorID, 0x1F7B);
  EXPECT_EQ(p.rs.ProductID, 0x5300);
  EXPECT_EQ(p.rs.OtpMode, 0);
  EXPECT_FALSE(p.rs.BinaryFileName.has_value());
  // The same record parsed twice starts from scratch.
  std::vector<std::string> storage = {"orn5300cli", "-l", "10hd"};
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  CaptureStdout([&] { EXPECT_EQ(ParseCommandLine(3, argv.data(), first.rs, first.ch), 0); });
  EXPECT_FALSE(first.rs.BinaryFileName.has_value());
  EXPECT_EQ(first.rs.CommandCode, kCmdNone);
}

// Arbitrary argument vectors: every result is one of the parser's codes and
// the record stays consistent.
TEST(ParseCommandLine, ArbitraryArgumentVectors) {
  std::mt19937 rng(20170222);
  const std::vector<std::string> pieces = {
      "-w", "-r", "-b", "-i", "-M", "-S", "-N", "-m", "-s", "-O", "-C", "-l", "-k", "-p", "-L",
      "-V", "-R", "-W", "-y", "-Y", "-v", "-z", "-d", "-G", "-X", "-H", "-", "", "--", "-\xff",
      "10hd", "YES", "0x10", "1234_5678", "00:11:22:33:44:55", "ORN5300", "u", "v", "0", "300",
      "\xc3\xa9\xe2\x82\xac", std::string(150, 'A'), "/nonexistent-dir/f.ini", "-\x01", "%s%n",
  };
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::string> args;
    const int count = static_cast<int>(rng() % 12);
    for (int i = 0; i < count; ++i) {
      if (rng() % 5 == 0) {
        std::string random(rng() % 6, '\0');
        for (char& c : random) c = static_cast<char>(rng() % 256);
        args.push_back(random.c_str());  // up to the first NUL, as argv would hold it
      } else {
        args.push_back(pieces[rng() % pieces.size()]);
      }
    }
    const Parsed p = Parse(args);
    EXPECT_TRUE(p.result == 0 || p.result == kParseUsagePrinted || p.result == -1 ||
                p.result == 2 || p.result == 3)
        << p.result;
    EXPECT_TRUE(p.ch.signature == kSignatureDefault || p.ch.signature == kSignatureAdapter);
    EXPECT_NE(std::memchr(p.rs.DestinationAddressText.data(), '\0', 100), nullptr);
  }
}

TEST(ParseCommandLine, TenThousandArguments) {
  std::vector<std::string> args;
  for (int i = 0; i < 10000; ++i) args.push_back(i % 3 == 0 ? "-N" : (i % 3 == 1 ? "word" : "-O"));
  args.push_back("-l");
  args.push_back("10hd");
  const Parsed p = Parse(args);
  EXPECT_EQ(p.out, Err("With -O option -w or -r option must be specified\n"));
  EXPECT_EQ(p.result, 3);
}

TEST(ParseCommandLine, NoArgumentVectorAtAll) {
  RunSettings rs;
  RequestChannel ch;
  CaptureStdout([&] { EXPECT_EQ(ParseCommandLine(0, nullptr, rs, ch), -1); });
}

}  // namespace
