// UTF-8 well-formedness, shared by everything that takes text from a file or a
// library: one definition of what a valid sequence is (no overlong forms, no
// surrogates, nothing above U+10FFFF), and the counts over long texts, which
// look at eight bytes at a time.
#ifndef QUARN_BASE_UTF8_H_
#define QUARN_BASE_UTF8_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace quarn::utf8 {

// The length of the well-formed character at the start of `text` (which must
// not be empty), or the negated length of its maximal ill-formed prefix (at
// least 1), which stands for one replacement character.
int sequenceLength(std::string_view text);

// The code point of the well-formed character at the start of `text`, whose
// positive `sequenceLength` is `length` (1 to 4).
char32_t codePoint(std::string_view text, int length);

bool isValid(std::string_view text);

// The number of bytes before the first that is not ASCII (0x80 and above).
std::size_t asciiPrefixLength(std::string_view text);

// The number of characters of UTF-8 `text`: its bytes that are not
// continuation bytes (10xxxxxx). Each stray continuation byte of ill-formed
// text counts for nothing.
std::size_t characterCount(std::string_view text);

// `text` with every maximal ill-formed subpart replaced by U+FFFD.
std::string withReplacements(std::string_view text);

// `text` with every byte that belongs to no well-formed sequence replaced by
// U+FFFD, one per byte: how a name in another encoding (a file name in
// ISO 8859-1) is shown, keeping one character per unreadable byte.
std::string withByteReplacements(std::string_view text);

}  // namespace quarn::utf8

#endif  // QUARN_BASE_UTF8_H_
