// Stand-ins for the preview service's interface: the request, the reply with
// its deferred data-creation routine, attachments, and the provider base.
// A host plays the service: it asks a provider, then runs the reply's routine.
#ifndef QUARN_PLATFORM_QUICKLOOKPREVIEW_H_
#define QUARN_PLATFORM_QUICKLOOKPREVIEW_H_

#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "base/Expected.h"
#include "base/SharedBytes.h"
#include "platform/FileError.h"
#include "platform/Geometry.h"
#include "platform/UTType.h"

namespace quarn {

enum class StringEncoding { unspecified, utf8 };

struct QLFilePreviewRequest {
  std::filesystem::path fileURL;
};

struct QLPreviewReplyAttachment {
  SharedBytes data;  // shared with every other attachment of the same file
  UTType contentType;
};

// The pictures a page left out to keep within its memory bounds, by bound.
// Not the platform's: the hosts tell their user with it.
struct ImagesLeftOut {
  std::size_t overImageBound = 0;  // the file alone is larger than one picture may be
  std::size_t overPageBound = 0;   // the page's pictures together would be too large
  std::size_t count() const { return overImageBound + overPageBound; }
  bool operator==(const ImagesLeftOut&) const = default;
};

// The reply's attachments by name.
using QLPreviewReplyAttachments = std::map<std::string, QLPreviewReplyAttachment>;

class QLPreviewReply {
 public:
  // Run by the service with this same reply; returns the page bytes or the failure.
  using DataCreation = std::function<Expected<std::string, FileError>(QLPreviewReply&)>;

  QLPreviewReply(UTType contentType, CGSize contentSize, DataCreation createData)
      : contentType_(std::move(contentType)),
        contentSize_(contentSize),
        createData_(std::move(createData)) {}

  const UTType& contentType() const { return contentType_; }
  CGSize contentSize() const { return contentSize_; }

  // What the service does when it needs the page.
  Expected<std::string, FileError> createData() { return createData_(*this); }

  StringEncoding stringEncoding = StringEncoding::unspecified;
  std::string title;
  QLPreviewReplyAttachments attachments;
  ImagesLeftOut imagesLeftOut;

 private:
  UTType contentType_;
  CGSize contentSize_;
  DataCreation createData_;
};

class QLPreviewProvider {
 public:
  // Exactly one of the two is set.
  using CompletionHandler =
      std::function<void(std::unique_ptr<QLPreviewReply>, std::optional<FileError>)>;

  virtual ~QLPreviewProvider() = default;
  virtual void providePreview(const QLFilePreviewRequest& request,
                              const CompletionHandler& handler) = 0;
};

}  // namespace quarn

#endif  // QUARN_PLATFORM_QUICKLOOKPREVIEW_H_
