#include "base/FileUri.h"

#include "base/Text.h"

namespace quarn::FileUri {

Expected<std::filesystem::path, std::string> inputPath(std::string_view argument) {
  if (argument.empty()) return Unexpected(std::string("the file argument is empty"));
  if (!text::startsWithIgnoringAsciiCase(argument, "file:")) {
    return std::filesystem::path(argument);
  }
  const auto bad = [&](std::string_view why) {
    return Unexpected("\"" + std::string(argument) + "\" " + std::string(why));
  };
  std::string_view rest = argument.substr(5);
  if (!rest.starts_with("//")) return bad("is not a file:// URI");
  rest.remove_prefix(2);
  const auto slash = rest.find('/');
  const std::string_view host = rest.substr(0, slash);
  if (!host.empty() && text::asciiLowercased(host) != "localhost") return bad("names another host");
  if (slash == std::string_view::npos) return bad("has no path");
  rest.remove_prefix(slash);
  const auto path = text::percentDecoded(rest.substr(0, rest.find_first_of("?#")));
  if (!path) return bad("has a malformed percent escape");
  // The operating system would cut the path at a NUL and open another file.
  if (path->find('\0') != std::string::npos) return bad("encodes a NUL byte");
  return std::filesystem::path(*path);
}

bool namesFolder(const std::filesystem::path& path) {
  const std::string& text = path.native();
  return !text.empty() && text.back() == '/';
}

}  // namespace quarn::FileUri
