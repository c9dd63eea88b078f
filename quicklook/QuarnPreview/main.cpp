// quarn-preview: plays the preview service for one file. Parses the
// arguments and hands them to the preview host.
#include <malloc.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "base/CommandLine.h"
#include "base/ExitStatus.h"
#include "base/FileUri.h"
#include "platform/Sandbox.h"
#include "quicklook/QuarnPreview/PreviewHost.h"

namespace {

constexpr const char* kFooter = R"(Examples:
  quarn-preview -o "Weekly plan.mhtml" "Weekly plan.md"
      writes the note and its images as one archive; open it in Chromium
  quarn-preview --format standalone -o plan.html "Weekly plan.md"
      writes one HTML file with the images inlined, for any browser
  quarn-preview settings.yaml | less
      prints the page as the preview service receives it

Exit status:
  0   the output was written
  1   the file could not be read, or the output could not be written
  2   not a file type the preview shows (.md .markdown .mkd .json .yaml .yml
      .kcv .qcv)
  64  a bad command line
)";

}  // namespace

int main(int argc, char** argv) {
  namespace host = quarn::PreviewHost;
#if defined(M_MXFAST) && defined(M_TOP_PAD)
  // One file per process, so the allocator can be tuned for it. A large JSON
  // or YAML file's tree is a node per value, each its own allocation, all
  // freed together at the end: glibc's fast bins would hold every freed node
  // uncoalesced and sort them all back in when the first large block is
  // freed, and freeing straight into the heap is cheaper (5 to 12% of a 20 MB
  // JSON file's time; a note's tree lives in the renderer's arena); top
  // padding saves growing the heap in small steps. The renderers themselves
  // leave the allocator alone: a long-running host such as the window keeps
  // its defaults.
  mallopt(M_MXFAST, 0);
  mallopt(M_TOP_PAD, 16 << 20);
#endif
  try {
    host::Options options;
    std::string file;
    std::string attachments;
    CLI::App app{"Writes the preview page of a note (.md), a JSON or YAML file, or a canvas."};
    app.footer(kFooter);
    app.set_version_flag("--version", host::versionText());
    app.add_option("-o,--output", options.output,
                   "Where to write the page; - or absent for standard output")
        ->type_name("PATH")
        ->check(quarn::CommandLine::nonEmpty());
    app.add_option("--attachments", attachments, "Also write every attachment as DIR/NAME")
        ->type_name("DIR")
        ->check(quarn::CommandLine::nonEmpty());
    app.add_option("--format", options.format,
                   "html (the page, its images as cid: references), mhtml (page and images "
                   "in one archive) or standalone (the page with its images inlined); "
                   "default: mhtml when -o ends in .mhtml or .mht, else html")
        ->type_name("FORMAT")
        ->check(quarn::CommandLine::oneOf({"html", "mhtml", "standalone"}));
    app.add_option("FILE", file, "The file to preview: a path or a file:// URI")->required();
    if (const auto status =
            quarn::CommandLine::parse(app, argc, argv, "quarn-preview", std::cerr)) {
      return *status;
    }
    const auto path = quarn::FileUri::inputPath(file);
    if (!path) {
      std::fprintf(stderr, "quarn-preview: FILE %s\n", path.error().c_str());
      return quarn::kUsage;
    }
    options.file = *path;
    options.attachments = attachments;
    // Before the file is read: from here on the process writes only its outputs.
    quarn::Sandbox::Writable writable;
    if (!options.output.empty() && options.output != "-")
      writable.files.emplace_back(options.output);
    if (!attachments.empty()) writable.folders.emplace_back(attachments);
    quarn::Sandbox::contain(writable,
                            "quarn-preview: " + options.file.string() + ": too large to preview");
    return host::run(options, std::cerr);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "quarn-preview: %s\n", error.what());
    return quarn::kFailed;
  }
}
