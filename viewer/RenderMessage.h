// The messages between the window and its render worker, over a stream
// socket: a request names a file, a reply carries what createPreview gave for
// it, the page with its title and attachments or the file's error. Each is a
// frame: its length, then its bytes. A reply's small fields come first and
// its bytes after them, in order, so a sender writes the page and the
// pictures from where they are and a receiver keeps the page in the frame's
// own buffer. Free of GTK; stateless.
#ifndef QUARN_VIEWER_RENDERMESSAGE_H_
#define QUARN_VIEWER_RENDERMESSAGE_H_

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/Expected.h"
#include "platform/FileError.h"
#include "quicklook/QuarnPreview/PreviewService.h"

namespace quarn::RenderMessage {

// The bytes before a frame's own: its length, little-endian.
constexpr std::size_t kLengthBytes = 8;

// A reply's frame, length included, as pieces to be sent in order. The
// pieces past the first point into the preview encoded, which must outlive
// them.
struct Frame {
  std::string head;
  std::vector<std::string_view> bytes;
};

// The frame of a request for `file`, under `serial`.
std::string request(std::uint64_t serial, const std::filesystem::path& file);
// The request in a frame's bytes (without the length), or nothing when they
// are not one.
std::optional<std::pair<std::uint64_t, std::filesystem::path>> readRequest(std::string_view frame);

// The frame of the reply `serial`. Attachments that share their bytes are
// sent once and share them again at the other end.
Frame reply(std::uint64_t serial, const Expected<ShownPreview, FileError>& result);
// The reply in a frame's bytes (without the length), taken over; nothing
// when they are not one. An error's reason keeps its value and category for
// the system's and the generic codes, and its message for any other.
struct Reply {
  std::uint64_t serial = 0;
  Expected<ShownPreview, FileError> result;
};
std::optional<Reply> readReply(std::string&& frame);

// The length a frame's first kLengthBytes bytes give.
std::uint64_t frameLength(std::string_view lengthBytes);

// Writes every piece to `fd`, blocking. Returns the error that stopped it.
std::error_code send(int fd, const std::vector<std::string_view>& pieces);
// Reads one frame's bytes (without the length) from `fd`, blocking; nothing
// at the end of the stream, on an error or past `maxBytes`.
std::optional<std::string> receive(int fd, std::size_t maxBytes);

}  // namespace quarn::RenderMessage

#endif  // QUARN_VIEWER_RENDERMESSAGE_H_
