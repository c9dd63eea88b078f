#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/Utf8.h"
#include "quicklook/QuarnPreview/Mhtml.h"

namespace quarn {
namespace {

UTType png() { return *UTType::fromExtension("png"); }

// The lines of `text` split at CR LF; fails the test on a bare LF or CR.
std::vector<std::string> crlfLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    EXPECT_NE(end, std::string_view::npos) << "unterminated last line";
    if (end == std::string_view::npos) break;
    const std::string line(text.substr(start, end - start));
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
    lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

TEST(MhtmlTest, EncodesBase64InCrLfLines) {
  struct Row {
    std::string bytes;
    std::string expected;
  };
  const std::vector<Row> rows = {
      {"", ""},
      {"f", "Zg==\r\n"},
      {"fo", "Zm8=\r\n"},
      {"foo", "Zm9v\r\n"},
      {std::string("\xff\x00\xfe", 3), "/wD+\r\n"},
  };
  // 57 bytes fill exactly one 76-character line.
  const std::string line57 = Mhtml::base64Lines(std::string(57, 'a'));
  EXPECT_EQ(line57.size(), 78u);
  EXPECT_EQ(line57.substr(76), "\r\n");
  EXPECT_EQ(Mhtml::base64Lines(std::string(58, 'a')).substr(76, 8), "\r\nYQ==\r\n");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(Mhtml::base64Lines(rows[i].bytes), rows[i].expected) << i;
  }
}

TEST(MhtmlTest, BuildsRootPageAndOnePartPerAttachment) {
  const std::string page = "<!DOCTYPE html>\n<p><img src=\"cid:quarn-image-0\"></p>\n";
  QLPreviewReplyAttachments attachments;
  attachments["quarn-image-0"] = QLPreviewReplyAttachment{"foo", png()};
  attachments["quarn-image-2"] = QLPreviewReplyAttachment{"fo", *UTType::fromExtension("svg")};
  const std::string archive = Mhtml::archive(page, attachments, "Plan\n.md");

  const std::size_t pageAt = archive.find(page);
  ASSERT_NE(pageAt, std::string::npos);
  ASSERT_EQ(archive.compare(pageAt - 4, 4, "\r\n\r\n"), 0);
  EXPECT_EQ(archive.compare(pageAt + page.size(), 2, "\r\n"), 0);
  const std::string before = archive.substr(0, pageAt);
  const std::string after = archive.substr(pageAt + page.size() + 2);

  const std::vector<std::string> head = crlfLines(before);
  const std::vector<std::string> tail = crlfLines(after);
  EXPECT_EQ(head[1], "Subject: Plan_.md");
  const std::string boundaryLine = head[5];
  ASSERT_EQ(boundaryLine.rfind("\tboundary=\"", 0), 0u);
  const std::string boundary = boundaryLine.substr(11, boundaryLine.size() - 12);
  EXPECT_EQ(head[3], "Content-Type: multipart/related;");
  EXPECT_EQ(head[7], "--" + boundary);
  EXPECT_EQ(head[8], "Content-Type: text/html; charset=utf-8");
  EXPECT_EQ(head[9], "Content-Transfer-Encoding: binary");

  const std::vector<std::string> expectedTail = {
      "--" + boundary,
      "Content-Type: image/png",
      "Content-Transfer-Encoding: base64",
      "Content-ID: <quarn-image-0>",
      "",
      "Zm9v",
      "--" + boundary,
      "Content-Type: image/svg+xml",
      "Content-Transfer-Encoding: base64",
      "Content-ID: <quarn-image-2>",
      "",
      "Zm8=",
      "--" + boundary + "--",
  };
  EXPECT_EQ(tail, expectedTail);
}

// The Subject line and its continuation lines, unfolded into encoded words.
std::vector<std::string> subjectLines(std::string_view title) {
  const std::vector<std::string> lines = crlfLines(Mhtml::archive("", {}, title));
  std::vector<std::string> subject = {lines.at(1)};
  for (std::size_t i = 2; i < lines.size() && lines[i].starts_with(' '); ++i) {
    subject.push_back(lines[i]);
  }
  return subject;
}

std::string base64Decoded(std::string_view text) {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    bits = (bits << 6) | static_cast<std::uint32_t>(kAlphabet.find(c));
    if ((count += 6) >= 8) bytes += static_cast<char>((bits >> (count -= 8)) & 0xFF);
  }
  return bytes;
}

TEST(MhtmlTest, SubjectOutsideAsciiIsEncodedInWholeCharacters) {
  EXPECT_EQ(subjectLines("Caf\u00e9 \u2615.md"),
            (std::vector<std::string>{"Subject: =?UTF-8?B?Q2Fmw6kg4piVLm1k?="}));
  EXPECT_EQ(subjectLines("Plain name.md"), (std::vector<std::string>{"Subject: Plain name.md"}));
  EXPECT_EQ(subjectLines("caf\xe9\n.md"),
            (std::vector<std::string>{"Subject: =?UTF-8?B?Y2Fm77+9Xy5tZA==?="}));

  // A long title folds into several words, each short enough and each whole.
  std::string title;
  for (int i = 0; i < 40; ++i) title += i % 3 == 0 ? "\xF0\x9F\x98\x80" : "\u00e9a";
  const std::vector<std::string> lines = subjectLines(title);
  ASSERT_GT(lines.size(), 1u);
  std::string decoded;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    EXPECT_LT(lines[i].size(), 76u);
    const std::string prefix = i == 0 ? "Subject: =?UTF-8?B?" : " =?UTF-8?B?";
    ASSERT_TRUE(lines[i].starts_with(prefix));
    ASSERT_TRUE(lines[i].ends_with("?="));
    const std::string word =
        base64Decoded(lines[i].substr(prefix.size(), lines[i].size() - prefix.size() - 2));
    EXPECT_TRUE(utf8::isValid(word));
    decoded += word;
  }
  EXPECT_EQ(decoded, title);
}

TEST(MhtmlTest, BoundaryNeverOccursInThePage) {
  const std::string first = Mhtml::archive("", {});
  const std::size_t at = first.find("boundary=\"") + 10;
  const std::string boundary = first.substr(at, first.find('"', at) - at);
  const std::string page = "<p>--" + boundary + "</p>";
  const std::string archive = Mhtml::archive(page, {});
  const std::size_t next = archive.find("boundary=\"") + 10;
  const std::string chosen = archive.substr(next, archive.find('"', next) - next);
  EXPECT_NE(chosen, boundary);
  EXPECT_EQ(page.find(chosen), std::string::npos);
}

}  // namespace
}  // namespace quarn
