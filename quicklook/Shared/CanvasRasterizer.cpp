#include "quicklook/Shared/CanvasRasterizer.h"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <numbers>
#include <string>
#include <string_view>

#include <cairo.h>
#include <pango/pangocairo.h>

#include "platform/GraphicsContext.h"
#include "quicklook/Generated/QuarnTokens.h"

namespace quarn::CanvasRasterizer {

namespace {

constexpr double kMargin = 16;
constexpr double kLineWidth = 1.5;
constexpr double kCornerRadius = 12;
constexpr double kDashOn = 6;
constexpr double kDashOff = 4;
constexpr double kArrowheadLength = 8;
constexpr double kArrowheadHalfAngle = std::numbers::pi / 7;
constexpr double kFontSize = 14;
constexpr double kLabelLeft = 12;
constexpr double kLabelBaseline = 23;
// The desktop's interface font where fontconfig knows "system-ui".
constexpr const char* kFontFamilies = "system-ui,sans-serif";
// A long label is laid out only as far as the picture shows it, plus this
// much (canvas units), so the glyphs at the cut (kerning, joining, overhang)
// stay out of view.
constexpr double kLabelOverhang = 4 * kFontSize;
// Characters laid out at most per pixel of label in view. Text that dense has
// an em below a twentieth of a pixel, where cairo draws no glyph ink.
constexpr double kLabelCharsPerPixel = 128;
constexpr double kLabelMinChars = 1024;

// How canvas units reach cairo. cairo refuses a transform whose determinant
// (the scale squared) underflows, and then ignores the context for good. At
// such scales it is handed canvas coordinates times `unit`, an exact power of
// two, and the scale divided by it: the products, and so the picture, stay
// the same, but its matrix stays invertible.
struct Fit {
  double scale;  // target units per canvas unit
  double unit;   // cairo user units per canvas unit; 1 at ordinary scales
  double user;   // target units per cairo user unit
  double right;  // the picture's right edge, in canvas units
};

Fit fitFor(double scale, double right) {
  if (scale * scale >= std::numeric_limits<double>::min()) return Fit{scale, 1, scale, right};
  const int exponent = -std::ilogb(scale);
  return Fit{scale, std::ldexp(1.0, -exponent), std::ldexp(scale, exponent), right};
}

Rect inUser(const Rect& r, const Fit& fit) {
  return Rect{r.x * fit.unit, r.y * fit.unit, r.width * fit.unit, r.height * fit.unit};
}

void setColor(cairo_t* cr, const QuarnTokens::Color& color) {
  cairo_set_source_rgba(cr, color.red, color.green, color.blue, color.alpha);
}

// Cubic approximation of the ellipse inscribed in `r`; built from the box
// alone (no scaled arc), so a zero-width or zero-height box gives a line
// instead of a singular matrix that would wreck the context.
void addEllipse(cairo_t* cr, const Rect& r) {
  constexpr double kKappa = 0.5522847498307936;
  const double rx = r.width / 2;
  const double ry = r.height / 2;
  const double cx = r.x + rx;
  const double cy = r.y + ry;
  const double ox = rx * kKappa;
  const double oy = ry * kKappa;
  cairo_move_to(cr, cx + rx, cy);
  cairo_curve_to(cr, cx + rx, cy + oy, cx + ox, cy + ry, cx, cy + ry);
  cairo_curve_to(cr, cx - ox, cy + ry, cx - rx, cy + oy, cx - rx, cy);
  cairo_curve_to(cr, cx - rx, cy - oy, cx - ox, cy - ry, cx, cy - ry);
  cairo_curve_to(cr, cx + ox, cy - ry, cx + rx, cy - oy, cx + rx, cy);
  cairo_close_path(cr);
}

// A box narrower or shorter than two radii gets the largest radius that
// fits (half the smaller side), so it stays a convex rounded shape.
void addRoundedRect(cairo_t* cr, const Rect& r, double radius) {
  radius = std::min({radius, r.width / 2, r.height / 2});
  if (!(radius > 0)) {
    cairo_rectangle(cr, r.x, r.y, r.width, r.height);
    return;
  }
  const double right = r.x + r.width;
  const double bottom = r.y + r.height;
  constexpr double kQuarter = std::numbers::pi / 2;
  cairo_new_sub_path(cr);
  cairo_arc(cr, right - radius, r.y + radius, radius, -kQuarter, 0);
  cairo_arc(cr, right - radius, bottom - radius, radius, 0, kQuarter);
  cairo_arc(cr, r.x + radius, bottom - radius, radius, kQuarter, 2 * kQuarter);
  cairo_arc(cr, r.x + radius, r.y + radius, radius, 2 * kQuarter, 3 * kQuarter);
  cairo_close_path(cr);
}

void fillThenStroke(cairo_t* cr) {
  setColor(cr, QuarnTokens::light.background);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
  cairo_fill_preserve(cr);
  setColor(cr, QuarnTokens::light.textSecondary);
  cairo_stroke(cr);
}

void drawArrow(cairo_t* cr, const CanvasElement& element, const Fit& fit) {
  const double x = element.x * fit.unit;
  const double y = element.y * fit.unit;
  const double tx = (element.x + element.width) * fit.unit;
  const double ty = (element.y + element.height) * fit.unit;
  setColor(cr, QuarnTokens::light.textSecondary);
  cairo_move_to(cr, x, y);
  cairo_line_to(cr, tx, ty);
  cairo_stroke(cr);

  // atan2(0, 0) is 0, so a zero-length arrow still shows a head along +x.
  const double theta = std::atan2(ty - y, tx - x);
  const double length = kArrowheadLength / fit.user;
  cairo_move_to(cr, tx, ty);
  cairo_line_to(cr, tx - length * std::cos(theta - kArrowheadHalfAngle),
                ty - length * std::sin(theta - kArrowheadHalfAngle));
  cairo_line_to(cr, tx - length * std::cos(theta + kArrowheadHalfAngle),
                ty - length * std::sin(theta + kArrowheadHalfAngle));
  cairo_close_path(cr);
  cairo_set_fill_rule(cr, CAIRO_FILL_RULE_WINDING);
  cairo_fill(cr);
}

struct GObjectDeleter {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct FontDescriptionDeleter {
  void operator()(PangoFontDescription* font) const { pango_font_description_free(font); }
};
struct FontOptionsDeleter {
  void operator()(cairo_font_options_t* options) const { cairo_font_options_destroy(options); }
};

struct GFreeDeleter {
  void operator()(gchar* text) const { g_free(text); }
};

// Sets the layout's text to `size` bytes at `data`, each invalid byte
// replaced by U+FFFD.
void setValidText(PangoLayout* layout, const char* data, std::size_t size) {
  if (g_utf8_validate(data, static_cast<gssize>(size), nullptr)) {
    pango_layout_set_text(layout, data, static_cast<int>(size));
  } else {
    std::unique_ptr<gchar, GFreeDeleter> valid(g_utf8_make_valid(data, static_cast<gssize>(size)));
    pango_layout_set_text(layout, valid.get(), -1);
  }
}

// Whether pango's automatic direction makes the whole label's line right to
// left: its first strong character is. U+FFFD, which replaces invalid bytes,
// is neutral, so the valid stretches are searched in turn.
bool isRightToLeft(std::string_view text) {
  while (!text.empty()) {
    const gchar* invalid = nullptr;
    g_utf8_validate(text.data(), static_cast<gssize>(text.size()), &invalid);
    const auto valid = static_cast<std::size_t>(invalid - text.data());
    // pango's own rule for a line's direction; deprecated without a successor.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    const PangoDirection direction = pango_find_base_dir(text.data(), static_cast<gint>(valid));
    G_GNUC_END_IGNORE_DEPRECATIONS
    if (direction != PANGO_DIRECTION_NEUTRAL) return direction == PANGO_DIRECTION_RTL;
    text.remove_prefix(std::min(valid + 1, text.size()));
  }
  return false;
}

// Sets the layout's text to as much of `text` as can show in `room` canvas
// units (from the label's origin to the picture's right edge), `pixels` in
// the picture. A line's positions are 32-bit, so laid out whole a label of
// some two million units wraps round and shows again from the left; and
// megabytes of text take seconds to lay out. A label short enough is set
// whole, as is; a longer one is cut, in whole characters, to the stretch that
// lies at the line's left: the start of a left-to-right line, the end of a
// right-to-left one.
void setLabelText(PangoLayout* layout, const std::string& text, double room, double pixels) {
  double chars = kLabelMinChars;
  if (pixels > 0) chars += std::ceil(std::min(pixels, 1e7)) * kLabelCharsPerPixel;
  const auto limit = static_cast<std::size_t>(chars);
  if (text.size() <= limit) {
    setValidText(layout, text.data(), text.size());
    return;
  }
  const bool rightToLeft = isRightToLeft(text);
  // Every character takes at most 4 bytes and every invalid byte becomes one
  // character, so these bytes hold `limit` whole characters and more.
  std::string_view raw(text);
  const std::size_t bytes = std::min(raw.size(), 4 * limit + 4);
  raw = rightToLeft ? raw.substr(raw.size() - bytes) : raw.substr(0, bytes);
  const std::unique_ptr<gchar, GFreeDeleter> window(
      g_utf8_make_valid(raw.data(), static_cast<gssize>(raw.size())));
  gchar* begin = window.get();
  gchar* end = begin + std::strlen(begin);

  // Lay out twice as many characters each round, from a first guess of a
  // quarter em each, until they are wider than the room: the work follows
  // the picture, not the label.
  auto want = static_cast<std::size_t>(
      std::min(chars, std::max(kLabelMinChars, 4 * (room + kLabelOverhang) / kFontSize)));
  bool cut = true;
  for (;;) {
    gchar* from = rightToLeft ? end : begin;
    gchar* to = rightToLeft ? end : begin;
    std::size_t count = 0;
    if (rightToLeft) {
      while (from > begin && count < want) from = g_utf8_prev_char(from), ++count;
    } else {
      while (to < end && count < want) to = g_utf8_next_char(to), ++count;
    }
    pango_layout_set_text(layout, from, static_cast<int>(to - from));
    if (from == begin && to == end) {
      cut = bytes < text.size();
      break;
    }
    if (count >= limit) break;
    PangoRectangle logical;
    pango_layout_get_extents(layout, nullptr, &logical);
    if (static_cast<double>(logical.width) / PANGO_SCALE >= room + kLabelOverhang) break;
    want = std::min(limit, 2 * want);
  }
  if (cut && rightToLeft) {
    // The cut end may start with characters of another direction.
    pango_layout_set_auto_dir(layout, FALSE);
    pango_context_set_base_dir(pango_layout_get_context(layout), PANGO_DIRECTION_RTL);
    pango_layout_context_changed(layout);
  }
}

void drawLabel(cairo_t* cr, const Rect& box, const std::string& text, const Fit& fit) {
  std::unique_ptr<PangoLayout, GObjectDeleter> layout(pango_cairo_create_layout(cr));
  // Unhinted metrics and unrounded positions, so a label scales smoothly
  // with the thumbnail instead of snapping to device pixels.
  std::unique_ptr<cairo_font_options_t, FontOptionsDeleter> options(cairo_font_options_create());
  cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_NONE);
  PangoContext* context = pango_layout_get_context(layout.get());
  pango_cairo_context_set_font_options(context, options.get());
  pango_context_set_round_glyph_positions(context, FALSE);
  pango_layout_context_changed(layout.get());

  std::unique_ptr<PangoFontDescription, FontDescriptionDeleter> font(
      pango_font_description_from_string(kFontFamilies));
  pango_font_description_set_absolute_size(font.get(), kFontSize * PANGO_SCALE);
  pango_layout_set_font_description(layout.get(), font.get());
  // One line however long: no width, no wrapping, line breaks shown inline.
  pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
  const double room = fit.right - (box.x + kLabelLeft);
  setLabelText(layout.get(), text, room, room * fit.scale);

  cairo_save(cr);
  setColor(cr, QuarnTokens::light.text);
  cairo_translate(cr, box.x + kLabelLeft, box.y + kLabelBaseline);
  cairo_scale(cr, 1, -1);
  drawLine(cr, layout.get());
  cairo_restore(cr);
}

void draw(const CanvasElement& element, cairo_t* cr, const Fit& fit) {
  const Rect box = inUser(element.box(), fit);
  const std::string& type = element.type;
  cairo_new_path(cr);
  if (type == "arrow") {
    cairo_set_dash(cr, nullptr, 0, 0);
    drawArrow(cr, element, fit);
  } else if (type == "ellipse") {
    cairo_set_dash(cr, nullptr, 0, 0);
    addEllipse(cr, box);
    fillThenStroke(cr);
  } else if (type == "diamond") {
    cairo_set_dash(cr, nullptr, 0, 0);
    const double cx = box.x + box.width / 2;
    const double cy = box.y + box.height / 2;
    cairo_move_to(cr, cx, box.y);
    cairo_line_to(cr, box.x + box.width, cy);
    cairo_line_to(cr, cx, box.y + box.height);
    cairo_line_to(cr, box.x, cy);
    cairo_close_path(cr);
    fillThenStroke(cr);
  } else if (type == "text") {
    // Only the label below.
  } else if (type == "frame") {
    const double dashes[] = {kDashOn / fit.user, kDashOff / fit.user};
    cairo_set_dash(cr, dashes, 2, 0);
    setColor(cr, QuarnTokens::light.textSecondary);
    cairo_rectangle(cr, box.x, box.y, box.width, box.height);
    cairo_stroke(cr);
    cairo_set_dash(cr, nullptr, 0, 0);
  } else {
    cairo_set_dash(cr, nullptr, 0, 0);
    addRoundedRect(cr, box, type == "rounded-rectangle" ? kCornerRadius * fit.unit : 0);
    fillThenStroke(cr);
  }
  // A rebased fit puts a 14-unit font far below a pixel: the label cannot show.
  if (fit.unit == 1 && element.text && !element.text->empty())
    drawLabel(cr, box, *element.text, fit);
}

}  // namespace

Rect paddedBounds(const Rect& bounds) {
  return Rect{bounds.x - kMargin, bounds.y - kMargin, bounds.width + 2 * kMargin,
              bounds.height + 2 * kMargin};
}

bool draw(const CanvasDocument& document, CGSize size) {
  const std::optional<Rect> bounds = document.contentBounds();
  if (!bounds) return false;
  if (!(bounds->width > 0) && !(bounds->height > 0)) return false;
  GraphicsContext* current = GraphicsContext::currentContext();
  if (current == nullptr) return false;
  cairo_t* cr = current->CGContext();
  if (cr == nullptr) return false;

  const double w = size.width;
  const double h = size.height;
  setColor(cr, QuarnTokens::light.background);
  cairo_rectangle(cr, 0, 0, w, h);
  cairo_fill(cr);

  const Rect padded = paddedBounds(*bounds);
  const double sx = w / padded.width;
  const double sy = h / padded.height;
  // When a ratio is NaN the comparison fails and the width's ratio wins.
  const double scale = sy < sx ? sy : sx;
  if (!std::isfinite(scale) || !(scale > 0)) return false;
  const double left = (w - scale * padded.width) / 2;
  const Fit fit = fitFor(scale, padded.x + (w - left) / scale);

  cairo_save(cr);
  cairo_translate(cr, left, h - (h - scale * padded.height) / 2);
  cairo_scale(cr, fit.user, -fit.user);
  cairo_translate(cr, -padded.x * fit.unit, -padded.y * fit.unit);
  cairo_set_line_width(cr, kLineWidth / fit.user);
  for (const CanvasElement* element : document.drawableElements()) draw(*element, cr, fit);
  cairo_restore(cr);
  return true;
}

}  // namespace quarn::CanvasRasterizer
