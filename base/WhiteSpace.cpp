#include "base/WhiteSpace.h"

#include "base/Utf8.h"

namespace quarn {

bool isWhiteSpace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

bool isHorizontalSpace(char32_t c) {
  return c == 0x09 || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

namespace {

// The bytes of the run of well-formed `accepted` characters that starts `text`.
template <bool (*accepted)(char32_t)>
std::size_t prefixLength(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const int length = utf8::sequenceLength(text.substr(at));
    if (length < 0) break;
    if (!accepted(utf8::codePoint(text.substr(at), length))) break;
    at += static_cast<std::size_t>(length);
  }
  return at;
}

// The same run at the end of `text`.
template <bool (*accepted)(char32_t)>
std::size_t suffixLength(std::string_view text) {
  std::size_t at = text.size();
  while (at > 0) {
    // Back over at most three continuation bytes to the last character's start.
    std::size_t start = at - 1;
    while (start > 0 && at - start < 4 &&
           (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
      --start;
    }
    const std::string_view last = text.substr(start, at - start);
    const int length = utf8::sequenceLength(last);
    if (length != static_cast<int>(last.size()) || !accepted(utf8::codePoint(last, length))) break;
    at = start;
  }
  return text.size() - at;
}

}  // namespace

std::size_t whiteSpacePrefixLength(std::string_view text) {
  return prefixLength<isWhiteSpace>(text);
}

bool isBlank(std::string_view text) { return whiteSpacePrefixLength(text) == text.size(); }

std::string_view trimmedOfHorizontalSpace(std::string_view text) {
  text.remove_prefix(prefixLength<isHorizontalSpace>(text));
  text.remove_suffix(suffixLength<isHorizontalSpace>(text));
  return text;
}

}  // namespace quarn
