// quarn-view: the preview window. Shows the preview of each FILE the way the
// preview service would, steps between files, or writes a snapshot.
#include <cstdio>
#include <exception>
#include <iostream>
#include <map>
#include <string>

#include <CLI/CLI.hpp>

#include "base/CommandLine.h"
#include "viewer/ViewerHost.h"

namespace {

constexpr const char* kFooter = R"(Keys:
  Left, Right, Up, Down   previous or next file (of the FILEs, or of the folder)
  Ctrl+R                  render again
  Escape, Space           close

Examples:
  quarn-view "Weekly plan.md"
      shows the note; the arrow keys step through its folder
  quarn-view --snapshot plan.png "Weekly plan.md"
      writes an 800 by 600 picture of the page and exits (needs a display)

Exit status:
  0   the window was closed, or the snapshot was written
  1   the file could not be read, or the snapshot could not be taken or written
  2   not a file type the preview shows (.md .json .yaml .yml .kcv .qcv)
  64  a bad command line
)";

}  // namespace

int main(int argc, char** argv) {
  try {
    quarn::ViewerOptions options;
    CLI::App app{"Shows the preview of notes, JSON, YAML and canvas files in a window."};
    app.footer(kFooter);
    app.set_version_flag("--version", [] { return quarn::viewerVersionText(); });
    const std::map<std::string, quarn::ColorScheme> schemes = {
        {"system", quarn::ColorScheme::system},
        {"light", quarn::ColorScheme::light},
        {"dark", quarn::ColorScheme::dark}};
    app.add_option("--color-scheme", options.colorScheme,
                   "Page appearance: system (follow the desktop), light or dark")
        ->transform(CLI::CheckedTransformer(schemes));
    app.add_option("--snapshot", options.snapshot,
                   "Write a PNG of the first FILE's page once loaded, then exit")
        ->type_name("PNG");
    app.add_option("FILE", options.files, "Files to preview; Left and Right step between them")
        ->required();
    if (auto status = quarn::CommandLine::parse(app, argc, argv, "quarn-view", std::cerr)) {
      return *status;
    }
    return quarn::runViewer(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quarn-view: %s\n", error.what());
    return 1;
  }
}
