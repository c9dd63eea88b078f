// Regular expressions with the matching rules the fixed patterns of the preview
// and the YAML resolver rely on (case-sensitive; with anchorsMatchLines, ^ and $
// see LF, CR LF, CR, VT, FF, NEL, LS and PS as line ends; \s is Unicode white
// space). Positions are byte offsets into UTF-8 text. A compiled Regex is
// immutable and may be shared between threads.
#ifndef QUARN_BASE_REGEX_H_
#define QUARN_BASE_REGEX_H_

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

class Regex {
 public:
  enum class Options { none = 0, anchorsMatchLines = 16 };
  enum class MatchingOptions { none = 0, anchored = 4 };

  // Compiles a pattern; nothing when it does not compile.
  static std::optional<Regex> compile(std::string_view pattern, Options options = Options::none);

  // The leftmost match inside `range` of `text`, or nothing. With `anchored`
  // the match must start at range.location. Lookbehind and ^ see the text
  // before the range; $ sees the end of the range.
  std::optional<Match> firstMatch(std::string_view text, Range range,
                                  MatchingOptions options = MatchingOptions::none) const;
  std::optional<Match> firstMatch(std::string_view text) const;

  // Every non-overlapping match of the whole text, from the front.
  std::vector<Match> matches(std::string_view text) const;

  // `text` with every match replaced by `replacement` (taken literally).
  std::string replacingMatches(std::string_view text, std::string_view replacement) const;

 private:
  struct Compiled;
  explicit Regex(std::shared_ptr<const Compiled> compiled) : compiled_(std::move(compiled)) {}
  std::shared_ptr<const Compiled> compiled_;
};

}  // namespace quarn

#endif  // QUARN_BASE_REGEX_H_
