// The preview plug-in's principal class: accepts or refuses a file by its
// extension at once, and defers reading and rendering to the reply's
// data-creation routine. Holds no state; requests may overlap.
#ifndef QUARN_QUICKLOOK_QUARNPREVIEW_PREVIEWPROVIDER_H_
#define QUARN_QUICKLOOK_QUARNPREVIEW_PREVIEWPROVIDER_H_

#include "platform/QuickLookPreview.h"

namespace quarn {

class PreviewProvider : public QLPreviewProvider {
 public:
  // Calls `handler` exactly once before returning: with the unsupported-scheme
  // error for a refused extension, else with an HTML reply of 800 by 600 whose
  // routine renders the file, sets encoding, title and attachments, and
  // returns the page as UTF-8 bytes. Reads nothing itself.
  void providePreview(const QLFilePreviewRequest& request,
                      const CompletionHandler& handler) override;

  // The reply providePreview gives an accepted file, without the extension
  // test: for a host that previews more names than the plug-in accepts.
  static std::unique_ptr<QLPreviewReply> replyFor(const std::filesystem::path& file);
};

}  // namespace quarn

#endif  // QUARN_QUICKLOOK_QUARNPREVIEW_PREVIEWPROVIDER_H_
