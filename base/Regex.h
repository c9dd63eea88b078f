// Regular expressions with the matching rules the fixed patterns of the preview
// and the YAML resolver rely on (case-sensitive; with anchorsMatchLines, ^ and $
// see LF, CR LF, CR, VT, FF, NEL, LS and PS as line ends; \s is Unicode white
// space plus U+180E, so blank tests use base/WhiteSpace.h instead). Positions
// are byte offsets into UTF-8 text. A compiled Regex is immutable and may be
// shared between threads.
//
// The backtracking work of a search is bounded in proportion to the length of
// the text searched, so a hostile text cannot make a pattern backtrack without
// end; a search that exceeds its bound reports no (further) match. The engine
// applies the bound to each start position on its own, so a pattern that scans
// the rest of the line from every start stays quadratic: such callers need a
// scanner of their own. Text that is not valid UTF-8 never matches.
#ifndef QUARN_BASE_REGEX_H_
#define QUARN_BASE_REGEX_H_

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Expected.h"

namespace quarn {

// A span of a searched text: start and length in bytes.
struct Range {
  std::size_t location = 0;
  std::size_t length = 0;
  std::size_t end() const { return location + length; }
  bool operator==(const Range&) const = default;
};

// One match: groups[0] is the whole match, groups[i] capture group i; a group
// that took no part in the match has no range.
struct Match {
  std::vector<std::optional<Range>> groups;
  const Range& range() const { return *groups[0]; }
};

// Why a pattern did not compile.
struct RegexError {
  std::string reason;      // the engine's words, e.g. "missing closing parenthesis"
  std::size_t offset = 0;  // the byte of the pattern where the engine stopped

  // "REASON at byte OFFSET of the pattern".
  std::string description() const;
};

class Regex {
 public:
  enum class Options { none = 0, anchorsMatchLines = 16 };
  enum class MatchingOptions { none = 0, anchored = 4 };

  // Compiles a pattern (PCRE2 syntax, which agrees with ICU's for the patterns
  // used here); the engine's reason when it does not compile.
  static Expected<Regex, RegexError> compile(std::string_view pattern,
                                             Options options = Options::none);

  // Compiles one of the program's own fixed patterns, which compile by
  // construction. Should one ever fail (an edit, or a PCRE2 built without
  // Unicode support), a debug build stops here naming the pattern and the
  // reason; a release build returns the error, and the caller falls back to
  // passing its text through.
  static Expected<Regex, RegexError> compileConstant(std::string_view pattern,
                                                     Options options = Options::none);

  // The leftmost match inside `range` of `text`, or nothing. With `anchored`
  // the match must start at range.location. The range is searched as if it
  // were the whole text: ^ and $ match at its ends, lookbehind sees nothing
  // before it. Ranges in the result are offsets into `text`. A range outside
  // `text`, or one that cuts a character, gives nothing.
  std::optional<Match> firstMatch(std::string_view text, Range range,
                                  MatchingOptions options = MatchingOptions::none) const;
  std::optional<Match> firstMatch(std::string_view text) const;

  // Every non-overlapping match of the whole text, from the front; after an
  // empty match the search moves on by one character. Stops early (keeping
  // what was found) if a search exceeds its work bound.
  std::vector<Match> matches(std::string_view text) const;

  // `text` with every match of matches(text) replaced by `replacement` (taken
  // literally, no group references).
  std::string replacingMatches(std::string_view text, std::string_view replacement) const;

 private:
  struct Compiled;
  explicit Regex(std::shared_ptr<const Compiled> compiled) : compiled_(std::move(compiled)) {}
  std::shared_ptr<const Compiled> compiled_;
};

}  // namespace quarn

#endif  // QUARN_BASE_REGEX_H_
