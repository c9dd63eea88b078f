// The preparation of a text for the event parser: surrogate escapes joined
// and the bytes re-encoded for a UTF-16 parse. Stateless; never fails.
#ifndef QUARN_YAML_PARSERINPUT_H_
#define QUARN_YAML_PARSERINPUT_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quarn::yaml {

// JSON writers escape characters beyond the Basic Multilingual Plane as a
// pair of UTF-16 surrogate escapes ("\ud83d\ude00"), which the event parser
// refuses. Each such high+low pair inside a double-quoted scalar becomes the
// one escape of its character ("\U0001F600"); a lone surrogate, and the same
// letters in any other place (plain, single-quoted and block scalars,
// comments), stay as they were, so a text that parses already is unchanged.
// Nothing when there is no pair to join.
std::optional<std::string> joinSurrogatePairs(std::string_view text);

// UTF-16LE bytes of UTF-8 text, without a byte-order mark; a malformed
// sequence becomes U+FFFD.
std::string utf16le(std::string_view text);

}  // namespace quarn::yaml

#endif  // QUARN_YAML_PARSERINPUT_H_
