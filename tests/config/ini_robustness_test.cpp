// Hostile and oversized input: the reader must neither crash nor hang, and
// must keep exact positions in large files.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "config/ini_reader.h"
#include "config/ini_schema.h"
#include "config/ini_test_util.h"
#include "support/capture.h"

namespace {

using initest::ReadText;

TEST(IniRobustness, BinaryGarbageNeverCrashes) {
  const char alphabet[] = {'[', ']', '\n', '\r', '#', '=', ' ', '\t', '\0', 'x', '0', 'F', '\xff'};
  std::mt19937 rng(5300);
  for (int round = 0; round < 40; ++round) {
    std::string bytes(4096 + round * 97, '\0');
    for (char& b : bytes) {
      const unsigned r = rng();
      b = (r & 1) ? alphabet[(r >> 1) % sizeof(alphabet)] : static_cast<char>(r >> 8);
    }
    // Known headers among the garbage, so the handlers see garbage too.
    for (const IniSectionRow* row = kIniSectionTable; row->name[0] != '\0'; ++row) {
      bytes.insert(rng() % bytes.size(), std::string("\n") + row->name + "\n");
    }
    const initest::IniRead r = ReadText(bytes);
    EXPECT_TRUE(r.result == 0 || r.result == -1);
  }
}

TEST(IniRobustness, MutatedValidFilesNeverCrash) {
  std::mt19937 rng(1);
  const std::string& valid = initest::ValidIni() + initest::OptionalSections();
  for (int round = 0; round < 150; ++round) {
    std::string text = valid;
    for (int edits = 1 + static_cast<int>(rng() % 8); edits > 0; --edits) {
      const size_t at = rng() % text.size();
      switch (rng() % 4) {
        case 0: text[at] = static_cast<char>(rng()); break;
        case 1: text.erase(at, 1 + rng() % 20); break;
        case 2: {
          const size_t count = 1 + rng() % 300;
          text.insert(at, count, static_cast<char>('0' + rng() % 60));
          break;
        }
        default: text.insert(at, 1, '\r'); break;
      }
      if (text.empty()) text.assign(1, 'x');
    }
    const initest::IniRead r = ReadText(text);
    EXPECT_TRUE(r.result == 0 || r.result == -1);
  }
}

TEST(IniRobustness, HugeLinesAndUnterminatedComments) {
  const std::string million(1000000, 'q');
  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"a million-character key line inside a section",
       "[Power]\n" + million + "\nHSMaxPower=100\n"},
      {"a million-character header", "[" + million + "]\n[Power]\nHSMaxPower=100\n"},
      {"a million-character value", "[Power]\nSSMaxPower=" + million + "\n[Power]\nHSMaxPower=100\n"},
      {"a million-character comment", "#" + million + "\n[Power]\nHSMaxPower=100\n"},
      {"the file ends inside a comment", "[Power]\nHSMaxPower=100\n# no line break" + million},
  };
  for (const Case& c : cases) {
    const initest::IniRead r = ReadText(c.text);
    if (std::string(c.name).find("value") != std::string::npos) {
      // The cut value is still too long: malformed, reading stops.
      EXPECT_EQ(r.result, -1) << c.name;
      EXPECT_EQ(r.out, "ERROR: Invalid SSMaxPower or out of range (8 - 896)\n") << c.name;
      continue;
    }
    EXPECT_EQ(r.result, 0) << c.name << r.out;
    EXPECT_EQ(r.out, "") << c.name;
    EXPECT_EQ(r.rs.HSMaxPower, 100) << c.name;
  }
}

// A 100 MB file: the configuration after the padding is read and its
// write-back positions are exact byte offsets.
TEST(IniRobustness, HundredMegabyteFile) {
  test::TempDir dir;
  const std::string path = dir.File("big.ini");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::string chunk;
  while (chunk.size() < (1 << 20)) {
    chunk += "# padding comment line with some text in it\r\n";
    chunk += "[Padding]\r\nUnknownKey=1234567890\r\n\r\n";
  }
  const long chunks = 100;
  for (long i = 0; i < chunks; ++i) std::fwrite(chunk.data(), 1, chunk.size(), f);
  const long offset = chunks * static_cast<long>(chunk.size());
  const std::string& valid = initest::ValidIni();
  std::fwrite(valid.data(), 1, valid.size(), f);
  std::fclose(f);

  RunSettings rs;
  EXPECT_EQ(test::CaptureStdout([&] { EXPECT_EQ(ReadIniFile(path.c_str(), rs), 0); }), "");
  EXPECT_EQ(rs.MacWriteBackPosition, offset + static_cast<long>(valid.find("00:11:22:33:44:55")));
  EXPECT_EQ(rs.SerialWriteBackPosition, offset + static_cast<long>(valid.find("0000000000000001")));
  test::CaptureStdout([&] { EXPECT_EQ(CheckIniSections(rs), 0); });
}

}  // namespace
