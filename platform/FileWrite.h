// Whole-file writes that respect what a path names, and sets of outputs
// written all or nothing. A new path or a regular file gets its bytes under a
// temporary name beside it, renamed into place, so readers never see half a
// file and a failure leaves the old file (or none). Anything else (a device,
// a FIFO, a pipe or socket) is opened and written through, as a shell's ">"
// does: nothing is ever renamed over it. "/dev/stdout", "/dev/fd/N" and
// "/proc/self/fd/N" are this process's own descriptors and are written
// through as they are. Symbolic links are followed; the rules apply to the
// file they finally name, and the links stay.
#ifndef QUARN_PLATFORM_FILEWRITE_H_
#define QUARN_PLATFORM_FILEWRITE_H_

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace quarn {

// How an existing regular file takes the new bytes.
enum class ExistingFile {
  replace,         // a new file renamed over it; it keeps its permission bits
  rewriteInPlace,  // rewritten under an exclusive lock and cut to the new
                   // length, so handles open on it see the bytes
};

// The one failure this unit adds to the operating system's.
enum class WriteError {
  isTheInput = 1,  // the output is the file being read (same device and inode)
};
const std::error_category& writeErrorCategory();
std::error_code make_error_code(WriteError error);

}  // namespace quarn

template <>
struct std::is_error_code_enum<quarn::WriteError> : std::true_type {};

namespace quarn {

// The outputs of one run, put in place only when all of them could be
// written. Each stage() checks its target and writes what it can beside it
// at once; commit() writes the rest (devices, FIFOs, descriptors, in-place
// rewrites) and renames the staged files into place. Until commit()
// succeeds nothing stands at any target, and the destructor removes every
// staged file and every folder made by createFolders(). Not thread-safe.
class OutputFiles {
 public:
  // Outputs that are `input` (after following links) are refused; an empty
  // path refuses nothing.
  explicit OutputFiles(std::filesystem::path input = {});
  ~OutputFiles();
  OutputFiles(const OutputFiles&) = delete;
  OutputFiles& operator=(const OutputFiles&) = delete;

  // Makes `folder` and its missing parents; those made are removed again
  // when the set is not committed.
  std::error_code createFolders(const std::filesystem::path& folder);

  // Stages `bytes` for `path`. Fails with WriteError::isTheInput, EISDIR for
  // a folder, ELOOP for a cycle of links, EBADF for a closed descriptor, or
  // the reason the staged copy could not be written.
  std::error_code stage(const std::filesystem::path& path, std::string bytes,
                        ExistingFile existing = ExistingFile::replace);
  // Stages `bytes` for the open descriptor `fd` (standard output, say).
  std::error_code stage(int fd, std::string bytes);

  // Writes and renames everything staged, in order. On failure whatever this
  // set created is removed again (files replaced before the failure stay
  // replaced) and the reason is returned; `failedPath` then names the output
  // that failed as it was staged, or is empty for a descriptor.
  std::error_code commit(std::string* failedPath = nullptr);

 private:
  struct Output;
  void discard();

  std::filesystem::path input_;
  std::vector<Output> outputs_;
  std::vector<std::filesystem::path> madeFolders_;  // outermost first
  bool committed_ = false;
};

// Writes `bytes` to `path`: a set of one output. A new file gets the mode an
// ordinary create would give. Opening a FIFO waits for its reader. Returns
// the operating system's reason on failure (EISDIR for a directory, ELOOP for
// a cycle of links), else an empty code. A failed in-place rewrite removes
// the cut file.
std::error_code writeFile(const std::filesystem::path& path, std::string_view bytes,
                          ExistingFile existing = ExistingFile::replace);

// The path that `path` finally names once the symbolic links at its end are
// followed; a link to nothing yields the path where its target would be.
// Sets `error` (ELOOP for a cycle) and returns an empty path when the links
// cannot be read.
std::filesystem::path finalTarget(const std::filesystem::path& path, std::error_code& error);

// Writes all of `bytes` to the open descriptor `fd`, retrying short writes.
std::error_code writeAll(int fd, std::string_view bytes);

// Whether `a` and `b` name one file (device and inode) once links are
// followed. False when either cannot be looked at, as a path not yet made.
bool isSameFile(const std::filesystem::path& a, const std::filesystem::path& b);

// One line for people about a failed output: "PATH is the input file", else
// "PATH: REASON". `path` as the user typed it.
std::string writeFailure(std::string_view path, std::error_code error);

}  // namespace quarn

#endif  // QUARN_PLATFORM_FILEWRITE_H_
