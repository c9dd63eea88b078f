// quarn-preview: plays the preview service for one file. Asks the provider,
// runs the reply's data-creation routine, and writes the page (or an MHTML
// archive of the page and its images) and optionally the attachments.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include <CLI/CLI.hpp>

#include "quicklook/QuarnPreview/HostOutput.h"

int main(int argc, char** argv) {
  try {
    quarn::PreviewHostOptions options;
    CLI::App app{"Writes the preview page of a note, JSON, YAML or canvas file."};
    app.set_version_flag("--version", quarn::previewVersionText());
    app.add_option("-o,--output", options.output,
                   "Where to write the page; - or absent for standard output")
        ->type_name("PATH");
    app.add_option("--attachments", options.attachments, "Also write every attachment as DIR/NAME")
        ->type_name("DIR");
    app.add_option("--format", options.format,
                   "html (the page bytes) or mhtml (page and images in one archive); "
                   "default: from the extension of -o")
        ->check(CLI::IsMember({"html", "mhtml"}));
    app.add_option("FILE", options.file, "The file to preview")->required();
    CLI11_PARSE(app, argc, argv);
    return quarn::runPreviewHost(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quarn-preview: %s\n", error.what());
    return 1;
  }
}
