#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quicklook/Shared/PreviewDocument.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;

// A valid 1x1 PNG.
const std::string kPng(
    "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0\x1f\x15\xc4\x89"
    "\0\0\0\nIDATx\x9c"
    "c\0\x01\0\0\x05\0\x01\r\n-\xb4\0\0\0\0IEND\xae"
    "B`\x82",
    67);

std::string img(std::string_view source, std::string_view alt = "x") {
  return "<img src=\"" + std::string(source) + "\" alt=\"" + std::string(alt) + "\" />";
}
std::string cidImg(int number, std::string_view alt = "x") {
  return img("cid:quarn-image-" + std::to_string(number), alt);
}

// A vault: vault/notes/note.md beside vault/shared, with images and traps.
class AttachImagesTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "quarn-attach-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    notes_ = root_ / "notes";
    fs::create_directories(notes_ / "folder.png");
    fs::create_directories(root_ / "shared");
    write(notes_ / "pic.png", kPng);
    write(notes_ / "my pic.png", kPng);
    write(notes_ / "R&D.png", kPng);
    write(notes_ / "caf\xC3\xA9.png", kPng);
    write(notes_ / "PHOTO.JPG", "jpeg bytes");
    write(notes_ / "notes.txt", "text");
    write(notes_ / "noextension", kPng);
    write(notes_ / "50%.png", kPng);
    write(root_ / "shared" / "pic.png", kPng + "shared");
    ASSERT_EQ(::mkfifo((notes_ / "pipe.png").c_str(), 0600), 0);
    note_ = notes_ / "note.md";
  }
  void TearDown() override { fs::remove_all(root_); }

  static void write(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  AttachedImages attach(std::string_view html) const {
    return PreviewDocument::attachImages(html, note_);
  }

  fs::path root_, notes_, note_;
};

TEST_F(AttachImagesTest, ServesOrRemovesEachImage) {
  struct Row {
    std::string source;
    bool served;
  };
  const std::vector<Row> rows = {
      {"pic.png", true},
      {"my%20pic.png", true},
      {"R&amp;D.png", true},
      {"caf%C3%A9.png", true},
      {"PHOTO.JPG", true},
      {"../shared/pic.png", true},
      {"50%.png", true},      // malformed escape: the source is used as written
      {"my%2", false},        // malformed and missing
      {"caf%E9.png", false},  // not UTF-8 once decoded, and no such file
      {"missing.png", false},
      {"notes.txt", false},
      {"noextension", false},
      {"folder.png", false},
      {"pipe.png", false},  // a FIFO: must neither block nor be read
      {"pic.png%00.txt", false},
      {"notes.txt%00.png", false},
      {"HTTPS://example.com/a.png", false},
      {"https://example.com/a.png", false},
      {"http://example.com/a.png", false},
      {"data:image/png;base64,AAAA", false},
      {"cid:quarn-image-7", false},
  };
  for (const Row& row : rows) {
    const AttachedImages result = attach("<p>a " + img(row.source) + "</p>");
    SCOPED_TRACE(row.source);
    if (row.served) {
      EXPECT_EQ(result.html, "<p>a " + cidImg(0) + "</p>");
      ASSERT_EQ(result.attachments.size(), 1u);
      EXPECT_TRUE(result.attachments.begin()->second.contentType.isImage);
    } else {
      EXPECT_EQ(result.html, "<p>a </p>");
      EXPECT_TRUE(result.attachments.empty());
    }
  }
}

TEST_F(AttachImagesTest, ResolvesDotSegmentsBeforeReading) {
  // Enough ".." to pass the root from any temporary folder; the root holds them.
  std::string up;
  for (int i = 0; i < 64; ++i) up += "../";
  const std::string shared = (root_ / "shared" / "pic.png").relative_path().string();
  struct Row {
    std::string source;
    std::string bytes;  // "" when the element is removed
  };
  const std::vector<Row> rows = {
      {"nosuchdir/../pic.png", kPng},
      {"./nosuchdir/./../pic.png", kPng},
      {"nosuchdir/../../shared/pic.png", kPng + "shared"},
      {"nosuchdir/" + up + shared, kPng + "shared"},
      {"/nosuchdir/../" + shared, kPng + "shared"},
      {"pic.png/..", ""},
      {"nosuchdir/../missing.png", ""},
  };
  for (const Row& row : rows) {
    const AttachedImages result = attach("<p>a " + img(row.source) + "</p>");
    SCOPED_TRACE(row.source);
    if (row.bytes.empty()) {
      EXPECT_EQ(result.html, "<p>a </p>");
      EXPECT_TRUE(result.attachments.empty());
    } else {
      EXPECT_EQ(result.html, "<p>a " + cidImg(0) + "</p>");
      ASSERT_EQ(result.attachments.size(), 1u);
      EXPECT_EQ(result.attachments.begin()->second.data, row.bytes);
    }
  }
}

TEST_F(AttachImagesTest, AttachesBytesAndTypeUnderNumberedName) {
  const AttachedImages result = attach("<p>" + img("pic.png") + "</p>");
  EXPECT_EQ(result.html, "<p>" + cidImg(0) + "</p>");
  ASSERT_EQ(result.attachments.count("quarn-image-0"), 1u);
  const Attachment& attachment = result.attachments.at("quarn-image-0");
  EXPECT_EQ(attachment.data, kPng);
  EXPECT_EQ(attachment.contentType.identifier, "public.png");
  EXPECT_EQ(attachment.contentType.mimeType, "image/png");
}

TEST_F(AttachImagesTest, NumbersCountEveryMatchAndNothingIsShared) {
  const std::string abs = (root_ / "shared" / "pic.png").string();
  const AttachedImages result =
      attach("<p>" + img("pic.png") + img("https://x/y.png") + img("pic.png") + img(abs) + "</p>");
  EXPECT_EQ(result.html, "<p>" + cidImg(0) + cidImg(2) + cidImg(3) + "</p>");
  ASSERT_EQ(result.attachments.size(), 3u);
  EXPECT_EQ(result.attachments.count("quarn-image-1"), 0u);
  EXPECT_EQ(result.attachments.at("quarn-image-2").data, kPng);
  EXPECT_EQ(result.attachments.at("quarn-image-3").data, kPng + "shared");
}

TEST_F(AttachImagesTest, HoldsEachFileOnceForAllItsElements) {
  fs::create_symlink(notes_ / "pic.png", notes_ / "link.png");
  std::string html = "<p>" + img("link.png") + img("./nosuchdir/../pic.png");
  for (int i = 0; i < 50; ++i) html += img("pic.png");
  const AttachedImages result = attach(html + "</p>");
  ASSERT_EQ(result.attachments.size(), 52u);
  const char* const bytes = result.attachments.begin()->second.data.data();
  for (const auto& [name, attachment] : result.attachments) {
    EXPECT_EQ(attachment.data.data(), bytes) << name;
  }
  EXPECT_EQ(result.attachments.begin()->second.data, kPng);
}

TEST_F(AttachImagesTest, KeepsTheRestOfTheElement) {
  const AttachedImages result =
      attach("<img src=\"pic.png\" alt=\"A photo\" title=\"t\" /><img src=\"pic.png\">");
  EXPECT_EQ(result.html,
            "<img src=\"cid:quarn-image-0\" alt=\"A photo\" title=\"t\" />"
            "<img src=\"cid:quarn-image-1\">");
}

TEST_F(AttachImagesTest, DropsParagraphsLeftEmpty) {
  struct Row {
    std::string html;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"<p>" + img("https://x/y.png") + "</p>\n<p>text</p>", "\n<p>text</p>"},
      {"<p> " + img("missing.png") + "\n" + img("notes.txt") + " </p>", ""},
      {"<p>\n</p><p>kept</p>", "<p>kept</p>"},
      {"<p>" + img("", "x") + "</p>", "<p>" + img("", "x") + "</p>"},  // empty source: no match
      {"no images", "no images"},
  };
  for (const Row& row : rows) {
    const AttachedImages result = attach(row.html);
    EXPECT_EQ(result.html, row.expected) << row.html;
    EXPECT_TRUE(result.attachments.empty()) << row.html;
  }
}

TEST_F(AttachImagesTest, RefusesImagesOverTheSizeBound) {
  const fs::path big = notes_ / "big.png";
  { std::ofstream(big, std::ios::binary) << kPng; }
  fs::resize_file(big, 64u * 1024 * 1024 + 1);  // sparse: costs no disk
  const AttachedImages result = attach("<p>" + img("big.png") + img("pic.png") + "</p>");
  EXPECT_EQ(result.html, "<p>" + cidImg(1) + "</p>");
}

TEST_F(AttachImagesTest, BoundsTheBytesOfAllImagesOfOnePage) {
  const fs::path large = notes_ / "large.png";
  { std::ofstream(large, std::ios::binary) << kPng; }
  fs::resize_file(large, 60u * 1024 * 1024);
  std::string html = "<p>";
  for (int i = 0; i < 6; ++i) html += img("large.png");
  html += img("pic.png") + "</p>";
  const AttachedImages result = attach(html);
  // Four copies fit under the page's bound; later large ones go, small ones still fit.
  EXPECT_EQ(result.html,
            "<p>" + cidImg(0) + cidImg(1) + cidImg(2) + cidImg(3) + cidImg(6) + "</p>");
  EXPECT_EQ(result.attachments.size(), 5u);
}

TEST_F(AttachImagesTest, RendersNoteWithImagesFromDisk) {
  write(note_, "# T\n\n![x](pic.png) and ![y](<my pic.png>)\n\n![z](https://a/b.png)\n");
  auto preview = PreviewDocument::render(note_);
  ASSERT_TRUE(preview);
  EXPECT_NE(preview->html.find(cidImg(0)), std::string::npos);
  EXPECT_NE(preview->html.find(cidImg(1, "y")), std::string::npos);
  EXPECT_EQ(preview->html.find("https://a/b.png"), std::string::npos);
  EXPECT_EQ(preview->attachments.size(), 2u);
}

TEST_F(AttachImagesTest, RewritesOnlyTheNoteAfterItsFrontMatter) {
  // Elements that grow, shrink and vanish, after a front matter block that
  // is written into the page first.
  write(note_,
        "---\ntitle: T\n---\n![x](pic.png) ![z](https://a/b.png)\n\n![w](https://a/c.png)\n");
  auto preview = PreviewDocument::render(note_);
  ASSERT_TRUE(preview);
  EXPECT_NE(preview->html.find("</div>\n<p>" + cidImg(0) + " </p>\n\n\n</main>"), std::string::npos)
      << preview->html.substr(preview->html.find("<main"));
  EXPECT_EQ(preview->attachments.size(), 1u);
}

}  // namespace
}  // namespace quarn
