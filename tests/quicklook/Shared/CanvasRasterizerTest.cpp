#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <cairo.h>
#include <gtest/gtest.h>

#include "platform/GraphicsContext.h"
#include "quicklook/Generated/QuarnTokens.h"
#include "quicklook/Shared/CanvasRasterizer.h"

namespace quarn {
namespace {

CanvasElement element(std::string type, double x, double y, double width, double height,
                      std::optional<std::string> text = std::nullopt) {
  return CanvasElement{"id", std::move(type), x, y, width, height, std::move(text)};
}

constexpr std::uint32_t kRed = 0xffff0000;

// An ARGB32 picture read back pixel by pixel, rows from the top.
class Picture {
 public:
  Picture(int width, int height, std::uint32_t fill = kRed)
      : width_(width),
        height_(height),
        surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)),
        cairo_(cairo_create(surface_)) {
    cairo_surface_flush(surface_);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) row(y)[x] = fill;
    }
    cairo_surface_mark_dirty(surface_);
  }
  ~Picture() {
    cairo_destroy(cairo_);
    cairo_surface_destroy(surface_);
  }

  bool draw(const CanvasDocument& document) {
    return draw(document, CGSize{double(width_), double(height_)});
  }
  bool draw(const CanvasDocument& document, CGSize size) {
    bool drawn;
    {
      ScopedCurrentContext current(cairo_, CGSize{double(width_), double(height_)});
      drawn = CanvasRasterizer::draw(document, size);
    }
    cairo_surface_flush(surface_);
    EXPECT_EQ(cairo_status(cairo_), CAIRO_STATUS_SUCCESS);
    return drawn;
  }

  std::uint32_t at(int x, int y) const { return row(y)[x]; }
  int red(int x, int y) const { return int(at(x, y) >> 16 & 0xff); }
  bool dark(int x, int y) const { return red(x, y) < 200; }
  bool allEqual(std::uint32_t value) const {
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) {
        if (at(x, y) != value) return false;
      }
    }
    return true;
  }
  // Darkness summed over the picture, in pixels of full outline colour.
  double ink() const {
    double sum = 0;
    for (int y = 0; y < height_; ++y) {
      for (int x = 0; x < width_; ++x) sum += 255 - red(x, y);
    }
    return sum / (255 - 107);
  }
  // First and last dark column of row y, or -1, -1.
  std::pair<int, int> darkSpan(int y) const {
    int first = -1, last = -1;
    for (int x = 0; x < width_; ++x) {
      if (dark(x, y)) {
        if (first < 0) first = x;
        last = x;
      }
    }
    return {first, last};
  }
  bool operator==(const Picture& other) const {
    if (width_ != other.width_ || height_ != other.height_) return false;
    for (int y = 0; y < height_; ++y) {
      if (std::memcmp(row(y), other.row(y), 4 * size_t(width_)) != 0) return false;
    }
    return true;
  }

 private:
  std::uint32_t* row(int y) const {
    return reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(surface_) +
                                            cairo_image_surface_get_stride(surface_) * y);
  }
  int width_, height_;
  cairo_surface_t* surface_;
  cairo_t* cairo_;
};

TEST(CanvasRasterizerTest, TokensHoldTheLightThemeColours) {
  const struct {
    const char* name;
    const QuarnTokens::Color& color;
    double component;
    int byte;
  } rows[] = {
      {"background", QuarnTokens::light.background, 1.0, 255},
      {"text", QuarnTokens::light.text, 0.102, 26},
      {"textSecondary", QuarnTokens::light.textSecondary, 0.4196, 107},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    for (double c : {row.color.red, row.color.green, row.color.blue}) {
      EXPECT_EQ(c, row.component);
      EXPECT_EQ(std::lround(c * 255), row.byte);
    }
    EXPECT_EQ(row.color.alpha, 1.0);
  }
}

TEST(CanvasRasterizerTest, FitsPaddedContentCentredWithAspectKept) {
  // Outline edges land at the fitted positions: left/right on a middle row.
  struct Row {
    int width, height;
    CanvasElement shape;
    int row;
    int left, right;  // expected dark span, ±1 pixel
  };
  const Row rows[] = {
      // Bounds 100 by 50 in 264 by 164: s = 2, margin 32 pixels, no extra room.
      {264, 164, element("rectangle", 0, 0, 100, 50), 82, 31, 232},
      // 100 by 100 in 200 by 100: s = 100/132, 50 pixels empty each side.
      {200, 100, element("rectangle", 0, 0, 100, 100), 50, 61, 138},
      // A wide canvas in a square is centred vertically; its columns fill it.
      {132, 132, element("rectangle", 0, 0, 100, 34), 66, 15, 116},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.width << "x" << r.height);
    Picture picture(r.width, r.height);
    ASSERT_TRUE(picture.draw(CanvasDocument{{r.shape}}));
    const auto [left, right] = picture.darkSpan(r.row);
    EXPECT_NEAR(left, r.left, 1);
    EXPECT_NEAR(right, r.right, 1);
    EXPECT_EQ(picture.at(0, 0), 0xffffffffu);  // background, not the red fill
    EXPECT_EQ(picture.at(r.width - 1, r.height - 1), 0xffffffffu);
  }
  // The wide canvas: white above and below, top edge at (132 - 66) / 2 + 16.
  Picture picture(132, 132);
  ASSERT_TRUE(picture.draw(CanvasDocument{{element("rectangle", 0, 0, 100, 34)}}));
  EXPECT_FALSE(picture.dark(66, 46));
  EXPECT_TRUE(picture.dark(66, 49));
  EXPECT_TRUE(picture.dark(66, 82));
  EXPECT_FALSE(picture.dark(66, 86));
}

TEST(CanvasRasterizerTest, OutlineIsGreyWhereTheEdgeFallsAndFillIsWhite) {
  // s = 1 and half a pixel of vertical slack puts the top edge at y = 16.5,
  // so row 16 is fully covered by the 1.5-wide line.
  Picture picture(132, 83);
  ASSERT_TRUE(picture.draw(CanvasDocument{{element("rectangle", 0, 0, 100, 50)}}));
  const std::uint32_t pixel = picture.at(66, 16);
  EXPECT_EQ(pixel >> 24, 255u);
  for (int shift : {16, 8, 0}) EXPECT_NEAR(int(pixel >> shift & 0xff), 107, 1);
  EXPECT_EQ(picture.at(66, 40), 0xffffffffu);
  EXPECT_EQ(picture.at(66, 8), 0xffffffffu);
}

TEST(CanvasRasterizerTest, UnknownTypeDrawsLikeRectangle) {
  Picture rectangle(128, 128), unknown(128, 128), rounded(128, 128);
  ASSERT_TRUE(rectangle.draw(CanvasDocument{{element("rectangle", 0, 0, 100, 60)}}));
  ASSERT_TRUE(unknown.draw(CanvasDocument{{element("sticky-note", 0, 0, 100, 60)}}));
  ASSERT_TRUE(rounded.draw(CanvasDocument{{element("Rounded-Rectangle", 0, 0, 100, 60)}}));
  EXPECT_TRUE(rectangle == unknown);
  EXPECT_TRUE(rectangle == rounded);  // types compare case-sensitively
}

TEST(CanvasRasterizerTest, NothingToDrawReturnsFalseWithoutTouchingTheBitmap) {
  const struct {
    const char* name;
    CanvasDocument document;
  } rows[] = {
      {"no elements", CanvasDocument{}},
      {"groups only", CanvasDocument{{element("group", 0, 0, 100, 100)}}},
      {"single zero-size element", CanvasDocument{{element("rectangle", 5, 5, 0, 0)}}},
      {"zero-size elements at one point",
       CanvasDocument{{element("ellipse", 5, 5, 0, 0), element("arrow", 5, 5, 0, 0)}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Picture picture(64, 64);
    EXPECT_FALSE(picture.draw(row.document));
    EXPECT_TRUE(picture.allEqual(kRed));
  }
}

TEST(CanvasRasterizerTest, ReturnsFalseWithoutACurrentContext) {
  const CanvasDocument document{{element("rectangle", 0, 0, 10, 10)}};
  EXPECT_FALSE(CanvasRasterizer::draw(document, CGSize{64, 64}));
  ScopedCurrentContext withoutCairo(nullptr, CGSize{64, 64});
  EXPECT_FALSE(CanvasRasterizer::draw(document, CGSize{64, 64}));
}

TEST(CanvasRasterizerTest, UnusableScaleReturnsFalse) {
  const CanvasDocument document{{element("rectangle", 0, 0, 100, 50)}};
  for (CGSize size : {CGSize{0, 0}, CGSize{64, 0}, CGSize{0, 64}, CGSize{-64, 64}}) {
    SCOPED_TRACE(testing::Message() << size.width << "x" << size.height);
    Picture picture(64, 64);
    EXPECT_FALSE(picture.draw(document, size));
  }
  // Bounds too wide for a double: the scale is 0, after the background is filled.
  Picture picture(64, 64);
  EXPECT_FALSE(picture.draw(CanvasDocument{
      {element("rectangle", -1.5e308, 0, 1, 1), element("rectangle", 1.5e308, 0, 1, 1)}}));
  EXPECT_TRUE(picture.allEqual(0xffffffff));
}

TEST(CanvasRasterizerTest, VastCanvasKeepsTheContextUsable) {
  // A scale whose square underflows would make cairo's matrix singular and
  // poison the host's context; Picture::draw checks the status afterwards.
  for (double side : {1e150, 1e200, 1e300}) {
    SCOPED_TRACE(side);
    Picture picture(32, 32);
    EXPECT_TRUE(picture.draw(CanvasDocument{
        {element("ellipse", 0, 0, side, side, "label"), element("arrow", 0, 0, side, side)}}));
  }
}

TEST(CanvasRasterizerTest, VastCanvasKeepsItsOutlinesAndArrowheads) {
  // A box and an arrow inside a blank square of the given side. The outline
  // stays 1.5 pixels wide and the head 8 long at every positive scale.
  for (double side : {100.0, 1e160, 1e300}) {
    SCOPED_TRACE(side);
    Picture picture(132, 132);
    ASSERT_TRUE(
        picture.draw(CanvasDocument{{element("text", 0, 0, side, side),
                                     element("rectangle", side / 4, side / 4, side / 2, side / 4),
                                     element("arrow", side / 4, side * 3 / 4, side / 2, 0)}}));
    const double s = 132 / (side + 32);
    const double left = (16 + side / 4) * s, width = side / 2 * s, height = side / 4 * s;
    const auto [first, last] = picture.darkSpan(int((16 + side * 3 / 8) * s));
    EXPECT_NEAR(first, left, 1.5);
    EXPECT_NEAR(last, left + width, 1.5);
    // Outline plus line plus head (about 25 square pixels).
    EXPECT_NEAR(picture.ink(), 1.5 * (2 * width + 2 * height + width) + 25, 15);
  }
}

TEST(CanvasRasterizerTest, LineOnlyBoundsAreDrawn) {
  Picture picture(132, 132);
  EXPECT_TRUE(picture.draw(CanvasDocument{{element("arrow", 0, 0, 100, 0)}}));
  EXPECT_TRUE(picture.dark(66, 66));
}

TEST(CanvasRasterizerTest, ArrowheadSitsAtTheEndAndPointsAway) {
  // s = 1: the line runs along y = 66 from x = 116 to the head at x = 16.
  Picture left(132, 132);
  ASSERT_TRUE(left.draw(CanvasDocument{{element("arrow", 100, 0, -100, 0)}}));
  const auto columnHeight = [&](int x) {
    int n = 0;
    for (int y = 56; y < 77; ++y) n += left.dark(x, y);
    return n;
  };
  EXPECT_GE(columnHeight(22), 5);   // the head's flanks open toward the start
  EXPECT_LE(columnHeight(100), 2);  // the plain line
  EXPECT_EQ(columnHeight(12), 0);   // nothing beyond the tip

  // A zero-length arrow still gets a head, pointing toward +x.
  Picture zero(132, 132);
  ASSERT_TRUE(
      zero.draw(CanvasDocument{{element("text", 0, 0, 100, 100), element("arrow", 50, 50, 0, 0)}}));
  EXPECT_TRUE(zero.dark(63, 66));
  EXPECT_FALSE(zero.dark(69, 66));
}

TEST(CanvasRasterizerTest, FrameIsDashedAndNotFilled) {
  // A line drawn before the frame shows through its inside.
  const CanvasElement line = element("arrow", 0, 50, 100, 0);
  Picture framed(132, 132), covered(132, 132);
  ASSERT_TRUE(framed.draw(CanvasDocument{{line, element("frame", 20, 0, 60, 100)}}));
  ASSERT_TRUE(covered.draw(CanvasDocument{{line, element("rectangle", 20, 0, 60, 100)}}));
  EXPECT_TRUE(framed.dark(66, 66));
  EXPECT_FALSE(covered.dark(66, 66));

  // s = 1 along the top edge (y = 16): dashes 6 on, 4 off.
  int runs = 0;
  bool inRun = false;
  for (int x = 37; x < 96; ++x) {
    const bool d = framed.dark(x, 16);
    runs += d && !inRun;
    inRun = d;
  }
  EXPECT_NEAR(runs, 6, 1);
}

TEST(CanvasRasterizerTest, StrokesKeepTheirSizeWhileCornersAndFontsGrow) {
  const CanvasDocument headOnly{{element("text", 0, 0, 100, 100), element("arrow", 50, 50, 0, 0)}};
  const CanvasDocument outline{{element("frame", 0, 0, 100, 100)}};
  Picture head128(128, 128), head1024(1024, 1024), frame128(128, 128), frame1024(1024, 1024);
  ASSERT_TRUE(head128.draw(headOnly));
  ASSERT_TRUE(head1024.draw(headOnly));
  ASSERT_TRUE(frame128.draw(outline));
  ASSERT_TRUE(frame1024.draw(outline));
  // Head: 8 long, half-angle pi/7, about 25 square pixels at any scale.
  EXPECT_NEAR(head128.ink(), 25, 3);
  EXPECT_NEAR(head1024.ink(), 25, 3);
  // A dashed outline's ink grows with its length only: 1.5 wide, 60% on.
  const double s128 = 128.0 / 132, s1024 = 1024.0 / 132;
  EXPECT_NEAR(frame128.ink() / (400 * s128), 1.5 * 0.6, 0.15);
  EXPECT_NEAR(frame1024.ink() / (400 * s1024), 1.5 * 0.6, 0.15);

  // Corner radius 12 canvas units: the box corner is white, the arc's
  // diagonal point dark, at both sizes.
  for (int side : {128, 1024}) {
    SCOPED_TRACE(side);
    const double s = side / 132.0;
    Picture picture(side, side);
    ASSERT_TRUE(picture.draw(CanvasDocument{{element("rounded-rectangle", 0, 0, 100, 100)}}));
    const int corner = int(16 * s);
    const int arc = int(16 * s + 12 * s * (1 - std::sqrt(0.5)));
    EXPECT_FALSE(picture.dark(corner, corner));
    EXPECT_TRUE(picture.dark(arc, arc));
  }
}

TEST(CanvasRasterizerTest, NarrowRoundedRectangleStaysInsideItsBox) {
  // 10 wide: the radius is clamped to 5, a stadium touching all four sides.
  Picture picture(1024, 1024);
  ASSERT_TRUE(picture.draw(CanvasDocument{{element("rounded-rectangle", 0, 0, 10, 100)}}));
  const double s = 1024.0 / 132;
  const int left = int(512 - 5 * s), right = int(512 + 5 * s), top = int(16 * s);
  EXPECT_TRUE(picture.dark(512, top));
  EXPECT_TRUE(picture.dark(left, 512));
  EXPECT_TRUE(picture.dark(right, 512));
  EXPECT_FALSE(picture.dark(left, top));
  EXPECT_FALSE(picture.dark(left - int(1.5 * s), top + int(s)));
  EXPECT_FALSE(picture.dark(right + int(1.5 * s), top + int(s)));
  EXPECT_EQ(picture.red(512, 512), 255);
}

// Rows of the label's ink (darker than any outline): top, bottom, leftmost
// column and the row where the ink is widest.
struct Ink {
  int top = -1, bottom = -1, widestRow = -1, left = -1;
};
Ink labelInk(const Picture& picture, int size) {
  Ink ink;
  int widest = 0;
  for (int y = 0; y < size; ++y) {
    int n = 0;
    for (int x = 0; x < size; ++x) {
      if (picture.red(x, y) < 80) {
        ++n;
        if (ink.left < 0 || x < ink.left) ink.left = x;
      }
    }
    if (n > 0) {
      if (ink.top < 0) ink.top = y;
      ink.bottom = y;
    }
    if (n > widest) widest = n, ink.widestRow = y;
  }
  return ink;
}

TEST(CanvasRasterizerTest, LabelStandsUprightOnItsBaselineAndScales) {
  // "T": the bar, the widest row, is at the top of the ink when upright.
  const CanvasDocument document{{element("text", 0, 0, 100, 100, "T")}};
  for (int size : {132, 1056}) {
    SCOPED_TRACE(size);
    const double s = size / 132.0;
    Picture picture(size, size);
    ASSERT_TRUE(picture.draw(document));
    const Ink ink = labelInk(picture, size);
    ASSERT_GE(ink.top, 0);
    EXPECT_LE(ink.widestRow - ink.top, 2 * s);
    EXPECT_NEAR(ink.bottom, (16 + 23) * s, 1 + s);  // baseline
    EXPECT_NEAR(ink.left, (16 + 12) * s, 2 * s);
    EXPECT_NEAR(ink.bottom - ink.top, 10 * s, 2 * s);  // cap height of a 14-unit font
  }
}

TEST(CanvasRasterizerTest, LabelsFollowTheirText) {
  const auto drawn = [](std::vector<CanvasElement> elements) {
    auto picture = std::make_unique<Picture>(132, 132);
    elements.push_back(element("text", 0, 0, 100, 100));  // fixes the bounds
    EXPECT_TRUE(picture->draw(CanvasDocument{std::move(elements)}));
    return picture;
  };
  const auto blank = drawn({});
  EXPECT_TRUE(blank->allEqual(0xffffffff));  // a text element without text draws nothing
  EXPECT_TRUE(*drawn({element("text", 0, 0, 50, 50, "")}) == *blank);
  EXPECT_TRUE(*drawn({element("text", 0, 0, 50, 50, "   ")}) == *blank);
  EXPECT_FALSE(*drawn({element("text", 0, 0, 50, 50, "Hi")}) == *blank);
  // Arrows and frames get labels too; a later shape paints over a label.
  for (const char* type : {"arrow", "frame"}) {
    EXPECT_GT(labelInk(*drawn({element(type, 0, 0, 80, 80, "Hi")}), 132).top, 0) << type;
  }
  EXPECT_LT(
      labelInk(*drawn({element("text", 0, 0, 50, 50, "Hi"), element("rectangle", 5, 5, 60, 30)}),
               132)
          .top,
      0);
  // Invalid UTF-8 and line breaks still give one line of ink.
  const Ink broken = labelInk(*drawn({element("text", 0, 0, 50, 50, "a\xff\nb")}), 132);
  EXPECT_NEAR(broken.bottom, 39, 2);
}

TEST(CanvasRasterizerTest, LongLabelIsNotDrawnAgainFromTheLeft) {
  // About 1.1 million characters: laid out whole, the line runs past what
  // its positions can hold and starts again at the picture's left edge.
  for (const std::string word :
       {"The quick brown fox jumps. ", " \u05e9\u05dc\u05d5\u05dd", "Caf\xe9 \xf0\x9f"}) {
    SCOPED_TRACE(word);
    std::string text;
    while (text.size() < 2'000'000) text += word;
    Picture picture(132, 132);
    ASSERT_TRUE(picture.draw(CanvasDocument{{element("text", 0, 0, 100, 100, text)}}));
    const Ink ink = labelInk(picture, 132);
    EXPECT_NEAR(ink.left, 28, 2);  // starts at the box's left edge plus 12
    EXPECT_NEAR(ink.bottom, 39, 2);
  }
}

}  // namespace
}  // namespace quarn
