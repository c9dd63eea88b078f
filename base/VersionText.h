// The --version text of every program: its own name and version on the first
// line, then one line for each library it runs with. Header-only; stateless.
#ifndef QUARN_BASE_VERSIONTEXT_H_
#define QUARN_BASE_VERSIONTEXT_H_

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace quarn {

// "PROGRAM VERSION" and a "NAME VERSION" line per library, without a final
// newline (the command-line parser adds it).
inline std::string versionText(
    std::string_view program, std::string_view version,
    std::initializer_list<std::pair<std::string_view, std::string>> libraries) {
  std::string text(program);
  text += ' ';
  text += version;
  for (const auto& [name, libraryVersion] : libraries) {
    text += '\n';
    text += name;
    text += ' ';
    text += libraryVersion;
  }
  return text;
}

}  // namespace quarn

#endif  // QUARN_BASE_VERSIONTEXT_H_
