#include "quicklook/QuarnPreview/HostOutput.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <system_error>

#include <CLI/Version.hpp>
#include <yaml.h>
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <simdjson.h>

#include "platform/FileWrite.h"
#include "quicklook/QuarnPreview/Mhtml.h"
#include "quicklook/QuarnPreview/PreviewProvider.h"
#include "quicklook/Shared/MarkdownRenderer.h"
#include "quicklook/Shared/PreviewDocument.h"

namespace quarn {
namespace {

std::string osReason() { return std::strerror(errno); }

void fail(const std::string& message) {
  std::fprintf(stderr, "quarn-preview: %s\n", message.c_str());
}

// Writes a file whole or not at all (a device or FIFO is written through);
// the error text names the path and the reason.
Expected<void, std::string> writeOutput(const std::filesystem::path& path, std::string_view bytes) {
  if (const std::error_code error = writeFile(path, bytes)) {
    return Unexpected(path.string() + ": " + error.message());
  }
  return {};
}

}  // namespace

int runPreviewHost(const PreviewHostOptions& options) {
  // The provider may print (the YAML layer announces an encoding override on
  // standard output); a service keeps an extension's output away from the
  // data it returns, so the page keeps a descriptor of its own and standard
  // output goes to standard error while the provider runs.
  std::fflush(stdout);
  const int pageFd = ::dup(STDOUT_FILENO);
  if (pageFd < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    fail("cannot set up standard output: " + osReason());
    return 1;
  }

  const std::filesystem::path file = options.file;
  PreviewProvider provider;
  std::unique_ptr<QLPreviewReply> reply;
  std::optional<FileError> refusal;
  provider.providePreview(QLFilePreviewRequest{file},
                          [&](std::unique_ptr<QLPreviewReply> r, std::optional<FileError> e) {
                            reply = std::move(r);
                            refusal = std::move(e);
                          });
  if (!reply) {
    fail(options.file + ": the file type is not supported");
    return 2;
  }
  auto page = reply->createData();
  std::fflush(stdout);
  std::cout.flush();
  if (!page) {
    const FileError& error = page.error();
    fail(options.file + ": " + (error.reason ? error.reason.message() : error.description()));
    return 1;
  }

  const bool toStdout = options.output.empty() || options.output == "-";
  std::string format = options.format;
  if (format.empty()) {
    format =
        !toStdout && PreviewDocument::fileExtension(options.output) == "mhtml" ? "mhtml" : "html";
  }
  std::string bytes;
  if (format == "mhtml") {
    Attachments parts;
    for (const auto& [name, attachment] : reply->attachments) {
      parts.emplace(name, Attachment{attachment.data, attachment.contentType});
    }
    bytes = Mhtml::archive(*page, parts, reply->title);
  } else {
    bytes = std::move(*page);
  }

  if (!options.attachments.empty() && !reply->attachments.empty()) {
    std::error_code ec;
    const std::filesystem::path dir = options.attachments;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
      fail(options.attachments + ": " + ec.message());
      return 1;
    }
    for (const auto& [name, attachment] : reply->attachments) {
      if (auto written = writeOutput(dir / name, attachment.data); !written) {
        fail(written.error());
        return 1;
      }
    }
  }

  if (toStdout) {
    if (const std::error_code error = writeAll(pageFd, bytes)) {
      fail("standard output: " + error.message());
      return 1;
    }
  } else if (auto written = writeOutput(options.output, bytes); !written) {
    fail(written.error());
    return 1;
  }
  ::close(pageFd);
  return 0;
}

std::string previewVersionText() {
  char pcre2[64] = {};
  pcre2_config(PCRE2_CONFIG_VERSION, pcre2);
  std::string text = "quarn-preview " QUARN_VERSION "\n";
  text += "cmark-gfm " + MarkdownRenderer::libraryVersion() + "\n";
  text += std::string("libyaml ") + yaml_get_version_string() + "\n";
  text += std::string("PCRE2 ") + pcre2 + "\n";
  text += "simdjson " + std::to_string(simdjson::SIMDJSON_VERSION_MAJOR) + "." +
          std::to_string(simdjson::SIMDJSON_VERSION_MINOR) + "." +
          std::to_string(simdjson::SIMDJSON_VERSION_REVISION) + "\n";
  text += "CLI11 " CLI11_VERSION;
  return text;
}

}  // namespace quarn
