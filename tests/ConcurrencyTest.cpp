// Overlapping requests: every sample file and a set of hostile ones rendered
// and thumbnailed from eight threads at once must give exactly what one thread
// gives alone. Run under ThreadSanitizer by the tsan preset (scripts/check.sh tsan).
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <latch>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <cairo.h>
#include <gtest/gtest.h>

#include "platform/GraphicsContext.h"
#include "quicklook/QuarnThumbnail/ThumbnailProvider.h"
#include "quicklook/Shared/CanvasDocument.h"
#include "quicklook/Shared/PreviewDocument.h"
#include "tests/TestSupport.h"

namespace quarn {
namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 2;
constexpr int kThumbnailSide = 96;

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

struct Result {
  std::string html;
  Attachments attachments;
  std::optional<std::string> pixels;  // canvas files only; nothing without a reply
  bool operator==(const Result&) const = default;
};

// The thumbnail's pixels, painted the way the host paints them.
std::optional<std::string> thumbnail(const std::filesystem::path& file) {
  std::unique_ptr<QLThumbnailReply> reply;
  ThumbnailProvider().provideThumbnail(
      QLFileThumbnailRequest{file, CGSize{kThumbnailSide, kThumbnailSide}},
      [&](std::unique_ptr<QLThumbnailReply> r, std::optional<FileError>) { reply = std::move(r); });
  if (!reply) return std::nullopt;
  cairo_surface_t* surface =
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kThumbnailSide, kThumbnailSide);
  cairo_t* cairo = cairo_create(surface);
  {
    ScopedCurrentContext current(cairo, CGSize{kThumbnailSide, kThumbnailSide});
    reply->draw();
  }
  cairo_surface_flush(surface);
  std::string pixels(
      reinterpret_cast<const char*>(cairo_image_surface_get_data(surface)),
      static_cast<std::size_t>(cairo_image_surface_get_stride(surface)) * kThumbnailSide);
  cairo_destroy(cairo);
  cairo_surface_destroy(surface);
  return pixels;
}

Result process(const std::filesystem::path& file) {
  Result result;
  if (auto preview = PreviewDocument::render(file)) {
    result.html = std::move(preview->html);
    result.attachments = std::move(preview->attachments);
  }
  if (CanvasDocument::isCanvasFile(file)) {
    result.pixels = thumbnail(file);
  }
  return result;
}

// Smaller cousins of the hostile inputs, so that every road runs under load.
void writeHostileFiles(const test::TempDir& dir) {
  const std::string junk("\xFF\xFE\x00\xC3\x28\xED\xA0\x80", 8);
  dir.write("pixel.png", test::tinyPng());
  ::mkfifo((dir / "fifo.png").c_str(), 0600);
  dir.write("brackets.md", repeat("[", 20000) + repeat("[[a|b]] ", 200));
  dir.write("emphasis.md", repeat("*", 5000) + "a" + repeat("*", 5000) + "\n\n" + repeat("`", 300) +
                               repeat("www.a_", 500));
  dir.write("table.md", repeat("|h", 200) + "|\n" + repeat("|-", 200) + "|\n" +
                            repeat(repeat("|x", 200) + "|\n", 50));
  dir.write("images.md", "---\ntitle: [a, b]\n---\n" + repeat("![p](pixel.png) ", 100) +
                             "![f](fifo.png) ![z](/dev/zero)\n");
  dir.write("junk.md", "# " + junk + "\n[[x" + junk + "]]\n");
  std::string bomb = "a0: &a0 [x, x, x, x]\n";
  for (int i = 1; i < 20; ++i) {
    const std::string prev = std::string("*a") + std::to_string(i - 1);
    bomb += std::string("a") + std::to_string(i) + std::string(": &a") + std::to_string(i) + " [" +
            prev + ", " + prev + ", " + prev + "]\n";
  }
  dir.write("bomb.yaml", bomb);
  dir.write("deep.json", repeat("[", 5000) + repeat("]", 5000));
  std::string keys = "{";
  for (int i = 0; i < 5000; ++i) keys += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":true";
  dir.write("keys.json", keys + "}");
  dir.write("junk.yml", "k: " + junk + "\n");
  std::string canvas = "{\"elements\":[";
  for (int i = 0; i < 2000; ++i) {
    canvas += (i ? ",{" : "{") + std::string("\"id\":\"e") + std::to_string(i) + "\",\"type\":\"" +
              (i % 2 ? "ellipse" : "rectangle") + "\",\"x\":" + std::to_string(i % 50 * 30) +
              std::string(",\"y\":") + std::to_string(i / 50 * 30) +
              std::string(",\"width\":20,\"height\":20,\"text\":\"") + std::to_string(i) + "\"}";
  }
  dir.write("many.kcv", canvas + "]}");
  dir.write("junk.qcv", junk);
}

TEST(ConcurrencyTest, EightThreadsGiveWhatOneThreadGives) {
  test::TempDir dir;
  writeHostileFiles(dir);
  std::vector<std::filesystem::path> files;
  for (const auto& folder : {std::filesystem::path(QUARN_SOURCE_DIR) / "examples", dir.path()}) {
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.is_regular_file() && PreviewDocument::canRender(entry.path())) {
        files.push_back(entry.path());
      }
    }
  }
  ASSERT_GE(files.size(), 15u);

  std::vector<Result> expected;
  for (const auto& file : files) expected.push_back(process(file));
  // The sample canvas really draws, so pixels are compared and not just absent.
  int thumbnails = 0;
  for (const Result& result : expected) thumbnails += result.pixels.has_value();
  ASSERT_GE(thumbnails, 2);

  std::vector<std::vector<std::string>> mismatches(kThreads);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      // Each thread walks the files from its own starting point, so different
      // roads overlap.
      for (int round = 0; round < kRounds; ++round) {
        for (std::size_t k = 0; k < files.size(); ++k) {
          const std::size_t i = (k + static_cast<std::size_t>(t) * 3) % files.size();
          if (!(process(files[i]) == expected[i])) {
            mismatches[t].push_back(files[i].filename().string());
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_TRUE(mismatches[t].empty()) << "thread " << t << " differs on " << mismatches[t].front();
  }
}

}  // namespace
}  // namespace quarn
