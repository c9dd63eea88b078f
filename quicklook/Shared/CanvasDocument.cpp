#include "quicklook/Shared/CanvasDocument.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include <simdjson.h>

#include "base/Text.h"
#include "quicklook/Shared/JsonRepair.h"

namespace quarn {
namespace {

namespace dom = simdjson::dom;

bool isNumber(dom::element_type type) {
  return type == dom::element_type::INT64 || type == dom::element_type::UINT64 ||
         type == dom::element_type::DOUBLE;
}

std::optional<std::string> requiredString(const std::optional<dom::element>& value) {
  std::string_view text;
  if (!value || value->get_string().get(text)) return std::nullopt;
  return std::string(text);
}

std::optional<double> requiredNumber(const std::optional<dom::element>& value) {
  if (!value || !isNumber(value->type())) return std::nullopt;
  double number = 0;
  if (value->get_double().get(number)) return std::nullopt;
  return number;
}

// One entry of "elements"; nothing when any rule fails. A key given twice
// counts with its last value, as the JavaScript that writes these files reads
// them back; one pass over the fields also keeps a huge element linear.
std::optional<CanvasElement> decodeElement(dom::element entry) {
  dom::object object;
  if (entry.get_object().get(object)) return std::nullopt;
  std::optional<dom::element> id, type, x, y, width, height, text;
  for (dom::key_value_pair field : object) {
    const std::string_view key = field.key;
    if (key == "id") {
      id = field.value;
    } else if (key == "type") {
      type = field.value;
    } else if (key == "x") {
      x = field.value;
    } else if (key == "y") {
      y = field.value;
    } else if (key == "width") {
      width = field.value;
    } else if (key == "height") {
      height = field.value;
    } else if (key == "text") {
      text = field.value;
    }
  }

  CanvasElement element;
  auto idText = requiredString(id);
  auto typeText = requiredString(type);
  auto xValue = requiredNumber(x);
  auto yValue = requiredNumber(y);
  auto widthValue = requiredNumber(width);
  auto heightValue = requiredNumber(height);
  if (!idText || !typeText || !xValue || !yValue || !widthValue || !heightValue) {
    return std::nullopt;
  }
  if (text && !text->is_null()) {
    std::string_view textValue;
    if (text->get_string().get(textValue)) return std::nullopt;
    element.text = std::string(textValue);
  }
  element.id = std::move(*idText);
  element.type = std::move(*typeText);
  element.x = *xValue;
  element.y = *yValue;
  element.width = *widthValue;
  element.height = *heightValue;
  return element;
}

Expected<CanvasDocument, CanvasDecodeError> decodeParsed(dom::element root) {
  dom::object top;
  if (root.get_object().get(top)) {
    return Unexpected<CanvasDecodeError>(CanvasDecodeError{});
  }
  std::optional<dom::element> elements;
  for (dom::key_value_pair field : top) {
    if (field.key == "elements") elements = field.value;
  }
  CanvasDocument document;
  if (!elements || elements->is_null()) return document;
  dom::array entries;
  if (elements->get_array().get(entries)) {
    return Unexpected<CanvasDecodeError>(CanvasDecodeError{});
  }
  document.elements.reserve(entries.size());
  for (dom::element entry : entries) {
    if (auto element = decodeElement(entry)) document.elements.push_back(std::move(*element));
  }
  document.elements.shrink_to_fit();
  return document;
}

bool isRepairable(simdjson::error_code error) {
  return error == simdjson::NUMBER_ERROR || error == simdjson::UTF8_ERROR ||
         error == simdjson::STRING_ERROR;
}

}  // namespace

Rect CanvasElement::box() const {
  Rect r{x, y, width, height};
  if (width < 0) r = Rect{x + width, r.y, -width, r.height};
  if (height < 0) r = Rect{r.x, y + height, r.width, -height};
  return r;
}

const std::set<std::string, std::less<>>& CanvasDocument::fileExtensions() {
  static const std::set<std::string, std::less<>> extensions{"kcv", "qcv"};
  return extensions;
}

bool CanvasDocument::isCanvasFile(const std::filesystem::path& file) {
  return fileExtensions().contains(text::fileExtension(file));
}

Expected<CanvasDocument, CanvasDecodeError> CanvasDocument::decode(std::string_view bytes,
                                                                   std::size_t spare) {
  // A parser per call: nothing is kept between requests, and calls may overlap.
  dom::parser parser;
  dom::element root;
  simdjson::error_code error =
      parser.parse(bytes.data(), bytes.size(), spare < simdjson::SIMDJSON_PADDING).get(root);
  if (error && isRepairable(error)) {
    const std::string repaired = JsonRepair::repairForRetry(bytes);
    error = parser.parse(repaired).get(root);
    if (!error) return decodeParsed(root);
  }
  if (error) return Unexpected<CanvasDecodeError>(CanvasDecodeError{});
  return decodeParsed(root);
}

std::vector<const CanvasElement*> CanvasDocument::drawableElements() const {
  std::vector<const CanvasElement*> drawable;
  drawable.reserve(elements.size());
  for (const auto& element : elements) {
    if (element.type != "group") drawable.push_back(&element);
  }
  return drawable;
}

std::optional<Rect> CanvasDocument::contentBounds() const {
  std::optional<Rect> bounds;
  double right = 0;
  double bottom = 0;
  for (const CanvasElement* element : drawableElements()) {
    const Rect box = element->box();
    if (!bounds) {
      bounds = box;
      right = box.x + box.width;
      bottom = box.y + box.height;
      continue;
    }
    bounds->x = std::min(bounds->x, box.x);
    bounds->y = std::min(bounds->y, box.y);
    right = std::max(right, box.x + box.width);
    bottom = std::max(bottom, box.y + box.height);
  }
  if (bounds) {
    bounds->width = right - bounds->x;
    bounds->height = bottom - bounds->y;
  }
  return bounds;
}

}  // namespace quarn
