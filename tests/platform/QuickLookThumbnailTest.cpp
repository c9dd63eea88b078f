#include <cstdint>
#include <thread>

#include <cairo.h>
#include <gtest/gtest.h>

#include "platform/GraphicsContext.h"
#include "platform/QuickLookThumbnail.h"

namespace quarn {
namespace {

std::uint32_t pixel(cairo_surface_t* surface, int x, int y) {
  cairo_surface_flush(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  return reinterpret_cast<const std::uint32_t*>(data +
                                                cairo_image_surface_get_stride(surface) * y)[x];
}

TEST(QuickLookThumbnailTest, CurrentContextPresentsOriginBottomLeft) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 40, 30);
  cairo_t* cr = cairo_create(surface);
  {
    ScopedCurrentContext current(cr, CGSize{40, 30});
    GraphicsContext* context = GraphicsContext::currentContext();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(context->CGContext(), cr);
    EXPECT_EQ(context->size(), (CGSize{40, 30}));
    cairo_set_source_rgb(cr, 1, 0, 0);
    cairo_rectangle(cr, 0, 0, 10, 10);
    cairo_fill(cr);
  }
  EXPECT_EQ(pixel(surface, 2, 27), 0xffff0000u);  // bottom left in cairo's rows
  EXPECT_EQ(pixel(surface, 2, 2), 0u);
  // The guard restored cairo's own top-down space.
  cairo_matrix_t matrix;
  cairo_get_matrix(cr, &matrix);
  EXPECT_EQ(matrix.yy, 1);
  EXPECT_EQ(matrix.y0, 0);
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}

TEST(QuickLookThumbnailTest, GuardsNestAndStayOnTheirThread) {
  EXPECT_EQ(GraphicsContext::currentContext(), nullptr);
  ScopedCurrentContext outer(nullptr, CGSize{1, 1});
  GraphicsContext* outerContext = GraphicsContext::currentContext();
  ASSERT_NE(outerContext, nullptr);
  EXPECT_EQ(outerContext->CGContext(), nullptr);
  {
    ScopedCurrentContext inner(nullptr, CGSize{2, 2});
    EXPECT_EQ(GraphicsContext::currentContext()->size(), (CGSize{2, 2}));
    GraphicsContext* elsewhere = outerContext;
    std::thread([&] { elsewhere = GraphicsContext::currentContext(); }).join();
    EXPECT_EQ(elsewhere, nullptr);
  }
  EXPECT_EQ(GraphicsContext::currentContext(), outerContext);
}

TEST(QuickLookThumbnailTest, ReplyRunsItsRoutineAndKeepsItsSize) {
  int runs = 0;
  auto reply = QLThumbnailReply::replyWithContextSize(CGSize{128, 64}, [&runs] {
    ++runs;
    return runs == 1;
  });
  EXPECT_EQ(reply->contextSize(), (CGSize{128, 64}));
  EXPECT_TRUE(reply->draw());
  EXPECT_FALSE(reply->draw());
  EXPECT_FALSE(QLThumbnailReply::replyWithContextSize(CGSize{1, 1}, nullptr)->draw());
}

}  // namespace
}  // namespace quarn
