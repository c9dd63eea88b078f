#include "base/Regex.h"

namespace quarn {

struct Regex::Compiled {};

std::optional<Regex> Regex::compile(std::string_view, Options) { return std::nullopt; }
std::optional<Match> Regex::firstMatch(std::string_view, Range, MatchingOptions) const {
  return std::nullopt;
}
std::optional<Match> Regex::firstMatch(std::string_view text) const {
  return firstMatch(text, Range{0, text.size()});
}
std::vector<Match> Regex::matches(std::string_view) const { return {}; }
std::string Regex::replacingMatches(std::string_view text, std::string_view) const {
  return std::string(text);
}

}  // namespace quarn
