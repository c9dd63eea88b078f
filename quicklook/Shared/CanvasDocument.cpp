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

#include "base/Utf8.h"

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
    return Unexpected<CanvasDecodeError>(CanvasDecodeError{"the top-level value is not an object"});
  }
  std::optional<dom::element> elements;
  for (dom::key_value_pair field : top) {
    if (field.key == "elements") elements = field.value;
  }
  CanvasDocument document;
  if (!elements || elements->is_null()) return document;
  dom::array entries;
  if (elements->get_array().get(entries)) {
    return Unexpected<CanvasDecodeError>(
        CanvasDecodeError{"\"elements\" is neither an array nor null"});
  }
  document.elements.reserve(entries.size());
  for (dom::element entry : entries) {
    if (auto element = decodeElement(entry)) document.elements.push_back(std::move(*element));
  }
  document.elements.shrink_to_fit();
  return document;
}

// --- Second chance for files the JSON parser refuses over a single value ---
//
// The parser rejects a whole file for one number it cannot hold or one string
// that is not clean UTF-8. Both are local damage, so the file is rewritten
// once and parsed again: an out-of-range number becomes {} (wrong for every
// slot, so its element alone is dropped), an integer beyond 64 bits gets a
// ".0" so it is read as the double it denotes, invalid UTF-8 and lone
// surrogate escapes become U+FFFD. Anything else stays as written, so
// malformed JSON still fails.

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The length of a JSON number at the start of `text`, or 0 when the grammar
// does not match.
size_t jsonNumberLength(std::string_view text) {
  size_t i = 0;
  const size_t n = text.size();
  if (i < n && text[i] == '-') ++i;
  if (i >= n || !isDigit(text[i])) return 0;
  if (text[i] == '0') {
    ++i;
  } else {
    while (i < n && isDigit(text[i])) ++i;
  }
  if (i < n && text[i] == '.') {
    ++i;
    if (i >= n || !isDigit(text[i])) return 0;
    while (i < n && isDigit(text[i])) ++i;
  }
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    if (i >= n || !isDigit(text[i])) return 0;
    while (i < n && isDigit(text[i])) ++i;
  }
  return i;
}

// True when a number that does not fit a double is too large (not too small).
bool overflows(std::string_view number) {
  size_t i = number.front() == '-' ? 1 : 0;
  int64_t magnitude = -1;  // decimal exponent of the leading significant digit
  int64_t integerDigits = 0;
  bool seenSignificant = false;
  for (; i < number.size() && isDigit(number[i]); ++i) {
    if (number[i] != '0') seenSignificant = true;
    if (seenSignificant) ++integerDigits;
  }
  if (seenSignificant) {
    magnitude = integerDigits - 1;
  } else if (i < number.size() && number[i] == '.') {
    for (++i; i < number.size() && number[i] == '0'; ++i) --magnitude;
  }
  while (i < number.size() && number[i] != 'e' && number[i] != 'E') ++i;
  int64_t exponent = 0;
  if (i < number.size()) {
    ++i;
    const bool negative = number[i] == '-';
    if (number[i] == '+' || number[i] == '-') ++i;
    for (; i < number.size(); ++i) {
      exponent = std::min<int64_t>(exponent * 10 + (number[i] - '0'), 1'000'000'000);
    }
    if (negative) exponent = -exponent;
  }
  return magnitude + exponent > 0;
}

void repairNumber(std::string_view number, int depth, std::string& out) {
  const bool integer = number.find_first_of(".eE") == std::string_view::npos;
  double value = 0;
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (ec == std::errc::result_out_of_range && overflows(number)) {
    // A top-level number fails anyway; {} there would turn it into a canvas.
    out += depth > 0 ? std::string_view("{}") : number;
    return;
  }
  out += number;
  if (integer && ec == std::errc()) {
    int64_t signedValue = 0;
    uint64_t unsignedValue = 0;
    const char* last = number.data() + number.size();
    const bool fits = std::from_chars(number.data(), last, signedValue).ec == std::errc() ||
                      std::from_chars(number.data(), last, unsignedValue).ec == std::errc();
    if (!fits) out += ".0";
  }
}

unsigned hexValue(std::string_view four) {
  unsigned value = 0;
  std::from_chars(four.data(), four.data() + 4, value, 16);
  return value;
}

// Copies the string that starts at text[i] (its opening quote) and returns
// the index after its closing quote (or the end of the text).
size_t repairString(std::string_view text, size_t i, std::string& out) {
  out += text[i++];
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"') {
      out += c;
      return i + 1;
    }
    if (c == '\\') {
      const bool unicode = i + 5 < text.size() && text[i + 1] == 'u' &&
                           std::all_of(text.begin() + i + 2, text.begin() + i + 6, isHex);
      if (!unicode) {
        out += text.substr(i, 2);
        i += 2;
        continue;
      }
      const unsigned unit = hexValue(text.substr(i + 2, 4));
      const bool highSurrogate = unit >= 0xD800 && unit <= 0xDBFF;
      const bool lowSurrogate = unit >= 0xDC00 && unit <= 0xDFFF;
      if (highSurrogate && i + 11 < text.size() && text[i + 6] == '\\' && text[i + 7] == 'u' &&
          std::all_of(text.begin() + i + 8, text.begin() + i + 12, isHex)) {
        const unsigned next = hexValue(text.substr(i + 8, 4));
        if (next >= 0xDC00 && next <= 0xDFFF) {
          out += text.substr(i, 12);
          i += 12;
          continue;
        }
      }
      out += (highSurrogate || lowSurrogate) ? std::string_view("\\uFFFD") : text.substr(i, 6);
      i += 6;
      continue;
    }
    const int length = utf8::sequenceLength(text.substr(i));
    if (length > 0) {
      out += text.substr(i, static_cast<size_t>(length));
      i += static_cast<size_t>(length);
    } else {
      out += kReplacementCharacter;
      i += static_cast<size_t>(-length);
    }
  }
  return i;
}

std::string repairForRetry(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16 + simdjson::SIMDJSON_PADDING);
  int depth = 0;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"') {
      i = repairString(text, i, out);
      continue;
    }
    if (c == '-' || isDigit(c)) {
      const size_t length = jsonNumberLength(text.substr(i));
      if (length > 0) {
        repairNumber(text.substr(i, length), depth, out);
        i += length;
        continue;
      }
    }
    if (c == '{' || c == '[') ++depth;
    if (c == '}' || c == ']') --depth;
    out += c;
    ++i;
  }
  return out;
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

Expected<CanvasDocument, CanvasDecodeError> CanvasDocument::decode(std::string_view bytes) {
  // A parser per call: nothing is kept between requests, and calls may overlap.
  dom::parser parser;
  dom::element root;
  simdjson::error_code error = parser.parse(bytes.data(), bytes.size()).get(root);
  if (error && isRepairable(error)) {
    const std::string repaired = repairForRetry(bytes);
    error = parser.parse(repaired).get(root);
    if (!error) return decodeParsed(root);
  }
  if (error)
    return Unexpected<CanvasDecodeError>(CanvasDecodeError{simdjson::error_message(error)});
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
