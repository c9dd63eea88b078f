#include "quicklook/Shared/JsonRepair.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

#include "base/Text.h"
#include "base/Utf8.h"

namespace quarn::JsonRepair {
namespace {

// Room for the JSON parser to read past the end without copying the text again.
constexpr std::size_t kPadding = 64;

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

bool isDigit(char c) { return c >= '0' && c <= '9'; }

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
      const int unit =
          text.substr(i + 1).starts_with('u') ? text::fourHexDigitValue(text.substr(i + 2)) : -1;
      if (unit < 0) {
        out += text.substr(i, 2);
        i += 2;
        continue;
      }
      const bool highSurrogate = unit >= 0xD800 && unit <= 0xDBFF;
      const bool lowSurrogate = unit >= 0xDC00 && unit <= 0xDFFF;
      if (highSurrogate && text.substr(i + 6).starts_with("\\u")) {
        const int next = text::fourHexDigitValue(text.substr(i + 8));
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

}  // namespace

std::string repairForRetry(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16 + kPadding);
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

}  // namespace quarn::JsonRepair
