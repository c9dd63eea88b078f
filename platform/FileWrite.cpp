#include "platform/FileWrite.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string>

namespace quarn {

struct OutputFiles::Output {
  enum class Kind {
    rename,      // staged under `temporary`, renamed onto `target` at commit
    inPlace,     // `target` rewritten at commit
    through,     // `target` opened and written through at commit
    descriptor,  // `fd` written through at commit
  };
  Kind kind = Kind::rename;
  std::string typed;  // the path as staged; empty for a descriptor
  std::filesystem::path target;
  std::string temporary;
  bool isNew = false;   // rename: no file stood at the target
  bool placed = false;  // rename: done
  int fd = -1;
  std::string bytes;  // for what is written at commit
};

namespace {

constexpr int kMaxLinks = 40;  // the kernel's own limit on one path walk

std::error_code lastError() { return std::error_code(errno, std::generic_category()); }

class WriteErrorCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "quarn.write"; }
  std::string message(int value) const override {
    return value == static_cast<int>(WriteError::isTheInput) ? "is the input file"
                                                             : "unknown write error";
  }
};

std::optional<int> parseDescriptor(std::string_view digits) {
  int fd = -1;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), fd);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return fd;
}

// The descriptor of this process that `path` names by the kernel's own
// aliases. Their links read "pipe:[N]" or "socket:[N]" for a pipe or socket,
// which is no path at all, and reopening a file by them would truncate what
// the shell set up: so they are written through as the descriptor itself.
std::optional<int> ownDescriptor(const std::filesystem::path& path) {
  if (!path.is_absolute()) return std::nullopt;
  const std::string text = path.lexically_normal().string();
  if (text == "/dev/stdin") return 0;
  if (text == "/dev/stdout") return 1;
  if (text == "/dev/stderr") return 2;
  const std::string pid = "/proc/" + std::to_string(::getpid()) + "/fd/";
  for (const std::string_view prefix :
       {std::string_view("/dev/fd/"), std::string_view("/proc/self/fd/"),
        std::string_view("/proc/thread-self/fd/"), std::string_view(pid)}) {
    if (text.starts_with(prefix))
      return parseDescriptor(std::string_view(text).substr(prefix.size()));
  }
  return std::nullopt;
}

struct Resolved {
  std::filesystem::path target;  // the path the links finally name
  std::optional<int> fd;         // or one of this process's descriptors
};

// Follows the symbolic links at the end of `path`; a link to nothing yields
// the path where its target would be.
Resolved resolve(const std::filesystem::path& path, std::error_code& error) {
  std::filesystem::path current = path;
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    if (const auto fd = ownDescriptor(current)) return {{}, fd};
    struct stat status {};
    if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return {current, {}};
    std::filesystem::path next = std::filesystem::read_symlink(current, error);
    if (error) return {};
    current = next.is_absolute() ? next : current.parent_path() / next;
  }
  error = std::error_code(ELOOP, std::generic_category());
  return {};
}

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A copy of `bytes` beside `target` under a temporary name, with `mode`
// (none: the mode an ordinary create would give).
std::error_code writeTemporary(const std::filesystem::path& target, std::string_view bytes,
                               std::optional<mode_t> mode, std::string& temporary) {
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  // Built by appending: GCC 12 warns falsely (-Wrestrict) on "." + string.
  std::string name = ".";
  name += target.filename().string();
  name += ".XXXXXX";
  temporary = (folder / name).string();
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    temporary.clear();
    return lastError();
  }
  if (!mode) {
    // mkstemp creates 0600; give the file the mode an ordinary create would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  std::error_code result;
  if (::fchmod(fd, *mode) != 0) result = lastError();
  if (!result) result = writeAll(fd, bytes);
  if (::close(fd) != 0 && !result) result = lastError();
  if (result) {
    ::unlink(temporary.c_str());
    temporary.clear();
  }
  return result;
}

// Moves `temporary` to `target`. A new path is claimed without replacing
// whatever another process may have put there since it was looked at; if a
// regular file appeared meanwhile it is replaced, keeping its mode.
std::error_code moveIntoPlace(const std::string& temporary, const std::filesystem::path& target,
                              bool isNew) {
  if (isNew) {
    if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      return {};
    }
    // File systems without the flag (some network ones) get the plain rename.
    if (errno == EEXIST) {
      struct stat status {};
      if (::lstat(target.c_str(), &status) != 0) return lastError();
      if (!S_ISREG(status.st_mode)) return std::make_error_code(std::errc::file_exists);
      if (::chmod(temporary.c_str(), status.st_mode & 07777) != 0) return lastError();
    } else if (errno != EINVAL && errno != ENOSYS) {
      return lastError();
    }
  }
  if (std::rename(temporary.c_str(), target.c_str()) != 0) return lastError();
  return {};
}

// Thumbnail services make the file and read it back through their own
// handle, and several requests for one file may overlap: the lock makes the
// rewrites take turns, and the cut to the new length leaves no bytes of a
// longer one behind.
std::error_code rewriteInPlace(const std::filesystem::path& target, std::string_view bytes) {
  const int fd = ::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return lastError();
  std::error_code result;
  int locked = 0;
  do {
    locked = ::flock(fd, LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) result = lastError();
  if (!result && ::lseek(fd, 0, SEEK_SET) != 0) result = lastError();
  if (!result) result = writeAll(fd, bytes);
  if (!result && ::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) result = lastError();
  // A cut file is of use to nobody; removed while the lock is still held.
  if (result) ::unlink(target.c_str());
  if (::close(fd) != 0 && !result) result = lastError();
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

const std::error_category& writeErrorCategory() {
  static const WriteErrorCategory category;
  return category;
}

std::error_code make_error_code(WriteError error) {
  return {static_cast<int>(error), writeErrorCategory()};
}

OutputFiles::OutputFiles(std::filesystem::path input) : input_(std::move(input)) {}

OutputFiles::~OutputFiles() {
  if (!committed_) discard();
}

void OutputFiles::discard() {
  for (Output& output : outputs_) {
    if (!output.temporary.empty() && !output.placed) ::unlink(output.temporary.c_str());
    if (output.placed && output.isNew) ::unlink(output.target.c_str());
    output.temporary.clear();
    output.placed = false;
  }
  for (auto folder = madeFolders_.rbegin(); folder != madeFolders_.rend(); ++folder) {
    ::rmdir(folder->c_str());
  }
  madeFolders_.clear();
}

std::error_code OutputFiles::createFolders(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> missing;
  for (std::filesystem::path p = folder; !p.empty(); p = p.parent_path()) {
    struct stat status {};
    if (::lstat(p.c_str(), &status) == 0) break;
    missing.push_back(p);
    if (p == p.parent_path()) break;
  }
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  for (auto p = missing.rbegin(); p != missing.rend(); ++p) {
    if (std::filesystem::is_directory(*p)) madeFolders_.push_back(*p);
  }
  return error;
}

std::error_code OutputFiles::stage(const std::filesystem::path& path, std::string bytes,
                                   ExistingFile existing) {
  if (!input_.empty() && isSameFile(path, input_)) return WriteError::isTheInput;
  std::error_code error;
  const Resolved resolved = resolve(path, error);
  if (error) return error;
  if (resolved.fd) {
    error = stage(*resolved.fd, std::move(bytes));
    if (!error) outputs_.back().typed = path.string();
    return error;
  }
  Output output;
  output.typed = path.string();
  output.target = resolved.target;
  struct stat status {};
  if (::lstat(output.target.c_str(), &status) != 0) {
    if (errno != ENOENT) return lastError();
    output.isNew = true;
    if ((error = writeTemporary(output.target, bytes, std::nullopt, output.temporary))) {
      return error;
    }
  } else if (S_ISDIR(status.st_mode)) {
    return std::make_error_code(std::errc::is_a_directory);
  } else if (!S_ISREG(status.st_mode)) {
    output.kind = Output::Kind::through;
    output.bytes = std::move(bytes);
  } else if (existing == ExistingFile::rewriteInPlace) {
    output.kind = Output::Kind::inPlace;
    output.bytes = std::move(bytes);
  } else if ((error =
                  writeTemporary(output.target, bytes, status.st_mode & 07777, output.temporary))) {
    return error;
  }
  outputs_.push_back(std::move(output));
  return {};
}

std::error_code OutputFiles::stage(int fd, std::string bytes) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return lastError();
  struct stat input {};
  if (!input_.empty() && ::stat(input_.c_str(), &input) == 0 && sameFile(status, input)) {
    return WriteError::isTheInput;
  }
  Output output;
  output.kind = Output::Kind::descriptor;
  output.fd = fd;
  output.bytes = std::move(bytes);
  outputs_.push_back(std::move(output));
  return {};
}

std::error_code OutputFiles::commit(std::string* failedPath) {
  const auto fail = [&](const Output& output, std::error_code error) {
    if (failedPath) *failedPath = output.typed;
    discard();
    return error;
  };
  // What cannot be staged goes first, so that a failure there leaves no
  // staged file in place.
  for (Output& output : outputs_) {
    std::error_code error;
    switch (output.kind) {
      case Output::Kind::rename:
        continue;
      case Output::Kind::inPlace:
        error = rewriteInPlace(output.target, output.bytes);
        break;
      case Output::Kind::through:
        error = writeThrough(output.target, output.bytes);
        break;
      case Output::Kind::descriptor:
        error = writeAll(output.fd, output.bytes);
        break;
    }
    if (error) return fail(output, error);
  }
  for (Output& output : outputs_) {
    if (output.kind != Output::Kind::rename) continue;
    if (const std::error_code error =
            moveIntoPlace(output.temporary, output.target, output.isNew)) {
      return fail(output, error);
    }
    output.placed = true;
  }
  committed_ = true;
  return {};
}

std::filesystem::path finalTarget(const std::filesystem::path& path, std::error_code& error) {
  const Resolved resolved = resolve(path, error);
  if (error) return {};
  // A descriptor alias is written through, so it stays the path it was.
  return resolved.fd ? path : resolved.target;
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
  OutputFiles outputs;
  if (const std::error_code error = outputs.stage(path, std::string(bytes), existing)) return error;
  return outputs.commit();
}

bool isSameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         sameFile(first, second);
}

std::string writeFailure(std::string_view path, std::error_code error) {
  if (error == WriteError::isTheInput) return std::string(path) + " is the input file";
  return std::string(path) + ": " + error.message();
}

}  // namespace quarn
