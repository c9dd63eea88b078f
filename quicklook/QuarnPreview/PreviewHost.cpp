#include "quicklook/QuarnPreview/PreviewHost.h"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <system_error>

#include <CLI/Version.hpp>
#include <yaml.h>
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <simdjson.h>

#include "base/Text.h"
#include "base/VersionText.h"
#include "platform/FileWrite.h"
#include "quicklook/QuarnPreview/Mhtml.h"
#include "quicklook/QuarnPreview/PreviewService.h"
#include "quicklook/QuarnPreview/StandalonePage.h"
#include "quicklook/Shared/MarkdownRenderer.h"
#include "quicklook/Shared/PreviewDocument.h"

namespace quarn::PreviewHost {
namespace {

// The provider may print (the YAML layer announces an encoding override on
// standard output); a service keeps an extension's output away from the data
// it returns. So the C library's standard output stream points at standard
// error while the provider runs. No descriptor moves: "-o /dev/stdout" and
// the page without -o reach the same standard output, and standard error is
// left as the caller set it up.
class ProviderOutputAside {
 public:
  ProviderOutputAside() : saved_(stdout) {
    std::fflush(stdout);
    stdout = stderr;  // glibc's standard streams are plain variables
  }
  ~ProviderOutputAside() {
    std::fflush(stdout);
    stdout = saved_;
  }
  ProviderOutputAside(const ProviderOutputAside&) = delete;
  ProviderOutputAside& operator=(const ProviderOutputAside&) = delete;

 private:
  FILE* saved_;
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
  std::unique_ptr<QLPreviewReply> reply = requestPreview(options.file);
  if (!reply) return fail(refusedMessage(options.file), kRefused);
  auto shown = [&] {
    const ProviderOutputAside aside;
    return createPreview(*reply);
  }();
  if (!shown) return fail(unreadableMessage(options.file, shown.error()), kFailed);

  const bool toStdout = options.output.empty() || options.output == "-";
  const std::string format = chosenFormat(options, toStdout);
  std::string bytes;
  if (format == "mhtml") {
    bytes = Mhtml::archive(shown->page, shown->attachments, shown->title);
  } else if (format == "standalone") {
    bytes = StandalonePage::page(shown->page, shown->attachments);
  } else {
    bytes = std::move(shown->page);
  }

  // The page first: a page that cannot be written stops the run before any
  // folder is made for the attachments.
  OutputFiles outputs(options.file);
  std::error_code failure = toStdout ? outputs.stage(STDOUT_FILENO, std::move(bytes))
                                     : outputs.stage(options.output, std::move(bytes));
  if (failure) {
    return fail(writeFailure(toStdout ? "standard output" : options.output, failure), kFailed);
  }
  if (!options.attachments.empty() && !shown->attachments.empty()) {
    if ((failure = outputs.createFolders(options.attachments))) {
      return fail(writeFailure(options.attachments.string(), failure), kFailed);
    }
    for (auto& [attachmentName, attachment] : shown->attachments) {
      const std::filesystem::path path = options.attachments / attachmentName;
      if ((failure = outputs.stage(path, std::string(std::string_view(attachment.data))))) {
        return fail(writeFailure(path.string(), failure), kFailed);
      }
    }
  }
  std::string failedPath;
  if ((failure = outputs.commit(&failedPath))) {
    return fail(writeFailure(failedPath.empty() ? "standard output" : failedPath, failure),
                kFailed);
  }
  // Not a failure: the page is whole but for pictures past the memory bounds.
  if (const std::string leftOut = PreviewDocument::imagesLeftOutMessage(reply->imagesLeftOut);
      !leftOut.empty()) {
    errors << "quarn-preview: " << options.file.string() << ": " << leftOut << "\n";
  }
  return kDone;
}

std::string versionText() {
  char pcre2[64] = {};
  pcre2_config(PCRE2_CONFIG_VERSION, pcre2);
  return quarn::versionText(
      "quarn-preview", QUARN_VERSION,
      {{"cmark-gfm", MarkdownRenderer::libraryVersion()},
       {"libyaml", yaml_get_version_string()},
       {"PCRE2", pcre2},
       {"simdjson", std::to_string(simdjson::SIMDJSON_VERSION_MAJOR) + "." +
                        std::to_string(simdjson::SIMDJSON_VERSION_MINOR) + "." +
                        std::to_string(simdjson::SIMDJSON_VERSION_REVISION)},
       {"CLI11", CLI11_VERSION}});
}

}  // namespace quarn::PreviewHost
