// The preview service as the Linux hosts play it, in process: asks the
// provider for a file at once, then runs the reply's data-creation routine
// (on a thread of the caller's choice) and keeps what the reply carried.
// quarn-preview and quarn-view both go through it, so a file is accepted,
// read and reported the same way by each. Free of GTK; stateless.
#ifndef QUARN_QUICKLOOK_QUARNPREVIEW_PREVIEWSERVICE_H_
#define QUARN_QUICKLOOK_QUARNPREVIEW_PREVIEWSERVICE_H_

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "base/Expected.h"
#include "platform/FileError.h"
#include "platform/QuickLookPreview.h"

namespace quarn {

// What a finished reply holds: its title, the page bytes and the attachments
// the page names by "cid:" addresses.
struct ShownPreview {
  std::string title;
  std::string page;
  std::map<std::string, QLPreviewReplyAttachment> attachments;
};

// Asks the provider for `file`; decides from the name alone and reads
// nothing. Returns the reply, or null for a refused file type. Beyond what
// the provider accepts, ".markdown" and ".mkd" (any letter case) are notes,
// as the desktop's Markdown type names them, and a path with a trailing
// slash gets a reply that fails as reading that folder does.
std::unique_ptr<QLPreviewReply> requestPreview(const std::filesystem::path& file);

// Runs the reply's data-creation routine: reads and renders the file. Safe on
// any thread; touches only `reply`. The error is the routine's, unchanged.
Expected<ShownPreview, FileError> createPreview(QLPreviewReply& reply);

// The hosts' one-line messages, naming `file` as given.
std::string refusedMessage(const std::filesystem::path& file);
std::string unreadableMessage(const std::filesystem::path& file, const FileError& error);

}  // namespace quarn

#endif  // QUARN_QUICKLOOK_QUARNPREVIEW_PREVIEWSERVICE_H_
