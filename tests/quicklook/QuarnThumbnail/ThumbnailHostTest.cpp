#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <cairo.h>
#include <gtest/gtest.h>

#include "quicklook/QuarnThumbnail/ThumbnailHost.h"
#include "tests/TestSupport.h"

namespace quarn {
namespace {

namespace host = ThumbnailHost;

TEST(ThumbnailHostTest, ParsesSizes) {
  const struct {
    const char* text;
    int width, height;  // 0: refused
    bool keepsShape;    // "N": the larger side, the other from the canvas
  } rows[] = {
      {"128", 128, 128, true},      {"256x128", 256, 128, false}, {"1X4096", 1, 4096, false},
      {"128x128", 128, 128, false}, {"4096", 4096, 4096, true},   {"0", 0, 0, false},
      {"4097", 0, 0, false},        {"-5", 0, 0, false},          {"+5", 0, 0, false},
      {"12x", 0, 0, false},         {"x12", 0, 0, false},         {"", 0, 0, false},
      {"1x2x3", 0, 0, false},       {" 64", 0, 0, false},         {"64.5", 0, 0, false},
      {"99999999999", 0, 0, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    const auto size = host::parseSize(row.text);
    if (row.width == 0) {
      ASSERT_FALSE(size.has_value());
      EXPECT_NE(size.error().find("1 to 4096"), std::string::npos);
    } else {
      ASSERT_TRUE(size.has_value());
      EXPECT_EQ(*size, (host::PixelSize{row.width, row.height, row.keepsShape}));
    }
  }
}

constexpr const char* kCanvas =
    R"({"elements":[{"id":"a","type":"rounded-rectangle","x":0,"y":0,"width":200,"height":100,)"
    R"("text":"Hello"}]})";

TEST(ThumbnailHostTest, WritesAPngOfTheRequestedSize) {
  test::TempDir dir;
  const auto output = dir / "out.png";
  std::ostringstream errors;
  ASSERT_EQ(host::run(dir.write("a.kcv", kCanvas), output, {256, 128}, errors), kDone);
  EXPECT_EQ(errors.str(), "");
  cairo_surface_t* png = cairo_image_surface_create_from_png(output.c_str());
  ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
  EXPECT_EQ(cairo_image_surface_get_width(png), 256);
  EXPECT_EQ(cairo_image_surface_get_height(png), 128);
  EXPECT_EQ(*reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(png)),
            0xffffffffu);
  cairo_surface_destroy(png);
  // Only the PNG: the temporary file was renamed, not left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST(ThumbnailHostTest, ProgramDrawsInsideTheSandbox) {
  test::TempDir dir;
  const auto fifo = dir / "out.png";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  int exitStatus = -1;
  const std::string status =
      test::statusWhileWriting({test::binary("quarn-thumbnail"), "-s", "64",
                                dir.write("a.kcv", kCanvas).string(), fifo.string()},
                               fifo, exitStatus);
  EXPECT_NE(status.find("Seccomp:\t2\n"), std::string::npos) << status;
  EXPECT_NE(status.find("NoNewPrivs:\t1\n"), std::string::npos) << status;
  EXPECT_EQ(exitStatus, 0);
}

TEST(ThumbnailHostTest, OneSideGivenKeepsTheCanvasShape) {
  test::TempDir dir;
  const auto output = dir / "out.png";
  std::ostringstream errors;
  // 300 by 20 pads to 332 by 52: a wide, short picture, not a square.
  const auto input = dir.write("wide.kcv", R"({"elements":[{"id":"a","type":"rectangle","x":0,)"
                                           R"("y":0,"width":300,"height":20}]})");
  ASSERT_EQ(host::run(input, output, {128, 128, true}, errors), kDone) << errors.str();
  cairo_surface_t* png = cairo_image_surface_create_from_png(output.c_str());
  EXPECT_EQ(cairo_image_surface_get_width(png), 128);
  EXPECT_EQ(cairo_image_surface_get_height(png), 20);
  cairo_surface_destroy(png);
}

TEST(ThumbnailHostTest, DrawsThePixelsRunWrites) {
  test::TempDir dir;
  const auto canvas = dir.write("a.kcv", kCanvas);
  const struct {
    std::filesystem::path input;
    host::PixelSize size;
    bool drawn;
  } rows[] = {
      {canvas, {128, 128, true}, true},
      {canvas, {90, 60}, true},
      {dir.write("a.json", kCanvas), {64, 64, true}, false},
      {dir.write("text.kcv", "not json"), {64, 64, true}, false},
      {dir.write("dot.kcv", R"({"elements":[{"id":"a","type":"x","x":1,"y":1,"width":0,)"
                            R"("height":0}]})"),
       {64, 64, true},
       false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.input.filename().string() + " " + std::to_string(row.size.width));
    const host::Surface drawn = host::draw(row.input, row.size);
    ASSERT_EQ(drawn != nullptr, row.drawn);
    if (!drawn) continue;
    const auto output = dir / "out.png";
    std::ostringstream errors;
    ASSERT_EQ(host::run(row.input, output, row.size, errors), quarn::kDone);
    const host::Surface png(cairo_image_surface_create_from_png(output.c_str()));
    const int width = cairo_image_surface_get_width(png.get());
    const int height = cairo_image_surface_get_height(png.get());
    ASSERT_EQ(cairo_image_surface_get_width(drawn.get()), width);
    ASSERT_EQ(cairo_image_surface_get_height(drawn.get()), height);
    int differing = 0;
    for (int y = 0; y < height; ++y) {
      const auto rowOf = [y](cairo_surface_t* surface) {
        return reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(surface) +
                                                      y * cairo_image_surface_get_stride(surface));
      };
      for (int x = 0; x < width; ++x) differing += rowOf(drawn.get())[x] != rowOf(png.get())[x];
    }
    EXPECT_EQ(differing, 0);
  }
}

TEST(ThumbnailHostTest, RewritesAnExistingOutputInPlace) {
  // Services create the output and read it back through their own handle.
  test::TempDir dir;
  const auto output = dir.write("tumbler-XXXX.png", "");
  std::ifstream held(output, std::ios::binary);
  std::ostringstream errors;
  ASSERT_EQ(host::run(dir.write("a.kcv", kCanvas), output, {32, 32}, errors), kDone);
  const std::string bytes(std::istreambuf_iterator<char>(held), {});
  EXPECT_EQ(bytes.substr(1, 3), "PNG");
}

TEST(ThumbnailHostTest, WritesThroughADevice) {
  test::TempDir dir;
  // As root a twin of the null device, so a broken write cannot replace the system's node.
  std::filesystem::path device = "/dev/null";
  if (::geteuid() == 0) {
    device = dir / "null";
    if (::mknod(device.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0) {
      GTEST_SKIP() << "cannot make a device node";
    }
  }
  std::ostringstream errors;
  EXPECT_EQ(host::run(dir.write("a.kcv", kCanvas), device, {32, 32}, errors), kDone)
      << errors.str();
  struct stat status {};
  ASSERT_EQ(::lstat(device.c_str(), &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));
}

TEST(ThumbnailHostTest, LeavesNoFileWithoutAThumbnail) {
  test::TempDir dir;
  const auto output = dir / "out.png";
  const struct {
    std::filesystem::path input;
    std::filesystem::path output;
    int status;
  } rows[] = {
      {dir.write("a.json", kCanvas), output, kRefused},
      {dir.write("empty.kcv", "{}"), output, kFailed},
      {dir.write("dot.kcv", R"({"elements":[{"id":"a","type":"x","x":1,"y":1,"width":0,)"
                            R"("height":0}]})"),
       output, kFailed},
      {dir / "missing.kcv", output, kFailed},
      {dir.write("ok.kcv", kCanvas), dir / "no-such-folder" / "out.png", kFailed},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.input.string());
    std::ostringstream errors;
    EXPECT_EQ(host::run(row.input, row.output, {64, 64}, errors), row.status);
    const std::string message = errors.str();
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1);
    EXPECT_NE(message.find(row.status == kFailed && row.output != output ? row.output.string()
                                                                         : row.input.string()),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(row.output));
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 4);
}

TEST(ThumbnailHostTest, NoThumbnailSaysWhy) {
  test::TempDir dir;
  std::filesystem::create_directory(dir / "folder.kcv");
  const struct {
    std::filesystem::path input;
    const char* why;
  } rows[] = {
      {dir / "missing.kcv", "No such file or directory"},
      {dir / "folder.kcv", "Is a directory"},
      {dir.write("text.kcv", "not json"), "not a readable canvas"},
      {dir.write("empty.kcv", "{}"), "nothing to draw"},
      {dir.path().string() + "/", "Is a directory"},
  };
  for (const auto& row : rows) {
    std::ostringstream errors;
    EXPECT_EQ(host::run(row.input, dir / "out.png", {64, 64}, errors), kFailed);
    EXPECT_EQ(errors.str(), "quarn-thumbnail: " + row.input.string() + ": " + row.why + "\n");
  }
}

TEST(ThumbnailHostTest, RefusesToWriteOverTheInput) {
  test::TempDir dir;
  const auto input = dir.write("b.kcv", kCanvas);
  std::filesystem::create_symlink("b.kcv", dir / "link.png");
  for (const auto& output : {input, dir / "link.png"}) {
    std::ostringstream errors;
    EXPECT_EQ(host::run(input, output, {64, 64}, errors), kFailed);
    EXPECT_EQ(errors.str(), "quarn-thumbnail: " + output.string() + " is the input file\n");
    EXPECT_EQ(test::readAll(input), kCanvas);
  }
}

// One rule whichever way a run fails: no PNG is left at the output, so no
// service shows a stale or cut thumbnail; a file that is no PNG stays.
TEST(ThumbnailHostTest, FailedRunLeavesNoPngAtTheOutput) {
  test::TempDir dir;
  const std::string program = test::binary("quarn-thumbnail");
  const auto drawable = dir.write("a.kcv", kCanvas);
  const auto empty = dir.write("empty.kcv", "{}");
  const std::string earlier =
      test::run(program + " -s 512 " + drawable.string() + " /dev/stdout").out;
  ASSERT_GT(earlier.size(), 1024u);
  const struct {
    const char* how;
    std::string command;  // prefix; the output follows
    std::string before;
    bool kept;
  } rows[] = {
      {"nothing to draw, an earlier thumbnail", program + " -s 512 " + empty.string(), earlier,
       false},
      {"nothing to draw, not a PNG", program + " -s 512 " + empty.string(), "notes", true},
      // A file-size limit of one block makes the write itself fail.
      {"the write fails, an earlier thumbnail",
       "trap '' XFSZ; ulimit -f 1; " + program + " -s 512 " + drawable.string(), earlier, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.how);
    const auto output = dir.write("out.png", row.before);
    const auto result = test::run(row.command + " " + output.string());
    EXPECT_EQ(result.status, kFailed) << result.err;
    EXPECT_EQ(std::filesystem::exists(output), row.kept);
    if (row.kept) {
      EXPECT_EQ(test::readAll(output), row.before);
    }
  }
}

// Thumbnail services rewrite one output in place, and requests for one file
// overlap: whatever the order, the file must end as one whole PNG of one of
// the requests.
TEST(ThumbnailHostTest, OverlappingRewritesLeaveOneWholePng) {
  test::TempDir dir;
  const std::string program = test::binary("quarn-thumbnail");
  const auto input = dir.write("a.kcv", kCanvas);
  const std::string small = test::run(program + " -s 16 " + input.string() + " /dev/stdout").out;
  const std::string large = test::run(program + " -s 512 " + input.string() + " /dev/stdout").out;
  ASSERT_LT(small.size(), large.size());
  const auto output = dir / "shared.png";
  constexpr int kProcesses = 12;
  constexpr int kRounds = 40;
  int wrong = 0;
  for (int round = 0; round < kRounds; ++round) {
    dir.write("shared.png", "");
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
      const std::string size = i % 2 == 0 ? "512" : "16";
      std::vector<std::string> words = {program, "-s", size, input.string(), output.string()};
      std::vector<char*> argv;
      for (auto& word : words) argv.push_back(word.data());
      argv.push_back(nullptr);
      pid_t pid = -1;
      ASSERT_EQ(::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
      children.push_back(pid);
    }
    for (const pid_t pid : children) {
      int status = 0;
      ASSERT_EQ(::waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::string bytes = test::readAll(output);
    wrong += bytes != small && bytes != large;
  }
  EXPECT_EQ(wrong, 0) << "rounds that left something else: " << wrong << " of " << kRounds;
}

TEST(ThumbnailHostTest, ProgramReportsUsageVersionAndStatus) {
  test::TempDir dir;
  const std::string program = test::binary("quarn-thumbnail");
  const auto input = dir.write("a.qcv", kCanvas);
  const auto out = (dir / "o.png").string();
  const auto version = test::run(program + " --version");
  EXPECT_EQ(version.status, 0);
  EXPECT_NE(version.out.find("cairo "), std::string::npos);
  EXPECT_NE(version.out.find("pango "), std::string::npos);
  const auto help = test::run(program + " --help");
  EXPECT_EQ(help.status, 0);
  for (const char* text : {"Examples:", "Exit status:", "64  a bad command line"}) {
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  }
  // The arguments that options may also give are listed once.
  for (const char* name : {"  INPUT ", "  OUTPUT ", "--input", "--output"}) {
    EXPECT_EQ(test::run(program + " --help | grep -c -- '" + name + "'").out, "1\n") << name;
  }
  // The bad option is named, not the required one it hid.
  const auto bogus = test::run(program + " --bogus " + input.string() + " " + out);
  EXPECT_EQ(bogus.status, kUsage);
  EXPECT_NE(bogus.err.find("unknown option --bogus"), std::string::npos) << bogus.err;
  const auto emptyOutput = test::run(program + " -s 32 " + input.string() + " ''");
  EXPECT_EQ(emptyOutput.status, kUsage);
  EXPECT_NE(emptyOutput.err.find("--output: must not be empty"), std::string::npos)
      << emptyOutput.err;
  const auto tooLarge = test::run(program + " -s 5000 " + input.string() + " " + out);
  EXPECT_EQ(tooLarge.status, kUsage);
  EXPECT_NE(tooLarge.err.find("4096"), std::string::npos);
  EXPECT_EQ(test::run(program + " " + input.string() + " " + out).status, kUsage);
  EXPECT_EQ(test::run(program + " -s 32 -i file://" + input.string() + " -o " + out).status, kDone);
  EXPECT_TRUE(std::filesystem::exists(out));
}

}  // namespace
}  // namespace quarn
