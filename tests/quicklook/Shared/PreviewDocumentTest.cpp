#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "quicklook/Shared/HTML.h"
#include "quicklook/Shared/MarkdownRenderer.h"
#include "quicklook/Shared/PreviewDocument.h"
#include "quicklook/Shared/StructuredRenderer.h"
#include "tests/TestSupport.h"

namespace quarn {
namespace {

// The body of a page: what stands inside the main element.
std::string bodyOf(const std::string& page) {
  const std::string open = "<main class=\"quarn-preview\">\n";
  const std::size_t start = page.find(open) + open.size();
  return page.substr(start, page.rfind("\n</main>") - start);
}

std::string renderedBody(const test::TempDir& dir, std::string_view name,
                         std::string_view contents) {
  auto preview = PreviewDocument::render(dir.write(name, contents));
  EXPECT_TRUE(preview.has_value()) << name;
  return preview ? bodyOf(preview->html) : std::string();
}

TEST(PreviewDocumentTest, CanRenderByLowerCasedExtension) {
  const struct {
    const char* name;
    bool accepted;
  } rows[] = {
      {"a.md", true},        {"a.json", true},       {"a.yaml", true},     {"a.yml", true},
      {"a.kcv", true},       {"a.qcv", true},        {"Plan.MD", true},    {"board.KCV", true},
      {"a.markdown", false}, {"notes", false},       {"notes.txt", false}, {"a.md.bak", false},
      {".md", true},         {"dir.md/file", false}, {"a.", false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(PreviewDocument::canRender(row.name), row.accepted) << row.name;
  }
}

TEST(PreviewDocumentTest, DecodesUtf8ElseLatin1AndDropsALeadingByteOrderMark) {
  const struct {
    std::string bytes, text;
  } rows[] = {
      {"", ""},
      {"plain", "plain"},
      {"\xC3\xA9", "é"},
      {"\xE9", "é"},                                   // not UTF-8: each byte one Latin-1 character
      {"a\xFF\xC3\xA9", "a\xC3\xBF\xC3\x83\xC2\xA9"},  // one bad byte makes it all Latin-1
      {"\xEF\xBB\xBF---\n", "---\n"},
      {"x\xEF\xBB\xBF", "x\xEF\xBB\xBF"},            // only a leading mark goes
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xC2\x80"},  // an encoded surrogate is not UTF-8
      {std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(PreviewDocument::decodeText(row.bytes), row.text) << row.bytes;
  }
}

TEST(PreviewDocumentTest, ChoosesTheRoadByExtension) {
  test::TempDir dir;
  const std::string yaml = "a: 1\n";
  const std::string structured = StructuredRenderer::html(yaml);
  const std::string markdown = MarkdownRenderer::html(yaml);
  EXPECT_EQ(renderedBody(dir, "data.Json", yaml), structured);
  EXPECT_EQ(renderedBody(dir, "config.YML", yaml), structured);
  EXPECT_EQ(renderedBody(dir, "a.yaml", yaml), structured);
  EXPECT_EQ(renderedBody(dir, "Plan.MD", yaml), markdown);
  EXPECT_EQ(renderedBody(dir, "notes", yaml), markdown);
  EXPECT_EQ(renderedBody(dir, "notes.txt", yaml), markdown);
  EXPECT_EQ(renderedBody(dir, "board.KCV", "["),
            "<p class=\"quarn-empty\">Not a readable canvas</p>");
}

TEST(PreviewDocumentTest, CanvasThatIsNotJsonIsANoteNotAnError) {
  test::TempDir dir;
  EXPECT_EQ(renderedBody(dir, "a.kcv", "{"), "<p class=\"quarn-empty\">Not a readable canvas</p>");
  EXPECT_EQ(renderedBody(dir, "a.qcv", ""), "<p class=\"quarn-empty\">Not a readable canvas</p>");
}

TEST(PreviewDocumentTest, FrontMatterBlockStandsBeforeTheBody) {
  test::TempDir dir;
  EXPECT_EQ(renderedBody(dir, "n.md", "---\ntitle: A\n---\nBody text\n"),
            "<div class=\"quarn-frontmatter\">" +
                StructuredRenderer::html(std::string_view("title: A\n")) +
                "</div>\n<p>Body text</p>\n");
  // A byte-order mark before the fence no longer hides the front matter.
  EXPECT_EQ(renderedBody(dir, "bom.md", "\xEF\xBB\xBF---\ntitle: A\n---\nBody text\n"),
            renderedBody(dir, "n2.md", "---\ntitle: A\n---\nBody text\n"));
  // Blank front matter adds no block.
  EXPECT_EQ(renderedBody(dir, "blank.md", "---\n\n---\nBody\n"), "<p>Body</p>\n");
  EXPECT_EQ(renderedBody(dir, "spaces.md", "---\n  \t\n\n---\nBody\n"), "<p>Body</p>\n");
}

// Blank front matter adds no block and a paragraph of nothing but white space
// is dropped; both mean Unicode White_Space, where U+180E is not.
TEST(PreviewDocumentTest, BlankMeansUnicodeWhiteSpace) {
  struct Row {
    std::string note;
    std::string body;  // "" where a front matter block is expected
  };
  const std::string kMongolianVowelSeparator = "\xE1\xA0\x8E";
  const std::vector<Row> rows = {
      {"---\n" + kMongolianVowelSeparator + "\n---\nBody\n", ""},
      {"---\n\v\f\xC2\x85\xC2\xA0\xE3\x80\x80\xE2\x80\xA8\n---\nBody\n", "<p>Body</p>\n"},
      {kMongolianVowelSeparator + "\n", "<p>" + kMongolianVowelSeparator + "</p>\n"},
      {"\xE3\x80\x80\xE2\x80\x8A\n", "\n"},
  };
  test::TempDir dir;
  for (const Row& row : rows) {
    const std::string body = renderedBody(dir, "n.md", row.note);
    if (row.body.empty()) {
      EXPECT_TRUE(body.starts_with("<div class=\"quarn-frontmatter\">")) << row.note;
    } else {
      EXPECT_EQ(body, row.body) << row.note;
    }
  }
}

TEST(PreviewDocumentTest, InvalidUtf8NoteIsReadAsLatin1) {
  test::TempDir dir;
  EXPECT_EQ(renderedBody(dir, "e.md", "\xE9"), "<p>é</p>\n");
}

TEST(PreviewDocumentTest, TitleIsTheFileNameEscapedInThePage) {
  test::TempDir dir;
  auto preview = PreviewDocument::render(dir.write("a<b & c.md", "x"));
  ASSERT_TRUE(preview);
  EXPECT_NE(preview->html.find("<title>a&lt;b &amp; c.md</title>"), std::string::npos);
  EXPECT_TRUE(preview->attachments.empty());
}

TEST(PreviewDocumentTest, UnreadableLocationsFailWithTheReadError) {
  test::TempDir dir;
  std::filesystem::create_directory(dir / "folder.md");
  ASSERT_EQ(::mkfifo((dir / "pipe.md").c_str(), 0600), 0);
  const struct {
    std::string name;
    FileError::Code code;
  } rows[] = {
      {"missing.md", FileError::Code::fileReadNoSuchFile},
      {"folder.md", FileError::Code::fileReadUnknown},
      {"pipe.md", FileError::Code::fileReadUnknown},  // refused, never waited on
  };
  for (const auto& row : rows) {
    auto preview = PreviewDocument::render(dir / row.name);
    ASSERT_FALSE(preview) << row.name;
    EXPECT_EQ(preview.error().code, row.code) << row.name;
    EXPECT_EQ(preview.error().path, dir / row.name);
    EXPECT_TRUE(preview.error().reason) << row.name;
  }
}

TEST(PreviewDocumentTest, SmallNotePageMatchesByteForByte) {
  const std::filesystem::path data = std::filesystem::path(QUARN_SOURCE_DIR) / "tests/data";
  auto preview = PreviewDocument::render(data / "small-note.md");
  ASSERT_TRUE(preview);
  EXPECT_EQ(preview->html, test::readAll(data / "small-note.html"));
}

}  // namespace
}  // namespace quarn
