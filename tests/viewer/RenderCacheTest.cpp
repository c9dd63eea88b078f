// Which render of a file the window may show, and which files it renders
// ahead and forgets.
#include <chrono>
#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "tests/TestSupport.h"
#include "viewer/RenderCache.h"

namespace quarn {
namespace {

ShownPreview page(const char* title) { return {title, "<p>page</p>", {}}; }

TEST(RenderCacheTest, AReplacedRenderIsDroppedWhenItFinishesLate) {
  RenderCache cache;
  const std::filesystem::path file = "/v/a.md";
  const auto first = cache.start(file);
  const auto second = cache.start(file);
  EXPECT_FALSE(cache.finish(file, first, page("old")));
  ASSERT_NE(cache.find(file), nullptr);
  EXPECT_FALSE(cache.find(file)->done);

  ASSERT_TRUE(cache.finish(file, second, page("new")));
  EXPECT_EQ(cache.find(file)->preview->title, "new");
  EXPECT_FALSE(cache.finish("/v/other.md", second, page("stray")));
  EXPECT_EQ(cache.find("/v/other.md"), nullptr);
}

TEST(RenderCacheTest, ARenderIsCurrentWhileUnderWayAndUntilItsFileChanges) {
  test::TempDir dir;
  const auto note = dir.write("a.md", "# A\n");
  RenderCache cache;
  EXPECT_FALSE(cache.current(note));
  const auto generation = cache.start(note);
  std::filesystem::last_write_time(
      note, std::filesystem::last_write_time(note) - std::chrono::seconds(5));
  EXPECT_TRUE(cache.current(note));  // under way: its result is coming
  ASSERT_TRUE(cache.finish(note, generation,
                           Unexpected(FileError::withCode(FileError::Code::fileReadNoSuchFile))));
  EXPECT_FALSE(cache.current(note));

  cache.refuse(dir / "gone.pdf");
  EXPECT_TRUE(cache.current(dir / "gone.pdf"));
  dir.write("gone.pdf", "%PDF");  // back on disk: looked at again
  EXPECT_FALSE(cache.current(dir / "gone.pdf"));
}

TEST(RenderCacheTest, KeepsTheShownFileAndItsNeighboursAndForgetsTheRest) {
  const std::vector<std::filesystem::path> files = {"/v/a.md", "/v/b.md", "/v/c.md", "/v/d.md"};
  RenderCache cache;
  for (const char* file : {"/v/a.md", "/v/b.md", "/v/c.md"}) cache.start(file);
  EXPECT_EQ(cache.keepAround(files, "/v/b.md"), (std::vector<std::filesystem::path>{}));

  EXPECT_EQ(cache.keepAround(files, "/v/c.md"), (std::vector<std::filesystem::path>{"/v/d.md"}));
  EXPECT_EQ(cache.find("/v/a.md"), nullptr);
  EXPECT_NE(cache.find("/v/b.md"), nullptr);
  cache.start("/v/d.md");

  // A shown file gone from the list keeps its render; steps go on from its place.
  cache.start("/v/bb.md");
  EXPECT_EQ(cache.keepAround(files, "/v/bb.md"), (std::vector<std::filesystem::path>{}));
  EXPECT_NE(cache.find("/v/bb.md"), nullptr);
  EXPECT_EQ(cache.find("/v/d.md"), nullptr);
}

}  // namespace
}  // namespace quarn
