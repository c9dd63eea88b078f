// The quarn-preview host: plays the preview service for one file. Asks
// PreviewProvider, runs the reply's data-creation routine and writes what the
// service would receive: the page, an MHTML archive of the page and its
// images, or the page with its images inlined. Files are written under a
// temporary name and renamed into place, so a failed run never leaves a
// partial file; a device or FIFO is written through, and a symbolic link has
// its target replaced.
#ifndef QUARN_QUICKLOOK_QUARNPREVIEW_PREVIEWHOST_H_
#define QUARN_QUICKLOOK_QUARNPREVIEW_PREVIEWHOST_H_

#include <filesystem>
#include <ostream>
#include <string>

namespace quarn::PreviewHost {

// Exit statuses of quarn-preview.
enum ExitStatus {
  kWritten = 0,  // the output was written
  kFailed = 1,   // the file could not be read, or an output not written
  kRefused = 2,  // not a file type the preview shows, by its extension
  kUsage = 64,   // a bad command line (EX_USAGE)
};

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

// Runs one preview and returns the exit status. On every status but kWritten
// one line naming the file and the cause goes to `errors`, and the output is
// not written (a file already there is kept). Standard output carries only
// the page: what the provider prints goes to standard error meanwhile.
ExitStatus run(const Options& options, std::ostream& errors);

// The --version text: this program and the libraries it runs with.
std::string versionText();

}  // namespace quarn::PreviewHost

#endif  // QUARN_QUICKLOOK_QUARNPREVIEW_PREVIEWHOST_H_
