#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "platform/Budget.h"
#include "quicklook/Shared/RenderArena.h"
#include "tests/TestSupport.h"

namespace quarn {
namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;

// The process's private writable memory now, from /proc/self/status.
std::size_t dataBytes() {
  const std::string status = test::readAll("/proc/self/status");
  const auto at = status.find("VmData:");
  return at == std::string::npos ? 0 : std::strtoull(status.c_str() + at + 7, nullptr, 10) * 1024;
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARN_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(QUARN_TEST_ASAN)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

TEST(BudgetTest, AllocationPastTheBudgetEndsWithItsLineAndStatusOne) {
  if (kSanitized) GTEST_SKIP() << "the sanitizers reserve more address space than any budget";
  const struct {
    const char* name;
    std::function<void()> allocate;
  } rows[] = {
      {"operator new",
       [] {
         void* big = ::operator new(4096 * kMiB);
         asm volatile("" : : "g"(big) : "memory");  // kept, though never touched
         ::operator delete(big);
       }},
      // The Markdown library's allocator, which has no way to fail softly.
      {"render arena",
       [] {
         RenderArena arena;
         arena.allocator()->calloc(1, 4096 * kMiB);
       }},
  };
  for (const auto& row : rows) {
    test::TempDir dir;
    const auto errors = dir / "errors";
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      const int fd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(fd, STDERR_FILENO);
      if (!Budget::limit(dataBytes() + 256 * kMiB, "n.md: too large to preview")) ::_exit(77);
      try {
        row.allocate();
      } catch (...) {
        ::_exit(3);  // never back into the test runner from the child
      }
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == Budget::kExhaustedStatus)
        << row.name << ": status " << status;
    EXPECT_EQ(test::readAll(errors), "n.md: too large to preview\n") << row.name;
  }
}

}  // namespace
}  // namespace quarn
