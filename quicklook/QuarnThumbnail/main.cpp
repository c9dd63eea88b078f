// quarn-thumbnail: a freedesktop thumbnailer for canvas files. Parses the
// arguments and hands them to the thumbnail host.
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "quicklook/QuarnThumbnail/ThumbnailHost.h"

int main(int argc, char** argv) {
  namespace host = quarn::ThumbnailHost;
  try {
    std::string size;
    std::string input;
    std::string output;
    CLI::App app{
        "Writes the PNG thumbnail of a canvas file (.kcv, .qcv).\n"
        "Exit status: 0 written, 1 no thumbnail, 2 not a canvas file, 64 bad usage."};
    app.set_version_flag("--version", host::versionText(QUARN_VERSION));
    app.add_option("-s,--size", size, "N (a square) or WIDTHxHEIGHT, each side 1 to 4096")
        ->type_name("SIZE")
        ->required();
    app.add_option("INPUT,-i,--input", input, "Canvas file: a path or a file:// URI")
        ->type_name("INPUT")
        ->required();
    app.add_option("OUTPUT,-o,--output", output, "Where to write the PNG")
        ->type_name("OUTPUT")
        ->required();
    try {
      app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
      const int status = app.exit(error);
      return status == 0 ? 0 : host::kUsage;
    }
    const auto pixels = host::parseSize(size);
    if (!pixels) {
      std::fprintf(stderr, "quarn-thumbnail: %s\n", pixels.error().c_str());
      return host::kUsage;
    }
    const auto file = host::inputPath(input);
    if (!file) {
      std::fprintf(stderr, "quarn-thumbnail: %s\n", file.error().c_str());
      return host::kUsage;
    }
    return host::run(*file, output, *pixels, std::cerr);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quarn-thumbnail: %s\n", error.what());
    return 1;
  }
}
