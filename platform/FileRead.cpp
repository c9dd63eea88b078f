#include "platform/FileRead.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace quarn {
namespace {

std::error_code lastError() { return std::error_code(errno, std::generic_category()); }

// FIFOs, devices and sockets are refused before any read could block on them.
class NotRegularCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "quarn.file"; }
  std::string message(int) const override { return "not a regular file"; }
};

std::error_code notRegularFile() {
  static const NotRegularCategory category;
  return std::error_code(1, category);
}

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

Expected<std::string, FileError> readFile(const std::filesystem::path& path, std::size_t maxBytes) {
  // O_NONBLOCK keeps open() of a FIFO without a writer from waiting forever;
  // the fstat below then refuses it.
  Fd file{::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
  if (file.fd < 0) return Unexpected(FileError::readFailure(path, lastError()));
  struct stat info {};
  if (::fstat(file.fd, &info) != 0) return Unexpected(FileError::readFailure(path, lastError()));
  if (S_ISDIR(info.st_mode)) {
    return Unexpected(
        FileError::readFailure(path, std::make_error_code(std::errc::is_a_directory)));
  }
  if (!S_ISREG(info.st_mode)) {
    return Unexpected(FileError::readFailure(path, notRegularFile()));
  }
  if (static_cast<unsigned long long>(info.st_size) > maxBytes) {
    return Unexpected(
        FileError::readFailure(path, std::make_error_code(std::errc::file_too_large)));
  }
  std::string bytes;
  // Spare capacity after the end lets a parser that reads ahead in blocks (the
  // canvas decoder's) work on the buffer itself instead of a padded copy.
  bytes.reserve(static_cast<std::size_t>(info.st_size) + kReadPadding);
  bytes.resize(static_cast<std::size_t>(info.st_size));
  std::size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) {
      // The file may have grown since fstat. Probe before growing, so that the
      // usual file, read whole already, is never copied into a larger buffer.
      char probe[4096];
      const ssize_t n = ::read(file.fd, probe, sizeof probe);
      if (n == 0) break;
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Unexpected(FileError::readFailure(path, lastError()));
      if (bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
        return Unexpected(
            FileError::readFailure(path, std::make_error_code(std::errc::file_too_large)));
      }
      bytes.append(probe, static_cast<std::size_t>(n));
      filled = bytes.size();
      continue;
    }
    ssize_t n = ::read(file.fd, bytes.data() + filled, bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Unexpected(FileError::readFailure(path, lastError()));
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  bytes.resize(filled);
  return bytes;
}

}  // namespace quarn
