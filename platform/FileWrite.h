// Whole-file writes that respect what a path names. A new path or a regular
// file gets its bytes under a temporary name beside it, renamed into place, so
// readers never see half a file and a failure leaves the old file (or none).
// Anything else (a device, a FIFO) is opened and written through, as a shell's
// ">" does: nothing is ever renamed over it. Symbolic links are followed; the
// rules apply to the file they finally name, and the links stay.
#ifndef QUARN_PLATFORM_FILEWRITE_H_
#define QUARN_PLATFORM_FILEWRITE_H_

#include <filesystem>
#include <string_view>
#include <system_error>

namespace quarn {

// How an existing regular file takes the new bytes.
enum class ExistingFile {
  replace,         // a new file renamed over it; it keeps its permission bits
  rewriteInPlace,  // truncated and rewritten, so handles open on it see the bytes
};

// Writes `bytes` to `path`. A new file gets the mode an ordinary create would
// give. Opening a FIFO waits for its reader. Returns the operating system's
// reason on failure (EISDIR for a directory, ELOOP for a cycle of links), else
// an empty code. A failed in-place rewrite removes the cut file.
std::error_code writeFile(const std::filesystem::path& path, std::string_view bytes,
                          ExistingFile existing = ExistingFile::replace);

// The path that `path` finally names once the symbolic links at its end are
// followed; a link to nothing yields the path where its target would be.
// Sets `error` (ELOOP for a cycle) and returns an empty path when the links
// cannot be read.
std::filesystem::path finalTarget(const std::filesystem::path& path, std::error_code& error);

// Writes all of `bytes` to the open descriptor `fd`, retrying short writes.
std::error_code writeAll(int fd, std::string_view bytes);

}  // namespace quarn

#endif  // QUARN_PLATFORM_FILEWRITE_H_
