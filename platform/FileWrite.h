// Whole-file writes that readers never see half done: the bytes go to a
// temporary file beside the target and are renamed into place, so a failure
// leaves no file (and an existing target untouched).
#ifndef QUARN_PLATFORM_FILEWRITE_H_
#define QUARN_PLATFORM_FILEWRITE_H_

#include <filesystem>
#include <string_view>
#include <system_error>

namespace quarn {

// Writes `bytes` to `path` with the mode an ordinary create would give.
// Returns the operating system's reason on failure, else an empty code.
std::error_code writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Writes all of `bytes` to the open descriptor `fd`, retrying short writes.
std::error_code writeAll(int fd, std::string_view bytes);

}  // namespace quarn

#endif  // QUARN_PLATFORM_FILEWRITE_H_
