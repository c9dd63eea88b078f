// The preview service, played in process for the viewer: asks the provider
// for a file at once, then runs the reply's data-creation routine (on a
// worker thread of the caller's choice) and keeps what the reply carried.
// Free of GTK, so the same steps are what quarn-preview's users already know.
#ifndef QUARN_VIEWER_PREVIEWSERVICE_H_
#define QUARN_VIEWER_PREVIEWSERVICE_H_

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "base/Expected.h"
#include "platform/FileError.h"
#include "platform/QuickLookPreview.h"

namespace quarn {

// What a finished reply holds for the window: its title, the page bytes and
// the attachments the page names by "cid:" addresses.
struct ShownPreview {
  std::string title;
  std::string page;
  std::map<std::string, QLPreviewReplyAttachment> attachments;
};

// Asks the provider for `file`; decides from the name alone and reads
// nothing. Returns the reply, or null for a refused file type.
std::unique_ptr<QLPreviewReply> requestPreview(const std::filesystem::path& file);

// Runs the reply's data-creation routine: reads and renders the file. Safe on
// any thread; touches only `reply`. The error is the routine's, unchanged.
Expected<ShownPreview, FileError> createPreview(QLPreviewReply& reply);

// The one-line messages quarn-preview prints, naming `file` as given.
std::string refusedMessage(const std::filesystem::path& file);
std::string unreadableMessage(const std::filesystem::path& file, const FileError& error);

}  // namespace quarn

#endif  // QUARN_VIEWER_PREVIEWSERVICE_H_
