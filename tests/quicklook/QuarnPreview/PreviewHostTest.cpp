// The quarn-preview program as a user runs it.
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/TestSupport.h"

namespace quarn {
namespace {

using test::run;

std::string preview() { return test::binary("quarn-preview"); }

TEST(PreviewHostTest, WritesThePageToStandardOutputOrAFile) {
  test::TempDir dir;
  const auto note = dir.write("n.md", "# Title\n");
  auto toStdout = run(preview() + " " + note.string());
  EXPECT_EQ(toStdout.status, 0);
  EXPECT_TRUE(toStdout.out.starts_with("<!DOCTYPE html>"));
  EXPECT_NE(toStdout.out.find("<h1>Title</h1>"), std::string::npos);

  auto toFile = run(preview() + " -o " + (dir / "out.html").string() + " " + note.string());
  EXPECT_EQ(toFile.status, 0);
  EXPECT_EQ(test::readAll(dir / "out.html"), toStdout.out);
  EXPECT_EQ(toFile.out, "");
}

TEST(PreviewHostTest, FailuresNameTheFileWriteNothingAndExitNonZero) {
  test::TempDir dir;
  std::filesystem::create_directory(dir / "folder.md");
  ASSERT_EQ(::mkfifo((dir / "pipe.md").c_str(), 0600), 0);
  dir.write("doc.pdf", "%PDF");
  const struct {
    std::string name;
    int status;
    std::string message;
  } rows[] = {
      {"doc.pdf", 2, "the file type is not supported"},
      {"missing.md", 1, "No such file or directory"},
      {"folder.md", 1, "Is a directory"},
      {"pipe.md", 1, "not a regular file"},
  };
  for (const auto& row : rows) {
    const auto out = dir / "out.html";
    auto result =
        run("timeout 20 " + preview() + " -o " + out.string() + " " + (dir / row.name).string());
    EXPECT_EQ(result.status, row.status) << row.name;
    EXPECT_NE(result.err.find((dir / row.name).string()), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_FALSE(std::filesystem::exists(out)) << row.name;
  }
  // No temporary files are left behind either.
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    EXPECT_FALSE(entry.path().filename().string().starts_with(".out.html")) << entry.path();
  }
}

TEST(PreviewHostTest, SaysHowManyPicturesWereLeftOutAndWhy) {
  test::TempDir dir;
  // Sparse files: they cost no disk.
  std::filesystem::resize_file(dir.write("huge.png", ""), 64u * 1024 * 1024 + 1);
  std::filesystem::resize_file(dir.write("large.png", ""), 60u * 1024 * 1024);
  std::string note = "![h](huge.png)\n";
  for (int i = 0; i < 6; ++i) note += "![l](large.png)\n";
  const auto file = dir.write("n.md", note);
  auto result = run(preview() + " -o " + (dir / "out.html").string() + " " + file.string());
  EXPECT_EQ(result.status, 0);
  // Four of the large ones fit the page's bound.
  EXPECT_EQ(result.err, "quarn-preview: " + file.string() +
                            ": 3 pictures left out: 1 over the 64 MiB bound for one picture, 2 "
                            "over the 256 MiB bound for all pictures of a page\n");
}

bool isCharacterDevice(const std::filesystem::path& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && S_ISCHR(status.st_mode);
}

// The null device to write to. As root a broken write could replace the
// system's own node, so root gets a twin of it in `dir` instead.
std::filesystem::path nullDevice(const test::TempDir& dir) {
  if (::geteuid() != 0) return "/dev/null";
  const auto twin = dir / "null";
  if (::mknod(twin.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0) return {};
  return twin;
}

TEST(PreviewHostTest, OutputOntoADeviceWritesThroughIt) {
  test::TempDir dir;
  const auto device = nullDevice(dir);
  if (device.empty()) GTEST_SKIP() << "cannot make a device node";
  const auto note = dir.write("n.md", "# Title\n");
  auto result = run(preview() + " -o " + device.string() + " " + note.string());
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(isCharacterDevice(device));
}

TEST(PreviewHostTest, OutputOntoAFifoFeedsItsReader) {
  test::TempDir dir;
  const auto fifo = dir / "pipe.html";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto note = dir.write("n.md", "# Title\n");
  const auto received = dir / "received";
  // The reader gives up after a while, so a FIFO replaced by a file cannot hang the test.
  auto result = run("timeout 20 cat " + fifo.string() + " >" + received.string() +
                    " & timeout 20 " + preview() + " -o " + fifo.string() + " " + note.string() +
                    "; status=$?; wait; exit $status");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(test::readAll(received), run(preview() + " " + note.string()).out);
  struct stat status {};
  ASSERT_EQ(::lstat(fifo.c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

TEST(PreviewHostTest, RendersInsideTheSandbox) {
  test::TempDir dir;
  const auto fifo = dir / "pipe.html";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  int exitStatus = -1;
  const std::string status = test::statusWhileWriting(
      {preview(), "-o", fifo.string(), dir.write("n.md", "# Title\n").string()}, fifo, exitStatus);
  EXPECT_NE(status.find("Seccomp:\t2\n"), std::string::npos) << status;
  EXPECT_NE(status.find("NoNewPrivs:\t1\n"), std::string::npos) << status;
  EXPECT_EQ(exitStatus, 0);
}

TEST(PreviewHostTest, OutputOntoASymlinkReplacesItsTargetAndKeepsTheLink) {
  test::TempDir dir;
  const auto target = dir.write("real/page.html", "previous");
  std::filesystem::create_directory(dir / "links");
  const auto link = dir / "links" / "out.html";
  std::filesystem::create_symlink("../real/page.html", link);
  const auto note = dir.write("n.md", "# Title\n");
  auto result = run(preview() + " -o " + link.string() + " " + note.string());
  EXPECT_EQ(result.status, 0) << result.err;
  ASSERT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(std::filesystem::read_symlink(link), "../real/page.html");
  EXPECT_EQ(test::readAll(target), run(preview() + " " + note.string()).out);
  // The temporary file went beside the target and was renamed onto it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "real"), {}), 1);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "links"), {}), 1);
}

TEST(PreviewHostTest, AttachmentOntoASymlinkReplacesItsTarget) {
  test::TempDir dir;
  dir.write("notes/pic.png", test::tinyPng());
  const auto note = dir.write("notes/n.md", "![x](pic.png)\n");
  const auto target = dir.write("kept/image.png", "previous");
  std::filesystem::create_directory(dir / "out");
  std::filesystem::create_symlink(target, dir / "out" / "quarn-image-0");
  auto result = run(preview() + " --attachments " + (dir / "out").string() + " -o " +
                    (dir / "page.html").string() + " " + note.string());
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "out" / "quarn-image-0"));
  EXPECT_EQ(test::readAll(target), test::tinyPng());
}

TEST(PreviewHostTest, FailedRunKeepsAnExistingOutputFile) {
  test::TempDir dir;
  const auto out = dir.write("out.html", "previous");
  auto result = run(preview() + " -o " + out.string() + " " + (dir / "missing.md").string());
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(test::readAll(out), "previous");
}

TEST(PreviewHostTest, EncodingAnnouncementStaysOffThePage) {
  test::TempDir dir;
  const auto data = dir.write("d.yaml", "a: 1\n");
  auto result = run("YAMS_DEFAULT_ENCODING=utf8 " + preview() + " " + data.string());
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(result.out.starts_with("<!DOCTYPE html>")) << result.out.substr(0, 80);
}

TEST(PreviewHostTest, BadCommandLinesExit64NamingTheCause) {
  test::TempDir dir;
  const std::string note = dir.write("n.md", "# Title\n").string();
  const struct {
    std::string arguments;
    std::string named;
  } rows[] = {
      {"--bogus " + note, "unknown option --bogus"},
      {note + " --bogus", "unknown option --bogus"},
      {"", "FILE is required"},
      {note + " " + note, "unexpected argument " + note},
      {"--format pdf " + note, "--format"},
      {"-o", "--output"},
      {"file://elsewhere/n.md", "names another host"},
      {"-o '' " + note, "--output: must not be empty"},
      {"--attachments '' " + note, "--attachments: must not be empty"},
  };
  for (const auto& row : rows) {
    auto result = run(preview() + " " + row.arguments);
    EXPECT_EQ(result.status, 64) << row.arguments;
    EXPECT_NE(result.err.find(row.named), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "") << row.arguments;
  }
  const auto help = run(preview() + " --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("\nUsage: quarn-preview "), std::string::npos) << help.out.substr(0, 160);
  for (const char* text : {"Examples:", "Exit status:", "64  a bad command line"}) {
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  }
}

TEST(PreviewHostTest, TakesAFileUri) {
  test::TempDir dir;
  const auto note = dir.write("a b.md", "# Title\n");
  const auto byPath = run(preview() + " '" + note.string() + "'");
  const auto byUri = run(preview() + " 'file://" + (dir / "a%20b.md").string() + "'");
  EXPECT_EQ(byUri.status, 0) << byUri.err;
  EXPECT_EQ(byUri.out, byPath.out);
}

TEST(PreviewHostTest, FormatFollowsTheOptionElseTheOutputExtension) {
  test::TempDir dir;
  dir.write("pic.png", test::tinyPng());
  const auto note = dir.write("n.md", "![x](pic.png)\n");
  const std::string page = run(preview() + " " + note.string()).out;
  const struct {
    std::string arguments;
    std::string output;
    const char* starts;  // what the written file begins with
  } rows[] = {
      {"", "a.html", "<!DOCTYPE html>"},
      {"", "a.mhtml", "From: <Saved by quarn-preview>"},
      {"", "a.MHT", "From: <Saved by quarn-preview>"},
      {"--format html", "a.mht", "<!DOCTYPE html>"},
      {"--format mhtml", "a.html", "From: <Saved by quarn-preview>"},
      {"--format standalone", "a.mht", "<!DOCTYPE html>"},
  };
  for (const auto& row : rows) {
    const auto out = dir / row.output;
    auto result =
        run(preview() + " " + row.arguments + " -o " + out.string() + " " + note.string());
    ASSERT_EQ(result.status, 0) << result.err;
    const std::string written = test::readAll(out);
    EXPECT_TRUE(written.starts_with(row.starts)) << row.arguments << " " << row.output;
    const bool standalone = row.arguments == "--format standalone";
    EXPECT_EQ(written.find("src=\"data:image/png;base64,") != std::string::npos, standalone);
    if (written.starts_with("<!DOCTYPE html>") && !standalone) {
      EXPECT_EQ(written, page);  // the plain page stays byte for byte
    }
  }
}

// The page goes where standard output points, exactly as without -o, and
// standard error is left alone.
TEST(PreviewHostTest, StandardOutputByItsNamesGetsThePage) {
  test::TempDir dir;
  const auto note = dir.write("n.md", "# Title\n");
  const std::string page = run(preview() + " " + note.string()).out;
  for (const char* name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
    const auto log = dir.write("log", "");
    auto result =
        run(preview() + " -o " + name + " " + note.string() + " 2>>" + log.string() + " | cat");
    EXPECT_EQ(result.status, 0) << name;
    EXPECT_EQ(result.out, page) << name;
    EXPECT_EQ(test::readAll(log), "") << name;
  }
}

TEST(PreviewHostTest, RefusesToWriteOverTheInput) {
  test::TempDir dir;
  dir.write("pic.png", test::tinyPng());
  const auto note = dir.write("n.md", "![x](pic.png)\n");
  std::filesystem::create_symlink("n.md", dir / "link.html");
  std::filesystem::create_directory(dir / "att");
  std::filesystem::create_symlink(note, dir / "att" / "quarn-image-0");
  const struct {
    std::string arguments;
    std::string named;  // the output as typed
  } rows[] = {
      {"-o " + note.string(), note.string()},
      {"-o " + (dir / "link.html").string(), (dir / "link.html").string()},
      {"-o " + (dir / "p.html").string() + " --attachments " + (dir / "att").string(),
       (dir / "att" / "quarn-image-0").string()},
  };
  for (const auto& row : rows) {
    auto result = run(preview() + " " + row.arguments + " " + note.string());
    EXPECT_EQ(result.status, 1) << row.arguments;
    EXPECT_EQ(result.err, "quarn-preview: " + row.named + " is the input file\n");
    EXPECT_EQ(test::readAll(note), "![x](pic.png)\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "p.html"));
  }
}

TEST(PreviewHostTest, PageAndAttachmentsAreWrittenAllOrNothing) {
  test::TempDir dir;
  dir.write("pic.png", test::tinyPng());
  const auto note = dir.write("n.md", "![a](pic.png) ![b](pic.png)\n");
  std::filesystem::create_directories(dir / "taken" / "quarn-image-1");
  const struct {
    std::string attachments;
    std::string page;
  } rows[] = {
      {"att", "missing/x.html"},  // the page cannot be written
      {"taken", "x.html"},        // the second attachment cannot be written
  };
  for (const auto& row : rows) {
    auto result = run(preview() + " --attachments " + (dir / row.attachments).string() + " -o " +
                      (dir / row.page).string() + " " + note.string());
    EXPECT_EQ(result.status, 1) << row.page;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "att"));
    EXPECT_FALSE(std::filesystem::exists(dir / row.page));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "taken"), {}), 1);
  }
}

TEST(PreviewHostTest, VersionNamesTheLibraries) {
  auto result = run(preview() + " --version");
  EXPECT_EQ(result.status, 0);
  for (const char* name : {"quarn-preview", "cmark-gfm 0.29.0.gfm.13", "libyaml", "PCRE2"}) {
    EXPECT_NE(result.out.find(name), std::string::npos) << name;
  }
}

}  // namespace
}  // namespace quarn
