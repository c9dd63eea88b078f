// The files a viewer steps through: the previewable files of one folder in
// the order a file manager lists them, and the step from one to the next.
#ifndef QUARN_VIEWER_NEIGHBOURS_H_
#define QUARN_VIEWER_NEIGHBOURS_H_

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace quarn {

// File-manager order of two file names: case-insensitive, with runs of digits
// compared by value ("note 2" before "note 10").
bool fileManagerOrder(std::string_view a, std::string_view b);

// The regular files (or links to them) in `folder` whose extension the
// preview accepts, hidden ones left out, in file-manager order. Empty for a
// folder that cannot be listed.
std::vector<std::filesystem::path> previewableFiles(const std::filesystem::path& folder);

// The file one step (`forward` or back) from `current` in `files`. When
// `current` is not in the list (renamed or deleted meanwhile), the step goes
// from the place where its name would sort. Nothing past either end.
std::optional<std::filesystem::path> stepFrom(const std::vector<std::filesystem::path>& files,
                                              const std::filesystem::path& current, bool forward);

}  // namespace quarn

#endif  // QUARN_VIEWER_NEIGHBOURS_H_
