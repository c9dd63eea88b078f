#include "platform/FileWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>

namespace quarn {
namespace {

constexpr int kMaxLinks = 40;  // the kernel's own limit on one path walk
constexpr int kAttempts = 3;   // decisions retaken when a new path appears meanwhile

std::error_code lastError() { return std::error_code(errno, std::generic_category()); }

// Moves `temporary` to `target`. A new path is claimed without replacing
// whatever another process may have put there since it was looked at.
std::error_code moveIntoPlace(const std::string& temporary, const std::filesystem::path& target,
                              bool isNew) {
  if (isNew) {
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      return {};
    }
    // File systems without the flag (some network ones) get the plain rename.
    if (errno != EINVAL && errno != ENOSYS) return lastError();
  }
  if (std::rename(temporary.c_str(), target.c_str()) != 0) return lastError();
  return {};
}

// `mode`: the permission bits to keep, or none for a new file.
std::error_code replaceAtomically(const std::filesystem::path& target, std::string_view bytes,
                                  std::optional<mode_t> mode) {
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  // Built by appending: GCC 12 warns falsely (-Wrestrict) on "." + string.
  std::string name = ".";
  name += target.filename().string();
  name += ".XXXXXX";
  std::string temporary = (folder / name).string();
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return lastError();
  const bool isNew = !mode;
  if (isNew) {
    // mkstemp creates 0600; give the file the mode an ordinary create would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  std::error_code result;
  if (::fchmod(fd, *mode) != 0) result = lastError();
  if (!result) result = writeAll(fd, bytes);
  if (::close(fd) != 0 && !result) result = lastError();
  if (!result) result = moveIntoPlace(temporary, target, isNew);
  if (result) ::unlink(temporary.c_str());
  return result;
}

std::error_code rewriteInPlace(const std::filesystem::path& target, std::string_view bytes) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return lastError();
  std::error_code result = writeAll(fd, bytes);
  if (::close(fd) != 0 && !result) result = lastError();
  if (result) ::unlink(target.c_str());
  return result;
}

// Neither created nor truncated: a device or FIFO takes the bytes as they
// come, and no terminal becomes this process's controlling one.
std::error_code writeThrough(const std::filesystem::path& target, std::string_view bytes) {
  int fd = -1;
  do {
    fd = ::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return lastError();
  std::error_code result = writeAll(fd, bytes);
  if (::close(fd) != 0 && !result && errno != EINTR) result = lastError();
  return result;
}

}  // namespace

std::filesystem::path finalTarget(const std::filesystem::path& path, std::error_code& error) {
  std::filesystem::path current = path;
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    struct stat status {};
    if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
    std::filesystem::path next = std::filesystem::read_symlink(current, error);
    if (error) return {};
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  error = std::error_code(ELOOP, std::generic_category());
  return {};
}

std::error_code writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return lastError();
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

std::error_code writeFile(const std::filesystem::path& path, std::string_view bytes,
                          ExistingFile existing) {
  for (int attempt = 1;; ++attempt) {
    std::error_code error;
    const std::filesystem::path target = finalTarget(path, error);
    if (error) return error;
    struct stat status {};
    if (::lstat(target.c_str(), &status) != 0) {
      if (errno != ENOENT) return lastError();
      error = replaceAtomically(target, bytes, std::nullopt);
      // Something took the new path meanwhile: look again at what it is.
      if (error == std::errc::file_exists && attempt < kAttempts) continue;
      return error;
    }
    if (S_ISDIR(status.st_mode)) return std::make_error_code(std::errc::is_a_directory);
    if (!S_ISREG(status.st_mode)) return writeThrough(target, bytes);
    if (existing == ExistingFile::rewriteInPlace) return rewriteInPlace(target, bytes);
    return replaceAtomically(target, bytes, status.st_mode & 0777);
  }
}

}  // namespace quarn
