#include <memory>
#include <optional>
#include <string>

#include <cairo.h>
#include <gtest/gtest.h>

#include "platform/GraphicsContext.h"
#include "quicklook/QuarnThumbnail/ThumbnailProvider.h"
#include "tests/TestSupport.h"

namespace quarn {
namespace {

struct Outcome {
  int calls = 0;
  std::unique_ptr<QLThumbnailReply> reply;
  std::optional<FileError> error;
};

Outcome ask(const std::filesystem::path& file, CGSize size = CGSize{128, 128},
            std::optional<CGSize> minimum = std::nullopt) {
  Outcome outcome;
  ThumbnailProvider provider;
  provider.provideThumbnail(
      QLFileThumbnailRequest{file, size, minimum.value_or(size)},
      [&](std::unique_ptr<QLThumbnailReply> reply, std::optional<FileError> error) {
        ++outcome.calls;
        outcome.reply = std::move(reply);
        outcome.error = std::move(error);
      });
  return outcome;
}

constexpr const char* kBox =
    R"({"elements":[{"id":"a","type":"rectangle","x":0,"y":0,"width":100,"height":20}]})";

TEST(ThumbnailProviderTest, RefusesOtherExtensionsWithUnsupportedScheme) {
  test::TempDir dir;
  for (const char* name : {"a.json", "noextension", "a.kcv.bak", "kcv", "a.kcv."}) {
    SCOPED_TRACE(name);
    const Outcome outcome = ask(dir.write(name, kBox));
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_EQ(outcome.reply, nullptr);
    ASSERT_TRUE(outcome.error.has_value());
    EXPECT_EQ(outcome.error->code, FileError::Code::fileReadUnsupportedScheme);
    EXPECT_EQ(static_cast<int>(outcome.error->code), 262);
    EXPECT_TRUE(outcome.error->path.empty());
    EXPECT_FALSE(outcome.error->reason);
  }
}

TEST(ThumbnailProviderTest, AnswersNothingWhenThereIsNothingToDraw) {
  test::TempDir dir;
  const struct {
    const char* name;
    const char* bytes;
  } rows[] = {
      {"empty.kcv", ""},
      {"text.kcv", "not json"},
      {"array.qcv", "[]"},
      {"none.kcv", "{}"},
      {"groups.kcv",
       R"({"elements":[{"id":"g","type":"group","x":0,"y":0,"width":9,"height":9}]})"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Outcome outcome = ask(dir.write(row.name, row.bytes));
    EXPECT_EQ(outcome.calls, 1);
    EXPECT_EQ(outcome.reply, nullptr);
    EXPECT_FALSE(outcome.error.has_value());
  }
  const Outcome missing = ask(dir / "missing.kcv");
  EXPECT_EQ(missing.calls, 1);
  EXPECT_EQ(missing.reply, nullptr);
  EXPECT_FALSE(missing.error.has_value());
  std::filesystem::create_directory(dir / "folder.kcv");
  EXPECT_EQ(ask(dir / "folder.kcv").reply, nullptr);
}

TEST(ThumbnailProviderTest, ReplyHasTheMaximumSizeAndDrawsCentred) {
  test::TempDir dir;
  // Upper case is accepted; the routine owns its canvas after the file is gone.
  const auto file = dir.write("Wide.KCV", kBox);
  Outcome outcome = ask(file, CGSize{64, 64});
  ASSERT_NE(outcome.reply, nullptr);
  EXPECT_FALSE(outcome.error.has_value());
  EXPECT_EQ(outcome.reply->contextSize(), (CGSize{64, 64}));
  std::filesystem::remove(file);

  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 64, 64);
  cairo_t* cr = cairo_create(surface);
  {
    ScopedCurrentContext current(cr, CGSize{64, 64});
    EXPECT_TRUE(outcome.reply->draw());
  }
  cairo_surface_flush(surface);
  const auto* pixels =
      reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(surface));
  const int stride = cairo_image_surface_get_stride(surface) / 4;
  // A 132 by 52 padded canvas in a square: white bands above and below.
  EXPECT_EQ(pixels[2 * stride + 32], 0xffffffffu);
  EXPECT_EQ(pixels[61 * stride + 32], 0xffffffffu);
  EXPECT_NE(pixels[(64 - 10) / 2 * stride + 32], 0xffffffffu);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}

TEST(ThumbnailProviderTest, ReplyTakesThePaddedContentsShapeWithinMinimumAndMaximum) {
  test::TempDir dir;
  const auto box = [&](double width, double height) {
    return dir.write("box.kcv", R"({"elements":[{"id":"a","type":"rectangle","x":0,"y":0,)"
                                R"("width":)" +
                                    std::to_string(width) + R"(,"height":)" +
                                    std::to_string(height) + "}]}");
  };
  const struct {
    double width, height;  // content bounds; 16 units of margin on every side
    CGSize maximum, minimum, expected;
  } rows[] = {
      {100, 20, {128, 128}, {1, 1}, {128, 50}},       // 132 by 52: 128 by 50.4
      {20, 100, {128, 128}, {1, 1}, {50, 128}},       // and upright
      {300, 20, {128, 128}, {1, 1}, {128, 20}},       // 332 by 52: 128 by 20.05
      {100000, 0, {128, 128}, {1, 1}, {128, 1}},      // a hairline keeps one pixel
      {100, 20, {256, 64}, {1, 1}, {162, 64}},        // the box's shorter side binds
      {100, 20, {128, 128}, {128, 128}, {128, 128}},  // a minimum of the maximum: exact
      {100, 20, {128, 128}, {1, 100}, {128, 100}},    // each side at least the minimum
      {0, 0, {128, 64}, {1, 1}, {64, 64}},            // a point pads to a square
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row.width) + " by " + std::to_string(row.height));
    const Outcome outcome = ask(box(row.width, row.height), row.maximum, row.minimum);
    ASSERT_NE(outcome.reply, nullptr);
    EXPECT_EQ(outcome.reply->contextSize(), row.expected);
  }
}

TEST(ThumbnailProviderTest, ZeroSizeCanvasGetsAReplyThatDrawsNothing) {
  test::TempDir dir;
  const Outcome outcome = ask(dir.write(
      "dot.qcv", R"({"elements":[{"id":"a","type":"ellipse","x":5,"y":5,"width":0,"height":0}]})"));
  ASSERT_NE(outcome.reply, nullptr);
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 8);
  cairo_t* cr = cairo_create(surface);
  {
    ScopedCurrentContext current(cr, CGSize{8, 8});
    EXPECT_FALSE(outcome.reply->draw());
  }
  EXPECT_FALSE(outcome.reply->draw());  // and without a current context
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}

}  // namespace
}  // namespace quarn
