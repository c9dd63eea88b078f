#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <locale>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "quicklook/Shared/CanvasSVGRenderer.h"

namespace quarn {
namespace {

constexpr std::string_view kHead =
    "<svg class=\"quarn-canvas\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"";
constexpr std::string_view kDefs =
    "\" preserveAspectRatio=\"xMidYMid meet\">\n"
    "<defs><marker id=\"canvas-arrowhead\" markerWidth=\"8\" markerHeight=\"8\" refX=\"7\" "
    "refY=\"3\" orient=\"auto\"><path d=\"M0,0 L0,6 L8,3 z\" fill=\"currentColor\" />"
    "</marker></defs>\n";

CanvasElement shape(std::string type, double x, double y, double width, double height,
                    std::optional<std::string> text = std::nullopt) {
  CanvasElement e;
  e.id = "id";
  e.type = std::move(type);
  e.x = x;
  e.y = y;
  e.width = width;
  e.height = height;
  e.text = std::move(text);
  return e;
}

// The markup between the marker line and the closing tag.
std::string elementLines(const std::vector<CanvasElement>& elements) {
  const std::string out = CanvasSVGRenderer::svg(CanvasDocument{elements});
  const size_t start = out.find(kDefs);
  if (start == std::string::npos || !out.ends_with("\n</svg>")) return "unexpected: " + out;
  const size_t from = start + kDefs.size();
  return out.substr(from, out.size() - from - 7);
}

TEST(CanvasSVGRendererTest, NothingDrawableGivesTheEmptyNoteAlone) {
  const std::string note = "<p class=\"quarn-empty\">Empty canvas</p>";
  EXPECT_EQ(CanvasSVGRenderer::svg(CanvasDocument{}), note);
  EXPECT_EQ(CanvasSVGRenderer::svg(
                CanvasDocument{{shape("group", 0, 0, 10, 10, "g"), shape("group", 5, 5, 1, 1)}}),
            note);
}

TEST(CanvasSVGRendererTest, WritesTheWholeDrawingForOneRectangle) {
  EXPECT_EQ(CanvasSVGRenderer::svg(CanvasDocument{{shape("rectangle", 0, 0, 100, 50)}}),
            std::string(kHead) + "-24 -24 148 98" + std::string(kDefs) +
                "<g class=\"canvas-shape\"><rect x=\"0\" y=\"0\" width=\"100\" height=\"50\" />"
                "</g>\n</svg>");
}

TEST(CanvasSVGRendererTest, EachTypeGetsItsShapeMarkup) {
  const struct {
    CanvasElement element;
    std::string expected;
  } rows[] = {
      {shape("rectangle", 10.5, 10, 1, 2),
       R"svg(<g class="canvas-shape"><rect x="10.50" y="10" width="1" height="2" /></g>)svg"},
      {shape("rectangle", 100, 0, -40, 10),
       R"svg(<g class="canvas-shape"><rect x="60" y="0" width="40" height="10" /></g>)svg"},
      {shape("arrow", 100, 0, -40, 10),
       R"svg(<g class="canvas-shape"><line x1="100" y1="0" x2="60" y2="10" marker-end="url(#canvas-arrowhead)" /></g>)svg"},
      {shape("arrow", 0, 0, 10, -10, "up"),
       R"svg(<g class="canvas-shape"><line x1="0" y1="0" x2="10" y2="-10" marker-end="url(#canvas-arrowhead)" /><text class="canvas-shape-label" x="12" y="13">up</text></g>)svg"},
      {shape("rounded-rectangle", 0, 0, 5, 5),
       R"svg(<g class="canvas-shape"><rect x="0" y="0" width="5" height="5" rx="12" /></g>)svg"},
      {shape("frame", 0, 0, 5, 5),
       R"svg(<g class="canvas-shape"><rect x="0" y="0" width="5" height="5" class="canvas-frame" /></g>)svg"},
      {shape("Ellipse", 0, 0, 5, 5),
       R"svg(<g class="canvas-shape"><rect x="0" y="0" width="5" height="5" /></g>)svg"},
      {shape("sticky-note", 0, 0, 0, 0),
       R"svg(<g class="canvas-shape"><rect x="0" y="0" width="0" height="0" /></g>)svg"},
      {shape("ellipse", 0, 0, 30, 20),
       R"svg(<g class="canvas-shape"><ellipse cx="15" cy="10" rx="15" ry="10" /></g>)svg"},
      {shape("ellipse", 0, 0, 25, 20),
       R"svg(<g class="canvas-shape"><ellipse cx="12.50" cy="10" rx="12.50" ry="10" /></g>)svg"},
      {shape("diamond", 0, 0, 40, 20),
       R"svg(<g class="canvas-shape"><polygon points="20,0 40,10 20,20 0,10" /></g>)svg"},
      {shape("text", 0, 0, 10, 10, "a < b"),
       R"svg(<g class="canvas-shape"><text class="canvas-shape-label" x="12" y="23">a &lt; b</text></g>)svg"},
      {shape("text", 0, 0, 10, 10), R"svg(<g class="canvas-shape"></g>)svg"},
      {shape("text", 0, 0, 10, 10, ""), R"svg(<g class="canvas-shape"></g>)svg"},
      {shape("text", 0, 0, 1, 1, "  "),
       R"svg(<g class="canvas-shape"><text class="canvas-shape-label" x="12" y="23">  </text></g>)svg"},
      {shape("frame", 100, 50, -20, -10, "\"Q\" & 'A'"),
       R"svg(<g class="canvas-shape"><rect x="80" y="40" width="20" height="10" class="canvas-frame" /><text class="canvas-shape-label" x="92" y="63">&quot;Q&quot; &amp; &#39;A&#39;</text></g>)svg"},
      {shape("rectangle", 0.25, -0.5, 1, 1, "x"),
       R"svg(<g class="canvas-shape"><rect x="0.25" y="-0.50" width="1" height="1" /><text class="canvas-shape-label" x="12.25" y="22.50">x</text></g>)svg"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(elementLines({row.element}), row.expected) << "type: " << row.element.type;
  }
}

TEST(CanvasSVGRendererTest, ElementsStandOnePerLineWithoutGroups) {
  EXPECT_EQ(elementLines({shape("text", 0, 0, 1, 1, "a"), shape("group", 0, 0, 1, 1, "g"),
                          shape("text", 0, 0, 1, 1, "b")}),
            "<g class=\"canvas-shape\"><text class=\"canvas-shape-label\" x=\"12\" "
            "y=\"23\">a</text></g>\n"
            "<g class=\"canvas-shape\"><text class=\"canvas-shape-label\" x=\"12\" "
            "y=\"23\">b</text></g>");
}

TEST(CanvasSVGRendererTest, NumberFollowsTheTextFormRules) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double value;
    std::string expected;
  } rows[] = {
      {12, "12"},
      {-24, "-24"},
      {0, "0"},
      {-0.0, "0"},
      {1.5, "1.50"},
      {10.33, "10.33"},
      {0.125, "0.12"},  // exact tie: rounds to even as printf does
      {2.675, "2.67"},  // really 2.67499999...
      {-0.001, "-0.00"},
      {nan, "nan"},
      {-nan, "nan"},
      {inf, "inf"},
      {-inf, "-inf"},
      {9223372036854774784.0, "9223372036854774784"},  // largest double below 2^63
      {-9223372036854775808.0, "-9223372036854775808"},
      {9223372036854775808.0, "9223372036854775808.00"},
      {-9223372036854777856.0, "-9223372036854777856.00"},
      {1e20, "100000000000000000000.00"},
      {4503599627370495.5, "4503599627370495.50"},
      {45035996273704.95, "45035996273704.95"},
      {-0.05, "-0.05"},
      {-12.25, "-12.25"},
      {1e-3, "0.00"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(CanvasSVGRenderer::number(row.value), row.expected) << "value: " << row.value;
  }
  const std::string largest = CanvasSVGRenderer::number(-std::numeric_limits<double>::max());
  EXPECT_EQ(largest.size(), 313u);
  EXPECT_TRUE(largest.starts_with("-17976931348623157")) << largest;
  EXPECT_TRUE(largest.ends_with("858368.00")) << largest;
}

TEST(CanvasSVGRendererTest, FractionsMatchPrintfsTwoDecimalForm) {
  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> spread(-1e6, 1e6);
  char expected[64];
  for (int i = 0; i < 20000; ++i) {
    double value = spread(random);
    if (i % 3 == 0) value = std::round(value * 1000) / 1000;  // near the rounding edges
    if (i % 3 == 1) value = std::round(value * 100) / 100;    // two decimals as written
    if (i % 5 == 0) value /= 1e6;                             // small, near zero
    if (std::round(value) == value) continue;
    std::snprintf(expected, sizeof expected, "%.2f", value);
    ASSERT_EQ(CanvasSVGRenderer::number(value), expected) << "value: " << value;
  }
}

TEST(CanvasSVGRendererTest, UsesAFullStopUnderACommaLocale) {
  const CanvasDocument document{{shape("ellipse", 10.5, 0, 25, 3, "x")}};
  const std::string inC = CanvasSVGRenderer::svg(document);
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
    GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  }
  std::locale::global(std::locale("de_DE.UTF-8"));
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.2f", 1.5);
  const std::string inGerman = CanvasSVGRenderer::svg(document);
  std::locale::global(std::locale::classic());
  std::setlocale(LC_ALL, "C");
  EXPECT_STREQ(probe, "1,50");  // the locale really writes a comma
  EXPECT_EQ(inGerman, inC);
  EXPECT_NE(inC.find("cx=\"23\" cy=\"1.50\" rx=\"12.50\" ry=\"1.50\""), std::string::npos) << inC;
}

TEST(CanvasSVGRendererTest, RendersALargeCanvasInOneText) {
  constexpr size_t kCount = 200'000;
  CanvasDocument document;
  document.elements.reserve(kCount);
  for (size_t i = 0; i < kCount; ++i) {
    document.elements.push_back(shape(i % 2 ? "rectangle" : "group", double(i), 0, 1, 1));
  }
  const std::string out = CanvasSVGRenderer::svg(document);
  EXPECT_EQ(size_t(std::count(out.begin(), out.end(), '\n')), kCount / 2 + 2);
  EXPECT_TRUE(
      out.ends_with("<g class=\"canvas-shape\"><rect x=\"199999\" y=\"0\" width=\"1\" height=\"1\" "
                    "/></g>\n</svg>"));
}

}  // namespace
}  // namespace quarn
