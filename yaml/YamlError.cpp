#include "yaml/YamlError.h"

#include <cstdio>

namespace quarn::yaml {

namespace {

std::string at(const Mark& mark) {
  return " at line " + std::to_string(mark.line) + ", column " + std::to_string(mark.column);
}

// Texts from the event parser never hold line breaks, but keep the promise of
// one line whatever a caller put in.
std::string oneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

}  // namespace

std::string YamlError::description() const {
  std::string text;
  switch (kind) {
    case Kind::reader: {
      text =
          (problem.empty() ? "unreadable input" : problem) + " at offset " + std::to_string(offset);
      if (value >= 0) {
        char code[16];
        std::snprintf(code, sizeof code, " (#x%X)", static_cast<unsigned>(value));
        text += code;
      }
      break;
    }
    case Kind::memory:
      text = "out of memory";
      break;
    case Kind::duplicatedKeysInMapping: {
      text = "duplicated keys in mapping:";
      for (std::size_t i = 0; i < duplicates.size(); ++i) {
        text += (i == 0 ? " " : ", ") + duplicates[i];
      }
      text += at(problemMark);
      break;
    }
    default:
      if (context) text = *context + at(contextMark) + ": ";
      text += (problem.empty() ? "invalid text" : problem) + at(problemMark);
      break;
  }
  return oneLine(std::move(text));
}

}  // namespace quarn::yaml
