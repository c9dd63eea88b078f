// Whole-file reads that never block: only regular files are read, so a path
// naming a FIFO, a device or a folder fails at once instead of hanging.
#ifndef QUARN_PLATFORM_FILEREAD_H_
#define QUARN_PLATFORM_FILEREAD_H_

#include <cstddef>
#include <filesystem>
#include <limits>
#include <string>

#include "base/Expected.h"
#include "platform/FileError.h"

namespace quarn {

// Unused capacity that readFile leaves after the bytes it returns, unless the
// file grew while it was read.
inline constexpr std::size_t kReadPadding = 64;

// Reads the whole regular file at `path`. Fails with the operating system's
// reason; a file that is not regular fails with "not a regular file", a
// folder with "is a directory", and one larger than `maxBytes` with "file too large".
Expected<std::string, FileError> readFile(
    const std::filesystem::path& path,
    std::size_t maxBytes = std::numeric_limits<std::size_t>::max());

}  // namespace quarn

#endif  // QUARN_PLATFORM_FILEREAD_H_
