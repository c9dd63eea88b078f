#include "viewer/RenderMessage.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <utility>

namespace quarn::RenderMessage {
namespace {

enum class Kind : std::uint8_t { preview = 0, error = 1 };
enum class Category : std::uint8_t { none = 0, generic = 1, system = 2, other = 3 };

void putU64(std::string& out, std::uint64_t value) {
  for (std::size_t i = 0; i < kLengthBytes; ++i)
    out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

void putString(std::string& out, std::string_view text) {
  putU64(out, text.size());
  out += text;
}

// Reads fields off the front of a frame; any read past its end leaves it failed.
class Cursor {
 public:
  explicit Cursor(std::string_view bytes) : rest_(bytes) {}

  std::uint64_t u64() {
    if (rest_.size() < kLengthBytes) return fail();
    const std::uint64_t value = frameLength(rest_);
    rest_.remove_prefix(kLengthBytes);
    return value;
  }
  std::uint8_t u8() {
    if (rest_.empty()) return fail();
    const auto value = static_cast<std::uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return value;
  }
  std::string_view bytes(std::uint64_t size) {
    if (size > rest_.size()) return fail(), std::string_view();
    const std::string_view value = rest_.substr(0, size);
    rest_.remove_prefix(size);
    return value;
  }
  std::string string() { return std::string(bytes(u64())); }

  bool ok() const { return ok_; }
  std::size_t left() const { return rest_.size(); }

 private:
  std::uint8_t fail() {
    ok_ = false;
    rest_ = {};
    return 0;
  }
  std::string_view rest_;
  bool ok_ = true;
};

// Reasons from neither the system's nor the generic category (a file that is
// not regular) come back as their message, each message under one value.
class RelayedCategory : public std::error_category {
 public:
  const char* name() const noexcept override { return "quarn.relayed"; }
  std::string message(int value) const override {
    const std::lock_guard lock(mutex_);
    for (const auto& [text, index] : values_) {
      if (index == value) return text;
    }
    return "unknown error";
  }
  std::error_code code(const std::string& text) const {
    const std::lock_guard lock(mutex_);
    const auto [it, added] = values_.try_emplace(text, static_cast<int>(values_.size()) + 1);
    return std::error_code(it->second, *this);
  }

 private:
  mutable std::mutex mutex_;
  mutable std::map<std::string, int> values_;
};

const RelayedCategory& relayed() {
  static const RelayedCategory category;
  return category;
}

void putError(std::string& out, const FileError& error) {
  putU64(out, static_cast<std::uint64_t>(error.code));
  putString(out, error.path.native());
  const std::error_category& category = error.reason.category();
  const Category kind = !error.reason                         ? Category::none
                        : category == std::generic_category() ? Category::generic
                        : category == std::system_category()  ? Category::system
                                                              : Category::other;
  out += static_cast<char>(kind);
  putU64(out, static_cast<std::uint64_t>(static_cast<std::int64_t>(error.reason.value())));
  if (kind == Category::other) putString(out, error.reason.message());
}

std::optional<FileError> readError(Cursor& in) {
  FileError error;
  error.code = static_cast<FileError::Code>(in.u64());
  error.path = in.string();
  const auto kind = static_cast<Category>(in.u8());
  const auto value = static_cast<int>(static_cast<std::int64_t>(in.u64()));
  switch (kind) {
    case Category::none:
      break;
    case Category::generic:
      error.reason = std::error_code(value, std::generic_category());
      break;
    case Category::system:
      error.reason = std::error_code(value, std::system_category());
      break;
    case Category::other:
      error.reason = relayed().code(in.string());
      break;
    default:
      return std::nullopt;
  }
  if (!in.ok()) return std::nullopt;
  return error;
}

}  // namespace

std::uint64_t frameLength(std::string_view lengthBytes) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < kLengthBytes; ++i) {
    value |= std::uint64_t{static_cast<unsigned char>(lengthBytes[i])} << (8 * i);
  }
  return value;
}

std::string request(std::uint64_t serial, const std::filesystem::path& file) {
  std::string body;
  putU64(body, serial);
  body += file.native();
  std::string frame;
  putU64(frame, body.size());
  return frame + body;
}

std::optional<std::pair<std::uint64_t, std::filesystem::path>> readRequest(std::string_view frame) {
  Cursor in(frame);
  const std::uint64_t serial = in.u64();
  if (!in.ok()) return std::nullopt;
  return std::pair{serial, std::filesystem::path(std::string(frame.substr(kLengthBytes)))};
}

Frame reply(std::uint64_t serial, const Expected<ShownPreview, FileError>& result) {
  Frame frame;
  std::string& head = frame.head;
  putU64(head, 0);  // the length, filled in below
  putU64(head, serial);
  std::uint64_t length = 0;
  if (!result) {
    head += static_cast<char>(Kind::error);
    putError(head, result.error());
  } else {
    head += static_cast<char>(Kind::preview);
    putString(head, result->title);
    putU64(head, result->attachments.size());
    // The first attachment of each buffer, by where its bytes are.
    std::map<const char*, std::uint64_t> firsts;
    std::uint64_t index = 0;
    for (const auto& [name, attachment] : result->attachments) {
      ++index;
      putString(head, name);
      putString(head, attachment.contentType.identifier);
      putString(head, attachment.contentType.mimeType);
      head += static_cast<char>(attachment.contentType.isImage ? 1 : 0);
      if (!attachment.data.empty()) {
        const auto [first, own] = firsts.try_emplace(attachment.data.data(), index);
        if (!own) {
          putU64(head, first->second);
          continue;
        }
      }
      putU64(head, 0);
      putU64(head, attachment.data.size());
      frame.bytes.push_back(attachment.data.view());
      length += attachment.data.size();
    }
    putU64(head, result->page.size());
    frame.bytes.push_back(result->page);
    length += result->page.size();
  }
  length += head.size() - kLengthBytes;
  std::string prefix;
  putU64(prefix, length);
  head.replace(0, kLengthBytes, prefix);
  return frame;
}

std::optional<Reply> readReply(std::string&& frame) {
  Cursor in(frame);
  Reply reply;
  reply.serial = in.u64();
  const auto kind = static_cast<Kind>(in.u8());
  if (!in.ok()) return std::nullopt;
  if (kind == Kind::error) {
    auto error = readError(in);
    if (!error || in.left() != 0) return std::nullopt;
    reply.result = Unexpected(std::move(*error));
    return reply;
  }
  if (kind != Kind::preview) return std::nullopt;
  ShownPreview preview;
  preview.title = in.string();
  struct Pending {
    std::string name;
    UTType type;
    std::uint64_t sameAs, size;
  };
  std::vector<Pending> pending;
  const std::uint64_t count = in.u64();
  std::uint64_t blobs = 0;
  for (std::uint64_t i = 0; i < count && in.ok(); ++i) {
    Pending item;
    item.name = in.string();
    item.type.identifier = in.string();
    item.type.mimeType = in.string();
    item.type.isImage = in.u8() != 0;
    item.sameAs = in.u64();
    item.size = item.sameAs == 0 ? in.u64() : 0;
    if (item.sameAs > i) return std::nullopt;  // names only an earlier one
    blobs += item.size;
    pending.push_back(std::move(item));
  }
  const std::uint64_t pageSize = in.u64();
  if (!in.ok() || in.left() < blobs || in.left() - blobs != pageSize) return std::nullopt;

  std::vector<SharedBytes> datas;
  for (Pending& item : pending) {
    const SharedBytes data =
        item.sameAs ? datas[item.sameAs - 1] : SharedBytes(std::string(in.bytes(item.size)));
    datas.push_back(data);
    preview.attachments.emplace(std::move(item.name),
                                QLPreviewReplyAttachment{data, std::move(item.type)});
  }
  // The page is the frame's tail: moved to the front, it keeps the buffer.
  frame.erase(0, frame.size() - pageSize);
  preview.page = std::move(frame);
  reply.result = std::move(preview);
  return reply;
}

std::error_code send(int fd, const std::vector<std::string_view>& pieces) {
  for (std::string_view piece : pieces) {
    while (!piece.empty()) {
      // No SIGPIPE when the other end has gone: that is an error to return.
      const ssize_t n = ::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return std::error_code(errno, std::generic_category());
      piece.remove_prefix(static_cast<std::size_t>(n));
    }
  }
  return {};
}

namespace {

bool readExactly(int fd, char* into, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::read(fd, into, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    into += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::optional<std::string> receive(int fd, std::size_t maxBytes) {
  char length[kLengthBytes];
  if (!readExactly(fd, length, sizeof length)) return std::nullopt;
  const std::uint64_t size = frameLength({length, sizeof length});
  if (size > maxBytes) return std::nullopt;
  std::string frame(size, '\0');
  if (!readExactly(fd, frame.data(), frame.size())) return std::nullopt;
  return frame;
}

}  // namespace quarn::RenderMessage
