#include "yaml/ParserInput.h"

#include <cstdio>
#include <vector>

#include <yaml.h>

#include "base/Text.h"
#include "base/Utf8.h"

namespace quarn::yaml {
std::optional<std::string> joinSurrogatePairs(std::string_view text) {
  constexpr std::size_t kPair = 12;  // \uD83D\uDE00
  struct Found {
    std::size_t at;         // byte offset in `text`
    std::size_t character;  // character index of the rewrite, as the scanner counts
    char32_t code;
    bool keep;
  };
  std::vector<Found> found;
  std::size_t characters = 0;  // in the rewritten text, up to `i`
  std::size_t counted = 0;     // bytes of `text` counted so far
  for (std::size_t i = text.find('\\'); i != std::string_view::npos && i + 1 < text.size();
       i = text.find('\\', i)) {
    if (text[i + 1] == '\\') {
      i += 2;  // an escaped backslash: the next one starts nothing
      continue;
    }
    const long high = text[i + 1] == 'u' ? text::fourHexDigitValue(text.substr(i + 2)) : -1;
    const long low = high >= 0xD800 && high <= 0xDBFF && i + kPair <= text.size() &&
                             text[i + 6] == '\\' && text[i + 7] == 'u'
                         ? text::fourHexDigitValue(text.substr(i + 8))
                         : -1;
    if (low < 0xDC00 || low > 0xDFFF) {
      ++i;
      continue;
    }
    characters += utf8::characterCount(text.substr(counted, i - counted));
    const char32_t code = 0x10000 + ((char32_t(high) - 0xD800) << 10) + (char32_t(low) - 0xDC00);
    found.push_back({i, characters, code, false});
    characters += 10;  // the length of the rewrite
    counted = i + kPair;
    i += kPair;
  }
  if (found.empty()) return std::nullopt;

  auto rewrite = [&](bool all) {
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    for (const Found& pair : found) {
      if (!all && !pair.keep) continue;
      char escape[11];
      std::snprintf(escape, sizeof escape, "\\U%08X", static_cast<unsigned>(pair.code));
      out.append(text, from, pair.at - from);
      out += escape;
      from = pair.at + kPair;
    }
    out.append(text, from);
    return out;
  };
  // Which rewrites landed in double-quoted scalars is the scanner's to say:
  // its tokens over the text with every pair rewritten mark them, and the
  // letters of any other token stay as they are whatever they read.
  const std::string candidate = rewrite(true);
  yaml_parser_t scanner;
  if (!yaml_parser_initialize(&scanner)) return std::nullopt;
  yaml_parser_set_encoding(&scanner, YAML_UTF8_ENCODING);
  yaml_parser_set_input_string(&scanner, reinterpret_cast<const unsigned char*>(candidate.data()),
                               candidate.size());
  bool anyKept = false;
  std::size_t next = 0;
  while (next < found.size()) {
    yaml_token_t token;
    if (!yaml_parser_scan(&scanner, &token)) break;
    const bool end = token.type == YAML_STREAM_END_TOKEN || token.type == YAML_NO_TOKEN;
    const bool quoted = token.type == YAML_SCALAR_TOKEN &&
                        token.data.scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE;
    const std::size_t start = token.start_mark.index, stop = token.end_mark.index;
    yaml_token_delete(&token);
    if (end) break;
    // Rewrites before this token fell outside every double-quoted scalar.
    while (next < found.size() && found[next].character < start) ++next;
    for (; quoted && next < found.size() && found[next].character < stop; ++next) {
      found[next].keep = anyKept = true;
    }
  }
  yaml_parser_delete(&scanner);
  if (!anyKept) return std::nullopt;
  return rewrite(false);
}

std::string utf16le(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  auto put = [&out](unsigned unit) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  };
  std::size_t i = 0;
  while (i < text.size()) {
    const int length = utf8::sequenceLength(text.substr(i));
    if (length < 0) {
      put(0xFFFD);
      ++i;
      continue;
    }
    char32_t code = utf8::codePoint(text.substr(i), length);
    if (code >= 0x10000) {
      code -= 0x10000;
      put(0xD800 + (code >> 10));
      put(0xDC00 + (code & 0x3FF));
    } else {
      put(code);
    }
    i += static_cast<std::size_t>(length);
  }
  return out;
}

}  // namespace quarn::yaml
