#include "quicklook/QuarnPreview/PreviewHost.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <system_error>

#include <CLI/Version.hpp>
#include <yaml.h>
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <simdjson.h>

#include "base/Text.h"
#include "platform/FileWrite.h"
#include "quicklook/QuarnPreview/Mhtml.h"
#include "quicklook/QuarnPreview/PreviewProvider.h"
#include "quicklook/QuarnPreview/StandalonePage.h"
#include "quicklook/Shared/MarkdownRenderer.h"
#include "quicklook/Shared/PreviewDocument.h"

namespace quarn::PreviewHost {
namespace {

// The provider may print (the YAML layer announces an encoding override on
// standard output); a service keeps an extension's output away from the data
// it returns. So the page keeps the real standard output as a descriptor of
// its own, and standard output goes to standard error while the provider
// runs; it is given back when the run ends.
class PageOutput {
 public:
  PageOutput() {
    std::fflush(stdout);
    fd_ = ::dup(STDOUT_FILENO);
    if (fd_ >= 0 && ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~PageOutput() {
    if (fd_ < 0) return;
    std::fflush(stdout);
    std::cout.flush();
    ::dup2(fd_, STDOUT_FILENO);
    ::close(fd_);
  }
  PageOutput(const PageOutput&) = delete;
  PageOutput& operator=(const PageOutput&) = delete;

  // -1 when standard output could not be set aside.
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

std::string chosenFormat(const Options& options, bool toStdout) {
  if (!options.format.empty()) return options.format;
  if (toStdout) return "html";
  const std::string extension = text::fileExtension(options.output);
  return extension == "mhtml" || extension == "mht" ? "mhtml" : "html";
}

}  // namespace

ExitStatus run(const Options& options, std::ostream& errors) {
  const auto fail = [&](const std::string& message, ExitStatus status) {
    errors << "quarn-preview: " << message << "\n";
    return status;
  };
  const PageOutput pageOutput;
  if (pageOutput.fd() < 0) {
    return fail(std::string("cannot set up standard output: ") + std::strerror(errno), kFailed);
  }

  const std::string name = options.file.string();
  PreviewProvider provider;
  std::unique_ptr<QLPreviewReply> reply;
  provider.providePreview(
      QLFilePreviewRequest{options.file},
      [&](std::unique_ptr<QLPreviewReply> r, std::optional<FileError>) { reply = std::move(r); });
  if (!reply) return fail(name + ": the file type is not supported", kRefused);
  auto page = reply->createData();
  std::fflush(stdout);
  std::cout.flush();
  if (!page) {
    const FileError& error = page.error();
    return fail(name + ": " + (error.reason ? error.reason.message() : error.description()),
                kFailed);
  }

  const bool toStdout = options.output.empty() || options.output == "-";
  const std::string format = chosenFormat(options, toStdout);
  std::string bytes;
  if (format == "mhtml") {
    bytes = Mhtml::archive(*page, reply->attachments, reply->title);
  } else if (format == "standalone") {
    bytes = StandalonePage::page(*page, reply->attachments);
  } else {
    bytes = std::move(*page);
  }

  if (!options.attachments.empty() && !reply->attachments.empty()) {
    std::error_code error;
    std::filesystem::create_directories(options.attachments, error);
    if (error) return fail(options.attachments.string() + ": " + error.message(), kFailed);
    for (const auto& [attachmentName, attachment] : reply->attachments) {
      const std::filesystem::path path = options.attachments / attachmentName;
      if (const std::error_code failure = writeFile(path, attachment.data)) {
        return fail(path.string() + ": " + failure.message(), kFailed);
      }
    }
  }

  const std::error_code failure =
      toStdout ? writeAll(pageOutput.fd(), bytes) : writeFile(options.output, bytes);
  if (failure) {
    return fail(
        (toStdout ? std::string("standard output") : options.output) + ": " + failure.message(),
        kFailed);
  }
  // Not a failure: the page is whole but for pictures past the memory bounds.
  if (const std::string leftOut = PreviewDocument::imagesLeftOutMessage(reply->imagesLeftOut);
      !leftOut.empty()) {
    errors << "quarn-preview: " << name << ": " << leftOut << "\n";
  }
  return kWritten;
}

std::string versionText() {
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

}  // namespace quarn::PreviewHost
