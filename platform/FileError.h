// The platform's file-read error values: the codes the services understand,
// plus, for a read failure, the path and the operating system's reason.
#ifndef QUARN_PLATFORM_FILEERROR_H_
#define QUARN_PLATFORM_FILEERROR_H_

#include <filesystem>
#include <string>
#include <system_error>

namespace quarn {

struct FileError {
  // Values are the platform's file error codes.
  enum class Code {
    fileReadUnknown = 256,
    fileReadNoPermission = 257,
    fileReadCorruptFile = 259,
    fileReadNoSuchFile = 260,
    fileReadUnsupportedScheme = 262,
  };

  Code code = Code::fileReadUnknown;
  std::filesystem::path path;  // empty for the two codes with empty user information
  std::error_code reason;      // the operating system's reason for a read failure

  // The error with empty user information (no path, no reason).
  static FileError withCode(Code code) { return FileError{code, {}, {}}; }
  // A read failure of `path`, coded from the operating system's reason.
  static FileError readFailure(const std::filesystem::path& path, std::error_code reason);

  // One line for people: the path and the reason, or what the code means.
  std::string description() const;
};

}  // namespace quarn

#endif  // QUARN_PLATFORM_FILEERROR_H_
