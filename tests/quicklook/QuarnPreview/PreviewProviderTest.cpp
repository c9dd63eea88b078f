#include <string>

#include <gtest/gtest.h>

#include "quicklook/QuarnPreview/PreviewProvider.h"
#include "tests/TestSupport.h"

namespace quarn {
namespace {

struct Answer {
  int calls = 0;
  std::unique_ptr<QLPreviewReply> reply;
  std::optional<FileError> error;
};

Answer ask(const std::filesystem::path& file) {
  Answer answer;
  PreviewProvider provider;
  provider.providePreview(QLFilePreviewRequest{file},
                          [&](std::unique_ptr<QLPreviewReply> reply, std::optional<FileError> e) {
                            ++answer.calls;
                            answer.reply = std::move(reply);
                            answer.error = std::move(e);
                          });
  return answer;
}

TEST(PreviewProviderTest, RefusesOtherExtensionsWithUnsupportedScheme) {
  for (const char* name : {"Report.PDF", "x.markdown", "noext", "a.txt"}) {
    Answer answer = ask(name);
    EXPECT_EQ(answer.calls, 1) << name;
    EXPECT_FALSE(answer.reply) << name;
    ASSERT_TRUE(answer.error) << name;
    EXPECT_EQ(static_cast<int>(answer.error->code), 262) << name;
    EXPECT_TRUE(answer.error->path.empty());
    EXPECT_FALSE(answer.error->reason);
  }
}

TEST(PreviewProviderTest, AcceptsWithoutReadingAndRendersWhenAsked) {
  test::TempDir dir;
  // The file does not exist yet: accepting must not touch the disk.
  Answer answer = ask(dir / "Notes.MD");
  EXPECT_EQ(answer.calls, 1);
  ASSERT_TRUE(answer.reply);
  EXPECT_FALSE(answer.error);
  EXPECT_EQ(answer.reply->contentType(), UTType::html());
  EXPECT_EQ(answer.reply->contentSize(), (CGSize{800, 600}));
  EXPECT_EQ(answer.reply->stringEncoding, StringEncoding::unspecified);

  dir.write("Notes.MD", "# Hi\n");
  auto data = answer.reply->createData();
  ASSERT_TRUE(data);
  EXPECT_NE(data->find("<h1>Hi</h1>"), std::string::npos);
  EXPECT_EQ(answer.reply->stringEncoding, StringEncoding::utf8);
  EXPECT_EQ(answer.reply->title, "Notes.MD");
  EXPECT_TRUE(answer.reply->attachments.empty());
}

TEST(PreviewProviderTest, FileDeletedBeforeTheDataIsAskedForFailsTheRoutine) {
  test::TempDir dir;
  const auto file = dir.write("gone.md", "x");
  Answer answer = ask(file);
  ASSERT_TRUE(answer.reply);
  std::filesystem::remove(file);
  auto data = answer.reply->createData();
  ASSERT_FALSE(data);
  EXPECT_EQ(data.error().code, FileError::Code::fileReadNoSuchFile);
  EXPECT_EQ(answer.reply->title, "");  // nothing set on failure
}

TEST(PreviewProviderTest, TitleIsTheRawFileName) {
  test::TempDir dir;
  Answer answer = ask(dir.write("a<b.md", "x"));
  ASSERT_TRUE(answer.reply);
  auto data = answer.reply->createData();
  ASSERT_TRUE(data);
  EXPECT_EQ(answer.reply->title, "a<b.md");
  EXPECT_NE(data->find("<title>a&lt;b.md</title>"), std::string::npos);
}

TEST(PreviewProviderTest, NameThatIsNotUtf8GetsItsPageWithEachBadByteReplaced) {
  const struct {
    const char* name;
    const char* title;
  } rows[] = {
      {"caf\xe9.md", "caf\uFFFD.md"},          // an ISO 8859-1 name
      {"\xe9\xa9 x.md", "\uFFFD\uFFFD x.md"},  // one replacement per byte, not per run
      {"caf\xc3\xa9.md", "caf\u00e9.md"},
  };
  test::TempDir dir;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.title);
    Answer answer = ask(dir.write(row.name, "# Hi\n"));
    ASSERT_TRUE(answer.reply);
    auto data = answer.reply->createData();
    ASSERT_TRUE(data) << static_cast<int>(data.error().code);
    EXPECT_EQ(answer.reply->title, row.title);
    EXPECT_NE(data->find(std::string("<title>") + row.title + "</title>"), std::string::npos);
    EXPECT_NE(data->find("<h1>Hi</h1>"), std::string::npos);
  }
}

}  // namespace
}  // namespace quarn
