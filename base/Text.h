// The small text rules every layer shares, each written once: ASCII letter
// case, hexadecimal digits, percent-decoding and a file name's extension.
// Stateless; never fails.
#ifndef QUARN_BASE_TEXT_H_
#define QUARN_BASE_TEXT_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quarn::text {

// `text` with A to Z lower-cased and every other byte kept: the rule for
// extensions, schemes and keywords, which never depend on the locale.
std::string asciiLowercased(std::string_view text);

// True when `text` starts with `prefix`, A to Z matching a to z either way.
bool startsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);

// The value of a hexadecimal digit (0-9, a-f, A-F), or -1 for any other byte.
int hexDigitValue(char c);

// The value of the four hexadecimal digits at the start of `text` (those of
// a Unicode escape), or -1 when it does not start with four.
int fourHexDigitValue(std::string_view text);

// `text` with each "%" and two hexadecimal digits turned into that byte.
// Nothing when a "%" is not followed by two hexadecimal digits. The bytes are
// not checked: the result may hold NUL or text that is not UTF-8.
std::optional<std::string> percentDecoded(std::string_view text);

// The text after the last dot of the file name, lower-cased; "" without a
// dot. So ".kcv" and "a.b.KCV" have the extension "kcv", "a.kcv." has "".
std::string fileExtension(const std::filesystem::path& file);

}  // namespace quarn::text

#endif  // QUARN_BASE_TEXT_H_
