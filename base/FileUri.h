// File arguments as the hosts take them: a plain path, or a "file://" URI as
// file managers and thumbnail services pass one. The one parser for every
// host; needs no library beyond the standard one. Stateless; thread-safe.
#ifndef QUARN_BASE_FILEURI_H_
#define QUARN_BASE_FILEURI_H_

#include <filesystem>
#include <string>
#include <string_view>

#include "base/Expected.h"

namespace quarn::FileUri {

// A plain path as it is, or a "file:" URI (scheme in any letter case) with
// "//", an empty or "localhost" host and a path, which is percent-decoded;
// query and fragment are dropped. Fails with a one-line message quoting the
// argument for an empty argument, "file:" without "//", another host, no
// path, a malformed escape or an encoded NUL.
Expected<std::filesystem::path, std::string> inputPath(std::string_view argument);

// Whether `path` is written with a trailing slash ("d.md/", "/"): it names a
// folder whatever its last part looks like, so a host reads it, and fails as
// reading a folder does, instead of judging it by an extension.
bool namesFolder(const std::filesystem::path& path);

}  // namespace quarn::FileUri

#endif  // QUARN_BASE_FILEURI_H_
