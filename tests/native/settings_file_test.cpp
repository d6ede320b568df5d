// The settings file format: line, section and key rules of the reader, the
// typed values, and the writer's exact bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "settings/settings_reader.h"
#include "settings/settings_writer.h"

namespace tev {
namespace {

std::vector<std::string> AllLines(const std::string& image) {
  SettingsReader reader;
  reader.SetImage(image);
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.ReadLine(line)) lines.emplace_back(line);
  return lines;
}

TEST(SettingsReaderTest, LineEnds) {
  struct Case {
    const char* image;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb\n", {"a", "b"}},
      {"a\n\rb\r", {"a", "b"}},          // LF CR is one line end
      {"a\r\rb\r\r", {"a", "b"}},        // so is CR CR
      {"a\n\nb\n", {"a", "b"}},          // LF only: an empty line after a line is swallowed
      {"a\r\n\r\nb\r\n", {"a", "", "b"}},  // CR LF: every empty line is seen
      {"a\r\nunterminated", {"a"}},      // text after the last line end is never a line
      {"only", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(AllLines(c.image), c.lines) << c.image;
}

struct LookupCase {
  const char* what;
  std::string image;
  const char* section;
  const char* key;
  bool found;
  const char* value;
};

TEST(SettingsReaderTest, FindValueRules) {
  const LookupCase cases[] = {
      {"plain", "[S]\r\nKey=5\r\n", "S", "Key", true, "5"},
      {"LF only reads the same", "[S]\nKey=5\n", "S", "Key", true, "5"},
      {"unterminated last line is invisible", "[S]\r\nKey=5", "S", "Key", false, ""},
      {"header trimmed", "  [DIALOG]\t \r\nKey=1\r\n", "DIALOG", "Key", true, "1"},
      {"section name trimmed before lookup", "[S]\r\nKey=1\r\n", " S ", "Key", true, "1"},
      {"spaces inside brackets never found", "[ 12 ]\r\nKey=1\r\n", " 12 ", "Key", false, ""},
      {"spaces around = ", "[S]\r\n  Brightness = 25\r\n", "S", "Brightness", true, " 25"},
      {"empty value is missing", "[S]\r\nBrightness=\r\n", "S", "Brightness", false, ""},
      {"keys are case-sensitive", "[S]\r\nbrightness=3\r\n", "S", "Brightness", false, ""},
      {"sections are case-sensitive", "[s]\r\nKey=3\r\n", "S", "Key", false, ""},
      {"= inside the value kept", "[S]\r\nKey=a=b=\r\n", "S", "Key", true, "a=b="},
      {"first of two lines wins", "[S]\r\nKey=1\r\nKey=2\r\n", "S", "Key", true, "1"},
      {"line without = skipped", "[S]\r\nKey\r\nKey=7\r\n", "S", "Key", true, "7"},
      {"next header ends the body", "[S]\r\n[T]\r\nKey=1\r\n", "S", "Key", false, ""},
      {"header with trailing text still ends the body", "[S]\r\n[T] x\r\nKey=1\r\n", "S", "Key", false, ""},
      {"header with trailing text is no header", "[T] x\r\nKey=1\r\n", "T", "Key", false, ""},
      {"key before any header ignored", "Key=1\r\n[S]\r\n", "S", "Key", false, ""},
      {"key of another section", "[T]\r\nKey=1\r\n[S]\r\nOther=2\r\n", "S", "Key", false, ""},
      {"value keeps white space", "[S]\r\nKey= a b \r\n", "S", "Key", true, " a b "},
      {"key trimmed, not the value", "[S]\r\n\tKey\t=x\r\n", "S", " Key ", true, "x"},
      {"empty file", "", "S", "Key", false, ""},
  };
  for (const LookupCase& c : cases) {
    SettingsReader reader;
    reader.SetImage(c.image);
    std::string value = "stale";
    EXPECT_EQ(reader.FindValue(c.section, c.key, value), c.found) << c.what;
    EXPECT_EQ(value, c.value) << c.what;
  }
}

TEST(SettingsReaderTest, NextSectionListsUntrimmedNamesForward) {
  SettingsReader reader;
  reader.SetImage("first line\r\n[A]\r\nx=1\r\n [ 12 ] \r\n[B] tail\r\n[]\r\n[C]");
  std::vector<std::string> names;
  std::string name;
  while (reader.NextSection(name)) names.push_back(name);
  // The first line is skipped; "[C]" has no line end.
  EXPECT_EQ(names, (std::vector<std::string>{"A", " 12 ", ""}));
}

TEST(SettingsReaderTest, CircularSearchFindsNearestFromLastSection) {
  // Headers at offsets 0, 10 and 20.
  const std::string image = "[A]\r\nv=1\r\n[B]\r\nv=2\r\n[A]\r\nv=3\r\n";
  SettingsReader reader;
  reader.SetImage(image);
  std::string value;
  ASSERT_TRUE(reader.FindValue("B", "v", value));
  EXPECT_EQ(value, "2");
  EXPECT_EQ(reader.SectionCursor(), 10u);
  // From B the search runs forward to the second A...
  ASSERT_TRUE(reader.FindValue("A", "v", value));
  EXPECT_EQ(value, "3");
  EXPECT_EQ(reader.SectionCursor(), 20u);
  // ...and from there wraps to B, then stays on the same A.
  ASSERT_TRUE(reader.FindValue("B", "v", value));
  EXPECT_EQ(reader.SectionCursor(), 10u);
  ASSERT_TRUE(reader.FindSection("A"));
  ASSERT_TRUE(reader.FindSection("A"));
  EXPECT_EQ(reader.SectionCursor(), 20u);
  EXPECT_EQ(reader.ReadCursor(), 25u);
  // A failed search leaves the section cursor where it was.
  EXPECT_FALSE(reader.FindSection("C"));
  EXPECT_EQ(reader.SectionCursor(), 20u);
}

TEST(SettingsReaderTest, ListingNeverLoopsOnDuplicateTrimmedHeaders) {
  // Looking up " 1 " finds "[1]" above it; listing must still go forward.
  SettingsReader reader;
  reader.SetImage("[DEFAULT]\r\n[1]\r\nv=1\r\n[ 1 ]\r\n[2]\r\n");
  ASSERT_TRUE(reader.FindSection("DEFAULT"));
  std::vector<std::string> names;
  std::string name, value;
  while (reader.NextSection(name) && names.size() < 10) {
    names.push_back(name);
    reader.FindValue(name, "v", value);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"1", " 1 ", "2"}));
}

TEST(SettingsReaderTest, ParseDecimal) {
  struct Case {
    const char* text;
    uint64_t bits;
  };
  const Case cases[] = {
      {"", 0},
      {"abc", 0},
      {"12abc", 12},
      {" \t-12x", static_cast<uint64_t>(-12)},
      {"+7", 7},
      {"- 5", 0},
      {"--5", 0},
      {"4294967295", 4294967295u},
      {"18446744073709551615", std::numeric_limits<uint64_t>::max()},
      {"-9223372036854775808", static_cast<uint64_t>(std::numeric_limits<int64_t>::min())},
      {"18446744073709551616", 0},  // wraps, never undefined
  };
  for (const Case& c : cases) EXPECT_EQ(ParseSettingsDecimal(c.text), c.bits) << c.text;
}

// One value of every kind, for reading and writing.
struct AllTypes {
  uint8_t u8 = 0;
  int16_t i16 = 0;
  uint16_t u16a = 0, u16b = 0;
  int32_t u32a = 0, u32b = 0, u32c = 0, u32d = 0, i32a = 0, i32b = 0;
  int64_t i64 = 0;
  uint64_t u64 = 0;
  std::string text;
  int32_t skipped = 77;

  std::vector<SettingDescriptor> Rows() {
    return {
        {0, "U8", &u8, 300},  // default keeps its low 8 bits: 44
        {1, "I16", &i16, static_cast<uint64_t>(-2)},
        {2, "U16a", &u16a, 0x12345},
        {3, "U16b", &u16b, 0},
        {4, "U32a", &u32a, 0},
        {5, "U32b", &u32b, 0},
        {7, "U32c", &u32c, 0},
        {9, "U32d", &u32d, 0},
        {6, "I32a", &i32a, static_cast<uint64_t>(-5)},
        {8, "I32b", &i32b, 0},
        {10, "I64", &i64, 0},
        {11, "U64", &u64, 0},
        {12, "Text", &text, 0, "fallback"},
        {13, "Skipped", &skipped, 1},
        {0xFFFFFFFFu, "Negative", &skipped, 1},
    };
  }
};

TEST(SettingsTypesTest, ReadParsesEveryTypeToItsWidth) {
  SettingsReader reader;
  reader.SetImage(
      "[S]\r\nU8=258\r\nI16=70000\r\nU16a=-1\r\nU16b=65535\r\nU32a=4294967295\r\nU32b=-1\r\nU32c=7\r\n"
      "U32d=2147483648\r\nI32a=-2147483648\r\nI32b=12abc\r\nI64=-9223372036854775808\r\n"
      "U64=18446744073709551615\r\nText= a=b \r\nSkipped=5\r\nNegative=6\r\n");
  AllTypes v;
  const auto rows = v.Rows();
  reader.ReadSettingsTable("S", rows.data(), rows.size());
  EXPECT_EQ(v.u8, 2);
  EXPECT_EQ(v.i16, 4464);  // 70000 keeps its low 16 bits
  EXPECT_EQ(v.u16a, 65535);
  EXPECT_EQ(v.u16b, 65535);
  EXPECT_EQ(static_cast<uint32_t>(v.u32a), 4294967295u);
  EXPECT_EQ(static_cast<uint32_t>(v.u32b), 4294967295u);
  EXPECT_EQ(v.u32c, 7);
  EXPECT_EQ(static_cast<uint32_t>(v.u32d), 2147483648u);
  EXPECT_EQ(v.i32a, std::numeric_limits<int32_t>::min());
  EXPECT_EQ(v.i32b, 12);
  EXPECT_EQ(v.i64, std::numeric_limits<int64_t>::min());
  EXPECT_EQ(v.u64, std::numeric_limits<uint64_t>::max());
  EXPECT_EQ(v.text, " a=b ");
  EXPECT_EQ(v.skipped, 77);  // rows above 12 are never read
}

TEST(SettingsTypesTest, MissingKeysTakeTheTypesPartOfTheDefault) {
  SettingsReader reader;
  reader.SetImage("[S]\r\nText=\r\n");
  AllTypes v;
  v.u32a = 99;
  const auto rows = v.Rows();
  reader.ReadSettingsTable("S", rows.data(), rows.size());
  EXPECT_EQ(v.u8, 44);
  EXPECT_EQ(v.i16, -2);
  EXPECT_EQ(v.u16a, 0x2345);
  EXPECT_EQ(v.u32a, 0);
  EXPECT_EQ(v.i32a, -5);
  EXPECT_EQ(v.text, "fallback");
  EXPECT_EQ(v.skipped, 77);
}

TEST(SettingsTypesTest, WriteFormatsEveryTypeAndRoundTrips) {
  AllTypes v;
  v.u8 = 255;
  v.i16 = -32768;
  v.u16a = 65535;
  v.u16b = 1;
  v.u32a = -1;  // 4294967295 as unsigned
  v.u32b = std::numeric_limits<int32_t>::min();
  v.u32c = 0;
  v.u32d = 7;
  v.i32a = -1;
  v.i32b = std::numeric_limits<int32_t>::max();
  v.i64 = std::numeric_limits<int64_t>::min();
  v.u64 = 0x8000000000000001ull;
  v.text = " x=y ";
  auto rows = v.Rows();
  SettingsWriter writer;
  writer.WriteSectionHeader("S");
  writer.WriteSettingsTable(rows.data(), rows.size());
  const std::string text(writer.Buffer().Text());
  EXPECT_EQ(text,
            "[S]\r\nU8=255\r\nI16=-32768\r\nU16a=65535\r\nU16b=1\r\nU32a=4294967295\r\nU32b=2147483648\r\n"
            "U32c=0\r\nU32d=7\r\nI32a=-1\r\nI32b=2147483647\r\nI64=-9223372036854775808\r\n"
            "U64=9223372036854775809\r\nText= x=y \r\n");

  AllTypes back;
  const auto back_rows = back.Rows();
  SettingsReader reader;
  reader.SetImage(text);
  reader.ReadSettingsTable("S", back_rows.data(), back_rows.size());
  EXPECT_EQ(back.u8, v.u8);
  EXPECT_EQ(back.i16, v.i16);
  EXPECT_EQ(back.u16a, v.u16a);
  EXPECT_EQ(back.u32a, v.u32a);
  EXPECT_EQ(back.u32b, v.u32b);
  EXPECT_EQ(back.i32b, v.i32b);
  EXPECT_EQ(back.i64, v.i64);
  EXPECT_EQ(back.u64, v.u64);
  EXPECT_EQ(back.text, v.text);
}

TEST(SettingsWriterTest, HeadersAndKeyLines) {
  SettingsWriter writer;
  writer.WriteSectionHeader("  DIALOG \t");
  writer.WriteKeyValue(" Key ", " value ");
  writer.WriteInt32("DlgWndPosX", -100);
  writer.WriteChannelHeader(std::numeric_limits<int64_t>::min());
  writer.WriteChannelHeader(1001);
  EXPECT_EQ(writer.Buffer().Text(),
            "[DIALOG]\r\nKey= value \r\nDlgWndPosX=-100\r\n[-9223372036854775808]\r\n[1001]\r\n");
}

TEST(SettingsWriterTest, GrowsGeometricallyAndKeepsEveryByte) {
  SettingsWriter writer;
  EXPECT_EQ(writer.Buffer().Capacity(), 100000u);
  std::string expected;
  const std::string line(99, 'x');
  for (int i = 0; i < 3000; ++i) {
    writer.WriteKeyValue("K" + std::to_string(i), line);
    expected += "K" + std::to_string(i) + "=" + line + "\r\n";
  }
  ASSERT_GT(expected.size(), 300000u);
  EXPECT_FALSE(writer.Buffer().Failed());
  EXPECT_EQ(writer.Buffer().Text(), expected);
  // Doubling from 100000: never more than twice the text.
  EXPECT_EQ(writer.Buffer().Capacity(), 400000u);

  // One text longer than a doubling takes what it needs at once.
  OutputBuffer big;
  big.AppendText(std::string(250001, 'y'));
  EXPECT_EQ(big.Capacity(), 250001u);
  EXPECT_EQ(big.Text().size(), 250001u);
}

TEST(SettingsWriterTest, ABufferThatCannotGrowReportsIt) {
  OutputBuffer buffer(150000);
  buffer.AppendText(std::string(90000, 'a'));
  EXPECT_FALSE(buffer.Failed());
  buffer.AppendText(std::string(20000, 'b'));  // the doubling goes past the limit
  EXPECT_TRUE(buffer.Failed());
  EXPECT_EQ(buffer.Text().size(), 90000u);
  EXPECT_EQ(buffer.Capacity(), 100000u);

  OutputBuffer none(10);
  EXPECT_TRUE(none.Failed());
  none.AppendText("x");
  EXPECT_TRUE(none.Text().empty());
}

}  // namespace
}  // namespace tev
