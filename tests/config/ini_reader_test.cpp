// The line reader, the value checks and the key lookup of the INI reader.
#include "config/ini_reader.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/capture.h"

namespace {

using test::CaptureStdout;

struct Line {
  int status;
  std::string text;
  long start;
  bool operator==(const Line&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Line& l) {
  return os << "{" << l.status << ", \"" << l.text << "\", " << l.start << "}";
}

// Every line ReadIniLine returns for `bytes`, up to the end of the file.
std::vector<Line> ReadLines(const std::string& bytes) {
  std::FILE* f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::rewind(f);
  std::vector<Line> lines;
  for (int guard = 0; guard < 100; ++guard) {
    char buf[kIniLineCapacity];
    int len = kIniLineCapacity;
    long start = -1;
    const int status = ReadIniLine(f, buf, &len, &start);
    lines.push_back({status, std::string(buf, static_cast<size_t>(len)), start});
    if (status == kIniEndOfFile) break;
  }
  std::fclose(f);
  return lines;
}

TEST(IniReadLine, LineEndsCommentsAndCuts) {
  const std::string long_line(300, 'k');
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<Line> lines;
  } cases[] = {
      {"empty file", "", {{-2, "", -1}}},
      {"LF", "a=1\nb\n", {{0, "a=1", 0}, {0, "b", 4}, {-2, "", 4}}},
      {"CR LF", "a=1\r\nb\r\n", {{0, "a=1", 0}, {0, "b", 5}, {-2, "", 5}}},
      {"mixed", "a\r\nb\nc", {{0, "a", 0}, {0, "b", 3}, {-2, "c", 5}}},
      {"lone CR stays in the line", "a\rb\nc\r", {{0, "a\rb", 0}, {-2, "c", 4}}},
      {"double CR before LF", "a\r\r\nb", {{0, "a\r", 0}, {-2, "b", 4}}},
      {"comments only at the first byte",
       "#x\n #y\na#b\n",
       {{0, " #y", 3}, {0, "a#b", 7}, {-2, "", 7}}},
      {"consecutive comments", "#1\r\n#2\n\nk", {{0, "", 7}, {-2, "k", 8}}},
      {"comment runs to LF, not CR", "#c\rk=1\nz\n", {{0, "z", 7}, {-2, "", 7}}},
      {"file ends inside a comment", "k\n# no line break", {{0, "k", 0}, {-2, "", -1}}},
      {"long line cut, remainder dropped",
       long_line + "\nnext\n",
       {{0, std::string(256, 'k'), 0}, {0, "next", 301}, {-2, "", 301}}},
      {"lines of CR alone read as one", "a\rb\rc\r\n",
       {{0, "a\rb\rc", 0}, {-2, "", 0}}},
      {"NUL byte stored", std::string("a\0b\n", 4), {{0, std::string("a\0b", 3), 0}, {-2, "", 0}}},
  };
  for (const Case& c : cases) {
    std::vector<Line> got = ReadLines(c.bytes);
    // The start offset is reported only for lines that were read; an
    // end-of-file line without text keeps the caller's value.
    for (size_t i = 0; i < got.size() && i < c.lines.size(); ++i) {
      if (got[i].status == kIniEndOfFile && got[i].text.empty()) got[i].start = c.lines[i].start;
    }
    EXPECT_EQ(got, c.lines) << c.name;
  }
}

TEST(IniReadLine, CapacityBoundsTheStoredText) {
  std::FILE* f = std::tmpfile();
  std::fputs("abcdefgh\nz\n", f);
  std::rewind(f);
  char buf[4];
  int len = 4;
  EXPECT_EQ(ReadIniLine(f, buf, &len), kIniLineBreak);
  EXPECT_EQ(len, 3);
  EXPECT_STREQ(buf, "abc");
  len = 4;
  EXPECT_EQ(ReadIniLine(f, buf, &len), kIniLineBreak);
  EXPECT_STREQ(buf, "z");
  std::fclose(f);
}

TEST(IniValueChecks, DecimalAndHex) {
  struct Case {
    bool hex;
    const char* in;
    int maximum;
    int result;
    const char* cut;
  } cases[] = {
      {false, "5", 1, 0, "5"},
      {false, "5 # five", 1, 0, "5"},
      {false, "5#five", 1, -1, nullptr},
      {false, "12\tx", 2, 0, "12"},
      {false, "123", 2, -1, nullptr},
      {false, "-1", 3, -1, nullptr},
      {false, "+1", 3, -1, nullptr},
      {false, "", 3, 0, ""},
      {false, "0255", 4, 0, "0255"},
      {true, "0x", 5, 0, "0x"},
      {true, "0XfFf", 5, 0, "0XfFf"},
      {true, "0x1000", 5, -1, nullptr},
      {true, "0x12 junk", 4, 0, "0x12"},
      {true, "0x1G", 10, -1, nullptr},
      {true, "x12", 10, -1, nullptr},
      {true, "12", 10, -1, nullptr},
      {true, "0xFFFFFFFF", 10, 0, "0xFFFFFFFF"},
      {true, "0x1FFFFFFFF", 10, -1, nullptr},
  };
  for (const Case& c : cases) {
    std::string s = c.in;
    const int r = c.hex ? CheckHexValue(s.data(), c.maximum) : CheckDecimalValue(s.data(), c.maximum);
    EXPECT_EQ(r, c.result) << c.in;
    if (c.cut != nullptr) {
      EXPECT_STREQ(s.c_str(), c.cut) << c.in;
    }
  }
  EXPECT_EQ(DecimalTextValue("0255"), 255u);
  EXPECT_EQ(HexTextValue("0xFFFFFFFF"), 0xFFFFFFFFu);
  EXPECT_EQ(HexTextValue("0x"), 0u);
  EXPECT_EQ(HexTextValue("0XaB"), 0xABu);
}

TEST(IniValueChecks, BlanksAndTruncation) {
  EXPECT_EQ(SkipBlanks(" \t x", 0), 3);
  EXPECT_EQ(SkipBlanks("ab  ", 2), 4);
  EXPECT_EQ(SkipBlanks("ab", 1), 1);
  std::string s = "AB12\tCD EF";
  TruncateAtBlank(s.data());
  EXPECT_STREQ(s.c_str(), "AB12");
  s = "plain";
  TruncateAtBlank(s.data());
  EXPECT_STREQ(s.c_str(), "plain");
}

TEST(IniKeyLookup, MatchesWholeKeyNameAndEquals) {
  struct Case {
    const char* line;
    const char* key;
    const char* value;  // nullptr: no value
  } cases[] = {
      {"VendorID=0x1F7B", "VendorID", "0x1F7B"},
      {"  VendorID \t=  0x1F7B  ", "VendorID", "0x1F7B  "},
      {"VendorID=   ", "VendorID", nullptr},
      {"VendorID=", "VendorID", nullptr},
      {"VendorID", "VendorID", nullptr},
      {"vendorid=0x1", "VendorID", nullptr},
      {"GPIOWakePolarity=0x1", "GPIOWake", nullptr},
      {"GPIOWake=0x1", "GPIOWakePolarity", nullptr},
      {"VendorID : 0x1", "VendorID", nullptr},
      {"ProductString=A = B ; c", "ProductString", "A = B ; c"},
      {"   ", "VendorID", nullptr},
  };
  for (const Case& c : cases) {
    std::string line = c.line;
    const char* value = GetKeyValue(line.data(), c.key, SkipBlanks(line.c_str(), 0));
    if (c.value == nullptr) {
      EXPECT_EQ(value, nullptr) << c.line;
    } else {
      ASSERT_NE(value, nullptr) << c.line;
      EXPECT_STREQ(value, c.value) << c.line;
    }
  }
}

TEST(IniKeyLookup, ClassifiesLines) {
  struct Case {
    const char* line;
    IniLineKind kind;
  } cases[] = {
      {"", IniLineKind::kBlank},
      {" \t ", IniLineKind::kBlank},
      {"[ID]", IniLineKind::kHeader},
      {"  [ID]", IniLineKind::kHeader},
      {"[ID] ", IniLineKind::kKey},
      {"[ID", IniLineKind::kKey},
      {"x[ID]", IniLineKind::kKey},
      {"[", IniLineKind::kKey},
      {"[]", IniLineKind::kHeader},
  };
  for (const Case& c : cases) {
    int first = -1;
    EXPECT_EQ(ClassifyIniLine(c.line, &first), c.kind) << c.line;
  }
}

TEST(IniEnableValue, MarkerAndMessage) {
  IniMarkers markers;
  int32_t enable = 7;
  std::string good = "1 trailing";
  EXPECT_EQ(CaptureStdout([&] {
              EXPECT_EQ(ReadEnableValue(good.data(), markers, "ProductEnable", enable, "bad\n"), 0);
            }),
            "");
  EXPECT_EQ(enable, 1);
  EXPECT_EQ(markers.Get("ProductEnable"), kWellFormed);

  std::string bad = "10";
  EXPECT_EQ(CaptureStdout([&] {
              EXPECT_EQ(ReadEnableValue(bad.data(), markers, "ProductEnable", enable,
                                        "Invalid ProductEnable(range 0-1)\n"),
                        -1);
            }),
            "ERROR: Invalid ProductEnable(range 0-1)\n");
  EXPECT_EQ(enable, 1);
  EXPECT_EQ(markers.Get("ProductEnable"), kMalformed);
}

// Null pointers are programming errors: the process stops with the
// module's assertion text on standard output.
TEST(IniReaderDeathTest, NullArgumentsAbortWithTheirCheck) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto to_stderr = [] {
    std::fflush(stdout);
    dup2(2, 1);
  };
  char line[] = "x=1";
  EXPECT_DEATH({ to_stderr(); SkipBlanks(nullptr, 0); },
               "Assertion failed: 'string != NULL', file user, line 1939\n");
  EXPECT_DEATH({ to_stderr(); TruncateAtBlank(nullptr); },
               "Assertion failed: 'string != NULL', file user, line 1955\n");
  EXPECT_DEATH({ to_stderr(); CheckDecimalValue(nullptr, 1); },
               "Assertion failed: 'string != NULL', file user, line 1973\n");
  EXPECT_DEATH({ to_stderr(); CheckHexValue(nullptr, 1); },
               "Assertion failed: 'string != NULL', file user, line 2000\n");
  EXPECT_DEATH({ to_stderr(); GetKeyValue(nullptr, "x", 0); },
               "Assertion failed: 'buf != NULL', file user, line 2031\n");
  EXPECT_DEATH({ to_stderr(); GetKeyValue(line, nullptr, 0); },
               "Assertion failed: 'title != NULL', file user, line 2032\n");
}

}  // namespace
