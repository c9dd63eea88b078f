// A reply survives the trip through its frame: pages empty and large, shared
// attachments, and reasons of every category.
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/FileRead.h"
#include "viewer/RenderMessage.h"

namespace quarn {
namespace {

TEST(RenderMessageTest, RepliesComeBackAsTheyWentAndDamagedOnesAreRefused) {
  const SharedBytes png = std::string("\x89PNG\r\n\x1a\n\0\0", 10);
  const UTType pngType{"public.png", "image/png", true};
  const std::string big(3 << 20, '\xfe');
  const Expected<ShownPreview, FileError> rows[] = {
      ShownPreview{"", "", {}},
      ShownPreview{
          "Title",
          big,
          {{"a.png", {png, pngType}},
           {"again.png", {png, pngType}},  // the same bytes under a second name
           {"empty", {SharedBytes(), UTType{}}},
           {"b.svg", {std::string(100000, 'x'), {"public.svg-image", "image/svg+xml", true}}}}},
      Unexpected(FileError::readFailure(
          "/v/gone.md", std::make_error_code(std::errc::no_such_file_or_directory))),
      Unexpected(FileError::withCode(FileError::Code::fileReadCorruptFile)),
      readFile("/dev/null").map([](std::string) { return ShownPreview{}; }),  // not a regular file
  };
  for (std::size_t row = 0; row < std::size(rows); ++row) {
    const auto& sent = rows[row];
    const RenderMessage::Frame frame = RenderMessage::reply(41 + row, sent);
    std::string bytes = frame.head;
    for (std::string_view piece : frame.bytes) bytes += piece;
    ASSERT_EQ(RenderMessage::frameLength(bytes), bytes.size() - RenderMessage::kLengthBytes) << row;
    const std::string body = bytes.substr(RenderMessage::kLengthBytes);
    EXPECT_FALSE(RenderMessage::readReply(body.substr(0, body.size() - 1))) << row;
    EXPECT_FALSE(RenderMessage::readReply(body + "x")) << row;

    auto reply = RenderMessage::readReply(std::string(body));
    ASSERT_TRUE(reply) << row;
    EXPECT_EQ(reply->serial, 41 + row);
    ASSERT_EQ(reply->result.has_value(), sent.has_value()) << row;
    if (!sent) {
      EXPECT_EQ(reply->result.error().code, sent.error().code) << row;
      EXPECT_EQ(reply->result.error().path, sent.error().path) << row;
      EXPECT_EQ(reply->result.error().reason.message(), sent.error().reason.message()) << row;
      EXPECT_EQ(reply->result.error().reason == std::errc::no_such_file_or_directory,
                sent.error().reason == std::errc::no_such_file_or_directory)
          << row;
      continue;
    }
    EXPECT_EQ(reply->result->title, sent->title) << row;
    EXPECT_EQ(reply->result->page, sent->page) << row;
    ASSERT_EQ(reply->result->attachments.size(), sent->attachments.size()) << row;
    for (const auto& [name, attachment] : sent->attachments) {
      const auto& got = reply->result->attachments.at(name);
      EXPECT_EQ(got.data, attachment.data) << name;
      EXPECT_EQ(got.contentType, attachment.contentType) << name;
    }
    if (row == 1) {
      EXPECT_EQ(reply->result->attachments.at("a.png").data.data(),
                reply->result->attachments.at("again.png").data.data());
    }
  }
}

}  // namespace
}  // namespace quarn
