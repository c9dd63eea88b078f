#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/FileWrite.h"
#include "tests/TestSupport.h"

namespace quarn {
namespace {

TEST(FileWriteTest, FollowsLinksToWhereTheyEnd) {
  test::TempDir dir;
  // A chain ending in nothing creates the file the last link names.
  std::filesystem::create_symlink("second", dir / "first");
  std::filesystem::create_symlink("made.txt", dir / "second");
  EXPECT_FALSE(writeFile(dir / "first", "new"));
  EXPECT_EQ(test::readAll(dir / "made.txt"), "new");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "first"));

  std::filesystem::create_symlink("loop-b", dir / "loop-a");
  std::filesystem::create_symlink("loop-a", dir / "loop-b");
  EXPECT_EQ(writeFile(dir / "loop-a", "x"), std::errc::too_many_symbolic_link_levels);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "loop-a"));
}

TEST(FileWriteTest, ReplacedFileKeepsItsPermissions) {
  test::TempDir dir;
  const auto file = dir.write("private.txt", "old");
  std::filesystem::permissions(
      file, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_FALSE(writeFile(file, "new"));
  EXPECT_EQ(test::readAll(file), "new");
  struct stat status {};
  ASSERT_EQ(::stat(file.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace quarn
