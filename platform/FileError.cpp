#include "platform/FileError.h"

#include <cerrno>

namespace quarn {

FileError FileError::readFailure(const std::filesystem::path& path, std::error_code reason) {
  Code code = Code::fileReadUnknown;
  if (reason == std::errc::no_such_file_or_directory) {
    code = Code::fileReadNoSuchFile;
  } else if (reason == std::errc::permission_denied) {
    code = Code::fileReadNoPermission;
  }
  return FileError{code, path, reason};
}

std::string FileError::description() const {
  switch (code) {
    case Code::fileReadUnsupportedScheme:
      return "the file type is not supported";
    case Code::fileReadCorruptFile:
      return "the page could not be encoded";
    default:
      break;
  }
  std::string text = path.empty() ? std::string("file") : path.string();
  text += ": ";
  text += reason ? reason.message() : std::string("could not be read");
  return text;
}

}  // namespace quarn
