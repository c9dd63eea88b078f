// What quarn-view does once its arguments are parsed: plays the preview
// service for the files named, in a window or, for a snapshot, just long
// enough to picture the first one.
#ifndef QUARN_VIEWER_VIEWERHOST_H_
#define QUARN_VIEWER_VIEWERHOST_H_

#include <filesystem>
#include <string>
#include <vector>

#include "viewer/Appearance.h"

namespace quarn {

struct ViewerOptions {
  std::vector<std::filesystem::path> files;
  ColorScheme colorScheme = ColorScheme::system;
  std::string snapshot;  // "" for the window; else where the PNG goes
};

// Runs the viewer until its window closes, or until the snapshot is written.
// Returns the exit status: kDone shown (or written), kFailed an unreadable
// file, a page that could not be shown, no display, a failed write or a
// snapshot that is the input file, kRefused a refused file type when nothing
// can be shown. A snapshot run returns kDone only once its PNG is written.
// Messages go to standard error, one line each, naming the file; a window
// shows the message for a single FILE too, until it is closed.
int runViewer(const ViewerOptions& options);

// The --version text: this program and the libraries it runs with.
std::string viewerVersionText();

}  // namespace quarn

#endif  // QUARN_VIEWER_VIEWERHOST_H_
