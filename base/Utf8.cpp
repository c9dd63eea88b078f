#include "base/Utf8.h"

#include <cstdint>
#include <cstring>

namespace quarn::utf8 {

int sequenceLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  int length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return -1;
  }
  for (int i = 1; i < length; ++i) {
    if (static_cast<std::size_t>(i) >= text.size()) return -i;
    const unsigned char next = byte(static_cast<std::size_t>(i));
    if (i == 1 ? (next < low || next > high) : (next < 0x80 || next > 0xBF)) return -i;
  }
  return length;
}

char32_t codePoint(std::string_view text, int length) {
  const auto lead = static_cast<unsigned char>(text[0]);
  char32_t code = length == 1   ? lead
                  : length == 2 ? lead & 0x1F
                  : length == 3 ? lead & 0x0F
                                : lead & 0x07;
  for (int k = 1; k < length; ++k) {
    code = (code << 6) | (static_cast<unsigned char>(text[static_cast<std::size_t>(k)]) & 0x3F);
  }
  return code;
}

namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// The number of bytes of `word` whose top bit is set, its only bits set. The
// portable build has no popcount instruction, and the library's call costs
// more than this multiply.
std::size_t topBitCount(std::uint64_t word) {
  return static_cast<std::size_t>(((word >> 7) * 0x0101010101010101ULL) >> 56);
}

}  // namespace

std::size_t asciiPrefixLength(std::string_view text) {
  std::size_t at = 0;
  for (std::uint64_t word; text.size() - at >= 8; at += 8) {
    std::memcpy(&word, text.data() + at, 8);
    if (word & kHighBits) break;
  }
  while (at < text.size() && static_cast<unsigned char>(text[at]) < 0x80) ++at;
  return at;
}

std::size_t characterCount(std::string_view text) {
  std::size_t continuations = 0;
  std::size_t at = 0;
  // A continuation byte is the one whose top bit is set and whose next bit is not.
  for (std::uint64_t word; text.size() - at >= 8; at += 8) {
    std::memcpy(&word, text.data() + at, 8);
    continuations += topBitCount(word & ~(word << 1) & kHighBits);
  }
  for (; at < text.size(); ++at) {
    continuations += (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
  }
  return text.size() - continuations;
}

bool isValid(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    // Runs of ASCII, most of any text, sixteen bytes at a time.
    std::uint64_t words[2];
    if (text.size() - i >= 16 &&
        (std::memcpy(words, text.data() + i, 16), !((words[0] | words[1]) & kHighBits))) {
      i += 16;
      continue;
    }
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const int length = sequenceLength(text.substr(i));
    if (length < 0) return false;
    i += static_cast<std::size_t>(length);
  }
  return true;
}

namespace {

std::string replaced(std::string_view text, bool perByte) {
  std::string out;
  out.reserve(text.size());
  std::size_t run = 0, i = 0;  // [run, i) is pending valid text
  while (i < text.size()) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
      continue;
    }
    const int length = sequenceLength(text.substr(i));
    if (length > 0) {
      i += static_cast<std::size_t>(length);
      continue;
    }
    out.append(text, run, i - run);
    // The bytes after the first of an ill-formed subpart are continuation
    // bytes, each ill-formed on its own: one replacement apiece is per byte.
    for (int k = perByte ? length : -1; k < 0; ++k) out.append("\xEF\xBF\xBD");
    i += static_cast<std::size_t>(-length);
    run = i;
  }
  out.append(text, run, text.size() - run);
  return out;
}

}  // namespace

std::string withReplacements(std::string_view text) { return replaced(text, false); }

std::string withByteReplacements(std::string_view text) { return replaced(text, true); }

}  // namespace quarn::utf8
