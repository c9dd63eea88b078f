#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/WhiteSpace.h"

namespace quarn {
namespace {

TEST(WhiteSpaceTest, BlankIsUnicodeWhiteSpaceOnly) {
  struct Row {
    std::string text;
    bool blank;
  };
  const std::vector<Row> rows = {
      {"", true},
      {" \t\n\v\f\r", true},
      {"\xC2\x85\xC2\xA0\xE1\x9A\x80", true},                      // U+0085 U+00A0 U+1680
      {"\xE2\x80\x80\xE2\x80\x8A\xE2\x80\xA8\xE2\x80\xA9", true},  // U+2000 U+200A U+2028 U+2029
      {"\xE2\x80\xAF\xE2\x81\x9F\xE3\x80\x80", true},              // U+202F U+205F U+3000
      {" \xE1\xA0\x8E", false},                                    // U+180E, no longer a space
      {"\xE2\x80\x8B", false},                                     // U+200B zero width space
      {"\xEF\xBB\xBF", false},                                     // U+FEFF
      {"\x1C\x1D\x1E\x1F", false},                                 // separators, not white space
      {"\xC2", false},                                             // a cut sequence
      {"\xC0\xA0", false},                                         // an overlong space
      {" x ", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(isBlank(row.text), row.blank) << testing::PrintToString(row.text);
  }
  EXPECT_EQ(whiteSpacePrefixLength("\xE3\x80\x80 x "), 4u);
  EXPECT_EQ(whiteSpacePrefixLength(" \xE1\xA0\x8E"), 1u);
}

TEST(WhiteSpaceTest, TrimsHorizontalSpaceOnly) {
  struct Row {
    std::string text;
    std::string trimmed;
  };
  const std::vector<Row> rows = {
      {" \t\xC2\xA0x y\xE3\x80\x80\xE2\x80\x8A", "x y"},   // U+00A0, U+3000, U+200A
      {"\xE1\x9A\x80\xE2\x80\xAF\xE2\x81\x9F", ""},        // U+1680 U+202F U+205F
      {"\nx\r", "\nx\r"},                                  // line breaks stay
      {"\xE2\x80\xA8x\xC2\x85", "\xE2\x80\xA8x\xC2\x85"},  // U+2028, U+0085
      {"x\xE2\x80\x8B", "x\xE2\x80\x8B"},                  // U+200B is no space
      {"x \x80", "x \x80"},                                // a stray continuation byte
      {"\xA0 x", "\xA0 x"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(trimmedOfHorizontalSpace(row.text), row.trimmed) << testing::PrintToString(row.text);
  }
}

}  // namespace
}  // namespace quarn
