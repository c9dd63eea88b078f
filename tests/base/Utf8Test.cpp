#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/Utf8.h"

namespace quarn {
namespace {

TEST(Utf8Test, CountsAsciiPrefixAndCharacters) {
  struct Row {
    std::string text;
    std::size_t asciiPrefix;
    std::size_t characters;
  };
  const std::vector<Row> rows = {
      {"", 0, 0},
      {"abcdefgh", 8, 8},
      {"abcdefghijklmnopq", 17, 17},
      {"abcdefg\xC3\xA9xxxxxxx", 7, 15},               // é across the first eight bytes
      {"abcdefghij\xF0\x9F\x98\x80", 10, 11},          // U+1F600 in the tail
      {"\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC", 0, 3},  // three euro signs
      {"\x7F\x80\xBF\xC0", 1, 2},                      // stray continuation bytes count nothing
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.text));
    EXPECT_EQ(utf8::asciiPrefixLength(row.text), row.asciiPrefix);
    EXPECT_EQ(utf8::characterCount(row.text), row.characters);
  }
}

}  // namespace
}  // namespace quarn
