// The one definition of white space for blank tests over UTF-8 text: the
// Unicode White_Space characters, line breaks included. Regular expressions'
// \s is not used for this because PCRE2 also counts U+180E, which Unicode no
// longer treats as white space. Stateless; never fails.
#ifndef QUARN_BASE_WHITESPACE_H_
#define QUARN_BASE_WHITESPACE_H_

#include <cstddef>
#include <string_view>

namespace quarn {

// True for U+0009 to U+000D, U+0020, U+0085, U+00A0, U+1680, U+2000 to
// U+200A, U+2028, U+2029, U+202F, U+205F and U+3000.
bool isWhiteSpace(char32_t c);

// True for a tab and the Unicode space separators (U+0020, U+00A0, U+1680,
// U+2000 to U+200A, U+202F, U+205F, U+3000): the white space within a line.
bool isHorizontalSpace(char32_t c);

// The number of bytes of white space at the start of `text`. An ill-formed
// UTF-8 sequence is not white space and ends the run.
std::size_t whiteSpacePrefixLength(std::string_view text);

// True when `text` is empty or holds nothing but white space.
bool isBlank(std::string_view text);

// `text` without the horizontal space at its start and end; a view into it.
// An ill-formed UTF-8 sequence is kept, and stops the trimming at its side.
std::string_view trimmedOfHorizontalSpace(std::string_view text);

}  // namespace quarn

#endif  // QUARN_BASE_WHITESPACE_H_
