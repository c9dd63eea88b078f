// Which files a step reaches, and in what order.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/TestSupport.h"
#include "viewer/Neighbours.h"

namespace quarn {
namespace {

TEST(NeighboursTest, OrdersNamesAsAFileManagerDoes) {
  const struct {
    const char* before;
    const char* after;
  } rows[] = {
      {"note 2.md", "note 10.md"},  // digit runs by value
      {"apple.md", "Banana.md"},    // case ignored
      {"Apple.md", "banana.md"},
      {"a9.md", "a10b.md"},
  };
  for (const auto& row : rows) {
    EXPECT_TRUE(fileManagerOrder(row.before, row.after)) << row.before << " < " << row.after;
    EXPECT_FALSE(fileManagerOrder(row.after, row.before)) << row.after << " > " << row.before;
  }
}

TEST(NeighboursTest, ListsOnlyPreviewableVisibleFilesInOrder) {
  test::TempDir dir;
  for (const char* name : {"note 10.md", "Note 2.MD", "b.json", "a.yml", "c.kcv", "x.pdf",
                           ".hidden.md", "readme", "d.markdown"}) {
    dir.write(name, "x");
  }
  std::filesystem::create_directory(dir / "folder.md");
  std::vector<std::string> names;
  for (const auto& file : previewableFiles(dir.path())) names.push_back(file.filename());
  EXPECT_EQ(names,
            (std::vector<std::string>{"a.yml", "b.json", "c.kcv", "Note 2.MD", "note 10.md"}));
  EXPECT_TRUE(previewableFiles(dir / "missing").empty());
}

TEST(NeighboursTest, StepsStopAtTheEndsAndGoOnFromAVanishedFile) {
  const std::vector<std::filesystem::path> files = {"/v/a.md", "/v/c.md", "/v/e.md"};
  const struct {
    const char* current;
    bool forward;
    const char* expected;  // "" for none
  } rows[] = {
      {"/v/a.md", true, "/v/c.md"}, {"/v/c.md", false, "/v/a.md"}, {"/v/e.md", true, ""},
      {"/v/a.md", false, ""},       {"/v/d.md", true, "/v/e.md"},  {"/v/d.md", false, "/v/c.md"},
      {"/v/f.md", true, ""},        {"/v/0.md", false, ""},
  };
  for (const auto& row : rows) {
    const auto next = stepFrom(files, row.current, row.forward);
    EXPECT_EQ(next ? next->string() : "", row.expected) << row.current << " " << row.forward;
  }
  EXPECT_FALSE(stepFrom({}, "/v/a.md", true));
}

}  // namespace
}  // namespace quarn
