// quarn-thumbnail: a freedesktop thumbnailer for canvas files. Parses the
// arguments and hands them to the thumbnail host.
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "base/CommandLine.h"
#include "base/ExitStatus.h"
#include "base/FileUri.h"
#include "platform/Sandbox.h"
#include "quicklook/QuarnThumbnail/ThumbnailHost.h"

namespace {

constexpr const char* kFooter = R"(Examples:
  quarn-thumbnail -s 256 Board.kcv board.png
      a PNG whose larger side is 256 pixels, shaped like the canvas
  quarn-thumbnail -s 640x480 file:///home/me/Board.kcv board.png
      exactly 640 by 480, the canvas centred on white

Exit status:
  0   the PNG was written
  1   no thumbnail: the file is unreadable, not a canvas or has nothing to
      draw, or the PNG could not be written
  2   not a canvas file by its extension (.kcv .qcv)
  64  a bad command line
)";

}  // namespace

int main(int argc, char** argv) {
  namespace host = quarn::ThumbnailHost;
  try {
    std::string size;
    std::string input;
    std::string output;
    CLI::App app{"Writes the PNG thumbnail of a canvas file (.kcv, .qcv)."};
    app.footer(kFooter);
    app.set_version_flag("--version", host::versionText(QUARN_VERSION));
    app.add_option("-s,--size", size,
                   "N (the larger side; the other follows the canvas) or WIDTHxHEIGHT "
                   "(exactly), each side 1 to 4096")
        ->type_name("SIZE")
        ->required();
    app.add_option("INPUT,-i,--input", input, "Canvas file: a path or a file:// URI")
        ->type_name("")
        ->required();
    app.add_option("OUTPUT,-o,--output", output, "Where to write the PNG")
        ->type_name("")
        ->required()
        ->check(quarn::CommandLine::nonEmpty());
    if (const auto status =
            quarn::CommandLine::parse(app, argc, argv, "quarn-thumbnail", std::cerr)) {
      return *status;
    }
    const auto pixels = host::parseSize(size);
    if (!pixels) {
      std::fprintf(stderr, "quarn-thumbnail: %s\n", pixels.error().c_str());
      return quarn::kUsage;
    }
    const auto file = quarn::FileUri::inputPath(input);
    if (!file) {
      std::fprintf(stderr, "quarn-thumbnail: INPUT %s\n", file.error().c_str());
      return quarn::kUsage;
    }
    // Before the canvas is read: from here on the process writes only the PNG.
    quarn::Sandbox::contain({{output}, {}},
                            "quarn-thumbnail: " + file->string() + ": too large to preview");
    return host::run(*file, output, *pixels, std::cerr);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quarn-thumbnail: %s\n", error.what());
    return quarn::kFailed;
  }
}
