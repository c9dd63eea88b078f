// quarn-view: the preview window. Shows the preview of each FILE the way the
// preview service would, steps between files, or writes a snapshot.
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "base/CommandLine.h"
#include "base/ExitStatus.h"
#include "base/FileUri.h"
#include "viewer/ViewerHost.h"

namespace {

constexpr const char* kFooter = R"(Keys:
  Left, Right, Up, Down   previous or next file (of the FILEs, or of the folder)
  Ctrl+R                  render again (after a message, load the page again)
  Ctrl+plus, Ctrl+minus   zoom the page in or out (Ctrl+equal also zooms in)
  Ctrl+0                  the page at its own size
  Escape, Space, Ctrl+W, Ctrl+Q
                          close

Examples:
  quarn-view "Weekly plan.md"
      shows the note; the arrow keys step through its folder
  quarn-view --snapshot plan.png "Weekly plan.md"
      writes an 800 by 600 picture of the page and exits (needs a display)

Exit status:
  0   the window was closed, or the snapshot was written
  1   the file could not be read, or the snapshot could not be taken or written
  2   not a file type the preview shows (.md .markdown .mkd .json .yaml .yml
      .kcv .qcv)
  64  a bad command line
)";

}  // namespace

int main(int argc, char** argv) {
  try {
    quarn::ViewerOptions options;
    std::string scheme = "system";
    std::vector<std::string> files;
    CLI::App app{"Shows the preview of notes, JSON, YAML and canvas files in a window."};
    app.footer(kFooter);
    app.set_version_flag("--version", [] { return quarn::viewerVersionText(); });
    app.add_option("--color-scheme", scheme,
                   "Page appearance: system (follow the desktop), light or dark")
        ->type_name("system|light|dark")
        ->check(quarn::CommandLine::oneOf({"system", "light", "dark"}));
    app.add_option("--snapshot", options.snapshot,
                   "Write a PNG of the first FILE's page once loaded, then exit")
        ->type_name("PNG")
        ->check(quarn::CommandLine::nonEmpty());
    app.add_option("FILE", files,
                   "Files to preview, paths or file:// URIs; Left and Right step between them")
        ->required();
    if (auto status = quarn::CommandLine::parse(app, argc, argv, "quarn-view", std::cerr)) {
      return *status;
    }
    options.colorScheme = scheme == "light"  ? quarn::ColorScheme::light
                          : scheme == "dark" ? quarn::ColorScheme::dark
                                             : quarn::ColorScheme::system;
    for (const std::string& file : files) {
      const auto path = quarn::FileUri::inputPath(file);
      if (!path) {
        std::fprintf(stderr, "quarn-view: FILE %s\n", path.error().c_str());
        return quarn::kUsage;
      }
      options.files.push_back(*path);
    }
    return quarn::runViewer(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quarn-view: %s\n", error.what());
    return quarn::kFailed;
  }
}
