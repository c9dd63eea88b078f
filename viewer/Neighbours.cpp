#include "viewer/Neighbours.h"

#include <glib.h>

#include <algorithm>
#include <memory>
#include <string>
#include <system_error>

#include "quicklook/Shared/PreviewDocument.h"

namespace quarn {
namespace {

// GLib's file-name collation key orders digit runs by value, as file managers
// do; folding the case first makes the order case-insensitive in any locale.
std::string sortKey(std::string_view name) {
  std::unique_ptr<char, decltype(&g_free)> folded(
      g_utf8_casefold(name.data(), static_cast<gssize>(name.size())), g_free);
  std::unique_ptr<char, decltype(&g_free)> key(g_utf8_collate_key_for_filename(folded.get(), -1),
                                               g_free);
  return key.get();
}

}  // namespace

bool fileManagerOrder(std::string_view a, std::string_view b) {
  const std::string keyA = sortKey(a), keyB = sortKey(b);
  if (keyA != keyB) return keyA < keyB;
  return a < b;  // names that differ only in case keep one fixed order
}

std::vector<std::filesystem::path> previewableFiles(const std::filesystem::path& folder) {
  struct Named {
    std::string key;
    std::filesystem::path file;
  };
  std::vector<Named> found;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::filesystem::path& file = it->path();
    const std::string name = file.filename().string();
    if (name.starts_with(".") || !PreviewDocument::canRender(file)) continue;
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    found.push_back({sortKey(name), file});
  }
  std::sort(found.begin(), found.end(), [](const Named& a, const Named& b) {
    if (a.key != b.key) return a.key < b.key;
    return a.file.filename() < b.file.filename();
  });
  std::vector<std::filesystem::path> files;
  files.reserve(found.size());
  for (auto& named : found) files.push_back(std::move(named.file));
  return files;
}

std::optional<std::filesystem::path> stepFrom(const std::vector<std::filesystem::path>& files,
                                              const std::filesystem::path& current, bool forward) {
  const auto at = std::find(files.begin(), files.end(), current);
  if (at != files.end()) {
    if (forward) {
      if (at + 1 != files.end()) return *(at + 1);
    } else if (at != files.begin()) {
      return *(at - 1);
    }
    return std::nullopt;
  }
  // Where the missing name would sort: the first file after it.
  const std::string name = current.filename().string();
  const auto after = std::find_if(files.begin(), files.end(), [&](const auto& file) {
    return fileManagerOrder(name, file.filename().string());
  });
  if (forward) {
    if (after != files.end()) return *after;
  } else if (after != files.begin()) {
    return *(after - 1);
  }
  return std::nullopt;
}

}  // namespace quarn
