// The window's render worker, the real program: what it sends back, how it
// ends, and the sandbox it renders in.
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/TestSupport.h"
#include "viewer/RenderWorker.h"

namespace quarn {
namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUARN_TEST_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(QUARN_TEST_SANITIZED)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

// A note whose page is larger than a socket holds: until it is read, its
// reply cannot have come whole.
std::filesystem::path largeNote(const test::TempDir& dir) {
  std::string text;
  for (int i = 0; i < 40000; ++i) text += "Paragraph " + std::to_string(i) + " of the note.\n\n";
  return dir.write("large.md", text);
}

TEST(RenderWorkerTest, ARenderComesBackAsCreatePreviewGivesIt) {
  test::TempDir dir;
  dir.write("pic.png", test::tinyPng());
  const auto note = dir.write("note.md", "# Note\n\n![pic](pic.png) and [[a link]]\n");
  RenderWorker renders(test::binary("quarn-render-worker"));
  const WorkerResult result = renders.render(note);
  const auto local = createPreview(*requestPreview(note));
  ASSERT_TRUE(result) << result.error().cause;
  ASSERT_TRUE(*result && local);
  EXPECT_EQ((*result)->title, local->title);
  EXPECT_EQ((*result)->page, local->page);
  ASSERT_EQ((*result)->attachments.size(), 1u);
  ASSERT_EQ(local->attachments.size(), 1u);
  const auto& [name, attachment] = *(*result)->attachments.begin();
  EXPECT_EQ(name, local->attachments.begin()->first);
  EXPECT_EQ(attachment.data, local->attachments.begin()->second.data);
  EXPECT_EQ(attachment.contentType, local->attachments.begin()->second.contentType);
}

TEST(RenderWorkerTest, AWorkerKilledMidRenderEndsItsRenderAndTheNextRunsInAFreshOne) {
  test::TempDir dir;
  RenderWorker renders(test::binary("quarn-render-worker"));
  renders.start(largeNote(dir));
  const pid_t first = renders.pid();
  ASSERT_GT(first, 0);
  ASSERT_EQ(::kill(first, SIGKILL), 0);
  std::optional<WorkerResult> result;
  while (!(result = renders.receive())) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_FALSE(*result);
  EXPECT_EQ(result->error().cause, "the render ended (killed by signal 9)");

  const WorkerResult next = renders.render(dir.write("small.md", "# Small\n"));
  ASSERT_TRUE(next) << next.error().cause;
  EXPECT_TRUE(next->has_value());
  EXPECT_NE(renders.pid(), first);
}

TEST(RenderWorkerTest, AFileThatCostsMoreThanTheBudgetIsTooLargeToPreview) {
  if (kSanitized) GTEST_SKIP() << "the sanitizers reserve more address space than any budget";
  test::TempDir dir;
  // Each bracket costs the Markdown library some 240 bytes.
  const auto note = dir.write("brackets.md", std::string(2 << 20, '['));
  RenderWorker renders(test::binary("quarn-render-worker"), std::size_t{64} << 20);
  const WorkerResult result = renders.render(note);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().cause, "too large to preview");
}

TEST(RenderWorkerTest, TheWorkerRendersInsideTheSandbox) {
  test::TempDir dir;
  RenderWorker renders(test::binary("quarn-render-worker"));
  renders.start(largeNote(dir));
  std::string status;
  for (int tries = 0; tries < 3000 && status.find("Seccomp:\t2\n") == std::string::npos; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(tries ? 10 : 0));
    status = test::readAll("/proc/" + std::to_string(renders.pid()) + "/status");
  }
  EXPECT_NE(status.find("Seccomp:\t2\n"), std::string::npos) << status;
  EXPECT_NE(status.find("NoNewPrivs:\t1\n"), std::string::npos) << status;
  std::optional<WorkerResult> result;
  while (!(result = renders.receive())) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(*result) << (*result).error().cause;
  EXPECT_TRUE((*result)->has_value());
}

}  // namespace
}  // namespace quarn
