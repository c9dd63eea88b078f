#include "base/WhiteSpace.h"

#include "base/Utf8.h"

namespace quarn {

bool isWhiteSpace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

std::size_t whiteSpacePrefixLength(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const int length = utf8::sequenceLength(text.substr(at));
    if (length < 0) break;
    if (!isWhiteSpace(utf8::codePoint(text.substr(at), length))) break;
    at += static_cast<std::size_t>(length);
  }
  return at;
}

bool isBlank(std::string_view text) { return whiteSpacePrefixLength(text) == text.size(); }

}  // namespace quarn
