#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// The kernel's names for this process's descriptors lead to "pipe:[N]" for
// a pipe, and reopening a file by them would start it afresh: the bytes go
// through the descriptor itself, where it stands.
TEST(FileWriteTest, WritesThroughThisProcessDescriptors) {
  test::TempDir dir;
  const auto log = dir.write("log", "kept\n");
  for (const bool toPipe : {true, false}) {
    for (const std::string name : {"/dev/fd/", "/proc/self/fd/", "link"}) {
      SCOPED_TRACE(name + (toPipe ? " to a pipe" : " to a file opened for appending"));
      int ends[2] = {-1, -1};
      if (toPipe) {
        ASSERT_EQ(::pipe(ends), 0);
      } else {
        ends[1] = ::open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
      }
      const std::string byNumber = "/proc/self/fd/" + std::to_string(ends[1]);
      const std::filesystem::path path =
          name == "link" ? dir / "link" : std::filesystem::path(name + std::to_string(ends[1]));
      std::filesystem::remove(dir / "link");
      std::filesystem::create_symlink(byNumber, dir / "link");
      EXPECT_FALSE(writeFile(path, "page\n"));
      ::close(ends[1]);
      if (toPipe) {
        char buffer[16] = {};
        EXPECT_EQ(::read(ends[0], buffer, sizeof buffer), 5);
        EXPECT_EQ(std::string(buffer), "page\n");
        ::close(ends[0]);
      }
    }
  }
  EXPECT_EQ(test::readAll(log), "kept\npage\npage\npage\n");
}

TEST(FileWriteTest, RefusesAnOutputThatIsTheInput) {
  test::TempDir dir;
  const auto input = dir.write("n.md", "note");
  std::filesystem::create_symlink("n.md", dir / "link.html");
  std::filesystem::create_hard_link(input, dir / "hard.html");
  for (const auto& output : {input, dir / "link.html", dir / "hard.html"}) {
    OutputFiles outputs(input);
    EXPECT_EQ(outputs.stage(output, "page"), WriteError::isTheInput) << output;
  }
  const int fd = ::open(input.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  {
    OutputFiles outputs(input);
    EXPECT_EQ(outputs.stage(fd, "page"), WriteError::isTheInput);
  }
  ::close(fd);
  EXPECT_EQ(test::readAll(input), "note");
  EXPECT_EQ(writeFailure("out.md", WriteError::isTheInput), "out.md is the input file");
}

TEST(FileWriteTest, NothingStaysInPlaceUnlessEverythingIsWritten) {
  test::TempDir dir;
  const auto kept = dir.write("kept.html", "previous");
  std::filesystem::create_directory(dir / "taken");
  const int readOnly = ::open(kept.c_str(), O_RDONLY | O_CLOEXEC);
  const struct {
    const char* what;
    bool failsAtStage;  // else the failure comes while committing
  } rows[] = {{"a folder where a file goes", true}, {"a descriptor that cannot be written", false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    {
      OutputFiles outputs;
      ASSERT_FALSE(outputs.createFolders(dir / "att" / "inner"));
      ASSERT_FALSE(outputs.stage(dir / "att" / "inner" / "a.png", "image"));
      ASSERT_FALSE(outputs.stage(kept, "new page"));
      if (row.failsAtStage) {
        EXPECT_EQ(outputs.stage(dir / "taken", "image"), std::errc::is_a_directory);
      } else {
        ASSERT_FALSE(outputs.stage(readOnly, "page"));
        EXPECT_EQ(outputs.commit(), std::errc::bad_file_descriptor);
      }
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "att"));
    EXPECT_EQ(test::readAll(kept), "previous");
    // kept.html, taken and nothing staged beside them.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
  }
  ::close(readOnly);
}

}  // namespace
}  // namespace quarn
