#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <iostream>
#include <string>

#include <gtest/gtest.h>

#include "platform/Sandbox.h"
#include "tests/TestSupport.h"

namespace quarn {
namespace {

constexpr int kRefused = 0;
constexpr int kAllowed = 1;
constexpr int kNoFileRules = 2;

// Whether the kernel offers Landlock, asked without the unit under test.
bool kernelHasFileRules() {
  constexpr long kCreateRuleset = 444;
  constexpr unsigned kVersion = 1U << 0;
  return ::syscall(kCreateRuleset, nullptr, 0, kVersion) > 0;
}

TEST(SandboxTest, RefusesTheNetworkWritesElsewhereAndNewPrograms) {
  test::TempDir dir;
  std::filesystem::create_directories(dir / "out");
  std::filesystem::create_directories(dir / "elsewhere");
  // A listener the child would reach if the network were open.
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);

  const struct {
    const char* name;
    bool needsFileRules;
    std::function<bool()> refused;
  } rows[] = {
      {"TCP connect to 127.0.0.1", false,
       [&] {
         const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
         return fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0;
       }},
      {"open for writing outside the outputs", true,
       [&] {
         return ::open((dir / "elsewhere" / "x").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600) < 0;
       }},
      // /bin/false exits 1, which reads as "allowed".
      {"start a program", false,
       [] {
         char* const argv[] = {const_cast<char*>("false"), nullptr};
         ::execv("/bin/false", argv);
         return true;
       }},
  };
  for (const auto& row : rows) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      if (row.needsFileRules && !kernelHasFileRules()) ::_exit(kNoFileRules);
      Sandbox::enter({{dir / "out" / "page.html"}, {}});
      ::_exit(row.refused() ? kRefused : kAllowed);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << row.name;
    if (WEXITSTATUS(status) == kNoFileRules) {
      std::cout << row.name << ": the kernel has no Landlock, not checked\n";
      continue;
    }
    EXPECT_EQ(WEXITSTATUS(status), kRefused) << row.name;
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere" / "x"));
  ::close(listener);
}

}  // namespace
}  // namespace quarn
