// The thumbnail plug-in's principal class: accepts canvas files only, reads
// and decodes them at once, and defers painting to the reply's drawing
// routine. Holds no state; requests may overlap.
#ifndef QUARN_QUICKLOOK_QUARNTHUMBNAIL_THUMBNAILPROVIDER_H_
#define QUARN_QUICKLOOK_QUARNTHUMBNAIL_THUMBNAILPROVIDER_H_

#include "platform/QuickLookThumbnail.h"

namespace quarn {

class ThumbnailProvider : public QLThumbnailProvider {
 public:
  // Calls `handler` exactly once before returning:
  // - extension (lower-cased) not "kcv" or "qcv": no reply, the
  //   unsupported-scheme error (262) with empty user information;
  // - unreadable file, undecodable canvas, or no drawable element: neither
  //   reply nor error;
  // - else a reply whose routine owns the decoded canvas and draws it centred
  //   in the reply's context size: the padded content's shape (its bounds
  //   with the rasterizer's 16-unit margin) fitted into `request.maximumSize`,
  //   touching it on at least one side, in whole units, then each side kept
  //   within `request.minimumSize` and the maximum (the maximum wins). A
  //   request whose minimum equals its maximum gets exactly that size.
  void provideThumbnail(const QLFileThumbnailRequest& request,
                        const CompletionHandler& handler) override;
};

}  // namespace quarn

#endif  // QUARN_QUICKLOOK_QUARNTHUMBNAIL_THUMBNAILPROVIDER_H_
