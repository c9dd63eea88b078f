#include "viewer/RenderServer.h"

#include <malloc.h>

#include <cstddef>
#include <string_view>
#include <vector>

#include "viewer/RenderMessage.h"

namespace quarn::RenderServer {
namespace {

// A request is a path.
constexpr std::size_t kMaxRequestBytes = std::size_t{1} << 20;

}  // namespace

int serve(int socket) {
  for (;;) {
    const auto frame = RenderMessage::receive(socket, kMaxRequestBytes);
    if (!frame) return 0;
    const auto request = RenderMessage::readRequest(*frame);
    if (!request) return kBrokenStatus;
    {
      const auto& [serial, file] = *request;
      auto reply = requestPreview(file);
      const Expected<ShownPreview, FileError> result =
          reply ? createPreview(*reply)
                : Unexpected(FileError::withCode(FileError::Code::fileReadUnsupportedScheme));
      const RenderMessage::Frame out = RenderMessage::reply(serial, result);
      std::vector<std::string_view> pieces = {out.head};
      pieces.insert(pieces.end(), out.bytes.begin(), out.bytes.end());
      if (RenderMessage::send(socket, pieces)) return kBrokenStatus;
    }
    // The budget counts what the allocator keeps: a large file's render must
    // not leave less room for the next one.
    ::malloc_trim(0);
  }
}

}  // namespace quarn::RenderServer
