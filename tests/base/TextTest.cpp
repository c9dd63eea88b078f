#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "base/Text.h"

namespace quarn {
namespace {

TEST(TextTest, LowerCasesAsciiLettersOnly) {
  EXPECT_EQ(text::asciiLowercased("KCV.Md-Z@[`"), "kcv.md-z@[`");
  // É and the Kelvin sign stay: letter case of extensions is ASCII's.
  EXPECT_EQ(text::asciiLowercased("\xC3\x89\xE2\x84\xAA"), "\xC3\x89\xE2\x84\xAA");
  EXPECT_TRUE(text::startsWithIgnoringAsciiCase("FiLe:///a", "file:"));
  EXPECT_FALSE(text::startsWithIgnoringAsciiCase("fil", "file:"));
}

TEST(TextTest, HexDigits) {
  const struct {
    char c;
    int value;
  } rows[] = {{'0', 0},  {'9', 9},  {'a', 10}, {'F', 15}, {'g', -1}, {'G', -1},
              {'/', -1}, {':', -1}, {'@', -1}, {'`', -1}, {'\0', -1}};
  for (const auto& row : rows) {
    EXPECT_EQ(text::hexDigitValue(row.c), row.value) << int(row.c);
  }
  const struct {
    const char* text;
    int value;
  } quads[] = {{"00e9", 0xE9}, {"D83Dx", 0xD83D}, {"fFfF", 0xFFFF}, {"12g4", -1}, {"123", -1}};
  for (const auto& row : quads) {
    EXPECT_EQ(text::fourHexDigitValue(row.text), row.value) << row.text;
  }
}

TEST(TextTest, PercentDecodes) {
  const struct {
    const char* text;
    std::optional<std::string> decoded;
  } rows[] = {
      {"", ""},
      {"my%20pic.png", "my pic.png"},
      {"%C3%a9", "\xC3\xA9"},
      {"%2541", "%41"},  // decoded once only
      {"%00", std::string(1, '\0')},
      {"%ff", "\xFF"},  // bytes are not checked here
      {"%", std::nullopt},
      {"a%4", std::nullopt},
      {"%4g", std::nullopt},
      {"%%41", std::nullopt},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(text::percentDecoded(row.text), row.decoded) << row.text;
  }
}

TEST(TextTest, ExtensionIsTextAfterTheLastDotOfTheName) {
  const struct {
    const char* path;
    const char* extension;
  } rows[] = {{"a.b.C", "c"},     {"dir.d/name", ""}, {"x.", ""},     {"Data.Json", "json"},
              {"", ""},           {".kcv", "kcv"},    {"a.kcv.", ""}, {"/tmp/A.KCV", "kcv"},
              {"noextension", ""}};
  for (const auto& row : rows) {
    EXPECT_EQ(text::fileExtension(row.path), row.extension) << row.path;
  }
}

}  // namespace
}  // namespace quarn
