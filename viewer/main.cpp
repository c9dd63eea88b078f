// quarn-view: the preview window. Shows the preview of each FILE the way the
// preview service would, steps between files, or writes a snapshot.
#include <cstdio>
#include <exception>
#include <map>
#include <string>

#include <CLI/CLI.hpp>

#include "viewer/ViewerHost.h"

int main(int argc, char** argv) {
  try {
    quarn::ViewerOptions options;
    CLI::App app{"Shows the preview of notes, JSON, YAML and canvas files in a window."};
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
    CLI11_PARSE(app, argc, argv);
    return quarn::runViewer(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quarn-view: %s\n", error.what());
    return 1;
  }
}
