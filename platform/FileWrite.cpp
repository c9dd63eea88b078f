#include "platform/FileWrite.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace quarn {
namespace {

std::error_code lastError() { return std::error_code(errno, std::generic_category()); }

}  // namespace

std::error_code writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return lastError();
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

std::error_code writeFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  // Built by appending: GCC 12 warns falsely (-Wrestrict) on "." + string.
  std::string name = ".";
  name += path.filename().string();
  name += ".XXXXXX";
  std::string temporary = (folder / name).string();
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return lastError();
  // mkstemp creates 0600; give the file the mode an ordinary create would.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  std::error_code result;
  if (::fchmod(fd, 0666 & ~mask) != 0) result = lastError();
  if (!result) result = writeAll(fd, bytes);
  if (::close(fd) != 0 && !result) result = lastError();
  if (!result && std::rename(temporary.c_str(), path.c_str()) != 0) result = lastError();
  if (result) ::unlink(temporary.c_str());
  return result;
}

}  // namespace quarn
