// quarn-view's command line: what it refuses before any window opens, so
// these need no display.
#include <string>

#include <gtest/gtest.h>

#include "tests/TestSupport.h"

namespace quarn {
namespace {

test::RunResult view(const std::string& arguments) {
  // No display: a run that got past its checks could not hang on a window.
  return test::run("env -u DISPLAY -u WAYLAND_DISPLAY timeout 30 " + test::binary("quarn-view") +
                   " " + arguments);
}

TEST(ViewerCommandLineTest, RefusesBadArgumentsBeforeAnyWindow) {
  test::TempDir dir;
  const std::string note = dir.write("n.md", "# Title\n").string();
  const auto pdf = dir.write("a b.pdf", "%PDF");
  const struct {
    std::string arguments;
    int status;
    std::string message;
  } rows[] = {
      {"--color-scheme blue " + note, 64,
       "quarn-view: --color-scheme: must be system, light or dark, not \"blue\"\n"},
      {"--color-scheme 0 " + note, 64, "--color-scheme: must be system, light or dark"},
      {"--snapshot '' " + note, 64, "quarn-view: --snapshot: must not be empty\n"},
      {"file://elsewhere/n.md", 64, "names another host"},
      // The URI is decoded as the other two programs decode it.
      {"'file://" + (dir / "a%20b.pdf").string() + "'", 2,
       "quarn-view: " + pdf.string() + ": the file type is not supported\n"},
      {"--snapshot " + note + " " + note, 1, "quarn-view: " + note + " is the input file\n"},
  };
  for (const auto& row : rows) {
    const auto result = view(row.arguments);
    EXPECT_EQ(result.status, row.status) << row.arguments << "\n" << result.err;
    EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
  }
  EXPECT_EQ(test::readAll(note), "# Title\n");
}

TEST(ViewerCommandLineTest, HelpShowsTheNamesAndKeysItTakes) {
  const auto help = view("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("\nUsage: quarn-view "), std::string::npos) << help.out.substr(0, 160);
  for (const char* text : {"--color-scheme system|light|dark", "Ctrl+W", "Ctrl+Q"}) {
    EXPECT_NE(help.out.find(text), std::string::npos) << text;
  }
  EXPECT_EQ(help.out.find("ENUM"), std::string::npos) << help.out;
}

}  // namespace
}  // namespace quarn
