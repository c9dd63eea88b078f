// Stand-ins for the thumbnail service's interface: the request, the reply
// with its deferred drawing routine, and the provider base. A host plays the
// service: it asks a provider, makes a bitmap current, then runs the routine.
#ifndef QUARN_PLATFORM_QUICKLOOKTHUMBNAIL_H_
#define QUARN_PLATFORM_QUICKLOOKTHUMBNAIL_H_

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "platform/FileError.h"
#include "platform/Geometry.h"

namespace quarn {

struct QLFileThumbnailRequest {
  std::filesystem::path fileURL;
  CGSize maximumSize;  // the largest thumbnail the service wants
  // The smallest it takes; by default the maximum, so a request that leaves
  // it out gets exactly the maximum size.
  CGSize minimumSize = maximumSize;
};

class QLThumbnailReply {
 public:
  // Draws into the current graphics context; true when a picture was drawn.
  using DrawingBlock = std::function<bool()>;

  // A reply asking for a bitmap of `contextSize` to be made current before
  // `drawingBlock` runs. The reply keeps the routine (and what it owns) alive.
  static std::unique_ptr<QLThumbnailReply> replyWithContextSize(CGSize contextSize,
                                                                DrawingBlock drawingBlock);

  CGSize contextSize() const { return contextSize_; }

  // What the service does once the context is current; false when the
  // routine drew nothing (or there is no routine).
  bool draw() const;

 private:
  QLThumbnailReply(CGSize contextSize, DrawingBlock drawingBlock);

  CGSize contextSize_;
  DrawingBlock drawingBlock_;
};

class QLThumbnailProvider {
 public:
  // Reply and error are each optional; a provider may send neither, meaning
  // "no thumbnail, and nothing to report".
  using CompletionHandler =
      std::function<void(std::unique_ptr<QLThumbnailReply>, std::optional<FileError>)>;

  virtual ~QLThumbnailProvider() = default;
  // Calls `handler` exactly once.
  virtual void provideThumbnail(const QLFileThumbnailRequest& request,
                                const CompletionHandler& handler) = 0;
};

}  // namespace quarn

#endif  // QUARN_PLATFORM_QUICKLOOKTHUMBNAIL_H_
