// The quarn-view program as a user runs it: snapshots, exit statuses, and no
// connection to anything. Needs a display (CI runs it under xvfb-run).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/TestSupport.h"
#include "tests/viewer/ViewerTestSupport.h"

namespace quarn {
namespace {

constexpr test::Rgb kRed{255, 0, 0}, kBlue{0, 0, 255};
constexpr test::Rgb kLight{0xff, 0xff, 0xff}, kDark{0x18, 0x18, 0x18};

// The processes under `root` (children, their children...) whose command
// name starts with `name`.
std::vector<pid_t> descendants(pid_t root, std::string_view name) {
  std::map<pid_t, std::pair<pid_t, std::string>> processes;  // pid: parent, name
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // "pid (name) state ppid ...": the name may hold spaces and brackets.
    const auto open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 2));
    char state = 0;
    pid_t parent = 0;
    rest >> state >> parent;
    processes[std::stoi(line.substr(0, open))] = {parent, line.substr(open + 1, close - open - 1)};
  }
  std::vector<pid_t> found;
  for (const auto& [pid, process] : processes) {
    for (pid_t up = process.first; up > 1 && processes.count(up); up = processes[up].first) {
      if (up != root) continue;
      if (process.second.starts_with(name)) found.push_back(pid);
      break;
    }
  }
  return found;
}

// The threads of process `pid` now; 0 once it is gone.
int threadCount(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("Threads:")) return std::stoi(line.substr(8));
  }
  return 0;
}

// The exit status of `child` once it ends within `seconds`; killed and
// nothing otherwise.
std::optional<int> exitWithin(pid_t child, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  int raw = 0;
  while (::waitpid(child, &raw, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &raw, 0);
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

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

TEST_F(ViewerProgramTest, ASnapshotWhoseWebProcessIsKilledFailsAtOnceAndWritesNothing) {
  constexpr int kStartedThreads = 8;
  test::TempDir dir;
  std::string text;
  for (int i = 0; i < 12000; ++i) text += "Paragraph " + std::to_string(i) + " of the note.\n\n";
  const auto note = dir.write("note.md", text);
  const auto png = dir / "shot.png", err = dir / "err";
  const std::string program = test::binary("quarn-view");
  std::vector<std::string> arguments = {program, "--snapshot", png.string(), note.string()};
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);

  // Once it has started its threads (killed before, WebKit itself aborts
  // the window's process), and long before the page can have loaded.
  bool killed = false;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  int raw = 0;
  while (!killed && std::chrono::steady_clock::now() < end &&
         ::waitpid(child, &raw, WNOHANG) == 0) {
    for (const pid_t web : descendants(child, "WebKitWebProces")) {
      if (threadCount(web) >= kStartedThreads) killed = ::kill(web, SIGKILL) == 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(killed) << "no web process seen";
  const auto status = exitWithin(child, 10);
  ASSERT_TRUE(status.has_value()) << "still running 10 s after its web process was killed";
  EXPECT_EQ(*status, 1);
  const std::string message = test::readAll(err);
  EXPECT_NE(
      message.find("quarn-view: " + note.string() + ": the web process showing the page ended\n"),
      std::string::npos)
      << message;
  EXPECT_FALSE(std::filesystem::exists(png));
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
