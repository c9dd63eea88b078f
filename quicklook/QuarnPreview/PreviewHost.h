// The quarn-preview host: plays the preview service for one file through
// PreviewService and writes what the service would receive: the page, an
// MHTML archive of the page and its images, or the page with its images
// inlined. The page and the attachments are written all or nothing
// (OutputFiles): a failed run leaves no file of its own behind; a device,
// FIFO or descriptor is written through, and a symbolic link has its target
// replaced.
#ifndef QUARN_QUICKLOOK_QUARNPREVIEW_PREVIEWHOST_H_
#define QUARN_QUICKLOOK_QUARNPREVIEW_PREVIEWHOST_H_

#include <filesystem>
#include <ostream>
#include <string>

#include "base/ExitStatus.h"

namespace quarn::PreviewHost {

struct Options {
  std::filesystem::path file;
  std::string output;                 // "" or "-": standard output
  std::filesystem::path attachments;  // also write each attachment here; "" for none
  // "html" (the page as the service receives it), "mhtml" (one archive of
  // page and images) or "standalone" (the page with its images inlined as
  // data: URIs); "" chooses mhtml for an output ending in .mhtml or .mht
  // (any letter case), else html.
  std::string format;
};

// Runs one preview and returns the exit status: kDone, kFailed (unreadable,
// an output not written, or an output that is the input file) or kRefused.
// On every status but kDone one line naming the file and the cause goes to
// `errors`, and nothing is written (files already there are kept). Standard
// output carries only the page: what the provider prints goes to standard
// error meanwhile.
ExitStatus run(const Options& options, std::ostream& errors);

// The --version text: this program and the libraries it runs with.
std::string versionText();

}  // namespace quarn::PreviewHost

#endif  // QUARN_QUICKLOOK_QUARNPREVIEW_PREVIEWHOST_H_
