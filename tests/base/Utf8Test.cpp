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

// Bad bytes right after, and across the end of, runs of ASCII long enough to
// be checked a word at a time.
TEST(Utf8Test, FindsIllFormedBytesAfterAsciiRuns) {
  const std::string run(16, 'a');
  struct Row {
    std::string text;
    bool valid;
  };
  const std::vector<Row> rows = {
      {run + run, true},
      {run + "\x80", false},
      {run + run + "\xC3", false},                           // cut short at the end
      {std::string(15, 'a') + "\xC3\xA9" + run, true},       // across a word's end
      {std::string(15, 'a') + "\xED\xA0\x80" + run, false},  // a surrogate there
      {run + "\xF4\x90\x80\x80", false},                     // above U+10FFFF
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.text));
    EXPECT_EQ(utf8::isValid(row.text), row.valid);
  }
}

}  // namespace
}  // namespace quarn
