#include "quicklook/Shared/CanvasSVGRenderer.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "quicklook/Shared/HTML.h"

namespace quarn::CanvasSVGRenderer {
namespace {

// Enough for the longest fixed form: a sign, the 309 integer digits of the
// largest double, the point and two decimals.
constexpr size_t kNumberBufferSize = 320;
// The markup around the elements with room for a short tail after it, and the
// most one element's markup takes with numbers of up to 20 characters, before
// its label's text (which escaping makes at most six times as long).
constexpr size_t kFixedBytes = 512;
constexpr size_t kMaxBytesPerElement = 320;

constexpr double kInt64Lowest = -9223372036854775808.0;
constexpr double kInt64End = 9223372036854775808.0;
constexpr double kExactHundredthsEnd = 4503599627370496.0;  // 2^52

// Written straight into the output: std::to_chars ignores the locale, where
// printf would turn the full stop into a comma under a German one.
void appendNumber(double value, std::string& out) {
  // printf prints "-nan" for a NaN with its sign bit set; one spelling reads
  // better and no NaN carries meaning here. Infinities get printf's own
  // spelling, which no SVG reader draws but which never stops the preview.
  if (std::isnan(value)) {
    out += "nan";
    return;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-inf" : "inf";
    return;
  }
  char buffer[kNumberBufferSize];
  std::to_chars_result result;
  if (std::round(value) == value && value >= kInt64Lowest && value < kInt64End) {
    // The integer conversion also folds negative zero into "0".
    result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<int64_t>(value));
  } else if (const double hundredths = value * 100;
             std::fabs(hundredths) < kExactHundredthsEnd && std::round(hundredths) == hundredths) {
    // The common 10.5 or 3.25. When value * 100 rounds to a whole number below
    // 2^52 the exact product lies far closer to it than to a half, so this
    // gives what the general form gives, at a fraction of its cost.
    const int64_t scaled = static_cast<int64_t>(hundredths);
    const uint64_t magnitude = scaled < 0 ? uint64_t(-scaled) : uint64_t(scaled);
    char* cursor = buffer;
    if (scaled < 0) *cursor++ = '-';
    cursor = std::to_chars(cursor, buffer + sizeof buffer, magnitude / 100).ptr;
    *cursor++ = '.';
    *cursor++ = char('0' + magnitude % 100 / 10);
    *cursor++ = char('0' + magnitude % 10);
    result.ptr = cursor;
  } else {
    // Whole values beyond 64 bits take this form too: exact, and valid SVG.
    result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 2);
  }
  out.append(buffer, result.ptr);
}

void appendAttribute(std::string_view name, double value, std::string& out) {
  out += ' ';
  out += name;
  out += "=\"";
  appendNumber(value, out);
  out += '"';
}

void appendPoint(double x, double y, std::string& out) {
  appendNumber(x, out);
  out += ',';
  appendNumber(y, out);
}

void appendLabel(const CanvasElement& element, const Rect& box, std::string& out) {
  if (!element.text || element.text->empty()) return;
  out += "<text class=\"canvas-shape-label\"";
  appendAttribute("x", box.x + 12, out);
  appendAttribute("y", box.y + 23, out);
  out += '>';
  HTML::escape(*element.text, out);
  out += "</text>";
}

void appendShape(const CanvasElement& element, std::string& out) {
  const Rect box = element.box();
  const double minX = box.x;
  const double minY = box.y;
  const double maxX = box.x + box.width;
  const double maxY = box.y + box.height;
  const double midX = box.x + box.width / 2;
  const double midY = box.y + box.height / 2;
  const std::string_view type = element.type;

  out += "<g class=\"canvas-shape\">";
  if (type == "arrow") {
    // The raw values, so a negative extent points the arrow left or up.
    out += "<line";
    appendAttribute("x1", element.x, out);
    appendAttribute("y1", element.y, out);
    appendAttribute("x2", element.x + element.width, out);
    appendAttribute("y2", element.y + element.height, out);
    out += " marker-end=\"url(#canvas-arrowhead)\" />";
  } else if (type == "ellipse") {
    out += "<ellipse";
    appendAttribute("cx", midX, out);
    appendAttribute("cy", midY, out);
    appendAttribute("rx", box.width * 0.5, out);
    appendAttribute("ry", box.height * 0.5, out);
    out += " />";
  } else if (type == "diamond") {
    out += "<polygon points=\"";
    appendPoint(midX, minY, out);
    out += ' ';
    appendPoint(maxX, midY, out);
    out += ' ';
    appendPoint(midX, maxY, out);
    out += ' ';
    appendPoint(minX, midY, out);
    out += "\" />";
  } else if (type != "text") {
    out += "<rect";
    appendAttribute("x", minX, out);
    appendAttribute("y", minY, out);
    appendAttribute("width", box.width, out);
    appendAttribute("height", box.height, out);
    if (type == "rounded-rectangle") out += " rx=\"12\"";
    if (type == "frame") out += " class=\"canvas-frame\"";
    out += " />";
  }
  appendLabel(element, box, out);
  out += "</g>";
}

}  // namespace

void svg(const CanvasDocument& document, std::string& out) {
  const std::optional<Rect> bounds = document.contentBounds();
  if (!bounds) {
    out += "<p class=\"quarn-empty\">Empty canvas</p>";
    return;
  }

  const std::vector<const CanvasElement*> drawable = document.drawableElements();
  // Reserved once, generously: what stays unwritten is never touched, while
  // growing a large drawing would copy all of it.
  std::size_t capacity = out.size() + kFixedBytes;
  for (const CanvasElement* element : drawable) {
    capacity += kMaxBytesPerElement + (element->text ? element->text->size() * 6 : 0);
  }
  out.reserve(capacity);
  out += "<svg class=\"quarn-canvas\" xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"";
  appendNumber(bounds->x - 24, out);
  out += ' ';
  appendNumber(bounds->y - 24, out);
  out += ' ';
  appendNumber(bounds->width + 48, out);
  out += ' ';
  appendNumber(bounds->height + 48, out);
  out +=
      "\" preserveAspectRatio=\"xMidYMid meet\">\n"
      "<defs><marker id=\"canvas-arrowhead\" markerWidth=\"8\" markerHeight=\"8\" refX=\"7\" "
      "refY=\"3\" orient=\"auto\"><path d=\"M0,0 L0,6 L8,3 z\" fill=\"currentColor\" />"
      "</marker></defs>\n";
  bool first = true;
  for (const CanvasElement* element : drawable) {
    if (!first) out += '\n';
    first = false;
    appendShape(*element, out);
  }
  out += "\n</svg>";
}

std::string svg(const CanvasDocument& document) {
  std::string out;
  svg(document, out);
  return out;
}

std::string number(double value) {
  std::string text;
  appendNumber(value, text);
  return text;
}

}  // namespace quarn::CanvasSVGRenderer
