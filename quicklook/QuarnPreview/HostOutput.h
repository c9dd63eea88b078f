// What the quarn-preview host does once its arguments are parsed: play the
// preview service for one file and write what the service would receive.
// Files are written under a temporary name and renamed into place, so a failed
// run never leaves a partial file; a device or FIFO is written through, and a
// symbolic link has its target replaced.
#ifndef QUARN_QUICKLOOK_QUARNPREVIEW_HOSTOUTPUT_H_
#define QUARN_QUICKLOOK_QUARNPREVIEW_HOSTOUTPUT_H_

#include <filesystem>
#include <string>
#include <string_view>

#include "base/Expected.h"

namespace quarn {

struct PreviewHostOptions {
  std::string file;
  std::string output;       // "" or "-": standard output
  std::string attachments;  // "" for none
  std::string format;       // "", "html" or "mhtml"
};

// Runs one preview. Returns the exit status: 0 written, 1 unreadable file or
// failed write, 2 refused file type. Messages go to standard error.
int runPreviewHost(const PreviewHostOptions& options);

// The --version text: this program and the libraries it runs with.
std::string previewVersionText();

}  // namespace quarn

#endif  // QUARN_QUICKLOOK_QUARNPREVIEW_HOSTOUTPUT_H_
