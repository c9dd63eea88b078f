#include "base/Regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <utility>

#include <pcre2.h>

#include "base/Utf8.h"

namespace quarn {
namespace {

// Backtracking work allowed per search: a fixed floor plus an amount per byte
// searched, so a pattern that backtracks exponentially on a hostile text gives
// up after linear work while ordinary notes stay far below the bound. PCRE2
// restarts the count at every start position, so this does not bound a scan
// that is linear per start and quadratic in all (see MarkdownRenderer).
constexpr std::uint64_t kMatchLimitFloor = 100'000;
constexpr std::uint64_t kMatchLimitPerByte = 10;
constexpr std::uint64_t kDepthLimitFloor = 10'000;
constexpr std::uint64_t kDepthLimitPerByte = 2;

std::uint32_t boundFor(std::size_t length, std::uint64_t floor, std::uint64_t perByte) {
  const std::uint64_t bound = floor + perByte * static_cast<std::uint64_t>(length);
  return bound > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(bound);
}

// Length in bytes of the UTF-8 character that starts at `position`.
std::size_t characterLength(std::string_view text, std::size_t position) {
  std::size_t length = 1;
  while (position + length < text.size() &&
         (static_cast<unsigned char>(text[position + length]) & 0xC0) == 0x80) {
    ++length;
  }
  return length;
}

struct CodeDeleter {
  void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct CompileContextDeleter {
  void operator()(pcre2_compile_context* context) const { pcre2_compile_context_free(context); }
};
struct MatchContextDeleter {
  void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};

}  // namespace

// Texts shorter than this are matched by the interpreter: compiling a pattern
// to machine code costs more than matching a small note with it, and a
// preview process often matches each pattern once.
constexpr std::size_t kJitThreshold = 64 * 1024;

struct Regex::Compiled {
  std::unique_ptr<pcre2_code, CodeDeleter> code;  // never changed after compile
  // A machine-code copy made on the first long search. It is a separate copy
  // so that threads matching short texts never see the original change.
  mutable std::once_flag jitOnce;
  mutable std::unique_ptr<pcre2_code, CodeDeleter> jitted;

  // The code to search `length` bytes with, and whether it is machine code.
  std::pair<const pcre2_code*, bool> codeFor(std::size_t length) const {
    if (length < kJitThreshold) return {code.get(), false};
    std::call_once(jitOnce, [this] {
      std::unique_ptr<pcre2_code, CodeDeleter> copy(pcre2_code_copy(code.get()));
      if (copy && pcre2_jit_compile(copy.get(), PCRE2_JIT_COMPLETE) == 0) jitted = std::move(copy);
    });
    return jitted ? std::pair<const pcre2_code*, bool>{jitted.get(), true}
                  : std::pair<const pcre2_code*, bool>{code.get(), false};
  }
};

namespace {

// One search state: match data and a context whose limits fit `subject`.
// Owned by one call, so a shared Regex needs no lock.
class Searcher {
 public:
  Searcher(const pcre2_code* code, bool jit, std::string_view subject)
      : code_(code),
        jit_(jit),
        subject_(subject),
        data_(pcre2_match_data_create_from_pattern(code, nullptr)),
        context_(pcre2_match_context_create(nullptr)) {
    if (context_) {
      pcre2_set_match_limit(context_.get(),
                            boundFor(subject.size(), kMatchLimitFloor, kMatchLimitPerByte));
      pcre2_set_depth_limit(context_.get(),
                            boundFor(subject.size(), kDepthLimitFloor, kDepthLimitPerByte));
    }
  }

  bool usable() const { return data_ && context_; }

  // The match at or after `start`, with positions shifted by `shift`; nothing
  // for no match and for every error (work bound, stack, bad offset).
  std::optional<Match> search(std::size_t start, std::uint32_t options, std::size_t shift) {
    // The subject was validated once by the caller; checking it again on every
    // search would make a scan for all matches quadratic.
    options |= PCRE2_NO_UTF_CHECK;
    const auto* subject = reinterpret_cast<PCRE2_SPTR>(subject_.data());
    int rc =
        pcre2_match(code_, subject, subject_.size(), start, options, data_.get(), context_.get());
    if (rc == PCRE2_ERROR_JIT_STACKLIMIT && jit_) {
      // The JIT's small machine stack ran out; the interpreter keeps its
      // frames on the heap under the same limits.
      rc = pcre2_match(code_, subject, subject_.size(), start, options | PCRE2_NO_JIT, data_.get(),
                       context_.get());
    }
    if (rc <= 0) return std::nullopt;
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data_.get());
    std::uint32_t groupCount = 0;
    pcre2_pattern_info(code_, PCRE2_INFO_CAPTURECOUNT, &groupCount);
    Match match;
    match.groups.resize(groupCount + 1);
    const auto pairs = static_cast<std::uint32_t>(rc);
    for (std::uint32_t i = 0; i < pairs && i <= groupCount; ++i) {
      const PCRE2_SIZE from = ovector[2 * i];
      const PCRE2_SIZE to = ovector[2 * i + 1];
      if (from == PCRE2_UNSET || to < from) continue;  // \K can put the end first
      match.groups[i] = Range{from + shift, to - from};
    }
    if (!match.groups[0]) return std::nullopt;
    return match;
  }

 private:
  const pcre2_code* code_;
  bool jit_;
  std::string_view subject_;
  std::unique_ptr<pcre2_match_data, MatchDataDeleter> data_;
  std::unique_ptr<pcre2_match_context, MatchContextDeleter> context_;
};

}  // namespace

std::string RegexError::description() const {
  return reason + " at byte " + std::to_string(offset) + " of the pattern";
}

Expected<Regex, RegexError> Regex::compile(std::string_view pattern, Options options) {
  std::unique_ptr<pcre2_compile_context, CompileContextDeleter> context(
      pcre2_compile_context_create(nullptr));
  if (!context) return Unexpected(RegexError{"out of memory", 0});
  // ICU's line ends: LF, CR LF, CR, VT, FF, NEL, LS, PS.
  pcre2_set_newline(context.get(), PCRE2_NEWLINE_ANY);
  std::uint32_t flags = PCRE2_UTF | PCRE2_UCP;
  if (options == Options::anchorsMatchLines) flags |= PCRE2_MULTILINE;
  int error = 0;
  PCRE2_SIZE offset = 0;
  auto compiled = std::make_shared<Compiled>();
  compiled->code.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                     flags, &error, &offset, context.get()));
  if (!compiled->code) {
    PCRE2_UCHAR message[256] = {};
    // A message too long for the buffer comes back cut, which still says why.
    const int length = pcre2_get_error_message(error, message, sizeof message);
    if (length < 0 && length != PCRE2_ERROR_NOMEMORY) {
      return Unexpected(RegexError{"PCRE2 error " + std::to_string(error), offset});
    }
    return Unexpected(RegexError{reinterpret_cast<const char*>(message), offset});
  }
  return Regex(std::move(compiled));
}

Expected<Regex, RegexError> Regex::compileConstant(std::string_view pattern, Options options) {
  auto regex = compile(pattern, options);
#ifndef NDEBUG
  if (!regex) {
    std::fprintf(stderr, "quarn: the fixed pattern %.*s does not compile: %s\n",
                 static_cast<int>(pattern.size()), pattern.data(),
                 regex.error().description().c_str());
    std::abort();
  }
#endif
  return regex;
}

std::optional<Match> Regex::firstMatch(std::string_view text, Range range,
                                       MatchingOptions options) const {
  if (range.location > text.size() || range.length > text.size() - range.location) {
    return std::nullopt;
  }
  const std::string_view subject = text.substr(range.location, range.length);
  if (!utf8::isValid(subject)) return std::nullopt;
  const auto [code, jit] = compiled_->codeFor(subject.size());
  Searcher searcher(code, jit, subject);
  if (!searcher.usable()) return std::nullopt;
  return searcher.search(0, options == MatchingOptions::anchored ? PCRE2_ANCHORED : 0,
                         range.location);
}

std::optional<Match> Regex::firstMatch(std::string_view text) const {
  return firstMatch(text, Range{0, text.size()});
}

std::vector<Match> Regex::matches(std::string_view text) const {
  std::vector<Match> found;
  if (!utf8::isValid(text)) return found;
  const auto [code, jit] = compiled_->codeFor(text.size());
  Searcher searcher(code, jit, text);
  if (!searcher.usable()) return found;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::optional<Match> match = searcher.search(start, 0, 0);
    if (!match) break;
    const Range whole = match->range();
    found.push_back(std::move(*match));
    // Like ICU: after an empty match, step over one character so the scan moves.
    start =
        whole.length > 0
            ? whole.end()
            : whole.end() + (whole.end() < text.size() ? characterLength(text, whole.end()) : 1);
  }
  return found;
}

std::string Regex::replacingMatches(std::string_view text, std::string_view replacement) const {
  std::string result;
  result.reserve(text.size());
  std::size_t copied = 0;
  for (const Match& match : matches(text)) {
    const Range whole = match.range();
    result.append(text, copied, whole.location - copied);
    result.append(replacement);
    copied = whole.end();
  }
  result.append(text, copied, std::string_view::npos);
  return result;
}

}  // namespace quarn
