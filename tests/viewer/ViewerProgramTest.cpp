// The quarn-view program as a user runs it: snapshots, exit statuses, and no
// connection to anything. Needs a display (CI runs it under xvfb-run).
#include <string>

#include <gtest/gtest.h>

#include "tests/TestSupport.h"
#include "tests/viewer/ViewerTestSupport.h"

namespace quarn {
namespace {

constexpr test::Rgb kRed{255, 0, 0}, kBlue{0, 0, 255};
constexpr test::Rgb kLight{0xff, 0xff, 0xff}, kDark{0x18, 0x18, 0x18};

class ViewerProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::haveDisplay()) GTEST_SKIP() << "no display";
  }
  static test::RunResult view(const std::string& arguments) {
    return test::run("timeout 30 " + test::binary("quarn-view") + " " + arguments);
  }
  static std::string quoted(const std::filesystem::path& file) { return "'" + file.string() + "'"; }
};

TEST_F(ViewerProgramTest, SnapshotShowsEveryPixelOfBothImages) {
  test::TempDir dir;
  constexpr int kSide = 120;
  test::writeSolidPng(dir / "red.png", kRed, kSide);
  test::writeSolidPng(dir / "sub folder" / "blue.png", kBlue, kSide);
  const auto note =
      dir.write("note.md", "# Two images\n\n![red](red.png) ![blue](<sub folder/blue.png>)\n");
  const auto png = dir / "shot.png";
  const auto result = view("--color-scheme light --snapshot " + quoted(png) + " " + quoted(note));
  ASSERT_EQ(result.status, 0) << result.err;
  const auto picture = test::readPng(png);
  ASSERT_EQ(picture.width, 800);
  ASSERT_EQ(picture.height, 600);
  EXPECT_EQ(picture.count(kRed), kSide * kSide);
  EXPECT_EQ(picture.count(kBlue), kSide * kSide);
}

TEST_F(ViewerProgramTest, PagesTakeTheForcedAppearance) {
  const struct {
    const char* file;
    const char* scheme;
    test::Rgb background;
  } rows[] = {
      {"Project overview.md", "light", kLight}, {"Project overview.md", "dark", kDark},
      {"Board.kcv", "light", kLight},           {"Board.kcv", "dark", kDark},
      {"project.json", "light", kLight},        {"project.json", "dark", kDark},
  };
  test::TempDir dir;
  for (const auto& row : rows) {
    const auto png = dir / "shot.png";
    const auto file = std::filesystem::path(QUARN_SOURCE_DIR) / "examples" / row.file;
    const auto result = view(std::string("--color-scheme ") + row.scheme + " --snapshot " +
                             quoted(png) + " " + quoted(file));
    ASSERT_EQ(result.status, 0) << row.file << " " << result.err;
    const auto picture = test::readPng(png);
    ASSERT_EQ(picture.width, 800) << row.file;
    EXPECT_EQ(picture.at(2, 2), row.background) << row.file << " " << row.scheme;
    EXPECT_EQ(picture.at(797, 597), row.background) << row.file << " " << row.scheme;
    // Something is drawn on the background: text, rows or shapes.
    EXPECT_GT(picture.pixels.size() - picture.count(row.background), 1000u) << row.file;
  }
}

TEST_F(ViewerProgramTest, RefusedAndUnreadableFilesExitLikeQuarnPreviewAndWriteNothing) {
  test::TempDir dir;
  dir.write("doc.pdf", "%PDF");
  const struct {
    const char* name;
    int status;
    const char* message;
  } rows[] = {
      {"doc.pdf", 2, "the file type is not supported"},
      {"missing.md", 1, "No such file or directory"},
  };
  const auto usage = view("--bogus " + quoted(dir / "doc.pdf"));
  EXPECT_EQ(usage.status, 64);
  EXPECT_NE(usage.err.find("quarn-view: unknown option --bogus\n"), std::string::npos) << usage.err;
  for (const auto& row : rows) {
    const auto png = dir / "shot.png";
    const auto result = view("--snapshot " + quoted(png) + " " + quoted(dir / row.name));
    EXPECT_EQ(result.status, row.status) << row.name;
    const std::string line = "quarn-view: " + (dir / row.name).string() + ": " + row.message + "\n";
    EXPECT_NE(result.err.find(line), std::string::npos) << result.err;
    EXPECT_FALSE(std::filesystem::exists(png)) << row.name;
  }
}

TEST_F(ViewerProgramTest, NothingConnectsToAServerThePagesName) {
  test::LocalServer server;
  const std::string url = server.url();
  test::TempDir dir;
  const auto note = dir.write("note.md", "![remote](" + url + "/image.png)\n\n[a link](" + url +
                                             "/link) and <" + url + "/angle> and " + url +
                                             "/autolink\n\n<img src=\"" + url + "/raw.png\">\n");
  const auto json = dir.write("data.json", "{\"home\": \"" + url + "/json\"}");
  for (const auto& file : {note, json}) {
    const auto png = dir / "shot.png";
    const auto result = view("--snapshot " + quoted(png) + " " + quoted(file));
    ASSERT_EQ(result.status, 0) << result.err;
  }
  EXPECT_EQ(server.connections(), 0);
}

}  // namespace
}  // namespace quarn
