#include <string>

#include <gtest/gtest.h>

#include "quicklook/QuarnPreview/PreviewService.h"
#include "tests/TestSupport.h"

namespace quarn {
namespace {

TEST(PreviewServiceTest, DesktopMarkdownNamesArePreviewedAsNotes) {
  test::TempDir dir;
  const struct {
    const char* name;
    bool accepted;
  } rows[] = {
      {"n.markdown", true}, {"n.MKD", true}, {"n.md", true}, {"n.txt", false}, {"n.mkdn", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const auto file = dir.write(row.name, "# Title\n");
    auto reply = requestPreview(file);
    ASSERT_EQ(reply != nullptr, row.accepted);
    if (!reply) continue;
    const auto shown = createPreview(*reply);
    ASSERT_TRUE(shown.has_value());
    EXPECT_NE(shown->page.find("<h1>Title</h1>"), std::string::npos);
    EXPECT_EQ(shown->title, row.name);
  }
}

// A trailing slash names a folder whatever the last part looks like.
TEST(PreviewServiceTest, PathWithATrailingSlashFailsAsItsFolderDoes) {
  test::TempDir dir;
  std::filesystem::create_directory(dir / "d.md");
  std::filesystem::create_directory(dir / "examples");
  dir.write("n.md", "# Title\n");
  const struct {
    std::string path;
    std::errc reason;
  } rows[] = {
      {(dir / "d.md/").string(), std::errc::is_a_directory},
      {(dir / "examples/").string(), std::errc::is_a_directory},
      {"/", std::errc::is_a_directory},
      {(dir / "n.md/").string(), std::errc::not_a_directory},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    auto reply = requestPreview(row.path);
    ASSERT_NE(reply, nullptr);
    const auto shown = createPreview(*reply);
    ASSERT_FALSE(shown.has_value());
    EXPECT_EQ(shown.error().reason, row.reason);
    EXPECT_EQ(unreadableMessage(row.path, shown.error()).substr(0, row.path.size()), row.path);
  }
}

}  // namespace
}  // namespace quarn
