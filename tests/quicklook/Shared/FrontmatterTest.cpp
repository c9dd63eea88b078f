#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quicklook/Shared/PreviewDocument.h"

namespace quarn {
namespace {

TEST(FrontmatterTest, SplitsByTheFenceRules) {
  struct Row {
    std::string text;
    std::optional<std::string> frontmatter;
    std::string body;
  };
  const std::string noSplit = "\x01";  // body is the whole text
  const std::vector<Row> rows = {
      {"---\ntitle: A\n---\nBody", "title: A\n", "Body"},
      {"---\r\na: 1\r\n---\r\nBody", "a: 1\r\n", "Body"},
      {"---\na: 1\n...\nBody", "a: 1\n", "Body"},
      {"---\n---\nBody", "", "Body"},
      {"---\na: 1\n---", "a: 1\n", ""},
      {"---  \na: 1\n---\t\nBody", "a: 1\n", "Body"},
      {"---\na: 1\n--- x\nb\n---\nBody", "a: 1\n--- x\nb\n", "Body"},
      // A lone CR ends the closing line but stays with the body.
      {"---\na: 1\n---\rBody", "a: 1\n", "\rBody"},
      {"---\na: 1\n---\n\n# Title\n---\nmore", "a: 1\n", "\n# Title\n---\nmore"},
      {"---\na: 1\n", std::nullopt, noSplit},
      {"---", std::nullopt, noSplit},
      {"---\n", std::nullopt, noSplit},
      {"---\r", std::nullopt, noSplit},
      {"----\na: 1\n---\n", std::nullopt, noSplit},
      {"\n---\na: 1\n---\n", std::nullopt, noSplit},
      {" ---\na: 1\n---\n", std::nullopt, noSplit},
      {"\xEF\xBB\xBF---\na: 1\n---\n", std::nullopt, noSplit},
      {"...\na: 1\n...\n", std::nullopt, noSplit},
      {"", std::nullopt, noSplit},
      // The closing fence must start a line, not just follow spaces.
      {"---\na: 1\n ---\n", std::nullopt, noSplit},
  };
  for (const Row& row : rows) {
    const FrontmatterSplit split = PreviewDocument::splitFrontmatter(row.text);
    EXPECT_EQ(split.frontmatter, row.frontmatter) << "text: " << testing::PrintToString(row.text);
    EXPECT_EQ(split.body, row.body == noSplit ? row.text : row.body)
        << "text: " << testing::PrintToString(row.text);
  }
}

TEST(FrontmatterTest, UnicodeLineEndsEndTheClosingFence) {
  const FrontmatterSplit split = PreviewDocument::splitFrontmatter(
      "---\na: 1\n---\xE2\x80\xA8"
      "Body");
  EXPECT_EQ(split.frontmatter, "a: 1\n");
  EXPECT_EQ(split.body,
            "\xE2\x80\xA8"
            "Body");
}

TEST(FrontmatterTest, LargeNoteWithoutClosingFenceStaysWhole) {
  std::string text = "---\n";
  for (int i = 0; i < 100'000; ++i) text += "line " + std::to_string(i) + " -- ..\n";
  const FrontmatterSplit split = PreviewDocument::splitFrontmatter(text);
  EXPECT_FALSE(split.frontmatter);
  EXPECT_EQ(split.body.size(), text.size());
}

}  // namespace
}  // namespace quarn
